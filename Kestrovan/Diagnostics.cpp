#include "Kestrovan/Diagnostics.h"

#include "Kestrovan/DiagnosticsRateLimiter.h"
#include "Platform/Log/Log.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <ctime>
#include <optional>
#include <string>

namespace kestrovan {

namespace {

uint64_t monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

// Where diagnostics go, set from any thread: the sink when there is one, else the log through the
// rate limit, which reads `clock`.
struct DiagnosticRoute
{
    platform::Mutex mutex;
    std::function<void(std::string_view)> sink GUARDED_BY(mutex);
    std::function<uint64_t()> clock GUARDED_BY(mutex);
    DiagnosticsRateLimiter limiter GUARDED_BY(mutex);
};

DiagnosticRoute& diagnosticRoute()
{
    static DiagnosticRoute state;
    return state;
}

const platform::Logger& diagnosticLog()
{
    static const platform::Logger log("org.morvane.Kestrovan", "Diagnostics");
    return log;
}

// Whether diagnostics made on this thread are dropped (see `DiagnosticSilence`).
thread_local bool diagnosticsSilenced = false;

} // namespace

DiagnosticSilence::DiagnosticSilence(bool silent) : previous_(diagnosticsSilenced)
{
    diagnosticsSilenced = silent;
}

DiagnosticSilence::~DiagnosticSilence()
{
    diagnosticsSilenced = previous_;
}

void printDiagnostic(std::string_view line)
{
    if (diagnosticsSilenced)
        return;
    DiagnosticRoute& state = diagnosticRoute();
    std::function<void(std::string_view)> sink;
    std::optional<std::string> text;
    {
        platform::MutexLock guard(state.mutex);
        sink = state.sink;
        if (!sink)
            text = state.limiter.admit(line, state.clock ? state.clock() : monotonicNanoseconds());
    }
    // Both destinations are called without the lock: a sink may print diagnostics itself.
    if (sink)
        sink(line);
    else if (text)
        diagnosticLog().info(*text);
}

std::function<void(std::string_view)> setDiagnosticSink(std::function<void(std::string_view)> sink)
{
    DiagnosticRoute& state = diagnosticRoute();
    platform::MutexLock guard(state.mutex);
    auto old = std::move(state.sink);
    state.sink = std::move(sink);
    return old;
}

std::function<uint64_t()> setDiagnosticClock(std::function<uint64_t()> clock)
{
    DiagnosticRoute& state = diagnosticRoute();
    platform::MutexLock guard(state.mutex);
    auto old = std::move(state.clock);
    state.clock = std::move(clock);
    state.limiter = DiagnosticsRateLimiter();
    return old;
}

} // namespace kestrovan
