// The recycler between the rendering thread and the thread that completes frames: batches retained
// on one, completed on the other, while the first keeps taking buffers (run under ThreadSanitizer
// in CI).

#include "Kestrovan/Apple/Metal/MetalBufferRecycler.h"
#include "Platform/GPU/RecordingDevice.h"

#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace kestrovan {
namespace {

TEST(MetalBufferRecyclerThreadTests, CompletionOnAnotherThreadHandsBuffersBack)
{
    auto device = std::make_shared<platform::gpu::RecordingDevice>();
    MetalBufferRecycler recycler;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<uint64_t> submitted;
    bool finished = false;

    std::thread completer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            changed.wait(lock, [&] { return finished || !submitted.empty(); });
            if (submitted.empty() && finished)
                return;
            const uint64_t id = submitted.front();
            submitted.pop_front();
            lock.unlock();
            recycler.complete(id);
            lock.lock();
        }
    });

    constexpr int frames = 2000;
    size_t made = 0;
    size_t reused = 0;
    for (int frame = 0; frame < frames; ++frame) {
        std::vector<std::shared_ptr<platform::gpu::Buffer>> buffers;
        for (size_t length : {4096u, 8192u}) {
            auto buffer = recycler.take(length);
            if (buffer) {
                ++reused;
            } else {
                buffer = device->makeBuffer(length);
                ++made;
            }
            buffers.push_back(std::move(buffer));
        }
        auto id = recycler.retainUntilCompletion(std::move(buffers));
        ASSERT_EQ(id, uint64_t(frame + 1));
        {
            std::lock_guard<std::mutex> lock(mutex);
            submitted.push_back(*id);
        }
        changed.notify_one();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    changed.notify_one();
    completer.join();

    EXPECT_EQ(recycler.pendingBatchCount(), 0u);
    EXPECT_LE(recycler.availableCount(4096), MetalBufferRecycler::maxBuffersPerSize);
    EXPECT_LE(recycler.availableCount(8192), MetalBufferRecycler::maxBuffersPerSize);
    EXPECT_EQ(made + reused, size_t(2 * frames));
    // Buffers dropped beyond the idle limit went back to the device from the completing thread.
    device->collectReleased();
    EXPECT_EQ(device->liveObjectCount(), recycler.availableCount(4096) + recycler.availableCount(8192));
}

} // namespace
} // namespace kestrovan
