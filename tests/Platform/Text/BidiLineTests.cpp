#include "Platform/Text/BidiParagraph.h"

#include <gtest/gtest.h>
#include <thread>

using namespace platform;

namespace {

constexpr auto ltr = BidiDirection::leftToRight;
constexpr auto rtl = BidiDirection::rightToLeft;

BidiLine wholeLine(std::u16string_view text, BidiBase base)
{
    auto paragraph = BidiParagraph::make(text, base);
    EXPECT_TRUE(paragraph);
    auto line = paragraph->line(0, paragraph->length());
    EXPECT_TRUE(line);
    return *line;
}

TEST(BidiLineTests, VisualOrderOfMixedText)
{
    const struct
    {
        std::u16string text;
        BidiBase base;
        std::vector<int32_t> visualToLogical;
        std::vector<BidiRun> runs;
    } cases[] = {
        // An explicit right-to-left paragraph reverses even Latin letters' order of runs: "ab" is
        // one left-to-right run inside it, drawn as is.
        {u"ab", BidiBase::rightToLeft, {0, 1}, {{0, 2, ltr}}},
        // Two neutral cells in a right-to-left paragraph take its direction and swap.
        {u"  ", BidiBase::rightToLeft, {1, 0}, {{0, 2, rtl}}},
        {u"אב", BidiBase::leftToRight, {1, 0}, {{0, 2, rtl}}},
        // Hebrew inside Latin: the Hebrew run alone is reversed.
        {u"ab אבג cd",
         BidiBase::leftToRight,
         {0, 1, 2, 5, 4, 3, 6, 7, 8},
         {{0, 3, ltr}, {3, 3, rtl}, {6, 3, ltr}}},
        // Latin inside Hebrew: the paragraph runs right to left, the Latin word keeps its order.
        {u"אב cd", BidiBase::rightToLeft, {3, 4, 2, 1, 0}, {{3, 2, ltr}, {0, 3, rtl}}},
        // Digits after Hebrew stay in their own order.
        {u"א 12", BidiBase::rightToLeft, {2, 3, 1, 0}, {{2, 2, ltr}, {0, 2, rtl}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.visualToLogical));
        const BidiLine line = wholeLine(c.text, c.base);
        EXPECT_EQ(line.visualToLogical(), c.visualToLogical);
        EXPECT_EQ(line.visualRuns(), c.runs);
        for (int32_t v = 0; v < line.length(); ++v)
            EXPECT_EQ(line.logicalToVisual()[line.visualToLogical()[v]], v);
    }
}

TEST(BidiLineTests, ExplicitRightToLeftProbeReversesEveryCell)
{
    // The terminal's probe for an explicit right-to-left row of "ab": with the letters replaced
    // by a right-to-left mark the row reads 1, 0 from the left.
    const BidiLine line = wholeLine(u"\u200F\u200F", BidiBase::rightToLeft);
    EXPECT_EQ(line.visualToLogical(), (std::vector<int32_t>{1, 0}));
    EXPECT_TRUE(line.isRightToLeft(0) && line.isRightToLeft(1));
    EXPECT_FALSE(line.isRightToLeft(2));
    EXPECT_FALSE(line.isRightToLeft(-1));
}

TEST(BidiLineTests, DetectedDirectionAndRowsOfOneParagraph)
{
    const struct
    {
        std::u16string text;
        BidiBase base;
        BidiDirection expected;
    } cases[] = {
        {u"שלום world", BidiBase::autoLeftToRight, rtl},
        {u"123 abc", BidiBase::autoRightToLeft, ltr}, // the first strong letter decides
        {u"123 ", BidiBase::autoRightToLeft, rtl},    // none: the default
        {u"123 ", BidiBase::autoLeftToRight, ltr},
        {u"abc", BidiBase::rightToLeft, rtl}, // an explicit base is never overridden
        {u"", BidiBase::autoRightToLeft, rtl},
    };
    for (const auto& c : cases) {
        auto paragraph = BidiParagraph::make(c.text, c.base);
        ASSERT_TRUE(paragraph);
        EXPECT_EQ(paragraph->direction(), c.expected) << int(c.text.size());
    }

    // A Hebrew paragraph wrapped over two rows: each row is ordered alone, in the paragraph's
    // direction, with indexes counted from the row's start.
    auto paragraph = BidiParagraph::make(u"אבג דה ab", BidiBase::autoLeftToRight);
    ASSERT_EQ(paragraph->direction(), rtl);
    const auto first = paragraph->line(0, 4);
    const auto second = paragraph->line(4, 9);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->visualToLogical(), (std::vector<int32_t>{3, 2, 1, 0}));
    EXPECT_EQ(second->visualToLogical(), (std::vector<int32_t>{3, 4, 2, 1, 0}));

    EXPECT_FALSE(paragraph->line(4, 4));
    EXPECT_FALSE(paragraph->line(-1, 3));
    EXPECT_FALSE(paragraph->line(5, 10));
    EXPECT_FALSE(BidiParagraph::make(u"", BidiBase::leftToRight)->line(0, 0));
}

TEST(BidiLineTests, SeparatorsDoNotSplitTheParagraph)
{
    // As separate paragraphs the Latin half would run left to right on its own; as one
    // right-to-left paragraph the whole row is laid out with every index present.
    for (std::u16string text : {u"א\u2029b", u"א\nb", u"א\rb"}) {
        auto paragraph = BidiParagraph::make(text, BidiBase::rightToLeft);
        const auto line = paragraph->line(0, 3);
        ASSERT_TRUE(line);
        EXPECT_EQ(line->visualToLogical(), (std::vector<int32_t>{2, 1, 0}));
    }
}

TEST(BidiLineTests, RunsThatDoNotCoverTheRowFallBackToLogicalOrder)
{
    const BidiLine overlapping({{0, 2, rtl}, {1, 2, ltr}}, {1, 1, 0});
    EXPECT_EQ(overlapping.visualToLogical(), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(overlapping.visualRuns(), (std::vector<BidiRun>{{0, 3, ltr}}));
    const BidiLine short_({{0, 1, ltr}}, {0, 0});
    EXPECT_EQ(short_.logicalToVisual(), (std::vector<int32_t>{0, 1}));
    const BidiLine outside({{5, 2, ltr}}, {0, 0});
    EXPECT_EQ(outside.visualToLogical(), (std::vector<int32_t>{0, 1}));
}

TEST(BidiLineTests, LinesOfOneParagraphFromSeveralThreads)
{
    std::u16string text;
    for (int i = 0; i < 40; ++i)
        text += u"abc אבג 12 ";
    auto paragraph = BidiParagraph::make(text, BidiBase::autoLeftToRight);
    const auto expected = paragraph->line(0, paragraph->length())->visualToLogical();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                if (paragraph->line(0, paragraph->length())->visualToLogical() != expected)
                    ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
