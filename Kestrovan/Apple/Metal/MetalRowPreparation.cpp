// MetalTerminalRenderer: preparing a row on the shaping path. The row builder gives the row as
// attributed segments plus the cells the renderer draws itself; every attribute range is shaped
// (through the shaper cache), its glyphs placed on the cell grid, fitted to their slots and packed
// in the atlases, and its background and decorations recorded.
#include "Kestrovan/Apple/BoxDrawingRenderer.h"
#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/RunDecorations.h"
#include "Kestrovan/Profiling.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

/// Ends a profiling interval however the scope is left.
struct IntervalScope
{
    ProfilingInterval interval;
    ~IntervalScope() { interval.end(); }
};

/// One attribute range of a segment, shaped.
struct ShapedRun
{
    SnapshotTextAttributesRef attributes;
    /// Where the range starts in the segment's text.
    uint32_t utf16Offset = 0;
    /// The half-open range of the segment's cells it covers.
    std::pair<int, int> sourceCells{0, 0};
    std::shared_ptr<const ShaperRun> shaperRun;
};

struct ShapedSegment
{
    const ViewLineSegment* segment = nullptr;
    std::vector<ShapedRun> runs;
};

/// The cell a UTF-16 index of the segment draws: its entry in the segment's map; past the map
/// the last entry (0 for an empty map), never below 0.
int cellOrdinal(const ViewLineSegment& segment, size_t index)
{
    const std::vector<int>& map = segment.utf16ToCellOrdinal;
    if (map.empty())
        return 0;
    return std::max(index < map.size() ? map[index] : map.back(), 0);
}

/// The atlas corners of a region, v at the glyph's bottom and top edges: the atlas holds a
/// glyph's top row at the region's first row.
void regionCorners(const AtlasRegion& region, double atlasSize, float& u0, float& v0, float& u1, float& v1)
{
    u0 = float(double(region.x) / atlasSize);
    u1 = float(double(region.x + region.width) / atlasSize);
    v0 = float(double(region.y + region.height) / atlasSize);
    v1 = float(double(region.y) / atlasSize);
}

Float4 float4(const ColorSIMD& color)
{
    return Float4{color[0], color[1], color[2], color[3]};
}

} // namespace

Float4 MetalTerminalRenderer::color(const platform::NativeColor& value)
{
    return float4(colorSIMDCache_.lookup(value));
}

