// A replaceable callback without arguments or result, safe to set and call from any thread.
//
// The callback is kept boxed behind a leaf lock; `call()` takes it out under the lock and runs it
// after releasing the lock, so a callback may replace itself (or read the wrapper) without
// deadlocking, and a slow callback never blocks a thread that only wants to swap it. One storage
// serves every system here: a mutex guarding a shared, immutable box around the closure, which
// makes taking it out under the lock a reference-count increment rather than a closure copy.
#pragma once

#include "Kestrovan/Locked.h"

#include <functional>
#include <memory>

namespace kestrovan {

class LockedVoidCallback
{
public:
    using Callback = std::function<void()>;

    /// Starts with `callback`; an empty function means no callback.
    explicit LockedVoidCallback(Callback callback = nullptr);

    LockedVoidCallback(const LockedVoidCallback&) = delete;
    LockedVoidCallback& operator=(const LockedVoidCallback&) = delete;

    /// Swaps in a new callback; an empty function removes it.
    void replace(Callback callback);

    /// The callback present now, or an empty function when there is none.
    Callback current() const;

    /// Runs the callback present now, outside the lock; does nothing when there is none.
    void call() const;

private:
    static std::shared_ptr<const Callback> box(Callback callback);

    Locked<std::shared_ptr<const Callback>> storage;
};

} // namespace kestrovan
