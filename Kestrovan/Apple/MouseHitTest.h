// Where a point of the view falls on the terminal's grid: the cell under it, counted in buffer
// rows (scrollback included), and the device pixel, counted from the top-left of the view.
//
// Points are in the view's y-up frame. A point off the grid is clamped onto it: left of the view
// hits column 0, a point less than one cell above the top hits the first visible row, a point far
// below the last line hits the last line. Pure arithmetic: the caller reads the grid's size and
// the viewport's top under the terminal lock and passes them in.
#pragma once

#include "Kestrovan/Position.h"
#include "Platform/UI/UIGeometry.h"

#include <cstdint>

namespace kestrovan {

/// The view and grid a hit test measures against.
struct MouseHitGeometry
{
    /// The view's size in points.
    platform::Size viewSize;
    /// One cell in points.
    platform::Size cell;
    /// Device pixels per point.
    double scale = 1;
    int cols = 0;
    int rows = 0;
};

/// A hit: the cell (column, buffer row) and the device pixel.
struct MouseHit
{
    Position grid;
    int pixelX = 0;
    int pixelY = 0;

    friend bool operator==(const MouseHit&, const MouseHit&) = default;
};

/// The hit of `point` on a grid whose first visible line is buffer row `yDisp`, in a buffer of
/// `lineCount` lines. A coordinate that is not finite counts as the origin's.
MouseHit mouseHitAt(platform::Point point, const MouseHitGeometry& geometry, int64_t yDisp,
                    int64_t lineCount);

/// The pixel extent of `count` cells of `cellPoints` points at `scale`: the cell rounded to whole
/// device pixels, times the count, saturating, and at least 1 (the count itself when a cell is
/// under a pixel).
int devicePixelExtent(int count, double cellPoints, double scale);

} // namespace kestrovan
