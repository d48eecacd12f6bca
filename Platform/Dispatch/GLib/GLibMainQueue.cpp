#include "Platform/Dispatch/GLib/GLibMainQueue.h"

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <deque>
#include <glib.h>
#include <utility>

namespace platform {

struct GLibMainQueue::State
{
    Mutex mutex;
    std::deque<std::function<void()>> items GUARDED_BY(mutex);
    GSource* source GUARDED_BY(mutex) = nullptr;
};

namespace {

// The GSource with a pointer to the queue's state. The state is shared with the queue object,
// and the source keeps its own reference until GLib finalizes it.
struct QueueSource
{
    GSource base;
    std::shared_ptr<GLibMainQueue::State>* state;
};

} // namespace

// The source needs no prepare or check: a ready time of 0 makes GLib dispatch it on the next
// iteration, and setting one is safe from any thread and wakes the context.
static gboolean dispatchQueueSource(GSource* source, GSourceFunc, gpointer)
{
    auto& state = *reinterpret_cast<QueueSource*>(source)->state;
    g_source_set_ready_time(source, -1);
    std::deque<std::function<void()>> batch;
    {
        MutexLock lock(state->mutex);
        batch.swap(state->items);
    }
    for (auto& item : batch) {
        item();
        // Released one by one, right after running, as a serial queue would.
        item = nullptr;
    }
    return G_SOURCE_CONTINUE;
}

static void finalizeQueueSource(GSource* source)
{
    delete reinterpret_cast<QueueSource*>(source)->state;
}

static GSourceFuncs queueSourceFuncs = {nullptr, nullptr, dispatchQueueSource, finalizeQueueSource,
                                        nullptr, nullptr};

GLibMainQueue::GLibMainQueue() : state_(std::make_shared<State>())
{
    GSource* source = g_source_new(&queueSourceFuncs, sizeof(QueueSource));
    reinterpret_cast<QueueSource*>(source)->state = new std::shared_ptr<State>(state_);
    g_source_set_name(source, "platform main queue");
    g_source_set_ready_time(source, -1);
    state_->source = source;
    g_source_attach(source, g_main_context_default());
}

GLibMainQueue::~GLibMainQueue()
{
    std::deque<std::function<void()>> dropped;
    GSource* source;
    {
        MutexLock lock(state_->mutex);
        source = std::exchange(state_->source, nullptr);
        dropped.swap(state_->items);
    }
    g_source_destroy(source);
    g_source_unref(source);
}

void GLibMainQueue::async(std::function<void()> work)
{
    MutexLock lock(state_->mutex);
    state_->items.push_back(std::move(work));
    // Under the lock, so the destructor cannot release the source in between.
    if (state_->source)
        g_source_set_ready_time(state_->source, 0);
}

} // namespace platform
