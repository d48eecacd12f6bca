// The parse loop's road for an SGR sequence that sets one colour from the 256-colour palette:
// `ESC [ 38;5;n m` or `ESC [ 48;5;n m`. Coloured output (compilers, `ls --color`, log viewers)
// writes one before many of its words; read here whole, it goes to the terminal without the
// parameter store and SGR's parameter loop. Any other shape (colons, more parameters, a number of
// more than three digits, another final byte, a sequence the chunk cuts short) is left to the
// general fold from where it starts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrovan::parserLoop {

/// A whole `38;5;n m` or `48;5;n m` as `readPaletteColour` found it.
struct PaletteColourSgr
{
    /// The index after the final "m"; 0 when the bytes are not of this shape.
    size_t end = 0;
    /// Whether it sets the background (48) rather than the foreground (38).
    bool background = false;
    /// The palette index; a larger number is clamped to 255, as SGR clamps it.
    uint8_t index = 0;
};

/// `colourIntroducerDifference` (TrueColourFold.h) for "38;5;": the fourth byte differs from
/// "38;2;" ('5' ^ '2'); "48;5;" also differs in the first ('4' ^ '3').
constexpr uint64_t paletteIntroducerDifference = uint64_t('5' ^ '2') << 24;

/// Reads such a sequence whose five bytes "38;5;" (or "48;5;" when `background`) start at
/// `index`, through the final "m": one to three digits, then "m", read only up to `length`.
[[gnu::always_inline]] inline PaletteColourSgr readPaletteColour(const uint8_t* data, size_t index,
                                                                 size_t length, bool background)
{
    size_t at = index + 5;
    unsigned value = 0;
    const size_t numberEnd = at + 3 < length ? at + 3 : length;
    for (; at < numberEnd && static_cast<unsigned>(data[at] - '0') < 10; ++at)
        value = value * 10 + static_cast<unsigned>(data[at] - '0');
    if (at == index + 5 || at >= length || data[at] != 'm')
        return {};
    return {at + 1, background, static_cast<uint8_t>(value < 255 ? value : 255)};
}

} // namespace kestrovan::parserLoop
