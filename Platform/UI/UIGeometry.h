// Points, sizes and rectangles of views, in the views' own y-up frame, and the conversion to the
// toolkit's y-down frame.
//
// A view's geometry is y-up with the origin at its bottom left, the frame the terminal's layout is
// written in; GTK allocates and reports positions y-down from the top left. Every conversion
// between the two happens in this file, at the edge of the toolkit adapters, so nothing above the
// layer ever sees a y-down coordinate.
#pragma once

#include <algorithm>
#include <cmath>

namespace platform {

struct UIPoint
{
    double x = 0;
    double y = 0;

    friend bool operator==(const UIPoint&, const UIPoint&) = default;
};

struct UISize
{
    double width = 0;
    double height = 0;

    friend bool operator==(const UISize&, const UISize&) = default;
};

/// A rectangle: its bottom-left corner and its size.
struct UIRect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return x; }
    double minY() const { return y; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    UISize size() const { return UISize{width, height}; }
    /// True when the rectangle covers no area or a value is not a number.
    bool isEmpty() const { return !(width > 0 && height > 0); }
    bool contains(UIPoint p) const { return p.x >= x && p.x < maxX() && p.y >= y && p.y < maxY(); }

    /// The common part of two rectangles; an empty rectangle when they do not meet.
    UIRect intersection(const UIRect& other) const
    {
        const double left = std::max(x, other.x);
        const double bottom = std::max(y, other.y);
        const double right = std::min(maxX(), other.maxX());
        const double top = std::min(maxY(), other.maxY());
        if (!(left < right && bottom < top))
            return UIRect{};
        return UIRect{left, bottom, right - left, top - bottom};
    }

    /// The smallest rectangle holding both; an empty one does not count.
    UIRect united(const UIRect& other) const
    {
        if (isEmpty())
            return other;
        if (other.isEmpty())
            return *this;
        const double left = std::min(x, other.x);
        const double bottom = std::min(y, other.y);
        return UIRect{left, bottom, std::max(maxX(), other.maxX()) - left,
                      std::max(maxY(), other.maxY()) - bottom};
    }

    friend bool operator==(const UIRect&, const UIRect&) = default;
};

/// A point given y-down from the top of a view of height `viewHeight`, in the view's y-up frame.
/// The conversion is its own inverse.
inline UIPoint flippedPoint(UIPoint p, double viewHeight)
{
    return UIPoint{p.x, viewHeight - p.y};
}

/// A rectangle of a y-up frame as the toolkit's y-down rectangle in a parent of height
/// `parentHeight` (and back again: the conversion is its own inverse).
inline UIRect flippedRect(const UIRect& r, double parentHeight)
{
    return UIRect{r.x, parentHeight - r.y - r.height, r.width, r.height};
}

/// Whole device pixels covering `points` at `scale` (a partly covered pixel counts); 0 for no
/// area or values that are not finite, and never more than `limit`.
inline int devicePixelsCovering(double points, double scale, int limit)
{
    const double pixels = std::ceil(points * scale - 1e-9);
    if (!std::isfinite(pixels) || pixels < 1)
        return 0;
    return pixels >= limit ? limit : int(pixels);
}

} // namespace platform
