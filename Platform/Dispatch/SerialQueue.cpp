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
    std::optional<InlineTurn> turn = inlineTurn();
    if (!turn) {
        runAndWait(std::move(work));
        return;
    }
    work();
}

std::optional<SerialQueue::InlineTurn> SerialQueue::inlineTurn()
{
    if (!shared_->items.claimIfIdle())
        return std::nullopt;
    return InlineTurn(shared_);
}

SerialQueue::InlineTurn::InlineTurn(std::shared_ptr<Shared> shared)
    : shared_(std::move(shared)), outerQueue_(runningQueue)
{
    runningQueue = shared_.get();
}

SerialQueue::InlineTurn::InlineTurn(InlineTurn&& other) noexcept
    : shared_(std::move(other.shared_)), outerQueue_(other.outerQueue_)
{}

SerialQueue::InlineTurn& SerialQueue::InlineTurn::operator=(InlineTurn&& other) noexcept
{
    if (this != &other) {
        giveBack();
        shared_ = std::move(other.shared_);
        outerQueue_ = other.outerQueue_;
    }
    return *this;
}

SerialQueue::InlineTurn::~InlineTurn()
{
    giveBack();
}

void SerialQueue::InlineTurn::giveBack()
{
    // A moved-from turn holds nothing to give back.
    if (!shared_)
        return;
    runningQueue = outerQueue_;
    shared_->items.releaseClaim();
    shared_.reset();
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