metal::PreparedRow MetalTerminalRenderer::prepareRow(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                                     const SnapshotRenderContext& context, double cellWidth,
                                                     double cellHeight, double yOffset, double scale)
{
    if (plainTextEnabled) {
        const IntervalScope plainInterval{ProfilingInterval::begin(ProfilingEvent::rowPlain)};
        if (std::optional<metal::PreparedRow> plain =
                preparePlainRow(row, absoluteRow, context, cellWidth, scale))
            return std::move(*plain);
    }
    metal::PreparedRow out;
    out.renderMode = row.line->renderMode();
    ViewLineInfo info;
    {
        const IntervalScope building{ProfilingInterval::begin(ProfilingEvent::rowAttributedString)};
        info = textBuilder_.buildAttributedString(row, absoluteRow, context);
    }
    const platform::FontRef& normal = context.fonts.normal();
    if (!normal)
        return out;
    const platform::FontMetrics normalMetrics = normal->metrics();
    const int cellWidthPx = std::max(1, int(std::lround(cellWidth * scale)));
    const int cellHeightPx = std::max(1, int(std::lround(cellHeight * scale)));
    const double thickness = decorationThickness(normalMetrics.underlineThickness, scale);

    // Box drawing, block elements and Powerline cells, drawn by the program into the grey atlas.
    if (!info.boxDrawings.empty() || !info.blockElements.empty() || !info.powerlineGlyphs.empty()) {
        const int baseThicknessPx =
            BoxDrawingRenderer::baseThicknessPx(scale, normalMetrics.underlineThickness);
        const auto add = [&](std::vector<metal::PreparedCustomGlyph>& items, const auto& item, int widthPx,
                             int thicknessPx, bool antiAlias) {
            const std::optional<CustomGlyphEntry> entry = glyphStore_->customGlyphEntry(
                item.codePoint, widthPx, cellHeightPx, scale, thicknessPx, antiAlias);
            if (!entry)
                return;
            metal::PreparedCustomGlyph glyph;
            glyph.column = item.column;
            glyph.columnWidth = item.columnWidth;
            glyph.itemWidthPx = widthPx;
            glyph.entrySize = entry->size;
            glyph.codePoint = item.codePoint;
            regionCorners(entry->region, double(grayscaleAtlas_->size()), glyph.u0, glyph.v0, glyph.u1,
                          glyph.v1);
            glyph.color = color(item.foregroundColor);
            items.push_back(glyph);
        };
        for (const BoxDrawingRenderItem& item : info.boxDrawings)
            add(out.boxDrawings, item, cellWidthPx * item.columnWidth, baseThicknessPx, false);
        const bool smoothBlocks = context.antiAliasCustomBlockGlyphs;
        for (const BlockElementRenderItem& item : info.blockElements) {
            const int width = smoothBlocks
                                  ? std::max(1, int(std::lround(cellWidth * scale * item.columnWidth)))
                                  : cellWidthPx * item.columnWidth;
            add(out.blockElements, item, width, 0, smoothBlocks);
        }
        for (const PowerlineRenderItem& item : info.powerlineGlyphs)
            add(out.powerlineGlyphs, item, cellWidthPx * item.columnWidth, baseThicknessPx, true);
    }

    for (const std::shared_ptr<SnapshotImage>& image : info.images) {
        if (!image)
            continue;
        if (std::shared_ptr<platform::gpu::Texture> texture = imageTextures_->texture(image->image()))
            out.images.push_back(metal::PreparedImage{std::move(texture), image->col(), image->pixelWidth(),
                                                      image->pixelHeight()});
    }
    out.kittyPlaceholders = std::move(info.kittyPlaceholders);

    // Every attribute range of every segment shaped in its font, left to right.
    std::vector<ShapedSegment> shaped;
    {
        const IntervalScope shaping{ProfilingInterval::begin(ProfilingEvent::rowShape)};
        for (const ViewLineSegment& segment : info.segments) {
            if (segment.attributedString.empty())
                continue;
            ShapedSegment shapedSegment{&segment, {}};
            const std::u16string& text = segment.attributedString.text();
            uint32_t offset = 0;
            for (const auto& range : segment.attributedString.runs()) {
                const uint32_t start = offset;
                offset += range.length;
                if (range.length == 0)
                    continue;
                const platform::FontRef& font =
                    range.attributes && range.attributes->font ? range.attributes->font : normal;
                // A glyph-fallback provider's font keeps its shaped runs apart from the same face
                // set in the terminal font.
                const uint64_t fallbackTag =
                    range.attributes && range.attributes->glyphPolicy ? font->id() : 0;
                std::shared_ptr<const ShaperRun> run = shaperCache_.shape(
                    std::u16string_view(text).substr(start, range.length), font, fallbackTag);
                if (run)
                    shapedSegment.runs.push_back(
                        ShapedRun{range.attributes, start,
                                  segment.cellOrdinals(int(start), int(range.length)), std::move(run)});
            }
            if (!shapedSegment.runs.empty())
                shaped.push_back(std::move(shapedSegment));
        }
    }

    for (const ShapedSegment& shapedSegment : shaped) {
        const ViewLineSegment& segment = *shapedSegment.segment;
        for (const ShapedRun& run : shapedSegment.runs) {
            const SnapshotTextAttributes* attributes = run.attributes.get();
            if (run.shaperRun->glyphCount == 0)
                continue;
            // A selected cell is filled with the selection; otherwise only a cell with a colour of
            // its own paints one, and the default background is left to the clear colour.
            if (attributes && (attributes->selectionBackgroundColor || attributes->explicitBackground)) {
                const int start = segment.column + run.sourceCells.first * segment.columnWidth;
                const int span = segment.column + run.sourceCells.second * segment.columnWidth - start;
                if (span >= 1)
                    out.backgrounds.push_back(metal::PreparedBackground{
                        start, span,
                        color(attributes->selectionBackgroundColor ? *attributes->selectionBackgroundColor
                                                                   : attributes->backgroundColor)});
            }
        }
    }

    for (const ShapedSegment& shapedSegment : shaped) {
        const ViewLineSegment& segment = *shapedSegment.segment;
        for (const ShapedRun& run : shapedSegment.runs) {
            const SnapshotTextAttributes* attributes = run.attributes.get();
            const ShaperRun& shaperRun = *run.shaperRun;
            if (shaperRun.glyphCount == 0)
                continue;
            const platform::FontRef& runFont = attributes && attributes->font ? attributes->font : normal;
            const platform::NativeColor& foregroundColor =
                attributes ? attributes->foregroundColor : context.effectiveForegroundColor;
            const Float4 foreground = color(foregroundColor);
            const std::optional<TerminalGlyphPlacementPolicy> policy =
                attributes ? attributes->glyphPolicy : std::nullopt;
            const double iconHeight = policy ? scale * normalMetrics.ascent : 0;
            const double decorationY = shaperRun.glyphRuns.front().positions.empty()
                                           ? 0
                                           : shaperRun.glyphRuns.front().positions.front().y;
            // Concealed text and blinking text in its hidden phase come fully transparent: nothing
            // of it is drawn, colour glyphs (which ignore the colour) included.
            const bool inkVisible = foregroundColor.alpha > 0;
            const auto ordinalAt = [&](uint32_t stringIndex) {
                return cellOrdinal(segment, size_t(run.utf16Offset) + stringIndex);
            };

            std::optional<int> anchorOrdinal;
            double anchorX = 0;
            for (size_t g = 0; inkVisible && g < shaperRun.glyphRuns.size(); ++g) {
                const ShaperGlyphRun& glyphRun = shaperRun.glyphRuns[g];
                const bool fallback =
                    !policy && segment.columnWidth == 1 && !context.fonts.contains(*glyphRun.font);
                const platform::FontRef rasterFont = glyphStore_->scaledFontFor(glyphRun.font, scale);
                const uint32_t token = glyphStore_->rasterFontToken(rasterFont);
                const uint32_t fullToken =
                    glyphStore_->profileFullFontToken(rasterFont, glyphRun.font, scale, token);
                std::optional<GlyphMetricsFont> metricsFont;
                for (size_t i = 0; i < glyphRun.glyphs.size(); ++i) {
                    const uint16_t glyph = glyphRun.glyphs[i];
                    glyphStore_->recordProfileGlyphIdentityAlias(fullToken, token, glyph);
                    const std::optional<ResolvedGlyph> resolved =
                        glyphStore_->glyphEntry(token, rasterFont, glyphRun.font, scale, metricsFont, glyph);
                    if (!resolved || !(resolved->entry.size.width > 0 && resolved->entry.size.height > 0))
                        continue;
                    const int ordinal = ordinalAt(glyphRun.stringIndices[i]);
                    bool fitToCell = false;
                    if (fallback) {
                        // A glyph alone in its cell: not sharing the cell with the glyph before
                        // it, and the next glyph (or the run's end) starting the next cell.
                        std::optional<int> previous;
                        if (i > 0)
                            previous = ordinalAt(glyphRun.stringIndices[i - 1]);
                        else if (g > 0)
                            previous = ordinalAt(shaperRun.glyphRuns[g - 1].stringIndices.back());
                        int next = run.sourceCells.second;
                        if (i + 1 < glyphRun.glyphs.size())
                            next = ordinalAt(glyphRun.stringIndices[i + 1]);
                        else if (g + 1 < shaperRun.glyphRuns.size())
                            next = ordinalAt(shaperRun.glyphRuns[g + 1].stringIndices.front());
                        fitToCell = previous != ordinal && next == ordinal + 1;
                    }
                    const GlyphSlotFit fit = glyphStore_->glyphSlotFit(
                        *resolved, glyph, segment.columnWidth, context.cellDimension, yOffset, rasterFont,
                        glyphRun.font, scale, metricsFont, policy, iconHeight, fitToCell);
                    // The first glyph of a cell sits at the cell's origin; the rest of its cluster
                    // keeps its shaped distance from it.
                    const double x = glyphRun.positions[i].x;
                    if (anchorOrdinal != ordinal) {
                        anchorOrdinal = ordinal;
                        anchorX = x;
                    }
                    const GlyphEntry& entry = resolved->entry;
                    metal::PreparedGlyph prepared;
                    prepared.x0 = scale * (cellWidth * (segment.column + ordinal * segment.columnWidth) +
                                           (x - anchorX) + fit.dx) +
                                  entry.bearing.x * fit.scaleX;
                    prepared.x1 = prepared.x0 + entry.size.width * fit.scaleX;
                    prepared.coreTextY = glyphRun.positions[i].y;
                    prepared.fitDY = fit.dy;
                    prepared.bearingY = entry.bearing.y * fit.scaleY;
                    prepared.height = entry.size.height * fit.scaleY;
                    regionCorners(entry.region, double(glyphStore_->atlas(entry.atlasKind).size()),
                                  prepared.u0, prepared.v0, prepared.u1, prepared.v1);
                    prepared.color =
                        entry.atlasKind == GlyphAtlasKind::color ? Float4{1, 1, 1, 1} : foreground;
                    prepared.usesColorAtlas = entry.atlasKind == GlyphAtlasKind::color;
                    out.glyphs.push_back(prepared);
                }
            }

            if (!attributes || (attributes->underlineStyle == 0 && attributes->strikethroughStyle == 0))
                continue;
            std::vector<metal::PreparedDecorationSpan> spans;
            for (int c = run.sourceCells.first; c < run.sourceCells.second; ++c) {
                const double x0 = scale * cellWidth * (segment.column + c * segment.columnWidth);
                spans.push_back({x0, x0 + scale * cellWidth * segment.columnWidth, decorationY});
            }
            if (attributes->underlineStyle != 0) {
                // The normal font places every underline, so underlines stay one straight line
                // across runs of bold, italic and fallback text.
                UnderlineStyle style =
                    resolveUnderlineStyle(attributes->kestrovanUnderlineStyle, attributes->underlineStyle);
                const bool isDouble = style == UnderlineStyle::double_;
                if (isDouble)
                    style = UnderlineStyle::single;
                out.decorations.push_back(metal::PreparedDecoration{
                    style, isDouble,
                    color(attributes->underlineColor.value_or(context.effectiveForegroundColor)),
                    scale * thickness, normalMetrics.underlinePosition, thickness, spans});
            }
            if (attributes->strikethroughStyle != 0) {
                using namespace DecorationStyleBits;
                const int value = attributes->strikethroughStyle;
                const UnderlineStyle style = (value & patternDot) ? UnderlineStyle::dotted
                                             : (value & (patternDash | patternDashDotDot)) == 0
                                                 ? UnderlineStyle::single
                                                 : UnderlineStyle::dashed;
                // The run's own font places its strikethrough, at half its x-height.
                const platform::FontMetrics runMetrics = runFont->metrics();
                const double strike = decorationThickness(runMetrics.underlineThickness, scale);
                out.decorations.push_back(metal::PreparedDecoration{
                    style, (value & 9) == 9,
                    color(attributes->strikethroughColor.value_or(context.effectiveForegroundColor)),
                    scale * strike, (runMetrics.xHeight + strike) / 2, strike, std::move(spans)});
            }
        }
    }
    return out;
}

} // namespace kestrovan
