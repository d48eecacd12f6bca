#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Kestrovan/Apple/SynchronizedOutputWatchdog.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;
using testing::ManualWatchdogTimer;
using testing::RenderOwnerFixture;
using Counters = SynchronizedOutputWatchdog::Counters;

bool synchronizedOutputActive(Terminal& terminal)
{
    TerminalLockGuard guard(terminal.terminalLock());
    return terminal.synchronizedOutputActive();
}

TEST(SynchronizedOutputWatchdogTests, AnUnclosedBlockEndsAtItsTimeout)
{
    RenderOwnerFixture f;
    f.terminal->setSynchronizedOutputTimeoutSeconds(0.5);
    EXPECT_EQ(f.feed("\x1b[?2026hheld"), true);
    const SynchronizedOutputWatchdog& watchdog = f.owner->synchronizedOutputWatchdog();
    EXPECT_EQ(watchdog.counters(), (Counters{1, 0, 0, 0}));

    f.timer->advance(499ms);
    EXPECT_TRUE(synchronizedOutputActive(*f.terminal)) << "not before the timeout";
    f.timer->advance(2ms);
    EXPECT_FALSE(synchronizedOutputActive(*f.terminal)) << "ended within the timeout plus 1 ms";
    EXPECT_EQ(watchdog.counters(), (Counters{1, 0, 0, 1}));
    EXPECT_EQ(f.terminal->synchronizedOutput().watchdogCounters().fired, 1) << "the terminal counts it too";
    EXPECT_EQ(f.delegate->synchronizedOutputChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(watchdog.armedGeneration());
    f.timer->advance(10s);
    EXPECT_EQ(watchdog.counters().fired, 1) << "fires once";

    // The program closing the block itself disarms the watchdog.
    EXPECT_EQ(f.feed("\x1b[?2026h"), true);
    EXPECT_EQ(f.feed("\x1b[?2026l"), false);
    EXPECT_EQ(watchdog.counters(), (Counters{2, 0, 1, 1}));
    EXPECT_FALSE(f.timer->deadline());

    // Several changes in one parse arm once, for the last block.
    EXPECT_EQ(f.feed("\x1b[?2026h\x1b[?2026l\x1b[?2026h\x1b[?2026h"), true);
    EXPECT_EQ(watchdog.counters(), (Counters{3, 0, 1, 1}));
    EXPECT_EQ(watchdog.armedGeneration(), f.terminal->synchronizedOutput().generation());
}

TEST(SynchronizedOutputWatchdogTests, GenerationsDecideWhichUpdatesCount)
{
    auto timer = std::make_shared<ManualWatchdogTimer>();
    SynchronizedOutputWatchdog watchdog(timer);
    testing::TerminalFixture first;
    testing::TerminalFixture second;
    watchdog.update(true, 5, 1.0);
    EXPECT_FALSE(watchdog.armedGeneration()) << "no terminal watched yet";

    watchdog.attach(first.terminal);
    watchdog.update(true, 5, 1.0);
    const auto deadline = watchdog.armedDeadline();
    ASSERT_TRUE(deadline);
    timer->advance(300ms);
    watchdog.update(true, 5, 1.0);
    EXPECT_EQ(watchdog.armedDeadline(), deadline) << "the same block does not push the deadline back";
    watchdog.update(true, 4, 1.0);
    EXPECT_EQ(watchdog.armedDeadline(), deadline) << "nor does an older one";
    EXPECT_EQ(watchdog.counters(), (Counters{1, 0, 0, 0}));
    watchdog.update(true, 6, 1.0);
    EXPECT_EQ(watchdog.armedDeadline(), timer->now() + 1s) << "a newer block re-arms for a full timeout";
    EXPECT_EQ(watchdog.counters(), (Counters{1, 1, 0, 0}));

    watchdog.update(false, 5, 1.0);
    EXPECT_EQ(watchdog.armedGeneration(), 6u) << "the end of another block is ignored";
    watchdog.update(false, 6, 1.0);
    EXPECT_FALSE(watchdog.armedGeneration());
    EXPECT_EQ(watchdog.counters(), (Counters{1, 1, 1, 0}));

    // Generations wrap: 0 after 2^64 - 1 is newer.
    watchdog.update(true, UINT64_MAX, 1.0);
    watchdog.update(true, 0, 1.0);
    EXPECT_EQ(watchdog.armedGeneration(), 0u);
    EXPECT_EQ(watchdog.counters(), (Counters{2, 2, 1, 0}));

    watchdog.attach(first.terminal);
    EXPECT_EQ(watchdog.armedGeneration(), 0u) << "attaching the same terminal changes nothing";
    watchdog.attach(second.terminal);
    EXPECT_FALSE(watchdog.armedGeneration()) << "another terminal disarms";
    EXPECT_EQ(watchdog.counters(), (Counters{2, 2, 2, 0}));

    // A timeout that is not a positive number fires at once rather than never; a huge one waits a
    // day.
    EXPECT_EQ(SynchronizedOutputWatchdog::timeoutDelay(std::nan("")),
              SynchronizedOutputWatchdog::Clock::duration{});
    EXPECT_EQ(SynchronizedOutputWatchdog::timeoutDelay(-1), SynchronizedOutputWatchdog::Clock::duration{});
    EXPECT_EQ(SynchronizedOutputWatchdog::timeoutDelay(1e300), std::chrono::hours(24));
}

TEST(SynchronizedOutputWatchdogTests, ALateFiringLeavesANewerBlockAlone)
{
    RenderOwnerFixture f;
    f.feed("\x1b[?2026h");
    const uint64_t armed = *f.owner->synchronizedOutputWatchdog().armedGeneration();
    // The program ends its block and starts another while the timer is already on its way: the
    // watchdog never hears of it (the feed's pending update is taken only by the next feed), so
    // the firing reaches the terminal with the old generation.
    {
        TerminalLockGuard guard(f.terminal->terminalLock());
        f.terminal->feed(std::string_view("\x1b[?2026l\x1b[?2026h"));
    }
    f.timer->advance(1s);
    EXPECT_EQ(f.owner->synchronizedOutputWatchdog().counters().fired, 1);
    EXPECT_TRUE(synchronizedOutputActive(*f.terminal)) << "the newer block stays";
    EXPECT_NE(f.terminal->synchronizedOutput().generation(), armed);
    EXPECT_EQ(f.terminal->synchronizedOutput().watchdogCounters().fired, 0);

    // A stale event (the clock has not reached the deadline) does nothing at all.
    f.feed("x");
    ASSERT_TRUE(f.owner->synchronizedOutputWatchdog().armedGeneration());
    f.timer->fireNow();
    EXPECT_EQ(f.owner->synchronizedOutputWatchdog().counters().fired, 1);
}

TEST(SynchronizedOutputWatchdogTests, InvalidateWaitsForAFiringInProgress)
{
    RenderOwnerFixture f;
    f.feed("\x1b[?2026h");
    std::atomic<bool> invalidated{false};
    std::thread firing;
    std::thread closing;
    {
        // The firing blocks on the terminal lock we hold, inside its call.
        TerminalLockGuard guard(f.terminal->terminalLock());
        firing = std::thread([&] { f.timer->advance(2s); });
        while (f.terminal->terminalLock().waiterCount() == 0)
            std::this_thread::yield();
        closing = std::thread([&] {
            f.owner->synchronizedOutputWatchdog().invalidate();
            invalidated = true;
        });
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(invalidated) << "invalidate returned while the firing was still in the terminal";
    }
    firing.join();
    closing.join();
    EXPECT_TRUE(invalidated);
    EXPECT_FALSE(synchronizedOutputActive(*f.terminal));

    // Invalidated for good: nothing arms any more, and a second call does nothing.
    f.owner->synchronizedOutputWatchdog().invalidate();
    f.feed("\x1b[?2026h");
    EXPECT_FALSE(f.owner->synchronizedOutputWatchdog().armedGeneration());
}

TEST(SynchronizedOutputWatchdogTests, RunsOnTheSharedTimerQueue)
{
    RenderOwnerFixture f;
    // The default timer: a real owner arms it on the I/O timer queue.
    TerminalRenderOwner owner;
    auto terminal = ViewTerminal::create(f.delegate, TerminalOptions::defaults(),
                                         owner.synchronizedOutputWatchdogHandler(), {});
    owner.attach(terminal, SelectionService::create(terminal), std::make_shared<SearchService>(terminal));
    terminal->setSynchronizedOutputTimeoutSeconds(0.02);
    EXPECT_EQ(owner.feed("\x1b[?2026h"), true);
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (synchronizedOutputActive(*terminal) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(synchronizedOutputActive(*terminal));
    EXPECT_EQ(owner.synchronizedOutputWatchdog().counters().fired, 1);
}

TEST(SynchronizedOutputWatchdogDeathTest, InvalidateWithTheTerminalLockHeldStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            RenderOwnerFixture f;
            TerminalLockGuard guard(f.terminal->terminalLock());
            f.owner->synchronizedOutputWatchdog().invalidate();
        },
        "SynchronizedOutputWatchdog.invalidate: called with the terminal lock held");
}

} // namespace
} // namespace kestrovan
