// Decides whether a bell the terminal raised is delivered to the user.
//
// A program can ring the bell many times in a burst; the policy lets at most one bell through
// per 100 ms, measured from the last bell it delivered (not the last one rung), and counts the
// rest. With the style `none` nothing is delivered and every bell is counted. Times are passed in
// as monotonic nanoseconds, so the rule is tested without a clock.
#pragma once

#include "Kestrovan/Apple/BellStyle.h"
#include "Kestrovan/Locked.h"

#include <cstdint>

namespace kestrovan {

class BellPolicy
{
public:
    /// The least time between two delivered bells, less one nanosecond: a bell exactly 100 ms
    /// after the last delivered one passes.
    static constexpr uint64_t quietNanoseconds = 99'999'999;

    struct State
    {
        BellStyle style = BellStyle::sound;
        /// When the last bell was delivered; 0 means never.
        uint64_t lastDeliveryNs = 0;
        /// Bells not delivered; a change of style keeps the count.
        int64_t suppressedCount = 0;
    };

    /// True when a bell rung at `now` is to be delivered; any thread.
    bool shouldDeliver(uint64_t now);
    /// Stores a different style and forgets the last delivery, so the next bell passes at once.
    /// The same style again changes nothing.
    void setStyle(BellStyle style);

    State state() const;

private:
    Locked<State> state_;
};

} // namespace kestrovan
