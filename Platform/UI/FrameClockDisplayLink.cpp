#include "Platform/UI/FrameClockDisplayLink.h"

#include <gtk/gtk.h>
#include <optional>

namespace platform::gtk {

namespace {

/// On the frame clock: the frame counter of the cycle that an expedited tick moved forward.
constexpr const char* expeditedCycleKey = "kestrovan-expedited-cycle";

/// Moves `clock`'s pending cycle to now and marks it as an expedited one: for the link that asks
/// (`forLink`), which alone ticks in it, or for a paint, in which no link ticks unless one marked
/// the cycle already (an echo's link still ticks in it). The cycle's frame counter, or none when
/// no cycle waits on the clock's timer.
std::optional<int64_t> expediteCycle(GdkFrameClock* clock, bool forLink)
{
    // After each frame, GDK's frame clock waits a refresh interval before the next one, measured
    // on a grid of whole intervals from its first frame, even where nothing waits for a vertical
    // blank (X11 without a compositor): content that arrives within that time waits on average
    // half an interval, up to one and a half. The clock keeps that wait as a timeout source on the
    // default main context that carries the clock as its data; moving its ready time to now runs
    // the whole frame cycle (update, layout, paint) at the next main-loop iteration. The clock
    // then measures the next wait from its grid again, so frames for other content keep their
    // pace. A clock waiting for the compositor (frozen) keeps no such source: nothing to move.
    GSource* pending = g_main_context_find_source_by_funcs_user_data(nullptr, &g_timeout_funcs, clock);
    if (!pending)
        return std::nullopt;
    g_source_set_ready_time(pending, 0);
    // The cycle is marked on the clock, which every view of the window shares: only the link that
    // asked ticks in it, and the others keep their frames for the clock's next regular cycle, so
    // a neighbour's stream of output still draws at most one frame per refresh.
    const int64_t cycle = gdk_frame_clock_get_frame_counter(clock) + 1;
    const bool marked = intptr_t(g_object_get_data(G_OBJECT(clock), expeditedCycleKey)) == cycle;
    if (forLink || !marked)
        g_object_set_data(G_OBJECT(clock), expeditedCycleKey, reinterpret_cast<void*>(intptr_t(cycle)));
    return cycle;
}

} // namespace

bool expeditePaint(GtkWidget* widget)
{
    GdkFrameClock* clock = widget ? gtk_widget_get_frame_clock(widget) : nullptr;
    return clock && expediteCycle(clock, false).has_value();
}

FrameClockDisplayLink::FrameClockDisplayLink(GtkWidget* widget) : widget_(widget)
{
    g_object_weak_ref(G_OBJECT(widget_), reinterpret_cast<GWeakNotify>(onWidgetGone), this);
    g_signal_connect_swapped(widget_, "realize",
                             G_CALLBACK(+[](FrameClockDisplayLink* self) { self->attachClock(); }), this);
    g_signal_connect_swapped(widget_, "unrealize",
                             G_CALLBACK(+[](FrameClockDisplayLink* self) { self->detachClock(); }), this);
    if (gtk_widget_get_realized(widget_))
        attachClock();
}

FrameClockDisplayLink::~FrameClockDisplayLink()
{
    *alive_ = false;
    invalidate();
    if (widget_)
        g_object_weak_unref(G_OBJECT(widget_), reinterpret_cast<GWeakNotify>(onWidgetGone), this);
}

void FrameClockDisplayLink::attachClock()
{
    detachClock();
    if (invalidated_ || !widget_)
        return;
    clock_ = gtk_widget_get_frame_clock(widget_);
    if (!clock_)
        return;
    g_object_ref(clock_);
    updateHandler_ = g_signal_connect(clock_, "update", G_CALLBACK(onUpdate), this);
    if (running_)
        requestFrame();
}

void FrameClockDisplayLink::detachClock()
{
    if (!clock_)
        return;
    g_signal_handler_disconnect(clock_, updateHandler_);
    g_object_unref(clock_);
    clock_ = nullptr;
    updateHandler_ = 0;
}

void FrameClockDisplayLink::requestFrame()
{
    if (clock_)
        gdk_frame_clock_request_phase(clock_, GDK_FRAME_CLOCK_PHASE_UPDATE);
}

void FrameClockDisplayLink::setHandler(Handler handler)
{
    if (!invalidated_)
        handler_ = std::move(handler);
}

void FrameClockDisplayLink::start()
{
    if (invalidated_ || !widget_ || running_)
        return;
    running_ = true;
    ++counters_.starts;
    requestFrame();
}

void FrameClockDisplayLink::expediteTick()
{
    if (!running_ || !clock_)
        return;
    const std::optional<int64_t> cycle = expediteCycle(clock_, true);
    if (!cycle)
        return;
    expeditedCycle_ = *cycle;
    ++expeditedTicks_;
}

void FrameClockDisplayLink::pause()
{
    // A frame already asked for comes anyway; its tick finds the link paused and does nothing.
    if (!running_)
        return;
    running_ = false;
    ++counters_.stops;
}

void FrameClockDisplayLink::invalidate()
{
    pause();
    invalidated_ = true;
    handler_ = nullptr;
    detachClock();
    if (widget_)
        g_signal_handlers_disconnect_by_data(widget_, this);
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

void FrameClockDisplayLink::onUpdate(GdkFrameClock* clock, void* data)
{
    auto* self = static_cast<FrameClockDisplayLink*>(data);
    if (!self->running_)
        return;
    const int64_t cycle = gdk_frame_clock_get_frame_counter(clock);
    const auto expedited = intptr_t(g_object_get_data(G_OBJECT(clock), expeditedCycleKey));
    if (expedited == cycle && self->expeditedCycle_ != cycle) {
        // Another link's expedited cycle: this one waits for the next regular one.
        ++self->deferredTicks_;
        self->requestFrame();
        return;
    }
    self->lastFrameTimeUs_ = gdk_frame_clock_get_frame_time(clock);
    // The handler runs from a copy, so it may replace the handler, pause or invalidate the link,
    // or even destroy it: only the liveness flag is read before anything else of the link is.
    Handler handler = self->handler_;
    const std::shared_ptr<bool> alive = self->alive_;
    if (handler) {
        ++self->counters_.ticks;
        handler();
    }
    // Still running: the next frame is asked for now, in this frame's update phase.
    if (*alive && self->running_)
        self->requestFrame();
}

void FrameClockDisplayLink::onWidgetGone(void* data, void*)
{
    auto* self = static_cast<FrameClockDisplayLink*>(data);
    // The widget is being finalized: its clock and signals are no concern of the link any more.
    if (self->running_)
        ++self->counters_.stops;
    self->running_ = false;
    self->detachClock();
    self->widget_ = nullptr;
}

} // namespace platform::gtk
