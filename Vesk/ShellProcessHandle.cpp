#include "Vesk/ShellProcessHandle.h"

#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace vesk {

std::optional<ShellProcessHandle> ShellProcessHandle::open(int pid)
{
    if (pid < 1)
        return std::nullopt;
    const int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (descriptor < 0)
        return std::nullopt;
    ShellProcessHandle handle(descriptor, pid);
    // Only a child of this process answers a wait on its pidfd, and a child keeps its pid until it
    // is reaped: an answer now means the pidfd opened above is our child's. WNOWAIT leaves a child
    // that has already ended for the exit monitor to reap.
    siginfo_t info{};
    if (waitid(P_PIDFD, static_cast<id_t>(descriptor), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return std::nullopt;
    return handle;
}

ShellProcessHandle::ShellProcessHandle(ShellProcessHandle&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), pid_(other.pid_)
{}

ShellProcessHandle& ShellProcessHandle::operator=(ShellProcessHandle&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        pid_ = other.pid_;
    }
    return *this;
}

ShellProcessHandle::~ShellProcessHandle()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

bool ShellProcessHandle::signal(int signal) const
{
    return descriptor_ >= 0 && syscall(SYS_pidfd_send_signal, descriptor_, signal, nullptr, 0) == 0;
}

bool ShellProcessHandle::hasEnded() const
{
    // A pidfd turns readable when its process ends.
    pollfd entry{descriptor_, POLLIN, 0};
    return descriptor_ < 0 || (poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN));
}

} // namespace vesk
