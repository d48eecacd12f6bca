// The renderer's answers for glyphs it has rasterized: the packed entries of drawable glyphs, and
// the glyphs known to be permanently empty. A lookup answers one of the two, or a miss.
// One thread at a time (the frame builder's).
#pragma once

#include "Kestrovan/Apple/Metal/GlyphKey.h"
#include "Kestrovan/Apple/Metal/PermanentEmptyGlyphCache.h"

#include <unordered_map>

namespace kestrovan {

/// The three answers of a lookup.
struct GlyphBitmapCacheLookup
{
    enum class Kind
    {
        /// Packed in an atlas, at `entry`.
        drawable,
        /// Known to have nothing to draw.
        permanentlyEmpty,
        /// Not known yet.
        miss,
    };

    Kind kind = Kind::miss;
    GlyphEntry entry;
};

class GlyphBitmapResultCache
{
public:
    GlyphBitmapCacheLookup lookup(const GlyphKey& key) const;

    /// Entries of glyphs packed in an atlas.
    std::unordered_map<GlyphKey, GlyphEntry> drawables;
    /// Glyphs with nothing to draw.
    PermanentEmptyGlyphCache permanentEmpty;
};

} // namespace kestrovan
