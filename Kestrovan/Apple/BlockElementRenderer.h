// Paints the block elements U+2580...U+259F (halves, eighths, quadrants and shades) as rectangles
// from their table, so that they tile from cell to cell without the seams font glyphs leave.
//
// Shades are the foreground colour made translucent (a quarter, half or three quarters of its
// alpha), not a dither pattern. With antialiasing off every rectangle grows outwards to whole
// device pixels, so two blocks that meet share their edge pixel instead of both half-covering it.
// Stateless; every renderer paints block cells through it.
#pragma once

#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"

#include <span>

namespace kestrovan {

struct BlockElementRenderer
{
    /// The alpha a rectangle of `alpha` is filled with under a colour of alpha `colorAlpha`:
    /// min(colorAlpha x fraction, 1), and 0 for a negative or undefined result.
    static double fillAlpha(double colorAlpha, BlockAlpha alpha);

    /// Fills `rects` (eighths of the cell, y from the top) in `cell` (points, y-up; a wide cell
    /// passes its whole width) in `color`. With `antialias` off, each rectangle is first snapped
    /// outwards to whole device pixels at `scale`. The canvas's antialiasing is left as the caller
    /// set it: switch it with `antialias` for the batch.
    static void paint(platform::Canvas& canvas, std::span<const BlockElementRect> rects,
                      const platform::Rect& cell, const platform::NativeColor& color, bool antialias,
                      double scale);
};

} // namespace kestrovan
