// The main queue of a host that runs a GLib main loop (the application, under GTK).
//
// One GSource on the default main context carries all posted work. Posting from any thread
// appends to a locked list and marks the source ready, which wakes the context; when the loop
// dispatches the source it runs the items posted so far, in order. Items posted while those run
// wait for the next dispatch, so other sources (input, drawing) get their turn in between.
#pragma once

#include "Platform/Dispatch/MainQueue.h"

#include <memory>

namespace platform {

class GLibMainQueue final : public MainQueue
{
public:
    /// Attaches the queue's source to the default main context. Create it on the thread that runs
    /// that context's loop.
    GLibMainQueue();
    /// Destroys the source; items never run are dropped.
    ~GLibMainQueue() override;

    void async(std::function<void()> work) override;

    /// The posted work, shared between the queue and its source.
    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace platform
