// The per-terminal lock: a first-come-first-served ticket lock that is not re-entrant.
//
// Every `Terminal` owns one. The parse thread, the main thread, the render thread and timers all
// take it, and a ticket queue makes sure a busy producer cannot starve the main thread. Misuse is a
// bug, not an error: taking it again on the thread that holds it, or releasing it on a thread that
// does not, stops the program instead of deadlocking or corrupting the terminal. Methods whose names
// end in `Locked` expect the caller to hold it and check that with `preconditionLocked`. When a
// `Locked` wrapper is needed as well, this lock is taken first.
//
// The lock is a clang capability: methods that need it held say `REQUIRES(...)`, and
// `preconditionLocked` counts as proof that it is held for the code after it. `TerminalLockGuard`
// holds it for a scope; prefer it to `withLock` where the body calls such methods, since the
// analysis does not follow a lock into a closure.
#pragma once

#include "Kestrovan/Profiling.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <condition_variable>
#include <cstdint>
#include <optional>
#include <source_location>
#include <thread>
#include <type_traits>
#include <utility>

/// Marks a public `Terminal` reader that reads state the terminal lock guards but is not checked
/// against it yet. Hosts call the readers under the lock, yet often on paths the analysis cannot
/// follow (view callbacks, snapshot builders handed a `const Terminal&`); such a reader becomes
/// `REQUIRES(terminalLock_)` once its callers state the lock too. Everything that changes the
/// terminal is checked already.
#define TERMINAL_READER_UNCHECKED NO_THREAD_SAFETY_ANALYSIS

namespace kestrovan {

class CAPABILITY("terminal lock") TerminalLock
{
public:
    TerminalLock() = default;
    TerminalLock(const TerminalLock&) = delete;
    TerminalLock& operator=(const TerminalLock&) = delete;

    /// Waits for this thread's turn and takes the lock. Stops the program when the calling thread
    /// already holds it.
    // The ownership lives in the ticket bookkeeping, which the analysis cannot relate to this
    // capability; `takeTurn` and `passTurn` are checked against their own mutex instead.
    void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { takeTurn(); }

    /// Takes the lock only when nobody holds it or waits for it; never waits. A thread that
    /// holds one terminal's lock may try another's this way without risking a deadlock. False
    /// also when the calling thread holds it already.
    bool tryLock() TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS { return tryTakeTurn(); }

    /// Releases the lock and lets the next ticket in. Stops the program unless the calling thread
    /// holds it.
    void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { passTurn(); }

    /// Takes the lock, runs `body` and returns its result; the lock is released also when the body
    /// throws, and the exception goes on to the caller.
    template <typename F> decltype(auto) withLock(F&& body) EXCLUDES(this);

    /// Stops the program unless the calling thread holds the lock; `where` names the caller in the
    /// message. The code after a call counts as holding the lock.
    void preconditionLocked(std::source_location where = std::source_location::current()) const
        ASSERT_CAPABILITY(this);

    /// Tells the analysis that the code after the call runs under this lock, at no cost and with no
    /// check: for code reached only while the lock is held, on a path the analysis cannot follow (an
    /// object that reaches its terminal through a weak or member reference, a callback the terminal
    /// makes under the lock). Code that can afford a run-time check uses `preconditionLocked`.
    void assumeHeldByCaller() const ASSERT_CAPABILITY(this) {}

    /// True when the calling thread holds the lock. Entry points that may be called with or without
    /// the lock (the terminal's selection registry) ask this before taking it.
    bool isHeldByCurrentThread() const;

    /// The number of threads sleeping in `lock()`, for tests and diagnostics.
    int waiterCount() const;

private:
    void takeTurn() EXCLUDES(conditionMutex);
    bool tryTakeTurn() EXCLUDES(conditionMutex);
    void passTurn() EXCLUDES(conditionMutex);

    // The mutex of the condition guards every field below. It is held only for this bookkeeping,
    // never for the caller's critical section.
    mutable platform::Mutex conditionMutex;
    std::condition_variable condition;
    // Tickets wrap on overflow; they are only compared for equality.
    uint64_t nextTicket GUARDED_BY(conditionMutex) = 0;
    uint64_t nowServing GUARDED_BY(conditionMutex) = 0;
    int waiters GUARDED_BY(conditionMutex) = 0;
    std::optional<std::thread::id> owner GUARDED_BY(conditionMutex);
    // The open hold measurement while profiling is on.
    std::optional<ProfilingInterval> holdInterval GUARDED_BY(conditionMutex);
};

/// Holds a terminal's lock for a scope, like `std::lock_guard`, in a form the analysis follows.
class SCOPED_CAPABILITY TerminalLockGuard
{
public:
    explicit TerminalLockGuard(TerminalLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.lock(); }
    ~TerminalLockGuard() RELEASE() { lock_.unlock(); }
    TerminalLockGuard(const TerminalLockGuard&) = delete;
    TerminalLockGuard& operator=(const TerminalLockGuard&) = delete;

private:
    TerminalLock& lock_;
};

/// For code that owns a terminal no other thread can reach (a fuzzer's or a test's own terminal,
/// set-up before the terminal is shared): the lock counts as held for the scope as far as the
/// analysis goes, at no cost and with no check, and nothing is taken, so callbacks that take the
/// lock themselves still work. Never for a terminal another thread may touch: that includes a
/// terminal whose link codes another terminal, fed on another thread, may take when the
/// process-wide table is full (it tries the lock, which such a scope leaves free).
class SCOPED_CAPABILITY TerminalUnsharedScope
{
public:
    explicit TerminalUnsharedScope(const TerminalLock& lock) ACQUIRE(lock) { (void)lock; }
    ~TerminalUnsharedScope() RELEASE() {}
    TerminalUnsharedScope(const TerminalUnsharedScope&) = delete;
    TerminalUnsharedScope& operator=(const TerminalUnsharedScope&) = delete;
};

template <typename F> decltype(auto) TerminalLock::withLock(F&& body)
{
    TerminalLockGuard guard(*this);
    return std::forward<F>(body)();
}

} // namespace kestrovan
