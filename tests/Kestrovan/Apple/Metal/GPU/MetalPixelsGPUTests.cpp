// The renderer's pipelines on llvmpipe, under both version preludes: what the records light, how
// grey glyphs, colour glyphs and flat colours blend, and the background-replace pipeline.

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Platform/GPU/EglContext.h"

#include <array>
#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using platform::gpu::GLApi;

constexpr int width = 64;
constexpr int height = 48;

/// One pixel read back: blue, green, red, alpha.
using Pixel = std::array<uint8_t, 4>;

struct Canvas
{
    explicit Canvas(GLApi api)
        : api(api), device(platform::gpu::makeEglDevice(api)),
          target(std::make_shared<MetalOffscreenTarget>(device, platform::Size{width, height}))
    {
        MetalRendererOptions options;
        options.shaderDirectory.reset();
        auto made = MetalTerminalRenderer::make(target, options);
        if (auto* error = std::get_if<MetalError>(&made))
            ADD_FAILURE() << error->description();
        else
            renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(made);
    }

    /// Clears to `clear`, runs `draw` inside the pass and reads the frame back.
    template <typename Draw> void frame(platform::gpu::ClearColor clear, Draw draw)
    {
        const platform::gpu::ContextScope scope = device->bindCurrent();
        auto drawable = target->acquireDrawableFrame();
        ASSERT_TRUE(drawable);
        platform::gpu::RenderPass pass = drawable->renderPassDescriptor;
        pass.clear = clear;
        device->beginPass(pass);
        draw(*renderer);
        device->flush();
        pixels = target->readPixels();
        ASSERT_EQ(pixels.size(), size_t(width * height * 4));
    }

    /// The pixel at x, y counted from the bottom left.
    Pixel at(int x, int y) const
    {
        const uint8_t* p = &pixels[size_t((y * width + x) * 4)];
        return {p[0], p[1], p[2], p[3]};
    }

    /// Writes a glyph of `side` x `side` pixels of one BGRA value into an atlas; its texture rect.
    std::pair<Float2, Float2> glyph(GlyphAtlas& atlas, int side, Pixel bgra)
    {
        const platform::gpu::ContextScope scope = device->bindCurrent();
        std::vector<uint8_t> bitmap;
        for (int i = 0; i < side * side; ++i)
            bitmap.insert(bitmap.end(), bgra.begin(), bgra.end());
        auto region = atlas.ensureRegion(side, side);
        EXPECT_TRUE(region);
        atlas.write(*region, bitmap, side, side);
        const auto size = float(atlas.size());
        return {{float(region->x) / size, float(region->y) / size}, {float(side) / size, float(side) / size}};
    }

    GLApi api;
    std::shared_ptr<platform::gpu::Device> device;
    std::shared_ptr<MetalOffscreenTarget> target;
    std::shared_ptr<MetalTerminalRenderer> renderer;
    std::vector<uint8_t> pixels;
};

class MetalPixelsGPUTests : public ::testing::TestWithParam<GLApi>
{};

INSTANTIATE_TEST_SUITE_P(BothPreludes, MetalPixelsGPUTests, ::testing::Values(GLApi::openGL, GLApi::openGLES),
                         [](const auto& info) { return info.param == GLApi::openGL ? "Core" : "ES"; });

constexpr platform::gpu::PixelSize viewport{width, height};
constexpr platform::gpu::ClearColor transparent{0, 0, 0, 0};
constexpr platform::gpu::ClearColor opaqueBlack{0, 0, 0, 1};

TEST_P(MetalPixelsGPUTests, AllSevenProgramsBuild)
{
    Canvas canvas(GetParam());
    ASSERT_TRUE(canvas.renderer);
    EXPECT_EQ(canvas.device->info().isES, GetParam() == GLApi::openGLES);
}

