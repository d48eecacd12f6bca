// Display-refresh ticks that can be started and paused: what drives frames.
//
// A `DisplayLink` calls its handler once per display refresh while it runs and not at all while it
// is paused, so an idle view costs no wake-ups. Two kinds live here: `ManualDisplayLink`, which
// ticks when its host calls `tick()` (tests, and hosts without a window that decide for themselves
// when a refresh happens), and `TimerDisplayLink`, a thread of its own ticking at a given refresh
// rate (hosts without a window's frame clock). A window's frame clock is a third kind, added with
// the window layer. Links differ in where ticks run: on the main thread (manual, frame clock),
// where the handler may draw, or on the link's own thread, where it should only post work.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform {

class DisplayLink
{
public:
    using Handler = std::function<void()>;

    virtual ~DisplayLink() = default;

    /// What each tick runs; an empty handler makes ticks do nothing.
    virtual void setHandler(Handler handler) = 0;
    /// Starts ticking; does nothing when running or invalidated.
    virtual void start() = 0;
    /// Stops ticking until the next `start`.
    virtual void pause() = 0;
    virtual bool isRunning() const = 0;
    /// Stops for good and drops the handler: no tick starts after this returns.
    virtual void invalidate() = 0;
    /// True when ticks run on the main thread; false when they run on a thread of the link's own.
    virtual bool ticksOnMainThread() const = 0;
    /// True when the link costs nothing while paused or to start again, and its first tick after
    /// a start comes as soon as a refresh may (a window's frame clock that has been idle paints at
    /// once). A driver pauses such a link as soon as no frame is owed, so that new content starts
    /// a frame when it arrives instead of waiting for the next tick of a running clock. False for
    /// links with a fixed phase or a thread to wake.
    virtual bool resumesOnDemand() const { return false; }
    /// Asks a running link that resumes on demand for its next tick as soon as the display can
    /// take a frame, instead of after the rest of the refresh interval it keeps between two frames.
    /// Links with a fixed phase tick when they tick and ignore it.
    virtual void expediteTick() {}

    /// Starts from paused, pauses from running, and ticks that ran the handler, since creation.
    struct Counters
    {
        uint64_t starts = 0;
        uint64_t stops = 0;
        uint64_t ticks = 0;

        friend bool operator==(const Counters&, const Counters&) = default;
    };
    virtual Counters counters() const = 0;
};

/// Ticks only when `tick()` is called, on the calling thread (the main thread).
class ManualDisplayLink final : public DisplayLink
{
public:
    void setHandler(Handler handler) override EXCLUDES(mutex_);
    void start() override EXCLUDES(mutex_);
    void pause() override EXCLUDES(mutex_);
    bool isRunning() const override EXCLUDES(mutex_);
    void invalidate() override EXCLUDES(mutex_);
    bool ticksOnMainThread() const override { return true; }
    Counters counters() const override EXCLUDES(mutex_);

    /// One display refresh: runs the handler when the link is running; tells whether it did.
    bool tick() EXCLUDES(mutex_);

private:
    mutable Mutex mutex_;
    Handler handler_ GUARDED_BY(mutex_);
    bool running_ GUARDED_BY(mutex_) = false;
    bool invalidated_ GUARDED_BY(mutex_) = false;
    Counters counters_ GUARDED_BY(mutex_);
};

/// Ticks on a thread of its own at a fixed refresh rate. While paused the thread sleeps on a
/// condition with no timeout, so a paused link wakes nobody. The thread's state lives apart from
/// the object, so a handler may even drop the last reference to its own link.
class TimerDisplayLink final : public DisplayLink
{
public:
    /// A link ticking `refreshRate` times a second (at least 1, at most 1000; 60 when the rate is
    /// not a number); its thread, started on first use, is named `label`.
    explicit TimerDisplayLink(double refreshRate = 60.0, std::string label = "vesk-display-link");
    /// Invalidates.
    ~TimerDisplayLink() override;

    TimerDisplayLink(const TimerDisplayLink&) = delete;
    TimerDisplayLink& operator=(const TimerDisplayLink&) = delete;

    void setHandler(Handler handler) override;
    void start() override;
    void pause() override;
    bool isRunning() const override;
    void invalidate() override;
    bool ticksOnMainThread() const override { return false; }
    Counters counters() const override;

    /// The time between two ticks.
    std::chrono::steady_clock::duration interval() const;
    /// How often the thread has woken up, for showing that a paused link sleeps.
    uint64_t wakeUps() const;

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared_;
};

} // namespace platform
