// What the print path knows about the bytes and scalars it prints: UTF-8 decoding with its error
// rules, the scan for printable ASCII, and the classification of scalars into those that start a
// cell, those that join the cell before them, and the plain marks among the latter. Kept apart
// from the print path itself, which only uses these answers.
#pragma once

#include "Kestrovan/Generated/UnicodeTables.h"
#include "Kestrovan/UnicodeUtil.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>

namespace kestrovan::printing {

namespace bits = unicode::grapheme;

constexpr char32_t zeroWidthJoiner = 0x200D;
constexpr char32_t textPresentationSelector = 0xFE0E;
constexpr char32_t emojiPresentationSelector = 0xFE0F;

constexpr bool isRegionalIndicator(char32_t scalar)
{
    return scalar >= 0x1F1E6 && scalar <= 0x1F1FF;
}

constexpr bool isEmojiModifier(char32_t scalar)
{
    return scalar >= 0x1F3FB && scalar <= 0x1F3FF;
}

inline bool inRanges(char32_t scalar, std::span<const UnicodeUtil::LH> table)
{
    return UnicodeUtil::bisearch(scalar, table, static_cast<int>(table.size()) - 1);
}

// Scalars with a width that still join the cell before them, so they never ride in a batch:
// variation selectors (also the Mongolian ones and the supplement), the zero-width joiner,
// regional indicators (the second of a pair makes a flag) and skin-tone modifiers.
constexpr bool joinsDespiteWidth(char32_t scalar)
{
    // Ideographs, kana, Hangul and most letters lie between the joiner and the variation
    // selectors, where none of these is: one test answers for them.
    if (scalar > zeroWidthJoiner && scalar < 0xFE00)
        return false;
    return (scalar >= 0xFE00 && scalar <= 0xFE0F) || scalar == zeroWidthJoiner ||
           isRegionalIndicator(scalar) || (scalar >= 0x180B && scalar <= 0x180D) || scalar == 0x180F ||
           (scalar >= 0xE0100 && scalar <= 0xE01EF) || isEmojiModifier(scalar);
}

// A combining mark that joins whatever cell stands before it and leaves that cell's width alone:
// no width of its own, Extend and nothing else, not one of the joiners and selectors above, and
// not a spacing sign that makes its consonant wide. A run of them is gathered into the cell at
// once. Spacing signs only begin at U+0903, so the marks of the Latin, Greek and Cyrillic
// blocks skip that range search.
bool isPlainMarkUncached(char32_t scalar);

// A spacing vowel sign, which makes the consonant it joins two columns wide; a virama and a
// conjunct linker, also spacing in some scripts, do not.
bool isSpacingSign(char32_t scalar);

// U+0080-U+0FFF (Latin, Greek, Cyrillic, Hebrew, Arabic, the Indic scripts, Thai and the common
// combining marks) classified once for the print path: the width code, and whether the scalar
// has grapheme properties, joins despite its width, is a plain mark or a spacing sign. One read of this 4 KiB
// table replaces lookups in three others and the range searches for marks.
constexpr char32_t classifiedEnd = 0x1000;
constexpr uint8_t classWidthMask = 0x03;
constexpr uint8_t classHasProperties = 0x04;
constexpr uint8_t classJoins = 0x08;
constexpr uint8_t classPlainMark = 0x10;
constexpr uint8_t classSpacingSign = 0x20;
using LowScalarClasses = std::array<uint8_t, classifiedEnd - 0x80>;
LowScalarClasses makeLowScalarClasses();
/// The classes of U+0080 ..< `classifiedEnd`, indexed by the scalar minus 0x80. Made on first use
/// rather than as a global, so that no print during another file's static initialisation can read
/// it before it is filled.
inline const LowScalarClasses& lowScalarClasses()
{
    static const LowScalarClasses classes = makeLowScalarClasses();
    return classes;
}

[[gnu::always_inline]] inline bool isPlainMark(char32_t scalar)
{
    if (scalar - 0x80 < classifiedEnd - 0x80)
        return (lowScalarClasses()[scalar - 0x80] & classPlainMark) != 0;
    return isPlainMarkUncached(scalar);
}

// --- Joining -------------------------------------------------------------------------------------

// Whether two Hangul syllable classes in a row stay one syllable.
inline bool hangulPairJoins(uint8_t previousClass, uint8_t currentClass)
{
    switch (previousClass) {
    case bits::hangulL:
        return currentClass == bits::hangulL || currentClass == bits::hangulV ||
               currentClass == bits::hangulLV || currentClass == bits::hangulLVT;
    case bits::hangulV:
    case bits::hangulLV:
        return currentClass == bits::hangulV || currentClass == bits::hangulT;
    case bits::hangulT:
    case bits::hangulLVT:
        return currentClass == bits::hangulT;
    default:
        return false;
    }
}

// Whether `scalar` (property byte `current`, display width `width`) joins the cell whose last
// scalar is `previous` (property byte `before`). A pairwise test: rules that look further back
// (emoji ZWJ sequences, flags, Indic conjuncts) answer "append only when the result is still one
// cluster", and the caller checks the whole cluster with `staysOneCell`.
inline UnicodeUtil::GraphemeJoin graphemeJoin(char32_t previous, uint8_t before, char32_t scalar,
                                              uint8_t current, int width)
{
    // Skin-tone modifiers join only the characters they can modify.
    if (isEmojiModifier(scalar))
        return UnicodeUtil::isEmojiModifierBase(previous) ? UnicodeUtil::GraphemeJoin::append
                                                          : UnicodeUtil::GraphemeJoin::newCell;
    // The common case, two plain characters, answers at once.
    if (current == 0 && before == 0 && width > 0)
        return isRegionalIndicator(scalar) && isRegionalIndicator(previous)
                   ? UnicodeUtil::GraphemeJoin::appendIfOneCluster
                   : UnicodeUtil::GraphemeJoin::newCell;
    if ((before & bits::classMask) == bits::control || (current & bits::classMask) == bits::control)
        return UnicodeUtil::GraphemeJoin::newCell;
    if ((current & bits::markMask) != 0 || (before & bits::prepend) != 0)
        return UnicodeUtil::GraphemeJoin::append;
    if (const uint8_t currentClass = current & bits::classMask; currentClass != 0)
        return hangulPairJoins(before & bits::classMask, currentClass) ? UnicodeUtil::GraphemeJoin::append
                                                                       : UnicodeUtil::GraphemeJoin::newCell;
    if (previous == zeroWidthJoiner)
        return UnicodeUtil::GraphemeJoin::appendIfOneCluster;
    if (isRegionalIndicator(scalar))
        return isRegionalIndicator(previous) ? UnicodeUtil::GraphemeJoin::appendIfOneCluster
                                             : UnicodeUtil::GraphemeJoin::newCell;
    if ((current & bits::conjunctMask) == bits::conjunctConsonant) {
        const uint8_t beforeConjunct = before & bits::conjunctMask;
        return beforeConjunct == bits::conjunctLinker || beforeConjunct == bits::conjunctExtend
                   ? UnicodeUtil::GraphemeJoin::appendIfOneCluster
                   : UnicodeUtil::GraphemeJoin::newCell;
    }
    return width == 0 ? UnicodeUtil::GraphemeJoin::appendIfOneCluster : UnicodeUtil::GraphemeJoin::newCell;
}
/// `graphemeJoin` for printable ASCII (no properties, one column) after `previous` (property
/// byte `before`): it joins only after a Prepend character or a joiner, and never after a control.
inline bool asciiJoins(char32_t previous, uint8_t before)
{
    return (before & bits::classMask) != bits::control &&
           ((before & bits::prepend) != 0 || previous == zeroWidthJoiner);
}
/// The same against an optional previous scalar: nothing before joins nothing.
inline UnicodeUtil::GraphemeJoin graphemeJoin(std::optional<char32_t> previous, char32_t scalar,
                                              uint8_t current, int width)
{
    if (!previous)
        return UnicodeUtil::GraphemeJoin::newCell;
    return graphemeJoin(*previous, unicode::graphemeProperties(*previous), scalar, current, width);
}

// Whether a cell's scalars followed by one more (the last of `joined`) still make one cell.
bool staysOneCell(std::u32string_view joined);

// --- UTF-8 ---------------------------------------------------------------------------------------

struct Decoded
{
    enum class Kind : uint8_t
    {
        /// A valid scalar.
        scalar,
        /// Bytes that form no scalar; `value` is their first byte, printed as U+0080-U+00FF.
        strayByte,
        /// A sequence whose bytes so far are all valid but that runs past the end.
        incomplete,
    };
    Kind kind = Kind::scalar;
    char32_t value = 0;
    /// Bytes consumed.
    uint32_t length = 1;
};

// Decodes the sequence at `bytes` (at least one byte available), any sequence, with the error
// rules above.
Decoded decodeSequenceAt(const uint8_t* bytes, size_t available);

// Decodes a whole, well-formed multi-byte sequence at `bytes` (lead at least 0x80, at least one
// byte available) into `scalar` and answers its length; 0 for anything cut short or malformed,
// which the general decoder handles with its error rules. Latin, Greek and Cyrillic letters and
// combining marks take two bytes; CJK, kana, Hangul and most symbols three; emoji and
// mathematical letters four. Kept inline with plain values so that the callers' loops hold the
// result in registers.
[[gnu::always_inline]] inline uint32_t decodeWellFormed(const uint8_t* bytes, size_t available,
                                                        char32_t& scalar)
{
    const uint8_t lead = bytes[0];
    // C2-DF: the lead alone rules out overlong forms.
    if (lead >= 0xC2 && lead < 0xE0) {
        if (available < 2 || (bytes[1] & 0xC0) != 0x80)
            return 0;
        scalar = char32_t(lead & 0x1F) << 6 | (bytes[1] & 0x3F);
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        if (available < 3 || (bytes[1] & 0xC0) != 0x80 || (bytes[2] & 0xC0) != 0x80)
            return 0;
        const char32_t value =
            char32_t(lead & 0x0F) << 12 | char32_t(bytes[1] & 0x3F) << 6 | (bytes[2] & 0x3F);
        if (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))
            return 0;
        scalar = value;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        if (available < 4 || (bytes[1] & 0xC0) != 0x80 || (bytes[2] & 0xC0) != 0x80 ||
            (bytes[3] & 0xC0) != 0x80)
            return 0;
        const char32_t value = char32_t(lead & 0x07) << 18 | char32_t(bytes[1] & 0x3F) << 12 |
                               char32_t(bytes[2] & 0x3F) << 6 | (bytes[3] & 0x3F);
        if (value < 0x10000 || value > 0x10FFFF)
            return 0;
        scalar = value;
        return 4;
    }
    return 0;
}

