#include "Kestrovan/TerminalIOGatherPacing.h"

namespace kestrovan {

void TerminalIOGatherPacing::beginSlot(uint64_t now)
{
    slotStart = now;
    bytesAtLastNap = 0;
    emptyReads = 0;
    napped = false;
    bridgeStart = 0;
    bridged = false;
    if (gap >= burstGapNs) {
        // Output after a pause is somebody typing or a command starting: treat it as new.
        largeReadStreak = 0;
        burstStart = now;
        holdOffUntil = 0;
    }
}

bool TerminalIOGatherPacing::napAllowed(uint64_t now) const
{
    // Never right after a bulk slot (the next bytes are surely close behind), never during a
    // hold-off, only while the slot is young, and never in the interactive start of a burst.
    return !previousSlotWasBulk && now >= holdOffUntil && now - slotStart < napWindowNs &&
           now - burstStart >= interactiveWindowNs;
}

TerminalIOGatherPacing::Action TerminalIOGatherPacing::afterEmptyRead(size_t filled, uint64_t now)
{
    if (filled < largeSlotBytes) {
        if (!napped) {
            if (filled == 0)
                return Action::idleWait;
            return napAllowed(now) ? Action::nap : Action::publish;
        }
        // A nap that brought nothing means the output has paused: hand on what there is.
        largeReadStreak = 0;
        if (filled <= bytesAtLastNap)
            return Action::publish;
        return napAllowed(now) ? Action::nap : Action::publish;
    }
    if (napped) {
        if (filled - bytesAtLastNap < largeSlotBytes) {
            largeReadStreak = 0;
            return Action::publish;
        }
        // A nap was followed by a large read: the output is bulk. Twice in a row, stop napping.
        if (++largeReadStreak >= 2) {
            largeReadStreak = 0;
            holdOffUntil = now + holdOffNs;
        }
        return Action::publish;
    }
    if (emptyReads < immediateRetries) {
        ++emptyReads;
        return Action::retry;
    }
    return Action::bridge;
}

void TerminalIOGatherPacing::noteNap(size_t filled)
{
    napped = true;
    bytesAtLastNap = filled;
}

bool TerminalIOGatherPacing::bridgeExpired(uint64_t now)
{
    if (bridged)
        return now - bridgeStart >= bridgeLimitNs;
    bridgeStart = now;
    return false;
}

void TerminalIOGatherPacing::notePublished(size_t filled)
{
    previousSlotWasBulk = filled >= largeSlotBytes && !napped;
}

} // namespace kestrovan
