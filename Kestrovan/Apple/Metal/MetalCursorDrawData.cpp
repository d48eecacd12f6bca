// MetalTerminalRenderer: the cursor's vertices. Its shape in the caret colour (a hollow box
// without focus, else a block, an underline or a bar) and, under a block, the cell's character
// in the caret's text colour: a Powerline separator as the shape its cell shows, anything else
// shaped and fitted to the cell as the row's text is, clipped to the block.
#include "Kestrovan/Apple/BoxDrawingRenderer.h"
#include "Kestrovan/Apple/CaretView.h"
#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/Apple/Metal/ImageGeometry.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/Metal/QuadGeometry.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

using Mode = BufferLine::RenderLineMode;

bool isBlinking(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline ||
           style == CursorStyle::blinkBar;
}

/// Two triangles of a flat rectangle, in the shaders' corner order.
void appendRect(std::vector<ColorVertex>& out, double x0, double y0, double x1, double y1, Float4 color)
{
    const float a = float(x0), b = float(y0), c = float(x1), d = float(y1);
    for (const Float2 corner : {Float2{a, b}, {c, b}, {a, d}, {c, b}, {c, d}, {a, d}})
        out.push_back(ColorVertex{corner, color});
}

void appendQuad(std::vector<GlyphVertex>& out, const Quad& quad, Float4 color)
{
    for (const GlyphVertex& vertex :
         quadVertices(float(quad.x0), float(quad.y0), float(quad.x1), float(quad.y1), float(quad.u0),
                      float(quad.v0), float(quad.u1), float(quad.v1), color))
        out.push_back(vertex);
}

} // namespace

