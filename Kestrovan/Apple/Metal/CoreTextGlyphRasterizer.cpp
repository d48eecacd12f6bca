// CoreTextGlyphRasterizer: the bounded pixel box, the white glyph drawn through the canvas, and the
// colour test.
#include "Kestrovan/Apple/Metal/CoreTextGlyphRasterizer.h"

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrovan {

namespace {

// Pixel coordinates a glyph may have: the bearing is handed on as a pixel offset, and nothing a
// screen can show lies further out. Within these, every value below converts exactly.
constexpr double largestCoordinate = 2147483647.0;

bool isCoordinate(double value)
{
    return std::isfinite(value) && std::abs(value) <= largestCoordinate;
}

int64_t largestGlyphSide(int64_t atlasMaxSize)
{
    // One texel of gutter on every side.
    return std::max<int64_t>(atlasMaxSize - 2, 0);
}

} // namespace

CoreTextGlyphRasterizer::CoreTextGlyphRasterizer(int64_t grayscaleAtlasMaxSize, int64_t colorAtlasMaxSize)
    : grayscaleMaximumGlyphSide_(largestGlyphSide(grayscaleAtlasMaxSize)),
      colorMaximumGlyphSide_(largestGlyphSide(colorAtlasMaxSize))
{}

std::optional<GlyphPixelBox> CoreTextGlyphRasterizer::pixelBox(const platform::Rect& ink, int64_t maximumSide)
{
    // Written so that a NaN anywhere fails the test and lands in the empty answer.
    if (!(ink.width > 0 && ink.height > 0))
        return std::nullopt;
    const double left = std::floor(ink.x);
    const double bottom = std::floor(ink.y);
    const double right = std::ceil(ink.x + ink.width);
    const double top = std::ceil(ink.y + ink.height);
    if (!isCoordinate(left) || !isCoordinate(bottom) || !isCoordinate(right) || !isCoordinate(top))
        return std::nullopt;
    GlyphPixelBox box;
    box.x0 = int64_t(left);
    box.y0 = int64_t(bottom);
    box.width = int64_t(right) - box.x0;
    box.height = int64_t(top) - box.y0;
    if (box.width < 1 || box.height < 1 || box.width > maximumSide || box.height > maximumSide)
        return std::nullopt;
    return box;
}

GlyphRasterizationResult CoreTextGlyphRasterizer::rasterize(const platform::Font& font, uint16_t glyph,
                                                            const GlyphMetrics& metrics) const
{
    // Whether the glyph is colour is known only once it is drawn, so the box is first held to the
    // larger atlas and then, for a colour glyph, to the colour atlas.
    const std::optional<GlyphPixelBox> box =
        pixelBox(metrics.inkBounds, std::max(grayscaleMaximumGlyphSide_, colorMaximumGlyphSide_));
    if (!box)
        return GlyphRasterizationResult::empty();
    size_t byteCount = 0;
    if (__builtin_mul_overflow(size_t(box->width), size_t(box->height), &byteCount) ||
        __builtin_mul_overflow(byteCount, size_t(4), &byteCount))
        return GlyphRasterizationResult::empty();

    const int width = int(box->width);
    const int height = int(box->height);
    std::optional<platform::Bitmap> surface = platform::Bitmap::create(width, height);
    if (!surface)
        return GlyphRasterizationResult::transientFailure();
    {
        platform::Canvas canvas(*surface, 1.0);
        canvas.setTextAntialias(platform::TextAntialias::gray);
        canvas.setFillColor(platform::NativeColor::sRGB(1, 1, 1, 1));
        // The glyph origin goes to (-x0, -y0), so that the ink box starts at the bitmap's origin.
        const platform::GlyphId glyphs[] = {glyph};
        const platform::Point origins[] = {{-double(box->x0), -double(box->y0)}};
        canvas.drawGlyphs(font, glyphs, origins);
    }

    GlyphBitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bearing = platform::Point{double(box->x0), double(box->y0)};
    bitmap.pixels.resize(byteCount);
    const size_t rowBytes = size_t(width) * 4;
    // Row 0 of the surface is its bottom row, and the atlas takes the bottom row first.
    for (int y = 0; y < height; ++y) {
        const std::span<const uint8_t> row = surface->row(y);
        std::memcpy(bitmap.pixels.data() + size_t(y) * rowBytes, row.data(), rowBytes);
    }
    // White drawn with coverage has equal blue, green and red everywhere; a tinted pixel can only
    // come from the font's own colours.
    for (size_t at = 0; at < byteCount; at += 4) {
        const uint8_t* pixel = bitmap.pixels.data() + at;
        if (pixel[0] != pixel[1] || pixel[1] != pixel[2]) {
            bitmap.isColor = true;
            break;
        }
    }
    if (bitmap.isColor && (box->width > colorMaximumGlyphSide_ || box->height > colorMaximumGlyphSide_))
        return GlyphRasterizationResult::empty(true);
    return GlyphRasterizationResult{GlyphRasterizationResult::Kind::bitmap, std::move(bitmap), true};
}

} // namespace kestrovan
