// The reader of whole true-colour SGR sequences for processors with SSSE3, and the choice
// between it and the reader every x86-64 processor runs (`readTrueColourSgrScalar`,
// TrueColourFold.h).
//
// Converting the numbers is most of the scalar reader's work: each of the three (or six) takes a
// load, a mask and two multiplies. Here the digits of a whole group go into one register with one
// byte shuffle, whose control is looked up by the three numbers' lengths, each number
// right-aligned in a 32-bit lane, and two multiply-adds turn all of them into values at once; the
// clamp to 255 and the packing into 0xRRGGBB are two more steps for both groups together. Where
// the numbers end still comes from a bit mask of the bytes that are not digits, made of the third
// 16-byte block only when a second group needs it. Both readers take exactly the same sequences
// and give the same colours: the tests and the parser fuzzer compare them.
#pragma once

#include "Kestrovan/TrueColourFold.h"

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KESTROVAN_TRUE_COLOUR_SHUFFLE 1
#include <tmmintrin.h>
#endif

namespace kestrovan::parserLoop {

#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)

/// The shuffle controls of a group, one for each combination of the numbers' lengths (0-3 each),
/// indexed `16 * red + 4 * green + blue`: applied to the 16 bytes where the group's numbers begin,
/// a control moves blue's digits to the top of lane 0, green's to lane 1 and red's to lane 2, each
/// right-aligned in its 32-bit lane, the lanes' other bytes and lane 3 cleared (a control byte
/// with its top bit set yields 0).
struct GroupShuffles
{
    alignas(16) uint8_t control[64][16];
};

inline constexpr GroupShuffles groupShuffles = [] {
    GroupShuffles shuffles{};
    for (unsigned red = 0; red < 4; ++red) {
        for (unsigned green = 0; green < 4; ++green) {
            for (unsigned blue = 0; blue < 4; ++blue) {
                uint8_t* control = shuffles.control[16 * red + 4 * green + blue];
                for (unsigned byte = 0; byte < 16; ++byte)
                    control[byte] = 0x80;
                // Where each number begins, and the lane it goes to.
                const unsigned starts[3] = {red + green + 2, red + 1, 0};
                const unsigned lengths[3] = {blue, green, red};
                for (unsigned lane = 0; lane < 3; ++lane) {
                    for (unsigned digit = 0; digit < lengths[lane]; ++digit)
                        control[4 * lane + 4 - lengths[lane] + digit] =
                            static_cast<uint8_t>(starts[lane] + digit);
                }
            }
        }
    }
    return shuffles;
}();

/// The three numbers of a group as digit values, blue's in lane 0, green's in lane 1 and red's in
/// lane 2, each right-aligned in its lane; lane 3 is 0. `start` is where the group's numbers
/// begin; `lengths` is `16 * red + 4 * green + blue` of their lengths.
[[gnu::always_inline, gnu::target("ssse3")]] inline __m128i groupDigits(const uint8_t* window, unsigned start,
                                                                        unsigned lengths)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + start));
    const __m128i control = _mm_load_si128(reinterpret_cast<const __m128i*>(groupShuffles.control[lengths]));
    return _mm_shuffle_epi8(_mm_sub_epi8(bytes, _mm_set1_epi8('0')), control);
}

/// Bit i marks a byte at offset i of the 16 at `bytes` that is not a digit.
[[gnu::always_inline, gnu::target("ssse3")]] inline uint64_t nonDigits(const uint8_t* bytes)
{
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    // Adding 0x50 moves the digits to 0x80-0x89, the lowest signed bytes (-128 to -119), and every
    // other byte above them: one signed compare finds the bytes that are not digits.
    const __m128i moved = _mm_add_epi8(block, _mm_set1_epi8(0x50));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(moved, _mm_set1_epi8(-119))));
}

