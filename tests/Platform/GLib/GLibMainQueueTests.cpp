#include "Platform/Dispatch/GLib/GLibMainQueue.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using platform::GLibMainQueue;
using platform::MainQueue;

namespace {

// Quits the loop after ten seconds, so a queue that never dispatches fails instead of hanging.
gboolean giveUp(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

} // namespace

TEST(GLibMainQueue, RunsWorkFromOtherThreadsOnTheMainLoopInOrder)
{
    auto queue = std::make_shared<GLibMainQueue>();
    MainQueue::install(queue);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const guint guard = g_timeout_add_seconds(10, giveUp, loop);

    std::vector<std::string> ran;
    bool allOnLoopThread = true;
    bool syncReturned = false;
    auto note = [&](std::string what) {
        allOnLoopThread = allOnLoopThread && queue->isCurrent();
        ran.push_back(std::move(what));
    };
    std::thread poster([&] {
        MainQueue::shared()->async([&] { note("first"); });
        MainQueue::shared()->async([&] {
            note("second");
            queue->async([&] { note("posted by second"); });
        });
        // A background thread may wait for the main thread, which is running its loop.
        MainQueue::shared()->sync([&] { note("sync"); });
        syncReturned = true;
        MainQueue::shared()->async([&] { g_main_loop_quit(loop); });
    });
    g_main_loop_run(loop);
    poster.join();

    EXPECT_TRUE(g_source_remove(guard)) << "the loop only ended through its time-out";
    // What "second" posted and the sync item race each other; everything else keeps its order.
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[0], "first");
    EXPECT_EQ(ran[1], "second");
    EXPECT_TRUE((ran[2] == "sync" && ran[3] == "posted by second") ||
                (ran[2] == "posted by second" && ran[3] == "sync"));
    EXPECT_TRUE(allOnLoopThread);
    EXPECT_TRUE(syncReturned);

    g_main_loop_unref(loop);
    MainQueue::install(nullptr);
}

TEST(GLibMainQueue, DropsWorkNeverRunWhenDestroyed)
{
    auto capture = std::make_shared<int>(1);
    std::weak_ptr<int> watch = capture;
    {
        GLibMainQueue queue;
        queue.async([capture = std::move(capture)] {});
    }
    EXPECT_TRUE(watch.expired());
    // The source is gone from the context: iterating it finds nothing to dispatch.
    EXPECT_FALSE(g_main_context_iteration(nullptr, FALSE));
}
