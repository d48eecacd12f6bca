#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/Profiling.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(IOTimerQueue, IsOneQueueWhoseThreadProfilingCountsAsTheTimer)
{
    auto& queue = kestrovan::IOTimerQueue::shared();
    EXPECT_EQ(&queue, &kestrovan::IOTimerQueue::shared()) << "shared() made a second queue";
    EXPECT_EQ(queue.label(), "kestrovan-io-timers");

    std::promise<kestrovan::ProfilingOwner> owner;
    auto future = owner.get_future();
    queue.schedule(platform::TimerQueue::Clock::now() + 1ms,
                   [&] { owner.set_value(kestrovan::currentProfilingOwner()); });
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(future.get(), kestrovan::ProfilingOwner::timer);
}
