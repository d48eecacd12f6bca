#include "Platform/Log/Log.h"

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

namespace platform {

namespace {

using SinkFunction = std::function<void(const LogRecord&)>;

// A sink set by `setLogSink`, with the number of threads running it right now.
struct InstalledSink
{
    explicit InstalledSink(SinkFunction function) : function(std::move(function)) {}
    const SinkFunction function;
    int callsRunning = 0; // under LogSink::mutex
};

// Where log records go instead of standard error, set from any thread. Never destroyed: a thread
// may log while the process exits.
struct LogSink
{
    Mutex mutex;
    std::condition_variable callEnded;
    std::shared_ptr<InstalledSink> sink GUARDED_BY(mutex);
};

LogSink& logSink()
{
    static LogSink* const state = new LogSink;
    return *state;
}

// The one copy of each logger name, kept for the life of the process.
const std::string* internedName(std::string name)
{
    struct Names
    {
        Mutex mutex;
        std::set<std::string> names GUARDED_BY(mutex);
    };
    static Names* const table = new Names;
    MutexLock guard(table->mutex);
    return &*table->names.insert(std::move(name)).first;
}

bool debugEnabledFromEnvironment()
{
    static const bool enabled = [] {
        const char* value = std::getenv("VESK_LOG_DEBUG");
        return value && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

const char* levelName(LogLevel level)
{
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::error:
        return "error";
    }
    return "info";
}

} // namespace

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(internedName(std::move(subsystem))), category_(internedName(std::move(category)))
{}

bool Logger::isDebugEnabled() const
{
    return debugEnabledFromEnvironment();
}

void Logger::write(LogLevel level, std::string_view message) const
{
    LogSink& state = logSink();
    std::shared_ptr<InstalledSink> sink;
    {
        MutexLock guard(state.mutex);
        sink = state.sink;
        if (sink)
            ++sink->callsRunning;
    }
    if (sink) {
        // Counted out however the call ends: a sink that throws must not leave a later
        // `setLogSink` waiting for a call that is over.
        struct CallEnd
        {
            LogSink& state;
            InstalledSink& sink;
            ~CallEnd()
            {
                MutexLock guard(state.mutex);
                if (--sink.callsRunning == 0)
                    state.callEnded.notify_all();
            }
        } callEnd{state, *sink};
        sink->function(LogRecord{*subsystem_, *category_, level, message});
        return;
    }
    if (level == LogLevel::debug && !isDebugEnabled())
        return;
    std::fprintf(stderr, "%s[%s] %s: %.*s\n", subsystem_->c_str(), category_->c_str(), levelName(level),
                 static_cast<int>(message.size()), message.data());
}

void Logger::debug(std::string_view message) const
{
    write(LogLevel::debug, message);
}
void Logger::info(std::string_view message) const
{
    write(LogLevel::info, message);
}
void Logger::error(std::string_view message) const
{
    write(LogLevel::error, message);
}

void Logger::logf(LogLevel level, const char* format, ...) const
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0)
        return;
    write(level, std::string_view(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1)));
}

SignpostID Logger::makeSignpostID() const
{
    static std::atomic<SignpostID> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

void Logger::signpostBegin(std::string_view name, SignpostID id, std::string_view message) const
{
    logf(LogLevel::debug, "signpost begin %.*s id=%llu %.*s", static_cast<int>(name.size()), name.data(),
         static_cast<unsigned long long>(id), static_cast<int>(message.size()), message.data());
}

void Logger::signpostEnd(std::string_view name, SignpostID id) const
{
    logf(LogLevel::debug, "signpost end %.*s id=%llu", static_cast<int>(name.size()), name.data(),
         static_cast<unsigned long long>(id));
}

void setLogSink(std::function<void(const LogRecord&)> sink)
{
    LogSink& state = logSink();
    MutexLock guard(state.mutex);
    std::shared_ptr<InstalledSink> replaced = std::move(state.sink);
    if (sink)
        state.sink = std::make_shared<InstalledSink>(std::move(sink));
    // The caller may free what the replaced sink refers to as soon as this returns.
    while (replaced && replaced->callsRunning > 0)
        state.mutex.wait(state.callEnded);
}

} // namespace platform
