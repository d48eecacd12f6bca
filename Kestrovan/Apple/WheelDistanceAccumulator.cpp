#include "Kestrovan/Apple/WheelDistanceAccumulator.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

const char* wheelRouteName(WheelRoute route)
{
    switch (route) {
    case WheelRoute::mouse:
        return "mouse";
    case WheelRoute::cursorKeys:
        return "cursorKeys";
    case WheelRoute::localScrollback:
        return "localScrollback";
    case WheelRoute::none:
        return "none";
    }
    return "none";
}

int WheelDistanceAccumulator::takeWholeLines(double distance, double lineUnit, WheelRoute lineRoute,
                                             int limit)
{
    if (!(lineUnit > 0) || !std::isfinite(lineUnit) || !std::isfinite(distance))
        return 0;
    if (route != lineRoute || unit != lineUnit) {
        remainder = 0;
        route = lineRoute;
        unit = lineUnit;
    }
    const double total = distance + remainder;
    const double whole = std::trunc(total / lineUnit);
    const double most = double(std::max(limit, 0));
    if (std::abs(whole) > most) {
        // More lines than there are to scroll: the rest of such a fling means nothing.
        remainder = 0;
        return static_cast<int>(std::copysign(most, whole));
    }
    // The rest keeps the sign of the total, so small moves back and forth cancel out.
    remainder = total - whole * lineUnit;
    return static_cast<int>(whole);
}

} // namespace kestrovan
