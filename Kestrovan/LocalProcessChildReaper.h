// The one place that signals or reaps a child of a `LocalProcess`.
//
// A process id stays the child's only until the child is reaped; after that the system may give
// it to any new process. Signalling and reaping therefore happen under one lock, and once the
// child is reaped no signal goes out any more, so a recycled id is never signalled. The reaper
// waits only for its own pid: nothing here waits for "any child", so children that other parts of
// the program own are never reaped by accident.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <functional>
#include <optional>
#include <sys/types.h>

namespace kestrovan {

class LocalProcessChildReaper
{
public:
    /// The full name of the threads that wait for children (Linux shows the first 15 bytes).
    static constexpr const char* threadName = "kestrovan-child-reaper";

    explicit LocalProcessChildReaper(pid_t pid) : pid(pid) {}

    LocalProcessChildReaper(const LocalProcessChildReaper&) = delete;
    LocalProcessChildReaper& operator=(const LocalProcessChildReaper&) = delete;

    /// Sends `signalNumber` while the child has not been reaped; true when it was sent.
    bool signal(int signalNumber) EXCLUDES(lock);

    /// Waits until the child has ended, reaps it and returns its raw wait status; absent when it
    /// could not be reaped. A second waiter gets the first one's answer and never reaps again.
    std::optional<int> wait() EXCLUDES(lock);

    /// Runs `body` on a new detached thread named `threadName`.
    static void startThread(std::function<void()> body);

    const pid_t pid;

private:
    platform::Mutex lock;
    bool signalAllowed GUARDED_BY(lock) = true;
    std::optional<int> reapedStatus GUARDED_BY(lock);
};

} // namespace kestrovan
