// Ends a synchronized-output block that a program left open.
//
// While synchronized output is on, the view keeps showing the last frame; a program that never
// switches it off would freeze the screen. The watchdog is a one-shot timer per terminal: the
// render owner hands it the last (active, generation) pair of each feed transaction after the
// terminal lock is released, and when the block has lasted the terminal's timeout the timer ends
// it under the terminal lock. The generation, which the terminal raises each time a block begins,
// keeps a late timer from ending a newer block: an update for the same or an older generation
// never pushes the deadline back, and the terminal itself compares the generation again when the
// timer fires.
//
// Locks: the watchdog's own lock is never held while the terminal lock is taken. The timer
// releases it before it takes the terminal lock, and `update` is only called after a feed has
// released the terminal lock. `invalidate` waits until a firing that is ending a block has left
// the terminal, so the terminal is never touched after it returns.
#pragma once

#include "Platform/Dispatch/TimerQueue.h"
#include "Platform/Sync/ThreadSafety.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kestrovan {

class Terminal;

class SynchronizedOutputWatchdog
{
public:
    using Clock = platform::TimerQueue::Clock;

    struct Counters
    {
        /// Arms from disarmed.
        int armed = 0;
        /// Arms for a newer generation while armed.
        int rearmed = 0;
        /// Disarms by an inactive update or by attaching another terminal.
        int cancelled = 0;
        /// Firings that went to the terminal to end its block.
        int fired = 0;

        friend bool operator==(const Counters&, const Counters&) = default;
    };

    /// The one-shot timer the watchdog arms and the clock its deadlines are read on. The default
    /// runs on the engine's shared I/O timer queue; tests give one they drive by hand.
    class TimerSource
    {
    public:
        virtual ~TimerSource() = default;
        /// The current time on the source's clock.
        virtual Clock::time_point now() const = 0;
        /// What a firing runs, on the source's thread; set once, before anything is scheduled.
        virtual void setHandler(std::function<void()> handler) = 0;
        /// Fires once at `deadline`, replacing any earlier schedule; absent disarms.
        virtual void schedule(std::optional<Clock::time_point> deadline) = 0;
        /// Stops for good: nothing scheduled starts any more.
        virtual void cancel() = 0;
    };

    /// A watchdog on the shared I/O timer queue.
    SynchronizedOutputWatchdog();
    explicit SynchronizedOutputWatchdog(std::shared_ptr<TimerSource> source);
    /// Invalidates.
    ~SynchronizedOutputWatchdog();

    SynchronizedOutputWatchdog(const SynchronizedOutputWatchdog&) = delete;
    SynchronizedOutputWatchdog& operator=(const SynchronizedOutputWatchdog&) = delete;

    /// Watches `terminal`: another terminal than the one watched disarms the timer.
    void attach(const std::shared_ptr<Terminal>& terminal);
    /// A block began (`active`) or ended for `generation`; `timeoutSeconds` is the terminal's
    /// timeout. Must be called without the watched terminal's lock.
    void update(bool active, uint64_t generation, double timeoutSeconds);
    /// Stops for good, waiting for a firing in progress. Must not be called with the watched
    /// terminal's lock held (the firing may be waiting for it); that stops the program.
    void invalidate();

    Counters counters() const;
    /// The generation armed for, and when it may fire; absent when disarmed.
    std::optional<uint64_t> armedGeneration() const;
    std::optional<Clock::time_point> armedDeadline() const;

    /// The delay a timeout in seconds stands for: not positive (or not a number) fires at once,
    /// and a huge one waits a day.
    static Clock::duration timeoutDelay(double timeoutSeconds);

private:
    struct Target;
    std::shared_ptr<Target> target_;
};

} // namespace kestrovan
