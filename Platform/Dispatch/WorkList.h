// The list of work items behind a queue's threads: items go in at one end, and each thread takes
// the oldest and runs it without holding the lock, until the list is stopped and empty.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <condition_variable>
#include <deque>
#include <functional>

namespace platform {

class WorkList
{
public:
    /// Adds `work` at the end and wakes one waiting thread.
    void push(std::function<void()> work) EXCLUDES(mutex_);

    /// Lets every thread in `runUntilStopped` leave once the items left are done.
    void stop() EXCLUDES(mutex_);

    /// Runs items in order until `stop` was called and nothing is left. An item, and the release of
    /// its captures, run without the lock, so it may push more work here or elsewhere.
    void runUntilStopped() EXCLUDES(mutex_);

private:
    Mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> items_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
};

} // namespace platform
