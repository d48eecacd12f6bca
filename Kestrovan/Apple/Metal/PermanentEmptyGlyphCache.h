// The glyphs known to have no ink (spaces, and glyphs too large for any atlas), so that they are
// rasterized at most once.
//
// Bounded at `maxEntries` keys: inserting a new key into a full set clears the set first (whole,
// never one entry at a time) and counts an eviction. One thread at a time (the frame builder's).
#pragma once

#include "Kestrovan/Apple/Metal/GlyphKey.h"

#include <cstdint>
#include <unordered_set>

namespace kestrovan {

class PermanentEmptyGlyphCache
{
public:
    static constexpr size_t defaultMaxEntries = 4096;

    explicit PermanentEmptyGlyphCache(size_t maxEntries = defaultMaxEntries);

    /// Records a glyph with no ink, clearing the set first when it is full and `key` is new.
    void insert(const GlyphKey& key);
    /// Clears the set when it holds anything, and counts an eviction either way.
    void removeAll();

    bool contains(const GlyphKey& key) const { return values_.contains(key); }
    size_t count() const { return values_.size(); }
    /// How many times the set was cleared.
    int64_t evictionCount() const { return evictionCount_; }
    /// The most keys the set has held.
    int64_t highWaterCount() const { return highWaterCount_; }

private:
    size_t maxEntries_;
    std::unordered_set<GlyphKey> values_;
    int64_t evictionCount_ = 0;
    int64_t highWaterCount_ = 0;
};

} // namespace kestrovan
