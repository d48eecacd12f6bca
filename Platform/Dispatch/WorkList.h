// The list of work items behind a queue's threads: items go in at one end, and each thread takes
// the oldest and runs it without holding the lock, until the list is stopped and empty. A queue
// with one thread may also lend its turn to a caller (`claimIfIdle`): while the claim lasts, no
// thread starts an item, so the caller's own work runs as one of the queue's items would.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <condition_variable>
#include <cstddef>
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

    /// True, and the list is the caller's until `releaseClaim`, when no item is waiting, running
    /// or claimed; false otherwise, with nothing changed.
    bool claimIfIdle() EXCLUDES(mutex_);
    /// Ends a claim and lets the threads take the items pushed during it; wakes none when nothing
    /// was pushed and no stop was asked for meanwhile.
    void releaseClaim() EXCLUDES(mutex_);

private:
    Mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> items_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    size_t running_ GUARDED_BY(mutex_) = 0;
    bool claimed_ GUARDED_BY(mutex_) = false;
};

} // namespace platform
