// A small fixed pool of threads for background work that may block for a while (waiting for a
// pipeline's threads to end, a delayed kill) and must not hold up a serial queue or the main thread.
//
// Items start in posting order on whichever thread is free; unlike a serial queue they may run at
// the same time. The process-wide pool is made on first use and never destroyed; a pool made by a
// caller runs its remaining items when destroyed, then joins its threads.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class UtilityPool
{
public:
    /// The process-wide pool of four threads named "utility-0" to "utility-3".
    static UtilityPool& shared();

    /// Starts `threadCount` threads (at least one), named `labelPrefix` followed by their index.
    UtilityPool(size_t threadCount, std::string labelPrefix);
    ~UtilityPool();

    UtilityPool(const UtilityPool&) = delete;
    UtilityPool& operator=(const UtilityPool&) = delete;

    /// Queues `work` to run on one of the pool's threads.
    void async(std::function<void()> work);

    size_t threadCount() const { return threads_.size(); }

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared, std::string label);

    std::shared_ptr<Shared> shared_;
    std::vector<std::thread> threads_;
};

} // namespace platform
