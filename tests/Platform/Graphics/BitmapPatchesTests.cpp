#include "Platform/Graphics/BitmapPatches.h"
#include "Platform/Graphics/Canvas.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

using Update = BitmapPatches::Update;

Update patch(PixelRect rect)
{
    Update update;
    update.patch = rect;
    return update;
}

Update remade(std::vector<size_t> bands, bool dropPatches)
{
    Update update;
    update.bands = std::move(bands);
    update.dropPatches = dropPatches;
    return update;
}

} // namespace

TEST(BitmapPatchesTests, SmallChangesArePatchedAndLargeOnesRemakeBands)
{
    // 100 x 150 pixels: bands of rows 0-59, 60-119 and 120-149; half a band is 3000 pixels.
    struct Step
    {
        const char* what;
        PixelRect changed;
        Update expected;
        bool opaque = true;
    };
    const Step steps[] = {
        {"a typed character", {10, 5, 8, 17}, patch({10, 5, 8, 17})},
        {"nothing changed", {}, Update{}},
        {"a change past the edge is cut to the bitmap", {95, 140, 10, 20}, patch({95, 140, 5, 10})},
        {"exactly half a band is still a patch", {0, 60, 100, 30}, patch({0, 60, 100, 30})},
        {"a large change remakes its band and every band under a patch",
         {0, 0, 100, 40},
         remade({0, 1, 2}, true)},
        {"after that, small changes are patches again", {0, 55, 10, 10}, patch({0, 55, 10, 10})},
        {"a large change across two bands", {0, 110, 100, 40}, remade({0, 1, 2}, true)},
        {"a large change with no patch drops nothing", {0, 100, 100, 50}, remade({1, 2}, false)},
        {"outside the bitmap", {200, 0, 10, 10}, Update{}},
        {"a small opaque change", {3, 3, 4, 4}, patch({3, 3, 4, 4})},
        {"a small change to see-through pixels remakes its band", {3, 70, 4, 4}, remade({0, 1}, true), false},
    };
    BitmapPatches patches;
    EXPECT_EQ(patches.reset(100, 150), remade({0, 1, 2}, true)) << "a new bitmap makes every band";
    ASSERT_EQ(patches.bandCount(), 3u);
    EXPECT_EQ(patches.bandRect(2), (PixelRect{0, 120, 100, 30})) << "the last band is cut short";
    for (const Step& step : steps)
        EXPECT_EQ(patches.frameChanged(step.changed, step.opaque), step.expected) << step.what;
}

TEST(BitmapPatchesTests, PatchesBeyondTheLimitFoldIntoTheirBands)
{
    BitmapPatches patches;
    patches.reset(100, 600);
    // Typing along a row in band 1, then one key in band 7.
    for (size_t index = 0; index + 1 < BitmapPatches::maximumPatches; ++index)
        ASSERT_TRUE(patches.frameChanged(PixelRect{int(index % 10) * 8, 70, 8, 17}).patch);
    ASSERT_TRUE(patches.frameChanged(PixelRect{0, 430, 8, 17}).patch);
    EXPECT_EQ(patches.patches().size(), BitmapPatches::maximumPatches);
    EXPECT_EQ(patches.frameChanged(PixelRect{8, 70, 8, 17}), remade({1, 7}, true))
        << "the next key remakes the bands under every patch";
    EXPECT_TRUE(patches.patches().empty());
    EXPECT_EQ(patches.frameChanged(PixelRect{16, 70, 8, 17}), patch({16, 70, 8, 17}));
}

