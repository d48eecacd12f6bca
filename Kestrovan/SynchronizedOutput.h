// Synchronized output (DEC private mode 2026): whether a program holds the screen back while it
// draws an update, the generation that tells one update from the next, and the watchdog that ends
// an update a program left open.
//
// The terminal owns one. It turns the mode on and off here, tells its host of each change, and
// arms or cancels the watchdog once per feed: beginning or ending an update inside a feed only
// marks the watchdog as due (`watchdogDue`), and the outermost feed applies it when it ends. A
// terminal built by a view hands the watchdog to its host; any other terminal arms the timer here,
// on the engine's shared timer queue. The generation rises with every begin, so a late firing never
// ends a newer update.
#pragma once

#include "Platform/Dispatch/TimerQueue.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace kestrovan {

class SynchronizedOutput
{
public:
    /// How often the terminal's own watchdog was armed from disarmed, re-armed while armed,
    /// cancelled and fired (ending an update).
    struct WatchdogCounters
    {
        int armed = 0;
        int rearmed = 0;
        int cancelled = 0;
        int fired = 0;
    };

    /// Whether an update is being held back.
    bool active() const { return active_; }
    /// Rises each time an update begins.
    uint64_t generation() const { return generation_; }
    /// The watchdog must be re-armed or cancelled when the outermost feed ends.
    bool watchdogDue() const { return watchdogDue_; }
    /// How long an update may hold the screen before the watchdog ends it; read when the watchdog
    /// is next armed.
    double timeoutSeconds() const { return timeoutSeconds_; }
    void setTimeoutSeconds(double seconds) { timeoutSeconds_ = seconds; }
    /// The armed timer of the terminal's own watchdog, when one is armed.
    const std::optional<platform::TimerQueue::Handle>& timeoutItem() const { return timeoutItem_; }
    const WatchdogCounters& watchdogCounters() const { return counters_; }

    /// Begins an update (a begin while active starts a new one) and marks the watchdog due.
    /// Answers whether the mode was off before, so the host is told of the change.
    bool begin();
    /// Ends the update and marks the watchdog due; false, changing nothing, when none was active.
    bool end();
    /// Whether the watchdog is due, clearing the mark.
    bool takeWatchdogDue();

    /// The terminal's own watchdog: cancels the timer, or arms it (re-arming a running one) for a
    /// full time-out after which `expire` runs on the shared timer queue.
    void applyWatchdog(bool active, std::function<void()> expire);
    /// The watchdog of `generation` ran out: true, counting the firing and forgetting the timer,
    /// when that update is still the one being held back; a late firing changes nothing.
    bool watchdogFired(uint64_t generation);

private:
    bool active_ = false;
    uint64_t generation_ = 0;
    bool watchdogDue_ = false;
    double timeoutSeconds_ = 1.0;
    std::optional<platform::TimerQueue::Handle> timeoutItem_;
    WatchdogCounters counters_;
};

} // namespace kestrovan
