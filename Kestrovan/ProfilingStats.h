// Duration statistics of the profiled intervals and the two call-site counters, with their reports.
//
// Samples are kept raw, per event and thread role, so that percentiles are exact; each of the 64
// slots stops growing at 500,000 samples and counts what it drops instead. All three shared
// instances are process-wide and guarded by their own leaf lock, held only for an append, an
// increment or a copy: sorting and formatting happen outside it.
#pragma once

#include "Kestrovan/Locked.h"
#include "Kestrovan/Profiling.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

/// The statistics of one slot (an event, and a thread role for the owner-tagged events).
struct IntervalSummary
{
    std::string event;
    std::optional<std::string> owner;
    int64_t count = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double p999Ms = 0;
    double maxMs = 0;
    double totalMs = 0;
    int64_t dropped = 0;

    friend bool operator==(const IntervalSummary&, const IntervalSummary&) = default;
};

/// The recorded durations of every slot.
class ProfilingStats
{
public:
    /// Samples kept per slot; beyond this only the slot's drop counter grows.
    static constexpr size_t maximumSamplesPerSlot = 500'000;
    static constexpr size_t slotCount = 64;

    /// The process-wide instance, made on first use.
    static ProfilingStats& shared();

    /// On when KESTROVAN_PROFILE_STATS is exactly "1".
    static bool enabled();

    /// Stores one duration; an absent owner counts as `main` (raw 0) for the slot.
    void record(ProfilingEvent event, std::optional<ProfilingOwner> owner, uint64_t nanoseconds);

    /// The summaries of all slots that hold samples, by event then owner.
    std::vector<IntervalSummary> summaries() const;

    /// The Markdown table of `summaries`; empty when there are none.
    static std::string report(const std::vector<IntervalSummary>& summaries);

    /// Empties every slot and drop counter, keeping the samples' storage for the next run.
    void reset();

    ProfilingStats(const ProfilingStats&) = delete;
    ProfilingStats& operator=(const ProfilingStats&) = delete;

private:
    struct State
    {
        /// Durations in nanoseconds; slot = event raw value × 4 + owner raw value.
        std::array<std::vector<uint64_t>, slotCount> samples;
        std::array<int64_t, slotCount> dropped{};
    };

    ProfilingStats() = default;

    Locked<State> state;
};

/// Counts per call site, the common part of the hop counter and the lock-caller counter.
class ProfilingCallSiteCounter
{
public:
    /// Adds one to the count of `callSite`.
    void record(std::string_view callSite);

    /// The Markdown table of the counts, largest first; empty when nothing was recorded.
    std::string report() const;

    /// Forgets every count.
    void reset();

    ProfilingCallSiteCounter(const ProfilingCallSiteCounter&) = delete;
    ProfilingCallSiteCounter& operator=(const ProfilingCallSiteCounter&) = delete;

protected:
    explicit ProfilingCallSiteCounter(const char* header) : header(header) {}

private:
    /// The table's header line and separator line, each with its line break.
    const char* header;
    Locked<std::map<std::string, int64_t, std::less<>>> counts;
};

/// Counts the hops to the main queue per callback.
class ProfilingHopCounter final : public ProfilingCallSiteCounter
{
public:
    static ProfilingHopCounter& shared();

private:
    ProfilingHopCounter();
};

/// Counts the terminal-lock acquisitions on the main thread per call site.
class ProfilingLockCallers final : public ProfilingCallSiteCounter
{
public:
    static ProfilingLockCallers& shared();

private:
    ProfilingLockCallers();
};

} // namespace kestrovan
