// RunDecorations: underlines in five styles and the strikethrough, one segment per cell.
#include "Kestrovan/Apple/RunDecorations.h"

#include "Platform/Graphics/DevicePixels.h"
#include "Platform/Graphics/Path.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrovan {

using platform::Canvas;
using platform::Path;
using platform::Point;

namespace {

/// One straight segment per cell, `offset` above each cell's baseline point; one path, so the
/// run is stroked with one call (a dash pattern starts again at each cell's left edge).
Path cellSegments(std::span<const Point> cellOrigins, double cellWidth, double offset)
{
    Path path;
    for (const Point& origin : cellOrigins) {
        path.moveTo(Point{origin.x, origin.y + offset});
        path.lineTo(Point{origin.x + cellWidth, origin.y + offset});
    }
    return path;
}

/// A sine wave along each cell, `amplitude` high with the given period, sampled every
/// `amplitude` points and ended exactly on the cell's right edge. The phase runs on from the
/// run's first cell, so the wave is unbroken across cells and a wide cell holds one wave.
Path curlySegments(std::span<const Point> cellOrigins, double cellWidth, double offset, double amplitude,
                   double period)
{
    Path path;
    const double runStart = cellOrigins.front().x;
    auto waveY = [&](double x, double baseline) {
        return baseline + offset + amplitude * std::sin(2 * std::numbers::pi * (x - runStart) / period);
    };
    for (const Point& origin : cellOrigins) {
        const double end = origin.x + cellWidth;
        path.moveTo(Point{origin.x, waveY(origin.x, origin.y)});
        // Counted steps, so a cell of any width takes a bounded number of samples.
        const int steps = int(std::min(std::floor(cellWidth / amplitude), 4096.0));
        for (int i = 1; i <= steps; ++i) {
            const double x = origin.x + i * amplitude;
            path.lineTo(Point{x, waveY(x, origin.y)});
        }
        if (origin.x + steps * amplitude < end)
            path.lineTo(Point{end, waveY(end, origin.y)});
    }
    return path;
}

void drawUnderline(Canvas& canvas, UnderlineStyle kind, std::span<const Point> cellOrigins, double cellWidth,
                   double position, double thickness)
{
    canvas.setLineWidth(thickness);
    switch (kind) {
    case UnderlineStyle::single:
        canvas.stroke(cellSegments(cellOrigins, cellWidth, position));
        break;
    case UnderlineStyle::double_:
        // The second line one point plus one thickness below the first, so a gap shows at any scale.
        canvas.stroke(cellSegments(cellOrigins, cellWidth, position));
        canvas.stroke(cellSegments(cellOrigins, cellWidth, position - (thickness + 1)));
        break;
    case UnderlineStyle::dotted: {
        const double dot = std::max(thickness, 1.0);
        const double pattern[] = {dot, 2 * dot};
        canvas.setLineCap(platform::LineCap::round);
        canvas.setLineDash(pattern);
        canvas.stroke(cellSegments(cellOrigins, cellWidth, position));
        break;
    }
    case UnderlineStyle::dashed: {
        const double pattern[] = {std::max(2 * thickness, 2.0)};
        canvas.setLineDash(pattern);
        canvas.stroke(cellSegments(cellOrigins, cellWidth, position));
        break;
    }
    case UnderlineStyle::curly: {
        const double amplitude = std::max(thickness, 1.0);
        const double period = std::max(4 * thickness, 4.0);
        canvas.stroke(curlySegments(cellOrigins, cellWidth, position, amplitude, period));
        break;
    }
    case UnderlineStyle::none:
        break;
    }
}

} // namespace

UnderlineStyle resolveUnderlineStyle(std::optional<UnderlineStyle> terminalStyle,
                                     std::optional<int> styleNumber)
{
    using namespace DecorationStyleBits;
    if (terminalStyle)
        return *terminalStyle;
    if (!styleNumber)
        return UnderlineStyle::none;
    const int value = *styleNumber;
    if ((value & single) && (value & doubleLine))
        return UnderlineStyle::double_;
    if (value & patternDot)
        return UnderlineStyle::dotted;
    if (value & (patternDash | patternDashDotDot))
        return UnderlineStyle::dashed;
    return value != 0 ? UnderlineStyle::single : UnderlineStyle::none;
}

double decorationThickness(double underlineThickness, double scale)
{
    const double thickness = std::isfinite(underlineThickness) ? underlineThickness : 0;
    return std::max(platform::roundToDevicePixels(thickness, scale), 0.5);
}

void drawRunAttributes(Canvas& canvas, const RunDecorationStyle& style, std::span<const Point> cellOrigins,
                       double cellWidth, const DecorationContext& context)
{
    if (cellOrigins.empty() || !(cellWidth > 0) || !std::isfinite(cellWidth) ||
        (style.underlineStyle == 0 && style.strikethroughStyle == 0))
        return;
    const double scale = canvas.scaleFactor();
    const platform::FontMetrics normal =
        context.normalFont ? context.normalFont->metrics() : platform::FontMetrics{};

    canvas.save();
    // Hard edges: a decoration one device pixel thick stays one crisp pixel row.
    canvas.setAntialias(false);
    if (style.underlineStyle != 0) {
        // The normal font places every underline, whatever font the run is in, so underlines
        // stay one straight line across runs of bold, italic and fallback text.
        const UnderlineStyle kind = resolveUnderlineStyle(style.terminalUnderlineStyle, style.underlineStyle);
        canvas.setStrokeColor(style.underlineColor.value_or(context.defaultForeground));
        canvas.save();
        drawUnderline(canvas, kind, cellOrigins, cellWidth, normal.underlinePosition,
                      decorationThickness(normal.underlineThickness, scale));
        canvas.restore();
    }
    if (style.strikethroughStyle != 0) {
        using namespace DecorationStyleBits;
        const platform::FontMetrics font = style.font ? style.font->metrics() : normal;
        const double thickness = decorationThickness(font.underlineThickness, scale);
        // Centred on half the x-height, where lowercase letters are crossed.
        const double offset = (font.xHeight + thickness) * 0.5;
        canvas.setStrokeColor(style.strikethroughColor.value_or(context.defaultForeground));
        canvas.setLineWidth(thickness);
        if (style.strikethroughStyle & patternDash) {
            const double pattern[] = {2};
            canvas.setLineDash(pattern);
        }
        canvas.stroke(cellSegments(cellOrigins, cellWidth, offset));
        if ((style.strikethroughStyle & single) && (style.strikethroughStyle & doubleLine))
            canvas.stroke(cellSegments(cellOrigins, cellWidth, offset - (thickness + 1)));
    }
    canvas.restore();
}

} // namespace kestrovan
