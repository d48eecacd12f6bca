#include "Platform/Dispatch/DisplayLink.h"

#include "Platform/Dispatch/ThreadRegistry.h"

#include <algorithm>
#include <cmath>

namespace platform {

// --- Manual --------------------------------------------------------------------------------------

void ManualDisplayLink::setHandler(Handler handler)
{
    MutexLock guard(mutex_);
    if (!invalidated_)
        handler_ = std::move(handler);
}

void ManualDisplayLink::start()
{
    MutexLock guard(mutex_);
    if (running_ || invalidated_)
        return;
    running_ = true;
    ++counters_.starts;
}

void ManualDisplayLink::pause()
{
    MutexLock guard(mutex_);
    if (!running_)
        return;
    running_ = false;
    ++counters_.stops;
}

bool ManualDisplayLink::isRunning() const
{
    MutexLock guard(mutex_);
    return running_;
}

void ManualDisplayLink::invalidate()
{
    MutexLock guard(mutex_);
    if (running_)
        ++counters_.stops;
    running_ = false;
    invalidated_ = true;
    handler_ = nullptr;
}

DisplayLink::Counters ManualDisplayLink::counters() const
{
    MutexLock guard(mutex_);
    return counters_;
}

bool ManualDisplayLink::tick()
{
    Handler handler;
    {
        MutexLock guard(mutex_);
        if (!running_)
            return false;
        ++counters_.ticks;
        handler = handler_;
    }
    // Outside the lock: the handler may pause or restart the link.
    if (handler)
        handler();
    return true;
}

// --- Timer thread --------------------------------------------------------------------------------

namespace {

std::chrono::steady_clock::duration intervalOf(double refreshRate)
{
    // A rate that is not a number would make the division meaningless; out-of-range rates are
    // clamped so the thread neither spins nor stalls.
    const double rate = std::isnan(refreshRate) ? 60.0 : std::clamp(refreshRate, 1.0, 1000.0);
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / rate));
}

} // namespace

struct TimerDisplayLink::Shared
{
    Shared(std::chrono::steady_clock::duration tickInterval, std::string threadLabel)
        : interval(tickInterval), label(std::move(threadLabel))
    {}

    const std::chrono::steady_clock::duration interval;
    const std::string label;
    Mutex mutex;
    std::condition_variable changed;
    Handler handler GUARDED_BY(mutex);
    bool running GUARDED_BY(mutex) = false;
    bool invalidated GUARDED_BY(mutex) = false;
    Counters counters GUARDED_BY(mutex);
    uint64_t wakeUps GUARDED_BY(mutex) = 0;
    std::thread thread GUARDED_BY(mutex);
};

TimerDisplayLink::TimerDisplayLink(double refreshRate, std::string label)
    : shared_(std::make_shared<Shared>(intervalOf(refreshRate), std::move(label)))
{}

TimerDisplayLink::~TimerDisplayLink()
{
    invalidate();
}

void TimerDisplayLink::setHandler(Handler handler)
{
    MutexLock guard(shared_->mutex);
    if (!shared_->invalidated)
        shared_->handler = std::move(handler);
}

void TimerDisplayLink::start()
{
    {
        MutexLock guard(shared_->mutex);
        if (shared_->running || shared_->invalidated)
            return;
        shared_->running = true;
        ++shared_->counters.starts;
        // Made on first start, so a link that never runs costs no thread. The thread waits for
        // this lock before it looks at anything.
        if (!shared_->thread.joinable())
            shared_->thread = std::thread(run, shared_);
        // Notified under the lock: once it is released a tick may release this object.
        shared_->changed.notify_all();
    }
}

void TimerDisplayLink::pause()
{
    {
        MutexLock guard(shared_->mutex);
        if (!shared_->running)
            return;
        shared_->running = false;
        ++shared_->counters.stops;
    }
    shared_->changed.notify_all();
}

bool TimerDisplayLink::isRunning() const
{
    MutexLock guard(shared_->mutex);
    return shared_->running;
}

void TimerDisplayLink::invalidate()
{
    std::thread thread;
    {
        MutexLock guard(shared_->mutex);
        if (shared_->invalidated)
            return;
        if (shared_->running)
            ++shared_->counters.stops;
        shared_->running = false;
        shared_->invalidated = true;
        shared_->handler = nullptr;
        thread = std::move(shared_->thread);
    }
    shared_->changed.notify_all();
    if (!thread.joinable())
        return;
    // A handler that invalidates its own link cannot wait for its own thread; the thread holds
    // the shared state and leaves when the handler returns.
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

DisplayLink::Counters TimerDisplayLink::counters() const
{
    MutexLock guard(shared_->mutex);
    return shared_->counters;
}

std::chrono::steady_clock::duration TimerDisplayLink::interval() const
{
    return shared_->interval;
}

uint64_t TimerDisplayLink::wakeUps() const
{
    MutexLock guard(shared_->mutex);
    return shared_->wakeUps;
}

void TimerDisplayLink::run(std::shared_ptr<Shared> shared)
{
    setCurrentThreadName(shared->label);
    MutexLock guard(shared->mutex);
    auto next = std::chrono::steady_clock::now() + shared->interval;
    while (!shared->invalidated) {
        if (!shared->running) {
            // Paused: sleep until started or invalidated, with no timeout.
            shared->mutex.wait(shared->changed);
            ++shared->wakeUps;
            next = std::chrono::steady_clock::now() + shared->interval;
            continue;
        }
        const std::cv_status status = shared->mutex.waitUntil(shared->changed, next);
        ++shared->wakeUps;
        if (status != std::cv_status::timeout || !shared->running || shared->invalidated)
            continue;
        // Ticks keep to the refresh grid; a tick that ran long skips the refreshes it missed.
        next += shared->interval;
        const auto now = std::chrono::steady_clock::now();
        if (next <= now)
            next = now + shared->interval;
        ++shared->counters.ticks;
        Handler handler = shared->handler;
        guard.unlock();
        if (handler)
            handler();
        guard.lock();
    }
}

} // namespace platform
