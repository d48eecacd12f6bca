#include "Kestrovan/Apple/SynchronizedOutputWatchdog.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/Terminal.h"
#include "Platform/Sync/Mutex.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>

namespace kestrovan {

namespace {

/// The default timer: one item at a time on the shared I/O timer queue. Rescheduling cancels the
/// item queued before; an item that already started runs and finds itself stale (the watchdog
/// compares the clock with the deadline it armed).
class IOTimerSource final : public SynchronizedOutputWatchdog::TimerSource
{
public:
    SynchronizedOutputWatchdog::Clock::time_point now() const override
    {
        return SynchronizedOutputWatchdog::Clock::now();
    }

    void setHandler(std::function<void()> handler) override
    {
        platform::MutexLock guard(mutex_);
        handler_ = std::move(handler);
    }

    void schedule(std::optional<SynchronizedOutputWatchdog::Clock::time_point> deadline) override
    {
        platform::MutexLock guard(mutex_);
        item_.cancel();
        item_ = {};
        if (!deadline || cancelled_ || !handler_)
            return;
        item_ = IOTimerQueue::shared().schedule(*deadline, handler_);
    }

    void cancel() override
    {
        platform::MutexLock guard(mutex_);
        cancelled_ = true;
        item_.cancel();
        item_ = {};
    }

private:
    platform::Mutex mutex_;
    std::function<void()> handler_ GUARDED_BY(mutex_);
    platform::TimerQueue::Handle item_ GUARDED_BY(mutex_);
    bool cancelled_ GUARDED_BY(mutex_) = false;
};

} // namespace

/// The state the timer's handler shares with the watchdog; the handler holds it weakly.
struct SynchronizedOutputWatchdog::Target
{
    explicit Target(std::shared_ptr<TimerSource> timer) : source(std::move(timer)) {}

    void fire() EXCLUDES(mutex);

    const std::shared_ptr<TimerSource> source;
    mutable platform::Mutex mutex;
    std::condition_variable condition;
    std::shared_ptr<Terminal> terminal GUARDED_BY(mutex);
    std::optional<uint64_t> armedGeneration GUARDED_BY(mutex);
    std::optional<Clock::time_point> armedDeadline GUARDED_BY(mutex);
    bool invalidated GUARDED_BY(mutex) = false;
    int callsInFlight GUARDED_BY(mutex) = 0;
    Counters counters GUARDED_BY(mutex);
};

void SynchronizedOutputWatchdog::Target::fire()
{
    std::shared_ptr<Terminal> watched;
    uint64_t generation = 0;
    {
        platform::MutexLock guard(mutex);
        if (invalidated || !terminal || !armedGeneration || !armedDeadline)
            return;
        // An event from an earlier schedule that started before it could be cancelled.
        if (source->now() < *armedDeadline)
            return;
        watched = terminal;
        generation = *armedGeneration;
        armedGeneration.reset();
        armedDeadline.reset();
        ++callsInFlight;
        ++counters.fired;
    }
    // Our lock is released first: the feed path takes the terminal lock and then, after releasing
    // it, ours. The terminal ends the block only when it is still the one this generation armed.
    {
        TerminalLockGuard terminalGuard(watched->terminalLock());
        watched->synchronizedOutputWatchdogFired(generation);
    }
    // Dropped before the count falls, so a terminal released meanwhile is destroyed before
    // `invalidate` can return.
    watched.reset();
    platform::MutexLock guard(mutex);
    --callsInFlight;
    condition.notify_all();
}

SynchronizedOutputWatchdog::SynchronizedOutputWatchdog()
    : SynchronizedOutputWatchdog(std::make_shared<IOTimerSource>())
{}

SynchronizedOutputWatchdog::SynchronizedOutputWatchdog(std::shared_ptr<TimerSource> source)
    : target_(std::make_shared<Target>(std::move(source)))
{
    // The handler reaches the target weakly: a timer item never keeps a watchdog alive.
    std::weak_ptr<Target> weakTarget = target_;
    target_->source->setHandler([weakTarget] {
        if (const std::shared_ptr<Target> target = weakTarget.lock())
            target->fire();
    });
    target_->source->schedule(std::nullopt);
}

SynchronizedOutputWatchdog::~SynchronizedOutputWatchdog()
{
    invalidate();
}

SynchronizedOutputWatchdog::Clock::duration SynchronizedOutputWatchdog::timeoutDelay(double timeoutSeconds)
{
    // `!(x > 0)` also catches a NaN, which would make the conversion below undefined.
    if (!(timeoutSeconds > 0))
        return Clock::duration::zero();
    const double seconds = std::min(timeoutSeconds, 86400.0);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void SynchronizedOutputWatchdog::attach(const std::shared_ptr<Terminal>& terminal)
{
    Target& target = *target_;
    platform::MutexLock guard(target.mutex);
    if (target.invalidated || target.terminal == terminal)
        return;
    if (target.armedGeneration)
        ++target.counters.cancelled;
    target.terminal = terminal;
    target.armedGeneration.reset();
    target.armedDeadline.reset();
    target.source->schedule(std::nullopt);
}

void SynchronizedOutputWatchdog::update(bool active, uint64_t generation, double timeoutSeconds)
{
    Target& target = *target_;
    platform::MutexLock guard(target.mutex);
    if (target.invalidated || !target.terminal)
        return;
    if (!active) {
        // Only the end of the block that is armed disarms; an older block's end is stale.
        if (!target.armedGeneration || generation != *target.armedGeneration)
            return;
        target.armedGeneration.reset();
        target.armedDeadline.reset();
        ++target.counters.cancelled;
        target.source->schedule(std::nullopt);
        return;
    }
    if (!target.armedGeneration) {
        ++target.counters.armed;
    } else {
        // Generations wrap: the signed difference tells newer from older across the wrap. The
        // same or an older block must not push the deadline back, or a program repeating its
        // begin could keep the screen frozen for ever.
        const auto difference = static_cast<int64_t>(generation - *target.armedGeneration);
        if (difference <= 0)
            return;
        ++target.counters.rearmed;
    }
    const Clock::time_point deadline = target.source->now() + timeoutDelay(timeoutSeconds);
    target.armedGeneration = generation;
    target.armedDeadline = deadline;
    target.source->schedule(deadline);
}

void SynchronizedOutputWatchdog::invalidate()
{
    Target& target = *target_;
    platform::MutexLock guard(target.mutex);
    if (target.invalidated)
        return;
    if (target.terminal && target.terminal->terminalLock().isHeldByCurrentThread())
        fatal("SynchronizedOutputWatchdog.invalidate: called with the terminal lock held, which a firing "
              "in progress may be waiting for");
    target.invalidated = true;
    target.terminal.reset();
    target.armedGeneration.reset();
    target.armedDeadline.reset();
    target.source->schedule(std::nullopt);
    target.source->cancel();
    // A firing that already left our lock may be inside the terminal; wait until it is out.
    while (target.callsInFlight != 0)
        target.mutex.wait(target.condition);
}

SynchronizedOutputWatchdog::Counters SynchronizedOutputWatchdog::counters() const
{
    platform::MutexLock guard(target_->mutex);
    return target_->counters;
}

std::optional<uint64_t> SynchronizedOutputWatchdog::armedGeneration() const
{
    platform::MutexLock guard(target_->mutex);
    return target_->armedGeneration;
}

std::optional<SynchronizedOutputWatchdog::Clock::time_point> SynchronizedOutputWatchdog::armedDeadline() const
{
    platform::MutexLock guard(target_->mutex);
    return target_->armedDeadline;
}

} // namespace kestrovan
