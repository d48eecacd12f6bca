#include "Patience.h"

#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Dispatch/UtilityPool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <string>

using namespace std::chrono_literals;
using platform::UtilityPool;

namespace {} // namespace

TEST(UtilityPool, RunsItemsSideBySideOnItsNamedThreads)
{
    UtilityPool pool(3, "kestrovan-test-pool-");
    EXPECT_EQ(pool.threadCount(), 3u);

    // Three items that each wait until all three have started can only finish side by side.
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    std::set<std::string> names;
    std::promise<bool> allMet[3];
    std::future<bool> results[3];
    for (int i = 0; i < 3; ++i)
        results[i] = allMet[i].get_future();
    for (auto& met : allMet) {
        pool.async([&] {
            std::unique_lock lock(mutex);
            names.insert(platform::currentThreadName());
            ++started;
            changed.notify_all();
            met.set_value(changed.wait_for(lock, patience, [&] { return started == 3; }));
        });
    }
    for (auto& result : results)
        EXPECT_TRUE(result.get()) << "an item never saw the others start";
    EXPECT_EQ(names, (std::set<std::string>{"kestrovan-test-pool-0", "kestrovan-test-pool-1",
                                            "kestrovan-test-pool-2"}));
}

TEST(UtilityPool, DestructionRunsTheItemsStillQueued)
{
    std::atomic<int> ran{0};
    {
        UtilityPool pool(1, "kestrovan-test-pool-");
        for (int i = 0; i < 100; ++i)
            pool.async([&] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(UtilityPool, SharedPoolIsOneAndRunsWork)
{
    EXPECT_EQ(&UtilityPool::shared(), &UtilityPool::shared());
    std::promise<std::string> name;
    auto future = name.get_future();
    UtilityPool::shared().async([&] { name.set_value(platform::currentThreadName()); });
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    EXPECT_EQ(future.get().rfind("utility-", 0), 0u);
}
