// Path: recording subpaths, with quadratic curves raised to cubics and non-finite input dropped.
#include "Platform/Graphics/Path.h"

#include <cmath>

namespace platform {

namespace {

bool isFinite(Point p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

} // namespace

void Path::moveTo(Point point)
{
    if (!isFinite(point))
        return;
    Element element;
    element.kind = Element::Kind::moveTo;
    element.points[0] = point;
    elements_.push_back(element);
    current_ = point;
    subpathStart_ = point;
}

void Path::lineTo(Point point)
{
    if (!isFinite(point))
        return;
    if (!current_) {
        moveTo(point);
        return;
    }
    Element element;
    element.kind = Element::Kind::lineTo;
    element.points[0] = point;
    elements_.push_back(element);
    current_ = point;
}

void Path::curveTo(Point control1, Point control2, Point end)
{
    if (!isFinite(control1) || !isFinite(control2) || !isFinite(end))
        return;
    // Without a current point the curve starts at its first control point, as lines start at their
    // end point.
    if (!current_)
        moveTo(control1);
    Element element;
    element.kind = Element::Kind::curveTo;
    element.points[0] = control1;
    element.points[1] = control2;
    element.points[2] = end;
    elements_.push_back(element);
    current_ = end;
}

void Path::quadCurveTo(Point control, Point end)
{
    if (!isFinite(control) || !isFinite(end))
        return;
    if (!current_)
        moveTo(control);
    // The cubic with control points two thirds of the way from each end towards the quadratic's
    // control point traces exactly the same curve.
    const Point start = *current_;
    const Point c1{start.x + 2.0 / 3.0 * (control.x - start.x), start.y + 2.0 / 3.0 * (control.y - start.y)};
    const Point c2{end.x + 2.0 / 3.0 * (control.x - end.x), end.y + 2.0 / 3.0 * (control.y - end.y)};
    curveTo(c1, c2, end);
}

void Path::addArc(Point center, double radius, double startAngle, double endAngle, ArcDirection direction)
{
    if (!isFinite(center) || !std::isfinite(radius) || radius < 0 || !std::isfinite(startAngle) ||
        !std::isfinite(endAngle))
        return;
    Element element;
    element.kind = Element::Kind::arc;
    element.points[0] = center;
    element.radius = radius;
    element.startAngle = startAngle;
    element.endAngle = endAngle;
    element.direction = direction;
    elements_.push_back(element);
    const Point start{center.x + radius * std::cos(startAngle), center.y + radius * std::sin(startAngle)};
    if (!current_)
        subpathStart_ = start;
    current_ = Point{center.x + radius * std::cos(endAngle), center.y + radius * std::sin(endAngle)};
}

void Path::addRect(const Rect& rect)
{
    if (!rect.isFinite())
        return;
    moveTo(Point{rect.x, rect.y});
    lineTo(Point{rect.x + rect.width, rect.y});
    lineTo(Point{rect.x + rect.width, rect.y + rect.height});
    lineTo(Point{rect.x, rect.y + rect.height});
    close();
}

void Path::close()
{
    if (!current_)
        return;
    Element element;
    element.kind = Element::Kind::close;
    elements_.push_back(element);
    current_ = subpathStart_;
}

} // namespace platform
