#include "Kestrovan/Apple/TerminalInputSender.h"

#include "Kestrovan/Fatal.h"
#include "Platform/Dispatch/MainQueue.h"

#include <utility>

namespace kestrovan {

namespace {

bool onMainThread()
{
    const std::shared_ptr<platform::MainQueue> main = platform::MainQueue::installed();
    return main && main->isCurrent();
}

} // namespace

void TerminalInputSender::send(std::span<const uint8_t> data)
{
    // The callbacks are copied out and called without the lock, so a callback may replace them.
    const State callbacks = state_.withLock([](const State& state) { return state; });
    if (callbacks.registerInput)
        callbacks.registerInput(data);
    if (onMainThread()) {
        if (callbacks.notifyUI)
            callbacks.notifyUI();
        if (callbacks.deliverOnMain)
            callbacks.deliverOnMain(data);
        return;
    }
    // Off the main thread the caret steps follow later, independently of the delivery, which
    // happens now on this thread so that bytes keep the order they were sent in.
    if (callbacks.notifyUI)
        platform::MainQueue::shared()->async(callbacks.notifyUI);
    if (callbacks.deliver)
        callbacks.deliver(data);
}

void TerminalInputSender::replaceDelivery(BytesCallback delivery)
{
    state_.withLock([&](State& state) {
        state.deliver = delivery;
        state.deliverOnMain = std::move(delivery);
    });
}

void TerminalInputSender::install(State callbacks)
{
    state_.withLock([&](State& state) { state = std::move(callbacks); });
}

// --- Main-thread delivery ----------------------------------------------------------------------

std::shared_ptr<TerminalInputMainActorDelivery> TerminalInputMainActorDelivery::create(Sink sink)
{
    return std::make_shared<TerminalInputMainActorDelivery>(Passkey{}, std::move(sink));
}

void TerminalInputMainActorDelivery::enqueue(std::span<const uint8_t> batch)
{
    const bool scheduleDrain = state_.withLock([&](State& state) {
        state.pending.emplace_back(batch.begin(), batch.end());
        // A drain already on its way picks this batch up after the earlier ones.
        if (state.drainScheduled)
            return false;
        state.drainScheduled = true;
        return true;
    });
    if (!scheduleDrain)
        return;
    if (onMainThread()) {
        drain();
        return;
    }
    state_.withLock([](State& state) { state.hopsScheduled += 1; });
    platform::MainQueue::shared()->async([self = shared_from_this()] { self->drain(); });
}

void TerminalInputMainActorDelivery::drain()
{
    KESTROVAN_ASSERT(onMainThread(), "TerminalInputMainActorDelivery.drain: not on the main thread");
    std::vector<std::vector<uint8_t>> taken;
    for (;;) {
        const bool finished = state_.withLock([&](State& state) {
            if (state.pending.empty()) {
                state.drainScheduled = false;
                return true;
            }
            // The emptied list goes back in place of the taken one, keeping its capacity.
            taken.clear();
            std::swap(taken, state.pending);
            return false;
        });
        if (finished)
            return;
        for (const std::vector<uint8_t>& batch : taken)
            sink_(batch);
    }
}

uint64_t TerminalInputMainActorDelivery::drainsScheduled() const
{
    return state_.withLock([](const State& state) { return state.hopsScheduled; });
}

} // namespace kestrovan
