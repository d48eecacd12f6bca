// Whole frames drawn offscreen: text with its decorations, doubled lines, translucent backgrounds,
// the caret over a Powerline cell, and partial redraws onto pixels kept from the frame before.
#include "FrameScenes.h"

#include "Kestrovan/Apple/CaretDrawing.h"
#include "Platform/Graphics/BackingStore.h"

#include <array>
#include <functional>
#include <gtest/gtest.h>

using namespace kestrovan;
using drawing_test::FrameScene;
using drawing_test::Surface;
using platform::NativeColor;
using platform::Rect;

namespace {

TEST(FrameDrawing, GoldenTextDecorations)
{
    FrameScene scene(40, 6, 2);
    drawing_test::feedTextDecorations(scene);
    scene.refresh();
    Surface shown = scene.shown();
    drawing_test::expectMatchesGolden(shown.bitmap, "frame-text");
}

} // namespace

namespace {

TEST(FrameDrawing, ConcealedTextShowsItsBackgroundAndDecorationsButNoInk)
{
    // Concealed cells keep their background; their glyphs and underline are not drawn. The same
    // text shown plainly beside it proves the probe would see ink.
    FrameScene scene(16, 2, 1);
    scene.feed("\x1b[8;41mHIDDEN\x1b[0m  \x1b[41mSHOWN\x1b[0m\r\n\x1b[8;4mhidden\x1b[0m");
    scene.refresh();
    Surface frame = scene.draw();
    const platform::PremultipliedPixel red = frame.bitmap.pixel(1, 31 - 1);
    ASSERT_EQ(red.alpha, 255);
    int inkHidden = 0, inkShown = 0, secondRow = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 48; ++x) {
            inkHidden += frame.bitmap.pixel(x, 31 - y) != red;
            inkShown += frame.bitmap.pixel(64 + x % 40, 31 - y) != red;
            secondRow += frame.bitmap.pixel(x, 15 - y).alpha != 0;
        }
    EXPECT_EQ(inkHidden, 0) << "concealed glyphs drawn";
    EXPECT_GT(inkShown, 20);
    EXPECT_EQ(secondRow, 0) << "a concealed underlined word on the default background shows nothing";
}

TEST(FrameDrawing, GoldenDoubledLines)
{
    // A single line, a double-width line and the two halves of a double-height line, each with
    // text, a background, a Powerline arrow, box drawing and an underline.
    FrameScene scene(24, 5, 2);
    drawing_test::feedDoubledLines(scene);
    scene.refresh();
    Surface shown = scene.shown();
    drawing_test::expectMatchesGolden(shown.bitmap, "frame-doubled-lines");
}

} // namespace

namespace {

using drawing_test::addKittyLayers;

TEST(FrameDrawing, KittyPlacementsInTheirLayersAndATallOneClippedPerRow)
{
    FrameScene scene(32, 4, 1);
    drawing_test::feedKittyLayersText(scene);
    scene.refresh();
    addKittyLayers(scene, 1);
    Surface frame = scene.draw();
    const auto at = [&](int x, int yFromTop) {
        return frame.bitmap.pixel(x, frame.bitmap.height() - 1 - yFromTop);
    };
    // Row 0 has a yellow background in every group: red below it is covered, green below the text
    // shows over it, the blue above tints it. Row 1 has none: red shows through the cleared cells.
    EXPECT_EQ(at(1, 1).red, at(3, 1).red) << "yellow over red";
    EXPECT_GT(at(1, 1).green, 100);
    EXPECT_EQ(at(65, 1).green, 180) << "green over the background";
    EXPECT_GT(at(129, 1).blue, 100) << "blue over yellow";
    EXPECT_EQ(at(1, 17).red, 220) << "red where nothing covers it";
    // Below text means under the glyphs: an A's stroke is text-coloured over green; above text the
    // blue is laid over the letter too.
    int greenUnderText = 0;
    for (int x = 64; x < 112; ++x)
        for (int y = 0; y < 16; ++y)
            greenUnderText += at(x, y).green < 100;
    EXPECT_GT(greenUnderText, 20) << "letters drawn over the green";

    // The tall picture: its three bands, one per row, each row clipped to itself.
    EXPECT_EQ(at(212, 20).red, 250) << "first band in row 1";
    EXPECT_EQ(at(212, 40).green, 150) << "second band in row 2";
    EXPECT_EQ(at(212, 60).blue, 160) << "third band in row 3";

    // Drawing row 2 alone over a cleared surface gives exactly that row of the whole frame.
    Surface rowOnly(frame.bitmap.width(), frame.bitmap.height());
    scene.draw(rowOnly, Rect{0, 16, 256, 16});
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            const bool inRow = y >= 32 && y < 48;
            ASSERT_EQ(rowOnly.bitmap.pixel(x, 63 - y), inRow ? at(x, y) : platform::PremultipliedPixel{})
                << "(" << x << ", " << y << ")";
        }

