// The GPU renderer's frame build against the CPU path's drawing of the same frames, in one run:
// the screens of the CPU drawing benchmark (200 x 50 cells of 8 x 17 points at scale 2, 16 x 34
// pixels a cell, coloured words in the bundled terminal font).
//
// "changed" builds two screens in turn, so every row is new to the renderer (shaping or the plain
// path, glyph lookup, placement and the rows' buffer uploads); the CPU drawer does the same with
// its drawing of the rows. "unchanged" builds one screen again (rows reused, nothing uploaded);
// "oneRow" after output rewrote one line; "scroll" after one more line scrolled the screen up
// (one row prepared, the others placed again). The terminal's output and the snapshot's refresh
// happen outside the timed part. Runs on the process's EGL device (llvmpipe here; set
// LP_NUM_THREADS to pin its threads).
//
// "raster" draws the unchanged screen as a whole frame (encoding the layers from the rows'
// buffers, flush, fence, waiting for the GPU); its peer draws the same records, gathered into one
// buffer per layer beforehand, with raw GL. main prints the ratios; the targets are 1.5x the CPU
// drawer for every row new, 0.2 ms, 0.3 ms and 1 ms for the other three builds, and 1.3x raw GL
// for the raster.
#include "BenchDrawing.h"
#include "BenchFrames.h"
#include "BenchRatio.h"
#include "BenchRawGL.h"
#include "BenchTerminal.h"

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/TerminalFrameDrawer.h"
#include "Kestrovan/TerminalLock.h"
#include "Platform/GPU/EglContext.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <random>

namespace {

using namespace kestrovan;
using namespace bench::drawingFrame;

FrameViewState benchViewState()
{
    return bench::frameViewState({columns, rows, cellWidth, cellHeight, scale, fontSize});
}

/// A terminal showing a screen of coloured words, and its snapshot.
struct Screen
{
    std::shared_ptr<Terminal> terminal;
    std::shared_ptr<TerminalSnapshot> snapshot = std::make_shared<TerminalSnapshot>();
    std::mt19937 random;

