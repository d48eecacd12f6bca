// Small Unicode helpers shared by the print path and the renderers: a binary search over tables
// of inclusive scalar ranges, the table of emoji-modifier bases, and the rule that keeps emoji
// which default to text style in text style.
#pragma once

#include "Kestrovan/Fatal.h"
#include "Kestrovan/Generated/UnicodeTables.h"

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace kestrovan {

struct UnicodeUtil
{
    /// An inclusive range of scalars; a range table is sorted by `lo` and has no overlaps.
    using LH = unicode::Range;

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

    /// The characters an emoji skin-tone modifier (U+1F3FB-U+1F3FF) joins.
    static constexpr std::array<LH, 40> emojiModifierBaseTable = {{
        {0x261D, 0x261D},   {0x26F9, 0x26F9},   {0x270A, 0x270D},   {0x1F385, 0x1F385}, {0x1F3C2, 0x1F3C4},
        {0x1F3C7, 0x1F3C7}, {0x1F3CA, 0x1F3CC}, {0x1F442, 0x1F443}, {0x1F446, 0x1F450}, {0x1F466, 0x1F478},
        {0x1F47C, 0x1F47C}, {0x1F481, 0x1F483}, {0x1F485, 0x1F487}, {0x1F48F, 0x1F48F}, {0x1F491, 0x1F491},
        {0x1F4AA, 0x1F4AA}, {0x1F574, 0x1F575}, {0x1F57A, 0x1F57A}, {0x1F590, 0x1F590}, {0x1F595, 0x1F596},
        {0x1F645, 0x1F647}, {0x1F64B, 0x1F64F}, {0x1F6A3, 0x1F6A3}, {0x1F6B4, 0x1F6B6}, {0x1F6C0, 0x1F6C0},
        {0x1F6CC, 0x1F6CC}, {0x1F90C, 0x1F90C}, {0x1F90F, 0x1F90F}, {0x1F918, 0x1F91F}, {0x1F926, 0x1F926},
        {0x1F930, 0x1F939}, {0x1F93C, 0x1F93E}, {0x1F977, 0x1F977}, {0x1F9B5, 0x1F9B6}, {0x1F9B8, 0x1F9B9},
        {0x1F9BB, 0x1F9BB}, {0x1F9CD, 0x1F9CF}, {0x1F9D1, 0x1F9DD}, {0x1FAC3, 0x1FAC5}, {0x1FAF0, 0x1FAF8},
    }};

    /// Whether `rune` is an emoji-modifier base.
    static bool isEmojiModifierBase(char32_t rune)
    {
        return bisearch(rune, emojiModifierBaseTable, static_cast<int>(emojiModifierBaseTable.size()) - 1);
    }
};

} // namespace kestrovan
