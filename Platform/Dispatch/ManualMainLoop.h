// A main queue that runs only when asked: for tests and for hosts without a GLib main loop.
//
// Posting is thread-safe; running happens on the thread that created the loop, one item at a time,
// in posting order. `runUntilIdle` also runs what the items themselves post, so a test can settle
// a cascade of main-thread work in one call. `waitForWork` lets a test or a simple host sleep until
// a background thread posts something.
#pragma once

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>

namespace platform {

class ManualMainLoop final : public MainQueue
{
public:
    ManualMainLoop() = default;
    /// Drops the items never run, releasing their captures.
    ~ManualMainLoop() override;

    void async(std::function<void()> work) override EXCLUDES(mutex_);

    /// Runs the oldest waiting item, if any; true when one ran. Only on the loop's own thread.
    bool runOnce() EXCLUDES(mutex_);
    /// Runs items until none is waiting, including items posted meanwhile; returns how many ran.
    size_t runUntilIdle();
    /// Blocks until an item is waiting or `timeout` has passed; true when one is waiting.
    bool waitForWork(std::chrono::steady_clock::duration timeout) EXCLUDES(mutex_);
    /// The number of items waiting.
    size_t pendingCount() const EXCLUDES(mutex_);

private:
    void requireLoopThread(const char* operation) const;

    mutable Mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> items_ GUARDED_BY(mutex_);
};

} // namespace platform
