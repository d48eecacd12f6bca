#include "Platform/Dispatch/ManualMainLoop.h"

#include "Platform/Log/Fatal.h"

#include <string>

namespace platform {

ManualMainLoop::~ManualMainLoop()
{
    std::deque<std::function<void()>> dropped;
    {
        MutexLock lock(mutex_);
        dropped.swap(items_);
    }
}

void ManualMainLoop::async(std::function<void()> work)
{
    {
        MutexLock lock(mutex_);
        items_.push_back(std::move(work));
    }
    posted_.notify_all();
}

bool ManualMainLoop::runOnce()
{
    requireLoopThread("runOnce");
    std::function<void()> item;
    {
        MutexLock lock(mutex_);
        if (items_.empty())
            return false;
        item = std::move(items_.front());
        items_.pop_front();
    }
    // Run without the lock so the item may post again; its captures are released here too.
    item();
    return true;
}

size_t ManualMainLoop::runUntilIdle()
{
    requireLoopThread("runUntilIdle");
    size_t ran = 0;
    while (runOnce())
        ++ran;
    return ran;
}

bool ManualMainLoop::waitForWork(std::chrono::steady_clock::duration timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(mutex_);
    while (items_.empty()) {
        if (mutex_.waitUntil(posted_, deadline) == std::cv_status::timeout)
            return !items_.empty();
    }
    return true;
}

size_t ManualMainLoop::pendingCount() const
{
    MutexLock lock(mutex_);
    return items_.size();
}

void ManualMainLoop::requireLoopThread(const char* operation) const
{
    // Running the loop elsewhere would break every "this runs on the main thread" the engine
    // relies on, so it is refused loudly rather than tolerated.
    if (!isCurrent())
        fatal(std::string("ManualMainLoop::") + operation + " called off the thread that created the loop");
}

} // namespace platform
