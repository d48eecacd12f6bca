#include "Platform/Dispatch/UtilityPool.h"

#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Dispatch/WorkList.h"

#include <algorithm>

namespace platform {

struct UtilityPool::Shared
{
    WorkList items;
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
    shared_->items.stop();
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
    shared_->items.push(std::move(work));
}

void UtilityPool::run(std::shared_ptr<Shared> shared, std::string label)
{
    setCurrentThreadName(label);
    shared->items.runUntilStopped();
}

} // namespace platform
