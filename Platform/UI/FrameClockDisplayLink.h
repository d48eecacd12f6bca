// A display link driven by a widget's frame clock: the handler runs once per frame the window
// paints, on the main thread, while the link runs.
//
// Its members are those of the dispatch layer's `DisplayLink` interface (setHandler, start,
// pause, isRunning, invalidate, ticksOnMainThread, counters), so it can implement that interface
// once it is available to this layer. A running link keeps the frame clock updating; a paused one
// removes its tick callback, so an idle view costs the window nothing. Ticks start once the
// widget is realized and stop when it is destroyed.
#pragma once

#include <cstdint>
#include <functional>

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkFrameClock GdkFrameClock;

namespace platform::gtk {

class FrameClockDisplayLink
{
public:
    using Handler = std::function<void()>;

    /// Starts from paused, pauses from running, and ticks that ran the handler, since creation.
    struct Counters
    {
        uint64_t starts = 0;
        uint64_t stops = 0;
        uint64_t ticks = 0;

        friend bool operator==(const Counters&, const Counters&) = default;
    };

    /// A paused link on `widget`'s frame clock; holds the widget weakly.
    explicit FrameClockDisplayLink(GtkWidget* widget);
    /// Invalidates.
    ~FrameClockDisplayLink();
    FrameClockDisplayLink(const FrameClockDisplayLink&) = delete;
    FrameClockDisplayLink& operator=(const FrameClockDisplayLink&) = delete;

    /// What each tick runs; an empty handler makes ticks do nothing.
    void setHandler(Handler handler);
    /// Starts ticking; does nothing when running, invalidated, or the widget is gone.
    void start();
    /// Stops ticking until the next `start`.
    void pause();
    bool isRunning() const { return tickId_ != 0; }
    /// Stops for good and drops the handler: no tick runs after this returns.
    void invalidate();
    /// Frame-clock ticks always run on the main thread.
    bool ticksOnMainThread() const { return true; }
    Counters counters() const { return counters_; }

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
