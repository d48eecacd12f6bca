// Points, sizes, rectangles and affine transforms of the drawing layer.
//
// Coordinates are y-up: the origin is at the bottom left and y grows upwards, the frame the
// terminal's geometry is written in. A `Rect` is an origin (its bottom-left corner) and a size;
// a rectangle with a negative side is normalised by `standardized`, and everything that takes a
// rectangle here treats it as standardized. Image pixels (`PixelRect`) are the one exception:
// they count rows from the top, the order images are stored in.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace platform {

struct Point
{
    double x = 0;
    double y = 0;

    friend bool operator==(const Point&, const Point&) = default;
};

struct Size
{
    double width = 0;
    double height = 0;

    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double minX() const { return std::min(x, x + width); }
    double maxX() const { return std::max(x, x + width); }
    double minY() const { return std::min(y, y + height); }
    double maxY() const { return std::max(y, y + height); }

    /// The same rectangle with a non-negative width and height.
    Rect standardized() const { return Rect{minX(), minY(), maxX() - minX(), maxY() - minY()}; }

    /// True when the rectangle encloses no area (a side is 0) or a value is not a number.
    bool isEmpty() const { return !(std::abs(width) > 0 && std::abs(height) > 0); }

    /// True when every value is finite.
    bool isFinite() const
    {
        return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height);
    }

    /// The common part of two rectangles; an empty rectangle at the origin when they do not meet.
    Rect intersection(const Rect& other) const
    {
        const double left = std::max(minX(), other.minX());
        const double right = std::min(maxX(), other.maxX());
        const double bottom = std::max(minY(), other.minY());
        const double top = std::min(maxY(), other.maxY());
        if (!(left < right && bottom < top))
            return Rect{};
        return Rect{left, bottom, right - left, top - bottom};
    }

    /// True when the two rectangles share some area (touching edges do not count).
    bool intersects(const Rect& other) const { return !intersection(other).isEmpty(); }

    /// The smallest rectangle holding both; an empty rectangle does not count.
    Rect united(const Rect& other) const
    {
        if (isEmpty())
            return other.standardized();
        if (other.isEmpty())
            return standardized();
        const double left = std::min(minX(), other.minX());
        const double bottom = std::min(minY(), other.minY());
        return Rect{left, bottom, std::max(maxX(), other.maxX()) - left,
                    std::max(maxY(), other.maxY()) - bottom};
    }

    friend bool operator==(const Rect&, const Rect&) = default;
};

/// A rectangle of whole pixels in an image, rows counted from the top.
struct PixelRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    int right() const { return x + width; }
    int bottom() const { return y + height; }
    int64_t area() const { return isEmpty() ? 0 : int64_t(width) * height; }
    /// The smallest rectangle holding both (an empty one adds nothing).
    PixelRect united(const PixelRect& other) const
    {
        if (other.isEmpty())
            return *this;
        if (isEmpty())
            return other;
        const int left = std::min(x, other.x);
        const int top = std::min(y, other.y);
        return PixelRect{left, top, std::max(right(), other.right()) - left,
                         std::max(bottom(), other.bottom()) - top};
    }
    /// The pixels in both; all zero when there are none.
    PixelRect intersection(const PixelRect& other) const
    {
        const int left = std::max(x, other.x);
        const int top = std::max(y, other.y);
        const int across = std::min(right(), other.right()) - left;
        const int down = std::min(bottom(), other.bottom()) - top;
        if (across <= 0 || down <= 0)
            return PixelRect{};
        return PixelRect{left, top, across, down};
    }

    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

/// x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform
{
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double tx = 0;
    double ty = 0;

    static AffineTransform translation(double dx, double dy) { return AffineTransform{1, 0, 0, 1, dx, dy}; }
    static AffineTransform scaling(double sx, double sy) { return AffineTransform{sx, 0, 0, sy, 0, 0}; }

    Point apply(Point p) const { return Point{a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }

    /// True when the transform can be undone: finite, with a non-zero determinant.
    bool isInvertible() const
    {
        const double det = a * d - b * c;
        return std::isfinite(det) && det != 0 && std::isfinite(tx) && std::isfinite(ty);
    }

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

} // namespace platform
