// Children of the layer's widgets placed at y-up frames, and the `View` handle of such a child.
//
// Each child keeps its frame (in its parent's y-up frame) on the child widget itself; the parent's
// size_allocate calls `allocateChildren`, which turns every frame into a y-down allocation for
// the parent's current height. Fractional origins are kept through a translation; sizes are
// rounded to whole points, as GTK allocates. Stacking follows the children's order: later
// children are drawn above earlier ones and are hit first.
#pragma once

#include "Platform/UI/View.h"

typedef struct _GtkWidget GtkWidget;

namespace platform::gtk {

/// Sets the frame of `child` and moves it there: at once in a parent already laid out, else with
/// the parent's next layout.
void setChildFrame(GtkWidget* child, const Rect& frame);
/// The frame of `child`; an empty rectangle when none was set.
Rect childFrame(GtkWidget* child);
/// Allocates `child` at its frame, for a parent `height` points high.
void allocateChild(GtkWidget* child, int height);
/// Allocates every visible child of `parent` at its frame, for a parent `height` points high.
void allocateChildren(GtkWidget* parent, int height);
/// Moves `child` just above (or below) `sibling` among its parent's children; to the top (or the
/// bottom) when `sibling` is null or has another parent.
void orderChild(GtkWidget* child, GtkWidget* sibling, bool above);

/// Anything of this layer whose view is one child widget (for ordering siblings).
class GtkChildHolder
{
public:
    virtual ~GtkChildHolder() = default;
    virtual GtkWidget* childWidget() const = 0;
};

/// A `View` handle of a child widget; holds a reference to the widget.
class GtkChildView : public View, public GtkChildHolder
{
public:
    explicit GtkChildView(GtkWidget* widget);
    ~GtkChildView() override;
    GtkChildView(const GtkChildView&) = delete;
    GtkChildView& operator=(const GtkChildView&) = delete;

    void setFrame(const Rect& frame) override;
    Rect frame() const override;
    void setHidden(bool hidden) override;
    bool isHidden() const override;
    void setOpacity(double opacity) override;
    double opacity() const override;
    void setNeedsDisplay() override;
    void orderAbove(const View* sibling) override;
    void orderBelow(const View* sibling) override;
    void removeFromSuperview() override;

    GtkWidget* widget() const { return widget_; }
    GtkWidget* childWidget() const override { return widget_; }
    /// The widget behind a handle made by the layer, or null.
    static GtkWidget* widgetOf(const View* view);

private:
    GtkWidget* widget_;
};

/// A child of another kind of view (a label, a find bar) on a `GtkChildView`.
template <typename Base> class GtkChildSubview : public Base, public GtkChildHolder
{
public:
    explicit GtkChildSubview(GtkWidget* widget) : view_(widget) {}

    void setFrame(const Rect& frame) override { view_.setFrame(frame); }
    Rect frame() const override { return view_.frame(); }
    void setHidden(bool hidden) override { view_.setHidden(hidden); }
    bool isHidden() const override { return view_.isHidden(); }
    void setOpacity(double opacity) override { view_.setOpacity(opacity); }
    double opacity() const override { return view_.opacity(); }
    void setNeedsDisplay() override { view_.setNeedsDisplay(); }
    void orderAbove(const View* sibling) override { view_.orderAbove(sibling); }
    void orderBelow(const View* sibling) override { view_.orderBelow(sibling); }
    void removeFromSuperview() override { view_.removeFromSuperview(); }
    GtkWidget* childWidget() const override { return view_.widget(); }

protected:
    GtkChildView view_;
};

} // namespace platform::gtk
