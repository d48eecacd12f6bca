// Placing prepared rows on screen rows, the decoration lines in their five styles, and the fit of
// glyphs into their slots.
#include "Kestrovan/Apple/Metal/MetalGlyphStore.h"
#include "Kestrovan/Apple/Metal/MetalRowPlacement.h"
#include "Kestrovan/Apple/Metal/UnderlineDecorations.h"
#include "Platform/GPU/RecordingDevice.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using Mode = BufferLine::RenderLineMode;

/// A view `height` points high and 200 wide, at `scale`, and what placing needs beside it.
struct Placing
{
    explicit Placing(double height = 480, double scale = 2) : metrics{8, 16, 4, 200 * scale, scale}
    {
        context.viewBounds = platform::Rect{0, 0, 200, height};
        context.imageScale = scale;
    }

    RowDrawData place(const metal::PreparedRow& row, int64_t screenRow)
    {
        return placeRow(row, screenRow, snapshot, context, metrics, textures);
    }

    SnapshotRenderContext context;
    RowPlacementMetrics metrics;
    TerminalSnapshot snapshot;
    std::shared_ptr<platform::gpu::RecordingDevice> device =
        std::make_shared<platform::gpu::RecordingDevice>();
    MetalImageTextures textures{device};
};

metal::PreparedRow rowWith(Mode mode)
{
    metal::PreparedRow row;
    row.renderMode = mode;
    row.backgrounds.push_back({3, 2, Float4{1, 0, 0, 0.5f}});
    metal::PreparedGlyph glyph;
    glyph.x0 = 10.4;
    glyph.x1 = 20.4;
    glyph.bearingY = -2;
    glyph.height = 20;
    glyph.u0 = 0;
    glyph.v0 = 1;
    glyph.u1 = 1;
    glyph.v1 = 0;
    glyph.color = Float4{1, 1, 1, 1};
    row.glyphs.push_back(glyph);
    return row;
}

TEST(MetalRowPlacementTests, RowsLandOnTheirScreenRowsInTheirLineModes)
{
    Placing p;
    // Screen row 0 of a view 480 points high, 16-point cells at scale 2: from 928 to 960.
    RowDrawData single = p.place(rowWith(Mode::single), 0);
    ASSERT_EQ(single.backgroundCells.size(), 1u);
    EXPECT_EQ(single.backgroundCells[0].position, (Float2{48, 928}));
    EXPECT_EQ(single.backgroundCells[0].size, (Float2{32, 32}));
    EXPECT_EQ(single.backgroundCells[0].color, (Float4{1, 0, 0, 0.5f})) << "blended: kept straight";
    // A glyph's lower-left corner on a whole pixel, its size kept.
    ASSERT_EQ(single.glyphCellsGray.size(), 1u);
    EXPECT_EQ(single.glyphCellsGray[0].position, (Float2{10, 934})) << "-2 + 2 x (464 + 4)";
    EXPECT_EQ(single.glyphCellsGray[0].size, (Float2{10, 20}));

    // Double width: column 3 starts at 6 x 8 x 2.
    RowDrawData wide = p.place(rowWith(Mode::doubleWidth), 0);
    EXPECT_EQ(wide.backgroundCells[0].position, (Float2{96, 928}));
    EXPECT_EQ(wide.backgroundCells[0].size, (Float2{64, 32}));

    // The top half of a double-height line: twice as high about the row's top edge, clipped at
    // its bottom edge, the glyph's texture cut where the row ends.
    RowDrawData top = p.place(rowWith(Mode::doubledTop), 0);
    EXPECT_EQ(top.backgroundCells[0].position, (Float2{96, 928}));
    EXPECT_EQ(top.backgroundCells[0].size, (Float2{64, 32}));
    ASSERT_EQ(top.glyphCellsGray.size(), 1u);
    const TextCell& glyph = top.glyphCellsGray[0];
    EXPECT_EQ(glyph.position.y, 928) << "clipped at the bottom edge";
    // Unclipped the glyph would span 908 to 948 (960 + 2 x (934 - 960) rounded), v from 1 to 0.
    EXPECT_EQ(glyph.size.y, 20);
    EXPECT_FLOAT_EQ(glyph.texOrigin.y, 0.5f);
    EXPECT_FLOAT_EQ(glyph.texSize.y, -0.5f);
    // The bottom half grows up from the row's bottom edge (940 to 980) and is cut at its top edge.
    RowDrawData bottom = p.place(rowWith(Mode::doubledDown), 0);
    ASSERT_EQ(bottom.glyphCellsGray.size(), 1u);
    EXPECT_EQ(bottom.glyphCellsGray[0].position.y, 940);
    EXPECT_EQ(bottom.glyphCellsGray[0].size.y, 20);
    EXPECT_FLOAT_EQ(bottom.glyphCellsGray[0].texOrigin.y, 1);
    EXPECT_FLOAT_EQ(bottom.glyphCellsGray[0].texSize.y, -0.5f);

    // With translucent cell backgrounds the colour is stored premultiplied (drawn without blending).
    p.context.translucentCellBackgroundAlpha = 0.5;
    EXPECT_EQ(p.place(rowWith(Mode::single), 0).backgroundCells[0].color, (Float4{0.5f, 0, 0, 0.5f}));
}

