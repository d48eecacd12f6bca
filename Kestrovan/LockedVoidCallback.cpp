#include "Kestrovan/LockedVoidCallback.h"

#include <utility>

namespace kestrovan {

LockedVoidCallback::LockedVoidCallback(Callback callback) : storage(box(std::move(callback))) {}

std::shared_ptr<const LockedVoidCallback::Callback> LockedVoidCallback::box(Callback callback)
{
    if (!callback)
        return nullptr;
    return std::make_shared<const Callback>(std::move(callback));
}

void LockedVoidCallback::replace(Callback callback)
{
    // Box before taking the lock, and let the old box die after releasing it: destroying a closure
    // can run arbitrary destructors, which must not happen under a leaf lock.
    std::shared_ptr<const Callback> incoming = box(std::move(callback));
    storage.withLock([&](std::shared_ptr<const Callback>& present) { present.swap(incoming); });
}

LockedVoidCallback::Callback LockedVoidCallback::current() const
{
    std::shared_ptr<const Callback> present = storage.withLock([](const auto& boxed) { return boxed; });
    return present ? *present : Callback();
}

void LockedVoidCallback::call() const
{
    // Holding our own reference keeps the closure alive even if it replaces itself while running.
    std::shared_ptr<const Callback> present = storage.withLock([](const auto& boxed) { return boxed; });
    if (present)
        (*present)();
}

} // namespace kestrovan
