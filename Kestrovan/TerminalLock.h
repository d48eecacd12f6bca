// The per-terminal lock: a first-come-first-served ticket lock that is not re-entrant.
//
// Every `Terminal` owns one. The parse thread, the main thread, the render thread and timers all
// take it, and a ticket queue makes sure a busy producer cannot starve the main thread. Misuse is a
// bug, not an error: taking it again on the thread that holds it, or releasing it on a thread that
// does not, stops the program instead of deadlocking or corrupting the terminal. Methods whose names
// end in `Locked` expect the caller to hold it and check that with `preconditionLocked`. When a
// `Locked` wrapper is needed as well, this lock is taken first.
#pragma once

#include "Kestrovan/Profiling.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <source_location>
#include <thread>
#include <type_traits>
#include <utility>

namespace kestrovan {

class TerminalLock
{
public:
    TerminalLock() = default;
    TerminalLock(const TerminalLock&) = delete;
    TerminalLock& operator=(const TerminalLock&) = delete;

    /// Waits for this thread's turn and takes the lock. Stops the program when the calling thread
    /// already holds it.
    void lock();

    /// Releases the lock and lets the next ticket in. Stops the program unless the calling thread
    /// holds it.
    void unlock();

    /// Takes the lock, runs `body` and returns its result; the lock is released also when the body
    /// throws, and the exception goes on to the caller.
    template <typename F> decltype(auto) withLock(F&& body)
    {
        lock();
        struct Release
        {
            TerminalLock& owner;
            ~Release() { owner.unlock(); }
        } release{*this};
        return std::forward<F>(body)();
    }

    /// Stops the program unless the calling thread holds the lock; `where` names the caller in the
    /// message.
    void preconditionLocked(std::source_location where = std::source_location::current()) const;

    /// True when the calling thread holds the lock. Entry points that may be called with or without
    /// the lock (the terminal's selection registry) ask this before taking it.
    bool isHeldByCurrentThread() const;

    /// The number of threads sleeping in `lock()`, for tests and diagnostics.
    int waiterCount() const;

private:
    // The mutex of the condition guards every field below. It is held only for this bookkeeping,
    // never for the caller's critical section.
    mutable std::mutex conditionMutex;
    std::condition_variable condition;
    // Tickets wrap on overflow; they are only compared for equality.
    uint64_t nextTicket = 0;
    uint64_t nowServing = 0;
    int waiters = 0;
    std::optional<std::thread::id> owner;
    // The open hold measurement while profiling is on.
    std::optional<ProfilingInterval> holdInterval;
};

} // namespace kestrovan
