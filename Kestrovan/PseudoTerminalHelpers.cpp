#include "Kestrovan/PseudoTerminalHelpers.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace kestrovan {

PseudoTerminalHelpers::CStringArray::CStringArray(CStringArray&& other) noexcept
    : strings_(std::exchange(other.strings_, nullptr)), count_(std::exchange(other.count_, 0))
{}

PseudoTerminalHelpers::CStringArray&
PseudoTerminalHelpers::CStringArray::operator=(CStringArray&& other) noexcept
{
    if (this != &other) {
        release();
        strings_ = std::exchange(other.strings_, nullptr);
        count_ = std::exchange(other.count_, 0);
    }
    return *this;
}

PseudoTerminalHelpers::CStringArray::~CStringArray()
{
    release();
}

void PseudoTerminalHelpers::CStringArray::release()
{
    if (!strings_)
        return;
    // errno survives the clean-up: a failed start reports the errno of what failed, not of this.
    const int savedErrno = errno;
    for (size_t i = 0; i < count_; ++i)
        std::free(strings_[i]);
    std::free(strings_);
    strings_ = nullptr;
    count_ = 0;
    errno = savedErrno;
}

std::optional<PseudoTerminalHelpers::CStringArray>
PseudoTerminalHelpers::allocateCStringArray(const std::vector<std::string>& strings)
{
    CStringArray array;
    array.strings_ = static_cast<char**>(std::calloc(strings.size() + 1, sizeof(char*)));
    if (!array.strings_)
        return std::nullopt;
    for (const auto& string : strings) {
        // strdup stops at the first NUL, as every C consumer of the array would.
        char* copy = strdup(string.c_str());
        if (!copy)
            return std::nullopt; // `array` frees the copies made so far
        array.strings_[array.count_++] = copy;
    }
    // The slot after the last string is already NULL, from calloc.
    return array;
}

void PseudoTerminalHelpers::ChildExec::FreeString::operator()(char* string) const
{
    std::free(string);
}

std::optional<PseudoTerminalHelpers::ChildExec>
PseudoTerminalHelpers::ChildExec::make(const std::string& path, const std::vector<std::string>& args,
                                       const std::vector<std::string>& env,
                                       const std::optional<std::string>& currentDirectory)
{
    ChildExec exec;
    auto argArray = allocateCStringArray(args);
    if (!argArray)
        return std::nullopt;
    auto envArray = allocateCStringArray(env);
    if (!envArray)
        return std::nullopt;
    exec.args_ = std::move(*argArray);
    exec.env_ = std::move(*envArray);
    exec.path_.reset(strdup(path.c_str()));
    if (!exec.path_)
        return std::nullopt;
    if (currentDirectory) {
        exec.directory_.reset(strdup(currentDirectory->c_str()));
        if (!exec.directory_)
            return std::nullopt;
    }
    exec.defaultAction_.sa_handler = SIG_DFL;
    sigemptyset(&exec.defaultAction_.sa_mask);
    exec.defaultAction_.sa_flags = 0;
    sigemptyset(&exec.emptySet_);
    return exec;
}

void PseudoTerminalHelpers::ChildExec::runInChild(int execErrorFd) const
{
    // Only async-signal-safe calls from here on: the parent may have had other threads, whose
    // locks (the allocator's among them) the child inherits in whatever state they were.
    //
    // Handlers do not survive exec, but ignored signals do, and the mask is inherited: reset both
    // so the program starts as if from a fresh login. SIGKILL and SIGSTOP cannot be changed; the
    // few numbers the C library keeps for itself refuse quietly.
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber == SIGKILL || signalNumber == SIGSTOP)
            continue;
        sigaction(signalNumber, &defaultAction_, nullptr);
    }
    if (sigprocmask(SIG_SETMASK, &emptySet_, nullptr) != 0)
        _exit(127);
    if (directory_) {
        // A missing directory is not worth refusing the shell for; it starts where it is.
        [[maybe_unused]] int ignored = chdir(directory_.get());
    }
    execve(path_.get(), args_.data(), env_.data());
    if (execErrorFd >= 0) {
        const int error = errno;
        [[maybe_unused]] ssize_t ignored = write(execErrorFd, &error, sizeof error);
    }
    _exit(127);
}

