// Powerline separators: paths snapped outwards to device pixels, the join strip of solid shapes,
// mirrored pairs that are pixel mirrors, shapes that meet the neighbouring segment without a
// hairline, the even-odd cut-out, and a golden status line of every drawn code point.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/CustomGlyphDrawing.h"
#include "Kestrovan/Apple/PowerlineShapes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

using namespace kestrovan;
using drawing_test::Surface;
using platform::NativeColor;
using platform::Point;
using platform::Rect;
using platform::Size;

namespace {

const NativeColor blue = NativeColor::sRGB(0.2, 0.35, 0.75);
const NativeColor grey = NativeColor::sRGB(0.3, 0.3, 0.3);

struct Item
{
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    NativeColor foregroundColor;
};

/// The x extent of every point a path names.
std::pair<double, double> xExtent(const platform::Path& path)
{
    double low = 1e9, high = -1e9;
    for (const platform::Path::Element& element : path.elements()) {
        const int count = element.kind == platform::Path::Element::Kind::curveTo ? 3 : 1;
        if (element.kind == platform::Path::Element::Kind::close)
            continue;
        for (int i = 0; i < count; ++i) {
            low = std::min(low, element.points[i].x);
            high = std::max(high, element.points[i].x);
        }
    }
    return {low, high};
}

Surface drawOne(uint32_t codePoint, int width = 16, int height = 34, double scale = 2)
{
    Surface surface(width, height, scale);
    drawPowerlineGlyphs(
        std::vector<Item>{{0, 1, codePoint, blue}}, Point{0, 0}, BufferLine::RenderLineMode::single,
        CustomGlyphMetrics{Size{width / scale, height / scale}, 0.7, scale, false}, *surface.canvas);
    return surface;
}

} // namespace

TEST(Powerline, PathsAreSnappedOutwardToDevicePixels)
{
    // At scale 2 a cell from x 10.3 to 18.7 becomes 10.0 to 19.0: never inside the given cell.
    const std::optional<platform::Path> arrow = PowerlineShapes::path(0xE0B0, Rect{10.3, 0, 8.4, 17}, 2, 2);
    ASSERT_TRUE(arrow);
    EXPECT_EQ(xExtent(*arrow), (std::pair<double, double>{10.0, 19.0}));
    EXPECT_FALSE(PowerlineShapes::path(0xE0B0, Rect{0, 0, 8, 17}, 0, 2)) << "a scale of 0 yields no path";
    EXPECT_FALSE(PowerlineShapes::path(0xE0C4, Rect{0, 0, 8, 17}, 2, 2)) << "left to the font";
    EXPECT_FALSE(PowerlineShapes::path(0xE0AF, Rect{0, 0, 8, 17}, 2, 2));
    for (uint32_t codePoint : {0xE0B0u, 0xE0B5u, 0xE0C0u, 0xE0C3u, 0xE0D6u, 0xE0D7u})
        EXPECT_TRUE(PowerlineShapes::path(codePoint, Rect{0, 0, 8, 17}, 1, 1)) << std::hex << codePoint;
}

TEST(Powerline, SolidShapesHaveAJoinStripOnTheirBaseSide)
{
    const Rect device{20, 0, 16, 34};
    EXPECT_EQ(PowerlineShapes::devicePixelJoinRect(0xE0B0, device), (Rect{19, 0, 1, 34}));
    EXPECT_EQ(PowerlineShapes::devicePixelJoinRect(0xE0B2, device), (Rect{36, 0, 1, 34}));
    EXPECT_FALSE(PowerlineShapes::devicePixelJoinRect(0xE0B1, device)) << "an outline has no strip";
    EXPECT_TRUE(PowerlineShapes::devicePixelJoinRect(0xE0C0, device)) << "the filled flame joins";
    EXPECT_FALSE(PowerlineShapes::devicePixelJoinRect(0xE0D6, device));

    // Drawn in a cell that starts inside a pixel (x 7.6 at scale 1), the arrow's base is moved out
    // to x 7 and the strip fills the whole pixel column before it, so the segment to the left, in
    // the same colour, meets the arrow without a hairline.
    Surface surface(24, 17);
    drawPowerlineGlyphs(std::vector<Item>{{1, 1, 0xE0B0, blue}}, Point{0, 0},
                        BufferLine::RenderLineMode::single, CustomGlyphMetrics{Size{7.6, 17}, 0.7, 1, false},
                        *surface.canvas);
    for (int y = 0; y < 17; ++y) {
        EXPECT_EQ(surface.alphaAt(6, y), 255) << "join strip, row " << y;
        EXPECT_EQ(surface.alphaAt(5, y), 0) << "nothing further left, row " << y;
    }
    EXPECT_EQ(surface.alphaAt(7, 8), 255) << "the base at mid-height";
}

