// The geometry every textured or flat quad of a placed row goes through: the line-mode transform
// of double-width and double-height lines, and clipping to a rectangle with the texture
// coordinates cut in proportion.
//
// Coordinates are drawable pixels, y-up. A double-width line is drawn twice as wide from the
// view's left edge; a double-height half is drawn at twice the height about a pivot (the row's top
// edge for the top half, its bottom edge for the bottom half) and clipped to its row, so that the
// row shows its half of the doubled line.
#pragma once

#include "Kestrovan/Apple/Metal/DrawData.h"
#include "Kestrovan/BufferLine.h"

#include <optional>

namespace kestrovan {

/// A quad in pixels with the texture coordinates of its left, bottom, right and top edges.
struct Quad
{
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
    double u0 = 0;
    double v0 = 0;
    double u1 = 1;
    double v1 = 1;

    friend bool operator==(const Quad&, const Quad&) = default;
};

/// True for the line modes drawn at twice the height (and so clipped to their row).
bool isDoubleHeight(BufferLine::RenderLineMode mode);

/// The quad as a line of `mode` draws it: every x doubled on the doubled modes, every y mapped to
/// pivotY + 2 (y - pivotY) on the double-height ones; then its corners ordered (x0 <= x1,
/// y0 <= y1), the texture coordinates following their edges.
Quad transformForLineMode(Quad quad, BufferLine::RenderLineMode mode, double pivotY);

/// The quad cut to `clip`: unchanged without a clip; otherwise none when the quad or what is left
/// of it has no positive width and height, and the texture coordinates of each moved edge
/// interpolated linearly.
std::optional<Quad> clipRect(const Quad& quad, const std::optional<ClipRect>& clip);

} // namespace kestrovan
