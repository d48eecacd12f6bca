#include "Platform/UI/GtkChildPlacement.h"

#include "Platform/UI/CoreViewWidget.h"

#include <algorithm>
#include <cmath>
#include <gtk/gtk.h>

namespace platform::gtk {

namespace {

constexpr const char* frameKey = "vesk-child-frame";

int wholePoints(double value)
{
    if (!std::isfinite(value) || value <= 0)
        return 0;
    return value >= 1e6 ? 1000000 : int(std::lround(value));
}

} // namespace

void setChildFrame(GtkWidget* child, const Rect& frame)
{
    g_object_set_data_full(G_OBJECT(child), frameKey, new Rect(frame),
                           [](gpointer data) { delete static_cast<Rect*>(data); });
    // A frame set while the parent lays out its children (its core moving subviews in answer to
    // a size change) is taken up by that same layout.
    GtkWidget* parent = gtk_widget_get_parent(child);
    CoreViewWidget* view = CoreViewWidget::from(parent);
    if (!parent || (view && view->isAllocating()))
        return;
    // A hidden child needs no place until it is shown, and showing it lays the parent out anew,
    // which takes up the frame kept here. Laying the parent out now would only keep the window's
    // frame clock running for one more frame (the caret of a program that hid the cursor moves
    // with every echo).
    if (!gtk_widget_get_visible(child))
        return;
    // In a parent already laid out the child moves at once. A new layout of the parent would do
    // the same, but it keeps the window's frame clock running for one more frame, and content
    // arriving during that frame waits a whole refresh longer to be shown.
    if (gtk_widget_get_mapped(parent) && gtk_widget_get_width(parent) > 0 &&
        gtk_widget_get_height(parent) > 0) {
        allocateChild(child, gtk_widget_get_height(parent));
        gtk_widget_queue_draw(parent);
        return;
    }
    gtk_widget_queue_allocate(parent);
}

Rect childFrame(GtkWidget* child)
{
    const auto* frame = static_cast<const Rect*>(g_object_get_data(G_OBJECT(child), frameKey));
    return frame ? *frame : Rect{};
}

void allocateChild(GtkWidget* child, int height)
{
    const Rect frame = flippedRect(childFrame(child), height);
    // GTK wants every allocated widget measured first.
    int minimum = 0;
    int natural = 0;
    gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &minimum, &natural, nullptr, nullptr);
    gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, -1, &minimum, &natural, nullptr, nullptr);
    graphene_point_t origin = GRAPHENE_POINT_INIT(float(std::isfinite(frame.x) ? frame.x : 0),
                                                  float(std::isfinite(frame.y) ? frame.y : 0));
    GskTransform* transform = gsk_transform_translate(nullptr, &origin);
    gtk_widget_allocate(child, wholePoints(frame.width), wholePoints(frame.height), -1, transform);
}

void allocateChildren(GtkWidget* parent, int height)
{
    for (GtkWidget* child = gtk_widget_get_first_child(parent); child;
         child = gtk_widget_get_next_sibling(child))
        if (gtk_widget_get_visible(child))
            allocateChild(child, height);
}

void orderChild(GtkWidget* child, GtkWidget* sibling, bool above)
{
    GtkWidget* parent = gtk_widget_get_parent(child);
    if (!parent || sibling == child)
        return;
    if (!sibling || gtk_widget_get_parent(sibling) != parent)
        sibling = nullptr;
    // insert_after with no sibling puts the child first (bottom); insert_before with none puts it
    // last (top).
    if (above)
        sibling ? gtk_widget_insert_after(child, parent, sibling)
                : gtk_widget_insert_before(child, parent, nullptr);
    else
        sibling ? gtk_widget_insert_before(child, parent, sibling)
                : gtk_widget_insert_after(child, parent, nullptr);
    gtk_widget_queue_draw(parent);
}

GtkChildView::GtkChildView(GtkWidget* widget) : widget_(GTK_WIDGET(g_object_ref(widget))) {}

GtkChildView::~GtkChildView()
{
    g_object_unref(widget_);
}

void GtkChildView::setFrame(const Rect& frame)
{
    setChildFrame(widget_, frame);
}

Rect GtkChildView::frame() const
{
    return childFrame(widget_);
}

void GtkChildView::setHidden(bool hidden)
{
    gtk_widget_set_visible(widget_, !hidden);
}

bool GtkChildView::isHidden() const
{
    return !gtk_widget_get_visible(widget_);
}

void GtkChildView::setOpacity(double opacity)
{
    gtk_widget_set_opacity(widget_, std::isnan(opacity) ? 1.0 : std::clamp(opacity, 0.0, 1.0));
}

double GtkChildView::opacity() const
{
    return gtk_widget_get_opacity(widget_);
}

void GtkChildView::setNeedsDisplay()
{
    if (CoreViewWidget* view = CoreViewWidget::from(widget_))
        view->setNeedsDisplay();
    else
        gtk_widget_queue_draw(widget_);
}

void GtkChildView::orderAbove(const View* sibling)
{
    orderChild(widget_, widgetOf(sibling), true);
}

void GtkChildView::orderBelow(const View* sibling)
{
    orderChild(widget_, widgetOf(sibling), false);
}

void GtkChildView::removeFromSuperview()
{
    if (gtk_widget_get_parent(widget_))
        gtk_widget_unparent(widget_);
}

GtkWidget* GtkChildView::widgetOf(const View* view)
{
    if (const auto* child = dynamic_cast<const GtkChildHolder*>(view))
        return child->childWidget();
    return nullptr;
}

} // namespace platform::gtk
