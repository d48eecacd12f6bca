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

TEST(UnicodeTablesTest, JoinTablesAreSearchableAndAgreeWithTheOtherProperties)
{
    expectMergedTable(emojiModifierBaseRanges, "emoji modifier base");
    expectMergedTable(emojiVariationRanges, "emoji variation");
    expectMergedTable(spacingMarkRanges, "spacing mark");
    expectMergedTable(viramaRanges, "virama");
    for (const char32_t inside : {0x261D, 0x1FAF8, 0x1F44B})
        EXPECT_TRUE(contains(emojiModifierBaseRanges, inside)) << hex(inside);
    for (const char32_t outside : {0x261C, 0x261E, 0x1FAF9, 0x1F600})
        EXPECT_FALSE(contains(emojiModifierBaseRanges, outside)) << hex(outside);

    // The print path widens a cell for a zero-width spacing mark and keeps it for a virama; both
    // only work when those marks come with width code 1.
    for (const Range& range : spacingMarkRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s)
            EXPECT_EQ(widthCode(s), 1) << "spacing mark " << hex(s);
    }
    for (const Range& range : viramaRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s) {
            EXPECT_EQ(widthCode(s), 1) << "virama " << hex(s);
            EXPECT_NE(graphemeProperties(s) & grapheme::markMask, 0) << "virama " << hex(s) << " must extend";
        }
    }
    for (const Range& range : emojiVariationRanges) {
        for (char32_t s = range.lo; s <= range.hi; ++s)
            EXPECT_TRUE(isEmoji(s)) << "emoji variation base " << hex(s);
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
    // Code 0, not printable: DEL, C1 controls, surrogates, noncharacters, values beyond Unicode.
    for (const char32_t s :
         {0x7Fu, 0x85u, 0xD800u, 0xDFFFu, 0xFDD0u, 0xFFFEu, 0x10FFFFu, 0x110000u, 0xFFFFFFFFu})
        EXPECT_EQ(widthCode(s), 0) << hex(s);
    // Code 1, zero width: combining and enclosing marks, spacing vowel signs (widened by the print
    // path), invisible format characters, tags, selectors, Hangul medial and final jamo, and the
    // ideographic tone mark that is wide by East Asian Width yet combines.
    for (const char32_t s : {0x0301u, 0x20DDu, 0x093Eu, 0x200Bu, 0x200Du, 0x2060u, 0xFEFFu, 0xE0041u, 0xFE0Eu,
                             0xFE0Fu, 0xE0100u, 0x1160u, 0x11A8u, 0x11FFu, 0xD7B0u, 0xD7FFu, 0x302Au})
        EXPECT_EQ(widthCode(s), 1) << hex(s);
    // Code 2, narrow: no-break space, Ambiguous, the drawn soft hyphen, visible prepended format
    // characters (Arabic number sign, end of ayah, Kaithi number sign), private use, halfwidth
    // forms, emoji that default to text, and unassigned scalars outside the wide planes.
    for (const char32_t s : {0x00A0u, 0x00A1u, 0x00ADu, 0x00E9u, 0x0600u, 0x06DDu, 0x110BDu, 0xE000u, 0xFF61u,
                             0x2764u, 0x263Au, 0x0378u})
        EXPECT_EQ(widthCode(s), 2) << hex(s);
    // Code 3, wide: Hangul leading jamo and syllables, ideographs and fullwidth forms, emoji with
    // emoji presentation, regional indicators and skin tones, additions of Unicode 17.0 (an emoji,
    // a CJK ideograph, a Tangut component), and unassigned scalars of plane 2.
    for (const char32_t s : {0x1100u, 0xAC00u, 0x4E00u, 0x3000u, 0xFF21u, 0x1F600u, 0x1F3FBu, 0x231Au,
                             0x1F6D8u, 0x323B0u, 0x18D80u, 0x2FFFDu})
        EXPECT_EQ(widthCode(s), 3) << hex(s);
    for (char32_t s = 0; s < 0x20; ++s)
        EXPECT_EQ(widthCode(s), 0) << "C0 control " << hex(s);
    for (char32_t s = 0x20; s < 0x7F; ++s)
        EXPECT_EQ(widthCode(s), 2) << "printable ASCII " << hex(s);
    for (char32_t s = 0x1F1E6; s <= 0x1F1FF; ++s)
        EXPECT_EQ(widthCode(s), 3) << "regional indicator " << hex(s);
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
    // Controls (CR, LF, C0, and zero width space), the five Hangul kinds, a prepend, extenders
    // (acute, ZWJ, emoji selector, skin tone, nukta), Devanagari spacing marks, consonant and
    // virama. Regional indicators and emoji carry no bits: they are told apart by value.
    const auto expect = [](uint8_t properties, std::initializer_list<char32_t> scalars) {
        for (const char32_t s : scalars)
            EXPECT_EQ(graphemeProperties(s), properties) << hex(s);
    };
    expect(0, {U'A', 0x1F1E6, 0x1F600, 0x110000});
    expect(control, {0x000D, 0x000A, 0x0001, 0x200B});
    expect(hangulL, {0x1100});
    expect(hangulV, {0x1161});
    expect(hangulT, {0x11A8});
    expect(hangulLV, {0xAC00});
    expect(hangulLVT, {0xAC01});
    expect(prepend, {0x0600});
    expect(spacingMark, {0x0903, 0x093E});
    expect(conjunctConsonant, {0x0915});
    expect(extend | conjunctExtend, {0x0301, 0x200D, 0xFE0F, 0x1F3FB, 0x093C});
    expect(extend | conjunctLinker, {0x094D});
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
        {U'A', false, false, false},   {U'#', true, false, false},     {U'7', true, false, false},
        {0x00A9, true, false, true},   {0x2764, true, false, true},    {0x263A, true, false, true},
        {0x231A, true, true, true},    {0x1F600, true, true, true},    {0x1F1E6, true, true, false},
        {0x1F3FB, true, true, false},  {0x200D, false, false, false},  {0x1F6D8, true, true, true},
        {0x1FFFD, false, false, true}, {0x110000, false, false, false}};
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
