// Starting a program on a new pseudo-terminal, and the small queries around one.
//
// The start prepares everything the child needs before it forks (argument and environment arrays,
// a default signal action, an empty signal set), so that between the fork and `execve` the child
// only makes async-signal-safe calls on memory that already exists; a program that cannot be
// started leaves the child with status 127. Both sides of the terminal are close-on-exec from the
// moment they are opened, so no program another thread starts meanwhile can hold the terminal
// open; the child's own standard descriptors are its side, as `forkpty` would leave them. `LocalProcess`
// starts its children through the same `ChildExec`, so both paths set the child up identically.
#pragma once

#include "Kestrovan/TerminalPasteControls.h"

#include <csignal>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <vector>

namespace kestrovan {

class PseudoTerminalHelpers
{
public:
    /// A NULL-terminated array of NUL-terminated C strings, each allocated on its own, freed
    /// together when the array goes.
    class CStringArray
    {
    public:
        CStringArray() = default;
        CStringArray(CStringArray&& other) noexcept;
        CStringArray& operator=(CStringArray&& other) noexcept;
        ~CStringArray();

        /// The array as `execve` takes it; never null for an array that was built.
        char* const* data() const { return strings_; }
        /// The number of strings, not counting the final NULL.
        size_t size() const { return count_; }

    private:
        friend class PseudoTerminalHelpers;
        void release();

        char** strings_ = nullptr;
        size_t count_ = 0;
    };

    /// What a child does between the fork and the new program, fully built before the fork.
    class ChildExec
    {
    public:
        /// Builds the arrays and copies of `path`, `args` (the full argument vector, program name
        /// first), `env` and the optional directory. Absent when an allocation failed (errno says
        /// why); nothing stays allocated then.
        static std::optional<ChildExec> make(const std::string& path, const std::vector<std::string>& args,
                                             const std::vector<std::string>& env,
                                             const std::optional<std::string>& currentDirectory);

        /// In the child: default action for every signal that can be caught, an empty signal
        /// mask, the directory (its failure is ignored), then the program. Never returns; a
        /// program that cannot be started ends the child with status 127, after writing the
        /// errno of the failed `execve` to `execErrorFd` when that is not negative.
        [[noreturn]] void runInChild(int execErrorFd = -1) const;

    private:
        struct FreeString
        {
            void operator()(char* string) const;
        };
        using CString = std::unique_ptr<char, FreeString>;

        CString path_;
        CStringArray args_;
        CStringArray env_;
        // Null when no directory was given.
        CString directory_;
        struct sigaction defaultAction_
        {};
        sigset_t emptySet_{};
    };

    /// The child and the master side of its pseudo-terminal.
    struct StartedProcess
    {
        pid_t pid = 0;
        int masterFd = -1;
    };

    /// Starts `andExec` with `args` (the full argument vector, program name first) and `env` on a
    /// new pseudo-terminal of `desiredWindowSize`, in `currentDirectory` when given. Absent on
    /// failure, with errno set and nothing left allocated or open. A program that cannot be
    /// executed (missing, not executable, not a program) is such a failure, with the errno of its
    /// `execve`: the child that tried is reaped before this returns.
    static std::optional<StartedProcess> fork(const std::string& andExec,
                                              const std::vector<std::string>& args,
                                              const std::vector<std::string>& env,
                                              const std::optional<std::string>& currentDirectory,
                                              winsize& desiredWindowSize);

    /// Sets the terminal's size; the result of the TIOCSWINSZ ioctl (0 on success).
    static int setWinSize(int masterPtyDescriptor, winsize& windowSize);

    /// The bytes waiting to be read, as FIONREAD reports them.
    struct AvailableBytes
    {
        /// The ioctl's result: 0 on success.
        int status = 0;
        /// The byte count; 0 when the ioctl failed.
        int size = 0;
    };
    static AvailableBytes availableBytes(int fd);

    /// The terminal's special characters that a paste must not pass through raw (interrupt,
    /// end-of-file, erase and the like): those set to a C0 control or DEL. Absent for a negative
    /// descriptor or one whose attributes cannot be read.
    static std::optional<ByteSet> terminalControlBytesForPaste(int masterPtyDescriptor);

    /// Copies each string as a C string (cut at its first NUL byte, as C strings are) into a new
    /// NULL-terminated array. Absent when an allocation failed; nothing stays allocated then.
    static std::optional<CStringArray> allocateCStringArray(const std::vector<std::string>& strings);
};

} // namespace kestrovan
