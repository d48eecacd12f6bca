#include "Kestrovan/Apple/Metal/MetalCommandQueue.h"

#include <algorithm>

namespace kestrovan {

std::shared_ptr<MetalCommandQueue> MetalCommandQueue::make(std::shared_ptr<platform::gpu::Device> device)
{
    auto vertexArray = device->makeVertexArray();
    if (!vertexArray)
        return nullptr;
    return std::shared_ptr<MetalCommandQueue>(
        new MetalCommandQueue(std::move(device), std::move(vertexArray)));
}

MetalCommandQueue::MetalCommandQueue(std::shared_ptr<platform::gpu::Device> device,
                                     std::shared_ptr<platform::gpu::VertexArray> vertexArray)
    : device_(std::move(device)), vertexArray_(std::move(vertexArray))
{}

MetalCommandQueue::~MetalCommandQueue()
{
    if (timer_)
        timer_->invalidate();
}

void MetalCommandQueue::commit(const std::shared_ptr<MetalCommandBuffer>& buffer)
{
    if (buffer->committed_)
        return;
    device_->flush();
    buffer->fence_ = device_->insertFence();
    buffer->committed_ = true;
    {
        platform::MutexLock guard(mutex_);
        // A frame without a fence completes with the frame before it: its place in the order is
        // all that matters.
        pending_.push_back(buffer);
    }
    if (!buffer->fence_)
        pollCompletions();
    scheduleTimerIfNeeded();
}

size_t MetalCommandQueue::pollCompletions()
{
    std::vector<std::shared_ptr<MetalCommandBuffer>> completed;
    {
        platform::MutexLock guard(mutex_);
        while (!pending_.empty()) {
            const auto& front = pending_.front();
            if (front->fence_ && !device_->isSignalled(*front->fence_))
                break;
            completed.push_back(front);
            pending_.pop_front();
        }
    }
    runHandlers(completed);
    return completed.size();
}

bool MetalCommandQueue::waitUntilCompleted(const std::shared_ptr<MetalCommandBuffer>& buffer,
                                           std::chrono::nanoseconds timeout)
{
    {
        platform::MutexLock guard(mutex_);
        if (std::find(pending_.begin(), pending_.end(), buffer) == pending_.end())
            return buffer->committed_;
    }
    if (buffer->fence_ && !device_->waitForFence(*buffer->fence_, timeout))
        return false;
    // The GPU runs frames in order: every frame committed before this one is complete as well.
    std::vector<std::shared_ptr<MetalCommandBuffer>> completed;
    {
        platform::MutexLock guard(mutex_);
        auto last = std::find(pending_.begin(), pending_.end(), buffer);
        if (last != pending_.end()) {
            completed.assign(pending_.begin(), last + 1);
            pending_.erase(pending_.begin(), last + 1);
        }
    }
    runHandlers(completed);
    return true;
}

size_t MetalCommandQueue::pendingCount() const
{
    platform::MutexLock guard(mutex_);
    return pending_.size();
}

void MetalCommandQueue::runHandlers(std::vector<std::shared_ptr<MetalCommandBuffer>> completed)
{
    for (const auto& buffer : completed) {
        // Handlers run once; the fence goes back to the device with the buffer.
        auto handlers = std::exchange(buffer->handlers_, {});
        buffer->fence_.reset();
        for (auto& handler : handlers)
            handler();
    }
}

void MetalCommandQueue::setMainLoopPolling(std::shared_ptr<platform::MainThreadTimers> timers)
{
    if (timer_)
        timer_->invalidate();
    timer_.reset();
    timers_ = std::move(timers);
    scheduleTimerIfNeeded();
}

void MetalCommandQueue::scheduleTimerIfNeeded()
{
    if (!timers_ || (timer_ && timer_->isValid()) || pendingCount() == 0)
        return;
    std::weak_ptr<MetalCommandQueue> weakSelf = weak_from_this();
    timer_ = timers_->schedule(
        std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(pollInterval), true,
        [weakSelf] {
            auto self = weakSelf.lock();
            if (!self)
                return;
            {
                const platform::gpu::ContextScope scope = self->device_->bindCurrent();
                if (scope.isCurrent())
                    self->pollCompletions();
            }
            if (self->pendingCount() == 0 && self->timer_)
                self->timer_->invalidate();
        });
}

} // namespace kestrovan
