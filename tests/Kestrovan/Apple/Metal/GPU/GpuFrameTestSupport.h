// Whole terminal frames drawn by the GPU renderer on headless EGL (llvmpipe), read back and
// compared with the CPU path's pictures, pixels classed by the cell they fall in.
//
// Classes: `exact` cells (backgrounds, selection, cursor shapes, straight lines, box, block and
// Powerline cells, unscaled pictures) must match every channel within 2; `glyph` cells (text drawn
// unscaled, and the cells its ink may overhang) must match 99.9% of their pixels within 2 and all
// within 24, with the ink of each cell within 0.5%; `scaled` cells (wide and fitted glyphs, curly,
// dotted and dashed lines, scaled pictures), which the GPU draws from scaled bitmaps and steps where
// the CPU path draws outlines and paths, must have a mean difference of at most 1.5 per cell and
// the same ink bounding box within 1 pixel. `stretched` cells, those of double-width and double-height
// rows, are drawn by the GPU from the row's bitmaps stretched to twice their size (the CPU path
// draws the outlines at twice the size, sharper): a mean difference of at most 16 per cell and the
// ink bounding box within 1 pixel. A failure writes the GPU picture and a map of the differences
// beside the golden.
#pragma once

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Platform/GPU/EglContext.h"
#include "Platform/Graphics/Bitmap.h"

#include <cairo.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace gpu_frame_test {

/// A frame's pixels as read back: blue, green, red, alpha (premultiplied), bottom row first.
struct Pixels
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;

    platform::PremultipliedPixel at(int x, int y) const
    {
        const uint8_t* p = &bgra[(size_t(y) * size_t(width) + size_t(x)) * 4];
        return platform::PremultipliedPixel{p[2], p[1], p[0], p[3]};
    }

    /// The same pixels in a bitmap (to write as PNG, or to compare with one).
    platform::Bitmap bitmap() const
    {
        platform::Bitmap out = std::move(*platform::Bitmap::create(width, height));
        cairo_surface_t* surface = out.cairoSurface();
        cairo_surface_flush(surface);
        uint8_t* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < height; ++y)
            std::copy_n(&bgra[size_t(y) * size_t(width) * 4], size_t(width) * 4,
                        data + size_t(height - 1 - y) * size_t(stride));
        cairo_surface_mark_dirty(surface);
        return out;
    }

    static Pixels of(const platform::Bitmap& bitmap)
    {
        Pixels pixels{bitmap.width(), bitmap.height(), {}};
        for (int y = 0; y < bitmap.height(); ++y) {
            const std::span<const uint8_t> row = bitmap.row(y);
            pixels.bgra.insert(pixels.bgra.end(), row.begin(), row.end());
        }
        return pixels;
    }
};

/// A GPU renderer drawing into an offscreen target of `size` pixels on its own EGL device.
struct GpuRenderer
{
    explicit GpuRenderer(platform::gpu::PixelSize size, kestrovan::MetalRendererOptions options = {})
        : device(platform::gpu::makeEglDevice(platform::gpu::GLApi::openGL)),
          target(std::make_shared<kestrovan::MetalOffscreenTarget>(
              device, platform::Size{double(size.width), double(size.height)}))
    {
        options.shaderDirectory.reset();
        auto made = kestrovan::MetalTerminalRenderer::make(target, options);
        if (auto* error = std::get_if<kestrovan::MetalError>(&made))
            ADD_FAILURE() << error->description();
        else
            renderer = std::get<std::shared_ptr<kestrovan::MetalTerminalRenderer>>(made);
        if (renderer)
            renderer->waitForCompletionAfterCommit = true;
    }

    ~GpuRenderer()
    {
        // The renderer's objects go while the device's context can still be bound.
        renderer.reset();
        if (device) {
            const platform::gpu::ContextScope scope = device->bindCurrent();
            if (scope.isCurrent())
                device->collectReleased();
        }
    }

