// What the renderer knows about a glyph it has packed: the key (a raster font's token and a glyph)
// and the entry (where in which atlas its bitmap lies, and how it sits on the baseline).
#pragma once

#include "Kestrovan/Apple/Metal/AtlasRegion.h"
#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <functional>

namespace kestrovan {

/// A glyph of a raster font, the font reduced to its registry token.
struct GlyphKey
{
    uint32_t rasterFontToken = 0;
    uint16_t glyph = 0;

    friend bool operator==(const GlyphKey&, const GlyphKey&) = default;
};

/// The atlas a glyph is packed in.
enum class GlyphAtlasKind
{
    grayscale,
    color,
};

/// A packed glyph: its atlas region, bitmap size in pixels, bearing (the bitmap origin relative to
/// the glyph origin, pixels) and kind.
struct GlyphEntry
{
    AtlasRegion region;
    platform::Size size;
    platform::Point bearing;
    bool isColor = false;
    GlyphAtlasKind atlasKind = GlyphAtlasKind::grayscale;

    friend bool operator==(const GlyphEntry&, const GlyphEntry&) = default;
};

/// The hash of a font token and a glyph, for the keys made of the two.
inline size_t tokenAndGlyphHash(uint32_t token, uint16_t glyph)
{
    return std::hash<uint64_t>()(uint64_t(token) << 16 | glyph);
}

} // namespace kestrovan

template <> struct std::hash<kestrovan::GlyphKey>
{
    size_t operator()(const kestrovan::GlyphKey& key) const
    {
        return kestrovan::tokenAndGlyphHash(key.rasterFontToken, key.glyph);
    }
};
