#include "Platform/Dispatch/ExitMonitor.h"

#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Log/Fatal.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {

struct ExitMonitor::Child
{
    pid_t pid = 0;
    // A pidfd for the child, or -1 when the waiting thread watches it. Closed when the last holder
    // (the monitor or the monitor thread's current poll) lets go, so a poll never sees it reused.
    int pidfd = -1;

    mutable Mutex mutex;
    bool reaped GUARDED_BY(mutex) = false;
    std::optional<int> reapedStatus GUARDED_BY(mutex);
    bool notificationRequested GUARDED_BY(mutex) = false;
    bool notified GUARDED_BY(mutex) = false;
    bool cancelled GUARDED_BY(mutex) = false;
    std::shared_ptr<DispatchQueue> queue GUARDED_BY(mutex);
    ExitHandler handler GUARDED_BY(mutex);

    ~Child()
    {
        if (pidfd >= 0)
            close(pidfd);
    }

    /// The child's wait status without reaping it, when it has ended; called under `mutex`.
    std::optional<int> peekStatusLocked() const REQUIRES(mutex)
    {
        if (reaped)
            return reapedStatus;
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | WNOHANG) != 0 ||
            info.si_pid != pid)
            return std::nullopt;
        return waitStatusFromSignalInfo(info.si_code, info.si_status);
    }
};

// One thread polls the pidfds of every watched child, plus an event descriptor that tells it the
// set changed. It lives as long as the process: a monitor may be dropped during exit.
class ExitMonitor::PidfdWatcher
{
public:
    static PidfdWatcher& shared()
    {
        static PidfdWatcher* const watcher = new PidfdWatcher;
        return *watcher;
    }

    void add(std::shared_ptr<Child> child) EXCLUDES(mutex_)
    {
        {
            MutexLock lock(mutex_);
            children_.push_back(std::move(child));
        }
        wake();
    }

    void remove(const Child* child) EXCLUDES(mutex_)
    {
        {
            MutexLock lock(mutex_);
            std::erase_if(children_, [&](const auto& entry) { return entry.get() == child; });
        }
        wake();
    }

private:
    PidfdWatcher() : wakeDescriptor_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (wakeDescriptor_ < 0)
            fatal("the exit monitor could not create its event descriptor");
        std::thread(&PidfdWatcher::run, this).detach();
    }

    void wake()
    {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = write(wakeDescriptor_, &one, sizeof one);
    }

    void run() EXCLUDES(mutex_)
    {
        setCurrentThreadName("exit-monitor");
        std::vector<pollfd> entries;
        std::vector<std::shared_ptr<Child>> polled;
        for (;;) {
            {
                MutexLock lock(mutex_);
                polled = children_;
            }
            entries.assign(1, pollfd{wakeDescriptor_, POLLIN, 0});
            for (const auto& child : polled)
                entries.push_back(pollfd{child->pidfd, POLLIN, 0});
            if (poll(entries.data(), entries.size(), -1) < 0)
                continue; // EINTR; nothing else can go wrong with descriptors we keep open
            if (entries[0].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t ignored = read(wakeDescriptor_, &count, sizeof count);
            }
            for (size_t i = 0; i < polled.size(); ++i) {
                // A pidfd turns readable when its process has ended; it stays so, hence the removal.
                if (entries[i + 1].revents == 0)
                    continue;
                {
                    MutexLock lock(mutex_);
                    std::erase(children_, polled[i]);
                }
                fire(polled[i], std::nullopt);
            }
            polled.clear();
        }
    }

    int wakeDescriptor_;
    Mutex mutex_;
    std::vector<std::shared_ptr<Child>> children_ GUARDED_BY(mutex_);
};

