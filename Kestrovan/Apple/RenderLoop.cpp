#include "Kestrovan/Apple/RenderLoop.h"

#include "Platform/Dispatch/ThreadRegistry.h"

namespace kestrovan {

void RenderLoop::Semaphore::release()
{
    {
        platform::MutexLock guard(mutex_);
        ++count_;
    }
    available_.notify_one();
}

void RenderLoop::Semaphore::acquire()
{
    platform::MutexLock guard(mutex_);
    while (count_ == 0)
        mutex_.wait(available_);
    --count_;
}

RenderLoop::RenderLoop(std::function<void()> onRender)
    : shared_(std::make_shared<Shared>(std::move(onRender)))
{}

RenderLoop::~RenderLoop()
{
    invalidate();
}

void RenderLoop::start()
{
    shared_->control.withLock([&](ControlState& control) {
        if (control.thread.joinable() || control.stopped)
            return;
        // The thread first waits on the semaphore, so starting it under this lock cannot block it.
        control.thread = std::thread(run, shared_);
        control.threadId = control.thread.get_id();
    });
}

void RenderLoop::resetCounters()
{
    shared_->control.withLock([](ControlState& control) { control.counters = RenderLoopCounters{}; });
}

bool RenderLoop::isRunning() const
{
    return shared_->control.withLock(
        [](const ControlState& control) { return control.thread.joinable() && !control.stopped; });
}

void RenderLoop::signal()
{
    const bool wake = shared_->control.withLock([](ControlState& control) {
        ++control.counters.signals;
        if (control.stopped)
            return false;
        if (control.pending) {
            // Merged into the frame already asked for: the semaphore is released at most once
            // per pending frame.
            ++control.counters.coalesced;
            return false;
        }
        control.pending = true;
        return true;
    });
    if (wake)
        shared_->semaphore.release();
}

void RenderLoop::run(std::shared_ptr<Shared> shared)
{
    platform::setCurrentThreadName(threadName);
    for (;;) {
        shared->semaphore.acquire();
        const bool leave = shared->control.withLock([](ControlState& control) {
            if (control.stopped)
                return true;
            // Cleared before the frame runs, so a signal during the frame asks for one more.
            control.pending = false;
            ++control.counters.frames;
            return false;
        });
        if (leave)
            return;
        platform::MutexLock frame(shared->frameLock);
        if (shared->control.withLock([](const ControlState& control) { return control.stopped; }))
            return;
        shared->onRender();
    }
}

void RenderLoop::invalidate()
{
    struct Stop
    {
        bool alreadyStopped = false;
        bool onLoopThread = false;
        std::thread thread;
    };
    Stop stop = shared_->control.withLock([](ControlState& control) {
        Stop result;
        if (control.stopped) {
            result.alreadyStopped = true;
            return result;
        }
        control.pending = false;
        control.stopped = true;
        result.onLoopThread = control.threadId == std::this_thread::get_id();
        result.thread = std::move(control.thread);
        control.threadId = {};
        return result;
    });
    if (stop.alreadyStopped)
        return;
    // Wakes a sleeping thread so that it sees `stopped` and leaves.
    shared_->semaphore.release();
    if (stop.onLoopThread) {
        // Called from inside a frame: waiting for the frame lock would wait for ourselves. The
        // thread leaves when the frame returns.
        if (stop.thread.joinable())
            stop.thread.detach();
        return;
    }
    {
        // Waits for a frame in progress; once we hold the lock none is running and none starts.
        platform::MutexLock frame(shared_->frameLock);
    }
    if (stop.thread.joinable())
        stop.thread.join();
}

RenderLoopCounters RenderLoop::counters() const
{
    return shared_->control.withLock([](const ControlState& control) { return control.counters; });
}

} // namespace kestrovan
