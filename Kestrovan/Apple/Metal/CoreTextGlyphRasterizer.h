// Draws one glyph of one font into a small premultiplied bitmap for a glyph atlas, and tells colour
// glyphs (emoji) from plain coverage glyphs.
//
// The glyph is drawn white through the drawing layer's canvas, with the same cairo face, font
// options and grey antialiasing as the CPU path's glyph drawing, so that both paths show the same
// coverage; colour glyphs come out of the colour font's own bitmaps. The bitmap is exactly the
// glyph's ink box rounded out to whole pixels.
//
// The ink box comes from the font (a fallback font may be damaged or crafted, and sizes may be
// extreme), so it is bounded before any memory is taken: a box that is not finite, lies beyond
// 32-bit pixel coordinates, or is wider or taller than the largest glyph an atlas can hold (its
// maximum side less the two gutter texels) is answered `empty`, which the caller remembers as
// permanently empty. The bitmap then never exceeds (atlas maximum - 2)^2 x 4 bytes.
#pragma once

#include "Kestrovan/Apple/Metal/GlyphBitmap.h"
#include "Kestrovan/Apple/Metal/GlyphMetricsCache.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Text/Font.h"

#include <cstdint>
#include <optional>

namespace kestrovan {

/// What rasterizing a glyph gave.
struct GlyphRasterizationResult
{
    enum class Kind
    {
        /// A drawn glyph, in `bitmap`.
        bitmap,
        /// No ink to draw (a space), or ink no atlas could hold: remembered as permanently empty.
        empty,
        /// The drawing context could not be made; not remembered, tried again on a later frame.
        transientFailure,
    };

    Kind kind = Kind::empty;
    GlyphBitmap bitmap;
    /// The glyph was drawn (a colour glyph too large for its atlas is drawn, then found empty).
    bool drewGlyph = false;

    static GlyphRasterizationResult empty(bool drewGlyph = false) { return {Kind::empty, {}, drewGlyph}; }
    static GlyphRasterizationResult transientFailure() { return {Kind::transientFailure, {}, false}; }
};

/// The ink rectangle rounded out to whole pixels: `x0`, `y0` the bottom-left pixel relative to
/// the glyph origin, `width` and `height` at least 1.
struct GlyphPixelBox
{
    int64_t x0 = 0;
    int64_t y0 = 0;
    int64_t width = 0;
    int64_t height = 0;

    friend bool operator==(const GlyphPixelBox&, const GlyphPixelBox&) = default;
};

class CoreTextGlyphRasterizer
{
public:
    /// The atlases' largest sides when `KESTROVAN_ATLAS_MAX` is not set.
    static constexpr int64_t defaultGrayscaleAtlasMaxSize = 8192;
    static constexpr int64_t defaultColorAtlasMaxSize = 4096;

    /// A rasterizer for atlases that grow to at most these sides (the renderer passes its
    /// atlases' `maxSize`).
    explicit CoreTextGlyphRasterizer(int64_t grayscaleAtlasMaxSize = defaultGrayscaleAtlasMaxSize,
                                     int64_t colorAtlasMaxSize = defaultColorAtlasMaxSize);

    /// The frame's font-smoothing setting. Linux has no such rendering switch: it is kept for the
    /// renderer to read back and does not change what is drawn.
    bool fontSmoothing = true;

    /// Draws `glyph` of `font` (the font at the size and scale it is drawn at, so points are
    /// device pixels). Of `metrics` only the ink rectangle is used: y-up from the glyph origin,
    /// in `font`'s points.
    GlyphRasterizationResult rasterize(const platform::Font& font, uint16_t glyph,
                                       const GlyphMetrics& metrics) const;

    /// The pixel box of an ink rectangle; absent when it is empty, not finite, beyond 32-bit pixel
    /// coordinates, or has a side above `maximumSide`.
    static std::optional<GlyphPixelBox> pixelBox(const platform::Rect& inkBounds, int64_t maximumSide);

    /// The largest glyph side the grey and the colour atlas can take.
    int64_t grayscaleMaximumGlyphSide() const { return grayscaleMaximumGlyphSide_; }
    int64_t colorMaximumGlyphSide() const { return colorMaximumGlyphSide_; }

private:
    int64_t grayscaleMaximumGlyphSide_;
    int64_t colorMaximumGlyphSide_;
};

} // namespace kestrovan
