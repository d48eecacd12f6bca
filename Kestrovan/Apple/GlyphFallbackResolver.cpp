#include "Kestrovan/Apple/GlyphFallbackResolver.h"

#include "Kestrovan/Utf8.h"

namespace kestrovan {

bool GlyphFallbackResolver::isVariationSelector(char32_t scalar)
{
    return (scalar >= 0xFE00 && scalar <= 0xFE0F) || (scalar >= 0x180B && scalar <= 0x180D) ||
           scalar == 0x180F || (scalar >= 0xE0100 && scalar <= 0xE01EF);
}

std::optional<char32_t> GlyphFallbackResolver::baseScalar(const Character& character)
{
    const std::u32string& scalars = character.scalars;
    if (scalars.size() == 1)
        return scalars[0];
    if (scalars.size() == 2 && isVariationSelector(scalars[1]))
        return scalars[0];
    return std::nullopt;
}

bool GlyphFallbackResolver::fontHasGlyph(const GlyphFallbackFont& font, char32_t scalar)
{
    // Fonts are asked by scalar (a character outside the Basic Multilingual Plane as itself, not
    // as two surrogates); a value that is no scalar has no glyph anywhere.
    return isValidScalar(scalar) && font.hasGlyph(scalar);
}

std::optional<GlyphFallbackSelection>
GlyphFallbackResolver::selection(const Character& character, const GlyphFallbackFont& styleFont,
                                 const TerminalGlyphFallbackProvider* provider, double normalFontPointSize)
{
    if (!provider)
        return std::nullopt;
    const std::optional<char32_t> base = baseScalar(character);
    if (!base)
        return std::nullopt;
    // The provider is asked before the font is tested: most characters it does not handle, and
    // its answer is cheaper than a glyph lookup.
    std::optional<TerminalGlyphPlacementPolicy> policy = provider->placementPolicy(*base);
    if (!policy)
        return std::nullopt;
    if (fontHasGlyph(styleFont, *base))
        return std::nullopt;
    GlyphFallbackFontRef font = provider->fallbackFont(normalFontPointSize);
    if (!font)
        return std::nullopt;
    return GlyphFallbackSelection{std::move(font), *policy};
}

} // namespace kestrovan
