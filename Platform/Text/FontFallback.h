// The fallback cascade: which font draws a character that the requested font lacks.
//
// For one user-perceived character (a grapheme cluster: a base with its marks, an emoji
// sequence) `fontFor` answers the requested font when it has every character, and otherwise the
// first face of fontconfig's sorted list for the font's family that has them all, at the
// requested size. A cluster that asks for emoji presentation (U+FE0F, or an emoji that is shown
// as emoji by default) is given a colour face even when the requested font has a plain glyph;
// U+FE0E asks for a plain one. Answers are cached by (font id, cluster); like every bounded
// cache here, the cache is emptied whole when it reaches its capacity. One lock guards the
// caches and is never held across fontconfig or font loading, so a slow miss on one thread does
// not hold up hits on another.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Text/Font.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

class FontFallback
{
public:
    /// Answers cached at most; reaching it empties the cache.
    static constexpr size_t capacity = 1024;

    /// The process's cascade, shared by every caller that does not bring its own.
    static FontFallback& shared();

    FontFallback() = default;
    FontFallback(const FontFallback&) = delete;
    FontFallback& operator=(const FontFallback&) = delete;

    /// The font that draws `cluster` (UTF-16) for text set in `base`: `base` when it has the
    /// cluster's characters (in colour when the cluster asks for colour), else the first fallback
    /// face that has them all, else `base` (which then draws its missing-glyph box).
    FontRef fontFor(const FontRef& base, std::u16string_view cluster) EXCLUDES(mutex_);

    /// True when `scalars` ask to be drawn as colour emoji: U+FE0F, an emoji modifier, or a
    /// character shown as emoji by default, and no U+FE0E.
    static bool prefersColor(std::u32string_view scalars);

    /// True when `font` has a glyph for every scalar of `scalars` that needs one: format
    /// characters a shaper removes (joiners, variation selectors, tags) need none.
    static bool covers(const Font& font, std::u32string_view scalars);

    /// How often `fontFor` found its answer cached and how often it had to search.
    struct Statistics
    {
        uint64_t hits = 0;
        uint64_t misses = 0;
        size_t entries = 0;
    };
    Statistics statistics() const EXCLUDES(mutex_);

    /// Forgets every cached answer, font and fallback list.
    void removeAll() EXCLUDES(mutex_);

private:
    struct Key
    {
        uint64_t fontId;
        std::u16string cluster;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& key) const;
    };

    FontRef search(const FontRef& base, std::u32string_view scalars, bool color) EXCLUDES(mutex_);
    std::shared_ptr<const FallbackList> list(const Font& base, bool color) EXCLUDES(mutex_);
    FontRef fontAt(const FaceLocation& location, double pointSize) EXCLUDES(mutex_);

    mutable Mutex mutex_;
    std::unordered_map<Key, FontRef, KeyHash> answers_ GUARDED_BY(mutex_);
    // Fallback fonts by file, index and size, so that every character served by one face gets
    // the same font object and runs of them stay together.
    std::unordered_map<std::string, FontRef> fonts_ GUARDED_BY(mutex_);
    std::unordered_map<std::string, std::shared_ptr<const FallbackList>> lists_ GUARDED_BY(mutex_);
    Statistics statistics_ GUARDED_BY(mutex_);
};

} // namespace platform
