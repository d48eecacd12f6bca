// The parse loop's roads for the true colours an SGR sequence opens with.
//
// Rainbow text writes `ESC [ 38;2;r;g;b m` before every character and half-block pictures
// `ESC [ 38;2;r;g;b;48;2;r;g;b m` before every cell: most of the bytes of such output are these
// groups. The general fold takes them a byte at a time, and the end of each number (one, two or
// three digits) is a branch the processor often guesses wrong.
//
// Two roads avoid that. A whole sequence of exactly that shape, one or two colour groups and the
// final "m", is read by `readTrueColourSgrScalar` from one 48-byte window: the ends of all its
// numbers come from one bit mask, each number is converted from a 4-byte load ending at it, and
// the colours go to the listener without passing through the parameter store at all
// (TrueColourShuffle.h reads the same shape in fewer steps where the processor allows). Any other
// sequence that opens with a colour group goes through `foldLeadingTrueColours`, where each
// `38;2;` or `48;2;` is one compare and the three numbers after it are read together from one
// 16-byte block; whatever does not fit there (colons, longer numbers, a group the chunk cuts
// short) is left to the general fold exactly where the shape ends, with the parameters as the
// general fold would have left them there.
#pragma once

#include "Kestrovan/CsiParameters.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan::parserLoop {

/// The five bytes at `index` against "38;2;" (as a little-endian word), bit for bit: 0 for that
/// foreground true colour, '4' ^ '3' in the lowest byte for the background's "48;2;". Needs 8
/// readable bytes.
[[gnu::always_inline]] inline uint64_t colourIntroducerDifference(const uint8_t* data, size_t index)
{
    uint64_t word;
    std::memcpy(&word, data + index, sizeof word);
    constexpr uint64_t foreground = 0x3B323B3833ull;
    return (word & 0xFFFFFFFFFFull) ^ foreground;
}

/// Whether the bytes at `index` open a true colour with semicolons: 1 for "38;2;" (foreground), 2
/// for "48;2;" (background), 0 otherwise, read as one 8-byte compare. Needs 8 readable bytes.
[[gnu::always_inline]] inline int trueColourIntroducer(const uint8_t* data, size_t index)
{
    const uint64_t difference = colourIntroducerDifference(data, index);
    return difference == 0 ? 1 : difference == ('4' ^ '3') ? 2 : 0;
}

/// The length (1 to 3) of the text at `at` when a control byte ends it within four bytes, else 0:
/// the character drawn right after a colour, or the space after a reset, mostly stands alone up to
/// the next sequence. Fewer than four bytes left answer 0.
[[gnu::always_inline]] inline size_t shortTextBeforeControl(const uint8_t* data, size_t at, size_t length)
{
    if (length - at < 4 || data[at] < 0x20)
        return 0;
    return data[at + 1] < 0x20 ? 1 : data[at + 2] < 0x20 ? 2 : data[at + 3] < 0x20 ? 3 : 0;
}

/// The value of the `length` (0-3) decimal digits at `digits`, reading 4 bytes whatever the
/// length; no digits read as 0, as the general fold reads an empty parameter. The values of one,
/// two and three digits are all computed and the length picks one, which costs fewer cycles than
/// shifting by a length-dependent count.
[[gnu::always_inline]] inline int64_t shortNumber(const uint8_t* digits, unsigned length)
{
    uint32_t word;
    std::memcpy(&word, digits, sizeof word);
    // The digits as values 0-9, the first in the lowest byte. Bytes past the number may be
    // anything, and a borrow only runs from them to higher bytes, never into the digits.
    const uint32_t values = word - 0x30303030u;
    const int64_t one = values & 0xFF;
    const int64_t two = one * 10 + ((values >> 8) & 0xFF);
    const int64_t three = two * 10 + ((values >> 16) & 0xFF);
    const int64_t shorter = length == 1 ? one : 0;
    const int64_t longer = length == 3 ? three : two;
    return length >= 2 ? longer : shorter;
}

/// Where the three numbers of a group end, given `ends` with bit i set for each byte at offset i
/// that is not a digit (at least three bits set): the offsets of its three lowest set bits.
struct NumberEnds
{
    unsigned red;
    unsigned green;
    unsigned blue;
};

[[gnu::always_inline]] inline NumberEnds numberEnds(uint64_t ends)
{
    NumberEnds at;
    at.red = static_cast<unsigned>(__builtin_ctzll(ends));
    ends &= ends - 1;
    at.green = static_cast<unsigned>(__builtin_ctzll(ends));
    ends &= ends - 1;
    at.blue = static_cast<unsigned>(__builtin_ctzll(ends));
    return at;
}

