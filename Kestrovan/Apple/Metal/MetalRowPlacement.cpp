#include "Kestrovan/Apple/Metal/MetalRowPlacement.h"

#include "Kestrovan/Apple/KittyPlacementDrawing.h"
#include "Kestrovan/Apple/Metal/ImageGeometry.h"
#include "Kestrovan/Apple/Metal/QuadGeometry.h"
#include "Kestrovan/Apple/Metal/UnderlineDecorations.h"
#include "Kestrovan/Apple/PowerlineShapes.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

using Mode = BufferLine::RenderLineMode;

/// Rounds half away from zero, as every pixel size here does.
double roundPixels(double value)
{
    return std::round(value);
}

/// Everything of one placement call that does not change from item to item.
struct Placement
{
    const metal::PreparedRow& row;
    const SnapshotRenderContext& context;
    const RowPlacementMetrics& metrics;
    RowDrawData& out;
    int64_t screenRow = 0;
    double cellWidthPx = 1;
    double cellHeightPx = 1;
    double rowBottom = 0;
    double rowBottomPx = 0;
    double baseline = 0;
    double pivot = 0;
    ClipRect band;
    /// The band for doubled-height rows, which are clipped to it; none for the others.
    std::optional<ClipRect> clip;

    Placement(const metal::PreparedRow& row, int64_t screenRow, const SnapshotRenderContext& context,
              const RowPlacementMetrics& metrics, RowDrawData& out)
        : row(row), context(context), metrics(metrics), out(out), screenRow(screenRow)
    {
        const double s = metrics.scale;
        cellWidthPx = std::max(1.0, roundPixels(metrics.cellWidth * s));
        cellHeightPx = std::max(1.0, roundPixels(metrics.cellHeight * s));
        rowBottom = context.viewBounds.height - metrics.cellHeight * double(screenRow + 1);
        rowBottomPx = rowBottom * s;
        baseline = rowBottom + metrics.yOffset;
        // The top half of a doubled line grows down from the row's top edge, the bottom half up
        // from its bottom edge.
        pivot = row.renderMode == Mode::doubledTop    ? (rowBottom + metrics.cellHeight) * s
                : row.renderMode == Mode::doubledDown ? rowBottomPx
                                                      : 0;
        band = ClipRect{0, float(rowBottomPx), float(metrics.viewWidthPx),
                        float(rowBottomPx + metrics.cellHeight * s)};
        if (isDoubleHeight(row.renderMode))
            clip = band;
    }

    Quad transformed(const Quad& quad) const { return transformForLineMode(quad, row.renderMode, pivot); }

    void addTextCell(std::vector<TextCell>& cells, const std::optional<Quad>& quad, Float4 color) const
    {
        if (!quad)
            return;
        cells.push_back(TextCell{{float(quad->x0), float(quad->y0)},
                                 {float(quad->x1 - quad->x0), float(quad->y1 - quad->y0)},
                                 {float(quad->u0), float(quad->v0)},
                                 {float(quad->u1 - quad->u0), float(quad->v1 - quad->v0)},
                                 color});
    }

    void addColorCell(std::vector<ColorCell>& cells, const std::optional<Quad>& quad, Float4 color) const
    {
        if (!quad)
            return;
        cells.push_back(ColorCell{{float(quad->x0), float(quad->y0)},
                                  {float(quad->x1 - quad->x0), float(quad->y1 - quad->y0)},
                                  color});
    }

    /// A custom-drawn cell: its quad with the atlas corners of its bitmap.
    void customGlyph(const metal::PreparedCustomGlyph& item, double x0, double x1, double y0, double y1)
    {
        addTextCell(out.glyphCellsGray,
                    clipRect(transformed(Quad{x0, y0, x1, y1, item.u0, item.v0, item.u1, item.v1}), clip),
                    item.color);
    }

    void customGlyphs()
    {
        const double s = metrics.scale;
        const bool smooth = context.antiAliasCustomBlockGlyphs;
        for (const metal::PreparedCustomGlyph& item : row.boxDrawings) {
            const double x0 = item.column * cellWidthPx;
            const double y0 = roundPixels(rowBottomPx);
            customGlyph(item, x0, x0 + item.itemWidthPx, y0,
                        y0 + (smooth ? metrics.cellHeight * s : cellHeightPx));
        }
        for (const metal::PreparedCustomGlyph& item : row.blockElements) {
            if (smooth) {
                // Smooth blocks keep the cell's fractional width.
                const double x0 = item.column * metrics.cellWidth * s;
                customGlyph(item, x0, x0 + item.columnWidth * metrics.cellWidth * s, rowBottomPx,
                            rowBottomPx + cellHeightPx);
            } else {
                const double x0 = item.column * cellWidthPx;
                const double y0 = roundPixels(rowBottomPx);
                customGlyph(item, x0, x0 + item.itemWidthPx, y0, y0 + cellHeightPx);
            }
        }
        for (const metal::PreparedCustomGlyph& item : row.powerlineGlyphs) {
            const double x0 = item.column * metrics.cellWidth * s;
            const Quad quad =
                transformed(Quad{x0, rowBottomPx, x0 + item.entrySize.width,
                                 rowBottomPx + item.entrySize.height, item.u0, item.v0, item.u1, item.v1});
            addTextCell(out.glyphCellsGray, clipRect(quad, clip), item.color);
            // One hard pixel of the shape's colour outside its flat base edge closes the hairline
            // between a solid shape and the neighbouring cell.
            const platform::Rect cell{quad.x0, quad.y0, quad.x1 - quad.x0, quad.y1 - quad.y0};
            if (const std::optional<platform::Rect> join =
                    PowerlineShapes::devicePixelJoinRect(item.codePoint, cell))
                addColorCell(out.powerlineJoinCells,
                             clipRect(Quad{join->minX(), join->minY(), join->maxX(), join->maxY()}, clip),
                             item.color);
        }
    }

