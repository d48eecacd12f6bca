// Frame submission and completion on a GL device.
//
// GL has no command queue: draws go straight to the context. What the renderer needs of one is
// here: the vertex array every draw reads through, and the completion of submitted frames. A
// frame's commands are issued between `makeCommandBuffer` and `commit`; committing flushes them
// to the GPU and puts a fence after them. A frame is complete once its fence has signalled, and
// its completed handlers then run, in the order they were added, frames in the order they were
// committed, on the thread that polls: the context's own thread, at the start of each frame
// (`pollCompletions`) and, when the context lives on the main thread, from a main-loop timer that
// runs while fences are pending.
#pragma once

#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/GPU/Device.h"
#include "Platform/Sync/Mutex.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace kestrovan {

/// The commands of one frame, and what runs when the GPU has finished them.
class MetalCommandBuffer
{
public:
    /// Runs once the frame is complete; handlers run in the order they were added.
    void addCompletedHandler(std::function<void()> handler) { handlers_.push_back(std::move(handler)); }
    bool isCommitted() const { return committed_; }

private:
    friend class MetalCommandQueue;

    std::vector<std::function<void()>> handlers_;
    std::shared_ptr<platform::gpu::Fence> fence_;
    bool committed_ = false;
};

class MetalCommandQueue : public std::enable_shared_from_this<MetalCommandQueue>
{
public:
    /// How often the main-loop timer looks at pending fences.
    static constexpr std::chrono::milliseconds pollInterval{1};

    /// A queue on `device` (its context current); none when its vertex array cannot be made.
    static std::shared_ptr<MetalCommandQueue> make(std::shared_ptr<platform::gpu::Device> device);
    /// Stops the main-loop timer; frames still pending never run their handlers.
    ~MetalCommandQueue();

    const std::shared_ptr<platform::gpu::Device>& device() const { return device_; }
    const platform::gpu::VertexArray& vertexArray() const { return *vertexArray_; }

    std::shared_ptr<MetalCommandBuffer> makeCommandBuffer() { return std::make_shared<MetalCommandBuffer>(); }
    /// Flushes the frame's commands and fences them. Without a fence (none could be made) the
    /// handlers run at once: GL orders later uses of the same buffers after these commands anyway.
    void commit(const std::shared_ptr<MetalCommandBuffer>& buffer) EXCLUDES(mutex_);
    /// Runs the handlers of every committed frame whose fence has signalled, oldest first,
    /// stopping at the first still pending; how many frames completed. Needs the context current.
    size_t pollCompletions() EXCLUDES(mutex_);
    /// Waits up to `timeout` for `buffer`'s fence, then completes every frame up to it; true when
    /// it completed. Needs the context current.
    bool waitUntilCompleted(const std::shared_ptr<MetalCommandBuffer>& buffer,
                            std::chrono::nanoseconds timeout) EXCLUDES(mutex_);
    /// Frames committed and not yet complete.
    size_t pendingCount() const EXCLUDES(mutex_);

    /// Polls from main-loop timers on `timers` while frames are pending (for a context that
    /// lives on the main thread); none turns it off.
    void setMainLoopPolling(std::shared_ptr<platform::MainThreadTimers> timers);

private:
    explicit MetalCommandQueue(std::shared_ptr<platform::gpu::Device> device,
                               std::shared_ptr<platform::gpu::VertexArray> vertexArray);

    void runHandlers(std::vector<std::shared_ptr<MetalCommandBuffer>> completed);
    void scheduleTimerIfNeeded();

    std::shared_ptr<platform::gpu::Device> device_;
    std::shared_ptr<platform::gpu::VertexArray> vertexArray_;
    mutable platform::Mutex mutex_;
    std::deque<std::shared_ptr<MetalCommandBuffer>> pending_ GUARDED_BY(mutex_);
    std::shared_ptr<platform::MainThreadTimers> timers_;
    std::shared_ptr<platform::MainThreadTimers::Timer> timer_;
};

} // namespace kestrovan
