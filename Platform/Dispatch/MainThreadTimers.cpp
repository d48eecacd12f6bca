#include "Platform/Dispatch/MainThreadTimers.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Dispatch/TimerQueue.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <algorithm>
#include <atomic>

namespace platform {

namespace {

MainThreadTimers::Clock::duration usableInterval(MainThreadTimers::Clock::duration interval)
{
    // A zero interval would make a repeating timer spin; one millisecond is far below any use.
    return std::max<MainThreadTimers::Clock::duration>(interval, std::chrono::milliseconds(1));
}

// --- The system timers -------------------------------------------------------------------------

// One timer of the system timers. Its deadlines are watched on the shared timer thread; each
// firing is posted to the main queue and runs there only while the timer is still valid. The
// state is shared with the posted work, so it outlives a handle the caller dropped.
class SystemTimer final : public MainThreadTimers::Timer, public std::enable_shared_from_this<SystemTimer>
{
public:
    SystemTimer(MainThreadTimers::Clock::duration interval, bool repeats, std::function<void()> fire)
        : interval_(interval), repeats_(repeats), fire_(std::move(fire))
    {}

    void start(TimerQueue& queue, MainThreadTimers::Clock::time_point deadline) EXCLUDES(mutex_)
    {
        std::weak_ptr<SystemTimer> weak = weak_from_this();
        TimerQueue::Handle handle = queue.schedule(deadline, [weak, deadline] {
            if (const std::shared_ptr<SystemTimer> timer = weak.lock())
                timer->postFiring(deadline);
        });
        MutexLock guard(mutex_);
        handle_ = std::move(handle);
    }

    void invalidate() override EXCLUDES(mutex_)
    {
        valid_ = false;
        MutexLock guard(mutex_);
        handle_.cancel();
        // The closure may hold what its owner holds; let it go now rather than at the next firing.
        fire_ = nullptr;
    }

    bool isValid() const override { return valid_; }

private:
    void postFiring(MainThreadTimers::Clock::time_point deadline)
    {
        std::shared_ptr<SystemTimer> self = shared_from_this();
        MainQueue::shared()->async([self, deadline] { self->fireOnMain(deadline); });
    }

    void fireOnMain(MainThreadTimers::Clock::time_point deadline) EXCLUDES(mutex_);

    const MainThreadTimers::Clock::duration interval_;
    const bool repeats_;
    std::atomic<bool> valid_{true};
    Mutex mutex_;
    std::function<void()> fire_ GUARDED_BY(mutex_);
    TimerQueue::Handle handle_ GUARDED_BY(mutex_);
};

TimerQueue& systemTimerQueue()
{
    // Never destroyed: a timer may be scheduled while static destructors run at exit.
    static TimerQueue* const queue = new TimerQueue("vesk-main-timers");
    return *queue;
}

void SystemTimer::fireOnMain(MainThreadTimers::Clock::time_point deadline)
{
    if (!valid_)
        return;
    std::function<void()> fire;
    {
        MutexLock guard(mutex_);
        fire = fire_;
    }
    if (repeats_) {
        // The next deadline follows the one just reached; deadlines the main thread was too busy
        // to see are skipped rather than fired in a burst.
        const MainThreadTimers::Clock::time_point now = MainThreadTimers::Clock::now();
        MainThreadTimers::Clock::time_point next = deadline + interval_;
        if (next <= now)
            next = now + interval_;
        start(systemTimerQueue(), next);
    } else {
        valid_ = false;
    }
    if (fire)
        fire();
}

class SystemTimers final : public MainThreadTimers
{
public:
    Clock::time_point now() const override { return Clock::now(); }

    std::shared_ptr<Timer> schedule(Clock::duration interval, bool repeats,
                                    std::function<void()> fire) override
    {
        // The timer thread only notices deadlines; every firing runs on the main thread.
        const Clock::duration usable = usableInterval(interval);
        auto timer = std::make_shared<SystemTimer>(usable, repeats, std::move(fire));
        timer->start(systemTimerQueue(), Clock::now() + usable);
        return timer;
    }
};

} // namespace

uint64_t MainThreadTimers::uptimeNanoseconds() const
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now().time_since_epoch()).count());
}

std::shared_ptr<MainThreadTimers> MainThreadTimers::system()
{
    static const std::shared_ptr<MainThreadTimers> timers = std::make_shared<SystemTimers>();
    return timers;
}

// --- The manual timers -------------------------------------------------------------------------

struct ManualMainThreadTimers::Entry
{
    Clock::time_point deadline;
    Clock::duration interval;
    bool repeats = false;
    bool valid = true;
    uint64_t sequence = 0;
    std::function<void()> fire;
};

class ManualMainThreadTimers::ManualTimer final : public MainThreadTimers::Timer
{
public:
    explicit ManualTimer(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}

    void invalidate() override
    {
        entry_->valid = false;
        entry_->fire = nullptr;
    }
    bool isValid() const override { return entry_->valid; }

private:
    std::shared_ptr<Entry> entry_;
};

ManualMainThreadTimers::ManualMainThreadTimers()
    // A clock that starts well after its epoch, so that no time reads as zero ("never").
    : now_(Clock::time_point(std::chrono::seconds(1000)))
{}

std::shared_ptr<MainThreadTimers::Timer>
ManualMainThreadTimers::schedule(Clock::duration interval, bool repeats, std::function<void()> fire)
{
    auto entry = std::make_shared<Entry>();
    entry->interval = usableInterval(interval);
    entry->deadline = now_ + entry->interval;
    entry->repeats = repeats;
    entry->sequence = nextSequence_++;
    entry->fire = std::move(fire);
    entries_.push_back(entry);
    return std::make_shared<ManualTimer>(entry);
}

void ManualMainThreadTimers::advance(Clock::duration by)
{
    // Firings run one at a time with the clock set to their deadline, so a firing that reads the
    // clock or schedules another timer sees the time it would have seen for real.
    const Clock::time_point target = now_ + by;
    for (;;) {
        std::erase_if(entries_, [](const std::shared_ptr<Entry>& entry) { return !entry->valid; });
        std::shared_ptr<Entry> due;
        for (const std::shared_ptr<Entry>& entry : entries_) {
            if (entry->deadline > target)
                continue;
            if (!due || entry->deadline < due->deadline ||
                (entry->deadline == due->deadline && entry->sequence < due->sequence))
                due = entry;
        }
        if (!due)
            break;
        now_ = due->deadline;
        std::function<void()> fire = due->fire;
        if (due->repeats) {
            due->deadline += due->interval;
            due->sequence = nextSequence_++;
        } else {
            due->valid = false;
            due->fire = nullptr;
        }
        ++firings_;
        if (fire)
            fire();
    }
    now_ = target;
}

size_t ManualMainThreadTimers::activeCount() const
{
    return static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const auto& entry) { return entry->valid; }));
}

} // namespace platform
