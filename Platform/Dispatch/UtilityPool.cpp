#include "Platform/Dispatch/UtilityPool.h"

#include "Platform/Dispatch/ThreadRegistry.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform {

struct UtilityPool::Shared
{
    std::mutex mutex;
    std::condition_variable wakeUp;
    std::deque<std::function<void()>> items;
    bool stopping = false;
};

UtilityPool& UtilityPool::shared()
{
    // Four threads: enough that a few teardowns waiting for their pipelines cannot starve a delayed
    // kill, few enough to cost nothing while idle. Never destroyed, like the timer queue, so work
    // posted during exit finds its pool.
    static UtilityPool* const pool = new UtilityPool(4, "utility-");
    return *pool;
}

UtilityPool::UtilityPool(size_t threadCount, std::string labelPrefix) : shared_(std::make_shared<Shared>())
{
    threadCount = std::max<size_t>(threadCount, 1);
    threads_.reserve(threadCount);
    for (size_t i = 0; i < threadCount; ++i)
        threads_.emplace_back(run, shared_, labelPrefix + std::to_string(i));
}

UtilityPool::~UtilityPool()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wakeUp.notify_all();
    for (auto& thread : threads_) {
        // An item that destroys its own pool leaves its thread to end on its own.
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

void UtilityPool::async(std::function<void()> work)
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->items.push_back(std::move(work));
    }
    shared_->wakeUp.notify_one();
}

void UtilityPool::run(std::shared_ptr<Shared> shared, std::string label)
{
    setCurrentThreadName(label);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->wakeUp.wait(lock, [&] { return shared->stopping || !shared->items.empty(); });
        if (shared->items.empty())
            break;
        {
            std::function<void()> item = std::move(shared->items.front());
            shared->items.pop_front();
            lock.unlock();
            item();
        }
        lock.lock();
    }
}

} // namespace platform