ExitMonitor::ExitMonitor(pid_t pid, Watcher watcher) : child_(std::make_shared<Child>())
{
    child_->pid = pid;
    if (watcher == Watcher::automatic)
        child_->pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

ExitMonitor::~ExitMonitor()
{
    cancel();
}

pid_t ExitMonitor::pid() const
{
    return child_->pid;
}

void ExitMonitor::notifyOnExit(std::shared_ptr<DispatchQueue> queue, ExitHandler handler)
{
    if (!queue)
        fatal("ExitMonitor::notifyOnExit needs a queue to run its handler on");
    {
        MutexLock lock(child_->mutex);
        if (child_->notificationRequested)
            fatal("ExitMonitor::notifyOnExit called twice for one child");
        child_->notificationRequested = true;
        child_->queue = std::move(queue);
        child_->handler = std::move(handler);
    }
    if (child_->pidfd >= 0)
        PidfdWatcher::shared().add(child_);
    else
        std::thread(watchFromThread, child_).detach();
}

void ExitMonitor::cancel()
{
    ExitHandler dropped;
    bool watchedByPidfd;
    {
        MutexLock lock(child_->mutex);
        child_->cancelled = true;
        dropped = std::move(child_->handler);
        watchedByPidfd = child_->notificationRequested && child_->pidfd >= 0;
    }
    if (watchedByPidfd)
        PidfdWatcher::shared().remove(child_.get());
    // `dropped` goes here, outside the lock: a handler's captures may do anything when released.
}

bool ExitMonitor::sendSignal(int signalNumber)
{
    MutexLock lock(child_->mutex);
    if (child_->reaped)
        return false;
    return kill(child_->pid, signalNumber) == 0;
}

std::optional<int> ExitMonitor::waitAndReap()
{
    {
        MutexLock lock(child_->mutex);
        if (child_->reaped)
            return child_->reapedStatus;
    }
    // Wait without reaping and without the lock, so signals can still be sent meanwhile; the
    // reaping itself then happens under the lock.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(child_->pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno == EINTR)
            continue;
        MutexLock lock(child_->mutex);
        if (!child_->reaped) {
            child_->reaped = true;
            child_->reapedStatus = std::nullopt;
        }
        return child_->reapedStatus;
    }
    MutexLock lock(child_->mutex);
    if (child_->reaped)
        return child_->reapedStatus;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(child_->pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    child_->reaped = true;
    child_->reapedStatus = result == child_->pid ? std::optional<int>(status) : std::nullopt;
    return child_->reapedStatus;
}

bool ExitMonitor::hasReaped() const
{
    MutexLock lock(child_->mutex);
    return child_->reaped;
}

int ExitMonitor::waitStatusFromSignalInfo(int code, int status)
{
    // The layout `waitpid` uses on Linux: exit code in bits 8-15, or the signal in bits 0-6 with
    // bit 7 set when a core was dumped.
    switch (code) {
    case CLD_EXITED:
        return (status & 0xff) << 8;
    case CLD_DUMPED:
        return (status & 0x7f) | 0x80;
    default:
        return status & 0x7f;
    }
}

void ExitMonitor::fire(const std::shared_ptr<Child>& child, std::optional<int> waitStatus)
{
    std::shared_ptr<DispatchQueue> queue;
    ExitHandler handler;
    {
        MutexLock lock(child->mutex);
        if (child->cancelled || child->notified)
            return;
        child->notified = true;
        queue = std::move(child->queue);
        handler = std::move(child->handler);
        if (!waitStatus)
            waitStatus = child->peekStatusLocked();
    }
    // The handler runs on its queue unless the monitor was cancelled after this point but before
    // the queue got to it.
    queue->async([child, handler = std::move(handler), waitStatus] {
        bool cancelled;
        {
            MutexLock lock(child->mutex);
            cancelled = child->cancelled;
        }
        if (!cancelled)
            handler(waitStatus);
    });
}

void ExitMonitor::watchFromThread(std::shared_ptr<Child> child)
{
    setCurrentThreadName("exit-wait");
    siginfo_t info{};
    int result;
    do {
        result = waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | WNOWAIT);
    } while (result != 0 && errno == EINTR);
    // On failure (the child was reaped already) `fire` falls back to what the reaping recorded.
    std::optional<int> status;
    if (result == 0)
        status = waitStatusFromSignalInfo(info.si_code, info.si_status);
    fire(child, status);
}

} // namespace platform
