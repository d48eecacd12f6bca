// The print path: runs of printable bytes from the parser become cells of the active buffer.
//
// What is here is the minimal road the rest of the terminal is tested on: printable ASCII goes
// through the buffer's run fast path, and every other scalar (after the invoked character set is
// applied) becomes one single-width cell through `insertCharacter`. Grapheme joining, widths,
// UTF-8 carried between feeds and hyperlink payloads are filled in with the print family.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"

namespace kestrovan {

void Terminal::handlePrintBorrowed(std::span<const uint8_t> bytes, Buffer& buffer)
{
    updateRange(buffer.y());
    size_t index = 0;
    while (index < bytes.size()) {
        // Printable ASCII with no character set invoked: one run through the fast path.
        size_t end = index;
        while (!charset && end < bytes.size() && bytes[end] >= 0x20 && bytes[end] < 0x7F)
            ++end;
        if (end > index) {
            const size_t written = buffer.insertAsciiRun(bytes.subspan(index, end - index), curStyleID, 0);
            index += written;
            if (written > 0)
                continue;
        }
        // Everything else, one scalar at a time.
        end = index + 1;
        while (end < bytes.size() && (bytes[end] & 0xC0) == 0x80)
            ++end;
        const std::string_view piece(reinterpret_cast<const char*>(bytes.data() + index), end - index);
        for (char32_t scalar : decodeUtf8(piece)) {
            if (charset && scalar < 0x7F) {
                if (const char32_t replacement = charset->lookup(scalar))
                    scalar = replacement;
            }
            if (scalar < 0x20 || (scalar >= 0x7F && scalar < 0xA0))
                continue;
            const std::optional<PackedCell> cell = cellArena->pack(
                curStyleID, std::u32string_view(&scalar, 1), PackedCell::WidthState::single, 0, 0, false);
            if (cell)
                buffer.insertCharacter(*cell);
        }
        index = end;
    }
    updateRange(buffer.y());
}

// Filled in with the print family.
void Terminal::handlePrintSlow(std::span<const uint8_t>, std::optional<char32_t>) {}

// Filled in with the print family.
std::optional<Position> Terminal::combiningTarget(Buffer&)
{
    return std::nullopt;
}

// Filled in with the print family.
std::optional<std::u32string> Terminal::combinedGraphemeScalars(PackedCell, char32_t)
{
    return std::nullopt;
}

CharData Terminal::makeCharData(const Attribute& attribute, int32_t code, int size)
{
    return CharData(attribute, code, static_cast<int8_t>(size));
}

CharData Terminal::makeCharData(const Attribute& attribute, const Character& character, int size)
{
    CharData data(attribute, 0, static_cast<int8_t>(size));
    data.setCharacter(character, size);
    return data;
}

CharData Terminal::makeCharData(const Attribute& attribute, char32_t scalar, int size)
{
    return CharData(attribute, static_cast<int32_t>(scalar), static_cast<int8_t>(size));
}

void Terminal::updateCharData(CharData& data, int32_t code, int size)
{
    data.setValue(code, size);
}

void Terminal::updateCharData(CharData& data, const Character& character, int size)
{
    data.setCharacter(character, size);
}

} // namespace kestrovan