    // With its first row above the view, the two rows still shown keep their bands.
    addKittyLayers(scene, -1);
    Surface scrolled = scene.draw();
    EXPECT_EQ(scrolled.bitmap.pixel(212, 63 - 4).green, 150) << "second band at the top";
    EXPECT_EQ(scrolled.bitmap.pixel(212, 63 - 20).blue, 160) << "third band below it";
    EXPECT_EQ(scrolled.bitmap.pixel(212, 63 - 40).alpha, 0) << "nothing below the picture";

    // Placements that are gone take their pictures with them.
    EXPECT_EQ(scene.drawer.kittyPlacementImageCache().count(), 4u);
    scene.snapshot.kitty.renderSnapshot.placements.pop_back();
    scene.draw();
    EXPECT_EQ(scene.drawer.kittyPlacementImageCache().count(), 3u);
    scene.snapshot.kitty.renderSnapshot.placements.clear();
    scene.draw();
    EXPECT_EQ(scene.drawer.kittyPlacementImageCache().count(), 0u);
}

TEST(FrameDrawing, GoldenKittyLayers)
{
    FrameScene scene(32, 4, 2);
    drawing_test::feedKittyLayersText(scene);
    scene.refresh();
    addKittyLayers(scene, 1);
    Surface shown = scene.shown();
    drawing_test::expectMatchesGolden(shown.bitmap, "frame-kitty-layers");
}

} // namespace

