#include "Patience.h"

#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Dispatch/TimerQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::TimerQueue;

namespace {

// Records what items did, from whichever thread they ran on.
class Journal
{
public:
    void add(std::string entry)
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
        changed_.notify_all();
    }

    /// Waits until `count` entries exist; false when they never came.
    bool waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return entries_.size() >= count; });
    }

    std::vector<std::string> entries()
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

// Holds the queue's thread inside one item until `open()`, so everything queued meanwhile is
// already waiting when the queue looks again.
class Gate
{
public:
    explicit Gate(TimerQueue& queue)
    {
        auto entered = std::make_shared<std::promise<void>>();
        auto enteredFuture = entered->get_future();
        // The item owns what it waits on, so the gate may go away as soon as it is open.
        queue.async([entered, opened = opened_.get_future().share()] {
            entered->set_value();
            opened.wait();
        });
        enteredFuture.wait();
    }
    void open() { opened_.set_value(); }

private:
    std::promise<void> opened_;
};

std::string joined(const std::vector<std::string>& entries)
{
    std::string text;
    for (const auto& entry : entries)
        text += (text.empty() ? "" : " ") + entry;
    return text;
}

} // namespace

TEST(TimerQueue, RunsItemsByDeadlineThenInQueueingOrder)
{
    TimerQueue queue("test-timers");
    Journal journal;
    const auto base = TimerQueue::Clock::now();
    {
        Gate gate(queue);
        // Deadlines already passed: the order comes from the queue, not from the clock.
        queue.schedule(base + 3ms, [&] { journal.add("d3"); });
        queue.schedule(base + 1ms, [&] { journal.add("d1a"); });
        queue.schedule(base - 5ms, [&] { journal.add("past"); });
        queue.schedule(base + 1ms, [&] { journal.add("d1b"); });
        queue.schedule(base + 2ms, [&] { journal.add("d2"); });
        queue.schedule(base + 1ms, [&] { journal.add("d1c"); });
        gate.open();
    }
    ASSERT_TRUE(journal.waitFor(6));
    EXPECT_EQ(joined(journal.entries()), "past d1a d1b d1c d2 d3");

    // Many equal deadlines and async items keep their queueing order.
    Journal fifo;
    {
        Gate gate(queue);
        const auto same = TimerQueue::Clock::now();
        for (int i = 0; i < 50; ++i)
            queue.schedule(same, [&fifo, i] { fifo.add(std::to_string(i)); });
        for (int i = 50; i < 100; ++i)
            queue.async([&fifo, i] { fifo.add(std::to_string(i)); });
        gate.open();
    }
    ASSERT_TRUE(fifo.waitFor(100));
    auto entries = fifo.entries();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(entries[i], std::to_string(i)) << "item " << i << " ran out of order";
}

TEST(TimerQueue, RunsAnItemOnlyAfterItsDeadlineOnItsOwnThread)
{
    TimerQueue queue("kestrovan-test-timer-queue");
    EXPECT_EQ(queue.label(), "kestrovan-test-timer-queue");
    std::promise<std::pair<TimerQueue::Clock::time_point, std::string>> ran;
    auto future = ran.get_future();
    const auto deadline = TimerQueue::Clock::now() + 30ms;
    queue.schedule(deadline, [&] {
        ran.set_value({TimerQueue::Clock::now(), platform::currentThreadName()});
    });
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    auto [ranAt, threadName] = future.get();
    EXPECT_GE(ranAt, deadline) << "the item ran before its deadline";
    EXPECT_EQ(threadName, "kestrovan-test-timer-queue");
}

