// The ways starting, or writing to, a child process can fail, and the outcome of one send.
//
// Each error is a case with at most two numbers or a program name; its `description()` is the form
// hosts show to users ("forkFailed(2)", "writeFailed(code: 5, bytesWritten: 3)"), the case name
// followed by its payload in parentheses, except for a program that is not there, which says so
// plainly ("htop: not found").
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace kestrovan {

class LocalProcessError
{
public:
    enum class Case : uint8_t
    {
        /// Building the argument or environment arrays failed, or opening the pseudo-terminal or
        /// the fork did; carries errno.
        forkFailed,
        /// The pseudo-terminal could not be duplicated for the writer; carries errno.
        writeChannelFailed,
        /// A write to the child ended with an error; carries errno and the bytes that got through.
        writeFailed,
        /// A start was asked for while a child was still running or winding down.
        alreadyRunning,
        /// A send was asked for while no child runs.
        notRunning,
        /// A program named without a slash is in no directory of the search path; carries the name.
        programNotFound,
    };

    static LocalProcessError forkFailed(int32_t error) { return {Case::forkFailed, error, 0}; }
    static LocalProcessError writeChannelFailed(int32_t error)
    {
        return {Case::writeChannelFailed, error, 0};
    }
    static LocalProcessError writeFailed(int32_t code, int64_t bytesWritten)
    {
        return {Case::writeFailed, code, bytesWritten};
    }
    static LocalProcessError alreadyRunning() { return {Case::alreadyRunning, 0, 0}; }
    static LocalProcessError notRunning() { return {Case::notRunning, 0, 0}; }
    static LocalProcessError programNotFound(std::string program)
    {
        LocalProcessError error{Case::programNotFound, 0, 0};
        error.program_ = std::move(program);
        return error;
    }

    Case kind() const { return case_; }
    /// The errno of `forkFailed`, `writeChannelFailed` and `writeFailed`; 0 for the others.
    int32_t code() const { return code_; }
    /// The bytes a failed write still got through; 0 for every other case.
    int64_t bytesWritten() const { return bytesWritten_; }
    /// The name of the program that was not found; empty for every other case.
    const std::string& program() const { return program_; }

    /// The case name, then its payload in parentheses when it has one.
    std::string description() const;

    friend bool operator==(const LocalProcessError&, const LocalProcessError&) = default;

private:
    LocalProcessError(Case kind, int32_t code, int64_t bytesWritten)
        : case_(kind), code_(code), bytesWritten_(bytesWritten)
    {}

    Case case_;
    int32_t code_;
    int64_t bytesWritten_;
    std::string program_;
};

/// The outcome of one send: the number of bytes written, or the error that ended it.
using LocalProcessSendResult = std::variant<int64_t, LocalProcessError>;

} // namespace kestrovan
