// The decision of when a fallback provider's font replaces the style font for a character.
//
// Stateless: the row builders call it (with caches of their own in front) for every text run, and
// the snapshot refresh for the character under the caret. A character gets a fallback glyph only
// when it is one scalar (optionally with a variation selector), the provider has a placement for
// that scalar, the style font lacks a glyph for it, and the provider gives a font.
#pragma once

#include "Kestrovan/Apple/TerminalGlyphFallbackProvider.h"
#include "Kestrovan/Character.h"

#include <optional>

namespace kestrovan {

/// The font that draws a character instead of the style font, and how its glyph sits.
struct GlyphFallbackSelection
{
    GlyphFallbackFontRef font;
    TerminalGlyphPlacementPolicy policy;
};

struct GlyphFallbackResolver
{
    /// The scalar a character stands for: its only scalar, or its first when the second and last
    /// is a variation selector; absent for anything else (an emoji sequence never falls back).
    static std::optional<char32_t> baseScalar(const Character& character);

    /// Whether the font has a glyph for the scalar; false for a value that is not a scalar.
    static bool fontHasGlyph(const GlyphFallbackFont& font, char32_t scalar);

    /// The fallback for `character` in `styleFont`: asks `provider` (none: no fallback) for a
    /// placement first, then tests the style font, then asks for the provider's font at the
    /// normal font's size, whatever the cell's style.
    static std::optional<GlyphFallbackSelection> selection(const Character& character,
                                                           const GlyphFallbackFont& styleFont,
                                                           const TerminalGlyphFallbackProvider* provider,
                                                           double normalFontPointSize);

    /// Whether the scalar is a variation selector (U+FE00-FE0F, U+180B-180D, U+180F,
    /// U+E0100-E01EF); U+180E is not one.
    static bool isVariationSelector(char32_t scalar);
};

} // namespace kestrovan
