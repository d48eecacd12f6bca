// When a pane may be split, and how far a split's divider may move.
#include "Vesk/TerminalSplitView.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(TerminalSplitViewTests, APaneNeeds321PointsOfWidthOr241OfHeightToSplit)
{
    struct Case
    {
        double extent;
        bool vertical;
        bool splits;
    };
    const Case cases[] = {
        {321, true, true},  {320, true, false},  {320.5, true, false}, {960, true, true},
        {241, false, true}, {240, false, false}, {0, false, false},    {-5, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalSplitView::canSplit(c.extent, c.vertical), c.splits)
            << c.extent << (c.vertical ? " wide" : " high");
}

TEST(TerminalSplitViewTests, TheDividerKeepsAThirdOfTheSplitOnEachSideUpToAFixedMargin)
{
    struct Case
    {
        double extent;
        bool vertical;
        int proposed;
        int expected;
    };
    // Each split proposes 0 ... extent - 1 (the handle takes a point).
    const Case cases[] = {
        {300, true, 50, 100},  {300, true, 250, 199}, {300, true, 150, 150},  // a third: 100
        {900, true, 100, 160}, {900, true, 800, 739}, {900, true, 450, 450},  // at most 160
        {300, false, 10, 100}, {600, false, 10, 120}, {600, false, 590, 479}, // at most 120
        {2, true, 0, 0},                                                      // nothing to keep
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalSplitView::clampedPosition(c.proposed, 0, static_cast<int>(c.extent) - 1, c.extent,
                                                     c.vertical),
                  c.expected)
            << c.extent << (c.vertical ? " wide, " : " high, ") << "proposed " << c.proposed;
    EXPECT_EQ(TerminalSplitView::dividerMargin(0, true), 0);
}

} // namespace
} // namespace vesk
