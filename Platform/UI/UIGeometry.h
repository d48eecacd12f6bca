// The one conversion between the views' y-up frame and the toolkit's y-down one.
//
// A view's geometry is y-up with the origin at its bottom left (the drawing layer's `Point`,
// `Size` and `Rect`); GTK allocates and reports positions y-down from the top left. Every
// conversion between the two happens through these functions, at the edge of the toolkit
// adapters, so nothing above the layer ever sees a y-down coordinate.
#pragma once

#include "Platform/Graphics/Geometry.h"

namespace platform {

/// A point given y-down from the top of a view of height `viewHeight`, in the view's y-up frame.
/// The conversion is its own inverse.
inline Point flippedPoint(Point p, double viewHeight)
{
    return Point{p.x, viewHeight - p.y};
}

/// A rectangle of a y-up frame as the toolkit's y-down rectangle in a parent of height
/// `parentHeight` (and back again: the conversion is its own inverse).
inline Rect flippedRect(const Rect& r, double parentHeight)
{
    const Rect s = r.standardized();
    return Rect{s.x, parentHeight - s.y - s.height, s.width, s.height};
}

} // namespace platform
