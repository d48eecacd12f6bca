// Box-drawing cells drawn by the custom glyph renderer against the same cells' glyphs drawn from
// the terminal font with raw cairo: what drawing them ourselves, on the pixel grid, costs.
//
// A screen of 200 x 50 cells of 8 x 17 points at scale 2 (3200 x 1700 pixels), each cell a
// box-drawing character: either frames and tables (the lines, corners and crossings a program's
// interface is made of) or every code point of the block picked at random from a fixed seed
// (dashes, arcs and antialiased diagonals included). Ours paints each row through
// `drawBoxDrawings`; the peer sets up cairo as the canvas does and shows each row's glyphs from
// JetBrains Mono in one call. Items and glyphs are prepared before the timed loop; main prints
// the ratio.
#include "BenchDrawing.h"
#include "BenchRatio.h"

#include "Kestrovan/Apple/CustomGlyphDrawing.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Text/Font.h"

#include <benchmark/benchmark.h>
#include <cairo.h>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace kestrovan;
using platform::NativeColor;

namespace {

using namespace bench::drawingFrame;

const NativeColor palette[] = {NativeColor::sRGB(0.85, 0.85, 0.85), NativeColor::sRGB(0.8, 0.2, 0.2),
                               NativeColor::sRGB(0.2, 0.6, 0.3), NativeColor::sRGB(0.25, 0.4, 0.85)};

struct Item
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    NativeColor foregroundColor;
};

enum class Screen
{
    frames,
    everyCharacter,
};

/// The screen's code points, row by row, from a fixed seed.
std::vector<std::vector<uint32_t>> screen(Screen kind)
{
    std::mt19937 random(16);
    std::vector<std::vector<uint32_t>> grid(rows, std::vector<uint32_t>(columns));
    // Frames: tables of 10 x 5 cells with light outer lines and crossings, heavy every third.
    const std::u32string light = U"┌─┬┐│┼├┤└┴┘", heavy = U"┏━┳┓┃╋┣┫┗┻┛";
    std::uniform_int_distribution<uint32_t> any(0x2500, 0x257F);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            if (kind == Screen::everyCharacter) {
                grid[row][column] = any(random);
                continue;
            }
            const std::u32string& set = (row / 5 + column / 10) % 3 == 0 ? heavy : light;
            const int r = row % 5, c = column % 10;
            const bool top = r == 0, bottom = r == 4, left = c == 0, right = c == 9, mid = c == 5;
            char32_t ch = set[1];
            if (top)
                ch = left ? set[0] : right ? set[3] : mid ? set[2] : set[1];
            else if (bottom)
                ch = left ? set[8] : right ? set[10] : mid ? set[9] : set[1];
            else if (r == 2)
                ch = left ? set[6] : right ? set[7] : mid ? set[5] : set[1];
            else
                ch = left || right || mid ? set[4] : U' ';
            grid[row][column] = ch == U' ' ? 0x2502 : uint32_t(ch);
        }
    return grid;
}

void customBoxDrawing(benchmark::State& state, Screen kind)
{
    const platform::FontRef font = terminalFont();
    const auto grid = screen(kind);
    std::vector<std::vector<Item>> items(rows);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            items[row].push_back(Item{column, 1, grid[row][column], palette[row % 4]});
    const CustomGlyphMetrics metrics{platform::Size{cellWidth, cellHeight},
                                     font->metrics().underlineThickness, scale, false};
    platform::Bitmap bitmap = frameBitmap();
    platform::Canvas canvas(bitmap, scale);
    for (auto _ : state) {
        for (int row = 0; row < rows; ++row)
            drawBoxDrawings(items[row], platform::Point{0, (rows - 1 - row) * cellHeight}, metrics, canvas);
        benchmark::DoNotOptimize(bitmap.data());
    }
    state.SetItemsProcessed(state.iterations() * rows * columns);
}

void rawCairoFontGlyphs(benchmark::State& state, Screen kind)
{
    const platform::FontRef font = terminalFont();
    const auto grid = screen(kind);
    std::vector<std::vector<cairo_glyph_t>> glyphs(rows);
    for (int row = 0; row < rows; ++row) {
        const double baseline = (rows - 1 - row) * cellHeight + 4;
        for (int column = 0; column < columns; ++column)
            glyphs[row].push_back(cairo_glyph_t{font->glyph(char32_t(grid[row][column])).value_or(0),
                                                column * cellWidth, baseline});
    }
    platform::Bitmap bitmap = frameBitmap();
    bench::showRawCairoGlyphRows(state, bitmap, scale, *font, fontSize, glyphs, palette);
    state.SetItemsProcessed(state.iterations() * rows * columns);
}

BENCHMARK_CAPTURE(customBoxDrawing, frames, Screen::frames)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rawCairoFontGlyphs, frames, Screen::frames)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(customBoxDrawing, everyCharacter, Screen::everyCharacter)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rawCairoFontGlyphs, everyCharacter, Screen::everyCharacter)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    auto ratio = [&](const char* ours, const char* peer, const char* what) {
        if (times.count(ours) && times.count(peer) && times[peer] > 0)
            std::printf("%s: %.2fx the time of the font's glyphs with raw cairo\n", what,
                        times[ours] / times[peer]);
    };
    ratio("customBoxDrawing/frames", "rawCairoFontGlyphs/frames", "a 200 x 50 screen of frames and tables");
    ratio("customBoxDrawing/everyCharacter", "rawCairoFontGlyphs/everyCharacter",
          "a 200 x 50 screen of every box-drawing character");
    benchmark::Shutdown();
    return 0;
}
