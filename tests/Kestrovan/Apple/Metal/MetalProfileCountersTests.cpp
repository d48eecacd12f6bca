// The profile counters: how they add up, frame builds against resets of the totals, and what
// frames count: glyph bounds asked of the font, glyphs drawn, drawable hits that needed no metrics,
// and the full identities (raster font, fitting font, scale) that share a raster font's entries.
//
// Regression: six counters (misses by full identity, bounds queries, draw calls, drawable hits
// avoiding a metrics lookup, and the two identity aliases) stayed 0 whatever was drawn.
#include "RecordingFrameTestSupport.h"

#include "Kestrovan/Apple/Metal/MetalProfileCounters.h"
#include "Kestrovan/Apple/Metal/MetalTestFonts.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(MetalProfileCountersTests, AddSumsCountersAndKeepsTheLargerHighWaterMarks)
{
    MetalProfileCounters total;
    total.rasterFontRegistryLookups = 10;
    total.rasterFontRegistryHighWater = 10;
    total.negativeCacheHighWater = 3;
    total.metricsFontRegistryHighWater = 1;
    total.atlasInvalidationBuildAttempts = 1;
    MetalProfileCounters frame;
    frame.rasterFontRegistryLookups = 7;
    frame.rasterFontRegistryHighWater = 7;
    frame.negativeCacheHighWater = 9;
    frame.metricsFontRegistryHighWater = 1;
    frame.metricsCacheLookups = 5;
    frame.atlasInvalidationBuildAttempts = 2;
    total.add(frame);
    EXPECT_EQ(total.rasterFontRegistryLookups, 17);
    EXPECT_EQ(total.rasterFontRegistryHighWater, 10);
    EXPECT_EQ(total.negativeCacheHighWater, 9);
    EXPECT_EQ(total.metricsFontRegistryHighWater, 1);
    EXPECT_EQ(total.metricsCacheLookups, 5);
    EXPECT_EQ(total.atlasInvalidationBuildAttempts, 3);
}

TEST(MetalProfileCountersTests, ABuildAddsIntoTheTotalsOnlyWhenNoResetCameBetween)
{
    MetalProfileCounters frame;
    frame.rowsRebuilt = 4;

    MetalProfileTotals totals(true);
    MetalProfileCounters active;
    active.rowsRebuilt = 99;
    std::optional<uint64_t> build = totals.beginProfileBuild(active);
    ASSERT_TRUE(build);
    EXPECT_EQ(active, MetalProfileCounters{}) << "a build starts from zero";
    totals.endProfileBuild(build, frame);
    totals.recordCompletedRender();
    EXPECT_EQ(totals.totals().rowsRebuilt, 4);
    EXPECT_EQ(totals.completedRenderCount(), 1);

    // A reset while a build is under way: that build's counters belong to the old totals.
    build = totals.beginProfileBuild(active);
    totals.resetRenderCounter();
    totals.endProfileBuild(build, frame);
    EXPECT_EQ(totals.totals(), MetalProfileCounters{});
    EXPECT_EQ(totals.completedRenderCount(), 0);
    // The next build adds again.
    totals.endProfileBuild(totals.beginProfileBuild(active), frame);
    EXPECT_EQ(totals.totals().rowsRebuilt, 4);

    MetalProfileTotals off(false);
    EXPECT_EQ(off.beginProfileBuild(active), std::nullopt);
    off.endProfileBuild(std::nullopt, frame);
    EXPECT_EQ(off.totals(), MetalProfileCounters{});
}

