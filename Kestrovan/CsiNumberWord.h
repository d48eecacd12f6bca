// Decimal parameters of a CSI sequence read eight bytes at a time: where the digits at the start
// of a word end, and the value of up to four of them, without a loop over the bytes. The parse
// loop reads the short cursor positions and scroll regions of full-screen programs this way.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestrovan::csiNumberWord {

/// The eight bytes at `data`, the first in the lowest byte.
[[gnu::always_inline]] inline uint64_t load(const uint8_t* data)
{
    uint64_t word;
    std::memcpy(&word, data, sizeof word);
    return word;
}

/// `word` less "0" in every byte: up to the first byte that is not a decimal digit, each byte is
/// its digit's value. (A byte below "0" borrows from the next, which is past that first one.)
[[gnu::always_inline]] inline uint64_t digitValues(uint64_t word)
{
    return word - 0x3030303030303030ull;
}

/// The top bit of every byte of `values` (see `digitValues`) that is not a decimal digit's, up to
/// and including the first such byte; past a byte below "0" or from 0xBA on, the marks are
/// not to be relied on.
[[gnu::always_inline]] inline uint64_t nonDigitMarks(uint64_t values)
{
    // A byte's top bit is set when its value is 10 or more: from 0x80 on it is set already, and
    // below that adding 0x76 sets it. A carry out of a byte only reaches bytes past it.
    return ((values + 0x7676767676767676ull) | values) & 0x8080808080808080ull;
}

/// How many bytes (0 to 7) from the first are decimal digits, given the `digitValues` of eight
/// bytes of which at least one is not a digit; a word of eight digits answers 7.
[[gnu::always_inline]] inline unsigned leadingDigits(uint64_t values)
{
    return static_cast<unsigned>(__builtin_ctzll(nonDigitMarks(values) | (1ull << 63))) / 8;
}

/// The number the first `count` (0 to 4) bytes of `values` are the digits of, the first the most
/// significant; no digits are 0. The digits are moved to the top of the low four bytes, zeros
/// below them leading the number; pairs are then folded into values 0-99 (in the even bytes),
/// and the two pairs into one (in the high half).
[[gnu::always_inline]] inline uint32_t fourDigitValue(uint64_t values, unsigned count)
{
    const auto digits = static_cast<uint32_t>(values << (32 - 8 * count));
    const uint32_t pairs = (digits * 10 + (digits >> 8)) & 0x00FF00FFu;
    return (pairs * (1 + (100u << 16))) >> 16;
}

} // namespace kestrovan::csiNumberWord
