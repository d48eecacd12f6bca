#include "Kestrovan/Apple/Metal/UnderlineDecorations.h"

#include "Kestrovan/Apple/Metal/QuadGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrovan {

namespace {

/// More steps than any line across a screen needs: a line of absurd length or a unit that rounds
/// to nothing draws nothing rather than looping for ever.
constexpr double maximumSteps = 65536;

struct SegmentSink
{
    double thickness;
    Float4 color;
    BufferLine::RenderLineMode renderMode;
    const std::optional<ClipRect>& clip;
    double pivotY;
    std::vector<ColorCell>& output;

    void emit(double a, double b, double yCenter) const { emit(a, b, yCenter, thickness); }

    void emit(double a, double b, double yCenter, double height) const
    {
        const double half = height / 2;
        const Quad quad =
            transformForLineMode(Quad{a, yCenter - half, b, yCenter + half}, renderMode, pivotY);
        const std::optional<Quad> cut = clipRect(quad, clip);
        if (!cut)
            return;
        output.push_back(ColorCell{
            {float(cut->x0), float(cut->y0)}, {float(cut->x1 - cut->x0), float(cut->y1 - cut->y0)}, color});
    }
};

/// Pieces `piece` long every `step` from x0 to x1.
void emitPattern(const SegmentSink& sink, double x0, double x1, double yCenter, double piece, double step)
{
    if (!(step > 0) || (x1 - x0) / step > maximumSteps)
        return;
    for (double a = x0; a < x1; a += step)
        sink.emit(a, std::min(x1, a + piece), yCenter);
}

} // namespace

void appendUnderlineSegments(double x0, double x1, double yCenter, double thickness, Float4 color,
                             UnderlineStyle style, double patternScale, BufferLine::RenderLineMode renderMode,
                             const std::optional<ClipRect>& clipRect, double pivotY,
                             std::vector<ColorCell>& output, std::optional<double> waveOrigin)
{
    const double waveStart = waveOrigin.value_or(x0);
    const SegmentSink sink{thickness, color, renderMode, clipRect, pivotY, output};
    const double unit = std::max(thickness, patternScale);
    switch (style) {
    case UnderlineStyle::none:
        break;
    case UnderlineStyle::single:
    case UnderlineStyle::double_:
        sink.emit(x0, x1, yCenter);
        break;
    case UnderlineStyle::curly: {
        if (!(x0 < x1) || !(unit > 0) || (x1 - x0) / unit > maximumSteps || (x1 - x0) > maximumSteps)
            break;
        // The wave through samples one unit apart, as the CPU path strokes it, drawn one pixel
        // column at a time: each column at the wave's height at its middle, as tall as a line of
        // the thickness is across at that slope.
        const double period = std::max(4 * thickness, 4 * patternScale);
        const auto wave = [&](double x) {
            return yCenter + unit * std::sin(2 * std::numbers::pi * (x - waveStart) / period);
        };
        for (double a = x0; a < x1; a += 1) {
            const double b = std::min(x1, a + 1);
            const double middle = (a + b) / 2;
            // The samples around the column: one unit apart from the span's start, the last at
            // its end.
            const double left = x0 + std::floor((middle - x0) / unit) * unit;
            const double right = std::min(x1, left + unit);
            const double slope = right > left ? (wave(right) - wave(left)) / (right - left) : 0;
            const double y = wave(left) + slope * (middle - left);
            sink.emit(a, b, y, thickness * std::sqrt(1 + slope * slope));
        }
        break;
    }
    case UnderlineStyle::dotted:
        // A dot of one unit, a gap of two.
        emitPattern(sink, x0, x1, yCenter, unit, 3 * unit);
        break;
    case UnderlineStyle::dashed: {
        // Dashes and gaps of two units.
        const double dash = std::max(2 * thickness, 2 * patternScale);
        emitPattern(sink, x0, x1, yCenter, dash, 2 * dash);
        break;
    }
    }
}

} // namespace kestrovan
