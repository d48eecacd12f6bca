// Synchronized output and its watchdog (SynchronizedOutput.h).
#include "Kestrovan/SynchronizedOutput.h"

#include "Kestrovan/IOTimerQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace kestrovan {

bool SynchronizedOutput::begin()
{
    const bool wasActive = active_;
    active_ = true;
    // A begin while active starts a new update: the watchdog is re-armed for a full time-out.
    ++generation_;
    watchdogDue_ = true;
    return !wasActive;
}

bool SynchronizedOutput::end()
{
    if (!active_)
        return false;
    active_ = false;
    watchdogDue_ = true;
    return true;
}

bool SynchronizedOutput::takeWatchdogDue()
{
    return std::exchange(watchdogDue_, false);
}

void SynchronizedOutput::applyWatchdog(bool active, std::function<void()> expire)
{
    if (!active) {
        if (timeoutItem_) {
            timeoutItem_->cancel();
            timeoutItem_.reset();
            ++counters_.cancelled;
        }
        return;
    }
    if (timeoutItem_) {
        timeoutItem_->cancel();
        ++counters_.rearmed;
    } else {
        ++counters_.armed;
    }
    // A time-out that is not positive (or not a number) fires at once; a huge one waits a day.
    const double seconds = timeoutSeconds_ > 0 ? std::min(timeoutSeconds_, 86400.0) : 0.0;
    const auto delay = std::chrono::duration_cast<platform::TimerQueue::Clock::duration>(
        std::chrono::duration<double>(seconds));
    timeoutItem_ =
        IOTimerQueue::shared().schedule(platform::TimerQueue::Clock::now() + delay, std::move(expire));
}

bool SynchronizedOutput::watchdogFired(uint64_t generation)
{
    // A late firing for an update that ended, or that a later begin re-armed, is harmless.
    if (!active_ || generation != generation_)
        return false;
    ++counters_.fired;
    timeoutItem_.reset();
    return true;
}

} // namespace kestrovan
