// Row drawing of the CPU path: preparing a row's glyph runs and painting them in layers.
#include "Kestrovan/Apple/RowDrawing.h"

#include "Kestrovan/Apple/CoreGraphicsRenderCache.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::NativeColor;
using platform::Point;
using platform::Rect;

namespace {

/// The cell a glyph draws: its cluster's entry in the segment's map; an index past the map takes
/// the last entry (0 for an empty map), never below 0.
int cellOrdinal(const ViewLineSegment& segment, uint32_t cluster)
{
    const std::vector<int>& map = segment.utf16ToCellOrdinal;
    if (map.empty())
        return 0;
    return std::max(cluster < map.size() ? map[cluster] : map.back(), 0);
}

/// Lays a run's glyphs on the cell grid and fits the ones that need it. The first glyph of each cell
/// goes to the cell's left edge; later glyphs of the same cell (combining marks, the rest of a
/// cluster) keep their shaped distance from it. So the grid, not the fonts' advances, decides where
/// text goes, and a fallback font with other advances cannot drift the columns.
void placeGlyphs(PreparedRun& run, const platform::ShapedLine& line, const platform::ShapedRun& shaped,
                 const ViewLineSegment& segment, const RowDrawingContext& frame,
                 const std::optional<TerminalGlyphPlacementPolicy>& policy)
{
    const std::span<const platform::ShapedGlyph> glyphs = line.glyphs(shaped);
    const double cellWidth = frame.cellSize.width;
    const double segmentLeft = cellWidth * segment.column;
    const double cellStep = cellWidth * segment.columnWidth;
    run.glyphs.reserve(glyphs.size());
    run.positions.reserve(glyphs.size());

    std::vector<int> cells(glyphs.size());
    for (size_t i = 0; i < glyphs.size(); ++i)
        cells[i] = cellOrdinal(segment, glyphs[i].cluster);

    // Which glyphs get fitted: every glyph of a run with a placement policy or of wide cells; in a
    // font that is none of the view's own, a cell's only glyph (its advance may be wider than the
    // cell); otherwise none, the common case, which skips the font queries altogether.
    const platform::Font& font = *run.font;
    const bool fitEvery = policy || segment.columnWidth > 1;
    const bool fitFallback = !fitEvery && !frame.fitter.isPrimaryFont(font);
    if (fitEvery || fitFallback)
        run.fits.assign(glyphs.size(), GlyphSlotFit::identity());

    double anchor = 0;
    for (size_t i = 0; i < glyphs.size(); ++i) {
        const platform::ShapedGlyph& glyph = glyphs[i];
        const bool startsCell = i == 0 || cells[i] != cells[i - 1];
        if (startsCell)
            anchor = glyph.x;
        Point position{glyph.x - anchor + segmentLeft + cellStep * cells[i], glyph.y};
        if (fitEvery) {
            run.fits[i] = policy ? frame.fitter.glyphSlotFit(font, glyph.glyph, segment.columnWidth, *policy)
                                 : frame.fitter.glyphSlotFit(font, glyph.glyph, segment.columnWidth);
        } else if (fitFallback && startsCell) {
            // Only a glyph alone in its cell: the next glyph (or the run's end) starts the next cell.
            const int next = i + 1 < glyphs.size() ? cells[i + 1] : run.sourceCells.second;
            if (next == cells[i] + 1)
                run.fits[i] = frame.fitter.fallbackGlyphFit(font, glyph.glyph);
        }
        if (!run.fits.empty()) {
            position.x += run.fits[i].dx;
            position.y += run.fits[i].dy;
        }
        run.glyphs.push_back(glyph.glyph);
        run.positions.push_back(position);
    }
    // Identity fits draw exactly as no fits, in one call.
    if (std::all_of(run.fits.begin(), run.fits.end(),
                    [](const GlyphSlotFit& fit) { return fit.isUnscaled(); }))
        run.fits.clear();

    if (run.hasDecorations && !glyphs.empty()) {
        for (int cell = run.sourceCells.first; cell < run.sourceCells.second; ++cell)
            run.cellLeftEdges.push_back(segmentLeft + cellStep * cell);
        run.decorationY = glyphs.front().y;
        run.cellStep = cellStep;
    }
}

RunDecorationStyle decorationStyle(const SnapshotTextAttributes& attributes)
{
    RunDecorationStyle style;
    style.underlineStyle = attributes.underlineStyle;
    style.terminalUnderlineStyle = attributes.kestrovanUnderlineStyle;
    style.underlineColor = attributes.underlineColor;
    style.strikethroughStyle = attributes.strikethroughStyle;
    style.strikethroughColor = attributes.strikethroughColor;
    style.font = attributes.font;
    return style;
}

/// The cell backgrounds of the row's runs, with hard edges so neighbouring cells meet exactly.
/// With translucent backgrounds a fill replaces what is under it, alpha included: the frame was
/// filled with the translucent default background, and a cell's own translucent colour must not be
/// laid over that a second time.
void drawBackgrounds(platform::Canvas& canvas, const PreparedRow& row, double rowY,
                     const RowDrawingContext& frame)
{
    canvas.save();
    canvas.setAntialias(false);
    if (frame.context->translucentCellBackgroundAlpha)
        canvas.setBlendMode(platform::BlendMode::copy);
    for (const PreparedRun& run : row.runs) {
        if (!run.hasExplicitBackground || !run.backgroundColor || !(run.right > run.left))
            continue;
        canvas.setFillColor(*run.backgroundColor);
        canvas.fillRect(Rect{run.left, rowY, run.right - run.left, frame.cellSize.height});
    }
    canvas.restore();
}

void drawCustomGlyphs(platform::Canvas& canvas, const ViewLineInfo& info, double rowY,
                      BufferLine::RenderLineMode renderMode, const RowDrawingContext& frame)
{
    const Point origin{0, rowY};
    if (!info.boxDrawings.empty())
        drawBoxDrawings(info.boxDrawings, origin, frame.customGlyphs, canvas);
    if (!info.blockElements.empty())
        drawBlockElements(info.blockElements, origin, frame.customGlyphs, canvas);
    if (!info.powerlineGlyphs.empty())
        drawPowerlineGlyphs(info.powerlineGlyphs, origin, renderMode, frame.customGlyphs, canvas);
}

/// The glyphs of every run, each on whole device pixels, then the run's decorations.
void drawText(platform::Canvas& canvas, const PreparedRow& row, double rowY, const RowDrawingContext& frame)
{
    // Kept between rows and frames so that drawing text allocates nothing once warmed up.
    thread_local std::vector<Point> snapped;
    thread_local std::vector<Point> cellOrigins;
    const double baseline = rowY + frame.baselineOffset;
    for (const PreparedRun& run : row.runs) {
        if (run.glyphs.empty())
            continue;
        // Concealed text and blinking text in its hidden phase come as fully transparent text:
        // there is nothing to draw.
        if (run.foregroundColor.alpha > 0) {
            snapped.clear();
            for (const Point& position : run.positions)
                snapped.push_back(canvas.roundToDevicePixels(Point{position.x, baseline + position.y}));
            canvas.setFillColor(run.foregroundColor);
            drawFittedGlyphs(canvas, *run.font, run.glyphs, snapped, run.fits);
        }
        if (run.hasDecorations && run.attributes) {
            cellOrigins.clear();
            for (const double left : run.cellLeftEdges)
                cellOrigins.push_back(Point{left, baseline + run.decorationY});
            drawRunAttributes(canvas, decorationStyle(*run.attributes), cellOrigins, run.cellStep,
                              frame.decorations);
        }
    }
}

/// The row's inline images, each hung from the row's top edge at its column.
void drawLineImages(platform::Canvas& canvas, const ViewLineInfo& info, double rowY,
                    const RowDrawingContext& frame)
{
    for (const std::shared_ptr<SnapshotImage>& image : info.images) {
        if (!image || image->pixelWidth() < 1 || image->pixelHeight() < 1)
            continue;
        const double height = image->pixelHeight();
        canvas.drawImage(image->image(),
                         Rect{frame.cellSize.width * image->col(), rowY + frame.cellSize.height - height,
                              double(image->pixelWidth()), height});
    }
}

/// Sets up a doubled line's transform. Double width stretches the row across; the two halves of
/// double height draw the line at twice the size clipped to the row, shifted so that the row shows
/// its top or its bottom half.
void applyRenderMode(platform::Canvas& canvas, BufferLine::RenderLineMode mode, double rowY, double rowHeight,
                     double rowWidth)
{
    using Mode = BufferLine::RenderLineMode;
    switch (mode) {
    case Mode::single:
        break;
    case Mode::doubleWidth:
        canvas.scaleBy(2, 1);
        break;
    case Mode::doubledTop:
        canvas.clip(Rect{0, rowY, rowWidth, rowHeight});
        canvas.translate(0, rowY + rowHeight);
        canvas.scaleBy(2, 2);
        canvas.translate(0, -(rowY + rowHeight));
        break;
    case Mode::doubledDown:
        canvas.clip(Rect{0, rowY, rowWidth, rowHeight});
        canvas.translate(0, rowY);
        canvas.scaleBy(2, 2);
        canvas.translate(0, -rowY);
        break;
    }
}

} // namespace

