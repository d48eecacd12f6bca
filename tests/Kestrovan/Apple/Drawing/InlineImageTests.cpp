// Inline pictures in the view: OSC 1337 files and Sixel bitmaps sized, cut into strips and put on
// lines, absurd sizes dropped whole, and the strips drawn in a frame.
#include "FrameScenes.h"

#include "Kestrovan/Apple/AppleImage.h"
#include "Kestrovan/Apple/InlineImageInsertion.h"
#include "Kestrovan/Base64.h"
#include "Kestrovan/Buffer.h"
#include "Platform/Image/PngImage.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace kestrovan;
using platform::NativeImage;
using platform::Size;

namespace {

using drawing_test::ImageHost;
using drawing_test::osc1337;
using drawing_test::twoBandPng;

struct ImageTerminal
{
    std::shared_ptr<ImageHost> host = std::make_shared<ImageHost>();
    std::shared_ptr<Terminal> terminal;

    ImageTerminal(int cols = 40, int rows = 24, int scrollback = 100)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        options.scrollback = scrollback;
        terminal = Terminal::create(host, options);
    }
    /// The strips on the buffer's lines, top first.
    std::vector<const AppleImage*> strips() const
    {
        std::vector<const AppleImage*> found;
        const Buffer& buffer = terminal->buffer();
        for (int row = 0; row < buffer.lines().count(); ++row)
            if (const auto& images = buffer.lines().lineOrEmpty(row).images())
                for (const auto& image : *images)
                    if (const auto* strip = dynamic_cast<const AppleImage*>(image.get()))
                        found.push_back(strip);
        return found;
    }
};

TEST(InlineImages, ACellsWideAutoHighPictureMakesThreeStripsAndMovesTheCursorThreeLines)
{
    // 160 x 90 pixels, 10 cells wide in 8 x 16 cells: 80 x 45 points, three strips of 16 points.
    ImageTerminal t;
    t.terminal->feed(std::string_view("ab"));
    t.terminal->feed(osc1337(twoBandPng(160, 90), "width=10"));
    EXPECT_EQ(t.host->strips, 3);
    EXPECT_EQ(t.terminal->buffer().y(), 3);
    const std::vector<const AppleImage*> strips = t.strips();
    ASSERT_EQ(strips.size(), 3u);
    for (const AppleImage* strip : strips) {
        EXPECT_EQ(strip->pixelWidth(), 80);
        EXPECT_EQ(strip->pixelHeight(), 16);
        EXPECT_EQ(strip->col(), 2) << "the strips start at the cursor's column";
        ASSERT_EQ(strip->image()->width(), 80);
        ASSERT_EQ(strip->image()->height(), 16);
    }
    // The picture keeps its scale to its bottom edge: the last strip holds its last 13 points and
    // is clear below them (not the rest stretched over the whole strip).
    const auto alpha = [](const AppleImage& strip, int x, int yFromTop) {
        return strip.image()->rgba()[size_t(yFromTop * strip.image()->width() + x) * 4 + 3];
    };
    const auto red = [](const AppleImage& strip, int x, int yFromTop) {
        return strip.image()->rgba()[size_t(yFromTop * strip.image()->width() + x) * 4];
    };
    EXPECT_EQ(alpha(*strips[2], 40, 11), 255);
    EXPECT_EQ(alpha(*strips[2], 40, 14), 0);
    EXPECT_GT(red(*strips[0], 40, 8), 200) << "the top half is red";
    EXPECT_LT(red(*strips[1], 40, 12), 40) << "45 / 2 points down it turns blue";
}

TEST(InlineImages, RequestsOfEveryKindAreSizedAsAsked)
{
    const InlineImageMetrics cells{Size{8, 16}, 2};
    const InlineImageScreen screen{80, 24, 124};
    struct Case
    {
        const char* what;
        Size pixels;
        ImageSizeRequest width, height;
        bool aspect;
        double w, h;
        int strips;
    };
    using R = ImageSizeRequest;
    const Case cases[] = {
        {"half the screen high", {100, 100}, R::automatic(), R::percent(50), false, 50, 192, 12},
        {"natural size at scale 2", {600, 64}, R::automatic(), R::automatic(), true, 300, 32, 2},
        {"pixels both ways, stretched", {10, 10}, R::pixels(40), R::pixels(20), false, 40, 20, 2},
        {"whole screen wide, aspect kept", {2000, 500}, R::percent(100), R::automatic(), true, 640, 160, 10},
        {"less than a cell high", {100, 10}, R::cells(4), R::automatic(), true, 32, 3.2, 1},
        {"height in cells, width follows", {50, 100}, R::automatic(), R::cells(2), true, 16, 32, 2},
    };
    for (const Case& c : cases) {
        const std::optional<InlineImagePlan> plan =
            planInlineImage(c.pixels, c.width, c.height, c.aspect, cells, screen);
        ASSERT_TRUE(plan) << c.what;
        EXPECT_DOUBLE_EQ(plan->width, c.w) << c.what;
        EXPECT_DOUBLE_EQ(plan->height, c.h) << c.what;
        EXPECT_EQ(plan->strips, c.strips) << c.what;
    }
    // Given both ways with the aspect kept, the box stays and the picture is centred inside it.
    const std::optional<InlineImagePlan> boxed =
        planInlineImage({200, 100}, R::cells(10), R::cells(4), true, cells, screen);
    ASSERT_TRUE(boxed);
    EXPECT_EQ(boxed->picture, (platform::Rect{0, 12, 80, 40}));
    EXPECT_EQ(boxed->strips, 4);
}

