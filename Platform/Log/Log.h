// Logging and interval signposts for the engine and the application.
//
// Each `Logger` names a subsystem and a category. Lines go to standard error as
// "subsystem[category] level: message"; debug lines appear only when VESK_LOG_DEBUG is "1".
// Signposts mark the start and end of a named interval with an id; they are written as debug-level
// lines so that a profiling run can be read back. A test can take every line with `setLogSink`.
//
// Loggers are usually function-local statics, and a worker thread may still log while the process
// exits and destroys its statics: a logger keeps its names in storage that lives as long as the
// process, and has nothing to destroy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

enum class LogLevel : uint8_t
{
    debug,
    info,
    error
};

/// One line handed to a log sink.
struct LogRecord
{
    std::string_view subsystem;
    std::string_view category;
    LogLevel level;
    std::string_view message;
};

/// An id that pairs the begin and end signposts of one interval; 0 is the invalid id.
using SignpostID = uint64_t;
inline constexpr SignpostID invalidSignpostID = 0;

class Logger
{
public:
    Logger(std::string subsystem, std::string category);

    void debug(std::string_view message) const;
    void info(std::string_view message) const;
    void error(std::string_view message) const;
    /// printf-style formatting at the given level.
    void logf(LogLevel level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    /// A fresh signpost id, unique in the process.
    SignpostID makeSignpostID() const;
    /// Marks the beginning of the interval `name` with an optional message.
    void signpostBegin(std::string_view name, SignpostID id, std::string_view message = {}) const;
    /// Marks the end of the interval `name`.
    void signpostEnd(std::string_view name, SignpostID id) const;

    bool isDebugEnabled() const;
    const std::string& subsystem() const { return *subsystem_; }
    const std::string& category() const { return *category_; }

private:
    void write(LogLevel level, std::string_view message) const;

    const std::string* subsystem_;
    const std::string* category_;
};

/// Replaces where log lines go (for tests); an empty function restores standard error. Returns
/// once no thread is still inside the sink it replaced, so that whatever that sink refers to may
/// go away; a sink must therefore not call `setLogSink` itself.
void setLogSink(std::function<void(const LogRecord&)> sink);

} // namespace platform
