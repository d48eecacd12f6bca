// The fixed picture the renderer draws before it draws terminal frames: a grid of cells filling
// the drawable with backgrounds, grey and colour glyphs from both atlases, underlines and a cursor
// with its glyphs, so that every one of the seven pipelines, both atlases, the sampler and the
// buffer pool take part. The surface diagnostics compare it between targets; it depends only on
// the drawable's size and scale, never on fonts.

#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrovan {

namespace {

constexpr int glyphWidth = 6;
constexpr int glyphHeight = 12;
constexpr int colorGlyphSide = 8;

constexpr std::array<Float4, 6> palette{{
    {0.80f, 0.20f, 0.20f, 1},
    {0.20f, 0.70f, 0.30f, 1},
    {0.20f, 0.35f, 0.85f, 1},
    {0.85f, 0.75f, 0.20f, 1},
    {0.60f, 0.25f, 0.70f, 1},
    {0.20f, 0.70f, 0.75f, 1},
}};

/// A grey glyph as the rasterizer draws one: white, premultiplied, bottom row first. An outline
/// with a checkered inside, so that both full and partial coverage are drawn.
std::vector<uint8_t> grayGlyphPixels()
{
    std::vector<uint8_t> pixels(size_t(glyphWidth * glyphHeight * 4));
    for (int y = 0; y < glyphHeight; ++y) {
        for (int x = 0; x < glyphWidth; ++x) {
            const bool edge = x == 0 || y == 0 || x == glyphWidth - 1 || y == glyphHeight - 1;
            const uint8_t coverage = edge ? 255 : ((x + y) % 2 == 0 ? 128 : 0);
            uint8_t* pixel = &pixels[size_t((y * glyphWidth + x) * 4)];
            pixel[0] = pixel[1] = pixel[2] = pixel[3] = coverage;
        }
    }
    return pixels;
}

/// A colour glyph: an opaque gradient, blue across, green up, red falling across.
std::vector<uint8_t> colorGlyphPixels()
{
    std::vector<uint8_t> pixels(size_t(colorGlyphSide * colorGlyphSide * 4));
    for (int y = 0; y < colorGlyphSide; ++y) {
        for (int x = 0; x < colorGlyphSide; ++x) {
            uint8_t* pixel = &pixels[size_t((y * colorGlyphSide + x) * 4)];
            pixel[0] = uint8_t(x * 32);
            pixel[1] = uint8_t(y * 32);
            pixel[2] = uint8_t(255 - x * 32);
            pixel[3] = 255;
        }
    }
    return pixels;
}

/// Places a glyph bitmap in an atlas once; none when the atlas has no room.
std::optional<AtlasRegion> placeGlyph(GlyphAtlas& atlas, const std::vector<uint8_t>& pixels, int width,
                                      int height)
{
    auto region = atlas.ensureRegion(width, height);
    if (region)
        atlas.write(*region, pixels, width, height);
    return region;
}

/// The six corners of a quad in the shaders' corner order.
template <typename Vertex, typename Make>
void appendQuad(std::vector<Vertex>& vertices, Float2 origin, Float2 size, Make make)
{
    const std::array<Float2, 6> corners{{{0, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 1}}};
    for (const Float2& corner : corners)
        vertices.push_back(make(Float2{origin.x + size.x * corner.x, origin.y + size.y * corner.y}, corner));
}

} // namespace

