// Where the GPU renderer's glyphs come from: a (font, glyph) pair, or a custom-drawn cell, turned
// into a bitmap packed in one of the two atlases, with the metrics that fit it into its cell slot.
//
// The store owns the glyph caches (packed entries and known-empty glyphs, raster-font tokens,
// glyph metrics, fonts scaled for drawing, custom-drawn cells) and the rasterizer, and shares the
// renderer's two atlases. A glyph is rasterized and packed once; after that a lookup costs a hash.
// When an atlas grows or resets while a frame is built, texture coordinates already worked out are
// stale: the store drops what pointed into a reset atlas and raises `atlasInvalidatedDuringBuild`,
// and the frame build starts over. One thread at a time (the frame builder's), with the device's
// context current.
#pragma once

#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/Apple/Metal/CoreTextGlyphRasterizer.h"
#include "Kestrovan/Apple/Metal/FontIdentity.h"
#include "Kestrovan/Apple/Metal/GlyphAtlas.h"
#include "Kestrovan/Apple/Metal/GlyphBitmapResultCache.h"
#include "Kestrovan/Apple/Metal/GlyphMetricsCache.h"
#include "Kestrovan/Apple/Metal/MetalProfileCounters.h"
#include "Kestrovan/Apple/Metal/MetalProfileIdentities.h"
#include "Kestrovan/Apple/Metal/RasterFontRegistry.h"
#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"
#include "Platform/Graphics/Bitmap.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>

namespace kestrovan {

/// A glyph found drawable, with its metrics when this lookup rasterized it.
struct ResolvedGlyph
{
    GlyphEntry entry;
    std::optional<GlyphMetrics> metrics;
};

/// A custom-drawn cell: its code point and pixel size (all its cells), line thickness, integer
/// scale and antialiasing.
struct CustomGlyphKey
{
    uint32_t codePoint = 0;
    int cellWidthPx = 0;
    int cellHeightPx = 0;
    int baseThicknessPx = 0;
    int scale = 1;
    bool antiAlias = false;

    friend bool operator==(const CustomGlyphKey&, const CustomGlyphKey&) = default;
};

struct CustomGlyphKeyHash
{
    size_t operator()(const CustomGlyphKey& key) const;
};

/// A custom-drawn cell in the grey atlas, with its bitmap size in pixels.
struct CustomGlyphEntry
{
    AtlasRegion region;
    platform::Size size;
};

class MetalGlyphStore
{
public:
    /// A store packing into `grayscaleAtlas` and `colorAtlas`; counts into `counters` when it is
    /// given (profiling statistics on).
    MetalGlyphStore(std::shared_ptr<GlyphAtlas> grayscaleAtlas, std::shared_ptr<GlyphAtlas> colorAtlas);

    /// Where glyph work is counted this frame build; null counts nothing.
    void setProfileCounters(MetalProfileCounters* counters) { counters_ = counters; }

    /// `font` at its size times `scale`, cached by font object and scale.
    platform::FontRef scaledFontFor(const platform::FontRef& font, double scale);
    /// The raster font's token; a full registry empties everything keyed by tokens and starts over.
    uint32_t rasterFontToken(const platform::FontRef& rasterFont);

    /// The profiling token of the full identity a glyph run draws with (its raster font, the font
    /// it is fitted in and the scale); 0 while nothing is counted.
    uint32_t profileFullFontToken(const platform::FontRef& rasterFont, const platform::FontRef& fittingFont,
                                  double renderingScale, uint32_t rasterFontToken);
    /// Records for profiling that `glyph` of the full identity `fullFontToken` is asked for.
    void recordProfileGlyphIdentityAlias(uint32_t fullFontToken, uint32_t rasterFontToken, uint16_t glyph);

    /// The packed entry of `glyph` of the raster font `font` (token `rasterFontToken`), fitted in
    /// `fittingFont` at `renderingScale`: from the cache, else measured (through `metricsFont`, the
    /// caller's slot for the run), rasterized and packed. None for a glyph without ink (remembered),
    /// a failed rasterization (tried again later) or no room in a frozen atlas.
    std::optional<ResolvedGlyph> glyphEntry(uint32_t rasterFontToken, const platform::FontRef& font,
                                            const platform::FontRef& fittingFont, double renderingScale,
                                            std::optional<GlyphMetricsFont>& metricsFont, uint16_t glyph);

