// The renderer's set-up with a real compiler and linker, the device it chooses, the atlas texture
// against its CPU copy, and frames completed by real fences.

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Platform/GPU/EglContext.h"
#include "Platform/GPU/SystemDevice.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace kestrovan {
namespace {

using platform::gpu::GLApi;

std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
makeOn(std::shared_ptr<MetalRenderTarget> target, const MetalShaderSources* sources = nullptr)
{
    MetalRendererOptions options;
    options.shaderDirectory.reset();
    options.embeddedSources = sources;
    return MetalTerminalRenderer::make(std::move(target), options);
}

std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
makeOn(std::shared_ptr<platform::gpu::Device> device, const MetalShaderSources* sources = nullptr)
{
    return makeOn(std::make_shared<MetalOffscreenTarget>(device, platform::Size{32, 32}), sources);
}

TEST(MetalSetupGPUTests, ABrokenSourceGivesTheCompilersLogAndABadLinkThePipelineText)
{
    for (GLApi api : {GLApi::openGL, GLApi::openGLES}) {
        auto device = platform::gpu::makeEglDevice(api);
        ASSERT_TRUE(device);
        MetalShaderSources broken = builtInShaderSources();
        broken["terminal_color_fragment"] = "void main() { outColor = undeclaredThing; }\n";
        auto made = makeOn(device, &broken);
        ASSERT_TRUE(std::holds_alternative<MetalError>(made));
        const MetalError& error = std::get<MetalError>(made);
        EXPECT_EQ(error.kind(), MetalError::Case::shaderCompilationFailed);
        EXPECT_EQ(error.payload().rfind("terminal_color_fragment: ", 0), 0u) << error.payload();
        EXPECT_NE(error.payload().find("error"), std::string::npos) << error.payload();

        // Compiles alone, but declares the vertex stage's uniform with another type: the link fails.
        MetalShaderSources unlinked = builtInShaderSources();
        unlinked["terminal_color_fragment"] = "uniform vec3 viewport;\nin vec4 fragmentColor;\n"
                                              "layout(location = 0) out vec4 outColor;\n"
                                              "void main() { outColor = fragmentColor * viewport.x; }\n";
        auto linked = makeOn(device, &unlinked);
        ASSERT_TRUE(std::holds_alternative<MetalError>(linked));
        EXPECT_EQ(std::get<MetalError>(linked).description(),
                  "Failed to create GPU pipeline: text/color/cell");
    }
}

TEST(MetalSetupGPUTests, OnlyASoftwareRasterizerMeansNoDeviceUnlessAllowed)
{
    // The binary runs with Mesa forced to software (LIBGL_ALWAYS_SOFTWARE=1): no hardware device can
    // exist, which is known without loading GL.
    unsetenv("KESTROVAN_GPU_SOFTWARE");
    EXPECT_EQ(systemDefaultMetalDevice(), nullptr);
    EXPECT_EQ(systemDeviceAbsence(), "LIBGL_ALWAYS_SOFTWARE asks for a software GL renderer");
    // A target naming no device then has none.
    auto target = std::make_shared<MetalOffscreenTarget>(nullptr, platform::Size{16, 16});
    auto refused = MetalTerminalRenderer::make(target);
    ASSERT_TRUE(std::holds_alternative<MetalError>(refused));
    EXPECT_EQ(std::get<MetalError>(refused).description(), "No GPU device is available.");
    EXPECT_EQ(target->renderDevice(), nullptr);
    EXPECT_EQ(platform::gpu::systemDeviceProbeCount(), 0) << "GL was loaded to find no device";

    setenv("KESTROVAN_GPU_SOFTWARE", "1", 1);
    EXPECT_EQ(systemDeviceAbsence(), std::nullopt);
    auto made = MetalTerminalRenderer::make(target);
    unsetenv("KESTROVAN_GPU_SOFTWARE");
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<MetalTerminalRenderer>>(made));
    // The system's device, given to the target.
    EXPECT_EQ(target->renderDevice(), platform::gpu::systemDeviceProbe().device);
    EXPECT_EQ(platform::gpu::systemDeviceProbeCount(), 1);
}

