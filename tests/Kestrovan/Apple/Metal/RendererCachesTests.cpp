// The renderer's bounded caches: the raster font registry, the permanent-empty set, the glyph
// lookup, the metrics generations and the colour maps, at their bounds.
#include "Kestrovan/Apple/Metal/GlyphBitmapResultCache.h"
#include "Kestrovan/Apple/Metal/GlyphMetricsCache.h"
#include "Kestrovan/Apple/Metal/MetalColorSIMDCache.h"
#include "Kestrovan/Apple/Metal/MetalTestFonts.h"
#include "Kestrovan/Apple/Metal/RasterFontRegistry.h"

#include <gtest/gtest.h>
#include <vector>

namespace kestrovan {
namespace {

/// `count` fonts of one face at distinct sizes: distinct fonts by value.
std::vector<platform::FontRef> distinctFonts(size_t count)
{
    const platform::FontRef base = metaltest::testFont("Plain.ttf", 1);
    std::vector<platform::FontRef> fonts;
    for (size_t i = 0; i < count; ++i)
        fonts.push_back(base->withSize(1 + double(i) / 16));
    return fonts;
}

TEST(RendererCachesTests, RasterFontRegistryRefusesThe4097thFontAndNeverReusesATokenAfterTeardown)
{
    const std::vector<platform::FontRef> fonts = distinctFonts(4097);
    RasterFontRegistry registry;
    uint32_t lastToken = 0;
    for (size_t i = 0; i < 4096; ++i) {
        const std::optional<uint32_t> token = registry.intern(fonts[i]);
        ASSERT_TRUE(token) << "font " << i;
        ASSERT_GT(*token, lastToken) << "tokens count up from 1";
        lastToken = *token;
    }
    EXPECT_EQ(registry.intern(fonts[4096]), std::nullopt) << "the 4097th font";
    EXPECT_EQ(registry.count(), 4096u) << "nothing was evicted";

    // Fonts compare by value: another object of the same face and size is the same font.
    const platform::FontRef again = metaltest::testFont("Plain.ttf", 1);
    ASSERT_NE(again->id(), fonts[0]->id());
    EXPECT_EQ(registry.intern(again), registry.intern(fonts[0]));

    registry.removeAll();
    const std::optional<uint32_t> afterTeardown = registry.intern(fonts[4096]);
    ASSERT_TRUE(afterTeardown);
    EXPECT_GT(*afterTeardown, lastToken) << "a token is never issued twice";
    EXPECT_NE(registry.intern(fonts[0]), std::optional<uint32_t>(1u));
}

TEST(RendererCachesTests, PermanentEmptySetIsClearedWholeWhenANewKeyFindsItFull)
{
    PermanentEmptyGlyphCache empties;
    for (uint16_t glyph = 0; glyph < 4096; ++glyph)
        empties.insert(GlyphKey{1, glyph});
    EXPECT_EQ(empties.count(), 4096u);
    empties.insert(GlyphKey{1, 17});
    EXPECT_EQ(empties.evictionCount(), 0) << "a known key does not clear a full set";

    empties.insert(GlyphKey{2, 0});
    EXPECT_EQ(empties.count(), 1u) << "the 4097th key leaves only itself";
    EXPECT_TRUE(empties.contains(GlyphKey{2, 0}));
    EXPECT_FALSE(empties.contains(GlyphKey{1, 17}));
    EXPECT_EQ(empties.evictionCount(), 1);
    EXPECT_EQ(empties.highWaterCount(), 4096);

    empties.removeAll();
    empties.removeAll();
    EXPECT_EQ(empties.count(), 0u);
    EXPECT_EQ(empties.evictionCount(), 3) << "every removeAll counts, even of an empty set";
}

TEST(RendererCachesTests, GlyphLookupAnswersDrawableEmptyOrMiss)
{
    GlyphBitmapResultCache cache;
    const GlyphEntry entry{AtlasRegion{5, 6, 7, 8}, {7, 8}, {1, -2}, false, GlyphAtlasKind::grayscale};
    cache.drawables[GlyphKey{1, 10}] = entry;
    cache.permanentEmpty.insert(GlyphKey{1, 11});
    // A drawable entry wins over a stale empty record of the same key.
    cache.drawables[GlyphKey{1, 12}] = entry;
    cache.permanentEmpty.insert(GlyphKey{1, 12});

    using Kind = GlyphBitmapCacheLookup::Kind;
    struct Case
    {
        GlyphKey key;
        Kind kind;
    };
    for (const Case& test :
         {Case{{1, 10}, Kind::drawable}, Case{{1, 11}, Kind::permanentlyEmpty}, Case{{1, 12}, Kind::drawable},
          Case{{2, 10}, Kind::miss}, Case{{1, 13}, Kind::miss}}) {
        SCOPED_TRACE(testing::Message()
                     << "token " << test.key.rasterFontToken << " glyph " << test.key.glyph);
        const GlyphBitmapCacheLookup found = cache.lookup(test.key);
        EXPECT_EQ(found.kind, test.kind);
        if (test.kind == Kind::drawable) {
            EXPECT_EQ(found.entry, entry);
        }
    }
}

TEST(RendererCachesTests, MetricsDiscardTheGenerationAt65536EntriesAndReinternTheCallersFont)
{
    const platform::FontRef font = metaltest::testFont("Plain.ttf", 12);
    GlyphMetricsCache cache(GlyphMetricsCache::rendererMaxEntries, GlyphMetricsCache::rendererMaxFonts);
    GlyphMetricsFont held = cache.intern(font, nullptr, 1);
    const uint32_t firstToken = held.token;
    for (uint32_t glyph = 0; glyph < 65'536; ++glyph)
        ASSERT_FALSE(cache.metrics(held, uint16_t(glyph)).fromCache) << "glyph " << glyph;
    EXPECT_EQ(cache.generation(), 1u);
    EXPECT_TRUE(cache.metrics(held, 34).fromCache);

    const platform::FontRef other = metaltest::testFont("Plain.ttf", 13);
    GlyphMetricsFont second = cache.intern(other, nullptr, 1);
    EXPECT_EQ(cache.generation(), 1u);
    const GlyphMetricsLookup miss = cache.metrics(second, 34);
    EXPECT_FALSE(miss.fromCache);
    EXPECT_EQ(cache.generation(), 2u);
    EXPECT_EQ(cache.lastDiscardReason(), GlyphMetricsDiscardReason::entryLimit);
    EXPECT_EQ(second.generation, 2u) << "the caller's font was interned again";
    EXPECT_GT(second.token, firstToken);
    EXPECT_EQ(cache.entryCount(), 1u);
    EXPECT_EQ(miss.metrics, GlyphMetricsCache::measure(*other, *other, 1, 34));

    // The first font, of the old generation, is interned again on its next lookup.
    const GlyphMetricsLookup again = cache.metrics(held, 34);
    EXPECT_FALSE(again.fromCache);
    EXPECT_EQ(held.generation, 2u);
    EXPECT_NE(held.token, firstToken);
    EXPECT_NE(held.token, second.token);
}

TEST(RendererCachesTests, MetricsDiscardTheGenerationAtThe1025thFontAndReinternOldFontsTransparently)
{
    const std::vector<platform::FontRef> fonts = distinctFonts(1025);
    GlyphMetricsCache cache(GlyphMetricsCache::rendererMaxEntries, GlyphMetricsCache::rendererMaxFonts);
    GlyphMetricsFont first = cache.intern(fonts[0], nullptr, 2);
    const GlyphMetrics before = cache.metrics(first, 40).metrics;
    for (size_t i = 1; i < 1024; ++i)
        cache.intern(fonts[i], nullptr, 2);
    EXPECT_EQ(cache.generation(), 1u);
    EXPECT_EQ(cache.fontCount(), 1024u);
    // Interning the same identity again registers nothing.
    EXPECT_EQ(cache.intern(fonts[5], fonts[5], 2).token, cache.intern(fonts[5], nullptr, 2).token);

    const GlyphMetricsFont last = cache.intern(fonts[1024], nullptr, 2);
    EXPECT_EQ(cache.generation(), 2u);
    EXPECT_EQ(cache.lastDiscardReason(), GlyphMetricsDiscardReason::fontLimit);
    EXPECT_EQ(last.generation, 2u);
    EXPECT_EQ(cache.fontCount(), 1u);
    EXPECT_EQ(cache.fontRegistryHighWater(), 1024);

    const GlyphMetricsLookup after = cache.metrics(first, 40);
    EXPECT_FALSE(after.fromCache);
    EXPECT_EQ(after.metrics, before) << "the same metrics, measured again";
    EXPECT_EQ(first.generation, 2u);
    EXPECT_EQ(cache.fontCount(), 2u);
}

TEST(RendererCachesTests, MetricsMeasureAdvanceInTheFittingFontAndFitColourGlyphsByAscent)
{
    const platform::FontRef text = metaltest::terminalFont(12);
    const platform::FontRef emoji = metaltest::emojiFont(12);
    ASSERT_TRUE(text && emoji);
    const uint16_t letter = uint16_t(*text->glyph(U'M'));
    const uint16_t face = uint16_t(*emoji->glyph(U'\U0001F600'));

    const GlyphMetrics scaled = GlyphMetricsCache::measure(*text->withSize(24), *text, 2, letter);
    EXPECT_DOUBLE_EQ(scaled.horizontalAdvance, 2 * text->advance(letter));
    EXPECT_EQ(scaled.fontSize, 24);
    EXPECT_EQ(scaled.inkBounds.width, text->withSize(24)->bounds(letter).width);
    EXPECT_EQ(scaled.fitInkSizeScale, 1) << "not a colour font";

    struct Case
    {
        const char* name;
        double rasterSize;
        double scale;
        double fitInkSizeScale;
    };
    const Case cases[] = {
        {"scale 2, raster ascent twice the fitting font's", 24, 2, 1},
        {"scale 2, raster ascent equal to the fitting font's", 12, 2, 2},
        {"scale 1", 24, 1, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_DOUBLE_EQ(
            GlyphMetricsCache::measure(*emoji->withSize(test.rasterSize), *emoji, test.scale, face)
                .fitInkSizeScale,
            test.fitInkSizeScale);
    }
}

TEST(RendererCachesTests, ColourMapsConvertAndEmptyThemselvesWhenFull)
{
    using platform::NativeColor;
    EXPECT_EQ(MetalColorSIMDCache::convert(NativeColor::sRGB(0.25, 0.5, 1, 0.75)),
              (ColorSIMD{0.25f, 0.5f, 1.0f, 0.75f}));
    EXPECT_EQ(MetalColorSIMDCache::convert(NativeColor::pattern()), (ColorSIMD{0, 0, 0, 1}))
        << "a paint without an sRGB form keeps its components";

    MetalColorSIMDCache cache(4, 3, 4);
    for (int i = 0; i < 4; ++i)
        cache.lookup(NativeColor::sRGB(i / 8.0, 0, 0));
    EXPECT_EQ(cache.lookup(NativeColor::sRGB(1 / 8.0, 0, 0)), (ColorSIMD{0.125f, 0, 0, 1}));
    EXPECT_EQ(cache.count(), 4u) << "a hit adds nothing";
    cache.lookup(NativeColor::sRGB(1, 1, 1));
    EXPECT_EQ(cache.count(), 1u) << "a new colour in a full map empties it first";

    // Red in bits 0-7, green in 8-15, blue in 16-23; anything above is not part of the key.
    EXPECT_EQ(cache.lookupRGB(0x0000FF), (ColorSIMD{1, 0, 0, 1}));
    EXPECT_EQ(cache.lookupRGB(0x00FF00), (ColorSIMD{0, 1, 0, 1}));
    EXPECT_EQ(cache.lookupRGB(0xFF0000), (ColorSIMD{0, 0, 1, 1}));
    EXPECT_EQ(cache.lookupRGB(0xAB0000FF), (ColorSIMD{1, 0, 0, 1}));
    EXPECT_EQ(cache.rgbCount(), 3u);
    cache.lookupRGB(0x808080);
    EXPECT_EQ(cache.rgbCount(), 1u);
}

TEST(RendererCachesDeathTest, MetricsCacheWithoutRoomStopsTheProgram)
{
    EXPECT_DEATH(GlyphMetricsCache(0, 1), "room for one entry and one font");
    EXPECT_DEATH(GlyphMetricsCache(1, 0), "room for one entry and one font");
}

} // namespace
} // namespace kestrovan
