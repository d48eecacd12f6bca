// What profiling learns about the renderer's keys: its glyph caches key a glyph by the raster font
// alone (the font at its drawing size), while a glyph is asked for as a "full identity", the
// raster font with the font it is fitted in and the rendering scale. Two full identities that
// draw with one raster font (a 12-point font at scale 2 and a 24-point font at scale 1) share
// its cache entries. These tables count how often that happens, and how many glyph keys a cache
// keyed by full identity would have missed. They are filled only while profiling statistics are
// on, are bounded, and change nothing that is drawn.
#pragma once

#include "Kestrovan/Apple/Metal/FontIdentity.h"
#include "Kestrovan/Apple/Metal/GlyphKey.h"
#include "Kestrovan/Apple/Metal/MetalProfileCounters.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

namespace kestrovan {

class MetalProfileIdentities
{
public:
    /// How many full identities, and full glyph keys, are told apart at most.
    static constexpr size_t maximumFullFonts = 4096;
    static constexpr size_t maximumFullGlyphKeys = 65'536;

    /// The token of the full identity (raster font, fitting font, scale), counted up from 1; a new
    /// one whose raster token another full identity already claimed counts an alias. 0 once
    /// `maximumFullFonts` are known and this one is not among them.
    uint32_t fullFontToken(const platform::FontRef& rasterFont, const platform::FontRef& fittingFont,
                           double renderingScale, uint32_t rasterFontToken, MetalProfileCounters& counters);
    /// Records `glyph` of the full identity `fullFontToken`: a new key is a miss of a cache keyed
    /// by full identity, and an alias when another full key claimed its raster glyph key first.
    /// Nothing for the token 0.
    void recordGlyph(uint32_t fullFontToken, uint32_t rasterFontToken, uint16_t glyph,
                     MetalProfileCounters& counters);

    size_t fullFontCount() const { return fullFontTokens_.size(); }
    size_t fullGlyphKeyCount() const { return fullGlyphKeys_.size(); }

private:
    struct FullFontKey
    {
        CoreTextFontIdentity rasterFont;
        CoreTextFontIdentity fittingFont;
        double scale = 1;

        friend bool operator==(const FullFontKey& a, const FullFontKey& b)
        {
            return a.rasterFont == b.rasterFont && a.fittingFont == b.fittingFont && a.scale == b.scale;
        }
    };
    struct FullFontKeyHash
    {
        size_t operator()(const FullFontKey& key) const
        {
            return (key.rasterFont.coreTextHash * 31 + key.fittingFont.coreTextHash) * 31 +
                   scaleHash(key.scale);
        }
    };
    /// A full glyph key: the full identity's token above the glyph.
    static uint64_t fullGlyphKey(uint32_t fullFontToken, uint16_t glyph)
    {
        return uint64_t(fullFontToken) << 16 | glyph;
    }

    std::unordered_map<FullFontKey, uint32_t, FullFontKeyHash> fullFontTokens_;
    /// The full identity that first drew with each raster token.
    std::unordered_map<uint32_t, uint32_t> firstFullFontByRaster_;
    std::unordered_set<uint64_t> fullGlyphKeys_;
    /// The full glyph key that first drew each raster glyph key.
    std::unordered_map<GlyphKey, uint64_t> firstFullGlyphByRaster_;
    uint32_t nextFullFontToken_ = 1;
};

} // namespace kestrovan
