#include "Platform/Dispatch/DispatchQueue.h"

#include <condition_variable>
#include <mutex>

namespace platform {

void DispatchQueue::runAndWait(std::function<void()> work)
{
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        work();
        // Notified under the lock: once `done` is seen the waiter returns and these locals go.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

} // namespace platform
