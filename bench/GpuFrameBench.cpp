// The GPU renderer's draw path against raw GL, on a full terminal frame.
//
// A frame of 200 x 50 cells of 16 x 34 pixels (3200 x 1700): 10,000 background cells and 10,000
// grey glyph cells, drawn as instanced quads through the renderer's pipelines (buffer pool
// uploads, pipeline and texture binding through the GL layer, flush, fence, completion) and, as
// the peer, with the same shaders, records and draws made with raw GL calls into one buffer per
// layer. Both wait for the GPU at the end of each frame, so the times are whole frames. Eight
// frames of different colours and glyphs are prepared beforehand and drawn in turn. main prints
// the ratio; the target is 1.2x. Runs on the process's EGL device (llvmpipe here; set
// LP_NUM_THREADS to pin its threads).
#include "BenchRatio.h"
#include "BenchRawGL.h"

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Platform/GPU/EglContext.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <epoxy/gl.h>
#include <random>
#include <vector>

using namespace kestrovan;

namespace {

constexpr int columns = 200;
constexpr int rows = 50;
constexpr int cellWidth = 16;
constexpr int cellHeight = 34;
constexpr int width = columns * cellWidth;
constexpr int height = rows * cellHeight;
constexpr int glyphCount = 95;
constexpr int frameVariants = 8;

struct FrameRecords
{
    std::vector<ColorCell> backgrounds;
    std::vector<TextCell> glyphs;
};

/// What both loops share: the device, a renderer with glyphs in its grey atlas, its target, and
/// the prepared frames.
struct Scene
{
    Scene()
    {
        device = platform::gpu::makeEglDevice(platform::gpu::GLApi::openGL);
        if (!device)
            return;
        target = std::make_shared<MetalOffscreenTarget>(device, platform::Size{width, height});
        MetalRendererOptions options;
        options.shaderDirectory.reset();
        auto made = MetalTerminalRenderer::make(target, options);
        if (auto* error = std::get_if<MetalError>(&made)) {
            std::fprintf(stderr, "no renderer: %s\n", error->description().c_str());
            return;
        }
        renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(made);
        const platform::gpu::ContextScope scope = device->bindCurrent();
        std::mt19937 random(32);
        GlyphAtlas& atlas = renderer->grayscaleAtlas();
        std::vector<std::pair<Float2, Float2>> texRects;
        for (int glyph = 0; glyph < glyphCount; ++glyph) {
            std::vector<uint8_t> pixels(size_t(cellWidth * cellHeight * 4));
            for (size_t i = 3; i < pixels.size(); i += 4)
                pixels[i] = uint8_t(random() % 3 == 0 ? random() : 0);
            auto region = atlas.ensureRegion(cellWidth, cellHeight);
            atlas.write(*region, pixels, cellWidth, cellHeight);
            const auto side = float(atlas.size());
            texRects.push_back({{float(region->x) / side, float(region->y) / side},
                                {float(cellWidth) / side, float(cellHeight) / side}});
        }
        std::uniform_real_distribution<float> channel(0, 1);
        for (int variant = 0; variant < frameVariants; ++variant) {
            FrameRecords frame;
            for (int row = 0; row < rows; ++row)
                for (int column = 0; column < columns; ++column) {
                    const Float2 position{float(column * cellWidth), float(row * cellHeight)};
                    frame.backgrounds.push_back({position,
                                                 {cellWidth, cellHeight},
                                                 {channel(random), channel(random), channel(random), 1}});
                    const auto& [origin, size] = texRects[random() % glyphCount];
                    frame.glyphs.push_back({position,
                                            {cellWidth, cellHeight},
                                            origin,
                                            size,
                                            {channel(random), channel(random), channel(random), 1}});
                }
            frames.push_back(std::move(frame));
        }
    }

