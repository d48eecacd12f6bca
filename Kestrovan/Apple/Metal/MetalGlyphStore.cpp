// MetalGlyphStore: glyph entries, their slot fits, and the reactions to atlas and metrics changes.
#include "Kestrovan/Apple/Metal/MetalGlyphStore.h"

#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

MetalGlyphStore::MetalGlyphStore(std::shared_ptr<GlyphAtlas> grayscaleAtlas,
                                 std::shared_ptr<GlyphAtlas> colorAtlas)
    : grayscaleAtlas_(std::move(grayscaleAtlas)), colorAtlas_(std::move(colorAtlas)),
      rasterizer_(grayscaleAtlas_->maxSize(), colorAtlas_->maxSize()),
      glyphMetricsCache_(GlyphMetricsCache::rendererMaxEntries, GlyphMetricsCache::rendererMaxFonts)
{}

platform::FontRef MetalGlyphStore::scaledFontFor(const platform::FontRef& font, double scale)
{
    ScaledFontKey key{RetainedFontIdentity(font), scale};
    if (const auto found = scaledFontCache_.find(key); found != scaledFontCache_.end())
        return found->second;
    platform::FontRef scaled = font->withSize(font->pointSize() * scale);
    // A size no font can be made at draws in the font as it is rather than not at all.
    if (!scaled)
        scaled = font;
    scaledFontCache_.emplace(std::move(key), scaled);
    return scaled;
}

uint32_t MetalGlyphStore::rasterFontToken(const platform::FontRef& rasterFont)
{
    count([](MetalProfileCounters& c) { ++c.rasterFontRegistryLookups; });
    const size_t before = rasterFontRegistry_.count();
    if (std::optional<uint32_t> token = rasterFontRegistry_.intern(rasterFont)) {
        const bool added = rasterFontRegistry_.count() > before;
        count([&](MetalProfileCounters& c) {
            ++(added ? c.rasterFontRegistryMisses : c.rasterFontRegistryHits);
            c.rasterFontRegistryHighWater =
                std::max(c.rasterFontRegistryHighWater, int64_t(rasterFontRegistry_.count()));
        });
        return *token;
    }
    // The registry is full: everything keyed by its tokens goes with it. Tokens are never issued
    // twice, so no stale key can meet a font registered from now on.
    glyphBitmapResultCache_.drawables.clear();
    glyphBitmapResultCache_.permanentEmpty.removeAll();
    rasterFontRegistry_.removeAll();
    count([](MetalProfileCounters& c) { ++c.rasterFontRegistryTeardowns; });
    const std::optional<uint32_t> token = rasterFontRegistry_.intern(rasterFont);
    if (!token)
        fatal("MetalGlyphStore: an empty raster font registry refused a font");
    return *token;
}

uint32_t MetalGlyphStore::profileFullFontToken(const platform::FontRef& rasterFont,
                                               const platform::FontRef& fittingFont, double renderingScale,
                                               uint32_t rasterFontToken)
{
    if (!counters_)
        return 0;
    return profileIdentities_.fullFontToken(rasterFont, fittingFont, renderingScale, rasterFontToken,
                                            *counters_);
}

void MetalGlyphStore::recordProfileGlyphIdentityAlias(uint32_t fullFontToken, uint32_t rasterFontToken,
                                                      uint16_t glyph)
{
    if (counters_)
        profileIdentities_.recordGlyph(fullFontToken, rasterFontToken, glyph, *counters_);
}

