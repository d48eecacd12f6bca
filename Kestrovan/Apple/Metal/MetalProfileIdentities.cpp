// MetalProfileIdentities: full identities and full glyph keys against the raster keys the caches use.
#include "Kestrovan/Apple/Metal/MetalProfileIdentities.h"

namespace kestrovan {

uint32_t MetalProfileIdentities::fullFontToken(const platform::FontRef& rasterFont,
                                               const platform::FontRef& fittingFont, double renderingScale,
                                               uint32_t rasterFontToken, MetalProfileCounters& counters)
{
    FullFontKey key{CoreTextFontIdentity(rasterFont), CoreTextFontIdentity(fittingFont), renderingScale};
    if (const auto found = fullFontTokens_.find(key); found != fullFontTokens_.end())
        return found->second;
    if (fullFontTokens_.size() >= maximumFullFonts)
        return 0;
    const uint32_t token = nextFullFontToken_++;
    fullFontTokens_.emplace(std::move(key), token);
    if (!firstFullFontByRaster_.emplace(rasterFontToken, token).second)
        ++counters.fullIdentityTokensAliasingRasterIdentity;
    return token;
}

void MetalProfileIdentities::recordGlyph(uint32_t fullFontToken, uint32_t rasterFontToken, uint16_t glyph,
                                         MetalProfileCounters& counters)
{
    if (fullFontToken == 0 || fullGlyphKeys_.size() >= maximumFullGlyphKeys)
        return;
    const uint64_t key = fullGlyphKey(fullFontToken, glyph);
    if (!fullGlyphKeys_.insert(key).second)
        return;
    ++counters.fullGlyphCacheMisses;
    if (!firstFullGlyphByRaster_.emplace(GlyphKey{rasterFontToken, glyph}, key).second)
        ++counters.fullCacheKeysAliasingRasterGlyphKey;
}

} // namespace kestrovan