TEST(MetalSetupGPUTests, TheAtlasTextureHoldsItsCopyThroughWritesGrowthsAndResets)
{
    for (auto format : {GlyphAtlasFormat::grayscale, GlyphAtlasFormat::bgra}) {
        auto device = platform::gpu::makeEglDevice(GLApi::openGL);
        ASSERT_TRUE(device);
        const platform::gpu::ContextScope scope = device->bindCurrent();
        auto atlas = GlyphAtlas::make(device, 256, 512, format);
        ASSERT_TRUE(atlas);
        std::mt19937 random(7);
        const auto writeGlyph = [&](int width, int height) {
            std::vector<uint8_t> pixels(size_t(width * height * 4));
            for (auto& byte : pixels)
                byte = uint8_t(random());
            if (auto region = atlas->ensureRegion(width, height))
                atlas->write(*region, pixels, width, height);
        };
        const auto textureMatchesCopy = [&](const char* step) {
            auto framebuffer = device->makeFramebuffer(atlas->texture());
            ASSERT_TRUE(framebuffer);
            const int side = int(atlas->size());
            std::vector<uint8_t> read(size_t(side * side * 4));
            ASSERT_TRUE(device->readPixels(framebuffer->glName(), {0, 0, side, side}, read.data()));
            const std::vector<uint8_t>& copy = atlas->data();
            for (size_t texel = 0; texel < size_t(side * side); ++texel) {
                if (format == GlyphAtlasFormat::grayscale)
                    ASSERT_EQ(read[texel * 4 + 2], copy[texel])
                        << formatName(format) << " " << step << " texel " << texel;
                else
                    ASSERT_TRUE(std::equal(&copy[texel * 4], &copy[texel * 4 + 4], &read[texel * 4]))
                        << formatName(format) << " " << step << " texel " << texel;
            }
        };
        // Glyphs along the edges, where the gutter is clamped, and inside.
        atlas->write({0, 0, 7, 5}, std::vector<uint8_t>(7 * 5 * 4, 0x5A), 7, 5);
        atlas->write({249, 251, 7, 5}, std::vector<uint8_t>(7 * 5 * 4, 0xA5), 7, 5);
        for (int i = 0; i < 40; ++i)
            writeGlyph(3 + i % 17, 5 + i % 11);
        textureMatchesCopy("written");
        for (int i = 0; i < 200 && atlas->size() == 256; ++i)
            writeGlyph(20 + i % 13, 30);
        ASSERT_EQ(atlas->size(), 512);
        textureMatchesCopy("grown");
        int resets = 0;
        for (int i = 0; i < 800 && resets == 0; ++i) {
            writeGlyph(30 + i % 7, 40);
            resets += atlas->didReset() ? 1 : 0;
        }
        ASSERT_EQ(resets, 1);
        textureMatchesCopy("reset and written again");
    }
}

TEST(MetalSetupGPUTests, FramesCompleteWhenTheirFencesSignal)
{
    auto device = platform::gpu::makeEglDevice(GLApi::openGL);
    auto target = std::make_shared<MetalOffscreenTarget>(device, platform::Size{320, 200});
    auto renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(makeOn(target));
    for (int frame = 0; frame < 3; ++frame) {
        // Each frame waits for the one before: the GPU finishes it in the meantime.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool drawn = false;
        while (!drawn && std::chrono::steady_clock::now() < deadline)
            drawn = renderer->renderDiagnosticPattern(target->acquireDrawableFrame());
        ASSERT_TRUE(drawn) << frame;
    }
    EXPECT_EQ(renderer->completedRenderCount(), 3);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (renderer->commandQueue().pendingCount() > 0 && std::chrono::steady_clock::now() < deadline)
        renderer->pollCompletions();
    EXPECT_EQ(renderer->commandQueue().pendingCount(), 0u);
    EXPECT_EQ(renderer->bufferPool().recycler().pendingBatchCount(), 0u);
    EXPECT_GT(renderer->bufferPool().recycler().availableCount(4096), 0u);
}

} // namespace
} // namespace kestrovan
