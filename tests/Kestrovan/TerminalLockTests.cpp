#include "Kestrovan/TerminalLock.h"
#include "Kestrovan/TerminalProfiling.h"
#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Log/Log.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace kestrovan;

namespace {

// Waits (without a deadline: a hang is a failure CTest reports) until `count` threads sleep in lock().
void waitForWaiters(const TerminalLock& lock, int count)
{
    while (lock.waiterCount() < count)
        std::this_thread::yield();
}

} // namespace

TEST(TerminalLock, ServesWaitingThreadsInTicketOrder)
{
    // Each round queues the threads one by one behind the held lock, so their tickets are known,
    // then releases it; the broadcast wakes them all at once and in no particular order.
    for (int round = 0; round < 20; ++round) {
        TerminalLock lock;
        std::string order;
        lock.lock();
        std::vector<std::thread> threads;
        for (char name : std::string("ABCD")) {
            threads.emplace_back([&lock, &order, name] { lock.withLock([&] { order += name; }); });
            waitForWaiters(lock, static_cast<int>(threads.size()));
        }
        lock.unlock();
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(order, "ABCD") << "round " << round;
        EXPECT_EQ(lock.waiterCount(), 0);
    }
}

TEST(TerminalLock, KeepsHoldersApart)
{
    TerminalLock lock;
    int counter = 0;
    bool inside = false;
    bool overlapped = false;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&] {
            for (int index = 0; index < 2000; ++index) {
                lock.withLock([&] {
                    lock.preconditionLocked();
                    overlapped = overlapped || inside;
                    inside = true;
                    ++counter;
                    inside = false;
                });
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(overlapped) << "two threads held the lock at once";
    EXPECT_EQ(counter, 8000);
}

TEST(TerminalLock, WithLockReturnsTheResultAndReleasesWhenTheBodyThrows)
{
    TerminalLock lock;
    EXPECT_EQ(lock.withLock([] { return 42; }), 42);
    EXPECT_THROW(lock.withLock([]() -> int { throw std::runtime_error("body failed"); }), std::runtime_error);
    // Still held, this would stop the program as a re-entrant lock().
    EXPECT_EQ(lock.withLock([] { return std::string("free again"); }), "free again");

    std::thread other([&] { lock.withLock([] {}); });
    other.join();
}

TEST(TerminalLockDeathTest, StopsTheProgramOnMisuse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TerminalLock lock;
            lock.lock();
            lock.lock();
        },
        "lock\\(\\) called on the thread that already holds the terminal lock");
    EXPECT_DEATH(
        {
            TerminalLock lock;
            lock.withLock([&] { lock.withLock([] {}); });
        },
        "already holds the terminal lock");
    EXPECT_DEATH(
        {
            TerminalLock lock;
            lock.unlock();
        },
        "unlock\\(\\) called on a thread that does not hold the terminal lock");
    EXPECT_DEATH(
        {
            TerminalLock lock;
            lock.lock();
            std::thread other([&] { lock.unlock(); });
            other.join();
        },
        "unlock\\(\\) called on a thread that does not hold the terminal lock");
    EXPECT_DEATH(
        {
            TerminalLock lock;
            lock.preconditionLocked();
        },
        "the calling thread must hold the terminal lock \\(.*TerminalLockTests.cpp:");
    EXPECT_DEATH(
        {
            TerminalLock lock;
            lock.lock();
            std::thread other([&] { lock.preconditionLocked(); });
            other.join();
        },
        "the calling thread must hold the terminal lock");
}

class TerminalLockProfilingTest : public testing::Test
{
protected:
    void TearDown() override
    {
        unsetenv("KESTROVAN_PROFILE");
        unsetenv("KESTROVAN_PROFILE_STATS");
        Profiling::rereadSwitchesForTesting();
        TerminalProfiling::reset();
        platform::setLogSink({});
    }
};

TEST_F(TerminalLockProfilingTest, MeasuresWaitsAndHoldsPerThreadRole)
{
    setenv("KESTROVAN_PROFILE_STATS", "1", 1);
    Profiling::rereadSwitchesForTesting();
    TerminalProfiling::reset();

    TerminalLock lock;
    lock.withLock([] {}); // uncontended: a hold, no wait
    lock.lock();
    std::thread timer([&] {
        platform::setCurrentThreadName("kestrovan-io-timers");
        lock.withLock([] {});
    });
    waitForWaiters(lock, 1);
    lock.unlock();
    timer.join();

    std::vector<IntervalSummary> summaries = TerminalProfiling::summaries();
    ASSERT_EQ(summaries.size(), 3u) << TerminalProfiling::report();
    EXPECT_EQ(summaries[0].event, "Lock.Wait");
    EXPECT_EQ(summaries[0].owner, "timer");
    EXPECT_EQ(summaries[0].count, 1) << "only the contended acquisition waited";
    EXPECT_EQ(summaries[1].event, "Lock.Hold");
    EXPECT_EQ(summaries[1].owner, "main");
    EXPECT_EQ(summaries[1].count, 2);
    EXPECT_EQ(summaries[2].event, "Lock.Hold");
    EXPECT_EQ(summaries[2].owner, "timer");
    EXPECT_EQ(summaries[2].count, 1);
}

TEST_F(TerminalLockProfilingTest, EmitsSignpostsNamingTheOwner)
{
    setenv("KESTROVAN_PROFILE", "1", 1);
    Profiling::rereadSwitchesForTesting();
    std::vector<std::string> lines;
    platform::setLogSink([&](const platform::LogRecord& record) { lines.emplace_back(record.message); });

    TerminalLock lock;
    lock.withLock([] {});
    platform::setLogSink({});

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("begin Lock.Hold"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("owner=main"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("end Lock.Hold"), std::string::npos) << lines[1];
    EXPECT_EQ(TerminalProfiling::report(), "") << "signposts alone record nothing";
}
