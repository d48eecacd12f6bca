#include "Kestrovan/Diagnostics.h"

#include <cstdio>
#include <mutex>

namespace kestrovan {

namespace {

std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::function<void(std::string_view)>& sinkStorage()
{
    static std::function<void(std::string_view)> sink;
    return sink;
}

} // namespace

void printDiagnostic(std::string_view line)
{
    std::function<void(std::string_view)> sink;
    {
        std::lock_guard guard(sinkMutex());
        sink = sinkStorage();
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
    std::lock_guard guard(sinkMutex());
    auto old = std::move(sinkStorage());
    sinkStorage() = std::move(sink);
    return old;
}

} // namespace kestrovan
