// The CPU draw path's cache of shaped short runs.
//
// Most runs of a terminal row are short (a word, a prompt symbol, a single wide character), and the
// same ones come back frame after frame; shaping each again would cost a HarfBuzz call per run.
// Runs of 1 to 8 UTF-16 units are kept shaped, keyed by their text and attributes (and, for a run
// set in a glyph-fallback font, by that font object); longer and empty runs are shaped every time.
// The cache is emptied whole when it reaches 2048 lines. One cache per view, used on the thread
// that draws with the CPU path only.
#pragma once

#include "Kestrovan/Apple/ViewLineInfo.h"
#include "Platform/Text/ShapedLine.h"

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

class CoreGraphicsRenderCache
{
public:
    /// The most lines kept before the cache is emptied.
    static constexpr size_t lineLimit = 2048;
    /// The longest text, in UTF-16 units, that is cached.
    static constexpr size_t longestCachedText = 8;

    /// The shaped line of an attributed text.
    std::shared_ptr<const platform::ShapedLine> line(const SnapshotAttributedText& text);

    size_t size() const { return lines_.size(); }

private:
    struct Key
    {
        std::u16string text;
        /// Each run's length and attributes, by value.
        std::vector<std::pair<uint32_t, SnapshotTextAttributes>> runs;
        /// The identity of a glyph-fallback font at the start, so that equal text in two
        /// fallback fonts is shaped twice; 0 otherwise.
        uintptr_t fallbackTag = 0;

        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& key) const;
    };

    std::unordered_map<Key, std::shared_ptr<const platform::ShapedLine>, KeyHash> lines_;
};

} // namespace kestrovan