std::optional<ResolvedGlyph>
MetalGlyphStore::glyphEntry(uint32_t rasterFontToken, const platform::FontRef& font,
                            const platform::FontRef& fittingFont, double renderingScale,
                            std::optional<GlyphMetricsFont>& metricsFont, uint16_t glyph)
{
    count([](MetalProfileCounters& c) { ++c.glyphAtlasLookups; });
    const GlyphKey key{rasterFontToken, glyph};
    const GlyphBitmapCacheLookup cached = glyphBitmapResultCache_.lookup(key);
    if (cached.kind == GlyphBitmapCacheLookup::Kind::permanentlyEmpty) {
        count([](MetalProfileCounters& c) { ++c.permanentEmptyHits; });
        return std::nullopt;
    }
    if (cached.kind == GlyphBitmapCacheLookup::Kind::drawable) {
        count([](MetalProfileCounters& c) { ++c.glyphAtlasHits; });
        return ResolvedGlyph{cached.entry, std::nullopt};
    }
    count([](MetalProfileCounters& c) { ++c.glyphAtlasMisses; });

    if (!metricsFont) {
        metricsFont = glyphMetricsCache_.intern(font, fittingFont, renderingScale);
        handleMetricsGenerationChange();
    }
    const GlyphMetricsLookup lookup = glyphMetricsCache_.metrics(*metricsFont, glyph);
    handleMetricsGenerationChange();
    count([&](MetalProfileCounters& c) {
        ++c.metricsCacheLookups;
        ++(lookup.fromCache ? c.metricsCacheHits : c.metricsCacheMisses);
        // A metrics miss asks the font for the glyph's bounds.
        c.glyphBoundsQueries += !lookup.fromCache;
    });
    const GlyphMetrics& metrics = lookup.metrics;
    if (!(metrics.inkBounds.width > 0 && metrics.inkBounds.height > 0)) {
        cachePermanentEmpty(key);
        return std::nullopt;
    }

    count([](MetalProfileCounters& c) { ++c.rasterizations; });
    GlyphRasterizationResult result = rasterizer_.rasterize(*font, glyph, metrics);
    count([&](MetalProfileCounters& c) { c.glyphDrawCalls += result.drewGlyph; });
    switch (result.kind) {
    case GlyphRasterizationResult::Kind::empty:
        count([](MetalProfileCounters& c) { ++c.emptyRasterizationResults; });
        cachePermanentEmpty(key);
        return std::nullopt;
    case GlyphRasterizationResult::Kind::transientFailure:
        count([](MetalProfileCounters& c) { ++c.transientRasterizationFailures; });
        return std::nullopt;
    case GlyphRasterizationResult::Kind::bitmap:
        count([](MetalProfileCounters& c) { ++c.bitmapRasterizationResults; });
        break;
    }

    const GlyphBitmap& bitmap = result.bitmap;
    GlyphAtlas& atlas = bitmap.isColor ? *colorAtlas_ : *grayscaleAtlas_;
    const int64_t previousSize = atlas.size();
    const std::optional<AtlasRegion> region = atlas.ensureRegion(bitmap.width, bitmap.height);
    handleAtlasChange(atlas, previousSize);
    if (!region)
        return std::nullopt;
    atlas.write(*region, bitmap.pixels, bitmap.width, bitmap.height);
    const GlyphEntry entry{*region, platform::Size{double(bitmap.width), double(bitmap.height)},
                           bitmap.bearing, bitmap.isColor,
                           bitmap.isColor ? GlyphAtlasKind::color : GlyphAtlasKind::grayscale};
    glyphBitmapResultCache_.drawables[key] = entry;
    return ResolvedGlyph{entry, metrics};
}

GlyphSlotFit MetalGlyphStore::glyphSlotFit(const ResolvedGlyph& resolved, uint16_t glyph, int columnWidth,
                                           platform::Size cellDimension, double baselineFromBottom,
                                           const platform::FontRef& font,
                                           const platform::FontRef& fittingFont, double renderingScale,
                                           std::optional<GlyphMetricsFont>& metricsFont,
                                           const std::optional<TerminalGlyphPlacementPolicy>& policy,
                                           double iconHeight, bool fitsFallbackToCell)
{
    // The common glyph, one cell of a font of the view, needs no metrics at all.
    if (!policy && columnWidth <= 1 && !fitsFallbackToCell) {
        if (!resolved.metrics)
            count([](MetalProfileCounters& c) { ++c.drawableHitsAvoidedMetricsLookup; });
        return GlyphSlotFit::identity();
    }
    GlyphMetrics metrics;
    if (resolved.metrics) {
        metrics = *resolved.metrics;
        count([](MetalProfileCounters& c) { ++c.metricsReusedFromDrawableMiss; });
    } else {
        if (!metricsFont) {
            metricsFont = glyphMetricsCache_.intern(font, fittingFont, renderingScale);
            handleMetricsGenerationChange();
        }
        const GlyphMetricsLookup lookup = glyphMetricsCache_.metrics(*metricsFont, glyph);
        metrics = lookup.metrics;
        handleMetricsGenerationChange();
        count([&](MetalProfileCounters& c) {
            ++c.drawableHitsRequiredMetricsLookup;
            c.glyphBoundsQueries += !lookup.fromCache;
        });
    }
    return glyphSlotFit(metrics, columnWidth, cellDimension, baselineFromBottom, renderingScale, policy,
                        iconHeight, fitsFallbackToCell);
}

