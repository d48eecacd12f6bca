// The row painters of custom-drawn cells: block elements, box drawing and Powerline separators.
#include "Kestrovan/Apple/CustomGlyphDrawing.h"

#include "Kestrovan/Apple/BoxDrawingRenderer.h"
#include "Kestrovan/Apple/PowerlineShapes.h"
#include "Platform/Graphics/DevicePixels.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::NativeColor;
using platform::Point;
using platform::Rect;
using platform::Size;

namespace {

double usableScale(double scale)
{
    return platform::isUsableScale(scale) ? scale : 1.0;
}

/// Columns and widths come from the row builder; anything not a sensible cell count draws nothing
/// rather than a shape thousands of cells wide.
bool isSensibleCell(int column, int columnWidth)
{
    return column >= 0 && columnWidth >= 1 && columnWidth <= 2;
}

} // namespace

BlockElementRowPainter::BlockElementRowPainter(platform::Canvas& canvas, Point lineOrigin,
                                               const CustomGlyphMetrics& metrics)
    : canvas_(canvas), origin_(lineOrigin), metrics_(metrics)
{
    metrics_.scale = usableScale(metrics.scale);
    canvas_.save();
    canvas_.setAntialias(metrics_.antiAliasCustomBlockGlyphs);
}

BlockElementRowPainter::~BlockElementRowPainter()
{
    canvas_.restore();
}

void BlockElementRowPainter::paint(int column, int columnWidth, std::span<const BlockElementRect> rects,
                                   const NativeColor& color)
{
    if (!isSensibleCell(column, columnWidth))
        return;
    const Size cell = metrics_.cellSize;
    const Rect area{origin_.x + cell.width * column, origin_.y, cell.width * columnWidth, cell.height};
    BlockElementRenderer::paint(canvas_, rects, area, color, metrics_.antiAliasCustomBlockGlyphs,
                                metrics_.scale);
}

BoxDrawingRowPainter::BoxDrawingRowPainter(platform::Canvas& canvas, Point lineOrigin,
                                           const CustomGlyphMetrics& metrics)
    : canvas_(canvas), scale_(usableScale(metrics.scale))
{
    // Everything is worked out once per row in whole device pixels: the cells are then the same
    // number of pixels wide all along the row, so a line crossing many cells has no stepped joins.
    lineWidthPx_ = BoxDrawingRenderer::baseThicknessPx(scale_, metrics.underlineThickness);
    cellWidthPx_ = platform::devicePixelCount(metrics.cellSize.width, scale_);
    cellHeightPx_ = platform::devicePixelCount(metrics.cellSize.height, scale_);
    originXPx_ = std::round(lineOrigin.x * scale_);
    originY_ = std::round(lineOrigin.y * scale_) / scale_;
    canvas_.save();
    canvas_.setAntialias(false);
}

BoxDrawingRowPainter::~BoxDrawingRowPainter()
{
    canvas_.restore();
}

void BoxDrawingRowPainter::paint(int column, int columnWidth, uint32_t codePoint, const NativeColor& color)
{
    if (!isSensibleCell(column, columnWidth))
        return;
    // Positions in whole pixels: the column's offset is a multiple of the rounded cell width.
    const double x = (originXPx_ + double(column) * cellWidthPx_) / scale_;
    const Size size{double(columnWidth) * cellWidthPx_ / scale_, double(cellHeightPx_) / scale_};
    // Extended-range alphas from colour arithmetic would otherwise reach the renderer as is.
    NativeColor clamped = color;
    clamped.alpha = std::clamp(color.alpha, 0.0, 1.0);
    BoxDrawingRenderer::draw(codePoint, canvas_, Point{x, originY_}, size, scale_, clamped, lineWidthPx_);
}

PowerlineRowPainter::PowerlineRowPainter(platform::Canvas& canvas, Point lineOrigin,
                                         BufferLine::RenderLineMode renderMode,
                                         const CustomGlyphMetrics& metrics)
    : canvas_(canvas), origin_(lineOrigin), cellSize_(metrics.cellSize)
{
    using Mode = BufferLine::RenderLineMode;
    const double scale = usableScale(metrics.scale);
    const bool doubledHeight = renderMode == Mode::doubledTop || renderMode == Mode::doubledDown;
    // The row drawing scales double-width rows by 2 across and double-height rows by 2 both ways;
    // snapping at the doubled scale keeps the shapes' edges on device pixels after that.
    scaleX_ = renderMode == Mode::single ? scale : 2 * scale;
    scaleY_ = doubledHeight ? 2 * scale : scale;
    const int lineWidthPx = BoxDrawingRenderer::baseThicknessPx(scale, metrics.underlineThickness);
    lineWidth_ = (doubledHeight ? 2 * lineWidthPx : lineWidthPx) / scaleY_;
}

void PowerlineRowPainter::paint(int column, int columnWidth, uint32_t codePoint, const NativeColor& color)
{
    if (!isSensibleCell(column, columnWidth))
        return;
    const Rect cell{origin_.x + cellSize_.width * column, origin_.y, cellSize_.width * columnWidth,
                    cellSize_.height};
    // Code points the table leaves to the font (and anything else) draw nothing here.
    const std::optional<PowerlineGlyph> glyph = PowerlineRenderer::glyph(codePoint);
    const std::optional<platform::Path> path = PowerlineShapes::path(codePoint, cell, scaleX_, scaleY_);
    if (!glyph || !path)
        return;
    const Rect snapped = platform::snapOutward(cell, scaleX_, scaleY_);

    canvas_.save();
    canvas_.setFillColor(color);
    canvas_.setStrokeColor(color);
    // A solid shape's flat edge would leave a partly covered pixel column against the neighbour;
    // one hard device pixel of the shape's colour just outside the base edge closes it.
    const Rect device{snapped.x * scaleX_, snapped.y * scaleY_, snapped.width * scaleX_,
                      snapped.height * scaleY_};
    if (const std::optional<Rect> strip = PowerlineShapes::devicePixelJoinRect(codePoint, device)) {
        canvas_.setAntialias(false);
        canvas_.fillRect(
            Rect{strip->x / scaleX_, strip->y / scaleY_, strip->width / scaleX_, strip->height / scaleY_});
    }
    // The shape itself is smooth; the clip keeps strokes and the flame inside the cell.
    canvas_.setAntialias(true);
    canvas_.clip(snapped);
    PowerlineShapes::paint(canvas_, *glyph, *path, lineWidth_);
    canvas_.restore();
}

} // namespace kestrovan
