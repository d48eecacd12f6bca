// A serial queue with its own thread that runs work items at deadlines on the monotonic clock.
//
// Items run one at a time, ordered by deadline and, for equal deadlines, by the order they were
// queued. A scheduled item hands back a handle whose `cancel()` keeps it from running if it has not
// started yet; an item that has started always finishes. Destroying the queue stops its thread and
// drops the items still waiting. The queue's state lives apart from the object, shared with the
// thread, so the last reference to a queue may even be dropped by one of its own items.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform {

class TimerQueue
{
public:
    using Clock = std::chrono::steady_clock;

    /// The cancellation side of one scheduled item. Copies refer to the same item; an empty handle
    /// (default-constructed) refers to none and ignores `cancel()`.
    class Handle
    {
    public:
        Handle() = default;

        /// Keeps the item from running when it has not started yet; callable from any thread, any
        /// number of times. An item that has already started runs to its end.
        void cancel();
        /// True once `cancel()` has been called before the item started.
        bool isCancelled() const;

    private:
        friend class TimerQueue;
        struct ItemState;
        explicit Handle(std::shared_ptr<ItemState> state) : state_(std::move(state)) {}
        std::shared_ptr<ItemState> state_;
    };

    /// Starts the queue's thread, named `label` (see `platform::setCurrentThreadName`).
    explicit TimerQueue(std::string label);
    /// Stops the thread after the item that is running, if any; pending items never run.
    ~TimerQueue();

    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    /// Runs `work` on the queue's thread once `deadline` has passed.
    Handle schedule(Clock::time_point deadline, std::function<void()> work);
    /// Runs `work` on the queue's thread as soon as possible, after the items already due.
    void async(std::function<void()> work);

    /// The name the queue's thread carries.
    const std::string& label() const { return label_; }

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared, std::string label);

    std::string label_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace platform
