// A pane's hold on its shell process: a pidfd, opened while the shell is known to be this
// process's unreaped child, through which the shell is signalled.
//
// A process id names whoever holds it now. Once the exit monitor has reaped the shell, its pid
// may pass to another process, and a `kill` sent to the number on closing a pane would hit that
// one. A pidfd stays with the process it was opened for: after the reap, signals through it fail
// instead. The handle is kept only when the pid was still this process's child once the pidfd was
// open (`waitid` on a pidfd answers only for children), which proves the pidfd is the shell's.
#pragma once

#include <optional>

namespace vesk {

class ShellProcessHandle
{
public:
    /// A handle on child `pid`; none for a pid below 1, a process that is gone or reaped, or a
    /// process that is not this process's child.
    static std::optional<ShellProcessHandle> open(int pid);

    ShellProcessHandle(ShellProcessHandle&& other) noexcept;
    ShellProcessHandle& operator=(ShellProcessHandle&& other) noexcept;
    ShellProcessHandle(const ShellProcessHandle&) = delete;
    ShellProcessHandle& operator=(const ShellProcessHandle&) = delete;
    ~ShellProcessHandle();

    /// Sends `signal` to the shell; false once it has been reaped (or the send failed).
    bool signal(int signal) const;
    /// True once the shell has ended (it may still wait to be reaped).
    bool hasEnded() const;

    int pid() const { return pid_; }
    /// The pidfd, for callers that check other handles against it.
    int descriptor() const { return descriptor_; }

private:
    ShellProcessHandle(int descriptor, int pid) : descriptor_(descriptor), pid_(pid) {}

    int descriptor_ = -1;
    int pid_ = 0;
};

} // namespace vesk
