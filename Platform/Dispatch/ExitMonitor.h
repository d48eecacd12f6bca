// Watching one child process: noticing its exit, signalling it safely, and reaping it.
//
// There is no process-wide SIGCHLD handler and nothing ever waits for "any child", so children
// that other parts of the process own are never reaped here. The exit is noticed through a pidfd,
// which one shared monitor thread polls for every watched child; where pidfds are unavailable
// (kernels before 5.3) a thread per child blocks in `waitid` on that pid alone. Noticing the exit
// does not reap the child: it stays a zombie, so its pid cannot be recycled, until its owner calls
// `waitAndReap`. Signals go out under the same lock as the reaping and are refused once the child
// is reaped, so a pid the system may already have given to another process is never signalled.
#pragma once

#include "Platform/Dispatch/DispatchQueue.h"

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace platform {

class ExitMonitor
{
public:
    /// How the exit is noticed: a pidfd when the kernel has them, else a waiting thread; or always
    /// the waiting thread (the fallback, chosen explicitly so that it can be exercised).
    enum class Watcher
    {
        automatic,
        waitingThread,
    };

    /// The exit notification's handler: the child's wait status (decode with WIFEXITED and the
    /// like), read without reaping it; absent when it could no longer be read because the child
    /// was reaped by someone else.
    using ExitHandler = std::function<void(std::optional<int> waitStatus)>;

    /// Watches `pid`, which must be a child of this process that has not been reaped.
    explicit ExitMonitor(pid_t pid, Watcher watcher = Watcher::automatic);
    /// Cancels the notification. Does not reap: a child nobody reaps stays a zombie.
    ~ExitMonitor();

    ExitMonitor(const ExitMonitor&) = delete;
    ExitMonitor& operator=(const ExitMonitor&) = delete;

    pid_t pid() const;

    /// Calls `handler` once on `queue` when the child has ended (at once if it already has).
    /// Only one notification per monitor: a second call stops the program.
    void notifyOnExit(std::shared_ptr<DispatchQueue> queue, ExitHandler handler);
    /// Keeps the handler from running, unless it is running already. Callable from any thread.
    void cancel();

    /// Sends `signalNumber` to the child; false once it has been reaped, or when `kill` fails.
    bool sendSignal(int signalNumber);
    /// Waits until the child ends, reaps it and returns its raw wait status; absent when it could
    /// not be reaped here (it was reaped elsewhere). Later calls return the same answer at once.
    std::optional<int> waitAndReap();
    /// True once `waitAndReap` has reaped the child or found it gone.
    bool hasReaped() const;

    /// A wait status as `waitpid` would give it, from the result of `waitid`.
    static int waitStatusFromSignalInfo(int code, int status);

private:
    struct Child;
    class PidfdWatcher;
    static void fire(const std::shared_ptr<Child>& child, std::optional<int> waitStatus);
    static void watchFromThread(std::shared_ptr<Child> child);

    std::shared_ptr<Child> child_;
};

} // namespace platform
