// MetalTerminalRenderer: the plain-row fast path. A row of printable ASCII in plain fonts (each
// character one glyph of the font itself, whatever its neighbours) is prepared without shaping:
// each column's byte is mapped to its glyph through the font's table, and the row's runs give
// the colours, backgrounds and decorations.
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/RunDecorations.h"

#include <array>
#include <cmath>

namespace kestrovan {

namespace {

/// One of the four fonts as the runs of a row use it.
struct PlainSlot
{
    std::shared_ptr<const PlainTextFont> plain;
    platform::FontRef rasterFont;
    bool isFrameFont = false;
    uint32_t token = 0;
    std::optional<GlyphMetricsFont> metricsFont;
};

} // namespace

std::optional<metal::PreparedRow> MetalTerminalRenderer::preparePlainRow(const TerminalSnapshotRow& row,
                                                                         int64_t absoluteRow,
                                                                         const SnapshotRenderContext& context,
                                                                         double cellWidth, double scale)
{
    const platform::FontRef& normal = context.fonts.normal();
    if (!normal || !plainTextFonts_.plainTextFont(normal))
        return std::nullopt;
    std::optional<PlainRow> plain = textBuilder_.plainRow(row, absoluteRow, context);
    if (!plain)
        return std::nullopt;
    // The analyses of the fonts the runs use; a font that is not plain sends the whole row to the
    // shaping path.
    std::array<PlainSlot, 4> slots;
    for (const PlainRun& run : plain->runs) {
        const size_t index = size_t(std::clamp(run.style.fontIndex, 0, 3));
        if (slots[index].plain)
            continue;
        const platform::FontRef& font = context.fonts.font(int(index));
        if (!font)
            return std::nullopt;
        slots[index].plain = plainTextFonts_.plainTextFont(font);
        if (!slots[index].plain)
            return std::nullopt;
    }

    const auto colorOf = [&](const PlainColor& value) {
        const ColorSIMD simd = value.kind == PlainColor::Kind::rgb ? colorSIMDCache_.lookupRGB(value.rgb)
                                                                   : colorSIMDCache_.lookup(value.color);
        return Float4{simd[0], simd[1], simd[2], simd[3]};
    };
    metal::PreparedRow out;
    out.renderMode = row.line->renderMode();
    const platform::FontMetrics normalMetrics = normal->metrics();
    const double thickness = decorationThickness(normalMetrics.underlineThickness, scale);
    const double cellWidthPx = scale * cellWidth;

    for (const PlainRun& run : plain->runs) {
        if (run.style.selectionBackground)
            out.backgrounds.push_back(
                {run.start, run.end - run.start, color(*run.style.selectionBackground)});
        else if (run.style.explicitBackground)
            out.backgrounds.push_back({run.start, run.end - run.start, colorOf(run.style.background)});
    }
    for (const std::shared_ptr<SnapshotImage>& image : row.images) {
        if (!image)
            continue;
        if (std::shared_ptr<platform::gpu::Texture> texture = imageTextures_->texture(image->image()))
            out.images.push_back(metal::PreparedImage{std::move(texture), image->col(), image->pixelWidth(),
                                                      image->pixelHeight()});
    }

    for (PlainSlot& slot : slots) {
        if (!slot.plain)
            continue;
        const platform::FontRef& shaped = slot.plain->shapedFont();
        slot.rasterFont = glyphStore_->scaledFontFor(shaped, scale);
        slot.isFrameFont = context.fonts.contains(*shaped);
        slot.token = glyphStore_->rasterFontToken(slot.rasterFont);
    }

    for (const PlainRun& run : plain->runs) {
        PlainSlot& slot = slots[size_t(std::clamp(run.style.fontIndex, 0, 3))];
        const Float4 foreground = colorOf(run.style.foreground);
        const platform::FontRef& shaped = slot.plain->shapedFont();
        // Transparent text (concealed, or blinking in its hidden phase) has no ink to draw.
        for (int c = run.start; foreground.w > 0 && c < run.end && c < int(plain->bytes.size()); ++c) {
            const uint8_t byte = plain->bytes[size_t(c)];
            if (byte < PlainTextFont::firstCharacter || byte > PlainTextFont::lastCharacter)
                continue;
            const uint16_t glyph = slot.plain->glyph(byte);
            const std::optional<ResolvedGlyph> resolved =
                glyphStore_->glyphEntry(slot.token, slot.rasterFont, shaped, scale, slot.metricsFont, glyph);
            if (!resolved || !(resolved->entry.size.width > 0 && resolved->entry.size.height > 0))
                continue;
            // A substituted font's glyph wider than the cell is shrunk to it; the frame's own fonts
            // are drawn as they are.
            double fit = 1;
            if (!slot.isFrameFont && cellWidthPx > 0)
                fit = glyphStore_
                          ->glyphSlotFit(*resolved, glyph, 1, context.cellDimension, 0, slot.rasterFont,
                                         shaped, scale, slot.metricsFont, std::nullopt, 0, true)
                          .scaleX;
            const GlyphEntry& entry = resolved->entry;
            const double atlasSize = double(glyphStore_->atlas(entry.atlasKind).size());
            metal::PreparedGlyph prepared;
            prepared.x0 = cellWidthPx * c + entry.bearing.x * fit;
            prepared.x1 = prepared.x0 + entry.size.width * fit;
            prepared.bearingY = entry.bearing.y * fit;
            prepared.height = entry.size.height * fit;
            // v at the glyph's bottom and top edges: the atlas holds its top row first.
            prepared.u0 = float(double(entry.region.x) / atlasSize);
            prepared.u1 = float(double(entry.region.x + entry.region.width) / atlasSize);
            prepared.v0 = float(double(entry.region.y + entry.region.height) / atlasSize);
            prepared.v1 = float(double(entry.region.y) / atlasSize);
            prepared.usesColorAtlas = entry.atlasKind == GlyphAtlasKind::color;
            prepared.color = prepared.usesColorAtlas ? Float4{1, 1, 1, 1} : foreground;
            out.glyphs.push_back(prepared);
        }

        if (!run.style.underline && !run.style.strikethrough)
            continue;
        std::vector<metal::PreparedDecorationSpan> spans;
        for (int c = run.start; c < run.end; ++c)
            spans.push_back({cellWidthPx * c, scale * (cellWidth * c + cellWidth), 0});
        if (run.style.underline) {
            const UnderlineStyle style = run.style.underline->style;
            out.decorations.push_back(metal::PreparedDecoration{
                style, style == UnderlineStyle::double_, colorOf(run.style.underline->color),
                scale * thickness, normalMetrics.underlinePosition, thickness, spans});
        }
        if (run.style.strikethrough) {
            // The slot's own font places its strikethrough, at half its x-height.
            const platform::FontMetrics fontMetrics = context.fonts.font(run.style.fontIndex)->metrics();
            const double strike = decorationThickness(fontMetrics.underlineThickness, scale);
            out.decorations.push_back(metal::PreparedDecoration{
                UnderlineStyle::single, false, colorOf(*run.style.strikethrough), scale * strike,
                (fontMetrics.xHeight + strike) / 2, strike, std::move(spans)});
        }
    }
    return out;
}

} // namespace kestrovan