GlyphSlotFit MetalGlyphStore::glyphSlotFit(const GlyphMetrics& metrics, int columnWidth,
                                           platform::Size cellDimension, double baselineFromBottom,
                                           double renderingScale,
                                           const std::optional<TerminalGlyphPlacementPolicy>& policy,
                                           double iconHeight, bool fitsFallbackToCell)
{
    const double s = renderingScale;
    if ((!policy && columnWidth <= 1 && !fitsFallbackToCell) || !(s > 0))
        return GlyphSlotFit::identity();
    // A colour glyph drawn for a scaled slot is measured at its own size: its ink grows about its
    // middle height to the size the slot's font gives it.
    platform::Rect ink = metrics.inkBounds;
    if (metrics.fitInkSizeScale != 1) {
        const double middle = ink.y + ink.height / 2;
        ink.width *= metrics.fitInkSizeScale;
        ink.height *= metrics.fitInkSizeScale;
        ink.y = middle - ink.height / 2;
    }
    // The fits work in points: the raster font's pixels divided by the scale.
    const GlyphFitMeasure measure{metrics.horizontalAdvance / s,
                                  platform::GlyphBounds{ink.x / s, ink.y / s, ink.width / s, ink.height / s}};
    const bool usableCell = std::isfinite(cellDimension.width) && std::isfinite(cellDimension.height) &&
                            cellDimension.width > 0 && cellDimension.height > 0;
    if (!usableCell)
        return GlyphSlotFit::identity();
    const GlyphSlot slot{cellDimension, baselineFromBottom, iconHeight / s};
    if (policy)
        return GlyphSlotFitter::policyGlyphFit(measure, columnWidth, *policy, slot);
    if (fitsFallbackToCell)
        return GlyphSlotFitter::fallbackGlyphFit(measure.advance, cellDimension.width);
    return GlyphSlotFitter::wideGlyphFit(measure, columnWidth, slot);
}

void MetalGlyphStore::cachePermanentEmpty(const GlyphKey& key)
{
    const int64_t evictions = glyphBitmapResultCache_.permanentEmpty.evictionCount();
    glyphBitmapResultCache_.permanentEmpty.insert(key);
    count([&](MetalProfileCounters& c) {
        c.negativeCacheEvictions += glyphBitmapResultCache_.permanentEmpty.evictionCount() - evictions;
        c.negativeCacheHighWater =
            std::max(c.negativeCacheHighWater, glyphBitmapResultCache_.permanentEmpty.highWaterCount());
    });
}

void MetalGlyphStore::handleAtlasChange(GlyphAtlas& atlas, int64_t previousSize)
{
    const bool color = &atlas == colorAtlas_.get();
    if (atlas.didReset()) {
        // Every packed entry may point at texels that are gone; known-empty glyphs stay empty.
        glyphBitmapResultCache_.drawables.clear();
        customGlyphCache_.clear();
        atlasInvalidatedDuringBuild = true;
        count([&](MetalProfileCounters& c) { ++(color ? c.colorAtlasResets : c.grayscaleAtlasResets); });
    } else if (atlas.size() != previousSize) {
        // Entries keep their texels, but normalised coordinates made before the growth are stale.
        atlasInvalidatedDuringBuild = true;
        count([&](MetalProfileCounters& c) { ++(color ? c.colorAtlasGrows : c.grayscaleAtlasGrows); });
    }
}

void MetalGlyphStore::handleMetricsGenerationChange()
{
    if (glyphMetricsCache_.generation() == metricsCacheGeneration_)
        return;
    metricsCacheGeneration_ = glyphMetricsCache_.generation();
    count([&](MetalProfileCounters& c) {
        if (glyphMetricsCache_.lastDiscardReason() == GlyphMetricsDiscardReason::fontLimit)
            ++c.metricsFontLimitResets;
        else
            ++c.metricsEntryLimitResets;
        c.metricsFontRegistryHighWater =
            std::max(c.metricsFontRegistryHighWater, glyphMetricsCache_.fontRegistryHighWater());
    });
}

void MetalGlyphStore::clearFontCaches()
{
    glyphBitmapResultCache_.drawables.clear();
    glyphBitmapResultCache_.permanentEmpty.removeAll();
    rasterFontRegistry_.removeAll();
    scaledFontCache_.clear();
}

} // namespace kestrovan
