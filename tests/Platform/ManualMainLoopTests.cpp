#include "Patience.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::MainQueue;
using platform::ManualMainLoop;

namespace {

// Installs a loop for one test and takes it away again.
class InstalledLoop
{
public:
    InstalledLoop() : loop(std::make_shared<ManualMainLoop>()) { MainQueue::install(loop); }
    ~InstalledLoop() { MainQueue::install(nullptr); }
    std::shared_ptr<ManualMainLoop> loop;
};

} // namespace

TEST(ManualMainLoop, RunsPostedWorkOnlyWhenAskedInPostingOrder)
{
    InstalledLoop installed;
    auto& loop = *installed.loop;
    EXPECT_EQ(MainQueue::shared(), installed.loop);
    EXPECT_TRUE(loop.isCurrent());
    EXPECT_FALSE(loop.runOnce()) << "an empty loop ran something";

    std::vector<std::string> ran;
    std::thread poster([&] {
        EXPECT_FALSE(MainQueue::shared()->isCurrent());
        MainQueue::shared()->async([&] { ran.push_back("first"); });
        MainQueue::shared()->async([&] {
            ran.push_back("second");
            // Work posted by work runs in the same settling, after what was already waiting.
            loop.async([&] { ran.push_back("posted by second"); });
        });
        MainQueue::shared()->async([&] { ran.push_back("third"); });
    });
    poster.join();
    EXPECT_TRUE(ran.empty()) << "work ran before the loop was run";
    EXPECT_EQ(loop.pendingCount(), 3u);

    EXPECT_TRUE(loop.runOnce());
    EXPECT_EQ(ran, std::vector<std::string>{"first"});
    EXPECT_EQ(loop.runUntilIdle(), 3u);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "third", "posted by second"}));
    EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST(ManualMainLoop, WaitsForWorkAndServesSyncFromOtherThreads)
{
    ManualMainLoop loop;
    EXPECT_FALSE(loop.waitForWork(1ms)) << "found work in an empty loop";

    bool ranOnLoopThread = false;
    bool syncReturned = false;
    std::thread caller([&] {
        loop.sync([&] { ranOnLoopThread = loop.isCurrent(); });
        syncReturned = true;
    });
    ASSERT_TRUE(loop.waitForWork(patience)) << "sync posted nothing";
    EXPECT_EQ(loop.runUntilIdle(), 1u);
    caller.join();
    EXPECT_TRUE(syncReturned);
    EXPECT_TRUE(ranOnLoopThread);
}

TEST(ManualMainLoop, DropsWorkNeverRunAndReleasesItsCaptures)
{
    auto capture = std::make_shared<int>(1);
    std::weak_ptr<int> watch = capture;
    {
        ManualMainLoop loop;
        loop.async([capture = std::move(capture)] {});
    }
    EXPECT_TRUE(watch.expired());
}

TEST(ManualMainLoopDeathTest, MisuseStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            MainQueue::install(nullptr);
            MainQueue::shared();
        },
        "no main queue is installed");
    EXPECT_DEATH(
        {
            ManualMainLoop loop;
            loop.sync([] {});
        },
        "MainQueue::sync called on the main thread");
    EXPECT_DEATH(
        {
            ManualMainLoop loop;
            std::thread other([&] { loop.runUntilIdle(); });
            other.join();
        },
        "ManualMainLoop::runUntilIdle called off the thread that created the loop");
}
