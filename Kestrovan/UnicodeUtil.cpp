#include "Kestrovan/UnicodeUtil.h"

#include "Kestrovan/Utf8.h"

namespace kestrovan {

bool UnicodeUtil::prefersTextPresentation(std::string_view text)
{
    // One scalar is one to four bytes; anything longer cannot qualify and need not be decoded.
    if (text.empty() || text.size() > 4)
        return false;
    const std::u32string scalars = decodeUtf8(text);
    if (scalars.size() != 1)
        return false;
    const char32_t scalar = scalars.front();
    // Below U+0100 sit the digits, '#' and '*', which have the Emoji property but are text.
    return scalar >= 0x100 && unicode::isEmoji(scalar) && !unicode::isEmojiPresentation(scalar);
}

std::string UnicodeUtil::textPresentationAdjusted(std::string text)
{
    if (prefersTextPresentation(text))
        appendUtf8(text, 0xFE0E);
    return text;
}

} // namespace kestrovan
