// Box drawing on the device-pixel grid: the expected pixel rows of light, heavy and double lines,
// dashes and a radius-0 corner; every line character's arms as whole-pixel bands at scales 1
// and 2; and golden sheets of the whole block with joined frames, dashes, arcs and diagonals.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/BoxDrawingRenderer.h"
#include "Kestrovan/Apple/CustomGlyphDrawing.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrovan;
using drawing_test::Surface;
using platform::NativeColor;
using platform::Point;
using platform::Size;

namespace {

const NativeColor ink = NativeColor::sRGB(0.1, 0.1, 0.2);

/// One code point alone in a cell of `width` x `height` device pixels at `scale`, hard edges.
Surface drawCell(uint32_t codePoint, int width, int height, double scale, int thicknessPx)
{
    Surface surface(width, height, scale);
    surface.canvas->setAntialias(false);
    BoxDrawingRenderer::draw(codePoint, *surface.canvas, Point{0, 0}, Size{width / scale, height / scale},
                             scale, ink, thicknessPx);
    return surface;
}

/// The rows (from the top) whose every pixel is opaque, as "first-last" ranges.
std::string opaqueRows(const Surface& surface)
{
    std::string rows;
    for (int y = 0; y < surface.bitmap.height(); ++y) {
        bool full = true, empty = true;
        for (int x = 0; x < surface.bitmap.width(); ++x) {
            full = full && surface.alphaAt(x, y) == 255;
            empty = empty && surface.alphaAt(x, y) == 0;
        }
        EXPECT_TRUE(full || empty) << "row " << y << " is partly painted";
        if (full)
            rows += std::to_string(y) + " ";
    }
    return rows;
}

/// Runs of opaque pixels along one edge of the cell, as (start, length).
std::vector<std::pair<int, int>> edgeRuns(const Surface& surface, bool vertical, int fixed)
{
    std::vector<std::pair<int, int>> runs;
    const int length = vertical ? surface.bitmap.height() : surface.bitmap.width();
    for (int i = 0; i < length; ++i) {
        const int alpha = vertical ? surface.alphaAt(fixed, i) : surface.alphaAt(i, fixed);
        if (alpha == 255) {
            if (!runs.empty() && runs.back().first + runs.back().second == i)
                ++runs.back().second;
            else
                runs.push_back({i, 1});
        }
    }
    return runs;
}

struct Item
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    NativeColor foregroundColor;
};

/// Draws lines of text through the row painter, the top line at the top of the surface; only
/// box-drawing code points are drawn, anything else leaves its cell empty.
void drawLines(Surface& surface, const std::vector<std::u32string>& lines, int topRow,
               const CustomGlyphMetrics& metrics)
{
    const double surfaceHeight = surface.canvas->size().height;
    for (size_t row = 0; row < lines.size(); ++row) {
        std::vector<Item> items;
        for (size_t column = 0; column < lines[row].size(); ++column) {
            if (BoxDrawingRenderer::handles(lines[row][column]))
                items.push_back(Item{int(column), 1, lines[row][column], ink});
        }
        const Point origin{0, surfaceHeight - metrics.cellSize.height * double(topRow + row + 1)};
        drawBoxDrawings(items, origin, metrics, *surface.canvas);
    }
}

} // namespace

TEST(BoxDrawing, LinesLieOnTheDesignedPixelRowsOfA16By34Cell)
{
    // Scale 2, a 16 x 34 pixel cell, light thickness 2.
    EXPECT_EQ(opaqueRows(drawCell(0x2500, 16, 34, 2, 2)), "16 17 ") << "U+2500 fills y 16 to 18";
    EXPECT_EQ(opaqueRows(drawCell(0x2501, 16, 34, 2, 2)), "15 16 17 18 ") << "U+2501 fills y 15 to 19";
    EXPECT_EQ(opaqueRows(drawCell(0x2550, 16, 34, 2, 2)), "14 15 18 19 ") << "U+2550: two lines, a gap of t";
}

TEST(BoxDrawing, DashesShareTheCellAndNarrowCellsGetASolidLine)
{
    // 20 pixels, t = 2: gap min(3, 4) = 3, dashes 4, 4 and 3 long from x = 1, 8 and 15.
    const Surface dashes = drawCell(0x2504, 20, 20, 1, 2);
    EXPECT_EQ(edgeRuns(dashes, false, 9), (std::vector<std::pair<int, int>>{{1, 4}, {8, 4}, {15, 3}}));
    EXPECT_EQ(edgeRuns(dashes, false, 10), (std::vector<std::pair<int, int>>{{1, 4}, {8, 4}, {15, 3}}));
    EXPECT_TRUE(edgeRuns(dashes, false, 8).empty());
    // Too narrow for three dashes: one solid line across.
    EXPECT_EQ(edgeRuns(drawCell(0x2504, 5, 20, 1, 2), false, 9), (std::vector<std::pair<int, int>>{{0, 5}}));
    // The vertical quadruple dash uses the same rule down the cell.
    EXPECT_EQ(edgeRuns(drawCell(0x250A, 20, 24, 1, 1), true, 9).size(), 4u);
}

