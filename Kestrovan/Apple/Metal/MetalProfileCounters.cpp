// MetalProfileCounters and MetalProfileTotals: adding counters, and builds against resets.
#include "Kestrovan/Apple/Metal/MetalProfileCounters.h"

#include <algorithm>

namespace kestrovan {

void MetalProfileCounters::add(const MetalProfileCounters& other)
{
    metricsCacheLookups += other.metricsCacheLookups;
    metricsCacheHits += other.metricsCacheHits;
    metricsCacheMisses += other.metricsCacheMisses;
    glyphAtlasLookups += other.glyphAtlasLookups;
    glyphAtlasHits += other.glyphAtlasHits;
    glyphAtlasMisses += other.glyphAtlasMisses;
    permanentEmptyHits += other.permanentEmptyHits;
    fullGlyphCacheMisses += other.fullGlyphCacheMisses;
    rasterizations += other.rasterizations;
    bitmapRasterizationResults += other.bitmapRasterizationResults;
    emptyRasterizationResults += other.emptyRasterizationResults;
    transientRasterizationFailures += other.transientRasterizationFailures;
    glyphBoundsQueries += other.glyphBoundsQueries;
    glyphDrawCalls += other.glyphDrawCalls;
    negativeCacheEvictions += other.negativeCacheEvictions;
    negativeCacheHighWater = std::max(negativeCacheHighWater, other.negativeCacheHighWater);
    rasterFontRegistryLookups += other.rasterFontRegistryLookups;
    rasterFontRegistryHits += other.rasterFontRegistryHits;
    rasterFontRegistryMisses += other.rasterFontRegistryMisses;
    rasterFontRegistryHighWater = std::max(rasterFontRegistryHighWater, other.rasterFontRegistryHighWater);
    rasterFontRegistryTeardowns += other.rasterFontRegistryTeardowns;
    drawableHitsAvoidedMetricsLookup += other.drawableHitsAvoidedMetricsLookup;
    drawableHitsRequiredMetricsLookup += other.drawableHitsRequiredMetricsLookup;
    metricsReusedFromDrawableMiss += other.metricsReusedFromDrawableMiss;
    metricsFontRegistryHighWater = std::max(metricsFontRegistryHighWater, other.metricsFontRegistryHighWater);
    fullIdentityTokensAliasingRasterIdentity += other.fullIdentityTokensAliasingRasterIdentity;
    fullCacheKeysAliasingRasterGlyphKey += other.fullCacheKeysAliasingRasterGlyphKey;
    grayscaleAtlasGrows += other.grayscaleAtlasGrows;
    colorAtlasGrows += other.colorAtlasGrows;
    grayscaleAtlasResets += other.grayscaleAtlasResets;
    colorAtlasResets += other.colorAtlasResets;
    metricsEntryLimitResets += other.metricsEntryLimitResets;
    metricsFontLimitResets += other.metricsFontLimitResets;
    rowsRebuilt += other.rowsRebuilt;
    atlasInvalidationBuildAttempts += other.atlasInvalidationBuildAttempts;
}

MetalProfileTotals::MetalProfileTotals(bool statisticsEnabled) : statisticsEnabled_(statisticsEnabled) {}

std::optional<uint64_t> MetalProfileTotals::beginProfileBuild(MetalProfileCounters& active) const
{
    if (!statisticsEnabled_)
        return std::nullopt;
    active = MetalProfileCounters{};
    return state_.withLock([](const State& state) { return state.profileResetGeneration; });
}

void MetalProfileTotals::endProfileBuild(std::optional<uint64_t> generation,
                                         const MetalProfileCounters& active)
{
    if (!generation)
        return;
    state_.withLock([&](State& state) {
        if (state.profileResetGeneration == *generation)
            state.totals.add(active);
    });
}

void MetalProfileTotals::resetRenderCounter()
{
    state_.withLock([](State& state) {
        state.completedRenderCount = 0;
        state.totals = MetalProfileCounters{};
        ++state.profileResetGeneration;
    });
}

void MetalProfileTotals::recordCompletedRender()
{
    state_.withLock([](State& state) { ++state.completedRenderCount; });
}

int64_t MetalProfileTotals::completedRenderCount() const
{
    return state_.withLock([](const State& state) { return state.completedRenderCount; });
}

MetalProfileCounters MetalProfileTotals::totals() const
{
    return state_.withLock([](const State& state) { return state.totals; });
}

} // namespace kestrovan