TEST(Powerline, MirroredPairsArePixelMirrors)
{
    for (const auto& [right, left] : {std::pair{0xE0B0u, 0xE0B2u},
                                      {0xE0B1u, 0xE0B3u},
                                      {0xE0B4u, 0xE0B6u},
                                      {0xE0B5u, 0xE0B7u},
                                      {0xE0B8u, 0xE0BAu},
                                      {0xE0BCu, 0xE0BEu},
                                      {0xE0C0u, 0xE0C2u},
                                      {0xE0C1u, 0xE0C3u},
                                      {0xE0D7u, 0xE0D6u}}) {
        // Drawn in the middle of a wider surface so both join strips land inside it.
        Surface a(18, 34, 2), b(18, 34, 2);
        for (auto [surface, codePoint] : {std::pair{&a, right}, std::pair{&b, left}})
            drawPowerlineGlyphs(std::vector<Item>{{0, 1, codePoint, blue}}, Point{0.5, 0},
                                BufferLine::RenderLineMode::single,
                                CustomGlyphMetrics{Size{8, 17}, 0.7, 2, false}, *surface->canvas);
        // Antialiasing samples each pixel at the same places whichever way a shape faces, so
        // edge pixels may differ a little; the shapes themselves must be mirrors.
        int worst = 0, total = 0, covered = 0;
        for (int y = 0; y < 34; ++y)
            for (int x = 0; x < 18; ++x) {
                const int difference = std::abs(a.alphaAt(x, y) - b.alphaAt(17 - x, y));
                worst = std::max(worst, difference);
                total += difference;
                covered += a.alphaAt(x, y);
            }
        EXPECT_LE(worst, 24) << std::hex << "U+" << right << " and U+" << left;
        EXPECT_LT(total * 40, covered) << std::hex << "U+" << right << " and U+" << left;
    }
}

TEST(Powerline, TheCutOutShapeLeavesTheArrowEmpty)
{
    // U+E0D6: the cell filled with U+E0B2's arrow (tip on the left) cut out.
    const Surface cutOut = drawOne(0xE0D6);
    EXPECT_EQ(cutOut.alphaAt(1, 1), 255) << "corner beside the tip";
    EXPECT_EQ(cutOut.alphaAt(14, 17), 0) << "inside the arrow, near its base";
    const Surface arrow = drawOne(0xE0B2);
    EXPECT_EQ(arrow.alphaAt(14, 17), 255);
    EXPECT_EQ(arrow.alphaAt(1, 1), 0);
}

TEST(Powerline, GoldenStatusLine)
{
    // Segments in alternating colours joined by each solid separator, the outline separators
    // over a segment, and every drawn code point on its own, at scale 2.
    const double scale = 2;
    const NativeColor colours[] = {blue, NativeColor::sRGB(0.85, 0.45, 0.15), grey};
    std::vector<uint32_t> drawn;
    for (uint32_t codePoint = 0xE0B0; codePoint <= 0xE0D7; ++codePoint)
        if (PowerlineRenderer::glyph(codePoint))
            drawn.push_back(codePoint);
    Surface surface(int(2 * drawn.size() * 8 * scale), int(3 * 17 * scale), scale);
    surface.fillWhite();
    const CustomGlyphMetrics metrics{Size{8, 17}, 0.7, scale, false};

    // Line 1: a status line. Each solid separator sits between two segments of different
    // colours and takes the colour of the segment on its base side.
    std::vector<Item> separators;
    int column = 0;
    for (size_t i = 0; i < drawn.size(); ++i) {
        const PowerlineGlyph glyph = *PowerlineRenderer::glyph(drawn[i]);
        if (PowerlineShapes::isOutline(glyph.shape))
            continue;
        const NativeColor& left = colours[i % 2];
        const NativeColor& right = colours[(i + 1) % 2];
        surface.canvas->setFillColor(left);
        surface.canvas->fillRect(Rect{column * 8.0, 34, 16, 17});
        surface.canvas->setFillColor(glyph.side == 1 ? right : left);
        surface.canvas->fillRect(Rect{(column + 2) * 8.0, 34, 8, 17});
        separators.push_back(Item{column + 2, 1, drawn[i], glyph.side == 1 ? left : right});
        column += 3;
    }
    drawPowerlineGlyphs(separators, Point{0, 34}, BufferLine::RenderLineMode::single, metrics,
                        *surface.canvas);

    // Line 2: the outline separators over one long segment.
    surface.canvas->setFillColor(colours[2]);
    surface.canvas->fillRect(Rect{0, 17, surface.canvas->size().width, 17});
    std::vector<Item> outlines;
    for (size_t i = 0; i < drawn.size(); ++i)
        if (PowerlineShapes::isOutline(PowerlineRenderer::glyph(drawn[i])->shape))
            outlines.push_back(Item{int(outlines.size()) * 2, 1, drawn[i], NativeColor::sRGB(1, 1, 1)});
    drawPowerlineGlyphs(outlines, Point{0, 17}, BufferLine::RenderLineMode::single, metrics, *surface.canvas);

    // Line 3: every drawn code point alone, every other cell.
    std::vector<Item> alone;
    for (size_t i = 0; i < drawn.size(); ++i)
        alone.push_back(Item{int(i) * 2, 1, drawn[i], colours[0]});
    drawPowerlineGlyphs(alone, Point{0, 0}, BufferLine::RenderLineMode::single, metrics, *surface.canvas);
    drawing_test::expectMatchesGolden(surface.bitmap, "powerline");
}
