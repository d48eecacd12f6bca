// The current directory of one process, read through a handle on its /proc directory.
//
// A pane opens one when its shell starts and asks it on every poll. The handle stays with that
// process: once the process is reaped, reads through it fail, even when the kernel has given its
// pid to another process meanwhile, so a poll never reports a stranger's directory. A path is
// answered only when it names the very directory (device and inode) the process is in: the link
// text the kernel shows for a removed directory ends in " (deleted)", and a real directory of that
// name may exist elsewhere. The link is read whole, whatever its length.
#pragma once

#include <optional>
#include <string>

namespace vesk {

class ProcessDirectory
{
public:
    /// A handle on process `pid`'s /proc directory; none for a pid below 1 or a process that
    /// cannot be found. When `pidfd` (a pidfd of the same process) is given, the handle is kept
    /// only if the process was still not reaped once the handle was open, which proves the handle
    /// belongs to it and not to a later holder of the pid.
    static std::optional<ProcessDirectory> open(int pid, int pidfd = -1);

    ProcessDirectory(ProcessDirectory&& other) noexcept;
    ProcessDirectory& operator=(ProcessDirectory&& other) noexcept;
    ProcessDirectory(const ProcessDirectory&) = delete;
    ProcessDirectory& operator=(const ProcessDirectory&) = delete;
    ~ProcessDirectory();

    /// The process's current directory as the kernel's bytes, beginning with "/"; none when the
    /// process is gone, its directory cannot be read, or the path no longer leads to it.
    std::optional<std::string> currentDirectory() const;

    /// The pid the handle was opened for.
    int pid() const { return pid_; }

private:
    ProcessDirectory(int descriptor, int pid) : descriptor_(descriptor), pid_(pid) {}

    int descriptor_ = -1;
    int pid_ = 0;
};

} // namespace vesk
