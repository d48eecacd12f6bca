// Colours converted to the four floats the GPU records carry, cached so that steady frames convert
// nothing.
//
// Two bounded maps: one keyed by the colour itself (colours are values here, so the value is the
// key and nothing has to be kept alive for it), one keyed by a packed 24-bit RGB value for the
// true colours of plain rows. Each is cleared whole when it is full, keeping its storage.
// One thread at a time (the frame builder's).
#pragma once

#include "Platform/Graphics/NativeColor.h"

#include <array>
#include <cstdint>
#include <unordered_map>

namespace kestrovan {

/// Red, green, blue and alpha as single-precision floats.
using ColorSIMD = std::array<float, 4>;

class MetalColorSIMDCache
{
public:
    static constexpr size_t defaultMaxEntries = 4096;
    static constexpr size_t defaultMaxRGBEntries = 65'536;

    explicit MetalColorSIMDCache(size_t maxEntries = defaultMaxEntries,
                                 size_t maxRGBEntries = defaultMaxRGBEntries, size_t reserved = 1024);

    /// The colour's sRGB components (the device colour space here) and alpha; a paint with no
    /// sRGB form keeps the components it has.
    static ColorSIMD convert(const platform::NativeColor& color);

    /// `convert(color)`, cached by the colour.
    ColorSIMD lookup(const platform::NativeColor& color);
    /// The opaque sRGB colour of `packedRGB` (red in bits 0-7, green 8-15, blue 16-23), cached.
    ColorSIMD lookupRGB(uint32_t packedRGB);

    size_t count() const { return entries_.size(); }
    size_t rgbCount() const { return rgbEntries_.size(); }

private:
    struct ColorHash
    {
        size_t operator()(const platform::NativeColor& color) const;
    };

    size_t maxEntries_;
    size_t maxRGBEntries_;
    std::unordered_map<platform::NativeColor, ColorSIMD, ColorHash> entries_;
    std::unordered_map<uint32_t, ColorSIMD> rgbEntries_;
};

} // namespace kestrovan
