// PowerlineShapes: the separator paths, the join strip and the paint rule of each shape.
#include "Kestrovan/Apple/PowerlineShapes.h"

#include "Platform/Graphics/DevicePixels.h"

#include <cmath>
#include <vector>

namespace kestrovan {

using platform::Path;
using platform::Point;
using platform::Rect;

namespace {

/// One element of a flame outline, in design units (y up).
struct FlameSegment
{
    enum class Kind
    {
        move,
        line,
        curve,
    };
    Kind kind;
    double c1x = 0, c1y = 0, c2x = 0, c2y = 0;
    double x = 0, y = 0;

    static constexpr FlameSegment moveTo(double x, double y) { return {Kind::move, 0, 0, 0, 0, x, y}; }
    static constexpr FlameSegment lineTo(double x, double y) { return {Kind::line, 0, 0, 0, 0, x, y}; }
    static constexpr FlameSegment curveTo(double c1x, double c1y, double c2x, double c2y, double x, double y)
    {
        return {Kind::curve, c1x, c1y, c2x, c2y, x, y};
    }
};

// The flame's design box: x from -200.971, 2923.131 wide; y from -496.67, 2342.33 high. The
// flame licks towards +x with two tongues above its tip and one below; its flat edge runs up the
// left side, which is the base edge in the cell.
constexpr double flameMinX = -200.971;
constexpr double flameWidth = 2923.131;
constexpr double flameMinY = -496.67;
constexpr double flameHeight = 2342.33;

/// From the tip along the lower side, over the lower tongue, to the bottom of the flat edge.
const std::vector<FlameSegment>& lowerEdge()
{
    static const std::vector<FlameSegment> edge = {
        FlameSegment::moveTo(2157.17, 445.633),
        FlameSegment::curveTo(2000, 380, 1700, 320, 1700, 200),
        FlameSegment::curveTo(1700, 50, 2000, -150, 2200, -250),
        FlameSegment::curveTo(1900, -380, 1600, -420, 1300, -420),
        FlameSegment::curveTo(900, -420, 700, -496.7, 400, -496.7),
        FlameSegment::lineTo(-201, -496.7),
    };
    return edge;
}

/// Up the left side: the flat base edge.
const std::vector<FlameSegment>& flatEdge()
{
    static const std::vector<FlameSegment> edge = {
        FlameSegment::curveTo(-196.96, -279.114, -194.395, 1058.37, -194.519, 1348.09),
        FlameSegment::curveTo(-194.6, 1540, -198, 1720, -201.4, 1846),
    };
    return edge;
}

/// From the top of the flat edge along the upper side, over the two upper tongues (the higher
/// one reaching the box's far corner), back to the tip.
const std::vector<FlameSegment>& upperEdge()
{
    static const std::vector<FlameSegment> edge = {
        FlameSegment::curveTo(300, 1846, 800, 1830, 1100, 1780),
        FlameSegment::curveTo(1600, 1700, 2300, 1700, 2722, 1845),
        FlameSegment::curveTo(2300, 1600, 1800, 1450, 1700, 1250),
        FlameSegment::curveTo(1650, 1100, 2100, 1000, 2500, 1000),
        FlameSegment::curveTo(2150, 900, 1900, 800, 1900, 650),
        FlameSegment::curveTo(1900, 550, 2050, 480, 2157.17, 445.633),
    };
    return edge;
}

/// The filled flame: lower edge, flat edge, upper edge; closed by the caller.
const std::vector<FlameSegment>& solidFlamePath()
{
    static const std::vector<FlameSegment> path = [] {
        std::vector<FlameSegment> all(lowerEdge());
        all.insert(all.end(), flatEdge().begin(), flatEdge().end());
        all.insert(all.end(), upperEdge().begin(), upperEdge().end());
        return all;
    }();
    return path;
}

/// The open flame: the same outline without its flat edge, left open.
const std::vector<FlameSegment>& thinFlamePath()
{
    static const std::vector<FlameSegment> path = [] {
        const FlameSegment& flatEnd = flatEdge().back();
        std::vector<FlameSegment> all{FlameSegment::moveTo(flatEnd.x, flatEnd.y)};
        all.insert(all.end(), upperEdge().begin(), upperEdge().end());
        all.insert(all.end(), lowerEdge().begin() + 1, lowerEdge().end());
        return all;
    }();
    return path;
}

/// Maps the flame's design box onto the cell: flipped for side 0, and a device pixel taller at
/// each end so the flame's flat top and bottom run under the clip instead of stopping short.
void appendFlame(Path& path, const std::vector<FlameSegment>& segments, bool baseOnLeft, double minX,
                 double maxX, double minY, double height, double scaleY)
{
    const double width = maxX - minX;
    const double bottom = minY - 1 / scaleY;
    const double tall = height + 2 / scaleY;
    auto map = [&](double x, double y) {
        const double u = (x - flameMinX) / flameWidth;
        const double v = (y - flameMinY) / flameHeight;
        return Point{baseOnLeft ? minX + width * u : maxX - width * u, bottom + tall * v};
    };
    for (const FlameSegment& segment : segments) {
        switch (segment.kind) {
        case FlameSegment::Kind::move:
            path.moveTo(map(segment.x, segment.y));
            break;
        case FlameSegment::Kind::line:
            path.lineTo(map(segment.x, segment.y));
            break;
        case FlameSegment::Kind::curve:
            path.curveTo(map(segment.c1x, segment.c1y), map(segment.c2x, segment.c2y),
                         map(segment.x, segment.y));
            break;
        }
    }
}

} // namespace

// Shape numbers: 0 triangle, 1 chevron, 2 half disc, 3 half-circle outline, 4 lower triangle,
// 5 upper triangle, 6 and 7 the two diagonals, 8 filled flame, 9 open flame, 10 cut-out arrow.
bool PowerlineShapes::isOutline(uint8_t shape)
{
    return shape == 1 || shape == 3 || shape == 6 || shape == 7 || shape == 9;
}

bool PowerlineShapes::joinsNeighbour(uint8_t shape)
{
    return shape == 0 || shape == 2 || shape == 4 || shape == 5 || shape == 8;
}

std::optional<Path> PowerlineShapes::path(uint32_t codePoint, const Rect& cellRect, double scaleX,
                                          double scaleY)
{
    const std::optional<PowerlineGlyph> glyph = PowerlineRenderer::glyph(codePoint);
    if (!glyph || !platform::isUsableScale(scaleX) || !platform::isUsableScale(scaleY) ||
        !cellRect.isFinite())
        return std::nullopt;

    // Edges on device pixels, never inside the given cell, so the shape's base is flush with the
    // pixel column the neighbouring cell's background ends on.
    const Rect snapped = platform::snapOutward(cellRect.standardized(), scaleX, scaleY);
    const double minX = snapped.minX(), maxX = snapped.maxX();
    const double minY = snapped.minY(), maxY = snapped.maxY();
    const double midY = std::round(scaleY * (minY + maxY) * 0.5) / scaleY;
    const double W = maxX - minX, H = maxY - minY;
    const bool baseOnLeft = glyph->side == 1;
    const double baseX = baseOnLeft ? minX : maxX;
    const double tipX = baseOnLeft ? maxX : minX;
    // Towards the tip is +1 for side 1 and -1 for side 0.
    const double towardsTip = baseOnLeft ? 1 : -1;

    Path path;
    switch (glyph->shape) {
    case 0: // Triangle: the base edge to a tip at mid-height.
        path.moveTo({baseX, minY});
        path.lineTo({tipX, midY});
        path.lineTo({baseX, maxY});
        path.close();
        break;
    case 1: // Chevron: the triangle's two slanted sides.
        path.moveTo({baseX, minY});
        path.lineTo({tipX, midY});
        path.lineTo({baseX, maxY});
        break;
    case 2: // Half disc: control points at 4/3 of the width put the curve's middle on the tip edge.
        path.moveTo({baseX, minY});
        path.curveTo({baseX + towardsTip * 4.0 / 3.0 * W, minY}, {baseX + towardsTip * 4.0 / 3.0 * W, maxY},
                     {baseX, maxY});
        path.close();
        break;
    case 3: { // Half-circle outline, running past the cell at both ends; the caller clips it.
        const double x0 = baseX - towardsTip * W / 4;
        path.moveTo({x0, minY - H / 3});
        path.quadCurveTo({baseX + towardsTip * 1.75 * W, minY + H / 2}, {x0, minY + 4.0 / 3.0 * H});
        break;
    }
    case 4: // Lower triangle: the bottom edge and the base edge.
        path.moveTo({baseX, minY});
        path.lineTo({tipX, minY});
        path.lineTo({baseX, maxY});
        path.close();
        break;
    case 5: // Upper triangle: the top edge and the base edge.
        path.moveTo({baseX, maxY});
        path.lineTo({tipX, maxY});
        path.lineTo({baseX, minY});
        path.close();
        break;
    case 6: // Diagonal from top-left to bottom-right.
        path.moveTo({minX, maxY});
        path.lineTo({maxX, minY});
        break;
    case 7: // Diagonal from bottom-left to top-right.
        path.moveTo({minX, minY});
        path.lineTo({maxX, maxY});
        break;
    case 8:
        appendFlame(path, solidFlamePath(), baseOnLeft, minX, maxX, minY, H, scaleY);
        path.close();
        break;
    case 9:
        appendFlame(path, thinFlamePath(), baseOnLeft, minX, maxX, minY, H, scaleY);
        break;
    case 10: // The whole cell with the triangle cut out, for the even-odd rule.
        path.addRect(Rect{minX, minY, W, H});
        path.moveTo({baseX, minY});
        path.lineTo({tipX, midY});
        path.lineTo({baseX, maxY});
        path.close();
        break;
    default:
        return std::nullopt;
    }
    return path;
}

std::optional<Rect> PowerlineShapes::devicePixelJoinRect(uint32_t codePoint, const Rect& transformedCellRect)
{
    const std::optional<PowerlineGlyph> glyph = PowerlineRenderer::glyph(codePoint);
    if (!glyph || !joinsNeighbour(glyph->shape))
        return std::nullopt;
    // One unit outside the flat base edge: for side 1 the base is the cell's left edge.
    const Rect cell = transformedCellRect.standardized();
    const double x = glyph->side == 1 ? cell.minX() - 1 : cell.maxX();
    return Rect{x, cell.minY(), 1, cell.height};
}

void PowerlineShapes::paint(platform::Canvas& canvas, PowerlineGlyph glyph, const Path& path,
                            double lineWidth)
{
    // Round joins keep the chevron's tip from growing a long mitre spike past the cell.
    if (isOutline(glyph.shape)) {
        canvas.setLineWidth(lineWidth);
        canvas.setLineJoin(platform::LineJoin::round);
        canvas.stroke(path);
    } else if (glyph.shape == 10) {
        canvas.fill(path, platform::FillRule::evenOdd);
    } else {
        canvas.fill(path, platform::FillRule::winding);
    }
}

} // namespace kestrovan
