// Picture textures and picture geometry on the GPU path: kitty pixels made into textures only when
// their bytes are exactly their size, line pictures kept while they live, premultiplying and
// flipping, and the quads of placements and placeholder cells.
#include "Kestrovan/Apple/Metal/ImageGeometry.h"
#include "Kestrovan/Apple/Metal/MetalImageTextures.h"
#include "Platform/GPU/RecordingDevice.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using platform::gpu::RecordingDevice;

KittyGraphicsRenderSnapshot snapshotOf(int64_t width, int64_t height, size_t bytes, uint64_t generation = 1)
{
    KittyGraphicsRenderImage image;
    image.imageId = 5;
    image.width = width;
    image.height = height;
    image.rgba = std::make_shared<const std::vector<uint8_t>>(bytes, uint8_t(90));
    image.contentGeneration = generation;
    KittyGraphicsRenderSnapshot snapshot;
    snapshot.imagesById[5] = image;
    return snapshot;
}

TEST(MetalImageTexturesTests, AKittyImageIsATextureOnlyWhenItsBytesAreExactlyItsSize)
{
    // The old fault: the texture was filled with width x height x 4 bytes from an array that may
    // be shorter, and the bytes past its end went onto the screen (AddressSanitizer stops a read
    // past the array here).
    const struct
    {
        const char* what;
        int64_t width;
        int64_t height;
        size_t bytes;
        bool made;
    } cases[] = {
        {"exact", 3, 2, 24, true},
        {"one pixel", 1, 1, 4, true},
        {"one byte short", 3, 2, 23, false},
        {"a row short", 3, 2, 12, false},
        {"empty", 3, 2, 0, false},
        {"one byte long", 3, 2, 25, false},
        {"twice as long", 3, 2, 48, false},
        {"no width", 0, 2, 0, false},
        {"negative height", 3, -2, 24, false},
        {"wider than any texture", 16385, 1, 16385 * 4, false},
        {"sizes whose product overflows", int64_t(1) << 40, int64_t(1) << 40, 16, false},
    };
    auto device = std::make_shared<RecordingDevice>(RecordingDevice::Info{"recording", 16384, false});
    for (const auto& c : cases) {
        MetalImageTextures textures(device);
        const KittyGraphicsRenderSnapshot snapshot = snapshotOf(c.width, c.height, c.bytes);
        const std::shared_ptr<platform::gpu::Texture> texture = textures.kittyTexture(5, snapshot);
        EXPECT_EQ(texture != nullptr, c.made) << c.what;
        EXPECT_EQ(textures.kittyTextureCount(), c.made ? 1u : 0u) << c.what;
        if (texture) {
            EXPECT_EQ(texture->size(), (platform::gpu::PixelSize{int(c.width), int(c.height)})) << c.what;
        }
    }
}

TEST(MetalImageTexturesTests, KittyTexturesAreKeptBySignatureAndDroppedWithTheirImages)
{
    auto device = std::make_shared<RecordingDevice>();
    MetalImageTextures textures(device);
    const KittyGraphicsRenderSnapshot first = snapshotOf(2, 2, 16, 1);
    const auto texture = textures.kittyTexture(5, first);
    ASSERT_TRUE(texture);
    EXPECT_EQ(textures.kittyTexture(5, first), texture) << "made once";
    EXPECT_NE(textures.kittyTexture(5, snapshotOf(2, 2, 16, 2)), texture) << "new content, new texture";
    EXPECT_EQ(textures.kittyTexture(6, first), nullptr) << "no such image";

    // An upload GL reports failed is no texture (never a black rectangle), and not remembered.
    device->failAt(RecordingDevice::Operation::replaceRegion);
    EXPECT_EQ(textures.kittyTexture(5, snapshotOf(2, 2, 16, 3)), nullptr);
    EXPECT_TRUE(textures.kittyTexture(5, snapshotOf(2, 2, 16, 3))) << "tried again on the next frame";

    textures.pruneKittyTextureCache(snapshotOf(2, 2, 16, 3));
    EXPECT_EQ(textures.kittyTextureCount(), 1u);
    textures.pruneKittyTextureCache(KittyGraphicsRenderSnapshot{});
    EXPECT_EQ(textures.kittyTextureCount(), 0u);
}

TEST(MetalImageTexturesTests, LinePictureTexturesLiveAsLongAsTheirPictures)
{
    auto device = std::make_shared<RecordingDevice>();
    MetalImageTextures textures(device);
    auto picture = platform::NativeImage::fromRGBA(2, 1, {255, 0, 0, 255, 0, 0, 255, 128});
    const auto texture = textures.texture(picture);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->format(), platform::gpu::TextureFormat::bgra8);
    EXPECT_EQ(textures.texture(picture), texture);
    // The upload is the premultiplied bitmap: red opaque, then blue at half alpha.
    const auto uploads = [&] {
        int count = 0;
        for (const std::string& event : device->events())
            count += event.rfind("upload texture", 0) == 0;
        return count;
    };
    EXPECT_EQ(uploads(), 1);
    textures.pruneLineImageTextures();
    EXPECT_EQ(textures.lineImageTextureCount(), 1u);
    picture.reset();
    textures.pruneLineImageTextures();
    EXPECT_EQ(textures.lineImageTextureCount(), 0u) << "dropped once its picture is gone";
    // A picture too large for any texture has none.
    auto wide = platform::NativeImage::fromRGBA(16385, 1, std::vector<uint8_t>(16385 * 4, 1));
    EXPECT_EQ(textures.texture(wide), nullptr);
}

