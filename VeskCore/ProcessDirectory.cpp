// Reading a process's current directory through a handle on its /proc directory.
#include "VeskCore/ProcessDirectory.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace vesk {

namespace {

// The kernel writes a link's text into one page and fails when it does not fit, so the text is
// never longer than this; the read grows its buffer up to here and never truncates.
constexpr size_t largestLinkText = size_t{1} << 16;

/// True while the process of `pidfd` has not been reaped (a zombie still holds its pid).
bool isNotReaped(int pidfd)
{
    return syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
}

/// The whole text of the link `name` in the directory `descriptor`; none when it cannot be read.
std::optional<std::string> readWholeLink(int descriptor, const char* name)
{
    std::string text(256, '\0');
    while (text.size() <= largestLinkText) {
        const ssize_t length = readlinkat(descriptor, name, text.data(), text.size());
        if (length < 0)
            return std::nullopt;
        // readlinkat fills the buffer without a terminator and cuts silently: only a text shorter
        // than the buffer is known to be whole.
        if (static_cast<size_t>(length) < text.size()) {
            text.resize(static_cast<size_t>(length));
            return text;
        }
        text.resize(text.size() * 2);
    }
    return std::nullopt;
}

} // namespace

std::optional<ProcessDirectory> ProcessDirectory::open(int pid, int pidfd)
{
    if (pid < 1)
        return std::nullopt;
    char name[32];
    std::snprintf(name, sizeof name, "/proc/%d", pid);
    const int descriptor = ::open(name, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    ProcessDirectory directory(descriptor, pid);
    // The pid could only have passed to another process after ours was reaped; still unreaped
    // now means the handle opened above is our process's.
    if (pidfd >= 0 && !isNotReaped(pidfd))
        return std::nullopt;
    return directory;
}

ProcessDirectory::ProcessDirectory(ProcessDirectory&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), pid_(other.pid_)
{}

ProcessDirectory& ProcessDirectory::operator=(ProcessDirectory&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        pid_ = other.pid_;
    }
    return *this;
}

ProcessDirectory::~ProcessDirectory()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

std::optional<std::string> ProcessDirectory::currentDirectory() const
{
    if (descriptor_ < 0)
        return std::nullopt;
    // The directory itself, reached through the link whatever its path now is (or whether it
    // still has one). Once the process is reaped this fails, as do the reads below.
    struct stat directory
    {};
    if (fstatat(descriptor_, "cwd", &directory, 0) != 0)
        return std::nullopt;
    std::optional<std::string> text = readWholeLink(descriptor_, "cwd");
    // A directory outside this process's root reads "(unreachable)/…"; it has no usable path.
    if (!text || text->empty() || text->front() != '/')
        return std::nullopt;
    // The link text is only a name: for a removed directory it carries " (deleted)", which may
    // name another directory, and the process may have moved on since. It counts only when it
    // leads to the very directory found above.
    struct stat named
    {};
    if (stat(text->c_str(), &named) != 0 || named.st_dev != directory.st_dev ||
        named.st_ino != directory.st_ino)
        return std::nullopt;
    return text;
}

} // namespace vesk
