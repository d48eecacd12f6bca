// Placeholder until the generator's output lands; the declarations are the ones it will produce.
#pragma once

#include <cstdint>
#include <span>

namespace kestrovan::unicode {

/// An inclusive range of scalars.
struct Range {
    uint32_t lo;
    uint32_t hi;
};

/// Print width code: 0 not printed, 1 zero width, 2 one column, 3 two columns.
uint8_t widthCode(char32_t scalar);
/// Grapheme property byte: bits 0-2 Hangul/Control class, bit 3 Prepend, bits 4-5 Extend (1) or
/// SpacingMark (2), bits 6-7 Indic conjunct class (1 Consonant, 2 Linker, 3 Extend).
uint8_t graphemeProperties(char32_t scalar);
bool isEmoji(char32_t scalar);
bool isEmojiPresentation(char32_t scalar);
bool isExtendedPictographic(char32_t scalar);

extern const std::span<const Range> emojiModifierBaseRanges;
extern const std::span<const Range> emojiVariationRanges;
extern const std::span<const Range> spacingMarkRanges;
extern const std::span<const Range> viramaRanges;

} // namespace kestrovan::unicode