CursorDrawData MetalTerminalRenderer::buildCursorDrawData(const TerminalSnapshot& snapshot,
                                                          const SnapshotRenderContext& context, double scale,
                                                          double cellWidth, double cellHeight, int64_t yDisp,
                                                          int64_t firstRow, int64_t lastRow)
{
    CursorDrawData out;
    if (!snapshot.cursor)
        return out;
    const SnapshotCursor& cursor = *snapshot.cursor;
    if (cursor.hidden || cursor.absoluteRow < firstRow || cursor.absoluteRow > lastRow ||
        cursor.visualCol < 0 || cursor.visualCol >= snapshot.cols)
        return out;
    // A blinking cursor in its hidden phase; without focus the cursor never blinks.
    const bool focused = context.cursorHasFocus;
    if (focused && isBlinking(snapshot.cursorStyle) && !redrawState_->cursorBlinkOn())
        return out;

    const double viewHeight = context.viewBounds.height;
    const double widthFactor = cursor.renderMode == Mode::single ? 1 : 2;
    const double cellWidthPx = scale * cellWidth, cellHeightPx = scale * cellHeight;
    const double cellBottom = viewHeight - cellHeight * double(cursor.absoluteRow - yDisp + 1);
    const double y0 = scale * cellBottom, y1 = y0 + cellHeightPx;
    const double x0 = cellWidthPx * cursor.visualCol * widthFactor;
    const double x1 = x0 + cellWidthPx * widthFactor * cursor.columnWidth;
    const CaretRenderData& data = cursor.renderData;
    const Float4 cursorColor = color(data.cursorColor);

    if (!focused) {
        // A hollow box in every style, and no character.
        const double t = std::max(1.0, 1.5 * scale);
        appendRect(out.colorVertices, x0, y0, x1, y0 + t, cursorColor);
        appendRect(out.colorVertices, x0, y1 - t, x1, y1, cursorColor);
        appendRect(out.colorVertices, x0, y0 + t, x0 + t, y1 - t, cursorColor);
        appendRect(out.colorVertices, x1 - t, y0 + t, x1, y1 - t, cursorColor);
        return out;
    }
    switch (snapshot.cursorStyle) {
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
        appendRect(out.colorVertices, x0, y0, x0 + std::max(1.0, 2 * scale), y1, cursorColor);
        return out;
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
        appendRect(out.colorVertices, x0, y0, x1, y0 + std::max(1.0, 2 * scale), cursorColor);
        return out;
    case CursorStyle::blinkBlock:
    case CursorStyle::steadyBlock:
        appendRect(out.colorVertices, x0, y0, x1, y1, cursorColor);
        break;
    }

    if (!CaretView::showsCharacter(data))
        return out;
    const Float4 textColor = color(data.textColor);
    const ClipRect block{float(x0), float(y0), float(x1), float(y1)};
    const platform::FontRef& normal = context.fonts.normal();
    const platform::FontRef& normalFont = data.normalFont ? data.normalFont : normal;
    if (!normalFont)
        return out;
    const platform::FontMetrics metrics = normalFont->metrics();

    // A Powerline separator under the block is the shape its cell shows (on a doubled row, drawn
    // at twice the size with this row's half inside the block).
    if (data.customBlockGlyphs && PowerlineRenderer::glyph(data.code)) {
        const int scaleInt = std::max(1, int(std::lround(scale)));
        const int widthPx = std::max(1, int(std::lround(cellWidthPx * cursor.columnWidth)));
        const int heightPx = std::max(1, int(std::lround(cellHeightPx)));
        const int thicknessPx = BoxDrawingRenderer::baseThicknessPx(scaleInt, metrics.underlineThickness);
        const std::optional<CustomGlyphEntry> entry =
            glyphStore_->customGlyphEntry(data.code, widthPx, heightPx, scaleInt, thicknessPx, true);
        if (!entry)
            return out;
        const bool doubledHeight = isDoubleHeight(cursor.renderMode);
        const double height = entry->size.height * (doubledHeight ? 2 : 1);
        const double bottom = cursor.renderMode == Mode::doubledTop ? y0 - cellHeightPx : y0;
        const double atlasSize = double(grayscaleAtlas_->size());
        const AtlasRegion& region = entry->region;
        const Quad quad{x0,
                        bottom,
                        x0 + widthFactor * entry->size.width,
                        bottom + height,
                        double(region.x) / atlasSize,
                        double(region.y + region.height) / atlasSize,
                        double(region.x + region.width) / atlasSize,
                        double(region.y) / atlasSize};
        if (const std::optional<Quad> cut = clipRect(quad, block))
            appendQuad(out.glyphVerticesGray, *cut, textColor);
        return out;
    }

    const platform::FontRef& font = data.attributes.font ? data.attributes.font : normalFont;
    const std::optional<TerminalGlyphPlacementPolicy>& policy = data.attributes.glyphPolicy;
    const std::u16string text = CaretView::characterText(data);
    const uint64_t fallbackTag = policy ? font->id() : 0;
    const std::shared_ptr<const ShaperRun> shaped = shaperCache_.shape(text, font, fallbackTag);
    if (!shaped)
        return out;
    const double baseline = GlyphSlotFitter::baselineOffset(metrics, cellHeight);
    const double cellLeft = cellWidth * widthFactor * cursor.visualCol;
    const double iconHeight = policy ? scale * metrics.ascent : 0;
    const double firstX = shaped->glyphRuns.front().positions.front().x;
    for (const ShaperGlyphRun& run : shaped->glyphRuns) {
        const platform::FontRef rasterFont = glyphStore_->scaledFontFor(run.font, scale);
        const uint32_t token = glyphStore_->rasterFontToken(rasterFont);
        std::optional<GlyphMetricsFont> metricsFont;
        // A lone glyph of a font that is none of the view's is shrunk to its cell, as in the row.
        const bool fitToCell = !policy && cursor.columnWidth == 1 && shaped->glyphCount == 1 &&
                               !context.fonts.contains(*run.font);
        for (size_t i = 0; i < run.glyphs.size(); ++i) {
            const std::optional<ResolvedGlyph> resolved =
                glyphStore_->glyphEntry(token, rasterFont, run.font, scale, metricsFont, run.glyphs[i]);
            if (!resolved || !(resolved->entry.size.width > 0 && resolved->entry.size.height > 0))
                continue;
            const GlyphSlotFit fit = glyphStore_->glyphSlotFit(
                *resolved, run.glyphs[i], cursor.columnWidth, context.cellDimension, baseline, rasterFont,
                run.font, scale, metricsFont, policy, iconHeight, fitToCell);
            const GlyphEntry& entry = resolved->entry;
            // The character's first glyph at the cell's left edge; a mark keeps its shaped offset
            // from it, so it stays over its base.
            const platform::Point position = run.positions[i];
            const double left = std::round(scale * (cellLeft + widthFactor * fit.dx + (position.x - firstX)) +
                                           entry.bearing.x * fit.scaleX);
            const double bottom = std::round(scale * (cellBottom + baseline + position.y + fit.dy) +
                                             entry.bearing.y * fit.scaleY);
            const double atlasSize = double(glyphStore_->atlas(entry.atlasKind).size());
            const Quad quad{left,
                            bottom,
                            left + entry.size.width * fit.scaleX,
                            bottom + entry.size.height * fit.scaleY,
                            double(entry.region.x) / atlasSize,
                            double(entry.region.y + entry.region.height) / atlasSize,
                            double(entry.region.x + entry.region.width) / atlasSize,
                            double(entry.region.y) / atlasSize};
            const std::optional<Quad> cut = clipRect(quad, block);
            if (!cut)
                continue;
            if (entry.atlasKind == GlyphAtlasKind::color)
                appendQuad(out.glyphVerticesColor, *cut, Float4{1, 1, 1, 1});
            else
                appendQuad(out.glyphVerticesGray, *cut, textColor);
        }
    }
    return out;
}

} // namespace kestrovan
