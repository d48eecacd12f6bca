#include "Platform/UI/ScrollerModel.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

double clampedUnit(double v, double ifNotANumber)
{
    if (std::isnan(v))
        return ifNotANumber;
    return std::clamp(v, 0.0, 1.0);
}

// Changes are compared with a little slack for the toolkit's floating-point arithmetic.
bool nearly(double a, double b)
{
    return std::abs(a - b) < 1e-9;
}

} // namespace

ScrollerAdjustment adjustmentForScrollerState(const ScrollerState& state)
{
    ScrollerAdjustment adjustment;
    adjustment.pageSize = clampedUnit(state.knobProportion, 1.0);
    const double range = 1.0 - adjustment.pageSize;
    adjustment.value = clampedUnit(state.doubleValue, 0.0) * range;
    adjustment.pageIncrement = adjustment.pageSize;
    // One tenth of a page; it only needs to differ from a page so that the two read apart.
    adjustment.stepIncrement = adjustment.pageSize / 10;
    return adjustment;
}

double scrollerPositionOfAdjustment(double value, double pageSize)
{
    const double range = 1.0 - clampedUnit(pageSize, 1.0);
    if (!(range > 0))
        return 0;
    return clampedUnit(value / range, 0.0);
}

ScrollerPart scrollerPartOfChange(double oldValue, double newValue, const ScrollerAdjustment& adjustment)
{
    const double delta = newValue - oldValue;
    if (adjustment.pageIncrement > 0 && nearly(delta, adjustment.pageIncrement))
        return ScrollerPart::incrementPage;
    if (adjustment.pageIncrement > 0 && nearly(delta, -adjustment.pageIncrement))
        return ScrollerPart::decrementPage;
    if (adjustment.stepIncrement > 0 && nearly(delta, adjustment.stepIncrement))
        return ScrollerPart::incrementLine;
    if (adjustment.stepIncrement > 0 && nearly(delta, -adjustment.stepIncrement))
        return ScrollerPart::decrementLine;
    return ScrollerPart::knob;
}

} // namespace platform
