#include "Kestrovan/Profiling.h"

#include "Kestrovan/ProfilingStats.h"
#include "Platform/Dispatch/ThreadRegistry.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kestrovan {

namespace {

// The switches as last read from the environment. They are atomics only so that the test hook
// can read them again while other threads look at them; the engine reads them once.
struct Switches
{
    std::atomic<bool> signposts{false};
    std::atomic<bool> stats{false};

    Switches() { read(); }

    void read()
    {
        signposts.store(isOne("KESTROVAN_PROFILE"), std::memory_order_relaxed);
        stats.store(isOne("KESTROVAN_PROFILE_STATS"), std::memory_order_relaxed);
    }

    // Only exactly "1" switches on: "true", "yes" or "01" leave profiling off.
    static bool isOne(const char* variable)
    {
        const char* value = std::getenv(variable);
        return value && std::strcmp(value, "1") == 0;
    }
};

Switches& switches()
{
    static Switches instance;
    return instance;
}

// The role a thread marked itself with; 0xFF while it has not.
thread_local uint8_t markedOwnerOfThisThread = 0xFF;

} // namespace

std::string_view name(ProfilingEvent event)
{
    switch (event) {
    case ProfilingEvent::ioBatch:
        return "IO.Batch";
    case ProfilingEvent::ioParse:
        return "IO.Parse";
    case ProfilingEvent::lockWait:
        return "Lock.Wait";
    case ProfilingEvent::lockHold:
        return "Lock.Hold";
    case ProfilingEvent::frameTick:
        return "Frame.Tick";
    case ProfilingEvent::frameRefresh:
        return "Frame.Refresh";
    case ProfilingEvent::frameDraw:
        return "Frame.Draw";
    case ProfilingEvent::metalDrawable:
        return "Metal.Drawable";
    case ProfilingEvent::metalBuildDrawData:
        return "Metal.BuildDrawData";
    case ProfilingEvent::metalEncode:
        return "Metal.Encode";
    case ProfilingEvent::metalRowBuild:
        return "Metal.RowBuild";
    case ProfilingEvent::rowAttributedString:
        return "Row.AttributedString";
    case ProfilingEvent::rowShape:
        return "Row.Shape";
    case ProfilingEvent::frameResize:
        return "Frame.Resize";
    case ProfilingEvent::metalRowPlace:
        return "Metal.RowPlace";
    case ProfilingEvent::rowPlain:
        return "Row.Plain";
    }
    return "Unknown";
}

std::optional<ProfilingOwner> profilingOwnerFromRaw(uint8_t rawValue)
{
    if (rawValue > static_cast<uint8_t>(ProfilingOwner::other))
        return std::nullopt;
    return static_cast<ProfilingOwner>(rawValue);
}

std::string_view reportName(ProfilingOwner owner)
{
    switch (owner) {
    case ProfilingOwner::main:
        return "main";
    case ProfilingOwner::parse:
        return "parse";
    case ProfilingOwner::timer:
        return "timer";
    case ProfilingOwner::other:
        return "other";
    }
    return "other";
}

ProfilingOwner currentProfilingOwner()
{
    if (platform::isMainThread())
        return ProfilingOwner::main;
    if (auto marked = profilingOwnerFromRaw(markedOwnerOfThisThread))
        return *marked;
    // The full name from our registry: the kernel keeps only 15 bytes, too few to tell
    // "kestrovan-io-timers" from other "kestrovan-io-..." threads.
    std::string threadName = platform::currentThreadName();
    if (threadName == "kestrovan-parse")
        return ProfilingOwner::parse;
    if (threadName.starts_with("kestrovan-io-timers"))
        return ProfilingOwner::timer;
    return ProfilingOwner::other;
}

void markCurrentThreadProfilingOwner(ProfilingOwner owner)
{
    markedOwnerOfThisThread = static_cast<uint8_t>(owner);
}

namespace Profiling {

bool enabled()
{
    const Switches& current = switches();
    return current.signposts.load(std::memory_order_relaxed) || current.stats.load(std::memory_order_relaxed);
}

bool signpostsEnabled()
{
    return switches().signposts.load(std::memory_order_relaxed);
}

const platform::Logger& log()
{
    static const platform::Logger logger("org.morvane.Kestrovan", "IOProfile");
    return logger;
}

uint64_t uptimeNanoseconds()
{
    // steady_clock is CLOCK_MONOTONIC on Linux: it never jumps with the wall clock.
    auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceBoot).count());
}

void rereadSwitchesForTesting()
{
    switches().read();
}

} // namespace Profiling

bool ProfilingStats::enabled()
{
    return switches().stats.load(std::memory_order_relaxed);
}

ProfilingInterval ProfilingInterval::begin(ProfilingEvent event, std::optional<ProfilingOwner> owner,
                                           std::string_view message)
{
    if (!Profiling::enabled())
        return ProfilingInterval{event, std::nullopt, 0, platform::invalidSignpostID, false};
    ProfilingInterval interval{event, owner, Profiling::uptimeNanoseconds(), platform::invalidSignpostID,
                               true};
    if (Profiling::signpostsEnabled()) {
        interval.id = Profiling::log().makeSignpostID();
        Profiling::log().signpostBegin(name(event), interval.id, message);
    }
    return interval;
}

void ProfilingInterval::finish() const
{
    if (ProfilingStats::enabled()) {
        // A clock read on another core can never run backwards on CLOCK_MONOTONIC, but an interval
        // built by hand might carry a later start; record zero rather than a wrapped huge value.
        uint64_t now = Profiling::uptimeNanoseconds();
        uint64_t elapsed = now > startNs ? now - startNs : 0;
        ProfilingStats::shared().record(event, isOwnerTagged(event) ? owner : std::nullopt, elapsed);
    }
    if (Profiling::signpostsEnabled())
        Profiling::log().signpostEnd(name(event), id);
}

} // namespace kestrovan