    explicit Screen(unsigned seed) : terminal(bench::makeTerminal(columns, rows)), random(seed)
    {
        std::string text;
        for (int row = 0; row < rows; ++row)
            text += bench::colouredLine(random, columns) + (row + 1 < rows ? "\r\n" : "");
        terminal->feed(std::string_view(text));
        refresh();
    }
    void refresh()
    {
        TerminalLockGuard guard(terminal->terminalLock());
        snapshot->refresh(*terminal, benchViewState(), SnapshotSelectionState(), false);
    }
    /// Output that rewrites row 24, or that adds a line and scrolls.
    void changeOneRow() { feed("\x1b[25;1H" + bench::colouredLine(random, columns)); }
    void scrollOneLine() { feed("\x1b[50;1H\r\n" + bench::colouredLine(random, columns)); }
    void feed(const std::string& text)
    {
        terminal->feed(std::string_view(text));
        refresh();
    }
};

/// A renderer on the EGL device with its target, the context bound for the benchmark's life.
struct Gpu
{
    Gpu()
    {
        device = platform::gpu::makeEglDevice(platform::gpu::GLApi::openGL);
        if (!device)
            return;
        target = std::make_shared<MetalOffscreenTarget>(
            device, platform::Size{columns * cellWidth * scale, rows * cellHeight * scale});
        MetalRendererOptions options;
        options.shaderDirectory.reset();
        options.profileStatistics = true;
        auto made = MetalTerminalRenderer::make(target, options);
        if (auto* built = std::get_if<std::shared_ptr<MetalTerminalRenderer>>(&made))
            renderer = *built;
    }
    std::shared_ptr<platform::gpu::Device> device;
    std::shared_ptr<MetalOffscreenTarget> target;
    std::shared_ptr<MetalTerminalRenderer> renderer;
};

enum class Change
{
    everyRow,
    none,
    oneRow,
    scroll,
};

void gpuBuild(benchmark::State& state, Change change)
{
    Gpu gpu;
    if (!gpu.renderer) {
        state.SkipWithError("no GL device");
        return;
    }
    const platform::gpu::ContextScope scope = gpu.device->bindCurrent();
    Screen first(16), second(17);
    MetalTerminalRenderer& renderer = *gpu.renderer;
    // Glyphs rasterized and atlases grown before timing: the steady state of a running view.
    renderer.buildDrawData(*second.snapshot, *second.snapshot->renderContext);
    renderer.buildDrawData(*first.snapshot, *first.snapshot->renderContext);
    renderer.resetRenderCounter();
    bool flip = false;
    for (auto _ : state) {
        if (change == Change::oneRow || change == Change::scroll) {
            state.PauseTiming();
            change == Change::oneRow ? first.changeOneRow() : first.scrollOneLine();
            state.ResumeTiming();
        }
        Screen& screen = change == Change::everyRow && flip ? second : first;
        flip = !flip;
        DrawData data = renderer.buildDrawData(*screen.snapshot, *screen.snapshot->renderContext);
        benchmark::DoNotOptimize(data);
        // Buffers let go by a rebuilt row are deleted as a frame's start deletes them.
        gpu.device->collectReleased();
    }
    state.counters["rowsRebuiltPerFrame"] =
        double(renderer.profileTotals().rowsRebuilt) / double(std::max<int64_t>(state.iterations(), 1));
}

void cpuDraw(benchmark::State& state)
{
    Screen first(16), second(17);
    const FrameViewState view = benchViewState();
    platform::Bitmap bitmap = frameBitmap();
    platform::Canvas canvas(bitmap, scale);
    TerminalFrameDrawer drawer;
    const platform::Rect whole{0, 0, cellWidth * columns, cellHeight * rows};
    bool flip = false;
    for (auto _ : state) {
        TerminalSnapshot& snapshot = flip ? *second.snapshot : *first.snapshot;
        flip = !flip;
        drawer.drawFrame(canvas, whole, snapshot, *snapshot.renderContext, FrameDrawGeometry::of(view));
        benchmark::DoNotOptimize(bitmap.data());
    }
}

void raster(benchmark::State& state)
{
    Gpu gpu;
    if (!gpu.renderer) {
        state.SkipWithError("no GL device");
        return;
    }
    Screen screen(16);
    MetalTerminalRenderer& renderer = *gpu.renderer;
    renderer.waitForCompletionAfterCommit = true;
    for (auto _ : state) {
        renderer.setPreparedSnapshot(PreparedSnapshot{screen.snapshot, *screen.snapshot->renderContext});
        renderer.render(gpu.target->acquireDrawableFrame());
    }
}

void rawGLRaster(benchmark::State& state)
{
    Gpu gpu;
    if (!gpu.renderer) {
        state.SkipWithError("no GL device");
        return;
    }
    Screen screen(16);
    // The frame's records in one array per layer: its draw data in the per-frame mode.
    SnapshotRenderContext context = *screen.snapshot->renderContext;
    context.metalBufferingMode = MetalBufferingMode::perFrameAggregated;
    const platform::gpu::ContextScope scope = gpu.device->bindCurrent();
    const DrawData data = gpu.renderer->buildDrawData(*screen.snapshot, context);
    const FrameDrawData& records = *data.frame;
    using namespace bench::rawgl;
    const GLuint colorProgram = program("terminal_cell_color_vertex", "terminal_color_fragment");
    const GLuint textProgram = program("terminal_cell_text_vertex", "terminal_text_fragment_gray");
    glUseProgram(textProgram);
    glUniform1i(glGetUniformLocation(textProgram, "atlas"), 0);
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    GLuint buffers[3] = {};
    glGenBuffers(3, buffers);
    const auto fill = [](GLuint buffer, const auto& cells) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(cells.size() * sizeof(cells[0])), cells.data(),
                     GL_STATIC_DRAW);
    };
    fill(buffers[0], records.backgroundCells);
    fill(buffers[1], records.glyphCellsGray);
    fill(buffers[2], records.decorationCells);
    const GLuint sampler = bench::rawgl::linearSampler();
    auto drawable = gpu.target->acquireDrawableFrame();
    const int width = drawable->drawable.size.width, height = drawable->drawable.size.height;
    const auto cells = [&](GLuint program, GLuint buffer, size_t count, bool text) {
        if (count == 0)
            return;
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        text ? textCellAttributes() : colorCellAttributes();
        glUseProgram(program);
        glUniform2f(glGetUniformLocation(program, "viewport"), float(width), float(height));
        if (text)
            glBlendFuncSeparate(GL_ONE, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        else
            glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glDrawArraysInstanced(GL_TRIANGLES, 0, 6, GLsizei(count));
    };
    for (auto _ : state) {
        glBindFramebuffer(GL_FRAMEBUFFER, drawable->drawable.framebuffer);
        glViewport(0, 0, width, height);
        glClearColor(0.05f, 0.05f, 0.08f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glBindVertexArray(vertexArray);
        glEnable(GL_BLEND);
        cells(colorProgram, buffers[0], records.backgroundCells.size(), false);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, gpu.renderer->grayscaleAtlas().texture()->glName());
        glBindSampler(0, sampler);
        cells(textProgram, buffers[1], records.glyphCellsGray.size(), true);
        cells(colorProgram, buffers[2], records.decorationCells.size(), false);
        bench::rawgl::finishFrame();
    }
    glDeleteSamplers(1, &sampler);
    glDeleteBuffers(3, buffers);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteProgram(colorProgram);
    glDeleteProgram(textProgram);
}

BENCHMARK_CAPTURE(gpuBuild, everyRowNew, Change::everyRow)->Unit(benchmark::kMillisecond);
BENCHMARK(cpuDraw)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(gpuBuild, unchanged, Change::none)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(gpuBuild, oneRow, Change::oneRow)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(gpuBuild, scrollOneLine, Change::scroll)->Unit(benchmark::kMicrosecond);
BENCHMARK(raster)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(rawGLRaster)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("gpuBuild/everyRowNew") && times.count("cpuDraw") && times["cpuDraw"] > 0)
        std::printf("every row new: the GPU frame build takes %.2fx the CPU drawer's frame (target 1.5x)\n",
                    times["gpuBuild/everyRowNew"] / times["cpuDraw"]);
    if (times.count("raster/real_time") && times.count("rawGLRaster/real_time") &&
        times["rawGLRaster/real_time"] > 0)
        std::printf(
            "the raster of an unchanged frame: %.2fx the same records drawn with raw GL (target 1.3x)\n",
            times["raster/real_time"] / times["rawGLRaster/real_time"]);
    benchmark::Shutdown();
    return 0;
}
