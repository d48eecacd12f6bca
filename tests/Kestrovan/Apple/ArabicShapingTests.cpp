#include "Kestrovan/Apple/ArabicShapingData.h"
#include "Kestrovan/Apple/BidiMirroringData.h"
#include "Kestrovan/Apple/TerminalBidi.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

using Cells = std::vector<TerminalBidi::Cell>;

/// One cell per entry, in one row unless `wrapAfter` moves the rest to the next row.
Cells cells(std::initializer_list<std::u32string> texts, size_t wrapAfter = SIZE_MAX)
{
    Cells result;
    int column = 0;
    for (const std::u32string& text : texts) {
        const int64_t row = result.size() >= wrapAfter ? 1 : 0;
        if (result.size() == wrapAfter)
            column = 0;
        result.push_back(TerminalBidi::Cell{row, column++, 1, Character(text)});
    }
    return result;
}

/// The shaped cells as text, "-" for a cell left as stored.
std::vector<std::u32string> shaped(const Cells& input)
{
    std::vector<std::u32string> out;
    for (const auto& replacement : TerminalBidi::shapeArabic(input))
        out.push_back(replacement ? replacement->scalars : U"-");
    return out;
}

using Texts = std::vector<std::u32string>;

constexpr char32_t beh = 0x0628;
const std::u32string BEH(1, beh);
const std::u32string ALEF(1, 0x0627);
const std::u32string LAM(1, 0x0644);

TEST(ArabicShapingTests, LettersTakeTheFormTheirNeighboursCallFor)
{
    EXPECT_EQ(shaped(cells({})), Texts{});
    EXPECT_EQ(shaped(cells({BEH})), (Texts{U"\uFE8F"}));
    EXPECT_EQ(shaped(cells({BEH, BEH})), (Texts{U"\uFE91", U"\uFE90"}));
    EXPECT_EQ(shaped(cells({BEH, BEH, BEH})), (Texts{U"\uFE91", U"\uFE92", U"\uFE90"}));
    EXPECT_EQ(shaped(cells({BEH, ALEF})), (Texts{U"\uFE91", U"\uFE8E"})) << "alef takes its final form";
    EXPECT_EQ(shaped(cells({ALEF, BEH, BEH})), (Texts{U"\uFE8D", U"\uFE91", U"\uFE90"}))
        << "alef does not join the letter after it";
    EXPECT_EQ(shaped(cells({U"\u0621"})), (Texts{U"\uFE80"})) << "hamza never joins";
    EXPECT_EQ(shaped(cells({BEH, U"\u0621", BEH})), (Texts{U"\uFE8F", U"\uFE80", U"\uFE8F"}));
    EXPECT_EQ(shaped(cells({BEH, U"\u06BA", BEH})), (Texts{U"\uFE91", U"\uFB9F", U"\uFE90"}))
        << "noon ghunna joins both ways but has no medial form: it shows its final form";
    EXPECT_EQ(shaped(cells({U"a", BEH, U" ", BEH})), (Texts{U"-", U"\uFE8F", U"-", U"\uFE8F"}));
}

TEST(ArabicShapingTests, LigaturesJoinersAndMarks)
{
    EXPECT_EQ(shaped(cells({LAM, ALEF})), (Texts{U"\uFEFB", U" "})) << "the alef's column shows blank";
    EXPECT_EQ(shaped(cells({BEH, LAM, ALEF})), (Texts{U"\uFE91", U"\uFEFC", U" "}));
    EXPECT_EQ(shaped(cells({LAM, U"\u0622"})), (Texts{U"\uFEF5", U" "}));
    EXPECT_EQ(shaped(cells({LAM, U"\u0625", BEH})), (Texts{U"\uFEF9", U" ", U"\uFE8F"}));

    EXPECT_EQ(shaped(cells({BEH, U"\u200C", BEH})), (Texts{U"\uFE8F", U"-", U"\uFE8F"})) << "ZWNJ breaks";
    EXPECT_EQ(shaped(cells({BEH, U"\u0640", BEH})), (Texts{U"\uFE91", U"-", U"\uFE90"})) << "tatweel joins";
    EXPECT_EQ(shaped(cells({BEH, U"\u200D", BEH})), (Texts{U"\uFE91", U"-", U"\uFE90"})) << "ZWJ joins";

    // Marks in a letter's cell stay on its form; a cell holding only a mark is looked through,
    // but it keeps a lam from forming a ligature with the alef after it.
    EXPECT_EQ(shaped(cells({U"\u0628\u0651"})), (Texts{U"\uFE8F\u0651"})) << "shadda kept";
    EXPECT_EQ(shaped(cells({U"\u0644\u064E", U"\u0627\u0651"})), (Texts{U"\uFEFB\u064E\u0651", U" "}));
    EXPECT_EQ(shaped(cells({BEH, U"\u064E", BEH})), (Texts{U"\uFE91", U"-", U"\uFE90"}));
    EXPECT_EQ(shaped(cells({LAM, U"\u064E", ALEF})), (Texts{U"\uFEDF", U"-", U"\uFE8E"}));

    // Shaping runs over a whole paragraph, so a word split by a soft wrap joins across the row end.
    EXPECT_EQ(shaped(cells({BEH, BEH, BEH}, 2)), (Texts{U"\uFE91", U"\uFE92", U"\uFE90"}));
}

