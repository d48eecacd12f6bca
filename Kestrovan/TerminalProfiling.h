// The entry points a host or a debugging tool uses to read the engine's profiling.
//
// A thin face over the shared `ProfilingStats`, `ProfilingHopCounter` and `ProfilingLockCallers`:
// it tells whether durations are being recorded, empties everything for a fresh measurement, and
// hands out the three Markdown reports.
#pragma once

#include "Kestrovan/ProfilingStats.h"

#include <string>
#include <vector>

namespace kestrovan::TerminalProfiling {

/// True when durations are recorded (KESTROVAN_PROFILE_STATS is "1").
bool isRecording();

/// Empties all samples and drop counters (keeping their storage) and both counter maps.
void reset();

/// The summaries of every slot that holds samples.
std::vector<IntervalSummary> summaries();

/// The Markdown table of the current summaries; empty when nothing was recorded.
std::string report();

/// The Markdown table of the given summaries.
std::string report(const std::vector<IntervalSummary>& summaries);

/// The main-queue hops per callback.
std::string hopReport();

/// The main-thread terminal-lock acquisitions per call site.
std::string lockCallerReport();

} // namespace kestrovan::TerminalProfiling
