#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/Dispatch/ThreadRegistry.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(DisplayLinkTests, AManualLinkTicksOnlyWhileRunning)
{
    ManualDisplayLink link;
    int ticks = 0;
    link.setHandler([&] { ++ticks; });
    EXPECT_TRUE(link.ticksOnMainThread());
    EXPECT_FALSE(link.tick());
    link.start();
    link.start();
    EXPECT_TRUE(link.tick());
    link.pause();
    link.pause();
    EXPECT_FALSE(link.tick());
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(link.counters(), (DisplayLink::Counters{1, 1, 1}));

    link.setHandler([&] { link.pause(); });
    link.start();
    EXPECT_TRUE(link.tick()) << "a handler may pause its own link";
    EXPECT_FALSE(link.isRunning());
    link.invalidate();
    link.start();
    EXPECT_FALSE(link.isRunning()) << "invalidated for good";
}

TEST(DisplayLinkTests, ATimerLinkTicksOnItsOwnThreadAndSleepsWhenPaused)
{
    TimerDisplayLink link(500.0, "test-display-link");
    EXPECT_FALSE(link.ticksOnMainThread());
    EXPECT_EQ(link.interval(), std::chrono::milliseconds(2));
    std::atomic<int> ticks{0};
    std::string threadName;
    link.setHandler([&] {
        if (ticks++ == 0)
            threadName = currentThreadName();
    });
    link.start();
    ASSERT_TRUE(waitFor([&] { return ticks >= 5; }));
    link.pause();
    EXPECT_EQ(threadName, "test-display-link");
    std::this_thread::sleep_for(20ms);
    const int ticksWhenPaused = ticks;
    const uint64_t wakeUps = link.wakeUps();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ticks, ticksWhenPaused);
    EXPECT_EQ(link.wakeUps(), wakeUps) << "a paused link sleeps without a timeout";

    link.start();
    ASSERT_TRUE(waitFor([&] { return ticks >= ticksWhenPaused + 3; })) << "and starts again";
    link.invalidate();
    const int ticksWhenInvalidated = ticks;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks, ticksWhenInvalidated) << "no tick after invalidate returns";

    // Rates are clamped to something a thread can keep.
    EXPECT_EQ(TimerDisplayLink(1e9).interval(), std::chrono::milliseconds(1));
    EXPECT_EQ(TimerDisplayLink(0).interval(), std::chrono::seconds(1));
}

TEST(DisplayLinkTests, AHandlerMayReleaseItsOwnTimerLink)
{
    auto link = std::make_shared<TimerDisplayLink>(1000.0);
    std::atomic<bool> started{false};
    std::atomic<bool> released{false};
    bool done = false;
    auto* raw = link.get();
    std::shared_ptr<TimerDisplayLink> holder = std::move(link);
    raw->setHandler([&] {
        // The link is destroyed on its own thread, which must then leave without touching it.
        if (started && !done) {
            done = true;
            holder.reset();
            released = true;
        }
    });
    raw->start();
    started = true;
    EXPECT_TRUE(waitFor([&] { return released.load(); }));
}

} // namespace
} // namespace platform
