// Image cells and the platform image they hold: an image only exists with bytes that match its
// size, and a cell starts with no size of its own.
#include "Kestrovan/ImageCell.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(ImageCellTests, ImagesMatchTheirBytesAndCellsStartUnsized)
{
    EXPECT_TRUE(platform::NativeImage::fromRGBA(3, 2, std::vector<uint8_t>(24)));
    EXPECT_FALSE(platform::NativeImage::fromRGBA(3, 2, std::vector<uint8_t>(23)));
    EXPECT_FALSE(platform::NativeImage::fromRGBA(0, 2, {}));
    EXPECT_FALSE(platform::NativeImage::fromRGBA(1 << 30, 1 << 30, {})) << "a size whose bytes overflow";

    const auto image = platform::NativeImage::fromRGBA(1, 1, {1, 2, 3, 4});
    ImageCell cell(image);
    EXPECT_EQ(cell.image(), image);
    EXPECT_EQ(cell.image()->rgba()[3], 4);
    EXPECT_FALSE(cell.width);
    EXPECT_FALSE(cell.height);
}

} // namespace
} // namespace kestrovan
