// Per-frame vertex buffers in power-of-two buckets, and the static buffers of cached rows.
//
// `makeBuffer` sizes a frame's buffer to a bucket (4 KiB, then doubling, each a multiple of
// 256 bytes), takes an idle one of that length from the recycler when there is one, and lists it
// as the frame's; when the frame is submitted, the renderer hands that list to the recycler, which
// gives the buffers back once the GPU has finished the frame. Static buffers are sized exactly and
// rewritten in place while they are large enough. The pool is used on the rendering thread only,
// with the device's context current.
#pragma once

#include "Kestrovan/Apple/Metal/MetalBufferRecycler.h"
#include "Kestrovan/Apple/Metal/MetalVertexTypes.h"
#include "Platform/GPU/Device.h"

#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrovan {

/// The four records the GPU buffers carry.
template <typename T>
concept GPURecord = std::is_same_v<T, GlyphVertex> || std::is_same_v<T, ColorVertex> ||
    std::is_same_v<T, TextCell> || std::is_same_v<T, ColorCell>;

class BufferPool
{
public:
    /// Bucket lengths are multiples of this.
    static constexpr size_t alignment = 256;
    /// The smallest bucket.
    static constexpr size_t minimumBucket = 4096;

    explicit BufferPool(std::shared_ptr<platform::gpu::Device> device);

    /// Forgets the buffers of the previous frame (they belong to the recycler by now).
    void beginFrame() { frameBuffers_.clear(); }
    /// A buffer holding `elements` at its start, from the recycler or new, listed as the frame's;
    /// none for no elements or when no buffer can be made.
    template <GPURecord T> std::shared_ptr<platform::gpu::Buffer> makeBuffer(std::span<const T> elements)
    {
        return makeBuffer(elements.data(), elements.size(), sizeof(T));
    }
    /// A buffer of exactly `elements`, `reusing` the given one when it is large enough; with the
    /// element count. (none, 0) for no elements; (none, count) when no buffer can be made.
    template <GPURecord T>
    std::pair<std::shared_ptr<platform::gpu::Buffer>, size_t>
    makeStaticBuffer(std::span<const T> elements, std::shared_ptr<platform::gpu::Buffer> reusing)
    {
        return makeStaticBuffer(elements.data(), elements.size(), sizeof(T), std::move(reusing));
    }

    /// The bucket a byte length goes into; none when no bucket is that large.
    static std::optional<size_t> bucketLength(size_t length);

    /// The buffers made since the frame began.
    const std::vector<std::shared_ptr<platform::gpu::Buffer>>& frameBuffers() const { return frameBuffers_; }
    MetalBufferRecycler& recycler() { return *recycler_; }
    const std::shared_ptr<MetalBufferRecycler>& sharedRecycler() const { return recycler_; }

private:
    std::shared_ptr<platform::gpu::Buffer> makeBuffer(const void* elements, size_t count, size_t stride);
    std::pair<std::shared_ptr<platform::gpu::Buffer>, size_t>
    makeStaticBuffer(const void* elements, size_t count, size_t stride,
                     std::shared_ptr<platform::gpu::Buffer> reusing);

    std::shared_ptr<platform::gpu::Device> device_;
    std::shared_ptr<MetalBufferRecycler> recycler_;
    std::vector<std::shared_ptr<platform::gpu::Buffer>> frameBuffers_;
};

} // namespace kestrovan
