// Timers whose work runs on the main thread: the text-blink phase, the time-out of a progress
// report, anything a view wants done later or again and again.
//
// `MainThreadTimers::system()` schedules on the monotonic clock: a timer thread notices each
// deadline and posts the firing to the main queue, where it runs unless the timer was invalidated
// meanwhile. `ManualMainThreadTimers` is the test twin: its clock stands still until `advance`
// moves it, and the firings that fall due run right there, in deadline order. Both are used from
// the main thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class MainThreadTimers
{
public:
    using Clock = std::chrono::steady_clock;

    /// One scheduled timer. Dropping the handle does not stop the timer; `invalidate` does.
    class Timer
    {
    public:
        virtual ~Timer() = default;
        /// Stops the timer for good: no firing starts after this returns. Main thread.
        virtual void invalidate() = 0;
        /// False once invalidated, and once a one-shot timer has fired.
        virtual bool isValid() const = 0;
    };

    virtual ~MainThreadTimers() = default;

    /// The current time on the timers' clock.
    virtual Clock::time_point now() const = 0;
    /// Runs `fire` on the main thread `interval` from now and, when `repeats`, every `interval`
    /// after that (an interval below 1 ms counts as 1 ms). A repeating timer skips the firings it
    /// missed while the main thread was busy.
    virtual std::shared_ptr<Timer> schedule(Clock::duration interval, bool repeats,
                                            std::function<void()> fire) = 0;

    /// Nanoseconds on the timers' clock, for the decisions that are given times rather than
    /// reading a clock (bell rate, wheel budget).
    uint64_t uptimeNanoseconds() const;

    /// The process's timers on the steady clock; firings go through the installed main queue.
    static std::shared_ptr<MainThreadTimers> system();
};

class ManualMainThreadTimers final : public MainThreadTimers
{
public:
    ManualMainThreadTimers();

    Clock::time_point now() const override { return now_; }
    std::shared_ptr<Timer> schedule(Clock::duration interval, bool repeats,
                                    std::function<void()> fire) override;

    /// Moves the clock on by `by`, running every firing that falls due on the way, in order of
    /// deadline (and of scheduling, for equal deadlines), on the calling thread.
    void advance(Clock::duration by);
    /// Timers still valid.
    size_t activeCount() const;
    /// Firings run so far.
    uint64_t firings() const { return firings_; }

private:
    struct Entry;
    class ManualTimer;

    Clock::time_point now_;
    uint64_t nextSequence_ = 0;
    uint64_t firings_ = 0;
    std::vector<std::shared_ptr<Entry>> entries_;
};

} // namespace platform
