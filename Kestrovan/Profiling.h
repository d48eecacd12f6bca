// The profiling switches, the measured events, thread roles and timed intervals.
//
// The engine measures a fixed set of intervals (pty batches, parsing, terminal-lock waits and
// holds, frame phases, row building). Two environment variables, read once per process, decide
// what happens when an interval ends: KESTROVAN_PROFILE=1 emits log signposts around it and
// KESTROVAN_PROFILE_STATS=1 records its duration in `ProfilingStats`. With both off, which is the
// default, beginning and ending an interval costs a flag test. The statistics and the reports live
// in ProfilingStats.h; the public entry points for hosts in TerminalProfiling.h.
#pragma once

#include "Platform/Log/Log.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrovan {

/// The measured intervals. The raw values index the statistics slots and must not change.
enum class ProfilingEvent : uint8_t
{
    ioBatch = 0,
    ioParse = 1,
    lockWait = 2,
    lockHold = 3,
    frameTick = 4,
    frameRefresh = 5,
    frameDraw = 6,
    metalDrawable = 7,
    metalBuildDrawData = 8,
    metalEncode = 9,
    metalRowBuild = 10,
    rowAttributedString = 11,
    rowShape = 12,
    frameResize = 13,
    metalRowPlace = 14,
    rowPlain = 15,
};

/// Every event in raw-value order, the order of the report's rows.
inline constexpr std::array<ProfilingEvent, 16> allProfilingEvents = {
    ProfilingEvent::ioBatch,     ProfilingEvent::ioParse,       ProfilingEvent::lockWait,
    ProfilingEvent::lockHold,    ProfilingEvent::frameTick,     ProfilingEvent::frameRefresh,
    ProfilingEvent::frameDraw,   ProfilingEvent::metalDrawable, ProfilingEvent::metalBuildDrawData,
    ProfilingEvent::metalEncode, ProfilingEvent::metalRowBuild, ProfilingEvent::rowAttributedString,
    ProfilingEvent::rowShape,    ProfilingEvent::frameResize,   ProfilingEvent::metalRowPlace,
    ProfilingEvent::rowPlain,
};

/// The event's fixed name, used for signposts and report rows ("Lock.Wait").
std::string_view name(ProfilingEvent event);

/// True for the two lock events, the only ones whose samples are kept apart by thread role.
constexpr bool isOwnerTagged(ProfilingEvent event)
{
    return event == ProfilingEvent::lockWait || event == ProfilingEvent::lockHold;
}

/// The role of a thread, as far as profiling tells threads apart.
enum class ProfilingOwner : uint8_t
{
    main = 0,
    parse = 1,
    timer = 2,
    other = 3,
};

/// The owner with the given raw value; only 0-3 are owners.
std::optional<ProfilingOwner> profilingOwnerFromRaw(uint8_t rawValue);

/// The owner's name in reports and signpost messages: "main", "parse", "timer" or "other".
std::string_view reportName(ProfilingOwner owner);

/// The role of the calling thread: `main` on the main thread, else the role the thread marked
/// itself with, else decided by the thread's full name ("kestrovan-parse" is `parse`, a name
/// starting with "kestrovan-io-timers" is `timer`, anything else `other`).
ProfilingOwner currentProfilingOwner();

/// Marks the calling thread with a role that `currentProfilingOwner` reports from now on (except on
/// the main thread, which is always `main`).
void markCurrentThreadProfilingOwner(ProfilingOwner owner);

namespace Profiling {

/// On when KESTROVAN_PROFILE or KESTROVAN_PROFILE_STATS is exactly "1".
bool enabled();

/// On when KESTROVAN_PROFILE is exactly "1": intervals emit begin and end signposts.
bool signpostsEnabled();

/// The log that interval signposts go to: subsystem "org.morvane.Kestrovan", category "IOProfile".
const platform::Logger& log();

/// Monotonic uptime in nanoseconds, the clock of `ProfilingInterval::startNs`.
uint64_t uptimeNanoseconds();

/// Reads the switches from the environment again. The engine reads them once on first use; only
/// tests that set the variables at run time call this.
void rereadSwitchesForTesting();

} // namespace Profiling

/// One timed interval of an event. Made while profiling is off it is inactive and ends as a no-op.
struct ProfilingInterval
{
    ProfilingEvent event = ProfilingEvent::ioBatch;
    /// The thread role; only kept in the statistics for the owner-tagged events.
    std::optional<ProfilingOwner> owner;
    /// `Profiling::uptimeNanoseconds()` when the interval began.
    uint64_t startNs = 0;
    platform::SignpostID id = platform::invalidSignpostID;
    bool isActive = false;

    /// Starts an interval now. With profiling off the result is inactive (no owner, start 0). With
    /// signposts on, it takes a fresh signpost id and emits a begin signpost named after the event
    /// with `message`; otherwise its id is the invalid signpost id.
    static ProfilingInterval begin(ProfilingEvent event, std::optional<ProfilingOwner> owner = std::nullopt,
                                   std::string_view message = {});

    /// Records the elapsed time when statistics are on (with the owner only for owner-tagged
    /// events), then emits the end signpost when signposts are on. Nothing for an inactive interval.
    void end() const
    {
        if (isActive)
            finish();
    }

private:
    void finish() const;
};

} // namespace kestrovan
