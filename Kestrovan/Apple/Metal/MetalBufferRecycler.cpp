#include "Kestrovan/Apple/Metal/MetalBufferRecycler.h"

#include "Kestrovan/Fatal.h"

namespace kestrovan {

std::shared_ptr<platform::gpu::Buffer> MetalBufferRecycler::take(size_t length)
{
    return state_.withLock([&](State& state) -> std::shared_ptr<platform::gpu::Buffer> {
        auto found = state.available.find(length);
        if (found == state.available.end() || found->second.empty())
            return nullptr;
        auto buffer = std::move(found->second.back());
        found->second.pop_back();
        return buffer;
    });
}

std::optional<uint64_t>
MetalBufferRecycler::retainUntilCompletion(std::vector<std::shared_ptr<platform::gpu::Buffer>> buffers)
{
    if (buffers.empty())
        return std::nullopt;
    return state_.withLock([&](State& state) {
        const uint64_t id = state.nextBatchID;
        if (__builtin_add_overflow(id, 1, &state.nextBatchID))
            fatal("MetalBufferRecycler: batch ids exhausted");
        state.pending.emplace(id, std::move(buffers));
        return id;
    });
}

void MetalBufferRecycler::complete(uint64_t batchID)
{
    // Buffers beyond the idle limit are let go after the lock, where handing them back to their
    // device takes the device's own lock.
    std::vector<std::shared_ptr<platform::gpu::Buffer>> dropped = state_.withLock([&](State& state) {
        std::vector<std::shared_ptr<platform::gpu::Buffer>> extra;
        auto found = state.pending.find(batchID);
        if (found == state.pending.end())
            return extra;
        for (auto& buffer : found->second) {
            auto& idle = state.available[buffer->length()];
            if (idle.size() >= maxBuffersPerSize)
                extra.push_back(std::move(buffer));
            else
                idle.push_back(std::move(buffer));
        }
        state.pending.erase(found);
        return extra;
    });
}

size_t MetalBufferRecycler::availableCount(size_t length) const
{
    return state_.withLock([&](const State& state) {
        auto found = state.available.find(length);
        return found == state.available.end() ? size_t(0) : found->second.size();
    });
}

size_t MetalBufferRecycler::pendingBatchCount() const
{
    return state_.withLock([](const State& state) { return state.pending.size(); });
}

} // namespace kestrovan
