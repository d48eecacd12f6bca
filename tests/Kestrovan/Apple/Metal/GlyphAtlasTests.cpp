// The glyph atlas on the recording device: its sizes, shelf packing, growth, reset, freezing, the
// maximum from the environment, and the texels and gutters it writes into its CPU copy.

#include "Kestrovan/Apple/Metal/GlyphAtlas.h"
#include "Platform/GPU/RecordingDevice.h"
#include "Platform/Log/Log.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

using platform::gpu::RecordingDevice;

/// Collects the atlas's log lines while alive.
struct LogCapture
{
    LogCapture()
    {
        platform::setLogSink([this](const platform::LogRecord& record) {
            if (record.category == "GPUAtlas")
                lines.emplace_back(record.message);
        });
    }
    ~LogCapture() { platform::setLogSink({}); }
    std::vector<std::string> lines;
};

/// A bitmap of `width` x `height` as the rasterizer gives it (bottom row first, 4 bytes a pixel)
/// whose pixel (x, y from the top) is blue x, green y, red 7, alpha 100 + x + y.
std::vector<uint8_t> bitmap(int width, int height)
{
    std::vector<uint8_t> pixels(size_t(width * height * 4));
    for (int yFromTop = 0; yFromTop < height; ++yFromTop) {
        const int row = height - 1 - yFromTop;
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[size_t((row * width + x) * 4)];
            p[0] = uint8_t(x);
            p[1] = uint8_t(yFromTop);
            p[2] = 7;
            p[3] = uint8_t(100 + x + yFromTop);
        }
    }
    return pixels;
}

std::shared_ptr<GlyphAtlas> makeAtlas(const std::shared_ptr<RecordingDevice>& device, int64_t size,
                                      int64_t maxSize, GlyphAtlasFormat format = GlyphAtlasFormat::grayscale)
{
    auto atlas = GlyphAtlas::make(device, size, maxSize, format);
    EXPECT_TRUE(atlas);
    return atlas;
}

TEST(GlyphAtlasTests, StartsAtTheRequestedSideWithinItsBounds)
{
    const struct
    {
        int64_t size, maxSize, expectedSize, expectedMax;
    } cases[] = {
        {100, 50, 256, 256},      // both raised to the smallest side
        {1024, 8192, 1024, 8192}, // as the renderer makes them
        {5000, 2048, 2048, 2048}, // never above the maximum
        {300, 300, 300, 300},
    };
    for (const auto& c : cases) {
        auto device = std::make_shared<RecordingDevice>();
        auto atlas = makeAtlas(device, c.size, c.maxSize);
        EXPECT_EQ(atlas->size(), c.expectedSize) << c.size << "/" << c.maxSize;
        EXPECT_EQ(atlas->maxSize(), c.expectedMax) << c.size << "/" << c.maxSize;
        EXPECT_EQ(atlas->data().size(), size_t(c.expectedSize * c.expectedSize));
        EXPECT_EQ(atlas->texture()->size().width, c.expectedSize);
    }
    // No texture, no atlas.
    auto device = std::make_shared<RecordingDevice>();
    device->failAt(RecordingDevice::Operation::makeTexture);
    EXPECT_FALSE(GlyphAtlas::make(device, 1024, 1024, GlyphAtlasFormat::bgra));
}

TEST(GlyphAtlasTests, PacksGlyphsOnShelvesInsideTheirGutters)
{
    auto device = std::make_shared<RecordingDevice>();
    auto atlas = makeAtlas(device, 256, 256);
    // Empty glyphs get no room and do not count as a reset.
    EXPECT_EQ(atlas->ensureRegion(0, 5), std::nullopt);
    EXPECT_EQ(atlas->ensureRegion(5, 0), std::nullopt);
    EXPECT_EQ(atlas->ensureRegion(-3, 5), std::nullopt);
    EXPECT_FALSE(atlas->didReset());

    const struct
    {
        int64_t width, height;
        AtlasRegion expected;
    } glyphs[] = {
        {10, 20, {1, 1, 10, 20}},
        {100, 5, {13, 1, 100, 5}},
        {140, 8, {115, 1, 140, 8}},   // reaches the edge, gutter included
        {3, 3, {1, 23, 3, 3}},        // a new shelf above the tallest glyph of the last
        {249, 230, {6, 23, 249, 230}} // the rest of that shelf
    };
    for (const auto& glyph : glyphs)
        EXPECT_EQ(atlas->ensureRegion(glyph.width, glyph.height), glyph.expected)
            << glyph.width << "x" << glyph.height;
    EXPECT_FALSE(atlas->didReset());
}