namespace {

TEST(FrameDrawing, TranslucentBackgroundsReplaceRatherThanCompound)
{
    // The default background at half alpha; a cell with a colour of its own takes the same alpha.
    // Laid over the frame's fill it would reach 0.75; drawn as a replacement it stays 0.5, so every
    // cell of the frame shows the desktop behind it alike.
    FrameScene scene(12, 2, 1);
    drawing_test::setUpTranslucentBackgrounds(scene);
    scene.refresh();
    ASSERT_TRUE(scene.snapshot.renderContext->translucentCellBackgroundAlpha);
    Surface frame = scene.draw();
    const auto alphaAt = [&](int x, int yFromTop) { return frame.alphaAt(x, yFromTop); };
    EXPECT_EQ(alphaAt(4, 8), 128) << "red cell";
    EXPECT_EQ(alphaAt(40, 8), 128) << "default cell";
    EXPECT_EQ(alphaAt(68, 8), 128) << "blue cell";
    EXPECT_EQ(alphaAt(20, 24), 128) << "empty row";
    EXPECT_GT(frame.bitmap.pixel(4, 31 - 8).red, frame.bitmap.pixel(40, 31 - 8).red) << "the red shows";
    drawing_test::expectMatchesGolden(frame.bitmap, "frame-translucent");

    // With opaque backgrounds the default cells are left clear for the view's own background.
    FrameScene opaque(12, 2, 1);
    opaque.feed("\x1b[41m    \x1b[0m");
    opaque.refresh();
    Surface clear = opaque.draw();
    EXPECT_EQ(clear.alphaAt(4, 8), 255);
    EXPECT_EQ(clear.alphaAt(40, 8), 0);
}

TEST(FrameDrawing, GoldenBlockCaretOverAPowerlineCell)
{
    // A prompt of Powerline segments; the cursor sits on the second arrow. The caret is drawn where
    // the view places it: over the cursor's cell, one cell high.
    FrameScene scene(24, 2, 2);
    drawing_test::feedPowerlinePrompt(scene);
    scene.refresh();
    Surface shown = scene.shown();
    const SnapshotCursor& cursor = *scene.snapshot.cursor;
    ASSERT_EQ(cursor.renderData.code, 0xE0B0u);
    const platform::Size cell = scene.view.cellDimension;
    CaretDrawState caret;
    caret.bounds = Rect{0, 0, cell.width * cursor.columnWidth, cell.height};
    const platform::FontRef font = scene.view.fonts.normal();
    const std::u16string text = u"\uE0B0";
    const platform::FontRun run{uint32_t(text.size()), font};
    caret.character = CaretCharacter{platform::ShapedLine::shape(text, std::span(&run, 1)), {std::nullopt}};
    caret.powerlineCodePoint = cursor.renderData.code;
    caret.renderCursorColor = cursor.renderData.cursorColor;
    caret.renderTextColor = cursor.renderData.textColor;
    caret.style = CursorStyle::steadyBlock;
    shown.canvas->save();
    shown.canvas->translate(cell.width * cursor.visualCol,
                            scene.view.viewFrameHeight - cell.height * double(cursor.screenRow + 1));
    drawCursor(*shown.canvas, caret, GlyphSlotFitter(platform::FontSet::fromNormal(font), cell), true);
    shown.canvas->restore();
    drawing_test::expectMatchesGolden(shown.bitmap, "frame-caret-powerline");
}

TEST(FrameDrawing, PartialRedrawsPaintOnlyTheRowsThatMeetTheDirtyRectangle)
{
    FrameScene scene(20, 5, 1);
    scene.feed("\x1b[42mone\x1b[0m\r\ntwo\r\n\x1b[4mthree\x1b[0m\r\nfour\r\nfive");
    scene.refresh();
    platform::BackingStore store;
    ASSERT_FALSE(store.resize(platform::Size{160, 80}, 1));
    {
        std::optional<platform::Canvas> canvas = store.beginFrame();
        scene.drawer.drawFrame(*canvas, scene.bounds(), scene.snapshot, *scene.snapshot.renderContext,
                               FrameDrawGeometry::of(scene.view));
    }
    EXPECT_EQ(scene.drawer.counters().rowsDrawn, 5u);
    EXPECT_EQ(scene.drawer.counters().rowsPrepared, 5u);

    // Row 2 changes: only its rectangle is marked, and only it is drawn and prepared again; half a
    // row marked still draws the whole row, clipped to the mark.
    scene.feed("\x1b[3;1H\x1b[31mTHREE!\x1b[0m");
    scene.refresh();
    store.invalidate(Rect{0, 32, 160, 16});
    {
        std::optional<platform::Canvas> canvas = store.beginFrame();
        scene.drawer.drawFrame(*canvas, Rect{0, 32, 160, 16}, scene.snapshot, *scene.snapshot.renderContext,
                               FrameDrawGeometry::of(scene.view));
    }
    EXPECT_EQ(scene.drawer.counters().rowsDrawn, 6u);
    EXPECT_EQ(scene.drawer.counters().rowsPrepared, 6u);

    // The kept pixels plus the redrawn row are exactly a whole frame of the new state.
    Surface whole = scene.draw();
    EXPECT_EQ(scene.drawer.counters().rowsPrepared, 6u) << "a whole frame of unchanged rows prepares none";
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x)
            ASSERT_EQ(store.bitmap()->pixel(x, y), whole.bitmap.pixel(x, y)) << "(" << x << ", " << y << ")";