/// Reads `r;g;b` at `index` from one 16-byte block (16 bytes must be readable): three numbers of at
/// most three digits each, separated by ";". On success they are stored from `out` on and the
/// index of the byte after the blue one is returned; otherwise 0.
[[gnu::always_inline]] inline size_t readColourComponents(const uint8_t* data, size_t index, int64_t* out)
{
#if defined(__SSE2__)
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index));
    const __m128i offset = _mm_sub_epi8(block, _mm_set1_epi8('0'));
    const auto digits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset)));
    const auto separators =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(';'))));
    // The bytes that end the three numbers: the first two must be ";", the third is whatever
    // follows the blue one (";" or the final byte, left to the caller).
    const auto [redEnd, greenEnd, blueEnd] = numberEnds(~digits | 0x10000u);
    const unsigned greenLength = greenEnd - redEnd - 1;
    const unsigned blueLength = blueEnd - greenEnd - 1;
    // A fourth digit (a number the general fold saturates) or a missing separator: not this shape.
    // The block's end counts as an end, so a number it cuts is caught by its length or position.
    if (((separators >> redEnd) & (separators >> greenEnd) & 1) == 0 ||
        (redEnd | greenLength | blueLength) > 3 || blueEnd >= 16)
        return 0;
    out[0] = shortNumber(data + index, redEnd);
    out[1] = shortNumber(data + index + redEnd + 1, greenLength);
    out[2] = shortNumber(data + index + greenEnd + 1, blueLength);
    return index + blueEnd;
#else
    (void)data;
    (void)index;
    (void)out;
    return 0;
#endif
}

/// The colours of a whole `38;2;r;g;b m` or `38;2;r;g;b;48;2;r;g;b m` (either group may be 38 or
/// 48), as `readTrueColourSgr` found them: each is `present | 0xRRGGBB`, its components clamped to
/// 255, or 0 when the sequence does not set it.
struct TrueColourSgr
{
    static constexpr uint32_t present = 0x1000000;
    /// The index after the final "m"; 0 when the bytes are not of this shape.
    size_t end = 0;
    uint32_t foreground = 0;
    uint32_t background = 0;
};

/// The bytes `readTrueColourSgr` reads: the longest sequence it takes is 34 bytes.
constexpr size_t trueColourSgrWindow = 48;

/// The value of the 0-3 digits before `end` (`length` of them), clamped to 255, from the 4 bytes
/// ending there. Every byte such a window holds in a true-colour sequence is a digit, ";" or a
/// byte of "38;2;" or "48;2;", none below "0", so subtracting "0" from all four borrows nothing;
/// the bytes before the digits are then masked off, leaving the digits as the word's high bytes.
/// Two multiplies put them together: adjacent pairs first, then hundreds with the rest.
[[gnu::always_inline]] inline uint32_t componentBefore(const uint8_t* data, unsigned end, unsigned length)
{
    static constexpr uint32_t digitMasks[4] = {0, 0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u};
    uint32_t word;
    std::memcpy(&word, data + end - 4, sizeof word);
    // Bytes 1, 2 and 3 hold the hundreds h, tens t and ones o (0 where the number is shorter).
    const uint32_t digits = (word - 0x30303030u) & digitMasks[length];
    // Byte 0 becomes h and byte 2 becomes 10t + o; then 100h + 10t + o lands in bits 16 and up.
    const uint32_t pairs = ((digits * (10 * 256 + 1)) >> 8) & 0x00FF00FFu;
    const uint32_t value = (pairs * (100 * 65536 + 1)) >> 16;
    return std::min(value, 255u);
}

