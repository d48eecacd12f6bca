// The metrics of glyphs (ink box, advance, size, colour-glyph fit) by font token and glyph, so that
// steady frames never ask the font again.
//
// Fonts are interned as (raster font, fitting font, rendering scale) into 32-bit tokens. The cache
// is bounded twice, by entries and by fonts, and when either bound is reached it discards a whole
// generation: every value and every token goes, and `generation` moves on. Callers keep a
// `GlyphMetricsFont` that remembers the generation its token was issued in; on its next lookup
// the font is interned again transparently. Clearing whole keeps each lookup constant time, at the
// price of a burst of re-measuring after a discard. One thread at a time (the frame builder's).
#pragma once

#include "Kestrovan/Apple/Metal/FontIdentity.h"
#include "Kestrovan/Apple/Metal/GlyphKey.h"
#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace kestrovan {

struct GlyphMetrics
{
    /// The ink rectangle in the raster font, y-up from the glyph origin.
    platform::Rect inkBounds;
    /// The advance in the fitting font, times the rendering scale.
    double horizontalAdvance = 0;
    /// The raster font's point size.
    double fontSize = 0;
    /// How much a colour glyph's ink must grow to fill its slot as the fitting font measures it;
    /// 1 for everything else.
    double fitInkSizeScale = 1;

    friend bool operator==(const GlyphMetrics&, const GlyphMetrics&) = default;
};

/// Why a generation was discarded.
enum class GlyphMetricsDiscardReason
{
    entryLimit,
    fontLimit,
};

/// An interned font as a caller holds it; `generation` is the cache generation of `token`.
struct GlyphMetricsFont
{
    uint32_t token = 0;
    platform::FontRef font;
    platform::FontRef fittingFont;
    double renderingScale = 1;
    uint64_t generation = 0;
};

/// Metrics and whether they came from the cache.
struct GlyphMetricsLookup
{
    GlyphMetrics metrics;
    bool fromCache = false;
};

class GlyphMetricsCache
{
public:
    /// Bounds of the renderer's cache.
    static constexpr int64_t rendererMaxEntries = 65'536;
    static constexpr int64_t rendererMaxFonts = 1'024;

    /// Both bounds must be at least 1.
    GlyphMetricsCache(int64_t maxEntries, int64_t maxFonts);

    /// The token of (font, fitting font, scale) in the current generation, registering it when new;
    /// a missing fitting font is `font` itself. Registering past `maxFonts` discards the generation.
    GlyphMetricsFont intern(const platform::FontRef& font, const platform::FontRef& fittingFont,
                            double renderingScale);

    /// The metrics of `glyph` in `font`, re-interning `font` (token and generation written back)
    /// when it is of an older generation or when storing the metrics discards the generation.
    GlyphMetricsLookup metrics(GlyphMetricsFont& font, uint16_t glyph);

    /// Empties the values and the fonts and starts a new generation.
    void discardGeneration(GlyphMetricsDiscardReason reason);

    /// The metrics the fonts give, without the cache.
    static GlyphMetrics measure(const platform::Font& rasterFont, const platform::Font& fittingFont,
                                double renderingScale, uint16_t glyph);

    uint64_t generation() const { return generation_; }
    std::optional<GlyphMetricsDiscardReason> lastDiscardReason() const { return lastDiscardReason_; }
    int64_t fontRegistryHighWater() const { return fontRegistryHighWater_; }
    size_t entryCount() const { return values_.size(); }
    size_t fontCount() const { return fontsByToken_.size(); }

private:
    struct Key
    {
        uint32_t fontToken = 0;
        uint16_t glyph = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& key) const { return tokenAndGlyphHash(key.fontToken, key.glyph); }
    };
    struct MetricsFontIdentity
    {
        CoreTextFontIdentity rasterFont;
        CoreTextFontIdentity fittingFont;
        double renderingScale = 1;
        friend bool operator==(const MetricsFontIdentity&, const MetricsFontIdentity&) = default;
    };
    struct MetricsFontIdentityHash
    {
        size_t operator()(const MetricsFontIdentity& key) const
        {
            return (key.rasterFont.coreTextHash * 31 + key.fittingFont.coreTextHash) * 31 +
                   scaleHash(key.renderingScale);
        }
    };
    struct RegisteredMetricsFont
    {
        platform::FontRef font;
        platform::FontRef fittingFont;
        double renderingScale = 1;
    };

    int64_t maxEntries_;
    int64_t maxFonts_;
    std::unordered_map<Key, GlyphMetrics, KeyHash> values_;
    std::unordered_map<MetricsFontIdentity, uint32_t, MetricsFontIdentityHash> tokensByFont_;
    std::unordered_map<uint32_t, RegisteredMetricsFont> fontsByToken_;
    uint32_t nextToken_ = 1;
    uint64_t generation_ = 1;
    int64_t fontRegistryHighWater_ = 0;
    std::optional<GlyphMetricsDiscardReason> lastDiscardReason_;
};

} // namespace kestrovan
