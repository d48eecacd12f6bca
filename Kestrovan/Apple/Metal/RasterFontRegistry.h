// Small integer tokens for the fonts glyphs are rasterized in, so that glyph keys hash two
// integers instead of a font.
//
// Fonts are compared by value (the same face at the same size is one font). The registry holds at
// most `maxFonts` and then refuses rather than evicting: the renderer answers a refusal by
// emptying everything keyed by tokens and this registry together. Tokens start at 1, 0 is never
// one, and the counter is never reset, so no token is issued twice and a stale glyph key can
// never meet a new font. One thread at a time (the frame builder's).
#pragma once

#include "Kestrovan/Apple/Metal/FontIdentity.h"

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace kestrovan {

class RasterFontRegistry
{
public:
    static constexpr size_t defaultMaxFonts = 4096;

    explicit RasterFontRegistry(size_t maxFonts = defaultMaxFonts);

    /// The font's token, registering it when new; absent when the registry is full.
    std::optional<uint32_t> intern(const platform::FontRef& font);

    /// Forgets every font; tokens already issued are not issued again.
    void removeAll();

    size_t count() const { return tokensByFont_.size(); }
    size_t maxFonts() const { return maxFonts_; }

private:
    size_t maxFonts_;
    std::unordered_map<CoreTextFontIdentity, uint32_t> tokensByFont_;
    uint32_t nextToken_ = 1;
};

} // namespace kestrovan
