// MetalGlyphStore: box-drawing, block-element and Powerline cells drawn by the program into the
// grey atlas, with the same shape code the CPU path paints them with.
#include "Kestrovan/Apple/BlockElementRenderer.h"
#include "Kestrovan/Apple/BoxDrawingRenderer.h"
#include "Kestrovan/Apple/CustomGlyphTables.h"
#include "Kestrovan/Apple/Metal/MetalGlyphStore.h"
#include "Kestrovan/Apple/PowerlineShapes.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/DevicePixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace kestrovan {

size_t CustomGlyphKeyHash::operator()(const CustomGlyphKey& key) const
{
    size_t hash = std::hash<uint32_t>()(key.codePoint);
    for (const int value : {key.cellWidthPx, key.cellHeightPx, key.baseThicknessPx, key.scale})
        hash = hash * 31 + std::hash<int>()(value);
    return hash * 2 + (key.antiAlias ? 1 : 0);
}

bool MetalGlyphStore::renderCustomGlyphBitmap(uint32_t codePoint, platform::Bitmap& bitmap, double scale,
                                              int baseThicknessPx, bool antiAlias)
{
    if (!platform::isUsableScale(scale))
        return false;
    // The canvas works in points, y-up, so the shape code draws as it draws on the CPU path; the
    // cell is the whole bitmap.
    platform::Canvas canvas(bitmap, scale);
    const platform::Rect cell{0, 0, bitmap.width() / scale, bitmap.height() / scale};
    const platform::NativeColor white = platform::NativeColor::sRGB(1, 1, 1, 1);
    if (const std::optional<PowerlineGlyph> glyph = PowerlineRenderer::glyph(codePoint)) {
        canvas.setAntialias(true);
        canvas.setFillColor(white);
        canvas.setStrokeColor(white);
        if (const std::optional<platform::Path> path = PowerlineShapes::path(codePoint, cell, scale, scale)) {
            canvas.save();
            canvas.clip(platform::snapOutward(cell, scale));
            PowerlineShapes::paint(canvas, *glyph, *path, std::max(1, baseThicknessPx) / scale);
            canvas.restore();
        }
        return true;
    }
    if (BoxDrawingRenderer::handles(codePoint)) {
        // Hard edges on whole pixels, so that lines meet the next cell's without a seam.
        canvas.setAntialias(false);
        BoxDrawingRenderer::draw(codePoint, canvas, platform::Point{0, 0},
                                 platform::Size{cell.width, cell.height}, scale, white, baseThicknessPx);
        return true;
    }
    if (const auto rects = BlockElementMapping::rects(codePoint)) {
        canvas.setAntialias(antiAlias);
        BlockElementRenderer::paint(canvas, *rects, cell, white, antiAlias, scale);
        return true;
    }
    return false;
}

std::optional<CustomGlyphEntry> MetalGlyphStore::customGlyphEntry(uint32_t codePoint, int cellWidthPx,
                                                                  int cellHeightPx, double scale,
                                                                  int baseThicknessPx, bool antiAlias)
{
    const CustomGlyphKey key{
        codePoint, cellWidthPx, cellHeightPx, baseThicknessPx, std::max(1, int(std::lround(scale))),
        antiAlias};
    if (const auto found = customGlyphCache_.find(key); found != customGlyphCache_.end())
        return found->second;
    if (cellWidthPx < 1 || cellHeightPx < 1)
        return std::nullopt;
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::create(cellWidthPx, cellHeightPx);
    if (!bitmap || !renderCustomGlyphBitmap(codePoint, *bitmap, scale, baseThicknessPx, antiAlias))
        return std::nullopt;

    const int64_t previousSize = grayscaleAtlas_->size();
    const std::optional<AtlasRegion> region = grayscaleAtlas_->ensureRegion(cellWidthPx, cellHeightPx);
    handleAtlasChange(*grayscaleAtlas_, previousSize);
    if (!region)
        return std::nullopt;
    // Blue-green-red-alpha rows, bottom row first, as the atlas takes a rasterized glyph; the grey
    // atlas keeps the alpha, which is the coverage of a white shape.
    const size_t rowBytes = size_t(cellWidthPx) * 4;
    std::vector<uint8_t> pixels(rowBytes * size_t(cellHeightPx));
    for (int y = 0; y < cellHeightPx; ++y)
        std::memcpy(pixels.data() + size_t(y) * rowBytes, bitmap->row(y).data(), rowBytes);
    grayscaleAtlas_->write(*region, pixels, cellWidthPx, cellHeightPx);
    const CustomGlyphEntry entry{*region, platform::Size{double(cellWidthPx), double(cellHeightPx)}};
    customGlyphCache_.emplace(key, entry);
    return entry;
}

} // namespace kestrovan
