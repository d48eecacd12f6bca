#include "Kestrovan/TerminalProfiling.h"

namespace kestrovan::TerminalProfiling {

bool isRecording()
{
    return ProfilingStats::enabled();
}

void reset()
{
    ProfilingStats::shared().reset();
    ProfilingHopCounter::shared().reset();
    ProfilingLockCallers::shared().reset();
}

std::vector<IntervalSummary> summaries()
{
    return ProfilingStats::shared().summaries();
}

std::string report()
{
    return ProfilingStats::report(summaries());
}

std::string report(const std::vector<IntervalSummary>& summaries)
{
    return ProfilingStats::report(summaries);
}

std::string hopReport()
{
    return ProfilingHopCounter::shared().report();
}

std::string lockCallerReport()
{
    return ProfilingLockCallers::shared().report();
}

} // namespace kestrovan::TerminalProfiling
