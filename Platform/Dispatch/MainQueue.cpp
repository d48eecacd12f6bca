#include "Platform/Dispatch/MainQueue.h"

#include "Platform/Log/Fatal.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace platform {

namespace {

struct Installation
{
    Mutex mutex;
    std::shared_ptr<MainQueue> queue GUARDED_BY(mutex);
};

Installation& installation()
{
    // Never destroyed: work may be posted while static destructors run at exit.
    static Installation* const value = new Installation;
    return *value;
}

} // namespace

MainQueue::MainQueue() : mainThread_(std::this_thread::get_id()) {}

void MainQueue::install(std::shared_ptr<MainQueue> queue)
{
    Installation& state = installation();
    std::shared_ptr<MainQueue> previous;
    {
        MutexLock lock(state.mutex);
        previous = std::exchange(state.queue, std::move(queue));
    }
    // `previous` is released here, outside the lock: its pending work may capture anything.
}

std::shared_ptr<MainQueue> MainQueue::shared()
{
    auto queue = installed();
    if (!queue)
        fatal("no main queue is installed; the host must install one with platform::MainQueue::install");
    return queue;
}

std::shared_ptr<MainQueue> MainQueue::installed()
{
    Installation& state = installation();
    MutexLock lock(state.mutex);
    return state.queue;
}

void MainQueue::sync(std::function<void()> work)
{
    if (isCurrent())
        fatal("MainQueue::sync called on the main thread, which would wait for itself");
    runAndWait(std::move(work));
}

bool MainQueue::isCurrent() const
{
    return std::this_thread::get_id() == mainThread_;
}

} // namespace platform
