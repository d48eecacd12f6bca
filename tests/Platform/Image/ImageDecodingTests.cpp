// Pictures of any format the desktop reads, decoded for the inline-picture code: JPEG, the first
// frame of a GIF, BMP and PNG give their pixels; a picture larger than the limits, or data no
// decoder reads whole, gives nothing; and a small file claiming a huge picture is refused from its
// header, before the memory for its pixels is taken.
//
// Regression: an OSC 1337 picture that was not a PNG was dropped silently.
#include "Platform/Image/Pixbuf/ImageDecoding.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using platform::ImageDecodingLimits;
using platform::RgbaImage;

const ImageDecodingLimits roomy{10'000, 16'777'216};

std::vector<uint8_t> readData(const std::string& name)
{
    std::ifstream file(std::string(KESTROVAN_TEST_DATA_DIR) + "/images/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

/// A 24-bit BMP of `width` x `height` pixels, each `colour(x, y)` (0xRRGGBB).
std::vector<uint8_t> bmp(int width, int height, uint32_t (*colour)(int, int))
{
    const uint32_t stride = uint32_t(width * 3 + 3) & ~3u;
    const uint32_t size = 54 + stride * uint32_t(height);
    std::vector<uint8_t> out(size, 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out[at + size_t(i)] = uint8_t(value >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    out[26] = 1;
    out[28] = 24;
    put32(34, stride * uint32_t(height));
    // Rows bottom first, pixels blue, green, red.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colour(x, height - 1 - y);
            uint8_t* pixel = &out[54 + size_t(y) * stride + size_t(x) * 3];
            pixel[0] = uint8_t(c);
            pixel[1] = uint8_t(c >> 8);
            pixel[2] = uint8_t(c >> 16);
        }
    return out;
}

uint32_t rgbAt(const RgbaImage& image, int x, int y)
{
    const uint8_t* p = &image.rgba[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

int alphaAt(const RgbaImage& image, int x, int y)
{
    return image.rgba[(size_t(y) * size_t(image.width) + size_t(x)) * 4 + 3];
}

int channelDistance(uint32_t a, uint32_t b)
{
    int largest = 0;
    for (int shift : {16, 8, 0})
        largest = std::max(largest, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return largest;
}

/// The colour of block (bx, by) of the pictures `make-pictures` draws: 8 x 8 pixels, 8 blocks a
/// row, `colours` taken in turn.
uint32_t blockColour(const std::vector<uint32_t>& colours, int bx, int by)
{
    return colours[size_t(by * 8 + bx) % colours.size()];
}

const std::vector<uint32_t> jpegColours{0xC03030, 0x30A040, 0x3050D0, 0xE0C020, 0xF0F0F0};
const std::vector<uint32_t> gifColours{0xD020A0, 0x20B0B0, 0xF08010};

TEST(ImageDecodingTests, EachFormatGivesItsPixels)
{
    struct Case
    {
        const char* what;
        std::vector<uint8_t> data;
        int width, height;
        /// The colour expected at a pixel, and how far a channel may be from it.
        uint32_t (*colour)(int x, int y);
        int tolerance;
    };
    static const auto jpegBlocks = [](int x, int y) { return blockColour(jpegColours, x / 8, y / 8); };
    static const auto gifBlocks = [](int x, int y) { return blockColour(gifColours, x / 8, y / 8); };
    static const auto bmpStripes = [](int x, int y) { return (x + y) % 2 ? 0x102030u : 0xF0E0D0u; };
    std::vector<uint8_t> pngRgba(3 * 2 * 4, 255);
    pngRgba[0] = 10, pngRgba[1] = 20, pngRgba[2] = 30;
    static const auto pngPixels = [](int x, int y) { return x == 0 && y == 0 ? 0x0A141Eu : 0xFFFFFFu; };
    const Case cases[] = {
        // Compressed with loss: the middle of each block keeps its colour within a few levels.
        {"JPEG", readData("blocks.jpg"), 64, 32, jpegBlocks, 6},
        // The first of two frames; the second is black.
        {"GIF", readData("blocks.gif"), 64, 32, gifBlocks, 0},
        {"BMP", bmp(5, 3, bmpStripes), 5, 3, bmpStripes, 0},
        {"PNG", platform::encodePng(pngRgba, 3, 2), 3, 2, pngPixels, 0},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.data.empty()) << c.what;
        const std::optional<RgbaImage> image = platform::decodeImage(c.data, roomy);
        ASSERT_TRUE(image) << c.what;
        ASSERT_EQ(image->width, c.width) << c.what;
        ASSERT_EQ(image->height, c.height) << c.what;
        ASSERT_EQ(image->rgba.size(), size_t(c.width) * size_t(c.height) * 4) << c.what;
        const bool blocks = c.width == 64;
        for (int y = blocks ? 4 : 0; y < c.height; y += blocks ? 8 : 1)
            for (int x = blocks ? 4 : 0; x < c.width; x += blocks ? 8 : 1) {
                EXPECT_LE(channelDistance(rgbAt(*image, x, y), c.colour(x, y)), c.tolerance)
                    << c.what << " at (" << x << ", " << y << "): " << std::hex << rgbAt(*image, x, y);
                EXPECT_EQ(alphaAt(*image, x, y), 255) << c.what;
            }
    }
}

TEST(ImageDecodingTests, PicturesLargerThanTheLimitsOrNotWholeGiveNothing)
{
    const std::vector<uint8_t> jpeg = readData("blocks.jpg");
    const std::vector<uint8_t> gif = readData("blocks.gif");
    const std::vector<uint8_t> png = platform::encodePng(std::vector<uint8_t>(64 * 32 * 4, 128), 64, 32);
    const std::string text = "not a picture at all";
    std::vector<uint8_t> brokenPng = png;
    brokenPng.resize(brokenPng.size() / 2);
    struct Case
    {
        const char* what;
        std::vector<uint8_t> data;
        ImageDecodingLimits limits;
    };
    const Case cases[] = {
        {"a JPEG wider than the longest side", jpeg, {63, 1'000'000}},
        {"a GIF wider than the longest side", gif, {63, 1'000'000}},
        {"a PNG wider than the longest side", png, {63, 1'000'000}},
        {"a JPEG of more pixels than allowed", jpeg, {1000, 64 * 32 - 1}},
        {"a GIF of more pixels than allowed", gif, {1000, 64 * 32 - 1}},
        {"a PNG of more pixels than allowed", png, {1000, 64 * 32 - 1}},
        // Before the frame's header: no picture yet.
        {"a JPEG cut short", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 150), roomy},
        {"a GIF cut short", std::vector<uint8_t>(gif.begin(), gif.begin() + 200), roomy},
        {"a PNG cut in half", brokenPng, roomy},
        {"text", std::vector<uint8_t>(text.begin(), text.end()), roomy},
        {"nothing", {}, roomy},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(platform::decodeImage(c.data, c.limits)) << c.what;
    // Just within the limits, the same pictures decode.
    for (const auto* data : {&jpeg, &gif, &png})
        EXPECT_TRUE(platform::decodeImage(*data, {64, 64 * 32}));
}

/// `data` with the size its header claims changed to `width` x `height`: for a JPEG in its frame
/// header (SOF0), for a GIF in its logical screen.
std::vector<uint8_t> claiming(std::vector<uint8_t> data, int width, int height)
{
    if (data.size() > 10 && data[0] == 'G') {
        data[6] = uint8_t(width), data[7] = uint8_t(width >> 8);
        data[8] = uint8_t(height), data[9] = uint8_t(height >> 8);
        return data;
    }
    for (size_t at = 2; at + 9 < data.size(); ++at)
        if (data[at] == 0xFF && data[at + 1] == 0xC0) {
            data[at + 5] = uint8_t(height >> 8), data[at + 6] = uint8_t(height);
            data[at + 7] = uint8_t(width >> 8), data[at + 8] = uint8_t(width);
            return data;
        }
    ADD_FAILURE() << "no frame header";
    return data;
}

long peakResidentKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(ImageDecodingTests, ASmallFileClaimingAHugePictureIsRefusedBeforeItsPixelsTakeMemory)
{
    // 5000 x 5000 pixels, more than the 16,777,216 allowed, in a few hundred bytes: decoded, the
    // loader would take 75 MB (JPEG) or 100 MB (GIF) for them and fill what the data lacks.
    for (const char* name : {"blocks.jpg", "blocks.gif"}) {
        const std::vector<uint8_t> bomb = claiming(readData(name), 5000, 5000);
        const long before = peakResidentKilobytes();
        EXPECT_FALSE(platform::decodeImage(bomb, roomy)) << name;
        EXPECT_LT(peakResidentKilobytes() - before, 20'000) << name << ": memory was taken for the pixels";
    }
}

} // namespace