TEST_P(MetalPixelsGPUTests, ACellLightsExactlyItsPixelsCountedFromTheBottom)
{
    Canvas canvas(GetParam());
    ASSERT_TRUE(canvas.renderer);
    // Through the cell pipeline (instances) and through the vertex pipeline (two triangles).
    const ColorCell cell{{10, 20}, {8, 16}, {1, 0, 0, 1}};
    std::vector<ColorVertex> quad;
    for (Float2 corner : {Float2{0, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 1}})
        quad.push_back({{10 + 8 * corner.x, 20 + 16 * corner.y}, {1, 0, 0, 1}});
    for (int pipeline = 0; pipeline < 2; ++pipeline) {
        canvas.frame(transparent, [&](MetalTerminalRenderer& r) {
            if (pipeline == 0)
                r.drawRecords<ColorCell>(r.cellColorPipeline, nullptr, std::span(&cell, 1), viewport);
            else
                r.drawRecords<ColorVertex>(r.colorPipeline, nullptr, quad, viewport);
        });
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool lit = x >= 10 && x <= 17 && y >= 20 && y <= 35;
                ASSERT_EQ(canvas.at(x, y), (lit ? Pixel{0, 0, 255, 255} : Pixel{0, 0, 0, 0}))
                    << (pipeline == 0 ? "cell" : "vertices") << " at " << x << "," << y;
            }
    }
}

TEST_P(MetalPixelsGPUTests, GreyGlyphsAreCoverageTimesTheColourAndPremultiplied)
{
    Canvas canvas(GetParam());
    ASSERT_TRUE(canvas.renderer);
    MetalTerminalRenderer& r = *canvas.renderer;
    const auto full = canvas.glyph(r.grayscaleAtlas(), 4, {255, 255, 255, 255});
    const auto half = canvas.glyph(r.grayscaleAtlas(), 4, {128, 128, 128, 128});
    const auto texture = r.grayscaleAtlas().texture().get();
    const struct
    {
        Float4 color;
        platform::gpu::ClearColor clear;
        Pixel expected;
        bool halfCovered = false;
    } cases[] = {
        // Half the colour's alpha: at most half coverage; the colour's own channels times the
        // coverage (glyph colours come premultiplied where their alpha is below 1).
        {{1, 1, 1, 0.5f}, transparent, {255, 255, 255, 128}},
        {{0.5f, 0.5f, 0.5f, 0.5f}, transparent, {128, 128, 128, 128}},
        // A fully covered texel in opaque white writes opaque white, over anything.
        {{1, 1, 1, 1}, opaqueBlack, {255, 255, 255, 255}},
        {{1, 1, 1, 1}, transparent, {255, 255, 255, 255}},
        // A coloured glyph over black.
        {{0, 1, 0, 1}, opaqueBlack, {0, 255, 0, 255}},
        // Half coverage halves every channel, alpha included.
        {{1, 1, 1, 1}, transparent, {128, 128, 128, 128}, true},
        {{1, 1, 1, 1}, opaqueBlack, {128, 128, 128, 255}, true},
    };
    for (const auto& c : cases) {
        // The quad covers the glyph's texels one to one, at whole pixels.
        const auto& [origin, size] = c.halfCovered ? half : full;
        const TextCell cell{{20, 10}, {4, 4}, origin, size, c.color};
        canvas.frame(c.clear, [&](MetalTerminalRenderer& renderer) {
            renderer.drawRecords<TextCell>(renderer.cellTextGrayPipeline, texture, std::span(&cell, 1),
                                           viewport);
        });
        for (int y = 10; y < 14; ++y)
            for (int x = 20; x < 24; ++x) {
                const Pixel pixel = canvas.at(x, y);
                for (int channel = 0; channel < 4; ++channel)
                    EXPECT_NEAR(pixel[channel], c.expected[channel], 1)
                        << x << "," << y << " channel " << channel;
                EXPECT_LE(pixel[3], c.color.w * 255 + 1);
            }
        EXPECT_EQ(canvas.at(19, 10), (Pixel{0, 0, 0, uint8_t(c.clear.alpha * 255)}));
    }
}

