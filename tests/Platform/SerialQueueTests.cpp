#include "Patience.h"
#include "ThreadState.h"

#include "Platform/Dispatch/SerialQueue.h"
#include "Platform/Dispatch/ThreadRegistry.h"

#include <atomic>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::SerialQueue;

namespace {

// The id of this process's thread named `name`, or -1.
int threadNamed(const std::string& name)
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    int found = -1;
    while (dirent* entry = readdir(tasks)) {
        std::string comm;
        std::getline(std::ifstream(std::string("/proc/self/task/") + entry->d_name + "/comm"), comm);
        if (comm == name)
            found = std::atoi(entry->d_name);
    }
    closedir(tasks);
    return found;
}

} // namespace

TEST(SerialQueue, RunsItemsOneAtATimeInOrderOnItsOwnNamedThread)
{
    SerialQueue queue("kestrovan-test-serial-queue");
    EXPECT_FALSE(queue.isCurrent()) << "the creating thread is not the queue's";

    // Items from several posters: each poster's items keep their order, and no two items overlap.
    std::vector<std::pair<int, int>> ran;
    std::atomic<int> running{0};
    bool overlapped = false;
    std::vector<std::thread> posters;
    for (int poster = 0; poster < 4; ++poster) {
        posters.emplace_back([&, poster] {
            for (int i = 0; i < 200; ++i) {
                queue.async([&, poster, i] {
                    if (running.fetch_add(1) != 0)
                        overlapped = true;
                    ran.emplace_back(poster, i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();

    std::string threadName;
    bool currentInside = false;
    queue.sync([&] { currentInside = queue.isCurrent(); });
    queue.async([&] { threadName = platform::currentThreadName(); });
    queue.sync([] {});
    EXPECT_EQ(threadName, "kestrovan-test-serial-queue");
    EXPECT_TRUE(currentInside);
    EXPECT_FALSE(overlapped) << "two items ran at once";

    // `sync` ran after everything queued before it.
    ASSERT_EQ(ran.size(), 800u);
    std::vector<int> next(4, 0);
    for (auto [poster, i] : ran) {
        EXPECT_EQ(i, next[poster]) << "poster " << poster << "'s items ran out of order";
        next[poster] = i + 1;
    }
}

TEST(SerialQueue, SyncRunsAsOneOfTheQueuesItems)
{
    SerialQueue queue("kestrovan-test-sync-turn");
    std::vector<std::string> ran;

    // Busy: the call waits for the item running and the one queued before it.
    std::promise<void> gate;
    queue.async([opened = gate.get_future().share(), &ran] {
        opened.wait();
        ran.push_back("first");
    });
    queue.async([&] { ran.push_back("second"); });
    std::thread caller([&] { queue.sync([&] { ran.push_back("sync"); }); });
    std::this_thread::sleep_for(20ms);
    gate.set_value();
    caller.join();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "sync"}));

    // Idle: the call may run on this thread, but as the queue's item: an item queued meanwhile,
    // from anywhere, waits for it to end.
    ran.clear();
    bool currentInside = false;
    queue.sync([&] {
        currentInside = queue.isCurrent();
        std::thread([&] { queue.async([&] { ran.push_back("queued during sync"); }); }).join();
        queue.async([&] { ran.push_back("queued by sync"); });
        std::this_thread::sleep_for(20ms);
        ran.push_back("sync");
    });
    queue.sync([] {});
    EXPECT_TRUE(currentInside);
    EXPECT_FALSE(queue.isCurrent()) << "the caller still counts as the queue after the call";
    EXPECT_EQ(ran, (std::vector<std::string>{"sync", "queued during sync", "queued by sync"}));
}

TEST(SerialQueue, LendsItsTurnOnlyWhenIdle)
{
    SerialQueue queue("kestrovan-test-inline-turn");
    std::vector<std::string> ran;
    {
        // Idle: the turn is lent; the holder counts as the queue, and work queued meanwhile, from
        // here or another thread, runs after it, in order.
        std::optional<SerialQueue::InlineTurn> turn = queue.inlineTurn();
        ASSERT_TRUE(turn.has_value());
        EXPECT_TRUE(queue.isCurrent());
        queue.async([&] { ran.push_back("queued during the turn"); });
        std::thread([&] { queue.async([&] { ran.push_back("queued from elsewhere"); }); }).join();
        EXPECT_FALSE(queue.inlineTurn().has_value()) << "a turn lent twice";
        ran.push_back("turn");
    }
    EXPECT_FALSE(queue.isCurrent()) << "the turn's end did not give it back";
    queue.sync([] {});
    EXPECT_EQ(ran, (std::vector<std::string>{"turn", "queued during the turn", "queued from elsewhere"}));

    // Busy: an item running, or one waiting, keeps the turn on the queue's thread.
    std::promise<void> gate;
    std::promise<void> started;
    queue.async([opened = gate.get_future().share(), &started] {
        started.set_value();
        opened.wait();
    });
    started.get_future().wait();
    EXPECT_FALSE(queue.inlineTurn().has_value()) << "lent while an item runs";
    queue.async([] {});
    gate.set_value();
    // The queue's thread finishes its last item a moment after the work in it has run.
    bool lent = false;
    for (const auto giveUp = std::chrono::steady_clock::now() + patience;
         !lent && std::chrono::steady_clock::now() < giveUp;) {
        lent = queue.inlineTurn().has_value();
        if (!lent)
            std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(lent) << "not lent once idle again";
}

TEST(SerialQueue, ATurnThatLeavesNothingBehindLetsTheQueuesThreadSleep)
{
    // Each turn used to wake the queue's thread at its end, only for it to find nothing to do: a
    // context switch for every keystroke an idle writer wrote at once.
    const std::string name = "kestrovan-sleep"; // 15 bytes, all that Linux keeps
    SerialQueue queue(name);
    queue.sync([] {});
    int thread = -1;
    for (const auto giveUp = std::chrono::steady_clock::now() + patience;
         thread < 0 && std::chrono::steady_clock::now() < giveUp;)
        thread = threadNamed(name);
    ASSERT_GE(thread, 0) << "no thread named " << name;
    ASSERT_TRUE(waitUntilAsleep(thread));

    const std::string switchesBefore = threadStatus(thread, "voluntary_ctxt_switches:");
    for (int turn = 0; turn < 20; ++turn) {
        ASSERT_TRUE(queue.inlineTurn().has_value());
        // Had the turn's end woken the thread, it is given the time to sleep again, so that every
        // wake-up counts.
        ASSERT_TRUE(waitUntilAsleep(thread));
    }
    EXPECT_EQ(threadStatus(thread, "voluntary_ctxt_switches:"), switchesBefore)
        << "the thread woke for turns that left it nothing";

    // Work queued during a turn still runs once the turn is over.
    std::promise<void> ran;
    {
        auto turn = queue.inlineTurn();
        ASSERT_TRUE(turn.has_value());
        queue.async([&] { ran.set_value(); });
    }
    EXPECT_EQ(ran.get_future().wait_for(patience), std::future_status::ready);
}

TEST(SerialQueue, DestructionRunsTheItemsStillQueued)
{
    std::atomic<int> ran{0};
    std::promise<void> release;
    auto released = release.get_future().share();
    std::thread opener;
    {
        SerialQueue queue("kestrovan-test-drain");
        std::promise<void> entered;
        queue.async([&, released] {
            entered.set_value();
            released.wait();
        });
        entered.get_future().wait();
        for (int i = 0; i < 50; ++i)
            queue.async([&] { ran.fetch_add(1); });
        // The queue's thread is still stuck in the first item when the destructor begins.
        opener = std::thread([&] { release.set_value(); });
    }
    opener.join();
    EXPECT_EQ(ran.load(), 50) << "items queued before destruction were dropped";
}

TEST(SerialQueue, AnItemMayReleaseTheLastReferenceToItsQueue)
{
    auto queue = std::make_shared<SerialQueue>("kestrovan-test-self");
    std::promise<void> gate;
    std::promise<void> later;
    auto laterRan = later.get_future();
    // Everything is queued while the first item holds the thread, so no call races the release.
    queue->async([opened = gate.get_future().share()] { opened.wait(); });
    queue->async([held = queue]() mutable { held.reset(); });
    queue->async([&] { later.set_value(); });
    queue.reset();
    gate.set_value();
    // The item that ran the destructor was followed by one more, which still runs.
    EXPECT_EQ(laterRan.wait_for(patience), std::future_status::ready);
}

TEST(SerialQueueDeathTest, SyncOnItsOwnThreadStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SerialQueue queue("kestrovan-test-self-sync");
            queue.sync([&] { queue.sync([] {}); });
        },
        "SerialQueue::sync called on the thread of queue \"kestrovan-test-self-sync\"");
}