TEST(InlineImages, StripsHoldAsManyPixelsAPointAsTheScreenShowsWithinTheLimits)
{
    // Regression: strips were cut at a pixel a point, so at two pixels a point a picture lost half
    // its resolution each way and showed blurred.
    const InlineImageScreen screen{200, 50, 1000};
    using R = ImageSizeRequest;
    struct Case
    {
        const char* what;
        Size pixels;
        ImageSizeRequest width, height;
        double imageScale;
        /// The strips' pixels a point; 0 for one the limits lower between 1 and the image scale.
        double rasterScale;
    };
    const Case cases[] = {
        {"a pixel a point", {160, 90}, R::cells(10), R::automatic(), 1, 1},
        {"two pixels a point", {160, 90}, R::cells(10), R::automatic(), 2, 2},
        {"one and a half", {160, 90}, R::cells(10), R::automatic(), 1.5, 1.5},
        {"below one: strips keep a pixel a point", {160, 90}, R::cells(10), R::automatic(), 0.5, 1},
        // 4095 x 4095 points are 256 strips of 4095 x 16 pixels at 1, under 16,777,216 pixels; at
        // 2 four times that: the strips get what the limit leaves.
        {"a picture the pixel limit lowers", {10, 10}, R::pixels(4095), R::pixels(4095), 2, 0},
    };
    for (const Case& c : cases) {
        const std::optional<InlineImagePlan> plan =
            planInlineImage(c.pixels, c.width, c.height, true, {Size{8, 16}, c.imageScale}, screen);
        ASSERT_TRUE(plan) << c.what;
        if (c.rasterScale > 0) {
            EXPECT_DOUBLE_EQ(plan->rasterScale, c.rasterScale) << c.what;
        } else {
            EXPECT_GE(plan->rasterScale, 1) << c.what;
            EXPECT_LT(plan->rasterScale, c.imageScale) << c.what;
        }
        EXPECT_LE(std::ceil(plan->width * plan->rasterScale) * std::ceil(16 * plan->rasterScale) *
                      plan->strips,
                  InlineImageLimits::maximumPixels)
            << c.what;
    }

    // At two pixels a point, a 160 x 90 picture 80 points wide keeps each of its 160 x 90 pixels:
    // strips of 160 x 32 pixels, the red and blue halves meeting without a blended row.
    ImageTerminal t;
    t.host->metrics = InlineImageMetrics{Size{8, 16}, 2};
    t.terminal->feed(osc1337(twoBandPng(160, 90), "width=10"));
    const std::vector<const AppleImage*> strips = t.strips();
    ASSERT_EQ(strips.size(), 3u);
    for (const AppleImage* strip : strips) {
        EXPECT_EQ(strip->pixelWidth(), 80) << "the strip's size in points";
        EXPECT_EQ(strip->pixelHeight(), 16);
        ASSERT_EQ(strip->image()->width(), 160);
        ASSERT_EQ(strip->image()->height(), 32);
    }
    // Row 44 of the picture is its last red one and row 45 its first blue: the second strip's rows
    // 12 and 13.
    const auto pixel = [&](int x, int y) {
        const uint8_t* rgba = &strips[1]->image()->rgba()[size_t(y * 160 + x) * 4];
        return std::array<int, 3>{rgba[0], rgba[1], rgba[2]};
    };
    EXPECT_EQ(pixel(80, 12), (std::array<int, 3>{230, 40, 30}));
    EXPECT_EQ(pixel(80, 13), (std::array<int, 3>{20, 40, 220}));
}

