// drawCursor: caret shapes, the hollow unfocused box, and the character inside a block caret.
#include "Kestrovan/Apple/CaretDrawing.h"

#include "Kestrovan/Apple/BoxDrawingRenderer.h"
#include "Kestrovan/Apple/PowerlineShapes.h"
#include "Platform/Graphics/DevicePixels.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::Canvas;
using platform::Point;
using platform::Rect;

namespace {

bool isBlock(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::steadyBlock;
}

bool isUnderline(CursorStyle style)
{
    return style == CursorStyle::blinkUnderline || style == CursorStyle::steadyUnderline;
}

/// Draws a Powerline character under a block caret as the shape its cell shows. On double-size
/// rows the shape is drawn at twice the size and the caret's bounds show the half of it that lies
/// on this row. A code point whose shape yields no path leaves the block empty.
void drawPowerlineCharacter(Canvas& canvas, const CaretDrawState& state, uint32_t codePoint,
                            PowerlineGlyph glyph, const platform::Font& font)
{
    using Mode = BufferLine::RenderLineMode;
    const double scale = canvas.scaleFactor();
    const int thicknessPx = BoxDrawingRenderer::baseThicknessPx(scale, font.metrics().underlineThickness);
    const double kx = state.powerlineRenderMode == Mode::single ? 1 : 2;
    const double ky =
        state.powerlineRenderMode == Mode::doubledTop || state.powerlineRenderMode == Mode::doubledDown ? 2
                                                                                                        : 1;
    const Rect& bounds = state.bounds;

    canvas.save();
    canvas.clip(bounds);
    // The top half of a doubled row shows the upper half of a shape two cells high.
    const double shift = state.powerlineRenderMode == Mode::doubledTop ? -bounds.height : 0;
    canvas.translate(bounds.minX(), bounds.minY() + shift);
    canvas.scaleBy(kx, ky);
    const Rect cell{0, 0, bounds.width / kx, bounds.height};
    const std::optional<platform::Path> path = PowerlineShapes::path(codePoint, cell, scale * kx, scale * ky);
    if (path) {
        canvas.save();
        canvas.setFillColor(state.renderTextColor);
        canvas.setStrokeColor(state.renderTextColor);
        canvas.setAntialias(true);
        canvas.clip(platform::snapOutward(cell, scale * kx, scale * ky));
        const double lineWidth = std::max(thicknessPx * ky, 1.0) / (scale * ky);
        PowerlineShapes::paint(canvas, glyph, *path, lineWidth);
        canvas.restore();
    }
    canvas.restore();
}

/// Redraws the character's glyphs in the caret's text colour, each fitted to the caret's cells
/// as the row's text path fits it, on whole device pixels.
void drawCharacter(Canvas& canvas, const CaretDrawState& state, const CaretCharacter& character,
                   const GlyphSlotFitter& view, const platform::Font& font, double baseline)
{
    const platform::ShapedLine& line = character.line;
    const bool cellKnown = view.cellDimension().has_value();
    const int columnWidth = std::max(state.glyphColumnWidth, 1);
    std::vector<platform::GlyphId> glyphs;
    std::vector<Point> origins;
    std::vector<GlyphSlotFit> fits;
    for (const platform::ShapedRun& run : line.runs()) {
        const platform::Font& runFont = run.font ? *run.font : font;
        const std::optional<TerminalGlyphPlacementPolicy>* policy =
            run.sourceRun < character.runPolicies.size() ? &character.runPolicies[run.sourceRun] : nullptr;
        glyphs.clear();
        origins.clear();
        fits.clear();
        for (const platform::ShapedGlyph& shaped : line.glyphs(run)) {
            GlyphSlotFit fit = GlyphSlotFit::identity();
            if (cellKnown) {
                if (policy && *policy)
                    fit = view.glyphSlotFit(runFont, shaped.glyph, columnWidth, **policy);
                else if (columnWidth == 1 && line.glyphs().size() == 1 && !view.isPrimaryFont(runFont))
                    fit = view.fallbackGlyphFit(runFont, shaped.glyph);
                else
                    fit = view.glyphSlotFit(runFont, shaped.glyph, columnWidth);
            }
            // The glyph keeps its shaped offset, so a combining mark stays over its base.
            const Point origin{shaped.x + fit.dx, baseline + shaped.y + fit.dy};
            glyphs.push_back(shaped.glyph);
            origins.push_back(canvas.roundToDevicePixels(origin));
            fits.push_back(fit);
        }
        drawFittedGlyphs(canvas, runFont, glyphs, origins, fits);
    }
}

} // namespace

void drawCursor(Canvas& canvas, const CaretDrawState& state, const GlyphSlotFitter& view, bool hasFocus)
{
    if (!state.character)
        return;
    const Rect bounds = state.bounds.standardized();
    canvas.save();
    canvas.clip(bounds);
    canvas.clearRect(bounds);

    if (!hasFocus) {
        // A 3-point stroke centred on the bounds, clipped to them: a 1.5-point hollow box in
        // every style, and no character.
        canvas.setStrokeColor(state.renderCursorColor);
        canvas.setLineWidth(3.0);
        canvas.strokeRect(bounds);
        canvas.restore();
        return;
    }

    // Underline along the bottom edge, bar along the left: 2 points, enough to see at any scale
    // without covering the character's strokes.
    canvas.setFillColor(state.renderCursorColor);
    if (isBlock(state.style))
        canvas.fillRect(bounds);
    else if (isUnderline(state.style))
        canvas.fillRect(Rect{bounds.x, bounds.y, bounds.width, 2});
    else
        canvas.fillRect(Rect{bounds.x, bounds.y, 2, bounds.height});
    if (!isBlock(state.style)) {
        // Underline and bar leave the character beneath them as the row drew it.
        canvas.restore();
        return;
    }

    const platform::FontRef& fontRef = state.renderNormalFont ? state.renderNormalFont : view.fonts().normal;
    if (!fontRef) {
        canvas.restore();
        return;
    }
    const platform::Font& font = *fontRef;
    const double cellHeight = view.cellDimension() ? view.cellDimension()->height : bounds.height;
    const double baseline = bounds.y + GlyphSlotFitter::baselineOffset(font.metrics(), cellHeight);

    // The character's own colours are not used: inside the block it takes the caret's text colour,
    // so it stays readable whatever colour the caret is.
    canvas.setFillColor(state.renderTextColor);
    if (state.powerlineCodePoint && state.renderCustomBlockGlyphs) {
        if (const std::optional<PowerlineGlyph> glyph = PowerlineRenderer::glyph(*state.powerlineCodePoint)) {
            drawPowerlineCharacter(canvas, state, *state.powerlineCodePoint, *glyph, font);
            canvas.restore();
            return;
        }
    }
    canvas.save();
    canvas.translate(bounds.x, 0);
    drawCharacter(canvas, state, *state.character, view, font, baseline);
    canvas.restore();
    canvas.restore();
}

} // namespace kestrovan
