// Small Unicode helpers shared by the print path and the renderers: a binary search over tables
// of inclusive scalar ranges, the table of emoji-modifier bases, and the rule that keeps emoji
// which default to text style in text style.
#pragma once

#include "Kestrovan/Fatal.h"
#include "Kestrovan/Generated/UnicodeTables.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrovan {

struct UnicodeUtil
{
    /// An inclusive range of scalars; a range table is sorted by `lo` and has no overlaps.
    using LH = unicode::Range;

    /// The print path's answer to "does this scalar join the cell before it?".
    enum class GraphemeJoin : uint8_t
    {
        /// Start a new cell.
        newCell = 0,
        /// Append to the previous cell.
        append = 1,
        /// Append only when the cell's scalars and this one still form one grapheme cluster.
        appendIfOneCluster = 2,
    };

    /// Whether `rune` falls in one of the ranges of `table`; `max` is the index of the last
    /// entry searched (the table must be non-empty and `max` below its length).
    static bool bisearch(char32_t rune, std::span<const LH> table, int max)
    {
        KESTROVAN_ASSERT(!table.empty() && max >= 0 && static_cast<size_t>(max) < table.size(),
                         "UnicodeUtil.bisearch: empty table or index past its end");
        const uint32_t value = rune;
        if (value < table[0].lo || value > table[max].hi)
            return false;
        int low = 0;
        int high = max;
        while (high >= low) {
            const int mid = (low + high) / 2;
            if (table[mid].hi < value)
                low = mid + 1;
            else if (value >= table[mid].lo)
                return true;
            else
                high = mid - 1;
        }
        return false;
    }

    /// True when `text` is exactly one scalar at or above U+0100 that is an emoji without
    /// default emoji presentation (it would otherwise be drawn as a coloured glyph).
    static bool prefersTextPresentation(std::string_view text);

    /// `text` with U+FE0E (VARIATION SELECTOR-15) appended when it prefers text presentation.
    static std::string textPresentationAdjusted(std::string text);

    /// The characters an emoji skin-tone modifier (U+1F3FB-U+1F3FF) joins: the 40 ranges of the
    /// generated emoji-modifier-base table.
    static inline const std::span<const LH> emojiModifierBaseTable = unicode::emojiModifierBaseRanges;

    /// Whether `rune` is an emoji-modifier base.
    static bool isEmojiModifierBase(char32_t rune)
    {
        return bisearch(rune, emojiModifierBaseTable, static_cast<int>(emojiModifierBaseTable.size()) - 1);
    }
};

} // namespace kestrovan
