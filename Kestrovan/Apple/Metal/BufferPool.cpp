#include "Kestrovan/Apple/Metal/BufferPool.h"

#include <limits>

namespace kestrovan {

BufferPool::BufferPool(std::shared_ptr<platform::gpu::Device> device)
    : device_(std::move(device)), recycler_(std::make_shared<MetalBufferRecycler>())
{}

std::optional<size_t> BufferPool::bucketLength(size_t length)
{
    if (length <= minimumBucket)
        return minimumBucket;
    if (length > std::numeric_limits<size_t>::max() / 2)
        return std::nullopt;
    const size_t aligned = (length + alignment - 1) / alignment * alignment;
    size_t bucket = minimumBucket;
    while (bucket < aligned)
        bucket *= 2;
    return bucket;
}

std::shared_ptr<platform::gpu::Buffer> BufferPool::makeBuffer(const void* elements, size_t count,
                                                              size_t stride)
{
    size_t length = 0;
    if (count == 0 || __builtin_mul_overflow(count, stride, &length))
        return nullptr;
    const auto bucket = bucketLength(length);
    if (!bucket)
        return nullptr;
    auto buffer = recycler_->take(*bucket);
    if (!buffer)
        buffer = device_->makeBuffer(*bucket);
    if (!buffer)
        return nullptr;
    // The rest of the bucket keeps whatever it held; draws read only `count` records.
    device_->writeBuffer(*buffer, 0, elements, length);
    frameBuffers_.push_back(buffer);
    return buffer;
}

std::pair<std::shared_ptr<platform::gpu::Buffer>, size_t>
BufferPool::makeStaticBuffer(const void* elements, size_t count, size_t stride,
                             std::shared_ptr<platform::gpu::Buffer> reusing)
{
    size_t length = 0;
    if (count == 0)
        return {nullptr, 0};
    if (__builtin_mul_overflow(count, stride, &length))
        return {nullptr, count};
    std::shared_ptr<platform::gpu::Buffer> buffer =
        reusing && reusing->length() >= length ? std::move(reusing) : device_->makeBuffer(length);
    if (!buffer)
        return {nullptr, count};
    device_->writeBuffer(*buffer, 0, elements, length);
    return {buffer, count};
}

} // namespace kestrovan
