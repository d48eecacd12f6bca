#include "Kestrovan/PseudoTerminalHelpers.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pty.h>
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

void PseudoTerminalHelpers::ChildExec::runInChild() const
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
    _exit(127);
}

std::optional<PseudoTerminalHelpers::StartedProcess>
PseudoTerminalHelpers::fork(const std::string& andExec, const std::vector<std::string>& args,
                            const std::vector<std::string>& env,
                            const std::optional<std::string>& currentDirectory, winsize& desiredWindowSize)
{
    auto exec = ChildExec::make(andExec, args, env, currentDirectory);
    if (!exec)
        return std::nullopt;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &desiredWindowSize);
    if (pid < 0)
        return std::nullopt; // `exec` frees what it holds and keeps errno
    if (pid == 0)
        exec->runInChild();
    return StartedProcess{pid, master};
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
