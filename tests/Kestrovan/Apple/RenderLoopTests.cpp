#include "Kestrovan/Apple/RenderLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;

/// A frame that can be held open: each frame counts itself and waits while the gate is closed.
struct Gate
{
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
    int finished = 0;

    void frame()
    {
        std::unique_lock lock(mutex);
        ++entered;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        ++finished;
        changed.notify_all();
    }
    void waitEntered(int count)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered >= count; });
    }
    void waitFinished(int count)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return finished >= count; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

TEST(RenderLoopTests, SignalsWhileBusyCoalesceIntoOneMoreFrame)
{
    Gate gate;
    RenderLoop loop([&] { gate.frame(); });
    loop.start();
    loop.start();
    loop.signal();
    gate.waitEntered(1);
    for (int i = 0; i < 10; ++i)
        loop.signal();
    EXPECT_EQ(loop.counters(), (RenderLoopCounters{11, 1, 9}));
    gate.release();
    gate.waitFinished(2);
    loop.invalidate();
    EXPECT_EQ(loop.counters(), (RenderLoopCounters{11, 2, 9})) << "exactly one more frame";
    EXPECT_EQ(gate.entered, 2) << "and one thread";

    // Stopped for good: signals are counted, start does nothing.
    loop.start();
    loop.signal();
    loop.invalidate();
    EXPECT_EQ(loop.counters(), (RenderLoopCounters{12, 2, 9}));
}

TEST(RenderLoopTests, InvalidateWaitsForTheFrameInProgress)
{
    Gate gate;
    RenderLoop loop([&] { gate.frame(); });
    loop.start();
    loop.signal();
    gate.waitEntered(1);
    std::atomic<bool> returned{false};
    std::thread closing([&] {
        loop.invalidate();
        returned = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(returned) << "invalidate returned during a frame";
    gate.release();
    closing.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(gate.finished, 1);
}

TEST(RenderLoopTests, InvalidateFromInsideAFrameDoesNotWaitForItself)
{
    std::atomic<int> frames{0};
    std::unique_ptr<RenderLoop> loop;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    loop = std::make_unique<RenderLoop>([&] {
        ++frames;
        loop->invalidate();
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_all();
    });
    loop->start();
    loop->signal();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(done.wait_for(lock, 20s, [&] { return finished; })) << "the frame blocked on itself";
    }
    loop->signal();
    loop.reset();
    EXPECT_EQ(frames, 1);
}

} // namespace
} // namespace kestrovan
