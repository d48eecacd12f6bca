// The buffer pool's buckets, its reuse of buffers the GPU is done with, and the recycler's batches.

#include "Kestrovan/Apple/Metal/BufferPool.h"
#include "Platform/GPU/RecordingDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace kestrovan {
namespace {

using platform::gpu::ObjectKind;
using platform::gpu::RecordingDevice;

TEST(BufferPoolTests, BucketsArePowersOfTwoFromFourKilobytes)
{
    const struct
    {
        size_t length;
        std::optional<size_t> bucket;
    } cases[] = {
        {1, 4096},
        {4096, 4096},
        {4097, 8192},
        {4800, 8192},
        {8192, 8192},
        {8193, 16384},
        {100000, 131072},
        {size_t(1) << 40, size_t(1) << 40},
        {~size_t(0), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BufferPool::bucketLength(c.length), c.bucket) << c.length;
}

TEST(BufferPoolTests, FrameBuffersHoldTheRecordsAndAreBucketed)
{
    auto device = std::make_shared<RecordingDevice>();
    BufferPool pool(device);
    pool.beginFrame();
    const std::vector<TextCell> cells(100,
                                      TextCell{{1, 2}, {3, 4}, {0.5f, 0.25f}, {0.125f, 1}, {1, 0, 0, 1}});
    const std::vector<GlyphVertex> vertices(80, GlyphVertex{{5, 6}, {0, 1}, {0, 1, 0, 1}});
    auto cellBuffer = pool.makeBuffer<TextCell>(cells);
    auto vertexBuffer = pool.makeBuffer<GlyphVertex>(vertices);
    ASSERT_TRUE(cellBuffer && vertexBuffer);
    // 100 x 48 = 4,800 bytes into 8,192; 80 x 32 = 2,560 into 4,096.
    EXPECT_EQ(cellBuffer->length(), 8192u);
    EXPECT_EQ(vertexBuffer->length(), 4096u);
    EXPECT_EQ(std::memcmp(device->bufferContents(*cellBuffer).data(), cells.data(), 4800), 0);
    EXPECT_EQ(pool.frameBuffers(), (std::vector{cellBuffer, vertexBuffer}));
    // No records, no buffer.
    EXPECT_FALSE(pool.makeBuffer<ColorCell>(std::span<const ColorCell>()));
    // A buffer that cannot be made is none, and not listed.
    device->failAt(RecordingDevice::Operation::makeBuffer);
    EXPECT_FALSE(pool.makeBuffer<GlyphVertex>(vertices));
    EXPECT_EQ(pool.frameBuffers().size(), 2u);
    pool.beginFrame();
    EXPECT_TRUE(pool.frameBuffers().empty());
}

TEST(BufferPoolTests, BuffersComeBackOnlyAfterTheirFrameCompletes)
{
    auto device = std::make_shared<RecordingDevice>();
    BufferPool pool(device);
    const std::vector<ColorCell> cells(10);
    pool.beginFrame();
    auto first = pool.makeBuffer<ColorCell>(cells);
    auto batch = pool.recycler().retainUntilCompletion(pool.frameBuffers());
    ASSERT_EQ(batch, 1u);
    // While the frame is on the GPU, the next frame gets another buffer.
    pool.beginFrame();
    auto second = pool.makeBuffer<ColorCell>(cells);
    EXPECT_NE(second, first);
    pool.recycler().complete(*batch);
    pool.beginFrame();
    EXPECT_EQ(pool.makeBuffer<ColorCell>(cells), first);
    EXPECT_EQ(device->liveObjectCount(ObjectKind::buffer), 2u);
}

TEST(BufferPoolTests, RecyclerKeepsFourIdleBuffersOfALength)
{
    auto device = std::make_shared<RecordingDevice>();
    MetalBufferRecycler recycler;
    std::vector<std::shared_ptr<platform::gpu::Buffer>> buffers;
    for (int i = 0; i < 5; ++i)
        buffers.push_back(device->makeBuffer(4096));
    buffers.push_back(device->makeBuffer(8192));
    std::vector<std::weak_ptr<platform::gpu::Buffer>> watched(buffers.begin(), buffers.end());

    // An empty batch gets no id and uses none up.
    EXPECT_EQ(recycler.retainUntilCompletion({}), std::nullopt);
    auto batch = recycler.retainUntilCompletion(std::move(buffers));
    EXPECT_EQ(batch, 1u);
    EXPECT_EQ(recycler.pendingBatchCount(), 1u);
    recycler.complete(*batch);
    recycler.complete(*batch); // already complete: ignored
    recycler.complete(77);     // unknown: ignored
    EXPECT_EQ(recycler.pendingBatchCount(), 0u);
    EXPECT_EQ(recycler.availableCount(4096), 4u);
    EXPECT_EQ(recycler.availableCount(8192), 1u);
    // The fifth buffer of a length was let go; it goes back to its device.
    EXPECT_TRUE(watched[4].expired());
    device->collectReleased();
    EXPECT_EQ(device->liveObjectCount(ObjectKind::buffer), 5u);
    // The last one given back is taken first; only exact lengths match.
    EXPECT_EQ(recycler.take(4096), watched[3].lock());
    EXPECT_EQ(recycler.take(4000), nullptr);
    EXPECT_EQ(recycler.retainUntilCompletion({device->makeBuffer(4096)}), 2u);
}

TEST(BufferPoolTests, StaticBuffersAreReusedWhileLargeEnough)
{
    auto device = std::make_shared<RecordingDevice>();
    BufferPool pool(device);
    const std::vector<ColorCell> ten(10), twenty(20), five(5);
    auto [buffer, count] = pool.makeStaticBuffer<ColorCell>(ten, nullptr);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(buffer->length(), 320u);
    auto [smaller, smallerCount] = pool.makeStaticBuffer<ColorCell>(five, buffer);
    EXPECT_EQ(smaller, buffer);
    EXPECT_EQ(smallerCount, 5u);
    auto [larger, largerCount] = pool.makeStaticBuffer<ColorCell>(twenty, buffer);
    EXPECT_NE(larger, buffer);
    EXPECT_EQ(larger->length(), 640u);
    EXPECT_EQ(largerCount, 20u);
    EXPECT_EQ(pool.makeStaticBuffer<ColorCell>(std::span<const ColorCell>(), buffer),
              (std::pair<std::shared_ptr<platform::gpu::Buffer>, size_t>{nullptr, 0}));
    device->failAt(RecordingDevice::Operation::makeBuffer);
    EXPECT_EQ(pool.makeStaticBuffer<ColorCell>(twenty, buffer).second, 20u);
    // Static buffers are not the frame's: the recycler never sees them.
    EXPECT_TRUE(pool.frameBuffers().empty());
}

} // namespace
} // namespace kestrovan
