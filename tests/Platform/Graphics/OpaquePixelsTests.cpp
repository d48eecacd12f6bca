// Packing opaque four-byte pixels to three bytes, top down and bottom up, and refusing translucent
// ones.
#include "Platform/Graphics/OpaquePixels.h"

#include <gtest/gtest.h>
#include <vector>

namespace platform {
namespace {

TEST(OpaquePixelsTests, PacksOpaqueRowsInTheOrderTheStrideReadsThem)
{
    // Two rows of two pixels; each pixel's blue byte names it.
    const std::vector<uint8_t> bitmap = {1, 10, 20, 255, 2, 11, 21, 255, 3, 12, 22, 255, 4, 13, 23, 255};
    struct Case
    {
        const char* name;
        size_t firstRow;
        ptrdiff_t stride;
        std::vector<uint8_t> packed;
    };
    const Case cases[] = {
        {"top down", 0, 8, {1, 10, 20, 2, 11, 21, 3, 12, 22, 4, 13, 23}},
        {"bottom up", 8, -8, {3, 12, 22, 4, 13, 23, 1, 10, 20, 2, 11, 21}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> packed(12);
        EXPECT_TRUE(packOpaqueRows(bitmap.data() + c.firstRow, c.stride, 2, 2, packed.data()));
        EXPECT_EQ(packed, c.packed);
    }
}

TEST(OpaquePixelsTests, AnyPixelNotFullyOpaqueRefusesTheRows)
{
    for (const size_t translucent : {0u, 1u, 3u}) {
        SCOPED_TRACE(translucent);
        std::vector<uint8_t> bitmap(16, 255);
        bitmap[translucent * 4 + 3] = 254;
        std::vector<uint8_t> packed(12);
        EXPECT_FALSE(packOpaqueRows(bitmap.data(), 8, 2, 2, packed.data()));
    }
}

} // namespace
} // namespace platform