TEST(MetalRowPlacementTests, BlockElementsSitOnWholePixelsUnlessSmoothed)
{
    Placing p(480, 1.5);
    p.metrics.cellWidth = 7;
    metal::PreparedRow row;
    row.blockElements.push_back({3, 1, 11, platform::Size{11, 24}, 0x2588, 0, 1, 1, 0, Float4{1, 1, 1, 1}});
    p.context.antiAliasCustomBlockGlyphs = true;
    EXPECT_EQ(p.place(row, 0).glyphCellsGray[0].position.x, 31.5f) << "3 x 7 x 1.5";
    EXPECT_EQ(p.place(row, 0).glyphCellsGray[0].size.x, 10.5f);
    p.context.antiAliasCustomBlockGlyphs = false;
    EXPECT_EQ(p.place(row, 0).glyphCellsGray[0].position.x, 33) << "3 x round(10.5)";
    EXPECT_EQ(p.place(row, 0).glyphCellsGray[0].size.x, 11);
}

TEST(MetalRowPlacementTests, KittyPlacementsSliceByRowAndRouteByZIndex)
{
    Placing p(64, 1);
    KittyGraphicsRenderImage image;
    image.imageId = 1;
    image.width = 2;
    image.height = 2;
    image.rgba = std::make_shared<const std::vector<uint8_t>>(16, uint8_t(100));
    p.snapshot.kitty.renderSnapshot.imagesById[1] = image;
    const auto placement = [](int32_t z, int64_t row, int64_t rows) {
        KittyGraphicsRenderPlacement made;
        made.imageId = 1;
        made.geometry = {0, row, 2, rows};
        made.zIndex = z;
        made.visibleSource = {0, 0, 2, 2};
        return made;
    };
    p.snapshot.kitty.renderSnapshot.placements = {placement(-1'073'741'825, 0, 1),
                                                  placement(-1'073'741'824, 0, 1), placement(-1, 0, 1),
                                                  placement(0, 0, 1), placement(7, 1, 3)};
    const metal::PreparedRow row;
    const RowDrawData first = p.place(row, 0);
    EXPECT_EQ(first.belowBackgroundImageDraws.size(), 1u) << "below -1,073,741,824";
    EXPECT_EQ(first.underImageDraws.size(), 2u) << "-1,073,741,824 and -1";
    EXPECT_EQ(first.overImageDraws.size(), 1u) << "0";
    // A placement three rows high: one slice in each row it crosses, each its third of the picture.
    for (int64_t screenRow = 1; screenRow <= 3; ++screenRow) {
        const RowDrawData slice = p.place(row, screenRow);
        ASSERT_EQ(slice.overImageDraws.size(), 1u) << screenRow;
        const auto& vertices = slice.overImageDraws[0].vertices;
        EXPECT_EQ(vertices[0].position.y, float(64 - 16 * (screenRow + 1))) << screenRow;
        EXPECT_EQ(vertices[4].position.y - vertices[0].position.y, 16);
        EXPECT_NEAR(vertices[4].texCoord.y - vertices[0].texCoord.y, 1.0 / 3, 1e-6);
        EXPECT_NEAR(vertices[0].texCoord.y, double(3 - screenRow) / 3, 1e-6)
            << "the top slice, the top third";
    }
    EXPECT_TRUE(p.place(row, 4).overImageDraws.empty());
}

TEST(MetalRowPlacementTests, DecorationLinesInTheirStyles)
{
    const auto line = [](UnderlineStyle style, double x0, double x1, double thickness, double patternScale,
                         Mode mode = Mode::single, std::optional<ClipRect> clip = std::nullopt,
                         double pivot = 0) {
        std::vector<ColorCell> cells;
        appendUnderlineSegments(x0, x1, 10, thickness, Float4{1, 1, 1, 1}, style, patternScale, mode, clip,
                                pivot, cells);
        return cells;
    };
    const auto spans = [](const std::vector<ColorCell>& cells) {
        std::vector<std::pair<float, float>> found;
        for (const ColorCell& cell : cells)
            found.emplace_back(cell.position.x, cell.size.x);
        return found;
    };
    // A dotted line from 0 to 10, thickness 1: dots at 0, 3, 6 and 9, the last 1 wide.
    EXPECT_EQ(spans(line(UnderlineStyle::dotted, 0, 10, 1, 1)),
              (std::vector<std::pair<float, float>>{{0, 1}, {3, 1}, {6, 1}, {9, 1}}));
    // Dashed at pattern scale 2: dashes and gaps 4 wide.
    EXPECT_EQ(spans(line(UnderlineStyle::dashed, 0, 16, 1, 2)),
              (std::vector<std::pair<float, float>>{{0, 4}, {8, 4}}));
    // Straight and double lines are one rectangle, centred on the line.
    const auto straight = line(UnderlineStyle::single, 2, 18, 2, 1);
    ASSERT_EQ(straight.size(), 1u);
    EXPECT_EQ(straight[0].position, (Float2{2, 9}));
    EXPECT_EQ(straight[0].size, (Float2{16, 2}));
    EXPECT_TRUE(line(UnderlineStyle::none, 0, 10, 1, 1).empty());

    // A curly line: one unit of amplitude, a period of four units, steps one pixel wide.
    const auto curly = line(UnderlineStyle::curly, 0, 16, 1, 2);
    ASSERT_EQ(curly.size(), 16u);
    float lowest = 100, highest = 0;
    for (const ColorCell& cell : curly) {
        lowest = std::min(lowest, cell.position.y + cell.size.y / 2);
        highest = std::max(highest, cell.position.y + cell.size.y / 2);
    }
    EXPECT_NEAR(highest - 10, 1.75, 0.26) << "up to a unit above";
    EXPECT_NEAR(10 - lowest, 1.75, 0.26) << "and below";
    // On a double-width row it spans twice the range; on a doubled top half its amplitude doubles
    // about the pivot.
    const auto wide = line(UnderlineStyle::curly, 0, 16, 1, 2, Mode::doubleWidth);
    EXPECT_EQ(wide.back().position.x + wide.back().size.x, 32);
    const auto tall = line(UnderlineStyle::curly, 0, 16, 1, 2, Mode::doubledTop, std::nullopt, 10);
    float tallHighest = 0;
    for (const ColorCell& cell : tall)
        tallHighest = std::max(tallHighest, cell.position.y + cell.size.y / 2);
    EXPECT_NEAR(tallHighest - 10, 2 * (highest - 10), 0.01);
    // Outside the clip nothing is emitted.
    EXPECT_TRUE(line(UnderlineStyle::single, 0, 10, 1, 1, Mode::single, ClipRect{0, 20, 10, 30}).empty());
}

TEST(MetalRowPlacementTests, GlyphsFitTheirSlots)
{
    const platform::Size cell{8, 16};
    const auto metrics = [](double x, double y, double width, double height, double advance) {
        GlyphMetrics made;
        made.inkBounds = platform::Rect{x, y, width, height};
        made.horizontalAdvance = advance;
        return made;
    };
    const auto fit = [&](const GlyphMetrics& glyph, int columns, double scale,
                         std::optional<TerminalGlyphPlacementPolicy> policy = std::nullopt,
                         bool fallback = false) {
        return MetalGlyphStore::glyphSlotFit(glyph, columns, cell, 4, scale, policy, 0, fallback);
    };
    // An ordinary glyph in one cell is left alone.
    EXPECT_EQ(fit(metrics(0, 0, 6, 10, 8), 1, 1), GlyphSlotFit::identity());
    // A wide glyph that fits is centred by its advance.
    EXPECT_EQ(fit(metrics(1, 0, 12, 12, 14), 2, 1), (GlyphSlotFit{1, 0, 1, 1}));
    // Twice as wide as its two cells: shrunk uniformly to fit width and height, centred by its
    // advance, its ink's middle on the cell's.
    const GlyphSlotFit shrunk = fit(metrics(0, -4, 32, 16, 32), 2, 1);
    EXPECT_DOUBLE_EQ(shrunk.scaleX, 0.5);
    EXPECT_DOUBLE_EQ(shrunk.scaleY, 0.5);
    EXPECT_DOUBLE_EQ(shrunk.dx, 0);
    EXPECT_DOUBLE_EQ(shrunk.dy, 8 - 4 - 0.5 * (-4 + 8));
    // Needing less than a tenth, it is drawn at a tenth.
    EXPECT_DOUBLE_EQ(fit(metrics(0, 0, 1000, 10, 1000), 2, 1).scaleX, 0.1);
    // The same glyph measured at scale 2 (its pixels twice as many) gets the same fit.
    const GlyphSlotFit atTwo = fit(metrics(0, -8, 64, 32, 64), 2, 2);
    EXPECT_DOUBLE_EQ(atTwo.scaleX, shrunk.scaleX);
    EXPECT_DOUBLE_EQ(atTwo.dy, shrunk.dy);
    // A fallback glyph wider than its cell shrinks to the cell.
    EXPECT_DOUBLE_EQ(fit(metrics(0, 0, 10, 10, 12), 1, 1, std::nullopt, true).scaleX, 8.0 / 12);
    EXPECT_EQ(fit(metrics(0, 0, 6, 10, 7), 1, 1, std::nullopt, true), GlyphSlotFit::identity());

    TerminalGlyphPlacementPolicy stretch;
    stretch.placement = TerminalGlyphPlacementPolicy::Placement::stretch;
    const GlyphSlotFit stretched = fit(metrics(0, 0, 2, 4, 2), 1, 1, stretch);
    EXPECT_DOUBLE_EQ(stretched.scaleX, 4) << "each axis apart, enlarging";
    EXPECT_DOUBLE_EQ(stretched.scaleY, 4);
    const GlyphSlotFit flat = fit(metrics(0, 0, 4, 2, 4), 1, 1, stretch);
    EXPECT_DOUBLE_EQ(flat.scaleX, 2);
    EXPECT_DOUBLE_EQ(flat.scaleY, 8);
    TerminalGlyphPlacementPolicy cover = stretch;
    cover.placement = TerminalGlyphPlacementPolicy::Placement::cover;
    const GlyphSlotFit covered = fit(metrics(0, 0, 4, 2, 4), 1, 1, cover);
    EXPECT_DOUBLE_EQ(covered.scaleX, 2) << "the aspect kept, enlarging";
    EXPECT_DOUBLE_EQ(covered.scaleY, 2);
    // A colour glyph measured at its own size grows about its middle to the slot font's size.
    GlyphMetrics colour = metrics(0, 0, 32, 16, 32);
    colour.fitInkSizeScale = 0.5;
    EXPECT_DOUBLE_EQ(fit(colour, 2, 1).scaleX, 1) << "its ink counts as 16 x 8";
}

} // namespace
} // namespace kestrovan