TEST(GlyphAtlasTests, AFullAtlasGrowsUpToItsMaximumThenResets)
{
    LogCapture log;
    auto device = std::make_shared<RecordingDevice>();
    auto atlas = makeAtlas(device, 256, 512);
    auto first = atlas->ensureRegion(4, 4);
    atlas->write(*first, bitmap(4, 4), 4, 4);
    const std::vector<uint8_t> before = atlas->data();

    // Too tall for what is left of 256: grows to 512, keeping every texel at its position.
    auto grown = atlas->ensureRegion(254, 250);
    EXPECT_EQ(grown, (AtlasRegion{1, 7, 254, 250}));
    EXPECT_FALSE(atlas->didReset());
    EXPECT_EQ(atlas->size(), 512);
    for (int64_t row = 0; row < 256; ++row)
        for (int64_t column = 0; column < 256; ++column)
            ASSERT_EQ(atlas->data()[size_t(row * 512 + column)], before[size_t(row * 256 + column)])
                << row << "," << column;
    EXPECT_EQ(log.lines, (std::vector<std::string>{"glyph atlas (grayscale) grow: 256 -> 512"}));

    // At the maximum and full: the atlas clears itself and places the glyph first.
    ASSERT_TRUE(atlas->ensureRegion(500, 240));
    auto afterReset = atlas->ensureRegion(300, 300);
    EXPECT_EQ(afterReset, (AtlasRegion{1, 1, 300, 300}));
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(atlas->size(), 512);
    EXPECT_EQ(std::count(atlas->data().begin(), atlas->data().end(), 0), int64_t(atlas->data().size()));
    // The next call that fits reports no reset; a second overflow logs nothing new.
    EXPECT_TRUE(atlas->ensureRegion(5, 5));
    EXPECT_FALSE(atlas->didReset());
    ASSERT_TRUE(atlas->ensureRegion(500, 200));
    EXPECT_TRUE(atlas->ensureRegion(300, 300));
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "glyph atlas (grayscale) grow: 256 -> 512",
                  "glyph atlas (grayscale) reset at size 512: glyph working set exceeds capacity"}));

    // A glyph larger than the maximum less its gutter never fits and changes nothing.
    EXPECT_EQ(atlas->ensureRegion(511, 10), std::nullopt);
    EXPECT_FALSE(atlas->didReset());
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(GlyphAtlasTests, AFrozenFullAtlasRefusesAndLogsOnce)
{
    LogCapture log;
    auto device = std::make_shared<RecordingDevice>();
    auto atlas = makeAtlas(device, 256, 1024, GlyphAtlasFormat::bgra);
    ASSERT_TRUE(atlas->ensureRegion(254, 254));
    atlas->frozen = true;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(atlas->ensureRegion(10, 10), std::nullopt);
        EXPECT_FALSE(atlas->didReset());
    }
    EXPECT_EQ(atlas->size(), 256);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "glyph atlas (bgra) frozen and full; glyphs will be skipped this frame"}));
    // Thawed, it grows as usual, and a later freeze logs again.
    atlas->frozen = false;
    EXPECT_TRUE(atlas->ensureRegion(10, 10));
    EXPECT_EQ(atlas->size(), 512);
    ASSERT_TRUE(atlas->ensureRegion(500, 240));
    atlas->frozen = true;
    EXPECT_EQ(atlas->ensureRegion(300, 300), std::nullopt);
    EXPECT_EQ(log.lines.size(), 3u);
}

TEST(GlyphAtlasTests, AGrowthWhoseTextureFailsFallsThroughToAReset)
{
    for (auto failing :
         {RecordingDevice::Operation::makeTexture, RecordingDevice::Operation::replaceRegion}) {
        LogCapture log;
        auto device = std::make_shared<RecordingDevice>();
        auto atlas = makeAtlas(device, 256, 1024);
        ASSERT_TRUE(atlas->ensureRegion(254, 254));
        const auto texture = atlas->texture();
        device->failAt(failing);
        EXPECT_EQ(atlas->ensureRegion(20, 20), (AtlasRegion{1, 1, 20, 20}));
        EXPECT_TRUE(atlas->didReset());
        EXPECT_EQ(atlas->size(), 256);
        EXPECT_EQ(atlas->texture(), texture);
        EXPECT_EQ(log.lines,
                  (std::vector<std::string>{
                      "glyph atlas (grayscale) grow to 512 failed: texture allocation",
                      "glyph atlas (grayscale) reset at size 256: glyph working set exceeds capacity"}));
    }
}

