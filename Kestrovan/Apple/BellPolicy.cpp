#include "Kestrovan/Apple/BellPolicy.h"

namespace kestrovan {

bool BellPolicy::shouldDeliver(uint64_t now)
{
    return state_.withLock([now](State& state) {
        // A clock that went backwards (now before the last delivery) counts as no time passed.
        const bool quietLongEnough =
            state.lastDeliveryNs == 0 ||
            (now > state.lastDeliveryNs && now - state.lastDeliveryNs > quietNanoseconds);
        if (state.style != BellStyle::none && quietLongEnough) {
            state.lastDeliveryNs = now;
            return true;
        }
        state.suppressedCount += 1;
        return false;
    });
}

void BellPolicy::setStyle(BellStyle style)
{
    state_.withLock([style](State& state) {
        if (state.style == style)
            return;
        state.style = style;
        state.lastDeliveryNs = 0;
    });
}

BellPolicy::State BellPolicy::state() const
{
    return state_.withLock([](const State& state) { return state; });
}

} // namespace kestrovan