namespace {

// Both sides of a new pseudo-terminal, close-on-exec from their first moment: a program another
// thread starts meanwhile must not inherit them, or it would hold the terminal open after its own
// child has gone, and the end of that child's output would not come until it exits.
bool openTerminal(int& master, int& child, winsize& size)
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    if (grantpt(master) == 0 && unlockpt(master) == 0) {
        child = ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (child >= 0 && ioctl(child, TIOCSWINSZ, &size) == 0)
            return true;
    }
    const int error = errno;
    if (child >= 0)
        close(child);
    close(master);
    master = child = -1;
    errno = error;
    return false;
}

// In the child: a session of its own whose controlling terminal is `child`, which becomes its
// standard input, output and error (`dup2` leaves those three open across exec). Only
// async-signal-safe calls.
void takeTerminal(int master, int child)
{
    close(master);
    if (setsid() < 0 || ioctl(child, TIOCSCTTY, 0) != 0)
        _exit(127);
    for (int standard = 0; standard <= 2; ++standard) {
        if (dup2(child, standard) < 0)
            _exit(127);
    }
    if (child > 2)
        close(child);
}

} // namespace

std::optional<PseudoTerminalHelpers::StartedProcess>
PseudoTerminalHelpers::fork(const std::string& andExec, const std::vector<std::string>& args,
                            const std::vector<std::string>& env,
                            const std::optional<std::string>& currentDirectory, winsize& desiredWindowSize)
{
    auto exec = ChildExec::make(andExec, args, env, currentDirectory);
    if (!exec)
        return std::nullopt;
    // The child reports a failed `execve` through this pipe; a successful one closes the child's
    // end (close-on-exec), so the parent reads end-of-file. Without it a missing program would
    // look like a program that ran and exited 127, and the user would see nothing at all.
    int execError[2];
    if (pipe2(execError, O_CLOEXEC) != 0)
        return std::nullopt;
    int master = -1;
    int child = -1;
    pid_t pid = -1;
    if (openTerminal(master, child, desiredWindowSize))
        pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        for (int fd : {execError[0], execError[1], master, child}) {
            if (fd >= 0)
                close(fd);
        }
        errno = error;
        return std::nullopt; // `exec` frees what it holds
    }
    if (pid == 0) {
        takeTerminal(master, child);
        exec->runInChild(execError[1]);
    }
    close(child);
    close(execError[1]);

    int childError = 0;
    ssize_t got;
    do
        got = read(execError[0], &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    close(execError[0]);
    if (got != static_cast<ssize_t>(sizeof childError))
        return StartedProcess{pid, master};

    // The program never started: the child is ours alone and has exited, so it is reaped here.
    close(master);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    errno = childError;
    return std::nullopt;
}

int PseudoTerminalHelpers::setWinSize(int masterPtyDescriptor, winsize& windowSize)
{
    return ioctl(masterPtyDescriptor, TIOCSWINSZ, &windowSize);
}

PseudoTerminalHelpers::AvailableBytes PseudoTerminalHelpers::availableBytes(int fd)
{
    int size = 0;
    const int status = ioctl(fd, FIONREAD, &size);
    return {status, status == 0 ? size : 0};
}

std::optional<ByteSet> PseudoTerminalHelpers::terminalControlBytesForPaste(int masterPtyDescriptor)
{
    if (masterPtyDescriptor < 0)
        return std::nullopt;
    termios attributes{};
    if (tcgetattr(masterPtyDescriptor, &attributes) != 0)
        return std::nullopt;
    // The value that marks a special character as switched off (0 on Linux); -1 when there is none.
    const long disabled = fpathconf(masterPtyDescriptor, _PC_VDISABLE);

    // The characters the line discipline acts on. Linux has no VDSUSP (delayed suspend) and no
    // VSTATUS (status request), which other systems list here too.
    static constexpr int indexes[] = {VEOF,  VEOL,  VERASE,   VINTR, VKILL,  VQUIT,    VSTART,
                                      VSTOP, VSUSP, VDISCARD, VEOL2, VLNEXT, VREPRINT, VWERASE};
    ByteSet result;
    for (int index : indexes) {
        if (index < 0 || index >= NCCS)
            continue;
        const cc_t character = attributes.c_cc[index];
        if (character == 0)
            continue;
        if (disabled >= 0 && disabled < 256 && character == static_cast<cc_t>(disabled))
            continue;
        // Only controls matter: a printable special character pastes as itself.
        if (character < 0x20 || character == 0x7f)
            result.set(character);
    }
    return result;
}

} // namespace kestrovan