// Decodes the sequence at `bytes` (at least one byte available): well-formed ones inline, anything
// cut short or malformed, with its error handling, by the general decoder.
[[gnu::always_inline]] inline Decoded decodeAt(const uint8_t* bytes, size_t available)
{
    const uint8_t lead = bytes[0];
    if (lead < 0x80)
        return {Decoded::Kind::scalar, lead, 1};
    char32_t scalar = 0;
    if (const uint32_t length = decodeWellFormed(bytes, available, scalar))
        return {Decoded::Kind::scalar, scalar, length};
    return decodeSequenceAt(bytes, available);
}

// The length of the leading printable-ASCII part (0x20-0x7E). A run of 16 bytes or more is
// tested 16 at a time, its last partial block read as the run's final 16 bytes with the bytes
// already tested masked off; a shorter one byte by byte. DEL and C0 bytes end the part as
// non-ASCII bytes do, since the slow road prints nothing for them while the run path would
// store them as cells.
inline size_t printableAsciiPrefix(std::span<const uint8_t> bytes)
{
    const size_t length = bytes.size();
#if defined(__SSE2__)
    if (length >= 16) {
        // As signed bytes, printable ASCII is exactly 0x1F < b < 0x7F: 0x80-0xFF are negative.
        const __m128i belowSpace = _mm_set1_epi8(0x1F);
        const __m128i del = _mm_set1_epi8(0x7F);
        const auto badBytes = [&](size_t at) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at));
            const __m128i good = _mm_and_si128(_mm_cmpgt_epi8(block, belowSpace), _mm_cmplt_epi8(block, del));
            return ~static_cast<unsigned>(_mm_movemask_epi8(good)) & 0xFFFFu;
        };
        size_t end = 0;
        for (; length - end >= 16; end += 16) {
            if (const unsigned bad = badBytes(end))
                return end + static_cast<size_t>(__builtin_ctz(bad));
        }
        if (end == length)
            return end;
        const size_t last = length - 16;
        const unsigned bad = badBytes(last) & (~0u << (end - last));
        return bad != 0 ? last + static_cast<size_t>(__builtin_ctz(bad)) : length;
    }
#endif
    size_t end = 0;
    while (end < length && static_cast<uint8_t>(bytes[end] - 0x20) < 0x5F)
        ++end;
    return end;
}

} // namespace kestrovan::printing
