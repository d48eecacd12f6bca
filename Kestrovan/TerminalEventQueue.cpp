#include "Kestrovan/TerminalEventQueue.h"

#include "Kestrovan/Fatal.h"
#include "Platform/Dispatch/MainQueue.h"

#include <utility>

namespace kestrovan {

std::shared_ptr<TerminalEventQueue> TerminalEventQueue::create()
{
    return std::make_shared<TerminalEventQueue>(Passkey{});
}

void TerminalEventQueue::configure(DrainHandler onDrain, InlinePermission canDeliverInline)
{
    const bool again = state.withLock([&](State& s) {
        if (s.configured)
            return true;
        s.configured = true;
        s.onDrain = std::move(onDrain);
        s.canDeliverInline = std::move(canDeliverInline);
        return false;
    });
    // A second receiver would silently replace the first one's notifications.
    if (again)
        fatal("TerminalEventQueue configured twice");
}

void TerminalEventQueue::post(TerminalEvent event)
{
    const uint32_t bit = terminalEventMask(event);

    // The permission runs unlocked, so it may itself read or post to this queue.
    const InlinePermission canDeliverInline =
        state.withLock([](const State& s) { return s.canDeliverInline; });
    const auto mainQueue = platform::MainQueue::installed();
    if (mainQueue && mainQueue->isCurrent() && canDeliverInline && canDeliverInline()) {
        // Inline delivery takes what background posts left pending too; a drain already queued
        // then finds nothing and does nothing.
        const uint32_t mask = state.withLock([&](State& s) {
            s.posts += 1;
            const uint32_t taken = s.pending | bit;
            s.pending = 0;
            s.drainScheduled = false;
            s.drains += 1;
            return taken;
        });
        deliver(mask);
        return;
    }

    const bool schedule = state.withLock([&](State& s) {
        s.posts += 1;
        s.pending |= bit;
        if (s.drainScheduled)
            return false;
        s.drainScheduled = true;
        return true;
    });
    if (!schedule)
        return;
    // Held weakly: a queue released before the main thread runs the drain loses its posts quietly.
    platform::MainQueue::shared()->async([weak = weak_from_this()] {
        if (const auto queue = weak.lock())
            queue->drain();
    });
}

TerminalEventQueue::State TerminalEventQueue::snapshot() const
{
    return state.withLock([](const State& s) { return s; });
}

void TerminalEventQueue::drain()
{
    const uint32_t mask = state.withLock([](State& s) {
        const uint32_t taken = s.pending;
        s.pending = 0;
        s.drainScheduled = false;
        s.drains += 1;
        return taken;
    });
    deliver(mask);
}

void TerminalEventQueue::deliver(uint32_t mask)
{
    if (mask == 0)
        return;
    const DrainHandler onDrain = state.withLock([](const State& s) { return s.onDrain; });
    if (!onDrain)
        return;
    // Fixed order whatever the order of posting: a receiver sees the buffer switch before it reads
    // the mouse mode or the program status that belongs to the new buffer.
    for (TerminalEvent event : allTerminalEvents) {
        if (mask & terminalEventMask(event))
            onDrain(event);
    }
}

} // namespace kestrovan