TEST(GlyphAtlasTests, RecommendedMaximumFollowsTheVariableAndTheDevice)
{
    using Info = platform::gpu::Device::Info;
    const Info large{"gpu", 16384, false};
    const Info small{"gpu", 8192, false};
    const Info tiny{"gpu", 2048, false};
    const struct
    {
        const char* variable;
        const Info& device;
        int64_t grayscale, bgra;
    } cases[] = {
        {nullptr, large, 8192, 4096},
        {"", large, 8192, 4096},
        {"abc", large, 8192, 4096},
        {"100", large, 256, 256},
        {"20000", large, 16384, 16384},
        {"20000", small, 8192, 8192},
        {"3000", large, 3000, 3000},
        {"+3000", large, 3000, 3000},
        {"-5", large, 256, 256},
        {" 3000", large, 8192, 4096},
        {"3000 ", large, 8192, 4096},
        {"+-3000", large, 8192, 4096},
        {"99999999999999999999", large, 8192, 4096},
        // Never beyond the device's largest texture.
        {nullptr, tiny, 2048, 2048},
        {"20000", tiny, 2048, 2048},
    };
    for (const auto& c : cases) {
        const std::string label = c.variable ? std::string("\"") + c.variable + "\"" : "unset";
        EXPECT_EQ(GlyphAtlas::recommendedMaxSize(c.device, GlyphAtlasFormat::grayscale, c.variable),
                  c.grayscale)
            << label << " on " << c.device.maxTextureSize;
        EXPECT_EQ(GlyphAtlas::recommendedMaxSize(c.device, GlyphAtlasFormat::bgra, c.variable), c.bgra)
            << label << " on " << c.device.maxTextureSize;
    }
}

TEST(GlyphAtlasTests, WritesFlipRowsAndCopyEdgesIntoTheGutter)
{
    // Grey texels take the alpha byte; colour texels all four. Rows are flipped: the bitmap's
    // last row is the atlas's first. A glyph at the atlas's edge has no gutter on that side.
    for (auto format : {GlyphAtlasFormat::grayscale, GlyphAtlasFormat::bgra}) {
        auto device = std::make_shared<RecordingDevice>();
        auto atlas = makeAtlas(device, 256, 256, format);
        const int64_t bpp = atlas->bytesPerPixel();
        const auto texel = [&](int64_t x, int64_t y) {
            const uint8_t* p = &atlas->data()[size_t((y * 256 + x) * bpp)];
            return bpp == 1 ? std::vector<uint8_t>{p[0]} : std::vector<uint8_t>{p[0], p[1], p[2], p[3]};
        };
        const auto source = [&](int x, int yFromTop) {
            const std::vector<uint8_t> all{uint8_t(x), uint8_t(yFromTop), 7, uint8_t(100 + x + yFromTop)};
            return bpp == 1 ? std::vector<uint8_t>{all[3]} : all;
        };
        const char* name = formatName(format);

        const AtlasRegion corner{0, 0, 3, 2};
        device->clearEvents();
        atlas->write(corner, bitmap(3, 2), 3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(texel(x, y), source(x, y)) << name << " " << x << "," << y;
        // Right and below: copies of the edge; the corner takes the corner pixel.
        EXPECT_EQ(texel(3, 0), source(2, 0)) << name;
        EXPECT_EQ(texel(0, 2), source(0, 1)) << name;
        EXPECT_EQ(texel(3, 2), source(2, 1)) << name;
        // Only the glyph and its clamped gutter go up.
        EXPECT_EQ(device->events(),
                  (std::vector<std::string>{"upload texture 1 0,0 4x3 row " + std::to_string(256 * bpp)}))
            << name;

        const AtlasRegion inner{10, 20, 2, 2};
        atlas->write(inner, bitmap(2, 2), 2, 2);
        EXPECT_EQ(texel(9, 19), source(0, 0)) << name;
        EXPECT_EQ(texel(12, 19), source(1, 0)) << name;
        EXPECT_EQ(texel(9, 22), source(0, 1)) << name;
        EXPECT_EQ(texel(12, 22), source(1, 1)) << name;
        EXPECT_EQ(texel(11, 19), source(1, 0)) << name;

        // A mismatched size or a short bitmap writes nothing.
        device->clearEvents();
        const std::vector<uint8_t> snapshot = atlas->data();
        atlas->write({40, 40, 3, 3}, bitmap(3, 3), 3, 2);
        atlas->write({40, 40, 3, 3}, std::vector<uint8_t>(3 * 3 * 4 - 1, 0xFF), 3, 3);
        atlas->write({255, 255, 3, 3}, bitmap(3, 3), 3, 3);
        EXPECT_EQ(atlas->data(), snapshot) << name;
        EXPECT_TRUE(device->events().empty()) << name;
    }
}

} // namespace
} // namespace kestrovan
