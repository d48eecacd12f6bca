// Pointer input as the view reads it (buttons, scroll direction, click series) and the scroller's
// values against a toolkit adjustment.
#include "Platform/UI/PointerEvents.h"
#include "Platform/UI/ScrollerModel.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace platform;

TEST(PointerEvents, ButtonsAndScrollDirectionsAreTheViews)
{
    EXPECT_EQ(buttonNumberOfToolkitButton(1), 0) << "left";
    EXPECT_EQ(buttonNumberOfToolkitButton(3), 1) << "right";
    EXPECT_EQ(buttonNumberOfToolkitButton(2), 2) << "middle";
    EXPECT_EQ(buttonNumberOfToolkitButton(8), 7);
    EXPECT_EQ(buttonNumberOfToolkitButton(0), -1);

    // The wheel rolled away from the user: the toolkit says dy -1, the view scrolls towards the start.
    const ScrollEvent up =
        scrollEventFromToolkit(0, -1, false, Point{3, 4}, ModifierFlags{ModifierFlags::shift}, 9);
    EXPECT_EQ(up.scrollingDeltaY, 1);
    EXPECT_FALSE(up.hasPreciseScrollingDeltas);
    EXPECT_EQ(up.location, (Point{3, 4}));
    EXPECT_EQ(up.modifierFlags.raw, ModifierFlags::shift);
    const ScrollEvent touchpad = scrollEventFromToolkit(2.5, 7.25, true, Point{}, ModifierFlags{}, 0);
    EXPECT_EQ(touchpad.scrollingDeltaY, -7.25);
    EXPECT_EQ(touchpad.scrollingDeltaX, -2.5);
    EXPECT_TRUE(touchpad.hasPreciseScrollingDeltas);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const ScrollEvent broken = scrollEventFromToolkit(nan, INFINITY, true, Point{}, ModifierFlags{}, 0);
    EXPECT_EQ(broken.scrollingDeltaX, 0);
    EXPECT_EQ(broken.scrollingDeltaY, 0);
}

TEST(ClickCounter, ASeriesNeedsTheSameButtonSoonAndNear)
{
    ClickCounter clicks(400, 5);
    EXPECT_EQ(clicks.press(0, Point{10, 10}, 1000), 1);
    EXPECT_EQ(clicks.press(0, Point{12, 11}, 1300), 2);
    EXPECT_EQ(clicks.press(0, Point{12, 11}, 1700), 3) << "400 ms after the last press still counts";
    EXPECT_EQ(clicks.press(0, Point{12, 11}, 2101), 1) << "too late";
    EXPECT_EQ(clicks.press(0, Point{20, 11}, 2200), 1) << "too far";
    EXPECT_EQ(clicks.press(1, Point{20, 11}, 2300), 1) << "another button";
    EXPECT_EQ(clicks.press(1, Point{20, 11}, 2400), 2);
    clicks.reset();
    EXPECT_EQ(clicks.press(1, Point{20, 11}, 2500), 1);
    // The toolkit's millisecond clock wraps after 49 days; a series may straddle it.
    EXPECT_EQ(clicks.press(0, Point{}, 0xFFFFFF00u), 1);
    EXPECT_EQ(clicks.press(0, Point{}, 0x40u), 2);
}

TEST(HeldButtons, ReleasesMatchTheirPressesAndACancelEndsEveryPress)
{
    HeldButtons held;
    EXPECT_EQ(held.release(0), std::nullopt) << "a release whose press the view never saw";
    held.press(2, 1);
    held.press(0, 3);
    EXPECT_EQ(held.anyHeld(), 0) << "drags go with the lowest button held";
    EXPECT_EQ(held.release(0), 3) << "the release belongs to the triple click";
    EXPECT_EQ(held.release(0), std::nullopt) << "only once";
    EXPECT_EQ(held.anyHeld(), 2);
    // A press again of a held button (its release was lost) starts over with the new count.
    held.press(2, 2);
    held.press(1, 1);
    EXPECT_TRUE(held.isHeld(1));
    // The grab broke: every held press ends, each once, with its own click count.
    EXPECT_EQ(held.cancelAll(), (std::vector<std::pair<int, int>>{{2, 2}, {1, 1}}));
    EXPECT_TRUE(held.cancelAll().empty());
    EXPECT_EQ(held.anyHeld(), std::nullopt);
    EXPECT_FALSE(held.isHeld(2));
}

TEST(ScrollerModel, ShowsTheKnobAndReadsBackWhatTheUserDid)
{
    const ScrollerAdjustment half = adjustmentForScrollerState(ScrollerState{true, 0.5, 0.25});
    EXPECT_DOUBLE_EQ(half.pageSize, 0.25);
    EXPECT_DOUBLE_EQ(half.value, 0.375) << "half of the range 0 to 0.75";
    EXPECT_DOUBLE_EQ(scrollerPositionOfAdjustment(half.value, half.pageSize), 0.5);
    EXPECT_DOUBLE_EQ(scrollerPositionOfAdjustment(0.75, 0.25), 1.0);

    // Out-of-range and broken values are clamped: a full knob has no range and sits at the start.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(adjustmentForScrollerState(ScrollerState{true, nan, nan}).pageSize, 1.0);
    EXPECT_EQ(adjustmentForScrollerState(ScrollerState{true, nan, nan}).value, 0.0);
    EXPECT_EQ(adjustmentForScrollerState(ScrollerState{true, 7, -1}).value, 1.0);
    EXPECT_EQ(scrollerPositionOfAdjustment(0.3, 1.0), 0.0);

    EXPECT_EQ(scrollerPartOfChange(0.375, 0.625, half), ScrollerPart::incrementPage);
    EXPECT_EQ(scrollerPartOfChange(0.375, 0.125, half), ScrollerPart::decrementPage);
    EXPECT_EQ(scrollerPartOfChange(0.375, 0.41, half), ScrollerPart::knob);
    EXPECT_EQ(scrollerPartOfChange(0.375, 0.375 + half.stepIncrement, half), ScrollerPart::incrementLine);
    EXPECT_EQ(scrollerPartOfChange(0.6, 0.75, half), ScrollerPart::knob) << "a page cut short by the end";
}