TEST(InlineImages, AbsurdSizesAreDroppedWhole)
{
    // The budget: finite sides above 0, at most 16,384 points a side and four text areas wide, at
    // most 16,777,216 pixels in all the strips, and no more strips than the lines the buffer holds.
    const InlineImageMetrics cells{Size{8, 16}, 1};
    const InlineImageScreen screen{80, 24, 124};
    using R = ImageSizeRequest;
    const double infinity = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case
    {
        const char* what;
        Size pixels;
        ImageSizeRequest width, height;
        InlineImageMetrics metrics;
        InlineImageScreen screen;
    };
    const Case dropped[] = {
        {"a picture of no width", {0, 10}, R::automatic(), R::automatic(), cells, screen},
        {"a non-finite picture", {nan, 10}, R::automatic(), R::automatic(), cells, screen},
        {"an image scale of 0", {10, 10}, R::automatic(), R::automatic(), {Size{8, 16}, 0}, screen},
        {"a tiny scale making an infinite size",
         {10, 10},
         R::automatic(),
         R::automatic(),
         {Size{8, 16}, 1e-320},
         screen},
        {"an infinite cell", {10, 10}, R::cells(2), R::automatic(), {Size{infinity, 16}, 1}, screen},
        {"a Sixel column 16 million pixels high",
         {1, 16'777'216},
         R::automatic(),
         R::automatic(),
         cells,
         screen},
        {"taller than 16,384 points", {10, 16'385}, R::automatic(), R::automatic(), cells, {80, 24, 2000}},
        {"strips taller than 16,384 points",
         {10, 10},
         R::cells(1),
         R::cells(1),
         {Size{8, 40'960}, 1},
         screen},
        {"199 cells on a 10-column screen", {10, 10}, R::cells(199), R::cells(1), cells, {10, 24, 124}},
        {"more strips than lines", {10, 10}, R::cells(1), R::cells(30), cells, {80, 24, 24}},
        {"more than 16,777,216 pixels of strips",
         {10, 10},
         R::pixels(4095),
         R::pixels(4095),
         {Size{8, 18}, 1},
         {200, 50, 1000}},
        {"no screen to place it on", {10, 10}, R::automatic(), R::automatic(), cells, {0, 0, 0}},
    };
    for (const Case& c : dropped)
        EXPECT_FALSE(planInlineImage(c.pixels, c.width, c.height, true, c.metrics, c.screen)) << c.what;
    EXPECT_TRUE(
        planInlineImage({10, 10}, R::pixels(4095), R::pixels(4095), true, {Size{8, 16}, 1}, {200, 50, 1000}))
        << "the same at 16-point cells fits: 256 strips of 4095 x 16";
    EXPECT_TRUE(planInlineImage({10, 10}, R::cells(1), R::cells(24), true, cells, {80, 24, 24}))
        << "exactly as many strips as lines";

    // Dropped pictures leave the screen and the cursor alone.
    ImageTerminal t(10, 3, 10);
    t.terminal->feed(osc1337(twoBandPng(8, 8), "width=199;height=1"));
    t.terminal->feed(osc1337(twoBandPng(8, 8), "width=1;height=50"));
    t.terminal->feed(osc1337(std::vector<uint8_t>{1, 2, 3}, "width=2"));
    EXPECT_EQ(t.host->strips, 0);
    EXPECT_TRUE(t.strips().empty());
    EXPECT_EQ(t.terminal->buffer().y(), 0);
    // So does any picture before the view has measured its cell.
    t.host->metrics.reset();
    t.terminal->feed(osc1337(twoBandPng(8, 8), "width=2"));
    EXPECT_TRUE(t.strips().empty());
}

TEST(InlineImages, SixelPicturesWiderThanTheScreenAreShownAcrossIt)
{
    // 80 columns of 8 points are 640 points: a 2000-pixel picture is fitted to them, a 600-pixel
    // one keeps its size (at scale 1, a point a pixel).
    ImageTerminal t(80, 24);
    std::vector<uint8_t> wide(size_t(2000) * 20 * 4, 255);
    t.host->createImageFromBitmap(*t.terminal, wide, 2000, 20);
    std::vector<uint8_t> narrow(size_t(600) * 20 * 4, 255);
    t.host->createImageFromBitmap(*t.terminal, narrow, 600, 20);
    const std::vector<const AppleImage*> strips = t.strips();
    ASSERT_EQ(strips.size(), 3u);
    EXPECT_EQ(strips[0]->pixelWidth(), 640) << "2000 x 20 fitted to 640 points is 6.4 points high: one strip";
    EXPECT_EQ(strips[1]->pixelWidth(), 600);
    EXPECT_EQ(strips[2]->pixelWidth(), 600) << "20 points high: two strips";

    // A bitmap whose byte count does not match its size is refused.
    std::vector<uint8_t> short_(10, 255);
    EXPECT_EQ(createImageFromBitmap(*t.terminal, short_, 4, 4, t.host->metrics), 0);
}

TEST(InlineImages, GoldenStripsInAFrame)
{
    // A 160 x 90 picture 10 cells wide under a line of text, then the prompt after it: the three
    // strips hang from their rows' top edges and the picture reads as one.
    drawing_test::FrameScene scene(24, 6, 2);
    drawing_test::feedInlineImage(scene);
    scene.refresh();
    drawing_test::Surface shown = scene.shown();
    drawing_test::expectMatchesGolden(shown.bitmap, "frame-inline-image");
}

} // namespace
