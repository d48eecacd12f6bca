// The reader of whole true-colour SGR sequences for processors with SSSE3, and the choice
// between it and the reader every x86-64 processor runs (`readTrueColourSgrScalar`,
// TrueColourFold.h).
//
// Converting the numbers is most of the scalar reader's work: each of the three (or six) takes a
// load, a mask and two multiplies. Here the digits of a whole group go into one register with a
// byte shuffle, each number right-aligned in a 32-bit lane, and two multiply-adds turn all of them
// into values at once; the clamp to 255 and the packing into 0xRRGGBB are two more steps for both
// groups together. Where the numbers end still comes from the same bit mask. Both readers take
// exactly the same sequences and give the same colours: the tests and the parser fuzzer compare
// them.
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

/// The shuffle control of one number: `numberShuffles[end][length]` moves the `length` digits
/// before offset `end` of a block to the top of a 32-bit lane, the lane's other bytes cleared
/// (a control byte with its top bit set yields 0). Blocks are loaded four bytes before a group
/// opens, so a number ends at offset 4 or later and no control byte points before the block.
struct NumberShuffles
{
    uint32_t control[16][4];
};

inline constexpr NumberShuffles numberShuffles = [] {
    NumberShuffles shuffles{};
    for (uint32_t end = 4; end < 16; ++end) {
        for (uint32_t length = 0; length < 4; ++length) {
            uint32_t control = 0;
            for (uint32_t byte = 0; byte < 4; ++byte)
                control |= (byte + length >= 4 ? end - 4 + byte : 0x80u) << (8 * byte);
            shuffles.control[end][length] = control;
        }
    }
    return shuffles;
}();

/// The three numbers of a group as digit values, blue's in lane 0, green's in lane 1 and red's in
/// lane 2, each right-aligned in its lane; lane 3 is 0. `start` is where the group's numbers
/// begin, the others where each ends; their lengths must be at most three.
[[gnu::always_inline, gnu::target("ssse3")]] inline __m128i
groupDigits(const uint8_t* window, unsigned start, unsigned red, unsigned green, unsigned blue)
{
    const unsigned base = start - 4;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + base));
    const __m128i control = _mm_set_epi32(
        static_cast<int>(0x80808080u), static_cast<int>(numberShuffles.control[red - base][red - start]),
        static_cast<int>(numberShuffles.control[green - base][green - red - 1]),
        static_cast<int>(numberShuffles.control[blue - base][blue - green - 1]));
    return _mm_shuffle_epi8(_mm_sub_epi8(bytes, _mm_set1_epi8('0')), control);
}

/// `readTrueColourSgrScalar` with the numbers converted together; the same answers. Needs SSSE3.
[[gnu::noinline, gnu::target("ssse3")]] inline TrueColourSgr
readTrueColourSgrShuffled(const uint8_t* data, size_t index, size_t length, int firstKind)
{
    TrueColourSgr result;
    if (length - index < trueColourSgrWindow)
        return result;
    const uint8_t* window = data + index;
    // Bit i marks a byte at offset i that is not a digit; bits 48-50 stand for the window's end,
    // so that each of a group's three searches finds an end.
    uint64_t ends = uint64_t(7) << trueColourSgrWindow;
    for (unsigned block = 0; block < 3; ++block) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * block));
        const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
        const __m128i digits = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
        ends |= uint64_t(~static_cast<unsigned>(_mm_movemask_epi8(digits)) & 0xFFFFu) << (16 * block);
    }
    // A group whose numbers begin at `start`: three numbers of at most three digits, the first
    // two ended by ";" (what ends the blue one is left to the caller). Where each ends, or false.
    // (The digits are gathered outside: a lambda is not compiled for SSSE3.)
    struct Ends
    {
        unsigned red;
        unsigned green;
        unsigned blue;
    };
    const auto group = [&](unsigned start, Ends& at) __attribute__((always_inline))
    {
        uint64_t after = ends & ~uint64_t(0) << start;
        at.red = static_cast<unsigned>(__builtin_ctzll(after));
        after &= after - 1;
        at.green = static_cast<unsigned>(__builtin_ctzll(after));
        after &= after - 1;
        at.blue = static_cast<unsigned>(__builtin_ctzll(after));
        return ((at.red - start) | (at.green - at.red - 1) | (at.blue - at.green - 1)) <= 3 &&
               ((window[at.red] ^ ';') | (window[at.green] ^ ';')) == 0;
    };
    constexpr unsigned groupSize = 5;
    Ends at{};
    if (!group(groupSize, at))
        return result;
    const __m128i firstDigits = groupDigits(window, groupSize, at.red, at.green, at.blue);
    unsigned end = at.blue;
    __m128i secondDigits = _mm_setzero_si128();
    int secondKind = 0;
    if (window[end] == ';') {
        // A second group, which must end the sequence; the first ends 16 bytes in at most.
        secondKind = trueColourIntroducer(window, end + 1);
        const unsigned start = end + 1 + groupSize;
        if (secondKind == 0 || !group(start, at))
            return result;
        secondDigits = groupDigits(window, start, at.red, at.green, at.blue);
        end = at.blue;
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
