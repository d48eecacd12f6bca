// The vector shapes of the Powerline separators U+E0B0...U+E0D7 (arrows, rounded caps, slants,
// flames), fitted to a cell on device-pixel edges.
//
// Which code points are drawn, and as which (side, shape), is the table in CustomGlyphTables.h;
// this file builds the path for a cell, names the one-device-pixel join strip that closes the
// hairline between a solid shape and the neighbouring cell, and says how each shape is painted
// (filled, stroked or filled even-odd). The row drawing, the caret and a GPU renderer all draw the
// shapes through it. Stateless; the flame outlines are built once on first use.
#pragma once

#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/Path.h"

#include <cstdint>
#include <optional>

namespace kestrovan {

struct PowerlineShapes
{
    /// True for the outline shapes, which are stroked: the chevron, the half-circle outline, both
    /// thin diagonals and the open flame (shapes 1, 3, 6, 7 and 9).
    static bool isOutline(uint8_t shape);

    /// True for the solid shapes whose flat base edge meets the neighbouring cell and gets a join
    /// strip: the triangle, half disc, both corner triangles and the filled flame (0, 2, 4, 5, 8).
    static bool joinsNeighbour(uint8_t shape);

    /// The shape of `codePoint` fitted to `cellRect` (points, y-up) after snapping it outwards to
    /// device pixels at `scaleX` by `scaleY` device pixels per point; nothing for a code point
    /// the table leaves to the font, or a scale that is not positive.
    static std::optional<platform::Path> path(uint32_t codePoint, const platform::Rect& cellRect,
                                              double scaleX, double scaleY);

    /// For a solid shape, the strip one unit wide and as tall as `transformedCellRect` (given in
    /// device pixels, so one unit is one device pixel) just outside its base edge: left of it for
    /// side 1, right of it for side 0. Nothing for the other shapes and code points.
    static std::optional<platform::Rect> devicePixelJoinRect(uint32_t codePoint,
                                                             const platform::Rect& transformedCellRect);

    /// Paints `path` as `glyph`'s shape asks: outlines stroked with the stroke colour at
    /// `lineWidth` with round joins, shape 10 filled even-odd (the cell with the arrow cut out),
    /// every other shape filled with non-zero winding. Colours, clip and antialiasing are the
    /// caller's.
    static void paint(platform::Canvas& canvas, PowerlineGlyph glyph, const platform::Path& path,
                      double lineWidth);
};

} // namespace kestrovan
