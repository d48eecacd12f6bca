#include "Kestrovan/Generated/UnicodeTables.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan::unicode {
namespace {

std::string hex(uint32_t scalar)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", scalar);
    return buffer;
}

bool contains(std::span<const Range> table, char32_t scalar)
{
    const auto it = std::upper_bound(table.begin(), table.end(), scalar,
                                     [](char32_t value, const Range& range) { return value < range.lo; });
    return it != table.begin() && scalar <= std::prev(it)->hi;
}

std::vector<std::pair<uint32_t, uint32_t>> rows(std::span<const Range> table, size_t from, size_t count)
{
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (size_t i = from; i < from + count && i < table.size(); ++i) {
        out.emplace_back(table[i].lo, table[i].hi);
    }
    return out;
}

using Rows = std::vector<std::pair<uint32_t, uint32_t>>;

// Every table is searched by bisection, so it must be sorted, free of overlaps and made of valid
// ranges; merged tables have no two ranges that touch either.
void expectMergedTable(std::span<const Range> table, const char* name)
{
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_LE(table[i].lo, table[i].hi) << name << " row " << i;
        EXPECT_LE(table[i].hi, 0x10FFFFu) << name << " row " << i;
        if (i > 0) {
            EXPECT_GT(table[i].lo, table[i - 1].hi + 1) << name << " rows " << i - 1 << " and " << i;
        }
    }
}

TEST(UnicodeTablesTest, EmojiModifierBaseTableIsTheFortyRanges)
{
    const Rows expected = {
        {0x261D, 0x261D},   {0x26F9, 0x26F9},   {0x270A, 0x270D},   {0x1F385, 0x1F385}, {0x1F3C2, 0x1F3C4},
        {0x1F3C7, 0x1F3C7}, {0x1F3CA, 0x1F3CC}, {0x1F442, 0x1F443}, {0x1F446, 0x1F450}, {0x1F466, 0x1F478},
        {0x1F47C, 0x1F47C}, {0x1F481, 0x1F483}, {0x1F485, 0x1F487}, {0x1F48F, 0x1F48F}, {0x1F491, 0x1F491},
        {0x1F4AA, 0x1F4AA}, {0x1F574, 0x1F575}, {0x1F57A, 0x1F57A}, {0x1F590, 0x1F590}, {0x1F595, 0x1F596},
        {0x1F645, 0x1F647}, {0x1F64B, 0x1F64F}, {0x1F6A3, 0x1F6A3}, {0x1F6B4, 0x1F6B6}, {0x1F6C0, 0x1F6C0},
        {0x1F6CC, 0x1F6CC}, {0x1F90C, 0x1F90C}, {0x1F90F, 0x1F90F}, {0x1F918, 0x1F91F}, {0x1F926, 0x1F926},
        {0x1F930, 0x1F939}, {0x1F93C, 0x1F93E}, {0x1F977, 0x1F977}, {0x1F9B5, 0x1F9B6}, {0x1F9B8, 0x1F9B9},
        {0x1F9BB, 0x1F9BB}, {0x1F9CD, 0x1F9CF}, {0x1F9D1, 0x1F9DD}, {0x1FAC3, 0x1FAC5}, {0x1FAF0, 0x1FAF8},
    };
    EXPECT_EQ(rows(emojiModifierBaseRanges, 0, 100), expected);
    expectMergedTable(emojiModifierBaseRanges, "emoji modifier base");
    for (const char32_t inside : {0x261D, 0x1FAF8, 0x1F44B}) {
        EXPECT_TRUE(contains(emojiModifierBaseRanges, inside)) << hex(inside);
    }
    for (const char32_t outside : {0x261C, 0x261E, 0x1FAF9}) {
        EXPECT_FALSE(contains(emojiModifierBaseRanges, outside)) << hex(outside);
    }
    EXPECT_FALSE(contains(emojiModifierBaseRanges, 0x1F600)) << "grinning face takes none";
}

TEST(UnicodeTablesTest, JoinRangeTablesHaveTheirSizesAndEnds)
{
    const std::span<const Range> variation = emojiVariationRanges;
    ASSERT_EQ(variation.size(), 183u);
    EXPECT_EQ(rows(variation, 0, 10), (Rows{{0x0023, 0x0023},
                                            {0x002A, 0x002A},
                                            {0x0030, 0x0039},
                                            {0x00A9, 0x00A9},
                                            {0x00AE, 0x00AE},
                                            {0x203C, 0x203C},
                                            {0x2049, 0x2049},
                                            {0x2122, 0x2122},
                                            {0x2139, 0x2139},
                                            {0x2194, 0x2199}}));
    EXPECT_EQ(rows(variation, 180, 3), (Rows{{0x1F6E9, 0x1F6E9}, {0x1F6F0, 0x1F6F0}, {0x1F6F3, 0x1F6F3}}));
    expectMergedTable(variation, "emoji variation");

    const std::span<const Range> spacing = spacingMarkRanges;
    ASSERT_EQ(spacing.size(), 193u);
    EXPECT_EQ(rows(spacing, 0, 4),
              (Rows{{0x0903, 0x0903}, {0x093B, 0x093B}, {0x093E, 0x0940}, {0x0949, 0x094C}}));
    EXPECT_EQ(rows(spacing, 191, 2), (Rows{{0x1D165, 0x1D166}, {0x1D16D, 0x1D172}}));
    expectMergedTable(spacing, "spacing mark");

    const std::span<const Range> virama = viramaRanges;
    ASSERT_EQ(virama.size(), 58u);
    EXPECT_EQ(rows(virama, 0, 4),
              (Rows{{0x094D, 0x094D}, {0x09CD, 0x09CD}, {0x0A4D, 0x0A4D}, {0x0ACD, 0x0ACD}}));
    EXPECT_EQ(rows(virama, 55, 3), (Rows{{0x11D97, 0x11D97}, {0x11F41, 0x11F42}, {0x1612F, 0x1612F}}));
    expectMergedTable(virama, "virama");
}