TEST(ArabicShapingTests, TablesHoldTheUnicode17Data)
{
    const auto ranges = ArabicShapingData::unicode17JoiningRanges();
    std::map<BidiJoining, int> byType;
    for (size_t i = 0; i < ranges.size(); ++i) {
        ++byType[static_cast<BidiJoining>(ranges[i].type)];
        EXPECT_LE(ranges[i].lo, ranges[i].hi);
        if (i > 0) {
            EXPECT_GT(ranges[i].lo, ranges[i - 1].hi) << "sorted and disjoint at " << i;
        }
    }
    EXPECT_EQ(ranges.size(), 157u);
    EXPECT_EQ(byType, (std::map<BidiJoining, int>{{BidiJoining::dual, 78},
                                                  {BidiJoining::right, 66},
                                                  {BidiJoining::causing, 5},
                                                  {BidiJoining::left, 5},
                                                  {BidiJoining::transparent, 3}}));
    EXPECT_EQ(ranges.front().lo, 0x0620u);
    EXPECT_EQ(ranges.back().hi, 0x1E94Bu);
    EXPECT_EQ(TerminalBidi::joiningType(0x0640), BidiJoining::causing);
    EXPECT_EQ(TerminalBidi::joiningType(0x10ACD), BidiJoining::left);
    EXPECT_EQ(TerminalBidi::joiningType(0x064E), BidiJoining::transparent) << "a mark, by its category";
    EXPECT_EQ(TerminalBidi::joiningType(0x200C), BidiJoining::transparent) << "ZWNJ is Cf";
    EXPECT_EQ(TerminalBidi::joiningType('a'), BidiJoining::none);
    EXPECT_EQ(TerminalBidi::joiningType(0xD800), BidiJoining::none);

    EXPECT_EQ(ArabicShapingData::formCount(), 76u);
    int joinedBothWays = 0;
    for (char32_t letter = 0x0600; letter < 0x0700; ++letter) {
        if (const auto forms = ArabicShapingData::unicode17Forms(letter)) {
            joinedBothWays += forms->ini.has_value();
            EXPECT_EQ(forms->ini.has_value(), forms->med.has_value());
            EXPECT_GE(forms->iso, 0xFB50u);
            EXPECT_LE(forms->fin, 0xFEF4u);
        }
    }
    EXPECT_EQ(joinedBothWays, 46);
    EXPECT_EQ(ArabicShapingData::unicode17Forms(0x0677),
              (ArabicPresentationForms{0xFBDD, 0xFBDD, std::nullopt, std::nullopt}))
        << "a letter without a final form repeats its isolated form";

    // Mirroring: 428 keys by block, an involution, no box drawing.
    const auto pairs = BidiMirroringData::unicode17MirrorPairs();
    EXPECT_EQ(pairs.size(), 428u);
    std::map<uint32_t, int> byBlock;
    for (const auto& pair : pairs) {
        ++byBlock[pair.scalar >> 8];
        EXPECT_EQ(BidiMirroringData::unicode17Mirror(pair.mirror), char32_t(pair.scalar));
        EXPECT_FALSE(pair.scalar >= 0x2500 && pair.scalar <= 0x257F);
    }
    EXPECT_EQ(byBlock, (std::map<uint32_t, int>{{0x00, 10},
                                                {0x0F, 4},
                                                {0x16, 2},
                                                {0x20, 8},
                                                {0x22, 122},
                                                {0x23, 6},
                                                {0x27, 41},
                                                {0x29, 57},
                                                {0x2A, 111},
                                                {0x2B, 1},
                                                {0x2E, 28},
                                                {0x30, 18},
                                                {0xFE, 8},
                                                {0xFF, 12}}));
    EXPECT_EQ(pairs.front().scalar, 0x28u);
    EXPECT_EQ(pairs.back().scalar, 0xFF63u);

    int boxEntries = 0;
    for (char32_t scalar = 0x2500; scalar <= 0x257F; ++scalar) {
        if (const auto mirror = TerminalBidi::boxMirror(scalar)) {
            ++boxEntries;
            EXPECT_EQ(TerminalBidi::boxMirror(*mirror), scalar);
        }
    }
    EXPECT_EQ(boxEntries, 38);
}

TEST(ArabicShapingTests, MirroredTextFollowsTheTables)
{
    const auto mirrored = [](std::u32string text, bool box) {
        const auto result = TerminalBidi::mirroredText(Character(text), box);
        return result ? result->scalars : U"-";
    };
    EXPECT_EQ(mirrored(U"(", false), U")");
    EXPECT_EQ(mirrored(U"<", false), U">");
    EXPECT_EQ(mirrored(U"\u00AB", false), U"\u00BB");
    EXPECT_EQ(mirrored(U"(\u0301", true), U"-") << "a character with marks is not mirrored";
    EXPECT_EQ(mirrored(U"\u250C", false), U"-");
    EXPECT_EQ(mirrored(U"\u250C", true), U"\u2510");
    EXPECT_EQ(mirrored(U"\u2500", true), U"-") << "straight lines stay";
    EXPECT_EQ(mirrored(U"\u2502", true), U"-");
    EXPECT_EQ(mirrored(U"a", true), U"-");
}

} // namespace
} // namespace kestrovan
