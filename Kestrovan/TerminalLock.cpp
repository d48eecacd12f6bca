#include "Kestrovan/TerminalLock.h"

#include "Kestrovan/Fatal.h"

#include <cstdio>
#include <string>

namespace kestrovan {

namespace {

// The signpost message of both lock intervals, made once per owner instead of once per acquisition.
std::string_view ownerMessage(ProfilingOwner owner)
{
    switch (owner) {
    case ProfilingOwner::main:
        return "owner=main";
    case ProfilingOwner::parse:
        return "owner=parse";
    case ProfilingOwner::timer:
        return "owner=timer";
    case ProfilingOwner::other:
        return "owner=other";
    }
    return "owner=other";
}

} // namespace

void TerminalLock::takeTurn()
{
    const std::thread::id self = std::this_thread::get_id();
    // The role is only looked up while profiling: it may read the thread's name.
    const bool profiling = Profiling::enabled();
    const ProfilingOwner ownerTag = profiling ? currentProfilingOwner() : ProfilingOwner::other;

    platform::MutexLock guard(conditionMutex);
    if (owner == self)
        fatal("TerminalLock: lock() called on the thread that already holds the terminal lock");

    const uint64_t ticket = nextTicket++;
    if (ticket != nowServing) {
        ProfilingInterval wait =
            profiling ? ProfilingInterval::begin(ProfilingEvent::lockWait, ownerTag, ownerMessage(ownerTag))
                      : ProfilingInterval::begin(ProfilingEvent::lockWait);
        ++waiters;
        // Every release wakes all waiters; only the holder of the next ticket goes on, the others
        // sleep again. That keeps the order strictly first come, first served.
        while (nowServing != ticket)
            conditionMutex.wait(condition);
        --waiters;
        wait.end();
    }

    owner = self;
    if (profiling)
        holdInterval = ProfilingInterval::begin(ProfilingEvent::lockHold, ownerTag, ownerMessage(ownerTag));
}

bool TerminalLock::tryTakeTurn()
{
    const bool profiling = Profiling::enabled();
    const ProfilingOwner ownerTag = profiling ? currentProfilingOwner() : ProfilingOwner::other;

    platform::MutexLock guard(conditionMutex);
    // Free means no holder and no ticket handed out ahead of this one.
    if (owner || nextTicket != nowServing)
        return false;
    ++nextTicket;
    owner = std::this_thread::get_id();
    if (profiling)
        holdInterval = ProfilingInterval::begin(ProfilingEvent::lockHold, ownerTag, ownerMessage(ownerTag));
    return true;
}

void TerminalLock::passTurn()
{
    std::optional<ProfilingInterval> hold;
    {
        platform::MutexLock guard(conditionMutex);
        if (owner != std::this_thread::get_id())
            fatal("TerminalLock: unlock() called on a thread that does not hold the terminal lock");
        owner.reset();
        hold = std::exchange(holdInterval, std::nullopt);
        ++nowServing;
        if (waiters >= 1)
            condition.notify_all();
    }
    // Recording and logging stay outside the bookkeeping mutex.
    if (hold)
        hold->end();
}

void TerminalLock::preconditionLocked(std::source_location where) const
{
    bool held;
    {
        platform::MutexLock guard(conditionMutex);
        held = owner == std::this_thread::get_id();
    }
    if (held)
        return;
    char message[512];
    std::snprintf(message, sizeof message,
                  "TerminalLock: the calling thread must hold the terminal lock (%s:%u, %s)",
                  where.file_name(), static_cast<unsigned>(where.line()), where.function_name());
    fatal(message);
}

bool TerminalLock::isHeldByCurrentThread() const
{
    platform::MutexLock guard(conditionMutex);
    return owner == std::this_thread::get_id();
}

int TerminalLock::waiterCount() const
{
    platform::MutexLock guard(conditionMutex);
    return waiters;
}

} // namespace kestrovan
