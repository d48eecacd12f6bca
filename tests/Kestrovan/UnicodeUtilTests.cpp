#include "Kestrovan/UnicodeUtil.h"

#include <gtest/gtest.h>
#include <vector>

using kestrovan::UnicodeUtil;

TEST(UnicodeUtil, BisearchFindsScalarsInRangeTables)
{
    const auto& table = UnicodeUtil::emojiModifierBaseTable;
    const int max = static_cast<int>(table.size()) - 1;
    EXPECT_TRUE(UnicodeUtil::bisearch(0x1F44B, table, max)) << "waving hand, inside 1F446-1F450";
    EXPECT_FALSE(UnicodeUtil::bisearch('A', table, max)) << "below the first range";
    EXPECT_FALSE(UnicodeUtil::bisearch(0x1FAF9, table, max)) << "above the last range";

    // Every range end is found and every gap is not, over the whole table.
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_TRUE(UnicodeUtil::bisearch(table[i].lo, table, max)) << std::hex << table[i].lo;
        EXPECT_TRUE(UnicodeUtil::bisearch(table[i].hi, table, max)) << std::hex << table[i].hi;
        if (i + 1 < table.size() && table[i].hi + 1 < table[i + 1].lo) {
            EXPECT_FALSE(UnicodeUtil::bisearch(table[i].hi + 1, table, max)) << std::hex << table[i].hi + 1;
        }
    }

    // `max` limits the search to a prefix of the table.
    EXPECT_FALSE(UnicodeUtil::bisearch(0x1FAF8, table, 2));
    const std::vector<UnicodeUtil::LH> one = {{5, 5}};
    EXPECT_TRUE(UnicodeUtil::bisearch(5, one, 0));
    EXPECT_FALSE(UnicodeUtil::bisearch(4, one, 0));
}

TEST(UnicodeUtil, TextPresentationLeavesOrdinaryTextAlone)
{
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation("A"));
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("A"), "A");
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation("#")) << "below U+0100 even though it is an emoji";
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\xE2\x9D\xA4\xEF\xB8\x8F"), "\xE2\x9D\xA4\xEF\xB8\x8F")
        << "two scalars";
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted(""), "");
}

// Needs the real emoji tables: the placeholders answer false for every scalar.
TEST(UnicodeUtilWithUnicodeTables, TextPresentationAppendsVariationSelector15)
{
    if (!kestrovan::unicode::isEmoji(0x1F600))
        GTEST_SKIP() << "the Unicode tables are still placeholders";
    EXPECT_TRUE(UnicodeUtil::prefersTextPresentation("\xE2\x9D\xA4"));
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\xE2\x9D\xA4"), "\xE2\x9D\xA4\xEF\xB8\x8E") << "U+2764";
    EXPECT_FALSE(UnicodeUtil::prefersTextPresentation("\xF0\x9F\x98\x80")) << "U+1F600 defaults to emoji";
    EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(UnicodeUtilDeathTest, BisearchRefusesAnIndexPastTheTable)
{
    const std::vector<UnicodeUtil::LH> one = {{5, 5}};
    EXPECT_DEATH(UnicodeUtil::bisearch(5, one, 1), "index past its end");
}
