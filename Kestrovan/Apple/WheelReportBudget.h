// The token bucket that limits how many wheel reports the view sends a program.
//
// A fast trackpad swipe produces dozens of scroll events; sent one report per line, they flood a
// program that redraws on each. The bucket refills at 100 tokens a second and holds at most 6,
// so a burst gets through at once and a steady stream is held to 100 reports a second. Times are
// passed in as monotonic nanoseconds.
#pragma once

#include <cstdint>

namespace kestrovan {

struct WheelReportBudget
{
    /// Tokens gained per second.
    static constexpr double refillPerSecond = 100;
    /// The most tokens the bucket holds.
    static constexpr double capacity = 6;

    double allowance = capacity;
    /// When the bucket was last refilled.
    uint64_t stampNanoseconds = 0;

    /// A full bucket stamped `now`.
    static WheelReportBudget startingAt(uint64_t nowNanoseconds) { return {capacity, nowNanoseconds}; }

    /// How many of `requested` reports may be sent now; the granted ones are taken from the bucket.
    /// A request below 1 grants nothing and changes nothing.
    int grant(int requested, uint64_t nowNanoseconds);

    friend bool operator==(const WheelReportBudget&, const WheelReportBudget&) = default;
};

} // namespace kestrovan
