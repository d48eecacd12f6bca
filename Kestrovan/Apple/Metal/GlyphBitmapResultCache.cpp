// GlyphBitmapResultCache: drawable entries first, then the known-empty set.
#include "Kestrovan/Apple/Metal/GlyphBitmapResultCache.h"

namespace kestrovan {

GlyphBitmapCacheLookup GlyphBitmapResultCache::lookup(const GlyphKey& key) const
{
    if (const auto found = drawables.find(key); found != drawables.end())
        return GlyphBitmapCacheLookup{GlyphBitmapCacheLookup::Kind::drawable, found->second};
    if (permanentEmpty.contains(key))
        return GlyphBitmapCacheLookup{GlyphBitmapCacheLookup::Kind::permanentlyEmpty, {}};
    return GlyphBitmapCacheLookup{};
}

} // namespace kestrovan