TEST(TimerQueue, CancelledItemsDoNotRunAndStartedOnesFinish)
{
    TimerQueue queue("test-timers");
    Journal journal;

    // Cancelled from another thread while waiting.
    {
        Gate gate(queue);
        auto doomed = queue.schedule(TimerQueue::Clock::now(), [&] { journal.add("doomed"); });
        auto kept = queue.schedule(TimerQueue::Clock::now(), [&] { journal.add("kept"); });
        doomed.cancel();
        doomed.cancel();
        EXPECT_TRUE(doomed.isCancelled());
        EXPECT_FALSE(kept.isCancelled());
        gate.open();
    }

    // Cancelled by an earlier item on the queue's own thread.
    TimerQueue::Handle victim;
    {
        Gate gate(queue);
        const auto now = TimerQueue::Clock::now();
        queue.schedule(now, [&] {
            victim.cancel();
            journal.add("canceller");
        });
        victim = queue.schedule(now + 1ms, [&] { journal.add("victim"); });
        queue.schedule(now + 2ms, [&] { journal.add("after"); });
        gate.open();
    }
    ASSERT_TRUE(journal.waitFor(3));

    // Cancelling an item that has started changes nothing: it runs to its end.
    std::promise<void> started;
    auto startedFuture = started.get_future();
    std::promise<void> mayFinish;
    auto running =
        queue.schedule(TimerQueue::Clock::now(), [&, mayFinishFuture = mayFinish.get_future().share()] {
            started.set_value();
            mayFinishFuture.wait();
            journal.add("finished");
        });
    startedFuture.wait();
    running.cancel();
    mayFinish.set_value();
    ASSERT_TRUE(journal.waitFor(4));
    EXPECT_FALSE(running.isCancelled());

    // An empty handle ignores cancel.
    TimerQueue::Handle empty;
    empty.cancel();
    EXPECT_FALSE(empty.isCancelled());

    EXPECT_EQ(joined(journal.entries()), "kept canceller after finished");
}

TEST(TimerQueue, ItemsMayQueueMoreItems)
{
    TimerQueue queue("test-timers");
    Journal journal;
    queue.async([&] {
        journal.add("outer");
        queue.schedule(TimerQueue::Clock::now() + 5ms, [&] { journal.add("later"); });
        queue.async([&] {
            journal.add("soon");
            queue.async([&] { journal.add("nested"); });
        });
    });
    ASSERT_TRUE(journal.waitFor(4));
    // Items queued from an item run after it, in the order they were queued; where "later" falls
    // among them depends on how long they took to run, so it is only required to have run.
    std::vector<std::string> entries = journal.entries();
    const auto later = std::find(entries.begin(), entries.end(), "later");
    ASSERT_NE(later, entries.end());
    entries.erase(later);
    EXPECT_EQ(joined(entries), "outer soon nested");
}

TEST(TimerQueue, DestructionDropsPendingItemsAndWaitsForTheRunningOne)
{
    auto sentinel = std::make_shared<int>(0);
    std::atomic<bool> pendingRan = false;
    std::atomic<bool> runningFinished = false;
    {
        TimerQueue queue("test-timers");
        queue.schedule(TimerQueue::Clock::now() + 1h, [sentinel, &pendingRan] { pendingRan = true; });
        EXPECT_EQ(sentinel.use_count(), 2);

        // The queue goes away while this item runs.
        std::promise<void> started;
        auto startedFuture = started.get_future();
        queue.async([&] {
            started.set_value();
            std::this_thread::sleep_for(20ms);
            runningFinished = true;
        });
        startedFuture.wait();
    }
    EXPECT_TRUE(runningFinished) << "destruction did not wait for the running item";
    EXPECT_FALSE(pendingRan) << "an item with a far deadline ran";
    EXPECT_EQ(sentinel.use_count(), 1) << "pending closures were not released";
}

TEST(TimerQueue, AnItemMayDropTheLastReferenceToItsQueue)
{
    auto queue = std::make_unique<TimerQueue>("test-timers");
    auto* raw = queue.get();
    std::promise<void> done;
    auto doneFuture = done.get_future();
    raw->async([&] {
        queue.reset();
        done.set_value();
    });
    ASSERT_EQ(doneFuture.wait_for(patience), std::future_status::ready);
    EXPECT_EQ(queue, nullptr);
}
