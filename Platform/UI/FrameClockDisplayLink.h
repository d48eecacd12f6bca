// The window's kind of `DisplayLink`: driven by a widget's frame clock, the handler runs once per
// frame the window paints, on the main thread, while the link runs.
//
// A running link asks the clock for one frame at a time (the update phase of the next frame) and
// asks again after each tick while it still runs; a paused link asks for nothing, so an idle view
// costs the window nothing, and the clock's next frame after a start comes as soon as the clock
// allows (at once when it has been idle for a refresh interval). A clock kept running on its own
// would instead hold every start back to its next refresh. After each frame the clock holds the
// next one back for a refresh interval; `expediteTick` lets one frame (an echo of typing) skip
// that wait; the window's other links sit that early cycle out. Ticks start once the widget is realized
// and stop when it is unrealized or destroyed. A frame driver binds to it like to any other
// display link.
#pragma once

#include "Platform/Dispatch/DisplayLink.h"

#include <cstdint>
#include <functional>
#include <memory>

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkFrameClock GdkFrameClock;

namespace platform::gtk {

class FrameClockDisplayLink final : public DisplayLink
{
public:
    /// A paused link on `widget`'s frame clock; holds the widget weakly.
    explicit FrameClockDisplayLink(GtkWidget* widget);
    /// Invalidates.
    ~FrameClockDisplayLink() override;
    FrameClockDisplayLink(const FrameClockDisplayLink&) = delete;
    FrameClockDisplayLink& operator=(const FrameClockDisplayLink&) = delete;

    void setHandler(Handler handler) override;
    /// Starts ticking; does nothing when running, invalidated, or the widget is gone.
    void start() override;
    void pause() override;
    bool isRunning() const override { return running_; }
    void invalidate() override;
    /// Frame-clock ticks always run on the main thread.
    bool ticksOnMainThread() const override { return true; }
    /// A paused link asks the clock for nothing; an idle frame clock paints at once when asked,
    /// one refresh interval after its last frame at the soonest.
    bool resumesOnDemand() const override { return true; }
    /// Moves the clock's pending frame cycle to now (see `expediteTick` in the .cpp).
    void expediteTick() override;
    Counters counters() const override { return counters_; }
    /// Ticks asked to come sooner that found the clock's cycle waiting and moved it.
    uint64_t expeditedTicks() const { return expeditedTicks_; }
    /// Cycles another link expedited, in which this one did not tick but waited for the next.
    uint64_t deferredTicks() const { return deferredTicks_; }

    /// The frame time of the last tick in microseconds of the monotonic clock, or 0 before one.
    int64_t lastFrameTimeUs() const { return lastFrameTimeUs_; }
    /// The display's refresh interval in microseconds as the frame clock estimates it (0 while
    /// unknown).
    int64_t refreshIntervalUs() const;

private:
    static void onUpdate(GdkFrameClock* clock, void* self);
    static void onWidgetGone(void* self, void* widget);
    /// Follows the widget's clock: it has one from realizing to unrealizing.
    void attachClock();
    void detachClock();
    void requestFrame();

    GtkWidget* widget_;
    GdkFrameClock* clock_ = nullptr;
    unsigned long updateHandler_ = 0;
    Handler handler_;
    bool running_ = false;
    bool invalidated_ = false;
    /// Cleared when the link is destroyed: a tick's handler may destroy the link it runs from.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    int64_t lastFrameTimeUs_ = 0;
    uint64_t expeditedTicks_ = 0;
    uint64_t deferredTicks_ = 0;
    /// The frame counter of the clock's cycle this link last expedited.
    int64_t expeditedCycle_ = -1;
    Counters counters_;
};

/// Moves `widget`'s frame clock's pending frame cycle to now, for a paint the widget queued (a frame
/// drawn on another thread has come in): the window shows it at the next main-loop iteration rather
/// than a refresh interval after its last frame. No link ticks in that cycle unless one expedited
/// it for an echo already: content that waits for a tick keeps the clock's pace. Does nothing
/// when no cycle waits on the clock's timer. True when one was moved.
bool expeditePaint(GtkWidget* widget);

} // namespace platform::gtk