    std::shared_ptr<platform::gpu::Device> device;
    std::shared_ptr<MetalOffscreenTarget> target;
    std::shared_ptr<MetalTerminalRenderer> renderer;
    std::vector<FrameRecords> frames;
};

Scene& scene()
{
    static Scene made;
    return made;
}

void rendererFrame(benchmark::State& state)
{
    Scene& s = scene();
    if (!s.renderer) {
        state.SkipWithError("no GL device");
        return;
    }
    MetalTerminalRenderer& r = *s.renderer;
    const platform::gpu::ContextScope scope = s.device->bindCurrent();
    const platform::gpu::PixelSize viewport{width, height};
    size_t frame = 0;
    for (auto _ : state) {
        const FrameRecords& records = s.frames[frame++ % s.frames.size()];
        // As a frame of the renderer starts: completions, then the objects they let go.
        // As a frame of the renderer starts: completions, then the objects they let go.
        r.commandQueue().pollCompletions();
        r.bufferPool().beginFrame();
        s.device->collectReleased();
        s.device->collectReleased();
        auto drawable = s.target->acquireDrawableFrame();
        platform::gpu::RenderPass pass = drawable->renderPassDescriptor;
        pass.clear = platform::gpu::ClearColor{0, 0, 0, 1};
        s.device->beginPass(pass);
        r.drawRecords<ColorCell>(r.cellColorPipeline, nullptr, records.backgrounds, viewport);
        r.drawRecords<TextCell>(r.cellTextGrayPipeline, r.grayscaleAtlas().texture().get(), records.glyphs,
                                viewport);
        auto commandBuffer = r.commandQueue().makeCommandBuffer();
        if (auto batch = r.bufferPool().recycler().retainUntilCompletion(r.bufferPool().frameBuffers())) {
            auto recycler = r.bufferPool().sharedRecycler();
            commandBuffer->addCompletedHandler([recycler, id = *batch] { recycler->complete(id); });
        }
        r.commandQueue().commit(commandBuffer);
        r.commandQueue().waitUntilCompleted(commandBuffer, std::chrono::seconds(10));
    }
}
BENCHMARK(rendererFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void rawGLFrame(benchmark::State& state)
{
    Scene& s = scene();
    if (!s.renderer) {
        state.SkipWithError("no GL device");
        return;
    }
    const platform::gpu::ContextScope scope = s.device->bindCurrent();
    const GLuint colorProgram =
        bench::rawgl::program("terminal_cell_color_vertex", "terminal_color_fragment");
    const GLuint textProgram =
        bench::rawgl::program("terminal_cell_text_vertex", "terminal_text_fragment_gray");
    glUseProgram(textProgram);
    glUniform1i(glGetUniformLocation(textProgram, "atlas"), 0);
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    GLuint buffers[2] = {};
    glGenBuffers(2, buffers);
    const size_t backgroundBytes = s.frames[0].backgrounds.size() * sizeof(ColorCell);
    const size_t glyphBytes = s.frames[0].glyphs.size() * sizeof(TextCell);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(backgroundBytes), nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(glyphBytes), nullptr, GL_DYNAMIC_DRAW);
    auto drawable = s.target->acquireDrawableFrame();
    const GLuint sampler = bench::rawgl::linearSampler();
    size_t frame = 0;
    for (auto _ : state) {
        const FrameRecords& records = s.frames[frame++ % s.frames.size()];
        glBindFramebuffer(GL_FRAMEBUFFER, drawable->drawable.framebuffer);
        glViewport(0, 0, width, height);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindVertexArray(vertexArray);

        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(backgroundBytes), records.backgrounds.data());
        bench::rawgl::colorCellAttributes();
        glUseProgram(colorProgram);
        glUniform2f(glGetUniformLocation(colorProgram, "viewport"), width, height);
        glEnable(GL_BLEND);
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glDrawArraysInstanced(GL_TRIANGLES, 0, 6, GLsizei(records.backgrounds.size()));

        glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
        glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(glyphBytes), records.glyphs.data());
        bench::rawgl::textCellAttributes();
        glUseProgram(textProgram);
        glUniform2f(glGetUniformLocation(textProgram, "viewport"), width, height);
        glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, s.renderer->grayscaleAtlas().texture()->glName());
        glBindSampler(0, sampler);
        glDrawArraysInstanced(GL_TRIANGLES, 0, 6, GLsizei(records.glyphs.size()));

        bench::rawgl::finishFrame();
    }
    glDeleteSamplers(1, &sampler);
    glDeleteBuffers(2, buffers);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteProgram(colorProgram);
    glDeleteProgram(textProgram);
}
BENCHMARK(rawGLFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("rendererFrame/real_time") && times.count("rawGLFrame/real_time") &&
        times["rawGLFrame/real_time"] > 0)
        std::printf(
            "a 200 x 50 frame at 3200 x 1700 through the renderer: %.2fx the time of raw GL (target 1.2x)\n",
            times["rendererFrame/real_time"] / times["rawGLFrame/real_time"]);
    benchmark::Shutdown();
    return 0;
}
