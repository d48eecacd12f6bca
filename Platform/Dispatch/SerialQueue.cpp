#include "Platform/Dispatch/SerialQueue.h"

#include "Platform/Dispatch/DispatchFatal.h"
#include "Platform/Dispatch/ThreadRegistry.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace platform {

namespace {

// The queue whose item the calling thread is running, if any. Compared by the address of the
// queue's shared state, which outlives every item that could look at it.
thread_local const void* runningQueue = nullptr;

} // namespace

struct SerialQueue::Shared
{
    std::string label;
    std::mutex mutex;
    std::condition_variable wakeUp;
    std::deque<std::function<void()>> items;
    bool stopping = false;
};

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), shared_(std::make_shared<Shared>())
{
    shared_->label = label_;
    thread_ = std::thread(run, shared_);
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wakeUp.notify_one();
    // An item may drop the last reference to its own queue; the thread cannot join itself, so it
    // finishes the items left and leaves on its own, keeping the shared state alive until then.
    if (isCurrent())
        thread_.detach();
    else
        thread_.join();
}

void SerialQueue::async(std::function<void()> work)
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->items.push_back(std::move(work));
    }
    shared_->wakeUp.notify_one();
}

void SerialQueue::sync(std::function<void()> work)
{
    if (isCurrent())
        dispatchFatal("SerialQueue::sync called on the thread of queue \"" + label_ +
                      "\", which would wait for itself");
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        work();
        // Notified under the lock: once `done` is seen the waiter returns and these locals go.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

bool SerialQueue::isCurrent() const
{
    return runningQueue == shared_.get();
}

void SerialQueue::run(std::shared_ptr<Shared> shared)
{
    setCurrentThreadName(shared->label);
    runningQueue = shared.get();
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->wakeUp.wait(lock, [&] { return shared->stopping || !shared->items.empty(); });
        if (shared->items.empty())
            break;
        {
            std::function<void()> item = std::move(shared->items.front());
            shared->items.pop_front();
            lock.unlock();
            // The item and the release of its captures run without the lock, so they may queue
            // more work here or elsewhere.
            item();
        }
        lock.lock();
    }
    runningQueue = nullptr;
}

} // namespace platform
