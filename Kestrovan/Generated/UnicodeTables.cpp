// Placeholder until the generator's output lands.
#include "Kestrovan/Generated/UnicodeTables.h"

namespace kestrovan::unicode {

namespace {
const Range emptyRanges[1] = {{0xFFFFFFFF, 0xFFFFFFFF}};
}

uint8_t widthCode(char32_t scalar)
{
    return scalar < 0x20 || (scalar >= 0x7F && scalar < 0xA0) ? 0 : 2;
}
uint8_t graphemeProperties(char32_t) { return 0; }
bool isEmoji(char32_t) { return false; }
bool isEmojiPresentation(char32_t) { return false; }
bool isExtendedPictographic(char32_t) { return false; }

const std::span<const Range> emojiModifierBaseRanges(emptyRanges);
const std::span<const Range> emojiVariationRanges(emptyRanges);
const std::span<const Range> spacingMarkRanges(emptyRanges);
const std::span<const Range> viramaRanges(emptyRanges);

} // namespace kestrovan::unicode
