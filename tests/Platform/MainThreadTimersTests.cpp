// Main-thread timers: the manual twin's ordering and repeats, and the system timers' firings
// through the main queue.
#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(MainThreadTimersTests, ManualTimersFireInDeadlineOrderAndRepeat)
{
    ManualMainThreadTimers timers;
    std::vector<std::string> fired;
    auto repeating = timers.schedule(700ms, true, [&] { fired.push_back("blink"); });
    auto once = timers.schedule(1s, false, [&] { fired.push_back("once"); });
    auto dropped = timers.schedule(500ms, false, [&] { fired.push_back("dropped"); });
    dropped->invalidate();
    EXPECT_EQ(timers.activeCount(), 2u);
    const auto start = timers.now();
    timers.advance(1500ms);
    EXPECT_EQ(fired, (std::vector<std::string>{"blink", "once", "blink"}));
    EXPECT_EQ(timers.now() - start, 1500ms);
    EXPECT_FALSE(once->isValid()) << "a one-shot timer ends after firing";
    EXPECT_TRUE(repeating->isValid());
    repeating->invalidate();
    timers.advance(10s);
    EXPECT_EQ(fired.size(), 3u);
    EXPECT_EQ(timers.activeCount(), 0u);
    EXPECT_GT(timers.uptimeNanoseconds(), 0u);

    // A timer that schedules another from its firing sees it run in the same advance when due.
    fired.clear();
    timers.schedule(10ms, false, [&] { timers.schedule(10ms, false, [&] { fired.push_back("chained"); }); });
    timers.advance(25ms);
    EXPECT_EQ(fired, std::vector<std::string>{"chained"});
}

TEST(MainThreadTimersTests, SystemTimersFireOnTheMainQueueUntilInvalidated)
{
    auto loop = std::make_shared<ManualMainLoop>();
    MainQueue::install(loop);
    {
        std::shared_ptr<MainThreadTimers> timers = MainThreadTimers::system();
        int repeats = 0;
        bool once = false;
        auto repeating = timers->schedule(5ms, true, [&] { ++repeats; });
        auto single = timers->schedule(1ms, false, [&] { once = true; });
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while ((repeats < 3 || !once) && std::chrono::steady_clock::now() < deadline) {
            loop->waitForWork(50ms);
            loop->runUntilIdle();
        }
        EXPECT_GE(repeats, 3);
        EXPECT_TRUE(once);
        EXPECT_FALSE(single->isValid());
        repeating->invalidate();
        const int stopped = repeats;
        const auto quiet = std::chrono::steady_clock::now() + 50ms;
        while (std::chrono::steady_clock::now() < quiet) {
            loop->waitForWork(10ms);
            loop->runUntilIdle();
        }
        EXPECT_EQ(repeats, stopped) << "nothing fires after invalidate";
    }
    MainQueue::install(nullptr);
}

} // namespace
} // namespace platform