TEST(MetalImageTexturesTests, KittyPixelsArePremultipliedAndFlippedOnlyWhenTheSizeHolds)
{
    EXPECT_EQ(kittyPremultipliedRGBA(std::vector<uint8_t>{255, 128, 0, 128}, 1, 1, false),
              (std::vector<uint8_t>{128, 64, 0, 128}));
    // Two rows of one pixel: flipped, the bottom row comes first.
    const std::vector<uint8_t> rows{10, 20, 30, 255, 40, 50, 60, 255};
    EXPECT_EQ(kittyPremultipliedRGBA(rows, 1, 2, true),
              (std::vector<uint8_t>{40, 50, 60, 255, 10, 20, 30, 255}));
    // Bytes that do not match the size are premultiplied in place, not flipped.
    std::vector<uint8_t> longer = rows;
    longer.push_back(7);
    EXPECT_EQ(kittyPremultipliedRGBA(longer, 1, 2, true),
              (std::vector<uint8_t>{10, 20, 30, 255, 40, 50, 60, 255, 7}));
    EXPECT_EQ(kittyPremultipliedRGBA(rows, 1, 3, true), rows);
}

TEST(MetalImageTexturesTests, PlaceholderCellsAndLinesCutTheirPicturesInProportion)
{
    // A placement showing the left half of a full-width source.
    const auto left = kittyVirtualImageGeometry({0, 0, 100, 50}, 100, 50, platform::Rect{0, 0, 100, 50},
                                                platform::Rect{0, 0, 50, 50}, 1);
    ASSERT_TRUE(left);
    EXPECT_DOUBLE_EQ(left->uvRect.minX(), 0);
    EXPECT_DOUBLE_EQ(left->uvRect.maxX(), 0.5);
    // A 100 x 50 image fitted into a 100 x 100 area sits in the middle: (0, 25, 100, 50).
    const auto fitted = kittyVirtualImageGeometry({0, 0, 100, 50}, 100, 50, platform::Rect{0, 0, 100, 100},
                                                  platform::Rect{0, 0, 100, 100}, 1);
    ASSERT_TRUE(fitted);
    EXPECT_EQ(fitted->imageRect, (platform::Rect{0, 25, 100, 50}));
    // The top of a source in the lower half of its texture: the texture holds the image upside
    // down, so v counts from the image's bottom edge.
    const auto top = kittyVirtualImageGeometry({0, 50, 100, 50}, 100, 100, platform::Rect{0, 0, 100, 50},
                                               platform::Rect{0, 25, 100, 25}, 1);
    ASSERT_TRUE(top);
    EXPECT_DOUBLE_EQ(top->uvRect.minY(), 0.25);
    EXPECT_DOUBLE_EQ(top->uvRect.maxY(), 0.5);
    EXPECT_FALSE(kittyVirtualImageGeometry({0, 0, 100, 50}, 100, 50, platform::Rect{0, 0, 100, 50},
                                           platform::Rect{200, 0, 10, 10}, 1))
        << "nothing of it in the cell";

    // A picture on a doubled-top line with pivot 10 and y from 10 to 20 spans 10 to 30.
    const auto texture =
        std::make_shared<RecordingDevice>()->makeTexture(platform::gpu::TextureFormat::rgba8, {1, 1});
    const auto doubled = imageDraw(texture, platform::Rect{0, 10, 5, 10}, platform::Rect{0, 0, 1, 1},
                                   BufferLine::RenderLineMode::doubledTop, std::nullopt, 10, 1);
    ASSERT_TRUE(doubled);
    EXPECT_EQ(doubled->vertices[0].position, (Float2{0, 10}));
    EXPECT_EQ(doubled->vertices[4].position, (Float2{10, 30}));
    // Clipped to a band, its texture coordinates are cut with it.
    const auto clipped = imageDraw(texture, platform::Rect{0, 0, 10, 10}, platform::Rect{0, 0, 1, 1},
                                   BufferLine::RenderLineMode::single, ClipRect{0, 5, 10, 10}, 0, 1);
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped->vertices[0].texCoord, (Float2{0, 0.5f}));
    EXPECT_EQ(clipped->vertices[4].texCoord, (Float2{1, 1}));
    EXPECT_FALSE(imageDraw(texture, platform::Rect{0, 0, 10, 10}, platform::Rect{0, 0, 1, 1},
                           BufferLine::RenderLineMode::single, ClipRect{0, 20, 10, 30}, 0, 1));
}

} // namespace
} // namespace kestrovan
