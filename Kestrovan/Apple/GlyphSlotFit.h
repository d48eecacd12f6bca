// How one glyph is moved and scaled to sit in the cells it owns: wide characters centred in their
// two cells, oversized glyphs from fallback fonts shrunk to their cell, and glyphs that carry a
// placement policy (icons, covering or stretched symbols, grouped glyphs) fitted by that policy.
//
// `GlyphSlotFitter` holds what the fits read of the view (its four fonts and its cell size) and
// is otherwise pure arithmetic on a glyph's advance and ink bounds, so the row drawing and the
// caret get the same answer for the same glyph. No scale below 0.1 is ever applied: a glyph that
// would need less is drawn at a tenth of its size rather than vanishing.
#pragma once

#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Text/Font.h"
#include "Platform/Text/FontSet.h"

#include <optional>
#include <span>

namespace kestrovan {

/// The shift (points, added to the glyph's drawing position) and scale (about that position)
/// that fit a glyph into its slot.
struct GlyphSlotFit
{
    double dx = 0;
    double dy = 0;
    double scaleX = 1;
    double scaleY = 1;

    /// No shift, no scale.
    static constexpr GlyphSlotFit identity() { return GlyphSlotFit{}; }

    bool isUnscaled() const { return scaleX == 1 && scaleY == 1; }

    friend bool operator==(const GlyphSlotFit&, const GlyphSlotFit&) = default;
};

/// What a fit reads of a glyph, in points: how far it advances the pen and its ink rectangle
/// (y-up from the glyph origin).
struct GlyphFitMeasure
{
    double advance = 0;
    platform::GlyphBounds ink;
};

/// The slot a glyph is fitted into, in points: one cell, the baseline's height above the cell's
/// bottom edge, and the tallest a one-cell icon may stand (0 or less: the padded cell decides).
struct GlyphSlot
{
    platform::Size cell;
    double baselineOffset = 0;
    double iconHeight = 0;
};

class GlyphSlotFitter
{
public:
    /// The smallest scale a fit ever applies.
    static constexpr double minimumScale = 0.1;

    /// Fits against the view's fonts and its cell size in points, absent until it is measured.
    GlyphSlotFitter(platform::FontSet fonts, std::optional<platform::Size> cellDimension);

    /// The baseline's height above a row's bottom edge for a cell `cellHeight` tall: the font's
    /// descent and leading rounded up, plus half the height the font leaves spare (rounded down).
    static double baselineOffset(const platform::FontMetrics& metrics, double cellHeight);

    /// The baseline offset of this view's rows; 0 while the cell size is unknown.
    double baselineOffset() const;

    /// A glyph of `font` in a slot `columnWidth` cells wide without a policy. One cell, or an
    /// unknown cell size: identity. A glyph whose ink fits is centred by its advance, unscaled; a
    /// larger one is shrunk uniformly to fit (never below 0.1) with its ink centred vertically.
    GlyphSlotFit glyphSlotFit(const platform::Font& font, platform::GlyphId glyph, int columnWidth) const;

    /// The same glyph placed by `policy` inside the padded cells: `cover` fills the area and may
    /// grow; `stretch` fills it in each direction apart; `icon`, `explicitWidth` and `grouped`
    /// fit inside it and never grow (a one-cell icon also no taller than the font's ascent).
    GlyphSlotFit glyphSlotFit(const platform::Font& font, platform::GlyphId glyph, int columnWidth,
                              const TerminalGlyphPlacementPolicy& policy) const;

    /// A single-cell glyph drawn from a font that is none of the view's: shrunk uniformly when
    /// its advance is wider than the cell, otherwise left alone.
    GlyphSlotFit fallbackGlyphFit(const platform::Font& font, platform::GlyphId glyph) const;

    /// The arithmetic of the fits above on a glyph's measures, shared with the GPU renderer, which
    /// measures its glyphs in its own caches: a wide glyph without a policy, a glyph placed by a
    /// policy, and a single-cell fallback glyph of `advance` in a cell `cellWidth` wide. The slot's
    /// cell must be usable (both sides positive and finite).
    static GlyphSlotFit wideGlyphFit(const GlyphFitMeasure& glyph, int columnWidth, const GlyphSlot& slot);
    static GlyphSlotFit policyGlyphFit(const GlyphFitMeasure& glyph, int columnWidth,
                                       const TerminalGlyphPlacementPolicy& policy, const GlyphSlot& slot);
    static GlyphSlotFit fallbackGlyphFit(double advance, double cellWidth);

    /// True when `font` is the same face and size as one of the view's four fonts.
    bool isPrimaryFont(const platform::Font& font) const;

    const std::optional<platform::Size>& cellDimension() const { return cellDimension_; }
    const platform::FontSet& fonts() const { return fonts_; }

private:
    /// The view's slot; the cell size must be known.
    GlyphSlot slot() const;

    platform::FontSet fonts_;
    std::optional<platform::Size> cellDimension_;
};

/// Draws `glyphs` of `font` at `origins` (already shifted by their fits and snapped) with the
/// scales of `fits` (one per glyph; an empty span means all unscaled): one drawing call when no
/// glyph is scaled; otherwise glyph by glyph, a uniform scale drawing the font at a scaled size
/// and an uneven one under a scaling transform about the glyph's origin.
void drawFittedGlyphs(platform::Canvas& canvas, const platform::Font& font,
                      std::span<const platform::GlyphId> glyphs, std::span<const platform::Point> origins,
                      std::span<const GlyphSlotFit> fits);

} // namespace kestrovan
