// The GPU renderer's shaped runs: a run of text in one font shaped once into glyph runs (one per
// font, the requested one or a fallback face) and kept, so that unchanged text is not shaped again
// when a row is prepared anew.
//
// Text is shaped as the CPU row drawing shapes it: through the text layer's HarfBuzz shaping with
// its fontconfig fallback cascade, left to right, each glyph with the UTF-16 index of its cluster.
// Runs are keyed by the font's PostScript name, point size and slant (a family without italic
// faces stands its upright face in, slanted, under the same name), the text and a fallback tag
// that keeps a glyph-fallback provider's font apart. At most 2048 runs are kept; the oldest
// inserted goes first, however recently it was used. One thread at a time (the frame builder's).
#pragma once

#include "Platform/Graphics/Geometry.h"
#include "Platform/Text/Font.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

struct ShaperKey
{
    std::string fontName;
    double fontSize = 0;
    double fontSlant = 0;
    std::u16string text;
    uint64_t fallbackTag = 0;

    friend bool operator==(const ShaperKey&, const ShaperKey&) = default;
};

struct ShaperKeyHash
{
    size_t operator()(const ShaperKey& key) const;
};

/// Consecutive glyphs in one font: positions in points from the run's origin on the baseline
/// (y-up), and the UTF-16 index of each glyph's cluster in the shaped text.
struct ShaperGlyphRun
{
    platform::FontRef font;
    std::vector<uint16_t> glyphs;
    std::vector<platform::Point> positions;
    std::vector<uint32_t> stringIndices;
};

struct ShaperRun
{
    std::vector<ShaperGlyphRun> glyphRuns;
    size_t glyphCount = 0;
};

class ShaperCache
{
public:
    static constexpr size_t maxEntries = 2048;

    /// The shaped run of `text` in `font`; null for empty text or text that gives no glyphs.
    std::shared_ptr<const ShaperRun> shape(std::u16string_view text, const platform::FontRef& font,
                                           uint64_t fallbackTag);
    /// Stores a run; a new key beyond the bound evicts the oldest inserted one. Replacing a key
    /// keeps its age.
    void insert(const ShaperKey& key, std::shared_ptr<const ShaperRun> run);

    size_t count() const { return cache_.size(); }
    bool contains(const ShaperKey& key) const { return cache_.contains(key); }

    /// The key of `text` in `font`.
    static ShaperKey key(std::u16string_view text, const platform::Font& font, uint64_t fallbackTag);

private:
    std::unordered_map<ShaperKey, std::shared_ptr<const ShaperRun>, ShaperKeyHash> cache_;
    std::deque<ShaperKey> order_;
};

} // namespace kestrovan
