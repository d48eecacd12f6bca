#include "Platform/UI/GtkScroller.h"

namespace platform::gtk {

GtkScroller::GtkScroller()
    : view_(gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr)),
      adjustment_(gtk_adjustment_new(0, 0, 1, 0, 0, 1))
{
    g_object_ref_sink(adjustment_);
    gtk_scrollbar_set_adjustment(GTK_SCROLLBAR(widget()), adjustment_);
    gtk_widget_set_visible(widget(), false);
    gtk_widget_set_sensitive(widget(), false);
    gtk_widget_set_focusable(widget(), false);
    g_signal_connect(adjustment_, "value-changed", G_CALLBACK(onValueChanged), this);

    // Presses are watched in the capture phase, before the scrollbar's own gestures claim them,
    // and never stopped there.
    presses_ = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(presses_, GTK_PHASE_CAPTURE);
    g_signal_connect(presses_, "event", G_CALLBACK(onEvent), this);
    gtk_widget_add_controller(widget(), presses_);
    setState(state_);
}

GtkScroller::~GtkScroller()
{
    g_signal_handlers_disconnect_by_data(adjustment_, this);
    // The widget and its controller may outlive this handle inside their parent; unhook both.
    g_signal_handlers_disconnect_by_data(presses_, this);
    g_object_unref(adjustment_);
}

void GtkScroller::setState(const ScrollerState& state)
{
    state_ = state;
    const ScrollerAdjustment values = adjustmentForScrollerState(state);
    settingState_ = true;
    gtk_adjustment_configure(adjustment_, values.value, values.lower, values.upper, values.stepIncrement,
                             values.pageIncrement, values.pageSize);
    settingState_ = false;
    lastValue_ = gtk_adjustment_get_value(adjustment_);
    gtk_widget_set_sensitive(widget(), state.isEnabled);
}

double GtkScroller::preferredWidth() const
{
    int minimum = 0;
    int natural = 0;
    gtk_widget_measure(widget(), GTK_ORIENTATION_HORIZONTAL, -1, &minimum, &natural, nullptr, nullptr);
    return natural;
}

void GtkScroller::onValueChanged(GtkAdjustment* adjustment, gpointer data)
{
    auto* self = static_cast<GtkScroller*>(data);
    if (self->settingState_)
        return;
    const double value = gtk_adjustment_get_value(adjustment);
    ScrollerAdjustment values;
    values.pageSize = gtk_adjustment_get_page_size(adjustment);
    values.pageIncrement = gtk_adjustment_get_page_increment(adjustment);
    values.stepIncrement = gtk_adjustment_get_step_increment(adjustment);
    const ScrollerPart part = scrollerPartOfChange(self->lastValue_, value, values);
    self->lastValue_ = value;
    self->state_.doubleValue = scrollerPositionOfAdjustment(value, values.pageSize);
    if (self->onAction)
        self->onAction(part, self->state_.doubleValue);
}

gboolean GtkScroller::onEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer data)
{
    auto* self = static_cast<GtkScroller*>(data);
    const GdkEventType type = gdk_event_get_event_type(event);
    const bool pressed = type == GDK_BUTTON_PRESS;
    if ((pressed || type == GDK_BUTTON_RELEASE) && pressed != self->tracking_) {
        self->tracking_ = pressed;
        if (self->onTrackingChanged)
            self->onTrackingChanged(pressed);
    }
    return false;
}

} // namespace platform::gtk
