// The profile counters: how they add up, and frame builds against resets of the totals.
#include "Kestrovan/Apple/Metal/MetalProfileCounters.h"

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

} // namespace
} // namespace kestrovan
