// The parse loop's road for an SGR sequence that sets one colour from the 256-colour palette:
// `ESC [ 38;5;n m` or `ESC [ 48;5;n m`. Coloured output (compilers, `ls --color`, log viewers)
// writes one before many of its words; read here whole, it goes to the terminal without the
// parameter store and SGR's parameter loop. Any other shape (colons, more parameters, a number of
// more than three digits, another final byte, a sequence the chunk cuts short) is left to the
// general fold from where it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrovan::parserLoop {

/// A whole `38;5;n m` or `48;5;n m` as `readPaletteColourSgr` found it.
struct PaletteColourSgr
{
    /// The index after the final "m"; 0 when the bytes are not of this shape.
    size_t end = 0;
    /// Whether it sets the background (48) rather than the foreground (38).
    bool background = false;
    /// The palette index; a larger number is clamped to 255, as SGR clamps it.
    uint8_t index = 0;
};

/// Reads such a sequence from its first parameter byte at `index` through the final "m". The 8
/// bytes from `index` must be readable; the number and the final byte are read only up to `length`.
[[gnu::always_inline]] inline PaletteColourSgr readPaletteColourSgr(const uint8_t* data, size_t index,
                                                                    size_t length)
{
    uint64_t word;
    std::memcpy(&word, data + index, sizeof word);
    // The five bytes "38;5;" as a little-endian word; "48;5;" differs in the first byte only.
    constexpr uint64_t foreground = 0x3B353B3833ull;
    const uint64_t difference = (word & 0xFFFFFFFFFFull) ^ foreground;
    if (difference != 0 && difference != ('4' ^ '3'))
        return {};
    size_t at = index + 5;
    unsigned value = 0;
    const size_t numberEnd = at + 3 < length ? at + 3 : length;
    for (; at < numberEnd && static_cast<unsigned>(data[at] - '0') < 10; ++at)
        value = value * 10 + static_cast<unsigned>(data[at] - '0');
    // One to three digits, then the final byte.
    if (at == index + 5 || at >= length || data[at] != 'm')
        return {};
    return {at + 1, difference != 0, static_cast<uint8_t>(value < 255 ? value : 255)};
}

} // namespace kestrovan::parserLoop
