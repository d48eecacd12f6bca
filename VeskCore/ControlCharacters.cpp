// The control and newline sets, and their escaping for display.
#include "VeskCore/ControlCharacters.h"

#include "Kestrovan/Generated/BidiTables.h"
#include "Kestrovan/Utf8.h"

#include <cstdio>

namespace vesk {

bool isControlCharacter(char32_t scalar)
{
    // Cc is exactly C0, DEL and C1; Cf comes from the generated Unicode tables.
    if (scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F))
        return true;
    return (kestrovan::unicode::bidiProperties(scalar) & kestrovan::unicode::bidiProperty::format) != 0;
}

bool isNewlineCharacter(char32_t scalar)
{
    return (scalar >= 0x0A && scalar <= 0x0D) || scalar == 0x85 || scalar == 0x2028 || scalar == 0x2029;
}

std::string escapedForDisplay(std::string_view text, LineFeeds lineFeeds)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t scalar : kestrovan::decodeUtf8(text)) {
        const bool keep = lineFeeds == LineFeeds::keep && scalar == U'\n';
        if (keep || !isTerminalControl(scalar)) {
            kestrovan::appendUtf8(out, scalar);
            continue;
        }
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, "\\u{%X}", static_cast<unsigned>(scalar));
        out += escaped;
    }
    return out;
}

} // namespace vesk
