// How the GPU renderer's glyph caches, atlases and row cache behaved: counted per frame build and
// added up across frames, only while profiling statistics are on (KESTROVAN_PROFILE_STATS=1).
//
// `MetalProfileCounters` is the plain value of 35 counters. `MetalProfileTotals` keeps the totals,
// the completed-render count and the reset generation under one lock: a build takes the generation
// when it starts and adds its counters only if no reset happened meanwhile, so a reset during a
// build leaves the fresh totals untouched. The counters of the build under way belong to the
// building thread and need no lock.
#pragma once

#include "Kestrovan/Locked.h"

#include <cstdint>
#include <optional>

namespace kestrovan {

struct MetalProfileCounters
{
    int64_t metricsCacheLookups = 0;
    int64_t metricsCacheHits = 0;
    int64_t metricsCacheMisses = 0;
    int64_t glyphAtlasLookups = 0;
    int64_t glyphAtlasHits = 0;
    int64_t glyphAtlasMisses = 0;
    int64_t permanentEmptyHits = 0;
    int64_t fullGlyphCacheMisses = 0;
    int64_t rasterizations = 0;
    int64_t bitmapRasterizationResults = 0;
    int64_t emptyRasterizationResults = 0;
    int64_t transientRasterizationFailures = 0;
    int64_t glyphBoundsQueries = 0;
    int64_t glyphDrawCalls = 0;
    int64_t negativeCacheEvictions = 0;
    /// High-water mark: combined by maximum.
    int64_t negativeCacheHighWater = 0;
    int64_t rasterFontRegistryLookups = 0;
    int64_t rasterFontRegistryHits = 0;
    int64_t rasterFontRegistryMisses = 0;
    /// High-water mark: combined by maximum.
    int64_t rasterFontRegistryHighWater = 0;
    int64_t rasterFontRegistryTeardowns = 0;
    int64_t drawableHitsAvoidedMetricsLookup = 0;
    int64_t drawableHitsRequiredMetricsLookup = 0;
    int64_t metricsReusedFromDrawableMiss = 0;
    /// High-water mark: combined by maximum.
    int64_t metricsFontRegistryHighWater = 0;
    int64_t fullIdentityTokensAliasingRasterIdentity = 0;
    int64_t fullCacheKeysAliasingRasterGlyphKey = 0;
    int64_t grayscaleAtlasGrows = 0;
    int64_t colorAtlasGrows = 0;
    int64_t grayscaleAtlasResets = 0;
    int64_t colorAtlasResets = 0;
    int64_t metricsEntryLimitResets = 0;
    int64_t metricsFontLimitResets = 0;
    int64_t rowsRebuilt = 0;
    int64_t atlasInvalidationBuildAttempts = 0;

    /// Adds `other` into these counters: sums, except the three high-water marks, which take the
    /// larger value.
    void add(const MetalProfileCounters& other);

    friend bool operator==(const MetalProfileCounters&, const MetalProfileCounters&) = default;
};

class MetalProfileTotals
{
public:
    /// Totals kept only when `statisticsEnabled` (the renderer passes the profiling switch).
    explicit MetalProfileTotals(bool statisticsEnabled);

    /// Starts a frame build: zeroes `active` and answers the generation the build will add into;
    /// absent when statistics are off.
    std::optional<uint64_t> beginProfileBuild(MetalProfileCounters& active) const;
    /// Ends a frame build: adds `active` into the totals when the build had a generation and no
    /// reset has happened since.
    void endProfileBuild(std::optional<uint64_t> generation, const MetalProfileCounters& active);
    /// Zeroes the totals and the render count, and moves the generation on so that builds under
    /// way add nothing into the fresh totals.
    void resetRenderCounter();

    /// Counts a frame the GPU finished.
    void recordCompletedRender();
    int64_t completedRenderCount() const;
    MetalProfileCounters totals() const;

private:
    struct State
    {
        MetalProfileCounters totals;
        uint64_t profileResetGeneration = 0;
        int64_t completedRenderCount = 0;
    };

    bool statisticsEnabled_;
    Locked<State> state_;
};

} // namespace kestrovan