    /// How the glyph is moved (points) and scaled to sit in its slot: wide cells, policies and
    /// fallback glyphs fitted, everything else left alone. `baselineFromBottom` is in points and
    /// `iconHeight` in pixels.
    GlyphSlotFit glyphSlotFit(const ResolvedGlyph& resolved, uint16_t glyph, int columnWidth,
                              platform::Size cellDimension, double baselineFromBottom,
                              const platform::FontRef& font, const platform::FontRef& fittingFont,
                              double renderingScale, std::optional<GlyphMetricsFont>& metricsFont,
                              const std::optional<TerminalGlyphPlacementPolicy>& policy, double iconHeight,
                              bool fitsFallbackToCell);

    /// The fit of a glyph of `metrics` (pixels of the raster font, advance included) as
    /// `glyphSlotFit` works it out; pure arithmetic.
    static GlyphSlotFit glyphSlotFit(const GlyphMetrics& metrics, int columnWidth,
                                     platform::Size cellDimension, double baselineFromBottom,
                                     double renderingScale,
                                     const std::optional<TerminalGlyphPlacementPolicy>& policy,
                                     double iconHeight, bool fitsFallbackToCell);

    /// The custom-drawn cell of `codePoint` (box drawing, block element or Powerline) of
    /// `cellWidthPx` x `cellHeightPx` pixels, drawn once and packed in the grey atlas; none for
    /// other code points, an empty size or no room.
    std::optional<CustomGlyphEntry> customGlyphEntry(uint32_t codePoint, int cellWidthPx, int cellHeightPx,
                                                     double scale, int baseThicknessPx, bool antiAlias);
    /// Draws the shape of `codePoint` in white into `bitmap` (its whole size is the cell slot) at
    /// `scale`; false for a code point no custom drawing covers.
    static bool renderCustomGlyphBitmap(uint32_t codePoint, platform::Bitmap& bitmap, double scale,
                                        int baseThicknessPx, bool antiAlias);

    /// Reacts to an atlas that may have grown or reset in the call just made.
    void handleAtlasChange(GlyphAtlas& atlas, int64_t previousSize);
    /// Forgets everything keyed by raster fonts: packed entries, known-empty glyphs, tokens and
    /// scaled fonts (a new glyph-fallback provider may map characters to other fonts).
    void clearFontCaches();

    /// An atlas grew or reset since this was last cleared.
    bool atlasInvalidatedDuringBuild = false;

    GlyphAtlas& grayscaleAtlas() { return *grayscaleAtlas_; }
    GlyphAtlas& colorAtlas() { return *colorAtlas_; }
    GlyphAtlas& atlas(GlyphAtlasKind kind)
    {
        return kind == GlyphAtlasKind::color ? *colorAtlas_ : *grayscaleAtlas_;
    }
    CoreTextGlyphRasterizer& rasterizer() { return rasterizer_; }
    const GlyphBitmapResultCache& glyphBitmapResultCache() const { return glyphBitmapResultCache_; }
    const GlyphMetricsCache& glyphMetricsCache() const { return glyphMetricsCache_; }
    size_t customGlyphCount() const { return customGlyphCache_.size(); }
    size_t scaledFontCount() const { return scaledFontCache_.size(); }
    const MetalProfileIdentities& profileIdentities() const { return profileIdentities_; }

private:
    void cachePermanentEmpty(const GlyphKey& key);
    void handleMetricsGenerationChange();
    template <typename F> void count(F&& change)
    {
        if (counters_)
            change(*counters_);
    }

    std::shared_ptr<GlyphAtlas> grayscaleAtlas_;
    std::shared_ptr<GlyphAtlas> colorAtlas_;
    CoreTextGlyphRasterizer rasterizer_;
    GlyphBitmapResultCache glyphBitmapResultCache_;
    RasterFontRegistry rasterFontRegistry_;
    GlyphMetricsCache glyphMetricsCache_;
    uint64_t metricsCacheGeneration_ = 1;
    std::unordered_map<ScaledFontKey, platform::FontRef> scaledFontCache_;
    std::unordered_map<CustomGlyphKey, CustomGlyphEntry, CustomGlyphKeyHash> customGlyphCache_;
    MetalProfileCounters* counters_ = nullptr;
    MetalProfileIdentities profileIdentities_;
};

} // namespace kestrovan