/// `readTrueColourSgrScalar` with the numbers converted together; the same answers. Needs SSSE3.
/// Inline, for loops compiled for SSSE3 that read one sequence after another.
[[gnu::target("ssse3")]] inline TrueColourSgr
readTrueColourSgrShuffledInline(const uint8_t* data, size_t index, size_t length, int firstKind)
{
    TrueColourSgr result;
    if (length - index < trueColourSgrWindow)
        return result;
    const uint8_t* window = data + index;
    // Bit i marks a byte at offset i that is not a digit. A first group ends 16 bytes in at most,
    // so its searches need the first 32 bytes only; bits 32-34 stand for their end, so that each
    // of the three finds one. The last 16 are looked at only for a second group.
    const uint64_t front = nonDigits(window) | nonDigits(window + 16) << 16;
    uint64_t ends = front | uint64_t(7) << 32;
    // A group whose numbers begin at `start`: three numbers of at most three digits, the first
    // two ended by ";" (what ends the blue one is left to the caller). Where the blue one ends and
    // the numbers' lengths as `groupDigits` takes them, or false.
    // (The digits are gathered outside: a lambda is not compiled for SSSE3.)
    const auto group = [&](unsigned start, unsigned& blue, unsigned& lengths) __attribute__((always_inline))
    {
        const auto [red, green, end] = numberEnds(ends >> start);
        const unsigned greenLength = green - red - 1;
        const unsigned blueLength = end - green - 1;
        blue = start + end;
        lengths = (red << 4 | greenLength << 2 | blueLength) & 63;
        return (red | greenLength | blueLength) <= 3 &&
               ((window[start + red] ^ ';') | (window[start + green] ^ ';')) == 0;
    };
    constexpr unsigned groupSize = 5;
    unsigned end = 0;
    unsigned lengths = 0;
    if (!group(groupSize, end, lengths))
        return result;
    const __m128i firstDigits = groupDigits(window, groupSize, lengths);
    __m128i secondDigits = _mm_setzero_si128();
    int secondKind = 0;
    if (window[end] == ';') {
        // A second group, which must end the sequence; the first ends 16 bytes in at most.
        secondKind = trueColourIntroducer(window, end + 1);
        const unsigned start = end + 1 + groupSize;
        ends = front | nonDigits(window + 32) << 32 | uint64_t(7) << trueColourSgrWindow;
        if (secondKind == 0 || !group(start, end, lengths))
            return result;
        secondDigits = groupDigits(window, start, lengths);
    }
    if (window[end] != 'm')
        return result;
    // Each lane's bytes 0, h, t, o: 100h and 10t + o as 16-bit halves, then their sum; values up
    // to 999 are clamped to 255 on 16 bits and packed to bytes, blue lowest: 0xRRGGBB per group.
    const __m128i weights = _mm_set1_epi32(0x010A6400);
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i first = _mm_madd_epi16(_mm_maddubs_epi16(firstDigits, weights), ones);
    const __m128i second = _mm_madd_epi16(_mm_maddubs_epi16(secondDigits, weights), ones);
    const __m128i clamped = _mm_min_epi16(_mm_packs_epi32(first, second), _mm_set1_epi16(255));
    const auto colours = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(clamped, clamped)));
    const uint32_t firstColour = TrueColourSgr::present | static_cast<uint32_t>(colours);
    const uint32_t secondColour = TrueColourSgr::present | static_cast<uint32_t>(colours >> 32);
    // In order, so that a second group of the same kind wins as it does in SGR.
    result.foreground = secondKind == 1 ? secondColour : firstKind == 1 ? firstColour : 0;
    result.background = secondKind == 2 ? secondColour : firstKind == 2 ? firstColour : 0;
    result.end = index + end + 1;
    return result;
}

/// `readTrueColourSgrShuffledInline` out of line.
[[gnu::noinline, gnu::flatten, gnu::target("ssse3")]] inline TrueColourSgr
readTrueColourSgrShuffled(const uint8_t* data, size_t index, size_t length, int firstKind)
{
    return readTrueColourSgrShuffledInline(data, index, length, firstKind);
}

/// Whether this processor runs `readTrueColourSgrShuffled`; asked once.
inline bool hasShuffledTrueColourReader()
{
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}

#endif

/// Reads a whole true-colour SGR sequence as `readTrueColourSgrScalar` describes, with the reader
/// that suits this processor.
inline TrueColourSgr readTrueColourSgr(const uint8_t* data, size_t index, size_t length, int firstKind)
{
#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)
    if (hasShuffledTrueColourReader())
        return readTrueColourSgrShuffled(data, index, length, firstKind);
#endif
    return readTrueColourSgrScalar(data, index, length, firstKind);
}

} // namespace kestrovan::parserLoop
