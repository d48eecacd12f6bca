#include "Kestrovan/Apple/FrameDriverSignal.h"

#include "Kestrovan/Fatal.h"
#include "Platform/Dispatch/MainQueue.h"

namespace kestrovan {

std::shared_ptr<FrameDriverSignal> FrameDriverSignal::create()
{
    struct Made : FrameDriverSignal
    {};
    return std::make_shared<Made>();
}

bool FrameDriverSignal::claimDelivery(Guarded& guarded)
{
    State& state = guarded.state;
    if (state.deliveryScheduled || !state.sink || state.pending.isEmpty())
        return false;
    state.deliveryScheduled = true;
    ++guarded.deliveriesPosted;
    return true;
}

void FrameDriverSignal::postDelivery()
{
    // The delivery holds the signal weakly and runs the sink installed when it runs: a sink
    // dropped by shutdown meanwhile is not called.
    std::weak_ptr<FrameDriverSignal> weakSelf = weak_from_this();
    platform::MainQueue::shared()->async([weakSelf] {
        const std::shared_ptr<FrameDriverSignal> self = weakSelf.lock();
        if (!self)
            return;
        const Sink sink = self->guarded_.withLock([](Guarded& guarded) { return guarded.state.sink; });
        if (sink)
            sink();
    });
}

void FrameDriverSignal::publish(Events events)
{
    const bool post = guarded_.withLock([&](Guarded& guarded) {
        State& state = guarded.state;
        if (state.shutdownRequested)
            return false;
        // Parsed output matters only as the echo of the user's input; any other is a plain frame
        // request.
        if (events.contains(Events::outputParsed)) {
            if (state.inputAwaitingEcho)
                state.inputAwaitingEcho = false;
            else
                events.remove(Events::outputParsed);
        }
        state.pending.insert(events);
        // A running link takes a plain frame request at its next tick.
        if (state.linkRunning && events == Events::needsFrame)
            return false;
        return claimDelivery(guarded);
    });
    // Posted after the lock is released: the main queue has locks of its own.
    if (post)
        postDelivery();
}

void FrameDriverSignal::configure(Sink sink)
{
    const bool post = guarded_.withLock([&](Guarded& guarded) {
        State& state = guarded.state;
        if (state.sinkConfigured)
            fatal("FrameDriverSignal.configure(sink:) called twice");
        state.sinkConfigured = true;
        state.sink = std::move(sink);
        return claimDelivery(guarded);
    });
    if (post)
        postDelivery();
}

void FrameDriverSignal::setLinkRunning(bool running)
{
    const bool post = guarded_.withLock([&](Guarded& guarded) {
        guarded.state.linkRunning = running;
        // Bits published while the link ran were left for it; it will not tick any more.
        return !running && claimDelivery(guarded);
    });
    if (post)
        postDelivery();
}

void FrameDriverSignal::noteUserInput()
{
    guarded_.withLock([](Guarded& guarded) { guarded.state.inputAwaitingEcho = true; });
}

void FrameDriverSignal::requestShutdown()
{
    const bool post = guarded_.withLock([&](Guarded& guarded) {
        State& state = guarded.state;
        if (state.shutdownRequested)
            return false;
        state.shutdownRequested = true;
        state.pending = Events::shutdown;
        return claimDelivery(guarded);
    });
    if (post)
        postDelivery();
}

FrameDriverSignal::Events FrameDriverSignal::takePending()
{
    return guarded_.withLock([](Guarded& guarded) {
        const Events pending = guarded.state.pending;
        guarded.state.pending = Events();
        guarded.state.deliveryScheduled = false;
        return pending;
    });
}

void FrameDriverSignal::clearAfterShutdown()
{
    guarded_.withLock([](Guarded& guarded) {
        guarded.state.pending = Events();
        guarded.state.deliveryScheduled = false;
        guarded.state.linkRunning = false;
        guarded.state.sink = nullptr;
    });
}

FrameDriverSignal::State FrameDriverSignal::state() const
{
    return guarded_.withLock([](const Guarded& guarded) {
        State copy = guarded.state;
        copy.sink = nullptr;
        return copy;
    });
}

uint64_t FrameDriverSignal::deliveriesPosted() const
{
    return guarded_.withLock([](const Guarded& guarded) { return guarded.deliveriesPosted; });
}

} // namespace kestrovan
