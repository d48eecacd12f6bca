// The scroller's values as the view speaks of them (enabled, knob position from 0 to 1, knob
// proportion of the track) and their translation to and from a toolkit adjustment.
//
// The adjustment runs from 0 to 1 with a page as large as the knob, so its value goes from 0 to
// 1 - proportion; the knob position is that value over its range. What the user did is read back
// from the change: a step of exactly one page is a click in the track before or after the knob,
// any other change a move of the knob.
#pragma once

namespace platform {

struct ScrollerState
{
    bool isEnabled = false;
    /// The knob's position: 0 at the start of the track, 1 at its end.
    double doubleValue = 0;
    /// The knob's share of the track, from 0 to 1.
    double knobProportion = 0.1;

    friend bool operator==(const ScrollerState&, const ScrollerState&) = default;
};

/// The part of the scroller the user worked.
enum class ScrollerPart
{
    noPart,
    decrementPage,
    knob,
    incrementPage,
    decrementLine,
    incrementLine,
    knobSlot,
};

/// The values of a toolkit adjustment.
struct ScrollerAdjustment
{
    double value = 0;
    double lower = 0;
    double upper = 1;
    double pageSize = 1;
    double stepIncrement = 0;
    double pageIncrement = 0;

    friend bool operator==(const ScrollerAdjustment&, const ScrollerAdjustment&) = default;
};

/// The adjustment showing `state`; values out of range or not numbers are clamped (a proportion
/// that is not a number shows a full knob, a position that is not a number the start).
ScrollerAdjustment adjustmentForScrollerState(const ScrollerState& state);

/// The knob position of an adjustment value with the given page size.
double scrollerPositionOfAdjustment(double value, double pageSize);

/// What the user did when the adjustment went from `oldValue` to `newValue`.
ScrollerPart scrollerPartOfChange(double oldValue, double newValue, const ScrollerAdjustment& adjustment);

} // namespace platform
