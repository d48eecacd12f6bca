// A rasterized glyph on its way into a glyph atlas: what the rasterizer draws and the atlas packs.
//
// The pixels are premultiplied B, G, R, A bytes, four per pixel, rows bottom row first (the y-up
// order the glyph was drawn in); the atlas flips them while it writes. `bearing` is where the
// bitmap's bottom-left pixel sits relative to the glyph's origin on the baseline, in whole pixels.
#pragma once

#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <vector>

namespace kestrovan {

struct GlyphBitmap
{
    int width = 0;
    int height = 0;
    platform::Point bearing;
    /// width x height x 4 bytes, bottom row first.
    std::vector<uint8_t> pixels;
    /// True when some pixel is tinted (an emoji): the glyph belongs in the colour atlas.
    bool isColor = false;

    friend bool operator==(const GlyphBitmap&, const GlyphBitmap&) = default;
};

} // namespace kestrovan
