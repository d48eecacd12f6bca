// The counters a terminal view answers about itself: output taken in, frame driver and render
// loop ticks, draws, main-thread hops, and the GPU renderer's glyph caches and atlases.
//
// Counting is always on and cheap. The view keeps the counters it increments itself in this
// value behind a lock shared with the threads that count (the feed closures count on the parse
// thread); the rest are read from the frame driver, the render loop and the renderer when the
// view is asked. A counter that would overflow stops the program.
#pragma once

#include <cstdint>

namespace kestrovan {

struct TerminalViewDiagnostics
{
    int64_t bytesFed = 0;
    int64_t batches = 0;
    int64_t ticks = 0;
    int64_t frames = 0;
    int64_t idleTicks = 0;
    int64_t pauses = 0;
    int64_t immediateTicks = 0;
    int64_t renders = 0;
    int64_t mainHops = 0;
    int64_t renderLoopFrames = 0;
    int64_t renderLoopCoalesced = 0;
    // The GPU renderer's cache and atlas counters, in its own order.
    int64_t metricsCacheLookups = 0;
    int64_t metricsCacheHits = 0;
    int64_t metricsCacheMisses = 0;
    int64_t glyphAtlasLookups = 0;
    int64_t glyphAtlasHits = 0;
    int64_t glyphAtlasMisses = 0;
    int64_t permanentEmptyGlyphHits = 0;
    int64_t fullGlyphCacheMisses = 0;
    int64_t glyphRasterizations = 0;
    int64_t bitmapRasterizationResults = 0;
    int64_t emptyRasterizationResults = 0;
    int64_t transientRasterizationFailures = 0;
    int64_t glyphBoundsQueries = 0;
    int64_t glyphDrawCalls = 0;
    int64_t negativeGlyphCacheEvictions = 0;
    int64_t negativeGlyphCacheHighWater = 0;
    int64_t rasterFontRegistryLookups = 0;
    int64_t rasterFontRegistryHits = 0;
    int64_t rasterFontRegistryMisses = 0;
    int64_t rasterFontRegistryHighWater = 0;
    int64_t rasterFontRegistryTeardowns = 0;
    int64_t drawableHitsAvoidedMetricsLookup = 0;
    int64_t drawableHitsRequiredMetricsLookup = 0;
    int64_t metricsReusedFromDrawableMiss = 0;
    int64_t metricsFontRegistryHighWater = 0;
    int64_t fullIdentityTokensAliasingRasterIdentity = 0;
    int64_t fullCacheKeysAliasingRasterGlyphKey = 0;
    int64_t grayscaleAtlasGrows = 0;
    int64_t colorAtlasGrows = 0;
    int64_t grayscaleAtlasResets = 0;
    int64_t colorAtlasResets = 0;
    int64_t metricsEntryLimitResets = 0;
    int64_t metricsFontLimitResets = 0;
    int64_t metalRowsRebuilt = 0;
    int64_t atlasInvalidationBuildAttempts = 0;

    /// The mean bytes per feed, rounded down; 0 before the first feed.
    int64_t meanBatchBytes() const { return batches == 0 ? 0 : bytesFed / batches; }

    /// Adds `amount` to `counter`; an overflow stops the program.
    static void add(int64_t& counter, int64_t amount);

    friend bool operator==(const TerminalViewDiagnostics&, const TerminalViewDiagnostics&) = default;
};

} // namespace kestrovan
