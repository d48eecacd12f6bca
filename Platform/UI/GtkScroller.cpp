#include "Platform/UI/GtkScroller.h"

#include <cstring>

namespace platform::gtk {

namespace {

/// The first widget named `cssName` inside `widget`, depth first; null when there is none.
GtkWidget* findByCssName(GtkWidget* widget, const char* cssName)
{
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child)) {
        if (std::strcmp(gtk_widget_get_css_name(child), cssName) == 0)
            return child;
        if (GtkWidget* found = findByCssName(child, cssName))
            return found;
    }
    return nullptr;
}

/// Where a pointer event lies in `widget`'s coordinates (y down).
bool eventPoint(GtkWidget* widget, GdkEvent* event, graphene_point_t* point)
{
    double surfaceX = 0;
    double surfaceY = 0;
    GtkNative* native = gtk_widget_get_native(widget);
    if (!native || !gdk_event_get_position(event, &surfaceX, &surfaceY))
        return false;
    double offsetX = 0;
    double offsetY = 0;
    gtk_native_get_surface_transform(native, &offsetX, &offsetY);
    const graphene_point_t inNative =
        GRAPHENE_POINT_INIT(float(surfaceX - offsetX), float(surfaceY - offsetY));
    return gtk_widget_compute_point(GTK_WIDGET(native), widget, &inNative, point);
}

} // namespace

GtkScroller::GtkScroller()
    : GtkChildSubview<Scroller>(gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr)),
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
    // GTK measures a hidden widget as empty; the width asked for is the one it has when shown.
    const bool hidden = !gtk_widget_get_visible(widget());
    if (hidden)
        gtk_widget_set_visible(widget(), true);
    int minimum = 0;
    int natural = 0;
    gtk_widget_measure(widget(), GTK_ORIENTATION_HORIZONTAL, -1, &minimum, &natural, nullptr, nullptr);
    if (hidden)
        gtk_widget_set_visible(widget(), false);
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
    // A primary click in the track before or after the knob moves one page, whatever the
    // desktop's setting for moving the knob to the click; the knob itself is GTK's to drag.
    if (pressed && gdk_button_event_get_button(event) == GDK_BUTTON_PRIMARY)
        return self->pageTowards(event);
    return false;
}

bool GtkScroller::pageTowards(GdkEvent* event)
{
    graphene_point_t point;
    if (!eventPoint(widget(), event, &point))
        return false;
    GtkWidget* slider = findByCssName(widget(), "slider");
    graphene_rect_t knob;
    if (!slider || !gtk_widget_compute_bounds(slider, widget(), &knob))
        return false;
    double direction = 0;
    if (point.y < knob.origin.y)
        direction = -1;
    else if (point.y >= knob.origin.y + knob.size.height)
        direction = 1;
    if (direction == 0)
        return false;
    // The adjustment clamps the step at either end; the change is read as a page (or, clamped,
    // as a knob move to the end) and reported like any other.
    gtk_adjustment_set_value(adjustment_, gtk_adjustment_get_value(adjustment_) +
                                              direction * gtk_adjustment_get_page_increment(adjustment_));
    return true;
}

} // namespace platform::gtk
