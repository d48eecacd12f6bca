// A path made apart from any canvas: subpaths of lines, cubic curves and arcs, in y-up user space.
//
// Paths are recorded as a list of elements and replayed on a canvas when filled, stroked or used
// as a clip, so a path can be built once (a Powerline flame outline) and drawn into any canvas at
// any transform. Quadratic curves are stored as the equivalent cubics. Elements with a coordinate
// that is not a finite number are dropped as they are added, so a path never carries one to the
// drawing library.
#pragma once

#include "Platform/Graphics/Geometry.h"

#include <optional>
#include <vector>

namespace platform {

/// Which way an arc turns, as seen on the y-up canvas.
enum class ArcDirection
{
    /// Angles increase: from the positive x axis towards the positive y axis.
    counterClockwise,
    clockwise,
};

class Path
{
public:
    struct Element
    {
        enum class Kind
        {
            moveTo,
            lineTo,
            /// `points[0]` and `points[1]` are the control points, `points[2]` the end.
            curveTo,
            /// Centre `points[0]`, with `radius`, `startAngle`, `endAngle` and `direction`.
            arc,
            close,
        };
        Kind kind = Kind::moveTo;
        Point points[3] = {};
        double radius = 0;
        double startAngle = 0;
        double endAngle = 0;
        ArcDirection direction = ArcDirection::counterClockwise;
    };

    /// Starts a new subpath at `point`.
    void moveTo(Point point);
    /// A straight line from the current point; starts a subpath when there is no current point.
    void lineTo(Point point);
    /// A cubic Bezier curve from the current point through two control points.
    void curveTo(Point control1, Point control2, Point end);
    /// A quadratic Bezier curve from the current point with one control point.
    void quadCurveTo(Point control, Point end);
    /// An arc of the circle around `center`, angles in radians from the positive x axis. When the
    /// path has a current point, a line joins it to the start of the arc.
    void addArc(Point center, double radius, double startAngle, double endAngle,
                ArcDirection direction = ArcDirection::counterClockwise);
    /// A closed rectangular subpath, counter-clockwise from the bottom-left corner.
    void addRect(const Rect& rect);
    /// Closes the current subpath with a line back to its start.
    void close();

    bool isEmpty() const { return elements_.empty(); }
    const std::vector<Element>& elements() const { return elements_; }

private:
    std::vector<Element> elements_;
    /// Where the pen is, and where the current subpath began, for quadratic curves and `close`.
    std::optional<Point> current_;
    Point subpathStart_;
};

} // namespace platform
