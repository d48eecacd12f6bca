// BlockElementRenderer: block rectangles in eighths of a cell, snapped outwards when drawn hard.
#include "Kestrovan/Apple/BlockElementRenderer.h"

#include "Platform/Graphics/DevicePixels.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

double BlockElementRenderer::fillAlpha(double colorAlpha, BlockAlpha alpha)
{
    const double value = colorAlpha * blockAlphaValue(alpha);
    return value > 0 ? std::min(value, 1.0) : 0.0;
}

void BlockElementRenderer::paint(platform::Canvas& canvas, std::span<const BlockElementRect> rects,
                                 const platform::Rect& cell, const platform::NativeColor& color,
                                 bool antialias, double scale)
{
    if (!cell.isFinite())
        return;
    const platform::Rect area = cell.standardized();
    const double eighthWidth = area.width * 0.125;
    const double eighthHeight = area.height * 0.125;
    const double top = area.maxY();
    for (const BlockElementRect& rect : rects) {
        const double left = area.x + eighthWidth * rect.x0;
        const double right = area.x + eighthWidth * rect.x1;
        // The table counts eighths down from the top of the cell; the canvas is y-up.
        const double upper = top - eighthHeight * rect.y0;
        const double lower = top - eighthHeight * rect.y1;
        platform::Rect fill{left, lower, right - left, upper - lower};
        if (!antialias) {
            // Hard edges must cover every pixel the exact rectangle touches, or two blocks that
            // meet inside a pixel would both leave it out and show a seam.
            const double x0 = platform::floorToDevicePixels(left, scale);
            const double x1 = platform::ceilToDevicePixels(right, scale);
            const double y0 = platform::floorToDevicePixels(lower, scale);
            const double y1 = platform::ceilToDevicePixels(upper, scale);
            fill = platform::Rect{x0, y0, std::max(x1 - x0, 0.0), std::max(y1 - y0, 0.0)};
        }
        if (!(fill.width > 0 && fill.height > 0))
            continue;
        // A shade is the same colour at a share of its alpha, so it blends with the background
        // as the font's dithered glyph appears to from a distance.
        platform::NativeColor shaded = color;
        shaded.alpha = fillAlpha(color.alpha, rect.alpha);
        canvas.setFillColor(shaded);
        canvas.fillRect(fill);
    }
}

} // namespace kestrovan
