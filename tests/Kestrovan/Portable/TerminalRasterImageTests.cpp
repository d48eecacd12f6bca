// Raster images on lines: creation limits, the sizes an insert works out, the slices it attaches
// and where the query finds them after the cursor moves, the screen scrolls or the pixels go.
#include "../RecordingTerminalDelegate.h"

#include "Kestrovan/Portable/TerminalRasterImage.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Size = ImageSizeRequest;

std::shared_ptr<TerminalRasterImage> image(int width, int height, uint32_t id = 1)
{
    return TerminalRasterImage::create(id, width, height,
                                       std::vector<uint8_t>(size_t(width * height * 4), 0x80));
}

/// A line image of another kind, as a view attaches its own.
class OtherImage final : public TerminalImage
{
public:
    int pixelWidth() const override { return 10; }
    int pixelHeight() const override { return 10; }
    int col() const override { return 0; }
    void setCol(int) override {}
};

TEST(TerminalRasterImageTests, CreationChecksSizeAndBytes)
{
    EXPECT_TRUE(image(2, 2));
    EXPECT_TRUE(TerminalRasterImage::create(1, 16384, 1, std::vector<uint8_t>(16384 * 4)));
    EXPECT_FALSE(TerminalRasterImage::create(1, 16385, 1, std::vector<uint8_t>(16385 * 4)))
        << "a side over 16384";
    EXPECT_FALSE(TerminalRasterImage::create(1, 2, 2, std::vector<uint8_t>(15))) << "one byte too few";
    EXPECT_FALSE(TerminalRasterImage::create(1, 2, 2, std::vector<uint8_t>(17))) << "one byte too many";
    EXPECT_FALSE(TerminalRasterImage::create(1, 0, 2, {}));
    EXPECT_FALSE(TerminalRasterImage::create(1, 4097, 4096, {})) << "over 16,777,216 pixels";
}

TEST(TerminalRasterImageTests, InsertSlicesTheImageOverRows)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    t.feed("\x1b[3;6H"); // row 2, column 5
    t.clearUpdateRange();
    const auto picture = image(100, 50);
    insertRasterImage(t, picture, 10, 20, Size::automatic(), Size::automatic(), false);

    const std::vector<TerminalRasterPlacement> expected = {
        {picture, 5, 2, 100, 20, 0, 20},
        {picture, 5, 3, 100, 20, 20, 20},
        {picture, 5, 4, 100, 10, 40, 10},
    };
    EXPECT_EQ(rasterImagePlacements(t), expected);
    EXPECT_EQ(fixture.buffer().x(), 5) << "back in the image's column";
    EXPECT_EQ(fixture.buffer().y(), 5) << "on the line below the image";
    EXPECT_EQ(fixture.buffer().linesWithImagesCount(), 3);
    EXPECT_EQ(t.getUpdateRange(), std::make_optional(std::pair(0, 24))) << "the whole screen is redrawn";
    EXPECT_EQ(fixture.buffer().lines().lineOrEmpty(2).images()->front()->pixelHeight(), 20);
    EXPECT_EQ(fixture.buffer().lines().lineOrEmpty(4).images()->front()->pixelWidth(), 100);
}

TEST(TerminalRasterImageTests, RequestedSizes)
{
    const struct
    {
        Size width;
        Size height;
        bool keepAspect;
        double placedWidth;
        double placedHeight; // of the whole image: the slices' heights added up
    } cases[] = {
        {Size::percent(50), Size::automatic(), false, 400, 50}, // 80 columns of 10 points
        {Size::cells(3), Size::cells(2), false, 30, 40},
        {Size::pixels(200), Size::pixels(200), true, 200, 100}, // fits the box
        {Size::pixels(50), Size::pixels(400), true, 50, 25},
        {Size::pixels(300), Size::automatic(), true, 300, 150}, // height follows the width
        {Size::automatic(), Size::cells(1), true, 40, 20},      // width follows the height
        {Size::automatic(), Size::automatic(), true, 100, 50},
        {Size::percent(100), Size::percent(50), false, 800, 240},
    };
    for (const auto& c : cases) {
        TerminalFixture fixture(80, 24);
        insertRasterImage(fixture.t(), image(100, 50), 10, 20, c.width, c.height, c.keepAspect);
        const auto placements = rasterImagePlacements(fixture.t());
        ASSERT_FALSE(placements.empty());
        double height = 0;
        double sourceHeight = 0;
        for (const auto& placement : placements) {
            EXPECT_DOUBLE_EQ(placement.width, c.placedWidth);
            height += placement.height;
            sourceHeight += placement.sourceHeight;
        }
        EXPECT_DOUBLE_EQ(height, c.placedHeight) << c.placedWidth << " x " << c.placedHeight;
        EXPECT_DOUBLE_EQ(sourceHeight, 50) << "the slices cover the whole image";
    }
}