    /// Draws one frame of `snapshot` (which must outlive the call) and reads it back.
    Pixels draw(kestrovan::TerminalSnapshot& snapshot, const kestrovan::SnapshotRenderContext& context)
    {
        renderer->setPreparedSnapshot(kestrovan::PreparedSnapshot{
            std::shared_ptr<kestrovan::TerminalSnapshot>(std::shared_ptr<void>(), &snapshot), context});
        renderer->render(target->acquireDrawableFrame());
        Pixels pixels{int(target->drawableSize().width), int(target->drawableSize().height),
                      target->readPixels()};
        EXPECT_EQ(pixels.bgra.size(), size_t(pixels.width) * size_t(pixels.height) * 4);
        return pixels;
    }

    std::shared_ptr<platform::gpu::Device> device;
    std::shared_ptr<kestrovan::MetalOffscreenTarget> target;
    std::shared_ptr<kestrovan::MetalTerminalRenderer> renderer;
};

enum class CellClass : uint8_t
{
    exact,
    glyph,
    scaled,
    stretched,
};

/// The class of every cell of a frame, and of the strip below the last row (exact).
struct CellClasses
{
    int cols = 0;
    int rows = 0;
    /// One cell in pixels.
    double cellWidthPx = 1;
    double cellHeightPx = 1;
    std::vector<CellClass> classes;

    CellClass& at(int col, int row) { return classes[size_t(row) * size_t(cols) + size_t(col)]; }
    CellClass at(int col, int row) const { return classes[size_t(row) * size_t(cols) + size_t(col)]; }
    /// Raises a cell's class (exact < glyph < scaled < stretched).
    void raise(int col, int row, CellClass to)
    {
        if (col >= 0 && col < cols && row >= 0 && row < rows && at(col, row) < to)
            at(col, row) = to;
    }
    /// The class of a pixel (x, y from the bottom) of a frame `height` pixels high.
    CellClass ofPixel(int x, int y, int height) const
    {
        const int col = int(x / cellWidthPx);
        const int row = int((height - 1 - y) / cellHeightPx);
        return col < cols && row < rows ? at(col, row) : CellClass::exact;
    }
};

/// Classes the cells of a snapshot by what they show: text glyphs (and their neighbours, which
/// their ink may reach), wide characters, fitted fallback text, patterned underlines and doubled
/// rows as scaled; everything else exact.
CellClasses classify(const kestrovan::TerminalSnapshot& snapshot, double cellWidthPx, double cellHeightPx);

/// What comparing a GPU frame with a picture found, by class.
struct FrameDifference
{
    /// Exact cells: pixels differing by more than 2 in a channel.
    int exactMismatches = 0;
    /// Glyph cells: all pixels, and those beyond 2 and beyond 24.
    int glyphPixels = 0;
    int glyphBeyond2 = 0;
    int glyphBeyond24 = 0;
    /// The largest relative difference of ink in a glyph cell.
    double worstInkRatio = 0;
    /// Scaled and stretched cells: the largest mean difference and the largest move of an ink
    /// box edge.
    double worstScaledMean = 0;
    double worstStretchedMean = 0;
    int worstScaledBoxMove = 0;
    std::string firstExactMismatch;
};

/// Compares `gpu` with `cpu` (the same size) cell by cell; without `measureCells` only pixel by
/// pixel (no ink, means or boxes), which is enough to find a wrong glyph and much quicker.
FrameDifference compare(const Pixels& gpu, const Pixels& cpu, const CellClasses& classes,
                        bool measureCells = true);

/// Checks the thresholds; on failure writes <name>.gpu.png and <name>.diff.png under the build
/// tree's folder for failed goldens (`name` is the golden's path in tests/golden, without its
/// suffix) and says where they went.
void expectWithinThresholds(const FrameDifference& difference, const Pixels& gpu, const Pixels& cpu,
                            const std::string& name);

/// Compares a GPU frame with tests/golden/drawing/<name>.png.
void expectMatchesDrawingGolden(const Pixels& gpu, const std::string& name, const CellClasses& classes);

} // namespace gpu_frame_test