RowDrawingContext RowDrawingContext::make(const SnapshotRenderContext& context, platform::Size cellSize,
                                          double scale)
{
    RowDrawingContext frame;
    frame.context = &context;
    frame.cellSize = cellSize;
    frame.scale = scale;
    const FrameFontSet& fonts = context.fonts;
    frame.fitter = GlyphSlotFitter(
        platform::FontSet{fonts.normal(), fonts.bold(), fonts.italic(), fonts.boldItalic()}, cellSize);
    const platform::FontMetrics metrics =
        fonts.normal() ? fonts.normal()->metrics() : platform::FontMetrics{};
    frame.baselineOffset = GlyphSlotFitter::baselineOffset(metrics, cellSize.height);
    frame.decorations = DecorationContext{fonts.normal(), context.effectiveForegroundColor};
    frame.customGlyphs =
        CustomGlyphMetrics{cellSize, metrics.underlineThickness, scale, context.antiAliasCustomBlockGlyphs};
    frame.kitty = KittyRowGeometry{cellSize, scale, context.cols};
    return frame;
}

PreparedRow prepareRow(ViewLineInfo info, CoreGraphicsRenderCache& renderCache,
                       const RowDrawingContext& frame)
{
    PreparedRow row;
    row.info = std::move(info);
    const SnapshotRenderContext& context = *frame.context;
    const double cellWidth = frame.cellSize.width;
    for (const ViewLineSegment& segment : row.info.segments) {
        if (segment.attributedString.empty())
            continue;
        const std::shared_ptr<const platform::ShapedLine> line = renderCache.line(segment.attributedString);
        const auto& attributedRuns = segment.attributedString.runs();
        for (const platform::ShapedRun& shaped : line->runs()) {
            PreparedRun run;
            const SnapshotTextAttributesRef attributes = shaped.sourceRun < attributedRuns.size()
                                                             ? attributedRuns[shaped.sourceRun].attributes
                                                             : nullptr;
            run.attributes = attributes;
            run.font = shaped.font                      ? shaped.font
                       : attributes && attributes->font ? attributes->font
                                                        : context.fonts.normal();
            if (!run.font)
                continue;
            run.foregroundColor = attributes ? attributes->foregroundColor : context.effectiveForegroundColor;
            if (attributes) {
                // A selected cell is filled with the selection; otherwise only a cell with a colour
                // of its own paints one, and the default background is left to the frame.
                if (attributes->selectionBackgroundColor) {
                    run.backgroundColor = attributes->selectionBackgroundColor;
                    run.hasExplicitBackground = true;
                } else {
                    run.backgroundColor = attributes->backgroundColor;
                    run.hasExplicitBackground = attributes->explicitBackground;
                }
                run.hasDecorations = attributes->underlineStyle != 0 || attributes->strikethroughStyle != 0;
            }
            run.sourceCells =
                segment.cellOrdinals(int(shaped.textStart), int(shaped.textEnd - shaped.textStart));
            run.left = cellWidth * (segment.column + run.sourceCells.first * segment.columnWidth);
            run.right = cellWidth * (segment.column + run.sourceCells.second * segment.columnWidth);
            placeGlyphs(run, *line, shaped, segment, frame,
                        attributes ? attributes->glyphPolicy : std::optional<TerminalGlyphPlacementPolicy>());
            row.runs.push_back(std::move(run));
        }
    }
    return row;
}

