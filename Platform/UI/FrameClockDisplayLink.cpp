#include "Platform/UI/FrameClockDisplayLink.h"

#include <gtk/gtk.h>

namespace platform::gtk {

FrameClockDisplayLink::FrameClockDisplayLink(GtkWidget* widget) : widget_(widget)
{
    g_object_weak_ref(G_OBJECT(widget_), reinterpret_cast<GWeakNotify>(onWidgetGone), this);
}

FrameClockDisplayLink::~FrameClockDisplayLink()
{
    invalidate();
    if (widget_)
        g_object_weak_unref(G_OBJECT(widget_), reinterpret_cast<GWeakNotify>(onWidgetGone), this);
}

void FrameClockDisplayLink::setHandler(Handler handler)
{
    if (!invalidated_)
        handler_ = std::move(handler);
}

void FrameClockDisplayLink::start()
{
    if (invalidated_ || !widget_ || tickId_ != 0)
        return;
    tickId_ = gtk_widget_add_tick_callback(widget_, reinterpret_cast<GtkTickCallback>(onTick), this, nullptr);
    ++counters_.starts;
}

void FrameClockDisplayLink::pause()
{
    if (tickId_ == 0)
        return;
    if (widget_)
        gtk_widget_remove_tick_callback(widget_, tickId_);
    tickId_ = 0;
    ++counters_.stops;
}

void FrameClockDisplayLink::invalidate()
{
    pause();
    invalidated_ = true;
    handler_ = nullptr;
}

int64_t FrameClockDisplayLink::refreshIntervalUs() const
{
    GdkFrameClock* clock = widget_ ? gtk_widget_get_frame_clock(widget_) : nullptr;
    if (!clock)
        return 0;
    gint64 interval = 0;
    gint64 presentation = 0;
    gdk_frame_clock_get_refresh_info(clock, gdk_frame_clock_get_frame_time(clock), &interval, &presentation);
    return interval;
}

int FrameClockDisplayLink::onTick(GtkWidget*, GdkFrameClock* clock, void* data)
{
    auto* self = static_cast<FrameClockDisplayLink*>(data);
    self->lastFrameTimeUs_ = gdk_frame_clock_get_frame_time(clock);
    // The handler runs from a copy, so it may replace the handler, pause or invalidate the link,
    // or even destroy it: this frame touches nothing of the link after the call. Pausing removes
    // the tick callback through GTK, so the callback itself always asks to continue.
    Handler handler = self->handler_;
    if (handler) {
        ++self->counters_.ticks;
        handler();
    }
    return G_SOURCE_CONTINUE;
}

void FrameClockDisplayLink::onWidgetGone(void* data, void*)
{
    auto* self = static_cast<FrameClockDisplayLink*>(data);
    // The widget took its tick callbacks with it.
    if (self->tickId_ != 0)
        ++self->counters_.stops;
    self->tickId_ = 0;
    self->widget_ = nullptr;
}

} // namespace platform::gtk
