// A labelled serial queue with a thread of its own.
//
// Work items run one at a time on the queue's thread, in the order they were queued. `sync` runs an
// item after those queued before it and waits for it; when nothing is queued or running, it runs
// the item on the calling thread, as the queue's own, holding back the queue's thread meanwhile.
// `inlineTurn` lends such a turn to a caller that only wants one when it comes free of charge.
// Asking for `sync` on the queue's own thread would wait forever, so it stops the program with a
// message naming the queue. Destroying the queue drains it: the items
// already queued still run (a write still queued keeps its promise to call its completion), then
// the thread ends. The state the thread works on lives apart from the object, so the last owner of
// a queue may even be one of its own items.
#pragma once

#include "Platform/Dispatch/DispatchQueue.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace platform {

class SerialQueue final : public DispatchQueue
{
    struct Shared;

public:
    /// Starts the queue's thread, named `label` (see `platform::setCurrentThreadName`).
    explicit SerialQueue(std::string label);
    /// Runs the items still queued, then ends the thread; waits for that unless called on the
    /// queue's own thread, which is left to finish on its own.
    ~SerialQueue() override;

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work) override;
    void sync(std::function<void()> work) override;
    bool isCurrent() const override;

    /// The queue's turn, lent to the calling thread while the object lives: no item starts
    /// meanwhile, `isCurrent` holds on this thread, and items queued meanwhile run after it ends,
    /// in order. So code run under it counts as one of the queue's items.
    class InlineTurn
    {
    public:
        /// A turn moves only within the thread that holds it.
        InlineTurn(InlineTurn&& other) noexcept;
        InlineTurn& operator=(InlineTurn&& other) noexcept;
        ~InlineTurn();

    private:
        friend class SerialQueue;
        explicit InlineTurn(std::shared_ptr<Shared> shared);
        void giveBack();

        std::shared_ptr<Shared> shared_;
        const void* outerQueue_ = nullptr;
    };

    /// The queue's turn, when nothing is queued, running or lent; absent otherwise. Never waits.
    std::optional<InlineTurn> inlineTurn();

    /// The name of the queue and of its thread.
    const std::string& label() const { return label_; }

private:
    static void run(std::shared_ptr<Shared> shared);

    std::string label_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

} // namespace platform
