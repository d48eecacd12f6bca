// Block elements: exact eighths, shades at their share of the colour's alpha, outward snapping
// with hard edges, seamless tiling at fractional cell sizes, and a golden sheet of all 32.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/BlockElementRenderer.h"
#include "Kestrovan/Apple/CustomGlyphDrawing.h"

#include <gtest/gtest.h>
#include <vector>

using namespace kestrovan;
using drawing_test::Surface;
using platform::NativeColor;
using platform::Point;
using platform::Rect;
using platform::Size;

namespace {

const NativeColor ink = NativeColor::sRGB(0.15, 0.2, 0.55);

struct Item
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    std::span<const BlockElementRect> rects;
    NativeColor foregroundColor;
};

Item item(int column, uint32_t codePoint, NativeColor color = ink, int columnWidth = 1)
{
    return Item{column, columnWidth, codePoint, *BlockElementMapping::rects(codePoint), color};
}

/// Draws one row of items with its bottom at `y` points.
void drawRow(Surface& surface, const std::vector<Item>& items, double y, Size cell, bool antialias)
{
    drawBlockElements(items, Point{0, y},
                      CustomGlyphMetrics{cell, 0.7, surface.canvas->scaleFactor(), antialias},
                      *surface.canvas);
}

} // namespace

TEST(BlockElements, HalvesAndEighthsCoverTheirShareOfTheCell)
{
    Surface upper(8, 16);
    drawRow(upper, {item(0, 0x2580)}, 0, Size{8, 16}, false);
    for (int y = 0; y < 16; ++y)
        EXPECT_EQ(upper.alphaAt(3, y), y < 8 ? 255 : 0) << "U+2580 is the top four eighths; row " << y;

    // Scale 2, a 17-point cell: U+2581's top edge at 2.125 points moves up to 2.5, five pixels.
    Surface eighth(16, 34, 2);
    drawRow(eighth, {item(0, 0x2581)}, 0, Size{8, 17}, false);
    int filledRows = 0;
    for (int y = 0; y < 34; ++y)
        filledRows += eighth.alphaAt(5, y) == 255;
    EXPECT_EQ(filledRows, 5);
    EXPECT_EQ(eighth.alphaAt(5, 33), 255);
    EXPECT_EQ(eighth.alphaAt(5, 28), 0);

    // A wide full block fills both cells.
    Surface wide(16, 16);
    drawRow(wide, {item(0, 0x2588, ink, 2)}, 0, Size{8, 16}, false);
    EXPECT_EQ(wide.alphaAt(0, 0), 255);
    EXPECT_EQ(wide.alphaAt(15, 15), 255);
}

TEST(BlockElements, ShadesAreTheColourAtAShareOfItsAlpha)
{
    EXPECT_DOUBLE_EQ(BlockElementRenderer::fillAlpha(0.5, BlockAlpha::light), 0.125);
    EXPECT_DOUBLE_EQ(BlockElementRenderer::fillAlpha(1.0, BlockAlpha::dark), 0.75);
    EXPECT_DOUBLE_EQ(BlockElementRenderer::fillAlpha(-1, BlockAlpha::full), 0.0);
    EXPECT_DOUBLE_EQ(BlockElementRenderer::fillAlpha(3, BlockAlpha::medium), 1.0);

    Surface shades(32, 16);
    NativeColor halfInk = ink;
    halfInk.alpha = 0.5;
    drawRow(shades, {item(0, 0x2591, halfInk), item(1, 0x2591), item(2, 0x2592), item(3, 0x2593)}, 0,
            Size{8, 16}, false);
    EXPECT_NEAR(shades.alphaAt(4, 8), 32, 1) << "light shade of a half-transparent colour: 0.125";
    EXPECT_NEAR(shades.alphaAt(12, 8), 64, 1);
    EXPECT_NEAR(shades.alphaAt(20, 8), 128, 1);
    EXPECT_NEAR(shades.alphaAt(28, 8), 191, 1);
}

TEST(BlockElements, HardEdgesTileWithoutSeamsAtFractionalCellSizes)
{
    // Cells of 7.3 x 15.7 points at scale 1 put every cell edge inside a pixel. Snapped outwards,
    // full blocks cover every pixel of their area, and the three quadrants of U+2599 leave no gap
    // between one another.
    const Size cell{7.3, 15.7};
    Surface surface(40, 48);
    for (int row = 0; row < 3; ++row) {
        std::vector<Item> items;
        for (int column = 0; column < 5; ++column)
            items.push_back(item(column, 0x2588));
        drawRow(surface, items, row * cell.height, cell, false);
    }
    for (int y = 48 - 47; y < 48; ++y)
        for (int x = 0; x < 36; ++x)
            ASSERT_EQ(surface.alphaAt(x, y), 255) << "seam at (" << x << ", " << y << ")";

    Surface quadrants(8, 16);
    drawRow(quadrants, {item(0, 0x2599)}, 0.3, cell, false);
    // Left half full height, and the lower right quadrant: only the upper right is empty.
    for (int y = 1; y < 16; ++y)
        EXPECT_EQ(quadrants.alphaAt(2, y), 255) << y;
    EXPECT_EQ(quadrants.alphaAt(6, 14), 255);
    EXPECT_EQ(quadrants.alphaAt(6, 3), 0);
    int gaps = 0;
    for (int x = 0; x < 8; ++x)
        gaps += quadrants.alphaAt(x, 12) != 255;
    EXPECT_EQ(gaps, 0) << "the lower half of U+2599 is one band";
}

TEST(BlockElements, GoldenSheet)
{
    // Each element tiled over 2 x 2 cells, hard-edged, at a whole and at a fractional cell size;
    // then one of each antialiased at a fractional size; then a ramp of shades.
    const double scale = 2;
    Surface surface(int(64 * 8 * scale), int(8 * 17 * scale), scale);
    surface.fillWhite();
    for (const Size cell : {Size{8, 17}, Size{7.75, 16.5}}) {
        const double bottom = cell.width == 8 ? 5 * 17 : 3 * 17;
        for (int line = 0; line < 2; ++line) {
            std::vector<Item> items;
            for (int column = 0; column < 32; ++column)
                for (int copy = 0; copy < 2; ++copy)
                    items.push_back(item(column * 2 + copy, 0x2580 + column));
            drawRow(surface, items, bottom + line * cell.height, cell, false);
        }
    }
    std::vector<Item> smooth;
    for (int column = 0; column < 32; ++column)
        smooth.push_back(item(column * 2, 0x2580 + column));
    drawRow(surface, smooth, 17 * 2 + 0.25, Size{7.75, 16.5}, true);
    std::vector<Item> shades;
    for (int column = 0; column < 16; ++column)
        shades.push_back(item(column, 0x2591 + column % 3));
    drawRow(surface, shades, 0, Size{8, 17}, false);
    drawing_test::expectMatchesGolden(surface.bitmap, "block-elements");
}