    void backgrounds()
    {
        const double s = metrics.scale;
        const bool replace = context.translucentCellBackgroundAlpha.has_value();
        for (const metal::PreparedBackground& background : row.backgrounds) {
            const double x0 = background.startColumn * metrics.cellWidth * s;
            const double x1 = (background.startColumn + background.columnSpan) * metrics.cellWidth * s;
            Float4 color = background.color;
            // Translucent backgrounds replace the pixel rather than blend: premultiplied here.
            if (replace)
                color = Float4{color.x * color.w, color.y * color.w, color.z * color.w, color.w};
            addColorCell(
                out.backgroundCells,
                clipRect(transformed(Quad{x0, rowBottomPx, x1, rowBottomPx + metrics.cellHeight * s}), clip),
                color);
        }
    }

    void lineImages()
    {
        const double s = metrics.scale;
        for (const metal::PreparedImage& image : row.images) {
            if (!image.texture)
                continue;
            const double x0 = metrics.cellWidth * image.column * s;
            const double y0 = (rowBottom + metrics.cellHeight - image.pixelHeight) * s;
            const std::optional<Quad> quad = clipRect(
                transformed(Quad{x0, y0, x0 + image.pixelWidth * s, y0 + image.pixelHeight * s, 0, 0, 1, 1}),
                clip);
            if (quad)
                out.otherImageDraws.push_back(
                    ImageDraw{image.texture, quadVertices(float(quad->x0), float(quad->y0), float(quad->x1),
                                                          float(quad->y1), float(quad->u0), float(quad->v0),
                                                          float(quad->u1), float(quad->v1))});
        }
    }

    void kittyPlacements(const KittyGraphicsRenderSnapshot& kitty, MetalImageTextures& textures)
    {
        const double imageScale = context.imageScale > 0 ? context.imageScale : 1.0;
        for (const KittyGraphicsRenderPlacement& placement : kitty.placements) {
            const KittyGraphicsCellGeometry& cells = placement.geometry;
            if (placement.isVirtual || !(cells.row <= screenRow && screenRow - cells.row < cells.rows))
                continue;
            const auto image = kitty.imagesById.find(placement.imageId);
            if (image == kitty.imagesById.end() || image->second.width < 1 || image->second.height < 1)
                continue;
            std::shared_ptr<platform::gpu::Texture> texture = textures.kittyTexture(placement.imageId, kitty);
            if (!texture)
                continue;
            // In points: the offsets move the picture's left edge right and its top edge down (as
            // the CPU path draws them), the picture ending at its last row's bottom edge. Every row
            // it crosses draws its own slice, clipped to the row.
            const double ox = double(placement.pixelOffsetX) / imageScale;
            const double oy = double(placement.pixelOffsetY) / imageScale;
            const double rowsAbove = double(screenRow - cells.row);
            const double rowsBelow = double(cells.row + cells.rows - 1 - screenRow);
            const double top = rowBottom + metrics.cellHeight * (rowsAbove + 1) - oy;
            const double bottom = rowBottom - metrics.cellHeight * rowsBelow;
            const platform::Rect rect{metrics.cellWidth * double(cells.column) + ox, bottom,
                                      std::max(0.0, metrics.cellWidth * double(cells.columns) - ox),
                                      std::max(0.0, top - bottom)};
            const double width = double(image->second.width), height = double(image->second.height);
            const KittyGraphicsPixelRect& source = placement.visibleSource;
            const platform::Rect uv{double(source.x) / width,
                                    (height - double(source.y + source.height)) / height,
                                    double(source.width) / width, double(source.height) / height};
            std::optional<ImageDraw> draw =
                imageDraw(std::move(texture), rect, uv, row.renderMode, band, pivot, metrics.scale);
            if (!draw)
                continue;
            switch (kittyPlacementLayer(placement.zIndex)) {
            case KittyPlacementLayer::belowBackgrounds:
                out.belowBackgroundImageDraws.push_back(std::move(*draw));
                break;
            case KittyPlacementLayer::belowText:
                out.underImageDraws.push_back(std::move(*draw));
                break;
            case KittyPlacementLayer::aboveText:
                out.overImageDraws.push_back(std::move(*draw));
                break;
            }
        }
    }

