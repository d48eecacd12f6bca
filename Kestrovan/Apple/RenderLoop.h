// The thread on which a GPU-backed view prepares and draws its frames, away from the main thread.
//
// The main thread's frame tick leaves its view state with the render owner and calls `signal()`;
// the loop wakes, runs its render callback once and sleeps again. Signals that arrive while a
// frame is pending merge into it, and because the pending flag is cleared before a frame runs, a
// signal during a frame schedules exactly one more. `invalidate()` stops the loop for good and,
// from any other thread, returns only once no frame is running; from inside a frame it does not
// wait for itself.
#pragma once

#include "Kestrovan/Locked.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace kestrovan {

struct RenderLoopCounters
{
    /// Calls of `signal()`.
    int signals = 0;
    /// Wake-ups that started a frame.
    int frames = 0;
    /// Signals merged into a frame already pending.
    int coalesced = 0;

    friend bool operator==(const RenderLoopCounters&, const RenderLoopCounters&) = default;
};

class RenderLoop
{
public:
    /// The full name of the loop's thread.
    static constexpr const char* threadName = "org.morvane.Kestrovan.render";

    /// Stores the work of one frame; nothing runs until `start()`.
    explicit RenderLoop(std::function<void()> onRender);
    /// Invalidates.
    ~RenderLoop();

    RenderLoop(const RenderLoop&) = delete;
    RenderLoop& operator=(const RenderLoop&) = delete;

    /// Starts the thread, once; nothing after `invalidate()`.
    void start();
    /// Asks for one frame; any thread.
    void signal();
    /// Stops for good; any thread.
    void invalidate();
    RenderLoopCounters counters() const;
    /// Starts a new measuring period: the three counters back to 0.
    void resetCounters();
    /// True while the loop has a thread and has not been stopped.
    bool isRunning() const;
    /// Runs `body` holding the frame lock, so that no frame of the loop runs meanwhile; never from
    /// the loop's own thread.
    template <typename F> void withFrameLock(F&& body)
    {
        platform::MutexLock frame(shared_->frameLock);
        body();
    }

private:
    /// A counting semaphore that sleeps on a condition, so every wake-up is visible to the thread
    /// sanitizer.
    class Semaphore
    {
    public:
        void release() EXCLUDES(mutex_);
        void acquire() EXCLUDES(mutex_);

    private:
        platform::Mutex mutex_;
        std::condition_variable available_;
        int count_ GUARDED_BY(mutex_) = 0;
    };

    struct ControlState
    {
        /// A frame was asked for and has not started yet.
        bool pending = false;
        bool stopped = false;
        /// The loop's thread, from `start()` until `invalidate()` takes it.
        std::thread thread;
        std::thread::id threadId;
        RenderLoopCounters counters;
    };

    /// What the thread shares with the object, kept alive by the thread until it leaves.
    struct Shared
    {
        explicit Shared(std::function<void()> render) : onRender(std::move(render)) {}

        const std::function<void()> onRender;
        /// Held for the whole of each frame; `invalidate()` takes it to wait for one in progress.
        platform::Mutex frameLock;
        Semaphore semaphore;
        Locked<ControlState> control;
    };

    static void run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared_;
};

} // namespace kestrovan