TEST(UnicodeTablesTest, JoinTablesAgreeWithTheOtherProperties)
{
    // The print path widens a cell for a zero-width spacing mark and keeps it for a virama; both
    // only work when those marks come with width code 1.
    for (const Range& range : spacingMarkRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s) {
            EXPECT_EQ(widthCode(s), 1) << "spacing mark " << hex(s);
        }
    }
    for (const Range& range : viramaRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s) {
            EXPECT_EQ(widthCode(s), 1) << "virama " << hex(s);
            EXPECT_NE(graphemeProperties(s) & grapheme::markMask, 0) << "virama " << hex(s) << " must extend";
        }
    }
    for (const Range& range : emojiVariationRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s) {
            EXPECT_TRUE(isEmoji(s)) << "emoji variation base " << hex(s);
        }
    }
    for (const Range& range : emojiModifierBaseRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s) {
            EXPECT_TRUE(isEmoji(s)) << "emoji modifier base " << hex(s);
            EXPECT_TRUE(isExtendedPictographic(s)) << "emoji modifier base " << hex(s);
        }
    }
}

TEST(UnicodeTablesTest, WidthCodes)
{
    struct Case
    {
        char32_t scalar;
        uint8_t code;
        const char* what;
    };
    const Case cases[] = {
        {U'A', 2, "ASCII letter"},
        {U' ', 2, "space"},
        {U'~', 2, "tilde"},
        {0x007F, 0, "DEL"},
        {0x0085, 0, "C1 control"},
        {0x00A0, 2, "no-break space"},
        {0x00A1, 2, "Ambiguous counts as narrow"},
        {0x00AD, 2, "soft hyphen is drawn"},
        {0x00E9, 2, "e acute"},
        {0x0301, 1, "combining acute"},
        {0x20DD, 1, "enclosing circle (Me)"},
        {0x093E, 1, "spacing vowel sign (Mc)"},
        {0x0600, 2, "Arabic number sign (visible format character)"},
        {0x06DD, 2, "end of ayah"},
        {0x110BD, 2, "Kaithi number sign"},
        {0x200B, 1, "zero width space"},
        {0x200D, 1, "zero width joiner"},
        {0x2060, 1, "word joiner"},
        {0xFEFF, 1, "byte order mark"},
        {0xE0041, 1, "tag letter"},
        {0xFE0E, 1, "text selector"},
        {0xFE0F, 1, "emoji selector"},
        {0xE0100, 1, "variation selector 17"},
        {0x1100, 3, "Hangul initial consonant"},
        {0x1160, 1, "Hangul medial vowel"},
        {0x11A8, 1, "Hangul final consonant"},
        {0x11FF, 1, "last Hangul final consonant"},
        {0xD7B0, 1, "Hangul extended medial vowel"},
        {0xD7FF, 1, "end of Hangul Jamo Extended-B"},
        {0xAC00, 3, "Hangul syllable"},
        {0xD800, 0, "surrogate"},
        {0xDFFF, 0, "surrogate"},
        {0xFDD0, 0, "noncharacter"},
        {0xFFFE, 0, "noncharacter"},
        {0x10FFFF, 0, "noncharacter"},
        {0xE000, 2, "private use"},
        {0x4E00, 3, "CJK ideograph"},
        {0x3000, 3, "ideographic space (F)"},
        {0xFF21, 3, "fullwidth A"},
        {0xFF61, 2, "halfwidth ideographic full stop"},
        {0x302A, 1, "wide but combining ideographic tone mark"},
        {0x1F600, 3, "grinning face"},
        {0x1F1E6, 3, "regional indicator A"},
        {0x1F3FB, 3, "skin tone modifier"},
        {0x2764, 2, "heavy black heart defaults to text"},
        {0x263A, 2, "smiling face defaults to text"},
        {0x231A, 3, "watch (Emoji_Presentation)"},
        {0x1F6D8, 3, "an emoji new in Unicode 17.0"},
        {0x323B0, 3, "a CJK ideograph new in Unicode 17.0"},
        {0x18D80, 3, "a Tangut component new in Unicode 17.0"},
        {0x0378, 2, "unassigned, narrow by default"},
        {0x2FFFD, 3, "unassigned in plane 2, wide by default"},
        {0x110000, 0, "beyond Unicode"},
        {0xFFFFFFFF, 0, "beyond Unicode"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(widthCode(c.scalar), c.code) << hex(c.scalar) << " " << c.what;
    }
    for (char32_t s = 0; s < 0x20; ++s) {
        EXPECT_EQ(widthCode(s), 0) << "C0 control " << hex(s);
    }
    for (char32_t s = 0x20; s < 0x7F; ++s) {
        EXPECT_EQ(widthCode(s), 2) << "printable ASCII " << hex(s);
    }
    for (char32_t s = 0x1F1E6; s <= 0x1F1FF; ++s) {
        EXPECT_EQ(widthCode(s), 3) << "regional indicator " << hex(s);
    }
}

TEST(UnicodeTablesTest, EveryEmojiPresentationCharacterIsWide)
{
    for (char32_t s = 0; s <= 0x10FFFF; ++s) {
        if (isEmojiPresentation(s)) {
            EXPECT_EQ(widthCode(s), 3) << hex(s);
            EXPECT_TRUE(isEmoji(s)) << hex(s);
        }
    }
}

TEST(UnicodeTablesTest, GraphemePropertyBytes)
{
    using namespace grapheme;
    struct Case
    {
        char32_t scalar;
        uint8_t properties;
        const char* what;
    };
    const Case cases[] = {
        {U'A', 0, "letter"},
        {0x000D, control, "CR"},
        {0x000A, control, "LF"},
        {0x0001, control, "C0 control"},
        {0x200B, control, "zero width space is a Control"},
        {0x1100, hangulL, "Hangul L"},
        {0x1161, hangulV, "Hangul V"},
        {0x11A8, hangulT, "Hangul T"},
        {0xAC00, hangulLV, "Hangul LV"},
        {0xAC01, hangulLVT, "Hangul LVT"},
        {0x0600, prepend, "Arabic number sign"},
        {0x0301, extend | conjunctExtend, "combining acute"},
        {0x200D, extend | conjunctExtend, "zero width joiner"},
        {0xFE0F, extend | conjunctExtend, "emoji selector"},
        {0x1F3FB, extend | conjunctExtend, "skin tone modifier"},
        {0x0903, spacingMark, "Devanagari visarga"},
        {0x093E, spacingMark, "Devanagari vowel sign aa"},
        {0x0915, conjunctConsonant, "Devanagari ka"},
        {0x094D, extend | conjunctLinker, "Devanagari virama"},
        {0x093C, extend | conjunctExtend, "Devanagari nukta"},
        {0x1F1E6, 0, "regional indicators are told apart by value"},
        {0x1F600, 0, "emoji"},
        {0x110000, 0, "beyond Unicode"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(graphemeProperties(c.scalar), c.properties) << hex(c.scalar) << " " << c.what;
    }
}

TEST(UnicodeTablesTest, EmojiProperties)
{
    struct Case
    {
        char32_t scalar;
        bool emoji;
        bool presentation;
        bool pictographic;
    };
    const Case cases[] = {
        {U'A', false, false, false},   {U'#', true, false, false},      {U'7', true, false, false},
        {0x00A9, true, false, true},   {0x2764, true, false, true},     {0x263A, true, false, true},
        {0x231A, true, true, true},    {0x1F600, true, true, true},     {0x1F1E6, true, true, false},
        {0x1F3FB, true, true, false},  {0x200D, false, false, false},   {0x1F6D8, true, true, true},
        {0x1FFFD, false, false, true}, {0x110000, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isEmoji(c.scalar), c.emoji) << "Emoji of " << hex(c.scalar);
        EXPECT_EQ(isEmojiPresentation(c.scalar), c.presentation) << "Emoji_Presentation of " << hex(c.scalar);
        EXPECT_EQ(isExtendedPictographic(c.scalar), c.pictographic)
            << "Extended_Pictographic of " << hex(c.scalar);
    }
}

// A text selector narrows a wide emoji only when the emoji is wide by default yet text-style by
// default; U+3030 (wavy dash) is such a character, and U+2764 stays narrow.
TEST(UnicodeTablesTest, WideTextDefaultEmojiForPresentationSelectors)
{
    EXPECT_EQ(widthCode(0x3030), 3);
    EXPECT_TRUE(isEmoji(0x3030));
    EXPECT_FALSE(isEmojiPresentation(0x3030));
    EXPECT_TRUE(contains(emojiVariationRanges, 0x3030));

    EXPECT_EQ(widthCode(0x2764), 2);
    EXPECT_TRUE(contains(emojiVariationRanges, 0x2764));
    EXPECT_FALSE(contains(emojiVariationRanges, U'A'));
}

} // namespace
} // namespace kestrovan::unicode
