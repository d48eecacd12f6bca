// Draws the box-drawing characters U+2500...U+257F itself, on a grid of whole device pixels, so
// that lines meet their neighbours without seams at every cell size and scale.
//
// One piece of code serves every renderer: the CPU row drawing calls it for the cells a row sets
// aside, and a GPU renderer rasterises the same cells through it into its glyph atlas. All the
// geometry is worked out in whole device pixels from the cell's top-left corner and only then
// turned into points, so a line is never thinner than one device pixel and two cells that share an
// edge share the same pixel column. The renderer holds no state.
#pragma once

#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"

#include <cstdint>

namespace kestrovan {

struct BoxDrawingRenderer
{
    /// True for the code points this renderer draws: U+2500...U+257F.
    static constexpr bool handles(uint32_t codePoint) { return codePoint >= 0x2500 && codePoint <= 0x257F; }

    /// Draws `codePoint` into the cell whose lower-left corner is `cellOrigin` and whose size is
    /// `cellSize` (both in points; a wide cell passes its doubled width), at `scale` device pixels
    /// per point, in `color`, with light lines `baseThicknessPx` device pixels thick (never
    /// thinner than one device pixel, nor than the scale rounded). Sets the canvas's fill and
    /// stroke colour to `color`. Code points outside U+2500...U+257F draw nothing.
    ///
    /// Callers switch antialiasing off for the batch and pass a cell origin and size already on
    /// device pixels (see `drawBoxDrawings`), so that the pixel grid here is the device's.
    static void draw(uint32_t codePoint, platform::Canvas& canvas, platform::Point cellOrigin,
                     platform::Size cellSize, double scale, const platform::NativeColor& color,
                     int baseThicknessPx);

    /// The light line thickness callers pass, in device pixels: max(round(scale x underline
    /// thickness x 1.35), round(scale), 1). The font's underline is the one stroke weight every
    /// font states, so box lines match the weight of the text around them.
    static int baseThicknessPx(double scale, double underlineThickness);
};

} // namespace kestrovan