    void glyphs()
    {
        const double s = metrics.scale;
        for (const metal::PreparedGlyph& glyph : row.glyphs) {
            const double y0 = glyph.bearingY + s * (baseline + glyph.coreTextY + glyph.fitDY);
            Quad quad = transformed(
                Quad{glyph.x0, y0, glyph.x1, y0 + glyph.height, glyph.u0, glyph.v0, glyph.u1, glyph.v1});
            // The lower-left corner on a whole pixel, the size kept: texels on pixel centres.
            const double width = quad.x1 - quad.x0, height = quad.y1 - quad.y0;
            quad.x0 = roundPixels(quad.x0);
            quad.y0 = roundPixels(quad.y0);
            quad.x1 = quad.x0 + width;
            quad.y1 = quad.y0 + height;
            addTextCell(glyph.usesColorAtlas ? out.glyphCellsColor : out.glyphCellsGray, clipRect(quad, clip),
                        glyph.color);
        }
    }

    void decorations()
    {
        const double s = metrics.scale;
        for (const metal::PreparedDecoration& decoration : row.decorations) {
            for (const metal::PreparedDecorationSpan& span : decoration.spans) {
                const double line = decoration.position + baseline + span.coreTextY;
                appendUnderlineSegments(span.x0, span.x1, s * line, decoration.thicknessPx, decoration.color,
                                        decoration.style, s, row.renderMode, clip, pivot,
                                        out.decorationCells);
                if (decoration.isDouble)
                    appendUnderlineSegments(span.x0, span.x1, s * (line - decoration.doubleGap - 1),
                                            decoration.thicknessPx, decoration.color, decoration.style, s,
                                            row.renderMode, clip, pivot, out.decorationCells);
            }
        }
    }

    void placeholders(const KittyGraphicsRenderSnapshot& kitty, MetalImageTextures& textures)
    {
        const double imageScale = context.imageScale > 0 ? context.imageScale : 1.0;
        const double cw = metrics.cellWidth, ch = metrics.cellHeight;
        for (const KittyPlaceholderCell& cell : row.kittyPlaceholders) {
            const auto match =
                std::find_if(kitty.placements.begin(), kitty.placements.end(), [&](const auto& p) {
                    return p.isVirtual && p.imageId == cell.imageId &&
                           (cell.placementId == 0 || p.placementId == cell.placementId) &&
                           p.geometry.columns >= 1 && p.geometry.rows >= 1 && cell.placeholderCol >= 0 &&
                           cell.placeholderCol < p.geometry.columns && cell.placeholderRow >= 0 &&
                           cell.placeholderRow < p.geometry.rows;
                });
            if (match == kitty.placements.end())
                continue;
            const KittyGraphicsRenderPlacement& placement = *match;
            const auto image = kitty.imagesById.find(placement.imageId);
            if (image == kitty.imagesById.end())
                continue;
            std::shared_ptr<platform::gpu::Texture> texture = textures.kittyTexture(placement.imageId, kitty);
            if (!texture)
                continue;
            // The whole placement's area, placed so that this cell is its (row, column) piece.
            const double rows = double(placement.geometry.rows);
            const platform::Rect area{double(placement.pixelOffsetX) / imageScale +
                                          cw * double(cell.col - cell.placeholderCol),
                                      rowBottom + ch * double(cell.placeholderRow) - ch * (rows - 1) -
                                          double(placement.pixelOffsetY) / imageScale,
                                      cw * double(placement.geometry.columns), ch * rows};
            if (!(area.width > 0 && area.height > 0))
                continue;
            const platform::Rect cellRect{cw * double(cell.col), rowBottom, cw, ch};
            const std::optional<KittyVirtualImageGeometry> geometry =
                kittyVirtualImageGeometry(placement.visibleSource, image->second.width, image->second.height,
                                          area, cellRect, metrics.scale);
            if (!geometry)
                continue;
            if (std::optional<ImageDraw> draw =
                    imageDraw(std::move(texture), geometry->visibleRect, geometry->uvRect, row.renderMode,
                              clip, pivot, metrics.scale))
                out.placeholderImageDraws.push_back(std::move(*draw));
        }
    }
};

} // namespace

RowDrawData placeRow(const metal::PreparedRow& row, int64_t screenRow, const TerminalSnapshot& snapshot,
                     const SnapshotRenderContext& context, const RowPlacementMetrics& metrics,
                     MetalImageTextures& textures)
{
    RowDrawData out;
    Placement placement(row, screenRow, context, metrics, out);
    const KittyGraphicsRenderSnapshot& kitty = snapshot.kitty.renderSnapshot;
    placement.customGlyphs();
    placement.backgrounds();
    placement.lineImages();
    if (!kitty.placements.empty())
        placement.kittyPlacements(kitty, textures);
    placement.glyphs();
    placement.decorations();
    if (!row.kittyPlaceholders.empty() && !kitty.placements.empty())
        placement.placeholders(kitty, textures);
    return out;
}

} // namespace kestrovan