TEST(BoxDrawing, ACornerWithRadiusZeroIsADiscAtTheCentre)
{
    // U+256D in a 2 x 2 pixel cell with t = 2: both arms reach the centre, and the quarter of a disc
    // of radius 1 towards the upper-left corner covers most of that pixel, antialiased.
    const Surface corner = drawCell(0x256D, 2, 2, 1, 2);
    EXPECT_EQ(corner.alphaAt(1, 0), 255);
    EXPECT_EQ(corner.alphaAt(0, 1), 255);
    EXPECT_EQ(corner.alphaAt(1, 1), 255);
    EXPECT_GT(corner.alphaAt(0, 0), 150);
    EXPECT_LT(corner.alphaAt(0, 0), 255);
}

TEST(BoxDrawing, EveryLineCharacterHasWholePixelArmsAtScalesOneAndTwo)
{
    // At every edge a line character's arm is one band of t (light) or 2t (heavy) pixels, or two
    // bands of t with a gap of t (double), centred on the cell; t never falls below one pixel.
    for (const double scale : {1.0, 2.0}) {
        const int t = BoxDrawingRenderer::baseThicknessPx(scale, 0.05);
        EXPECT_EQ(t, int(scale)) << "a hairline font still gets one device pixel per point";
        const int width = int(8 * scale), height = int(17 * scale);
        int arms = 0;
        for (uint32_t codePoint = 0x2500; codePoint <= 0x257F; ++codePoint) {
            if ((codePoint >= 0x2504 && codePoint <= 0x250B) ||
                (codePoint >= 0x254C && codePoint <= 0x254F) || (codePoint >= 0x256D && codePoint <= 0x2573))
                continue; // dashes, arcs and diagonals do not reach the edges in bands
            const Surface cell = drawCell(codePoint, width, height, scale, t);
            const struct
            {
                bool vertical;
                int fixed;
                int extent;
            } edges[] = {
                {false, 0, width}, {true, width - 1, height}, {false, height - 1, width}, {true, 0, height}};
            int edgesWithArms = 0;
            for (const auto& edge : edges) {
                const std::vector<std::pair<int, int>> runs = edgeRuns(cell, edge.vertical, edge.fixed);
                if (runs.empty())
                    continue;
                ++edgesWithArms;
                ++arms;
                const int first = runs.front().first;
                const int last = runs.back().first + runs.back().second;
                const bool single = runs.size() == 1 && (runs[0].second == t || runs[0].second == 2 * t);
                const bool doubled = runs.size() == 2 && runs[0].second == t && runs[1].second == t &&
                                     runs[1].first - (runs[0].first + t) == t;
                EXPECT_TRUE(single || doubled)
                    << std::hex << "U+" << codePoint << std::dec << " at scale " << scale << ": "
                    << runs.size() << " runs, the first " << runs[0].second << " pixels";
                EXPECT_LE(std::abs(first - (edge.extent - last)), 1)
                    << std::hex << "U+" << codePoint << " arm not centred";
            }
            EXPECT_GE(edgesWithArms, 1) << std::hex << "U+" << codePoint << " reaches no edge";
        }
        EXPECT_GT(arms, 200);
    }
}

TEST(BoxDrawing, NothingOutsideTheBlock)
{
    for (const uint32_t codePoint : {0x24FFu, 0x2580u, 0x41u}) {
        const Surface cell = drawCell(codePoint, 16, 34, 2, 2);
        EXPECT_TRUE(opaqueRows(cell).empty()) << std::hex << codePoint;
        EXPECT_EQ(cell.alphaAt(8, 17), 0);
    }
}

TEST(BoxDrawing, GoldenSheetsAtScalesOneAndTwo)
{
    // Every code point on its own (every other cell), then frames, crossings, dashes, arcs and
    // diagonals in neighbouring cells, which must join without seams.
    std::vector<std::u32string> lines;
    for (uint32_t row = 0; row < 8; ++row) {
        std::u32string line;
        for (uint32_t column = 0; column < 16; ++column) {
            line += char32_t(0x2500 + row * 16 + column);
            line += U' ';
        }
        lines.push_back(line);
        lines.push_back(U"");
    }
    for (const char32_t* sample : {U"┌─┬─┐ ┏━┳━┓ ╔═╦═╗ ╭─┬─╮ ┍━┑╓─╖", U"│ │ │ ┃ ┃ ┃ ║ ║ ║ │ ╳ │ │╱╲│║╳║",
                                   U"├─┼─┤ ┣━╋━┫ ╠═╬═╣ ├┄┼┈┤ ┝━┥╟─╢", U"│ │ │ ┃ ┃ ┃ ║ ║ ║ ┆ ┊ ┇ │╲╱│║ ║",
                                   U"└─┴─┘ ┗━┻━┛ ╚═╩═╝ ╰╌┴╍╯ ┕━┙╙─╜"})
        lines.push_back(sample);
    for (const double scale : {1.0, 2.0}) {
        const CustomGlyphMetrics metrics{Size{8, 17}, 0.7, scale, false};
        Surface surface(int(32 * 8 * scale), int(double(lines.size()) * 17 * scale), scale);
        surface.fillWhite();
        drawLines(surface, lines, 0, metrics);
        drawing_test::expectMatchesGolden(surface.bitmap,
                                          scale == 1 ? "box-drawing-scale1" : "box-drawing-scale2");
    }
}
