// The view's scroller on GTK: a vertical GtkScrollbar over an adjustment that shows the
// scroller's values, reporting what the user does with it.
//
// The adjustment's translation and the reading of a change as a track click or a knob move are
// `ScrollerModel`'s; this class only connects them to the widget. Setting a state never reports an
// action; a press on the scrollbar reports tracking on until the button is released. A click in the
// track pages towards it; the knob is dragged.
#pragma once

#include "Platform/UI/GtkChildPlacement.h"
#include "Platform/UI/View.h"

#include <gtk/gtk.h>

namespace platform::gtk {

class GtkScroller final : public GtkChildSubview<Scroller>
{
public:
    /// A new scroller, hidden; its widget is not yet in any parent.
    GtkScroller();
    ~GtkScroller() override;
    GtkScroller(const GtkScroller&) = delete;
    GtkScroller& operator=(const GtkScroller&) = delete;

    void setState(const ScrollerState& state) override;
    ScrollerState state() const override { return state_; }
    double preferredWidth() const override;

    GtkWidget* widget() const { return view_.widget(); }

private:
    static void onValueChanged(GtkAdjustment* adjustment, gpointer self);
    static gboolean onEvent(GtkEventControllerLegacy* controller, GdkEvent* event, gpointer self);
    /// Moves a page towards a press in the track outside the knob; true when it did.
    bool pageTowards(GdkEvent* event);

    GtkAdjustment* adjustment_;
    GtkEventController* presses_ = nullptr;
    ScrollerState state_;
    /// The adjustment's value as last shown or reported, to read the next change against.
    double lastValue_ = 0;
    bool settingState_ = false;
    bool tracking_ = false;
};

} // namespace platform::gtk
