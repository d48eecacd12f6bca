// The window's kind of `DisplayLink`: driven by a widget's frame clock, the handler runs once per
// frame the window paints, on the main thread, while the link runs.
//
// A running link keeps the frame clock updating; a paused one removes its tick callback, so an
// idle view costs the window nothing. Ticks start once the widget is realized and stop when it is
// destroyed. A frame driver binds to it like to any other display link.
#pragma once

#include "Platform/Dispatch/DisplayLink.h"

#include <cstdint>
#include <functional>

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
    bool isRunning() const override { return tickId_ != 0; }
    void invalidate() override;
    /// Frame-clock ticks always run on the main thread.
    bool ticksOnMainThread() const override { return true; }
    Counters counters() const override { return counters_; }

    /// The frame time of the last tick in microseconds of the monotonic clock, or 0 before one.
    int64_t lastFrameTimeUs() const { return lastFrameTimeUs_; }
    /// The display's refresh interval in microseconds as the frame clock estimates it (0 while
    /// unknown).
    int64_t refreshIntervalUs() const;

private:
    static int onTick(GtkWidget* widget, GdkFrameClock* clock, void* self);
    static void onWidgetGone(void* self, void* widget);

    GtkWidget* widget_;
    Handler handler_;
    unsigned tickId_ = 0;
    bool invalidated_ = false;
    int64_t lastFrameTimeUs_ = 0;
    Counters counters_;
};

} // namespace platform::gtk
