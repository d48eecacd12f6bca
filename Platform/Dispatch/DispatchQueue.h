// The common face of every queue that runs work items one at a time: a serial queue with its own
// thread, and the main queue.
//
// Callers that only need "run this there" (a delivery queue that may be either the main queue or a
// private serial queue) hold a `DispatchQueue`. Work items never run concurrently with each other
// on one queue and run in the order they were queued.
#pragma once

#include <functional>

namespace platform {

class DispatchQueue
{
public:
    virtual ~DispatchQueue() = default;

    /// Queues `work` to run on the queue's thread after everything queued before it; returns at once.
    virtual void async(std::function<void()> work) = 0;

    /// Runs `work` as one of the queue's items, after everything queued before it, and waits until
    /// it has run. A queue may run it on the calling thread when it has nothing else to do; inside,
    /// `isCurrent` holds either way. Called on the queue's own thread it could only wait for
    /// itself, so that stops the program instead of hanging.
    virtual void sync(std::function<void()> work) = 0;

    /// True when the calling thread is the one this queue runs its work on.
    virtual bool isCurrent() const = 0;

protected:
    /// `sync` for queues built on `async`: queues `work` and blocks until it has run. The caller
    /// has made sure it is not on the queue's own thread.
    void runAndWait(std::function<void()> work);
};

} // namespace platform
