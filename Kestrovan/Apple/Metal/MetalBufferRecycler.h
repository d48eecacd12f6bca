// Keeps the vertex buffers of submitted frames until the GPU is done with them, then offers them
// again by length.
//
// A frame's buffers are retained as one batch when it is submitted and released as a batch when
// its fence signals; idle buffers wait by their exact length, at most four of each, so that the
// pool's power-of-two buckets find them again and memory stays bounded. The state sits behind its
// own lock: completion may run on another thread than the one taking buffers.
#pragma once

#include "Kestrovan/Locked.h"
#include "Platform/GPU/GpuObjects.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

class MetalBufferRecycler
{
public:
    /// Idle buffers kept for one length.
    static constexpr size_t maxBuffersPerSize = 4;

    /// An idle buffer of exactly `length` bytes, the last one given back; none when there is none.
    std::shared_ptr<platform::gpu::Buffer> take(size_t length);
    /// Holds a submitted frame's buffers until `complete`; the batch's id, or none for no buffers.
    std::optional<uint64_t>
    retainUntilCompletion(std::vector<std::shared_ptr<platform::gpu::Buffer>> buffers);
    /// The GPU finished the batch: its buffers become idle (beyond four of a length, released).
    /// An unknown id is ignored.
    void complete(uint64_t batchID);

    /// Idle buffers of `length` bytes.
    size_t availableCount(size_t length) const;
    /// Batches submitted and not yet complete.
    size_t pendingBatchCount() const;

private:
    struct State
    {
        std::map<size_t, std::vector<std::shared_ptr<platform::gpu::Buffer>>> available;
        std::map<uint64_t, std::vector<std::shared_ptr<platform::gpu::Buffer>>> pending;
        uint64_t nextBatchID = 1;
    };

    Locked<State> state_;
};

} // namespace kestrovan
