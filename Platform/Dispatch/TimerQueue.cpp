#include "Platform/Dispatch/TimerQueue.h"

#include "Platform/Dispatch/ThreadRegistry.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <vector>

namespace platform {

// An item moves from pending to started (the queue is about to run it) or to cancelled, once;
// whichever side wins the exchange decides whether it runs.
struct TimerQueue::Handle::ItemState
{
    enum Phase : uint8_t
    {
        pending,
        started,
        cancelled
    };
    std::atomic<uint8_t> phase{pending};

    bool tryStart()
    {
        uint8_t expected = pending;
        return phase.compare_exchange_strong(expected, started);
    }
};

void TimerQueue::Handle::cancel()
{
    if (!state_)
        return;
    uint8_t expected = ItemState::pending;
    state_->phase.compare_exchange_strong(expected, ItemState::cancelled);
}

bool TimerQueue::Handle::isCancelled() const
{
    return state_ && state_->phase.load() == ItemState::cancelled;
}

struct TimerQueue::Shared
{
    struct Entry
    {
        Clock::time_point deadline;
        uint64_t sequence = 0;
        // Absent for `async` items, which nobody can cancel.
        std::shared_ptr<Handle::ItemState> state;
        std::function<void()> work;
    };

    // The heap functions keep the largest element first; "later" as the order puts the earliest
    // deadline, and among equal deadlines the first queued, at the front.
    static bool later(const Entry& a, const Entry& b)
    {
        if (a.deadline != b.deadline)
            return a.deadline > b.deadline;
        return a.sequence > b.sequence;
    }

    Mutex mutex;
    std::condition_variable wakeUp;
    std::vector<Entry> heap GUARDED_BY(mutex);
    uint64_t nextSequence GUARDED_BY(mutex) = 0;
    bool stopping GUARDED_BY(mutex) = false;
};

TimerQueue::TimerQueue(std::string label) : label_(std::move(label)), shared_(std::make_shared<Shared>())
{
    thread_ = std::thread(run, shared_, label_);
}

TimerQueue::~TimerQueue()
{
    std::vector<Shared::Entry> dropped;
    {
        MutexLock lock(shared_->mutex);
        shared_->stopping = true;
        dropped.swap(shared_->heap);
    }
    shared_->wakeUp.notify_all();
    // An item may drop the last reference to its own queue; the thread cannot wait for itself, so
    // it is left to finish that item and leave on its own, keeping the shared state alive.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
    // `dropped` goes here, outside the lock: a closure's captures may do anything when released.
}

TimerQueue::Handle TimerQueue::schedule(Clock::time_point deadline, std::function<void()> work)
{
    auto state = std::make_shared<Handle::ItemState>();
    Shared::Entry entry{deadline, 0, state, std::move(work)};
    {
        MutexLock lock(shared_->mutex);
        if (shared_->stopping)
            return Handle(std::move(state));
        entry.sequence = shared_->nextSequence++;
        shared_->heap.push_back(std::move(entry));
        std::push_heap(shared_->heap.begin(), shared_->heap.end(), Shared::later);
        // Notified under the lock: once it is released the item may run and even destroy this
        // queue, so nothing here may touch the queue afterwards. The one waiter is the queue's
        // thread, which re-reads the earliest deadline when woken.
        shared_->wakeUp.notify_one();
    }
    return Handle(std::move(state));
}

void TimerQueue::async(std::function<void()> work)
{
    Shared::Entry entry{Clock::now(), 0, nullptr, std::move(work)};
    {
        MutexLock lock(shared_->mutex);
        if (shared_->stopping)
            return;
        entry.sequence = shared_->nextSequence++;
        shared_->heap.push_back(std::move(entry));
        std::push_heap(shared_->heap.begin(), shared_->heap.end(), Shared::later);
        shared_->wakeUp.notify_one();
    }
}

void TimerQueue::run(std::shared_ptr<Shared> shared, std::string label)
{
    setCurrentThreadName(label);
    MutexLock lock(shared->mutex);
    while (!shared->stopping) {
        if (shared->heap.empty()) {
            shared->mutex.wait(shared->wakeUp);
            continue;
        }
        const Clock::time_point deadline = shared->heap.front().deadline;
        if (Clock::now() < deadline) {
            // Woken early by a new item or by the destructor, the loop looks again.
            shared->mutex.waitUntil(shared->wakeUp, deadline);
            continue;
        }
        std::pop_heap(shared->heap.begin(), shared->heap.end(), Shared::later);
        {
            Shared::Entry entry = std::move(shared->heap.back());
            shared->heap.pop_back();
            lock.unlock();
            // The item and the release of its closure run without the lock, so they may schedule
            // more items or cancel others.
            if (!entry.state || entry.state->tryStart())
                entry.work();
        }
        lock.lock();
    }
}

} // namespace platform