TEST(TerminalRasterImageTests, RequestsThatInsertNothing)
{
    const struct
    {
        const char* what;
        int cellWidth;
        int cellHeight;
        Size width;
        Size height;
        bool discarded;
    } cases[] = {
        {"a height of 65536 points", 10, 20, Size::automatic(), Size::pixels(65536), false},
        {"4097 rows", 10, 10, Size::automatic(), Size::cells(4097), false},
        {"a width over 65535 points", 10, 20, Size::cells(6554), Size::automatic(), false},
        {"a zero size", 10, 20, Size::pixels(0), Size::automatic(), false},
        {"no cell width", 0, 20, Size::automatic(), Size::automatic(), false},
        {"no cell height", 10, 0, Size::automatic(), Size::automatic(), false},
        {"an image without pixels", 10, 20, Size::automatic(), Size::automatic(), true},
        {"a screen wider than an int", INT32_MAX, 20, Size::percent(1), Size::automatic(), false},
    };
    for (const auto& c : cases) {
        TerminalFixture fixture(80, 24);
        const auto picture = image(100, 50);
        if (c.discarded)
            picture->discardPixels();
        insertRasterImage(fixture.t(), picture, c.cellWidth, c.cellHeight, c.width, c.height, false);
        EXPECT_EQ(fixture.buffer().linesWithImagesCount(), 0) << c.what;
        EXPECT_EQ(fixture.buffer().y(), 0) << c.what;
    }
    // The largest allowed: 4096 rows of 10 points.
    TerminalFixture fixture(80, 24, 5000);
    insertRasterImage(fixture.t(), image(1, 1), 10, 10, Size::automatic(), Size::cells(4096), false);
    EXPECT_EQ(fixture.buffer().linesWithImagesCount(), 4096);
}

TEST(TerminalRasterImageTests, SlicesMoveWithTheirLines)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    t.feed("\x1b[24;1H"); // the bottom row: every slice's line feed scrolls
    const auto picture = image(100, 50);
    insertRasterImage(t, picture, 10, 20, Size::automatic(), Size::automatic(), false);
    auto placements = rasterImagePlacements(t);
    ASSERT_EQ(placements.size(), 3u);
    EXPECT_EQ(placements[0].row, 20);
    EXPECT_EQ(placements[2].row, 22);

    // Lines of another kind's images are skipped; several images on a line keep attach order.
    t.feed("\x1b[21;1H");
    t.insertImageRows(std::vector<std::shared_ptr<TerminalImage>>{std::make_shared<OtherImage>()});
    const auto second = image(4, 4, 2);
    t.feed("\x1b[21;1H");
    insertRasterImage(t, second, 10, 20, Size::automatic(), Size::automatic(), false);
    placements = rasterImagePlacements(t);
    ASSERT_EQ(placements.size(), 4u);
    EXPECT_EQ(placements[0].image, picture);
    EXPECT_EQ(placements[1].image, second);
    EXPECT_EQ(placements[1].row, 20);

    // Scrolled off the screen, into the scrollback: gone from the query, still on the lines.
    t.feed(std::string(30, '\n'));
    EXPECT_TRUE(rasterImagePlacements(t).empty());
    EXPECT_EQ(fixture.buffer().linesWithImagesCount(), 3);

    // Discarded pixels: the slices stay on their lines but are not reported.
    TerminalFixture other(80, 24);
    const auto third = image(100, 50);
    insertRasterImage(other.t(), third, 10, 20, Size::automatic(), Size::automatic(), false);
    const TerminalRasterImage::Pixels held = third->rgba();
    third->discardPixels();
    EXPECT_TRUE(rasterImagePlacements(other.t()).empty());
    EXPECT_EQ(other.buffer().linesWithImagesCount(), 3);
    EXPECT_EQ(held->size(), 100u * 50 * 4) << "a reader keeps the pixels it took";
}

} // namespace
} // namespace kestrovan::testing
