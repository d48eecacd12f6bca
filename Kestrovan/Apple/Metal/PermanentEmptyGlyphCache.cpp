// PermanentEmptyGlyphCache: a bounded set cleared whole when full.
#include "Kestrovan/Apple/Metal/PermanentEmptyGlyphCache.h"

#include <algorithm>

namespace kestrovan {

PermanentEmptyGlyphCache::PermanentEmptyGlyphCache(size_t maxEntries) : maxEntries_(maxEntries)
{
    values_.reserve(std::min<size_t>(maxEntries, 1024));
}

void PermanentEmptyGlyphCache::insert(const GlyphKey& key)
{
    if (!values_.contains(key) && values_.size() >= maxEntries_) {
        values_.clear();
        ++evictionCount_;
    }
    values_.insert(key);
    highWaterCount_ = std::max(highWaterCount_, int64_t(values_.size()));
}

void PermanentEmptyGlyphCache::removeAll()
{
    if (!values_.empty())
        values_.clear();
    ++evictionCount_;
}

} // namespace kestrovan