void drawRow(platform::Canvas& canvas, const PreparedRow& row, int64_t screenRow, double rowY,
             BufferLine::RenderLineMode renderMode, const RowDrawingContext& frame,
             const RowKittyGraphics& kitty)
{
    const double rowWidth = frame.cellSize.width * frame.context->cols;
    canvas.save();
    applyRenderMode(canvas, renderMode, rowY, frame.cellSize.height, rowWidth);
    const bool hasPlacements = kitty.snapshot && kitty.cache && !kitty.snapshot->placements.empty();
    const auto placements = [&](KittyPlacementLayer layer) {
        if (hasPlacements)
            drawKittyPlacements(canvas, screenRow, rowY, layer, *kitty.snapshot, *kitty.cache, frame.kitty);
    };

    placements(KittyPlacementLayer::belowBackgrounds);
    drawBackgrounds(canvas, row, rowY, frame);
    placements(KittyPlacementLayer::belowText);
    drawCustomGlyphs(canvas, row.info, rowY, renderMode, frame);
    drawText(canvas, row, rowY, frame);
    if (hasPlacements && kitty.virtualPlacements && !row.info.kittyPlaceholders.empty())
        drawKittyPlaceholders(canvas, row.info.kittyPlaceholders, rowY, *kitty.virtualPlacements,
                              *kitty.snapshot, *kitty.cache, frame.kitty);
    placements(KittyPlacementLayer::aboveText);
    drawLineImages(canvas, row.info, rowY, frame);
    canvas.restore();
}

} // namespace kestrovan
