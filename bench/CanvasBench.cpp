// The drawing layer's cost over cairo itself, on the two loads the CPU draw path is made of: cell
// background rectangles and rows of glyphs.
//
// A frame of 200 x 50 cells of 8 x 17 points at scale 2 (3200 x 1700 pixels): 10,000 background
// rectangles in colours that change from cell to cell, and 50 rows of 200 ASCII glyphs each set
// at their cell positions in alternating colours. Each is drawn through `Canvas` and with the
// same cairo calls made directly (the same y-up matrix, face, options and glyph positions, glyphs
// prepared once), and main prints the ratio: the layer's overhead.
#include "BenchDrawing.h"
#include "BenchRatio.h"

#include "Platform/Graphics/Canvas.h"
#include "Platform/Text/Font.h"

#include <benchmark/benchmark.h>
#include <cairo.h>
#include <cstdio>
#include <random>
#include <vector>

using namespace platform;

namespace {

using namespace bench::drawingFrame;

const NativeColor palette[] = {NativeColor::sRGB(0.1, 0.1, 0.12), NativeColor::sRGB(0.8, 0.2, 0.2),
                               NativeColor::sRGB(0.2, 0.6, 0.3), NativeColor::sRGB(0.25, 0.4, 0.85)};

/// One row of glyphs: ids and baseline positions in points.
struct GlyphRow
{
    std::vector<GlyphId> glyphs;
    std::vector<Point> positions;
    std::vector<cairo_glyph_t> cairoGlyphs;
};

/// Printable ASCII from a fixed seed, one run per row.
std::vector<GlyphRow> glyphRows(const Font& font)
{
    std::mt19937 random(16);
    std::uniform_int_distribution<int> printable(0x21, 0x7e);
    std::vector<GlyphRow> grid(rows);
    for (int row = 0; row < rows; ++row) {
        const double baseline = (rows - 1 - row) * cellHeight + 4;
        for (int column = 0; column < columns; ++column) {
            const GlyphId glyph = font.glyph(char32_t(printable(random))).value_or(0);
            const Point position{column * cellWidth, baseline};
            grid[row].glyphs.push_back(glyph);
            grid[row].positions.push_back(position);
            grid[row].cairoGlyphs.push_back(cairo_glyph_t{glyph, position.x, position.y});
        }
    }
    return grid;
}

void canvasCellRects(benchmark::State& state)
{
    Bitmap bitmap = frameBitmap();
    Canvas canvas(bitmap, scale);
    canvas.setAntialias(false);
    for (auto _ : state) {
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column) {
                canvas.setFillColor(palette[(row + column) % 4]);
                canvas.fillRect(Rect{column * cellWidth, row * cellHeight, cellWidth, cellHeight});
            }
        benchmark::DoNotOptimize(bitmap.data());
    }
    state.SetItemsProcessed(state.iterations() * rows * columns);
}
BENCHMARK(canvasCellRects)->Unit(benchmark::kMillisecond);

void rawCairoCellRects(benchmark::State& state)
{
    Bitmap bitmap = frameBitmap();
    cairo_t* cr = bench::rawCairoContext(bitmap, scale);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (auto _ : state) {
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column) {
                const NativeColor& color = palette[(row + column) % 4];
                cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
                cairo_rectangle(cr, column * cellWidth, row * cellHeight, cellWidth, cellHeight);
                cairo_fill(cr);
            }
        cairo_surface_flush(bitmap.cairoSurface());
        benchmark::DoNotOptimize(bitmap.data());
    }
    cairo_destroy(cr);
    state.SetItemsProcessed(state.iterations() * rows * columns);
}
BENCHMARK(rawCairoCellRects)->Unit(benchmark::kMillisecond);

void canvasGlyphGrid(benchmark::State& state)
{
    FontRef font = terminalFont();
    const std::vector<GlyphRow> grid = glyphRows(*font);
    Bitmap bitmap = frameBitmap();
    Canvas canvas(bitmap, scale);
    for (auto _ : state) {
        for (int row = 0; row < rows; ++row) {
            canvas.setFillColor(palette[row % 4]);
            canvas.drawGlyphs(*font, grid[row].glyphs, grid[row].positions);
        }
        benchmark::DoNotOptimize(bitmap.data());
    }
    state.SetItemsProcessed(state.iterations() * rows * columns);
}
BENCHMARK(canvasGlyphGrid)->Unit(benchmark::kMillisecond);

void rawCairoGlyphGrid(benchmark::State& state)
{
    FontRef font = terminalFont();
    std::vector<std::vector<cairo_glyph_t>> glyphs;
    for (const GlyphRow& row : glyphRows(*font))
        glyphs.push_back(row.cairoGlyphs);
    Bitmap bitmap = frameBitmap();
    bench::showRawCairoGlyphRows(state, bitmap, scale, *font, fontSize, glyphs, palette);
    state.SetItemsProcessed(state.iterations() * rows * columns);
}
BENCHMARK(rawCairoGlyphGrid)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    auto ratio = [&](const char* ours, const char* peer, const char* what) {
        if (times.count(ours) && times.count(peer) && times[peer] > 0)
            std::printf("%s: %.2fx the time of raw cairo\n", what, times[ours] / times[peer]);
    };
    ratio("canvasCellRects", "rawCairoCellRects", "10,000 cell rectangles");
    ratio("canvasGlyphGrid", "rawCairoGlyphGrid", "a 200 x 50 grid of glyph runs");
    benchmark::Shutdown();
    return 0;
}
