// Turns scroll distances into whole lines, keeping the fraction for the next event.
//
// Touchpads scroll by points and high-resolution wheels by fractions of a notch; a line moves only
// once a whole unit (a cell's height in points, or one notch) has gathered. The fraction belongs to
// the route the scroll took and to its unit: a remainder gathered while scrolling the scrollback is
// never spent as reports to a program, nor points as notches. The count is clamped to a limit (the
// buffer's lines), since scrolling further moves nothing and converting a huge distance to an
// integer unchecked would be undefined.
#pragma once

#include <optional>

namespace kestrovan {

/// Where a scroll of the view goes.
enum class WheelRoute
{
    /// Wheel reports to a program that tracks the mouse.
    mouse,
    /// Cursor-up and -down keys for a full-screen program on the alternate screen.
    cursorKeys,
    /// The view's own scrollback.
    localScrollback,
    /// Nowhere: the event is dropped.
    none,
};

/// The route's name in the mouse log: "mouse", "cursorKeys", "localScrollback", "none".
const char* wheelRouteName(WheelRoute route);

struct WheelDistanceAccumulator
{
    /// The distance gathered but not yet a whole line, with the sign of its direction.
    double remainder = 0;
    /// The route and unit the remainder belongs to; none before the first event.
    std::optional<WheelRoute> route;
    double unit = 0;

    /// The whole lines in `distance` plus the remainder, `unit` to a line, positive towards the
    /// start of the content; the rest stays for the next event of the same route and unit (any
    /// other starts from nothing). A unit that is not above 0 or a distance that is not finite
    /// gives 0 and changes nothing. At most `limit` lines either way; a count cut to the limit
    /// leaves no remainder.
    int takeWholeLines(double distance, double unit, WheelRoute route, int limit);
    /// Forgets the remainder and its route.
    void reset() { *this = WheelDistanceAccumulator{}; }

    friend bool operator==(const WheelDistanceAccumulator&, const WheelDistanceAccumulator&) = default;
};

} // namespace kestrovan