TEST_P(MetalPixelsGPUTests, ColourGlyphsKeepTheirBlueGreenRedOrder)
{
    Canvas canvas(GetParam());
    ASSERT_TRUE(canvas.renderer);
    MetalTerminalRenderer& r = *canvas.renderer;
    // Red in blue-green-red-alpha bytes: red on screen, also on ES, which uploads no BGRA.
    const auto [origin, size] = canvas.glyph(r.colorAtlas(), 3, {0, 64, 255, 255});
    const TextCell cell{{5, 5}, {3, 3}, origin, size, {1, 1, 1, 1}};
    std::vector<GlyphVertex> quad;
    for (Float2 corner : {Float2{0, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 1}})
        quad.push_back({{30 + 3 * corner.x, 5 + 3 * corner.y},
                        {origin.x + size.x * corner.x, origin.y + size.y * corner.y},
                        {1, 1, 1, 1}});
    canvas.frame(opaqueBlack, [&](MetalTerminalRenderer& renderer) {
        const auto texture = renderer.colorAtlas().texture().get();
        renderer.drawRecords<TextCell>(renderer.cellTextPipeline, texture, std::span(&cell, 1), viewport);
        renderer.drawRecords<GlyphVertex>(renderer.textPipeline, texture, quad, viewport);
    });
    for (int x : {5, 7, 30, 32})
        EXPECT_EQ(canvas.at(x, 6), (Pixel{0, 64, 255, 255})) << x;
}

TEST_P(MetalPixelsGPUTests, BackgroundReplaceKeepsTheCellsAlpha)
{
    Canvas canvas(GetParam());
    ASSERT_TRUE(canvas.renderer);
    // A premultiplied half-transparent red, as translucent backgrounds are stored.
    const ColorCell cell{{0, 0}, {16, 16}, {0.5f, 0, 0, 0.5f}};
    canvas.frame(opaqueBlack, [&](MetalTerminalRenderer& r) {
        r.drawRecords<ColorCell>(r.cellBackgroundReplacePipeline, nullptr, std::span(&cell, 1), viewport);
    });
    EXPECT_EQ(canvas.at(3, 3), (Pixel{0, 0, 128, 128}));
    // Blended instead, the pixel stays opaque.
    canvas.frame(opaqueBlack, [&](MetalTerminalRenderer& r) {
        r.drawRecords<ColorCell>(r.cellColorPipeline, nullptr, std::span(&cell, 1), viewport);
    });
    EXPECT_EQ(canvas.at(3, 3), (Pixel{0, 0, 64, 255}));
}

TEST_P(MetalPixelsGPUTests, ThePatternIsTheSamePictureEveryTime)
{
    Canvas canvas(GetParam());
    ASSERT_TRUE(canvas.renderer);
    canvas.renderer->waitForCompletionAfterCommit = true;
    canvas.renderer->capturesRenderedTexture = true;
    ASSERT_TRUE(canvas.renderer->renderDiagnosticPattern(canvas.target->acquireDrawableFrame()));
    const auto first = canvas.renderer->lastRenderedTexture;
    ASSERT_TRUE(first);
    ASSERT_TRUE(canvas.renderer->renderDiagnosticPattern(canvas.target->acquireDrawableFrame()));
    EXPECT_EQ(canvas.renderer->lastRenderedTexture->bgra, first->bgra);
    // It has content: not every pixel is the first pixel's colour.
    size_t differing = 0;
    for (size_t i = 0; i < first->bgra.size(); i += 4)
        differing += std::equal(&first->bgra[i], &first->bgra[i + 3], first->bgra.data()) ? 0 : 1;
    EXPECT_GT(differing, first->bgra.size() / 16);
    // Both APIs draw the same picture.
    Canvas other(GetParam() == GLApi::openGL ? GLApi::openGLES : GLApi::openGL);
    other.renderer->waitForCompletionAfterCommit = true;
    other.renderer->capturesRenderedTexture = true;
    ASSERT_TRUE(other.renderer->renderDiagnosticPattern(other.target->acquireDrawableFrame()));
    EXPECT_EQ(other.renderer->lastRenderedTexture->bgra, first->bgra);
}

} // namespace
} // namespace kestrovan
