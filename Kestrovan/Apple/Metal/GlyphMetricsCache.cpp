// GlyphMetricsCache: interning fonts into tokens, measuring glyphs, and discarding generations.
#include "Kestrovan/Apple/Metal/GlyphMetricsCache.h"

#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <limits>

namespace kestrovan {

GlyphMetricsCache::GlyphMetricsCache(int64_t maxEntries, int64_t maxFonts)
    : maxEntries_(maxEntries), maxFonts_(maxFonts)
{
    KESTROVAN_ASSERT(maxEntries >= 1 && maxFonts >= 1,
                     "GlyphMetricsCache needs room for one entry and one font");
    values_.reserve(size_t(std::min<int64_t>(maxEntries, 4096)));
    tokensByFont_.reserve(size_t(std::min<int64_t>(maxFonts, 64)));
    fontsByToken_.reserve(size_t(std::min<int64_t>(maxFonts, 64)));
}

GlyphMetricsFont GlyphMetricsCache::intern(const platform::FontRef& font,
                                           const platform::FontRef& fittingFont, double renderingScale)
{
    KESTROVAN_ASSERT(font != nullptr, "GlyphMetricsCache::intern needs a font");
    const platform::FontRef& fitting = fittingFont ? fittingFont : font;
    MetricsFontIdentity identity{CoreTextFontIdentity(font), CoreTextFontIdentity(fitting), renderingScale};
    if (const auto found = tokensByFont_.find(identity); found != tokensByFont_.end()) {
        const RegisteredMetricsFont& registered = fontsByToken_.at(found->second);
        return GlyphMetricsFont{found->second, registered.font, registered.fittingFont,
                                registered.renderingScale, generation_};
    }
    if (int64_t(fontsByToken_.size()) >= maxFonts_)
        discardGeneration(GlyphMetricsDiscardReason::fontLimit);
    // Tokens are never issued twice, across generations too, so a stale token cannot name a font.
    if (nextToken_ == std::numeric_limits<uint32_t>::max())
        fatal("GlyphMetricsCache: font tokens exhausted");
    const uint32_t token = nextToken_++;
    tokensByFont_.emplace(std::move(identity), token);
    fontsByToken_.emplace(token, RegisteredMetricsFont{font, fitting, renderingScale});
    fontRegistryHighWater_ = std::max(fontRegistryHighWater_, int64_t(fontsByToken_.size()));
    return GlyphMetricsFont{token, font, fitting, renderingScale, generation_};
}

GlyphMetricsLookup GlyphMetricsCache::metrics(GlyphMetricsFont& font, uint16_t glyph)
{
    KESTROVAN_ASSERT(font.font != nullptr, "GlyphMetricsCache::metrics needs a font from intern");
    if (font.generation != generation_)
        font = intern(font.font, font.fittingFont, font.renderingScale);
    if (const auto found = values_.find(Key{font.token, glyph}); found != values_.end())
        return GlyphMetricsLookup{found->second, true};

    const platform::FontRef& fitting = font.fittingFont ? font.fittingFont : font.font;
    const GlyphMetrics measured = measure(*font.font, *fitting, font.renderingScale, glyph);
    if (int64_t(values_.size()) >= maxEntries_) {
        discardGeneration(GlyphMetricsDiscardReason::entryLimit);
        font = intern(font.font, font.fittingFont, font.renderingScale);
    }
    values_.emplace(Key{font.token, glyph}, measured);
    return GlyphMetricsLookup{measured, false};
}

void GlyphMetricsCache::discardGeneration(GlyphMetricsDiscardReason reason)
{
    // clear() keeps the buckets, so the next generation fills without rehashing.
    values_.clear();
    tokensByFont_.clear();
    fontsByToken_.clear();
    ++generation_;
    lastDiscardReason_ = reason;
}

GlyphMetrics GlyphMetricsCache::measure(const platform::Font& rasterFont, const platform::Font& fittingFont,
                                        double renderingScale, uint16_t glyph)
{
    GlyphMetrics metrics;
    const platform::GlyphBounds ink = rasterFont.bounds(glyph);
    metrics.inkBounds = platform::Rect{ink.x, ink.y, ink.width, ink.height};
    metrics.horizontalAdvance = renderingScale * fittingFont.advance(glyph);
    metrics.fontSize = rasterFont.pointSize();
    // A colour font drawn for a scaled slot: its bitmaps are measured in the raster font, but the
    // slot in the fitting font, whose ascent may differ from the raster font's by more than the
    // scale.
    if (renderingScale != 1 && rasterFont.isColor()) {
        const double rasterAscent = rasterFont.metrics().ascent;
        const double fittingAscent = fittingFont.metrics().ascent;
        if (rasterAscent > 0 && fittingAscent > 0)
            metrics.fitInkSizeScale = renderingScale / (rasterAscent / fittingAscent);
    }
    return metrics;
}

} // namespace kestrovan
