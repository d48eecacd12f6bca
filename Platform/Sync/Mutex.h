// A plain mutex and its scoped guard, annotated so clang can check what each lock guards.
//
// libstdc++'s `std::mutex` and `std::lock_guard` carry no thread-safety attributes, so fields
// marked `GUARDED_BY` one of them could not be checked. `Mutex` wraps `std::mutex` at no cost and
// is what every mutex-guarded field in the engine and the platform layer names. Waiting on a
// `std::condition_variable` goes through `Mutex::wait`, which keeps the lock held as far as the
// caller (and the analysis) can tell; callers write the predicate loop themselves, where the
// analysis sees the lock held, instead of handing a predicate closure to the condition.
#pragma once

#include "Platform/Sync/ThreadSafety.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

class CAPABILITY("mutex") Mutex
{
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    /// Takes the mutex, waiting for it when another thread holds it.
    void lock() ACQUIRE() { mutex_.lock(); }

    /// Gives the mutex back.
    void unlock() RELEASE() { mutex_.unlock(); }

    /// Takes the mutex if it is free and tells whether it did.
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    /// Sleeps on `condition` with the mutex released, and takes it again before returning. Wakes
    /// on a notification or spuriously: the caller re-checks its condition in a loop.
    void wait(std::condition_variable& condition) REQUIRES(this)
    {
        std::unique_lock<std::mutex> adopted(mutex_, std::adopt_lock);
        condition.wait(adopted);
        // The caller still owns the mutex; the temporary guard must not unlock it.
        adopted.release();
    }

    /// Like `wait`, but returns at `deadline` at the latest; tells whether it timed out.
    template <typename Clock, typename Duration>
    std::cv_status waitUntil(std::condition_variable& condition,
                             const std::chrono::time_point<Clock, Duration>& deadline) REQUIRES(this)
    {
        std::unique_lock<std::mutex> adopted(mutex_, std::adopt_lock);
        const std::cv_status status = condition.wait_until(adopted, deadline);
        adopted.release();
        return status;
    }

private:
    std::mutex mutex_;
};

/// Holds a `Mutex` for its scope. `unlock` and `lock` let a scope give the mutex back for a while
/// (to run work outside it) and take it again; the destructor releases it only when held.
class SCOPED_CAPABILITY MutexLock
{
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE()
    {
        if (held_)
            mutex_.unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    /// Gives the mutex back before the scope ends.
    void unlock() RELEASE()
    {
        mutex_.unlock();
        held_ = false;
    }

    /// Takes the mutex again after `unlock`.
    void lock() ACQUIRE()
    {
        mutex_.lock();
        held_ = true;
    }

private:
    Mutex& mutex_;
    bool held_ = true;
};

} // namespace platform