TEST(BitmapPatchesTests, ChangedPixelsAreTheBoundsOfWhatDiffers)
{
    struct Case
    {
        const char* what;
        PixelRect area;
        std::vector<PixelRect> painted;
        PixelRect expected;
    };
    const Case cases[] = {
        {"nothing painted", {0, 0, 8, 6}, {}, {}},
        {"one pixel", {0, 0, 8, 6}, {{3, 2, 1, 1}}, {3, 2, 1, 1}},
        {"two far pixels give their bounds", {0, 0, 8, 6}, {{1, 1, 1, 1}, {6, 4, 1, 1}}, {1, 1, 6, 4}},
        {"a change outside the area is not seen", {0, 0, 4, 3}, {{2, 1, 1, 1}, {6, 4, 1, 1}}, {2, 1, 1, 1}},
        {"the first and last column of a row", {2, 1, 5, 3}, {{2, 2, 1, 1}, {6, 2, 1, 1}}, {2, 2, 5, 1}},
    };
    // One buffer serves every case, as the view keeps one from frame to frame: a smaller area after
    // a larger one must not compare against what the larger one left.
    std::vector<uint32_t> before;
    for (const Case& test : cases) {
        std::optional<Bitmap> bitmap = Bitmap::create(8, 6);
        ASSERT_TRUE(bitmap);
        copyPixels(*bitmap, test.area, before);
        {
            Canvas canvas(*bitmap, 1);
            canvas.setFillColor(NativeColor::sRGB(1, 0, 0));
            // The canvas is y-up; the rectangles count rows from the top.
            for (const PixelRect& pixel : test.painted)
                canvas.fillRect(Rect{double(pixel.x), double(6 - pixel.bottom()), double(pixel.width),
                                     double(pixel.height)});
        }
        EXPECT_EQ(changedPixels(*bitmap, before, test.area), test.expected) << test.what;
    }
    std::optional<Bitmap> bitmap = Bitmap::create(8, 6);
    {
        Canvas canvas(*bitmap, 1);
        canvas.setFillColor(NativeColor::sRGB(0, 0, 1));
        canvas.fillRect(Rect{0, 0, 4, 6});
    }
    EXPECT_TRUE(isOpaque(*bitmap, PixelRect{0, 0, 4, 6}));
    EXPECT_FALSE(isOpaque(*bitmap, PixelRect{2, 2, 3, 1})) << "one transparent pixel";
    copyPixels(*bitmap, PixelRect{0, 0, 2, 2}, before);
    copyPixels(*bitmap, PixelRect{4, 4, 8, 8}, before);
    EXPECT_TRUE(before.empty())
        << "an area past the edge is not copied, and nothing of an earlier copy stays";
    EXPECT_EQ(changedPixels(*bitmap, {}, PixelRect{4, 4, 8, 8}), (PixelRect{4, 4, 4, 2}))
        << "without a copy, the whole area within the bitmap may have changed";
    // Rows of an echo are compared; a redraw of most of a view is not.
    EXPECT_TRUE(isWorthComparing(PixelRect{0, 60, 640, 34}, 640));
    EXPECT_TRUE(isWorthComparing(PixelRect{0, 0, 640, 120}, 640));
    EXPECT_FALSE(isWorthComparing(PixelRect{0, 0, 640, 121}, 640));
}

// In a row wider than the runs the search compares at once, a change is found wherever it falls:
// at either end, on either side of a run's edge, and two in one row give their bounds.
TEST(BitmapPatchesTests, ChangedPixelsInWideRows)
{
    constexpr int width = 100;
    struct Case
    {
        std::vector<int> columns;
        int left, right;
    };
    const Case cases[] = {
        {{0}, 0, 1},    {{15}, 15, 16},  {{16}, 16, 17},   {{17}, 17, 18},         {{83}, 83, 84},
        {{84}, 84, 85}, {{99}, 99, 100}, {{3, 97}, 3, 98}, {{31, 32, 33}, 31, 34},
    };
    std::vector<uint32_t> before;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.columns.front());
        std::optional<Bitmap> bitmap = Bitmap::create(width, 4);
        ASSERT_TRUE(bitmap);
        const PixelRect area{0, 0, width, 4};
        copyPixels(*bitmap, area, before);
        {
            Canvas canvas(*bitmap, 1);
            canvas.setFillColor(NativeColor::sRGB(0, 1, 0));
            // Row 1 from the top is row 2 from the bottom.
            for (int column : test.columns)
                canvas.fillRect(Rect{double(column), 2, 1, 1});
        }
        EXPECT_EQ(changedPixels(*bitmap, before, area), (PixelRect{test.left, 1, test.right - test.left, 1}));
    }
}