TEST(MetalProfileCountersTests, FramesCountBoundsQueriesDrawsMetricsFreeHitsAndIdentityAliases)
{
    metaltest::RecordingFrames f(20, 2);
    // Text that is shaped (not the plain ASCII path), with repeated letters: a letter's second
    // lookup is a drawable hit that needs no metrics.
    f.feed("h\xc3\xa9llo w\xc3\xb6rld");
    f.view.fonts = testing::terminalFrameFonts(24);
    f.render();
    const MetalProfileCounters first = f.renderer->profileTotals();
    EXPECT_GT(first.glyphDrawCalls, 0);
    EXPECT_EQ(first.glyphDrawCalls, first.bitmapRasterizationResults) << "every glyph drawn is a bitmap";
    EXPECT_GT(first.glyphBoundsQueries, 0);
    EXPECT_EQ(first.glyphBoundsQueries, first.metricsCacheMisses) << "bounds are asked on a metrics miss";
    EXPECT_GT(first.drawableHitsAvoidedMetricsLookup, 0);
    EXPECT_LE(first.drawableHitsAvoidedMetricsLookup, first.glyphAtlasHits);
    // One full identity: a key it misses is a key the raster font misses.
    EXPECT_EQ(first.fullGlyphCacheMisses, first.glyphAtlasMisses);
    EXPECT_EQ(first.fullIdentityTokensAliasingRasterIdentity, 0);
    EXPECT_EQ(first.fullCacheKeysAliasingRasterGlyphKey, 0);

    // Half the size at twice the scale: the same raster font under another full identity. Its
    // glyphs come from the entries already packed, so nothing is drawn again.
    f.view.fonts = testing::terminalFrameFonts(12);
    f.view.renderingScale = 2;
    f.render();
    const MetalProfileCounters second = f.renderer->profileTotals();
    EXPECT_EQ(second.glyphDrawCalls, first.glyphDrawCalls) << "the packed glyphs are shared";
    EXPECT_GE(second.fullIdentityTokensAliasingRasterIdentity, 1);
    EXPECT_EQ(second.fullCacheKeysAliasingRasterGlyphKey, first.fullGlyphCacheMisses)
        << "each glyph key of the first frame is asked for again under the new identity";
    EXPECT_EQ(second.fullGlyphCacheMisses, 2 * first.fullGlyphCacheMisses);

    // A new letter under the known identity: a miss by full identity, but no alias.
    f.feed("\r\nx");
    f.render();
    const MetalProfileCounters third = f.renderer->profileTotals();
    EXPECT_EQ(third.fullGlyphCacheMisses, second.fullGlyphCacheMisses + 1);
    EXPECT_EQ(third.fullCacheKeysAliasingRasterGlyphKey, second.fullCacheKeysAliasingRasterGlyphKey);
    EXPECT_EQ(third.fullIdentityTokensAliasingRasterIdentity,
              second.fullIdentityTokensAliasingRasterIdentity);
}

TEST(MetalProfileCountersTests, IdentitiesAreKeptOnlyWhileCountingAndWithinTheirBounds)
{
    metaltest::RecordingFrames f(4, 1);
    MetalGlyphStore& store = f.renderer->glyphStore();
    const platform::FontRef font = metaltest::terminalFont(12);
    store.setProfileCounters(nullptr);
    EXPECT_EQ(store.profileFullFontToken(font, font, 1, 1), 0u) << "nothing is kept while not counting";
    store.recordProfileGlyphIdentityAlias(1, 1, 5);
    EXPECT_EQ(store.profileIdentities().fullFontCount(), 0u);
    EXPECT_EQ(store.profileIdentities().fullGlyphKeyCount(), 0u);

    MetalProfileCounters counters;
    store.setProfileCounters(&counters);
    const uint32_t token = store.profileFullFontToken(font, font, 1, 1);
    EXPECT_NE(token, 0u);
    EXPECT_EQ(store.profileFullFontToken(metaltest::terminalFont(12), metaltest::terminalFont(12), 1, 1),
              token)
        << "fonts compare by value";
    // 4095 more identities of one raster token fill the table; the next gets no token.
    for (size_t i = 1; i < MetalProfileIdentities::maximumFullFonts; ++i)
        EXPECT_NE(store.profileFullFontToken(font, font, 1 + double(i), 1), 0u);
    EXPECT_EQ(counters.fullIdentityTokensAliasingRasterIdentity,
              int64_t(MetalProfileIdentities::maximumFullFonts) - 1);
    EXPECT_EQ(store.profileFullFontToken(font, font, 0.5, 1), 0u);
    EXPECT_EQ(store.profileFullFontToken(font, font, 1, 1), token) << "a known identity keeps its token";

    for (uint32_t full = 1; full <= 2; ++full)
        for (uint16_t glyph = 0; glyph < 3; ++glyph)
            store.recordProfileGlyphIdentityAlias(full, 7, glyph);
    store.recordProfileGlyphIdentityAlias(0, 7, 9);
    EXPECT_EQ(counters.fullGlyphCacheMisses, 6);
    EXPECT_EQ(counters.fullCacheKeysAliasingRasterGlyphKey, 3) << "the second identity's three keys";
    store.setProfileCounters(nullptr);
}

} // namespace
} // namespace kestrovan
