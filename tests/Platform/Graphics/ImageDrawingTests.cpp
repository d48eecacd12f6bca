#include "GoldenImage.h"

#include "Platform/Graphics/Canvas.h"

#include <gtest/gtest.h>

using namespace platform;
using graphics_test::makeBitmap;

namespace {

/// An image from rows of RGBA quadruples, top row first.
std::shared_ptr<const NativeImage> makeImage(int width, int height, std::vector<uint8_t> rgba)
{
    return NativeImage::fromRGBA(width, height, std::move(rgba));
}

/// A 2 x 2 picture: red and half-transparent green on top, blue and clear below.
std::shared_ptr<const NativeImage> quadrants()
{
    return makeImage(2, 2, {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255, 10, 20, 30, 0});
}

} // namespace

TEST(ImageDrawingTests, ConvertsOnceUprightAndPremultiplied)
{
    ImageBitmapCache cache;
    Bitmap bitmap = makeBitmap(2, 2);
    Canvas canvas(bitmap, 1, cache);
    canvas.setBlendMode(BlendMode::copy);
    std::shared_ptr<const NativeImage> image = quadrants();
    canvas.drawImage(image, Rect{0, 0, 2, 2}, ImageInterpolation::none);
    EXPECT_EQ(bitmap.pixel(0, 1), (PremultipliedPixel{255, 0, 0, 255}))
        << "the image's top row is at the top";
    EXPECT_EQ(bitmap.pixel(1, 1), (PremultipliedPixel{0, 128, 0, 128})) << "green premultiplied by half";
    EXPECT_EQ(bitmap.pixel(0, 0), (PremultipliedPixel{0, 0, 255, 255}));
    EXPECT_EQ(bitmap.pixel(1, 0), (PremultipliedPixel{})) << "colour under zero alpha is gone";

    // Back to straight alpha: what was there comes back, to within the rounding of a half alpha.
    std::shared_ptr<const NativeImage> back = bitmap.makeImage();
    ASSERT_TRUE(back);
    const std::vector<uint8_t> expected = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(back->rgba().begin(), back->rgba().end()), expected);

    // Drawn again, here and on another canvas sharing the cache: still one conversion.
    canvas.drawImage(image, Rect{0, 0, 1, 1});
    Bitmap other = makeBitmap(4, 4);
    Canvas second(other, 2, cache);
    second.drawImage(image, Rect{0, 0, 2, 2});
    EXPECT_EQ(cache.conversions(), 1u);
    EXPECT_EQ(cache.count(), 1u);

    // When the image dies its bitmap goes with it; a new image is converted anew.
    image.reset();
    cache.purgeDeadImages();
    EXPECT_EQ(cache.count(), 0u);
    std::shared_ptr<const NativeImage> next = quadrants();
    canvas.drawImage(next, Rect{0, 0, 2, 2});
    EXPECT_EQ(cache.conversions(), 2u);
    EXPECT_EQ(cache.count(), 1u);
}

TEST(ImageDrawingTests, SourceRectanglesAndScaling)
{
    ImageBitmapCache cache;
    std::shared_ptr<const NativeImage> image = quadrants();

    // The top-right pixel of the image (row 0 counted from the top) fills the whole target.
    Bitmap bitmap = makeBitmap(3, 3);
    Canvas canvas(bitmap, 1, cache);
    canvas.drawImage(image, PixelRect{1, 0, 1, 1}, Rect{0, 0, 3, 3}, ImageInterpolation::low);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(bitmap.pixel(x, y), (PremultipliedPixel{0, 128, 0, 128})) << x << ", " << y;

    // A source that reaches outside the image draws nothing at all.
    Bitmap untouched = makeBitmap(2, 2);
    Canvas none(untouched, 1, cache);
    for (PixelRect outside : {PixelRect{1, 1, 2, 1}, PixelRect{-1, 0, 1, 1}, PixelRect{0, 0, 0, 1},
                              PixelRect{0, 2, 1, 1}, PixelRect{INT32_MAX, 0, 2, 1}})
        none.drawImage(image, outside, Rect{0, 0, 2, 2});
    none.drawImage(image, Rect{0, 0, 0, 2});
    none.drawImage(nullptr, Rect{0, 0, 2, 2});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(untouched.pixel(x, y).alpha, 0);

    // A picture scaled up with each interpolation, at scale 2 in a translated space.
    std::vector<uint8_t> checker;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool dark = (x + y) % 2;
            checker.insert(checker.end(),
                           {uint8_t(dark ? 30 : 240), uint8_t(dark ? 60 : 200), uint8_t(90), 255});
        }
    std::shared_ptr<const NativeImage> board = makeImage(4, 4, checker);
    Bitmap golden = makeBitmap(52, 16);
    Canvas scaled(golden, 2, cache);
    scaled.translate(1, 0);
    scaled.drawImage(board, Rect{0, 0, 8, 8}, ImageInterpolation::none);
    scaled.drawImage(board, Rect{8, 0, 8, 8}, ImageInterpolation::low);
    scaled.drawImage(board, PixelRect{0, 0, 2, 4}, Rect{16, 0, 8, 8}, ImageInterpolation::high);
    graphics_test::expectMatchesGolden(golden, "images-scale2");
}
