#include "Platform/Dispatch/SerialQueue.h"

#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Dispatch/WorkList.h"
#include "Platform/Log/Fatal.h"

namespace platform {

namespace {

// The queue whose item the calling thread is running, if any. Compared by the address of the
// queue's shared state, which outlives every item that could look at it.
thread_local const void* runningQueue = nullptr;

} // namespace

struct SerialQueue::Shared
{
    std::string label;
    WorkList items;
};

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), shared_(std::make_shared<Shared>())
{
    shared_->label = label_;
    thread_ = std::thread(run, shared_);
}

SerialQueue::~SerialQueue()
{
    shared_->items.stop();
    // An item may drop the last reference to its own queue; the thread cannot join itself, so it
    // finishes the items left and leaves on its own, keeping the shared state alive until then.
    if (isCurrent())
        thread_.detach();
    else
        thread_.join();
}

void SerialQueue::async(std::function<void()> work)
{
    shared_->items.push(std::move(work));
}

void SerialQueue::sync(std::function<void()> work)
{
    if (isCurrent())
        fatal("SerialQueue::sync called on the thread of queue \"" + label_ +
              "\", which would wait for itself");
    // A queue with nothing to do lends its turn to the caller, which runs the item itself as the
    // queue's own (`isCurrent` holds inside) instead of waking the queue's thread and being woken
    // in turn: two thread wake-ups per call, which a caller that hands over work in a steady
    // stream (a pipeline delivering output) would otherwise pay every time.
    if (!shared_->items.claimIfIdle()) {
        runAndWait(std::move(work));
        return;
    }
    struct Turn
    {
        WorkList& items;
        const void* outerQueue = runningQueue;
        ~Turn()
        {
            runningQueue = outerQueue;
            items.releaseClaim();
        }
    } turn{shared_->items};
    runningQueue = shared_.get();
    work();
}

bool SerialQueue::isCurrent() const
{
    return runningQueue == shared_.get();
}

void SerialQueue::run(std::shared_ptr<Shared> shared)
{
    setCurrentThreadName(shared->label);
    runningQueue = shared.get();
    shared->items.runUntilStopped();
    runningQueue = nullptr;
}

} // namespace platform
