// Test doubles for the render model: a watchdog timer driven by hand, and a view-like set-up that
// binds a `ViewTerminal` to a render owner the way a view does.
#pragma once

#include "Kestrovan/Apple/SynchronizedOutputWatchdog.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/RecordingTerminalDelegate.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/ViewTerminal.h"
#include "Platform/Sync/Mutex.h"

#include <functional>
#include <memory>
#include <optional>

namespace kestrovan::testing {

/// A watchdog timer on a clock that moves only when told. `advance` fires the armed deadline on
/// the calling thread once the clock reaches it; `fireNow` runs the handler whatever the clock says
/// (as a late timer event would).
class ManualWatchdogTimer final : public SynchronizedOutputWatchdog::TimerSource
{
public:
    using Clock = SynchronizedOutputWatchdog::Clock;

    SynchronizedOutputWatchdog::Clock::time_point now() const override
    {
        platform::MutexLock guard(mutex_);
        return now_;
    }
    void setHandler(std::function<void()> handler) override
    {
        platform::MutexLock guard(mutex_);
        handler_ = std::move(handler);
    }
    void schedule(std::optional<Clock::time_point> deadline) override
    {
        platform::MutexLock guard(mutex_);
        deadline_ = cancelled_ ? std::nullopt : deadline;
        ++schedules_;
        if (onSchedule_)
            onSchedule_();
    }
    void cancel() override
    {
        platform::MutexLock guard(mutex_);
        cancelled_ = true;
        deadline_.reset();
    }

    /// Moves the clock on and fires when the armed deadline has come.
    void advance(Clock::duration by)
    {
        std::function<void()> handler;
        {
            platform::MutexLock guard(mutex_);
            now_ += by;
            if (!deadline_ || now_ < *deadline_)
                return;
            deadline_.reset();
            handler = handler_;
        }
        handler();
    }
    /// Runs the handler as a timer event would, whatever is armed.
    void fireNow()
    {
        std::function<void()> handler;
        {
            platform::MutexLock guard(mutex_);
            handler = handler_;
        }
        handler();
    }
    std::optional<Clock::time_point> deadline() const
    {
        platform::MutexLock guard(mutex_);
        return deadline_;
    }
    /// Called inside every `schedule`, to look at the caller's locks.
    void onSchedule(std::function<void()> body)
    {
        platform::MutexLock guard(mutex_);
        onSchedule_ = std::move(body);
    }

private:
    mutable platform::Mutex mutex_;
    Clock::time_point now_ GUARDED_BY(mutex_) = Clock::time_point(std::chrono::hours(1));
    std::optional<Clock::time_point> deadline_ GUARDED_BY(mutex_);
    std::function<void()> handler_ GUARDED_BY(mutex_);
    std::function<void()> onSchedule_ GUARDED_BY(mutex_);
    bool cancelled_ GUARDED_BY(mutex_) = false;
    int schedules_ GUARDED_BY(mutex_) = 0;
};

/// A render owner with a hand-driven watchdog, attached to a view terminal of `cols` x `rows`
/// with its selection and search, as a view sets them up.
struct RenderOwnerFixture
{
    std::shared_ptr<ManualWatchdogTimer> timer = std::make_shared<ManualWatchdogTimer>();
    std::shared_ptr<TerminalRenderOwner> owner = std::make_shared<TerminalRenderOwner>(timer);
    std::shared_ptr<RecordingTerminalDelegate> delegate = std::make_shared<RecordingTerminalDelegate>();
    std::shared_ptr<ViewTerminal> terminal;
    std::shared_ptr<SelectionService> selection;
    std::shared_ptr<SearchService> search;

    explicit RenderOwnerFixture(int cols = 10, int rows = 3, int scrollback = 100)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        options.scrollback = scrollback;
        terminal = ViewTerminal::create(delegate, options, owner->synchronizedOutputWatchdogHandler(), {});
        selection = SelectionService::create(terminal);
        search = std::make_shared<SearchService>(terminal);
        owner->attach(terminal, selection, search);
    }

    std::optional<bool> feed(std::string_view text) { return owner->feed(text); }
};

} // namespace kestrovan::testing