void MetalTerminalRenderer::encodeDiagnosticPattern(const MetalDrawableFrame& frame)
{
    if (!patternGrayRegion_)
        patternGrayRegion_ = placeGlyph(*grayscaleAtlas_, grayGlyphPixels(), glyphWidth, glyphHeight);
    if (!patternColorRegion_)
        patternColorRegion_ = placeGlyph(*colorAtlas_, colorGlyphPixels(), colorGlyphSide, colorGlyphSide);

    const platform::gpu::PixelSize viewport = frame.drawable.size;
    const float unit = float(std::max(1L, std::lround(frame.geometry.contentsScale)));
    const float cellWidth = 8 * unit;
    const float cellHeight = 16 * unit;
    const int columns = int(std::ceil(float(viewport.width) / cellWidth));
    const int rows = int(std::ceil(float(viewport.height) / cellHeight));

    platform::gpu::RenderPass pass = frame.renderPassDescriptor;
    pass.clear = platform::gpu::ClearColor{0.10f, 0.12f, 0.14f, 1};
    device_->beginPass(pass);

    const auto texRect = [](const GlyphAtlas& atlas, const AtlasRegion& region) {
        const auto side = float(atlas.size());
        return std::pair{Float2{float(region.x) / side, float(region.y) / side},
                         Float2{float(region.width) / side, float(region.height) / side}};
    };

    std::vector<ColorCell> replacedBackgrounds;
    std::vector<ColorCell> backgrounds;
    std::vector<TextCell> grayGlyphs;
    std::vector<TextCell> colorGlyphs;
    std::vector<ColorCell> underlines;
    for (int row = 0; row < rows; ++row) {
        const float y = float(row) * cellHeight;
        for (int column = 0; column < columns; ++column) {
            const float x = float(column) * cellWidth;
            if ((column + 2 * row) % 5 != 0) {
                Float4 color = palette[size_t((column + row) % 6)];
                // The bottom row's backgrounds are translucent and replace the clear colour.
                if (row == 0) {
                    color.w = 0.5f;
                    replacedBackgrounds.push_back({{x, y}, {cellWidth, cellHeight}, color});
                } else {
                    backgrounds.push_back({{x, y}, {cellWidth, cellHeight}, color});
                }
            }
            if (patternGrayRegion_ && (column * 3 + row) % 4 == 0) {
                auto [origin, size] = texRect(*grayscaleAtlas_, *patternGrayRegion_);
                Float4 color = palette[size_t((column + 3) % 6)];
                color.w = column % 2 == 0 ? 1.0f : 0.5f;
                grayGlyphs.push_back(
                    {{x + unit, y + 2 * unit}, {glyphWidth * unit, glyphHeight * unit}, origin, size, color});
            }
            if (patternColorRegion_ && (column + row * 5) % 7 == 0) {
                auto [origin, size] = texRect(*colorAtlas_, *patternColorRegion_);
                colorGlyphs.push_back({{x, y + 4 * unit},
                                       {colorGlyphSide * unit, colorGlyphSide * unit},
                                       origin,
                                       size,
                                       {1, 1, 1, 1}});
            }
        }
        if (row % 3 == 1)
            underlines.push_back({{0, y + unit}, {float(viewport.width) / 2, unit}, {1, 0.8f, 0, 0.75f}});
    }

    std::vector<ColorVertex> cursorShape;
    appendQuad(cursorShape, {3 * cellWidth, 2 * cellHeight}, {cellWidth, cellHeight},
               [](Float2 position, Float2) {
                   return ColorVertex{position, {0.9f, 0.9f, 0.9f, 0.6f}};
               });
    std::vector<GlyphVertex> cursorGray;
    if (patternGrayRegion_) {
        auto [origin, size] = texRect(*grayscaleAtlas_, *patternGrayRegion_);
        appendQuad(cursorGray, {5 * cellWidth, 2 * cellHeight}, {glyphWidth * unit, glyphHeight * unit},
                   [&](Float2 position, Float2 corner) {
                       return GlyphVertex{position,
                                          {origin.x + size.x * corner.x, origin.y + size.y * corner.y},
                                          {1, 1, 1, 1}};
                   });
    }
    std::vector<GlyphVertex> cursorColor;
    if (patternColorRegion_) {
        auto [origin, size] = texRect(*colorAtlas_, *patternColorRegion_);
        appendQuad(cursorColor, {7 * cellWidth, 2 * cellHeight},
                   {colorGlyphSide * unit, colorGlyphSide * unit}, [&](Float2 position, Float2 corner) {
                       return GlyphVertex{position,
                                          {origin.x + size.x * corner.x, origin.y + size.y * corner.y},
                                          {1, 1, 1, 1}};
                   });
    }

    // In the order the terminal's layers are drawn: backgrounds, glyphs, decorations, cursor.
    drawRecords<ColorCell>(cellBackgroundReplacePipeline, nullptr, replacedBackgrounds, viewport);
    drawRecords<ColorCell>(cellColorPipeline, nullptr, backgrounds, viewport);
    drawRecords<TextCell>(cellTextGrayPipeline, grayscaleAtlas_->texture().get(), grayGlyphs, viewport);
    drawRecords<TextCell>(cellTextPipeline, colorAtlas_->texture().get(), colorGlyphs, viewport);
    drawRecords<ColorCell>(cellColorPipeline, nullptr, underlines, viewport);
    drawRecords<ColorVertex>(colorPipeline, nullptr, cursorShape, viewport);
    drawRecords<GlyphVertex>(textGrayPipeline, grayscaleAtlas_->texture().get(), cursorGray, viewport);
    drawRecords<GlyphVertex>(textPipeline, colorAtlas_->texture().get(), cursorColor, viewport);
}

} // namespace kestrovan
