// The glyph rasterizer: the same coverage as the CPU path's glyph drawing, the colour test, the
// pixel box of an ink rectangle, and ink boxes no atlas could hold answered without allocating.
#include "CountingAllocator.h"

#include "Kestrovan/Apple/Metal/CoreTextGlyphRasterizer.h"
#include "Kestrovan/Apple/Metal/MetalTestFonts.h"
#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrovan {
namespace {

using platform::Rect;

GlyphMetrics inkOnly(Rect ink)
{
    GlyphMetrics metrics;
    metrics.inkBounds = ink;
    return metrics;
}

/// The glyph's metrics as the renderer measures them: `font` scaled by `scale` is the raster font.
GlyphMetrics metricsAt(const platform::FontRef& font, double scale, uint16_t glyph)
{
    return GlyphMetricsCache::measure(*font->withSize(font->pointSize() * scale), *font, scale, glyph);
}

uint16_t glyphOf(const platform::FontRef& font, char32_t character)
{
    const std::optional<platform::GlyphId> glyph = font->glyph(character);
    EXPECT_TRUE(glyph) << "no glyph for U+" << std::hex << uint32_t(character);
    return uint16_t(glyph.value_or(0));
}

TEST(CoreTextGlyphRasterizerTests, DrawsTheSameCoverageAsTheCanvasAtScalesOneAndTwo)
{
    // DejaVu Sans Mono has no italic face among the tests' fonts: its italic is its upright face
    // slanted, which both paths must draw leaning.
    const platform::FontRef dejaVu = platform::Font::named("DejaVu Sans Mono", 12);
    ASSERT_TRUE(dejaVu);
    const platform::FontRef slanted = dejaVu->withTraits({false, true});
    ASSERT_NE(slanted->obliqueShear(), 0);
    const struct
    {
        const char* name;
        platform::FontRef font;
    } fonts[] = {{"JetBrains Mono", metaltest::terminalFont(12)}, {"slanted DejaVu Sans Mono", slanted}};
    const CoreTextGlyphRasterizer rasterizer;
    for (const auto& [name, font] : fonts) {
        for (double scale : {1.0, 2.0}) {
            for (char32_t character : {U'A', U'g', U'@'}) {
                SCOPED_TRACE(testing::Message() << name << " '" << char(character) << "' at scale " << scale);
                const uint16_t glyph = glyphOf(font, character);
                const platform::FontRef rasterFont = font->withSize(12 * scale);
                const GlyphRasterizationResult result =
                    rasterizer.rasterize(*rasterFont, glyph, metricsAt(font, scale, glyph));
                ASSERT_EQ(result.kind, GlyphRasterizationResult::Kind::bitmap);
                const GlyphBitmap& bitmap = result.bitmap;
                EXPECT_FALSE(bitmap.isColor);
                ASSERT_EQ(bitmap.pixels.size(), size_t(bitmap.width) * size_t(bitmap.height) * 4);

                // The CPU path draws the 12-point font on a canvas of `scale` pixels per point, with
                // the glyph origin on a whole pixel.
                const int side = int(32 * scale);
                std::optional<platform::Bitmap> cpu = platform::Bitmap::create(side, side);
                ASSERT_TRUE(cpu);
                {
                    platform::Canvas canvas(*cpu, scale);
                    canvas.setFillColor(platform::NativeColor::sRGB(1, 1, 1));
                    const platform::GlyphId glyphs[] = {glyph};
                    const platform::Point origins[] = {{8, 8}};
                    canvas.drawGlyphs(*font, glyphs, origins);
                }
                const int originX = int(8 * scale) + int(bitmap.bearing.x);
                const int originY = int(8 * scale) + int(bitmap.bearing.y);
                int inked = 0;
                for (int y = 0; y < side; ++y) {
                    for (int x = 0; x < side; ++x) {
                        const platform::PremultipliedPixel expected = cpu->pixel(x, y);
                        const int bx = x - originX, by = y - originY;
                        uint8_t got[4] = {0, 0, 0, 0};
                        if (bx >= 0 && by >= 0 && bx < bitmap.width && by < bitmap.height)
                            std::copy_n(bitmap.pixels.data() +
                                            (size_t(by) * size_t(bitmap.width) + size_t(bx)) * 4,
                                        4, got);
                        // Bytes are B, G, R, A.
                        const int want[4] = {expected.blue, expected.green, expected.red, expected.alpha};
                        for (int channel = 0; channel < 4; ++channel)
                            ASSERT_LE(std::abs(int(got[channel]) - want[channel]), 1)
                                << "pixel (" << x << ", " << y << ") channel " << channel;
                        inked += expected.alpha > 0;
                    }
                }
                EXPECT_GT(inked, 10) << "the glyph drew almost nothing";
            }
        }
    }
}

TEST(CoreTextGlyphRasterizerTests, TellsColourGlyphsFromPlainOnes)
{
    const platform::FontRef emoji = metaltest::emojiFont(12);
    const platform::FontRef text = metaltest::terminalFont(12);
    ASSERT_TRUE(emoji && text);
    const CoreTextGlyphRasterizer rasterizer;
    struct Case
    {
        const char* name;
        platform::FontRef font;
        char32_t character;
        bool isColor;
    };
    const Case cases[] = {
        {"grinning face", emoji, U'\U0001F600', true},
        {"A", text, U'A', false},
        {"anti-aliased @", text, U'@', false},
    };
    for (const Case& test : cases) {
        for (double scale : {1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << test.name << " at scale " << scale);
            const uint16_t glyph = glyphOf(test.font, test.character);
            const GlyphRasterizationResult result = rasterizer.rasterize(
                *test.font->withSize(12 * scale), glyph, metricsAt(test.font, scale, glyph));
            ASSERT_EQ(result.kind, GlyphRasterizationResult::Kind::bitmap);
            EXPECT_EQ(result.bitmap.isColor, test.isColor);
        }
    }
}

TEST(CoreTextGlyphRasterizerTests, RoundsTheInkBoxOutToWholePixels)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double infinity = std::numeric_limits<double>::infinity();
    struct Case
    {
        const char* name;
        Rect ink;
        std::optional<GlyphPixelBox> box;
    };
    const Case cases[] = {
        {"0.2 wide at 3.9 spans two pixels", {3.9, 0, 0.2, 1}, GlyphPixelBox{3, 0, 2, 1}},
        {"negative origin", {-0.5, -2.25, 1, 3}, GlyphPixelBox{-1, -3, 2, 4}},
        {"whole pixels stay whole", {2, 3, 4, 5}, GlyphPixelBox{2, 3, 4, 5}},
        {"exactly the largest side", {0, 0, 100, 1}, GlyphPixelBox{0, 0, 100, 1}},
        {"a fraction past the largest side", {0.5, 0, 100, 1}, std::nullopt},
        {"taller than the largest side", {0, 0, 1, 101}, std::nullopt},
        {"zero width", {3, 3, 0, 5}, std::nullopt},
        {"negative height", {3, 3, 5, -1}, std::nullopt},
        {"NaN origin", {nan, 0, 1, 1}, std::nullopt},
        {"NaN width", {0, 0, nan, 1}, std::nullopt},
        {"infinite height", {0, 0, 1, infinity}, std::nullopt},
        {"far beyond 32-bit pixels", {1e12, 0, 1, 1}, std::nullopt},
        {"finite sides whose sum overflows", {-1e308, 0, 1e308, 1}, std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(CoreTextGlyphRasterizer::pixelBox(test.ink, 100), test.box);
    }

    // Through the rasterizer: the bitmap has the box's size and the box's origin as bearing.
    const platform::FontRef font = metaltest::terminalFont(12);
    const GlyphRasterizationResult narrow =
        CoreTextGlyphRasterizer().rasterize(*font, glyphOf(font, U'l'), inkOnly({3.9, 0, 0.2, 1}));
    ASSERT_EQ(narrow.kind, GlyphRasterizationResult::Kind::bitmap);
    EXPECT_EQ(narrow.bitmap.width, 2);
    EXPECT_EQ(narrow.bitmap.height, 1);
    EXPECT_EQ(narrow.bitmap.bearing, (platform::Point{3, 0}));
    EXPECT_EQ(narrow.bitmap.pixels.size(), 8u);
    EXPECT_EQ(CoreTextGlyphRasterizer().rasterize(*font, glyphOf(font, U' '), inkOnly({0, 0, 0, 0})).kind,
              GlyphRasterizationResult::Kind::empty);
}

TEST(CoreTextGlyphRasterizerTests, AnswersInkNoAtlasCouldHoldAsEmptyWithoutAllocatingIt)
{
    // HugeGlyph.ttf has 16 units to the em: at 12 points "H" is 22,500 pixels square, "W" 300
    // and "A" a few pixels.
    const platform::FontRef font = metaltest::testFont("HugeGlyph.ttf", 12);
    ASSERT_TRUE(font);
    struct Case
    {
        const char* name;
        int64_t atlasMaxSize;
        char32_t character;
        GlyphRasterizationResult::Kind kind;
    };
    using Kind = GlyphRasterizationResult::Kind;
    const Case cases[] = {
        {"22,500 pixels in the default atlases", CoreTextGlyphRasterizer::defaultGrayscaleAtlasMaxSize, U'H',
         Kind::empty},
        {"300 pixels in the default atlases", CoreTextGlyphRasterizer::defaultGrayscaleAtlasMaxSize, U'W',
         Kind::bitmap},
        {"300 pixels in atlases of 256", 256, U'W', Kind::empty},
        {"a small glyph in atlases of 256", 256, U'A', Kind::bitmap},
        {"22,500 pixels in atlases of 256", 256, U'H', Kind::empty},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const CoreTextGlyphRasterizer rasterizer(test.atlasMaxSize, test.atlasMaxSize);
        const uint16_t glyph = glyphOf(font, test.character);
        const GlyphMetrics metrics = metricsAt(font, 1, glyph);
        counting::startCounting();
        const GlyphRasterizationResult result = rasterizer.rasterize(*font, glyph, metrics);
        counting::stopCounting();
        EXPECT_EQ(result.kind, test.kind);
        // The largest bitmap an atlas can take, with its gutter: (side - 2)^2 x 4 bytes.
        const size_t bound = size_t(test.atlasMaxSize - 2) * size_t(test.atlasMaxSize - 2) * 4;
        EXPECT_LE(counting::largestAllocation(), bound);
        if (test.kind == Kind::empty) {
            EXPECT_LT(counting::largestAllocation(), 4096u) << "an empty answer allocated pixels";
        } else if (result.kind == Kind::bitmap) {
            EXPECT_EQ(result.bitmap.pixels.size(),
                      size_t(result.bitmap.width) * size_t(result.bitmap.height) * 4);
        }
    }
}

} // namespace
} // namespace kestrovan
