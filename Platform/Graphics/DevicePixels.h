// Conversions between points and whole device pixels, for drawing that must land on the pixel grid.
//
// User space is measured in points; a surface has `scale` device pixels per point (1 on a plain
// screen, 2 on a high-density one). Box-drawing lines, block elements and Powerline separators are
// snapped to whole device pixels so that neighbouring cells meet without seams or hairlines; these
// helpers are the arithmetic for that. Rounding is always halves away from zero (`std::round`).
// A scale that is not a positive finite number leaves every value as it is.
#pragma once

#include "Platform/Graphics/Geometry.h"

#include <climits>
#include <cmath>

namespace platform {

/// True when `scale` can convert between points and pixels.
inline bool isUsableScale(double scale)
{
    return std::isfinite(scale) && scale > 0;
}

/// `points` moved to the nearest device-pixel edge, in points.
inline double roundToDevicePixels(double points, double scale)
{
    return isUsableScale(scale) ? std::round(points * scale) / scale : points;
}

/// `points` moved down (towards negative infinity) to a device-pixel edge, in points.
inline double floorToDevicePixels(double points, double scale)
{
    return isUsableScale(scale) ? std::floor(points * scale) / scale : points;
}

/// `points` moved up (towards positive infinity) to a device-pixel edge, in points.
inline double ceilToDevicePixels(double points, double scale)
{
    return isUsableScale(scale) ? std::ceil(points * scale) / scale : points;
}

/// How many whole device pixels `points` span at `scale`: max(round(points x scale), 1). Used for
/// cell sizes, which must never collapse to nothing; values beyond `int` are clamped.
inline int devicePixelCount(double points, double scale)
{
    const double pixels = isUsableScale(scale) ? std::round(points * scale) : std::round(points);
    if (!(pixels >= 1))
        return 1;
    return pixels >= double(INT_MAX) ? INT_MAX : int(pixels);
}

/// The rectangle grown outwards to whole device pixels on each axis: its minimum edges floored and
/// its maximum edges ceiled, so the result never lies inside the given rectangle.
inline Rect snapOutward(const Rect& rect, double scaleX, double scaleY)
{
    const double left = floorToDevicePixels(rect.minX(), scaleX);
    const double right = ceilToDevicePixels(rect.maxX(), scaleX);
    const double bottom = floorToDevicePixels(rect.minY(), scaleY);
    const double top = ceilToDevicePixels(rect.maxY(), scaleY);
    return Rect{left, bottom, right - left, top - bottom};
}

/// The same with one scale for both axes.
inline Rect snapOutward(const Rect& rect, double scale)
{
    return snapOutward(rect, scale, scale);
}

} // namespace platform
