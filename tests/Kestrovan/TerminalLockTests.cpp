#include "Kestrovan/TerminalLock.h"

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
    // Half the threads wait their turn, the other half only try until they get it.
    TerminalLock lock;
    int counter = 0;
    bool inside = false;
    bool overlapped = false;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, trying = thread % 2 == 1] {
            for (int index = 0; index < 2000; ++index) {
                if (trying) {
                    while (!lock.tryLock())
                        std::this_thread::yield();
                } else {
                    lock.lock();
                }
                lock.preconditionLocked();
                overlapped = overlapped || inside;
                inside = true;
                ++counter;
                inside = false;
                lock.unlock();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(overlapped) << "two threads held the lock at once";
    EXPECT_EQ(counter, 8000);
}

TEST(TerminalLock, TryingFailsWhileTheLockIsHeld)
{
    TerminalLock lock;
    ASSERT_TRUE(lock.tryLock());
    EXPECT_FALSE(lock.tryLock()) << "held by this thread";
    bool triedFromOther = true;
    std::thread([&] { triedFromOther = lock.tryLock(); }).join();
    EXPECT_FALSE(triedFromOther) << "held by another thread";

    // A thread waiting for its turn gets it when this one lets go; then the lock is free again.
    std::thread waiter([&] { lock.withLock([] {}); });
    waitForWaiters(lock, 1);
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(lock.tryLock()) << "free again once the queue is empty";
    lock.unlock();
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
