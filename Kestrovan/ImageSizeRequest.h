// One requested dimension of an OSC 1337 inline image: a number of cells, of pixels, a percentage
// of the screen, or automatic. The terminal parses it and the host's image factory applies it.
#pragma once

#include <cstdint>

namespace kestrovan {

struct ImageSizeRequest
{
    enum class Kind : uint8_t
    {
        cells,
        pixels,
        percent,
        /// "auto": also what an absent, empty, invalid or out-of-range request becomes.
        auto_,
    };

    Kind kind = Kind::auto_;
    /// The number for `cells`, `pixels` and `percent`; 0 for `auto_`.
    int value = 0;

    static constexpr ImageSizeRequest cells(int count) { return {Kind::cells, count}; }
    static constexpr ImageSizeRequest pixels(int count) { return {Kind::pixels, count}; }
    static constexpr ImageSizeRequest percent(int count) { return {Kind::percent, count}; }
    static constexpr ImageSizeRequest automatic() { return {Kind::auto_, 0}; }

    friend constexpr bool operator==(const ImageSizeRequest&, const ImageSizeRequest&) = default;
};

} // namespace kestrovan
