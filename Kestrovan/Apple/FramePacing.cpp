#include "Kestrovan/Apple/FramePacing.h"

namespace kestrovan {

FramePacing::Decision FramePacing::frameOwed(uint64_t nowNs, bool linkTicking)
{
    // The user waits for this one: no tick is worth waiting for.
    if (echoPending_)
        return Decision::drawNow;
    // A running link takes the frame at its next tick; drawing now as well would draw twice in
    // one refresh.
    if (linkTicking)
        return Decision::awaitTick;
    // The first frame after a pause is drawn at once, but a burst of pauses and resumes still
    // draws at most one immediate frame per 16 ms.
    if (lastImmediateNs_ != 0 && nowNs - lastImmediateNs_ < immediateIntervalNs)
        return Decision::awaitTick;
    lastImmediateNs_ = nowNs;
    return Decision::drawNow;
}

} // namespace kestrovan
