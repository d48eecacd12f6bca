// A value guarded by its own mutex.
//
// `Locked<T>` is the wrapper for every small state shared between threads. The value can only be
// reached inside `withLock`, so no caller can forget the lock or hold it past the closure. These
// are leaf locks: a closure must not take the terminal lock or another wrapper's lock, and must
// not call out to code that might. The value is marked as guarded by the mutex, so clang checks that
// nothing in the wrapper reaches it without the lock.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <functional>
#include <type_traits>
#include <utility>

namespace kestrovan {

template <typename T> class Locked
{
public:
    Locked() = default;
    explicit Locked(T initial) : value(std::move(initial)) {}

    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    /// Runs `body` with exclusive, mutable access to the value and returns its result. The lock is
    /// released however the body ends, also when it throws.
    template <typename F> decltype(auto) withLock(F&& body) EXCLUDES(lock)
    {
        static_assert(!std::is_reference_v<std::invoke_result_t<F, T&>>,
                      "Locked::withLock must not hand out a reference past the lock");
        platform::MutexLock guard(lock);
        return std::invoke(std::forward<F>(body), value);
    }

    /// Runs `body` with read access to the value under the lock and returns its result.
    template <typename F> decltype(auto) withLock(F&& body) const EXCLUDES(lock)
    {
        static_assert(!std::is_reference_v<std::invoke_result_t<F, const T&>>,
                      "Locked::withLock must not hand out a reference past the lock");
        platform::MutexLock guard(lock);
        return std::invoke(std::forward<F>(body), value);
    }

private:
    mutable platform::Mutex lock;
    T value GUARDED_BY(lock){};
};

} // namespace kestrovan