    // Half a row marked: the row is visited once, the drawing stays inside the mark.
    Surface half(160, 80);
    scene.draw(half, Rect{0, 16, 40, 8});
    EXPECT_EQ(scene.drawer.counters().rowsDrawn, 12u) << "row 3 alone";
    int outside = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 160; ++x)
            outside += half.bitmap.pixel(x, y).alpha != 0 && !(x < 40 && y >= 16 && y < 24);
    EXPECT_EQ(outside, 0);
}

} // namespace

namespace {

TEST(FrameDrawing, PlaceholderCellsShowTheirPieceOfTheVirtualPlacement)
{
    // Image 7 in the foreground colour; the first cell of each line names its row and column with
    // diacritics (U+0305 is 0, U+030D is 1), the second continues the row one column on.
    FrameScene scene(6, 3, 1);
    scene.feed("\x1b[38;5;7m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\xf4\x8e\xbb\xae\r\n"
               "\xf4\x8e\xbb\xae\xcc\x8d\xcc\x85\xf4\x8e\xbb\xae\x1b[0m");
    scene.refresh();
    KittyGraphicsRenderSnapshot& kitty = scene.snapshot.kitty.renderSnapshot;
    // Four quarters, one per cell of a 2 x 2 placement: red, green / blue, white.
    std::vector<uint8_t> quarters;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool right = x >= 4, lower = y >= 4;
            const uint8_t r = !lower ? (right ? 0 : 255) : (right ? 255 : 0);
            const uint8_t g = !lower ? (right ? 255 : 0) : (right ? 255 : 0);
            const uint8_t b = lower ? 255 : 0;
            quarters.insert(quarters.end(), {r, g, b, 255});
        }
    KittyGraphicsRenderImage image;
    image.imageId = 7;
    image.width = 8;
    image.height = 8;
    image.rgba = std::make_shared<const std::vector<uint8_t>>(std::move(quarters));
    kitty.imagesById[7] = image;
    KittyGraphicsRenderPlacement virtualPlacement =
        drawing_test::kittyPlacement(9, 7, {0, 0, 2, 2}, 0, {0, 0, 8, 8});
    virtualPlacement.isVirtual = true;
    kitty.placements = {virtualPlacement};

    Surface frame = scene.draw();
    const auto at = [&](int x, int yFromTop) {
        return frame.bitmap.pixel(x, frame.bitmap.height() - 1 - yFromTop);
    };
    // A square picture fitted into the 16 x 32 points of the area keeps its aspect: 16 x 16,
    // centred, so each cell shows its quarter in the middle of the area's height.
    EXPECT_EQ(at(4, 12), (platform::PremultipliedPixel{255, 0, 0, 255})) << "row 0, column 0";
    EXPECT_EQ(at(12, 12), (platform::PremultipliedPixel{0, 255, 0, 255})) << "row 0, column 1";
    EXPECT_EQ(at(4, 20), (platform::PremultipliedPixel{0, 0, 255, 255})) << "row 1, column 0";
    EXPECT_EQ(at(12, 20), (platform::PremultipliedPixel{255, 255, 255, 255})) << "row 1, column 1";
    EXPECT_EQ(at(4, 2).alpha, 0) << "above the fitted picture";
    EXPECT_EQ(at(20, 12).alpha, 0) << "no placeholder in column 2";

    // A virtual placement is never drawn by the layers themselves: without placeholder cells the
    // frame shows nothing of it.
    scene.feed("\x1b[2J");
    scene.refresh();
    scene.snapshot.kitty.renderSnapshot = kitty;
    Surface empty = scene.draw();
    int painted = 0;
    for (int y = 0; y < empty.bitmap.height(); ++y)
        for (int x = 0; x < empty.bitmap.width(); ++x)
            painted += empty.bitmap.pixel(x, y).alpha != 0;
    EXPECT_EQ(painted, 0);
}

} // namespace
