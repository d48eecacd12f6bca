#include "Kestrovan/Diagnostics.h"

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <cstdio>

namespace kestrovan {

namespace {

// The sink diagnostics go to instead of standard output, set from any thread.
struct DiagnosticSink
{
    platform::Mutex mutex;
    std::function<void(std::string_view)> sink GUARDED_BY(mutex);
};

DiagnosticSink& diagnosticSink()
{
    static DiagnosticSink state;
    return state;
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
    DiagnosticSink& state = diagnosticSink();
    std::function<void(std::string_view)> sink;
    {
        platform::MutexLock guard(state.mutex);
        sink = state.sink;
    }
    if (sink) {
        sink(line);
        return;
    }
    std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(stdout);
}

std::function<void(std::string_view)> setDiagnosticSink(std::function<void(std::string_view)> sink)
{
    DiagnosticSink& state = diagnosticSink();
    platform::MutexLock guard(state.mutex);
    auto old = std::move(state.sink);
    state.sink = std::move(sink);
    return old;
}

} // namespace kestrovan