/// Reads a whole SGR sequence of one or two true-colour groups written with semicolons, from the
/// first parameter byte at `index` through the final "m", all inside one `trueColourSgrWindow`
/// (which must fit before `length`, or nothing is read). `firstKind` is what
/// `trueColourIntroducer` answered at `index`: 1 for a foreground group, 2 for a background one.
/// The general fold and SGR would give the same colours: a later group of the same kind wins,
/// empty numbers read as 0 and larger ones as 255. Anything else (colons, a fourth digit, more
/// parameters, another final byte) answers `end` 0, and the caller parses the sequence the
/// general way from `index`. Kept out of line, like the fold, so that the parse loop keeps its
/// registers.
[[gnu::noinline]] inline TrueColourSgr readTrueColourSgrScalar(const uint8_t* data, size_t index,
                                                               size_t length, int firstKind)
{
    TrueColourSgr result;
#if defined(__SSE2__)
    if (length - index < trueColourSgrWindow)
        return result;
    const uint8_t* window = data + index;
    // Bit i of `ends` marks a byte at offset i that is not a digit, bit i of `strays` one that is
    // neither a digit nor ";". Bits 48-50 stand for the window's end in both, so that each of
    // the three searches of a group finds an end even when digits run to the window's end.
    const auto scan = [window](unsigned block, uint64_t& ends, uint64_t& strays)
        __attribute__((always_inline))
    {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * block));
        const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
        const __m128i digits = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
        const __m128i separators = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(';'));
        ends |= uint64_t(~static_cast<unsigned>(_mm_movemask_epi8(digits)) & 0xFFFFu) << (16 * block);
        strays |=
            uint64_t(~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(digits, separators))) & 0xFFFFu)
            << (16 * block);
    };
    uint64_t ends = uint64_t(7) << trueColourSgrWindow;
    uint64_t strays = ends;
    scan(0, ends, strays);
    scan(1, ends, strays);
    scan(2, ends, strays);
    // One group whose numbers start at `start`: three numbers of at most three digits, the first
    // two ended by ";". Answers the offset of the byte after the blue one, or 0.
    const auto group = [&](unsigned start, uint32_t& colour) __attribute__((always_inline))->unsigned
    {
        const uint64_t above = ~uint64_t(0) << start;
        const auto [red, green, blue] = numberEnds(ends & above);
        const unsigned redLength = red - start;
        const unsigned greenLength = green - red - 1;
        const unsigned blueLength = blue - green - 1;
        // The first byte after `start` that is neither a digit nor ";" may only end the blue one.
        const auto stray = static_cast<unsigned>(__builtin_ctzll(strays & above));
        if (stray < blue || (redLength | greenLength | blueLength) > 3)
            return 0;
        colour = TrueColourSgr::present | componentBefore(window, red, redLength) << 16 |
                 componentBefore(window, green, greenLength) << 8 | componentBefore(window, blue, blueLength);
        return blue;
    };
    constexpr unsigned groupSize = 5;
    uint32_t first = 0;
    unsigned end = group(groupSize, first);
    if (end == 0)
        return result;
    uint32_t second = 0;
    int secondKind = 0;
    if (window[end] == ';') {
        // A second group, which must end the sequence; the first ends 16 bytes in at most.
        secondKind = trueColourIntroducer(window, end + 1);
        end = secondKind != 0 ? group(end + 1 + groupSize, second) : 0;
        if (end == 0)
            return result;
    }
    if (window[end] != 'm')
        return result;
    // In order, so that a second group of the same kind wins as it does in SGR.
    result.foreground = secondKind == 1 ? second : firstKind == 1 ? first : 0;
    result.background = secondKind == 2 ? second : firstKind == 2 ? first : 0;
    result.end = index + end + 1;
#else
    (void)data;
    (void)index;
    (void)length;
    (void)firstKind;
#endif
    return result;
}

/// Folds the true colours a sequence opens with, `38;2;r;g;b` and `48;2;r;g;b`, one after the
/// other. Kept out of line: the parse loop calls it only when a sequence opens with one, so the
/// loop's other roads keep their registers. `pars` must be freshly cleared. Stops at the first byte that does
/// not fit the shape, with `pars` exactly as the general fold would have left it there (the open parameter
/// holding what was read of it), and answers that index for the general fold to go on from.
[[gnu::noinline]] inline size_t foldLeadingTrueColours(const uint8_t* data, size_t index, size_t length,
                                                       CsiParameterStorage& pars)
{
    constexpr int groupSize = 5;
    while (length - index >= sizeof(uint64_t) &&
           pars.count + groupSize - 1 <= CsiParameterStorage::capacity) {
        const int introducer = trueColourIntroducer(data, index);
        if (introducer == 0)
            break;
        // The open parameter (empty so far) becomes 38 or 48, then 2, then the red one opens.
        const auto open = static_cast<size_t>(pars.count - 1);
        pars.storage[open] = introducer == 1 ? 38 : 48;
        pars.storage[open + 1] = 2;
        pars.count += 2;
        index += groupSize;
        size_t after = 0;
        if (length - index >= 16)
            after = readColourComponents(data, index, &pars.storage[open + 2]);
        if (after != 0) {
            pars.count += 2;
            index = after;
        } else {
            // Byte by byte: numbers longer than three digits saturate as in the general fold.
            for (int component = 0;; ++component) {
                int64_t value = 0;
                while (index < length && static_cast<unsigned>(data[index] - '0') < 10u) {
                    value = CsiParameterStorage::foldDigit(value, data[index] - '0');
                    ++index;
                }
                pars.storage[static_cast<size_t>(pars.count - 1)] = value;
                if (component == 2)
                    break;
                if (index >= length || data[index] != ';')
                    return index;
                pars.storage[static_cast<size_t>(pars.count)] = 0;
                ++pars.count;
                ++index;
            }
        }
        // A separator after the blue one may open the next colour; anything else is the end of
        // the sequence or something the general fold handles. Groups open at parameters 1, 6, 11
        // and 16 only, so the store has room for the next one.
        if (index >= length || data[index] != ';')
            return index;
        pars.storage[static_cast<size_t>(pars.count)] = 0;
        ++pars.count;
        ++index;
    }
    return index;
}

} // namespace kestrovan::parserLoop
