#include "Kestrovan/LocalProcessChildReaper.h"

#include "Platform/Dispatch/ThreadRegistry.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace kestrovan {

bool LocalProcessChildReaper::signal(int signalNumber)
{
    platform::MutexLock guard(lock);
    if (!signalAllowed)
        return false;
    return kill(pid, signalNumber) == 0;
}

std::optional<int> LocalProcessChildReaper::wait()
{
    {
        platform::MutexLock guard(lock);
        if (!signalAllowed)
            return reapedStatus;
    }
    // Wait without reaping and without the lock, so that signals can still go out meanwhile; the
    // child stays a zombie, its pid still taken, until the reaping below.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno == EINTR)
            continue;
        platform::MutexLock guard(lock);
        signalAllowed = false;
        return reapedStatus;
    }
    platform::MutexLock guard(lock);
    // Another waiter may have reaped the child while this one waited: reaping the pid again could
    // take a new child of this process that was given the same number.
    if (!signalAllowed)
        return reapedStatus;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    signalAllowed = false;
    if (result == pid)
        reapedStatus = status;
    return reapedStatus;
}

void LocalProcessChildReaper::startThread(std::function<void()> body)
{
    std::thread([body = std::move(body)] {
        platform::setCurrentThreadName(threadName);
        body();
    }).detach();
}

} // namespace kestrovan
