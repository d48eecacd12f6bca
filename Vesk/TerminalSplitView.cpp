#include "Vesk/TerminalSplitView.h"

#include <algorithm>
#include <cmath>

namespace vesk {

namespace {

constexpr const char* splitMarker = "vesk-terminal-split";

double extentOf(GtkWidget* split)
{
    return TerminalSplitView::isVertical(split) ? gtk_widget_get_width(split) : gtk_widget_get_height(split);
}

void clampDivider(GtkPaned* paned, GParamSpec*, gpointer)
{
    GtkWidget* split = GTK_WIDGET(paned);
    int minimum = 0;
    int maximum = 0;
    g_object_get(paned, "min-position", &minimum, "max-position", &maximum, nullptr);
    const int position = gtk_paned_get_position(paned);
    const int clamped = TerminalSplitView::clampedPosition(position, minimum, maximum, extentOf(split),
                                                           TerminalSplitView::isVertical(split));
    // Setting the position notifies again, with a value that is already in range.
    if (clamped != position)
        gtk_paned_set_position(paned, clamped);
}

} // namespace

bool TerminalSplitView::canSplit(double extent, bool vertical)
{
    return extent >= (vertical ? minimumVerticalSplitWidth : minimumHorizontalSplitHeight);
}

double TerminalSplitView::dividerMargin(double extent, bool vertical)
{
    if (!(extent > 0))
        return 0;
    return std::min(extent / 3, vertical ? largestVerticalMargin : largestHorizontalMargin);
}

int TerminalSplitView::clampedPosition(int position, int minimum, int maximum, double extent, bool vertical)
{
    const double margin = dividerMargin(extent, vertical);
    const int low = static_cast<int>(std::ceil(minimum + margin));
    const int high = static_cast<int>(std::floor(maximum - margin));
    if (low > high)
        return (minimum + maximum) / 2;
    return std::clamp(position, low, high);
}

GtkWidget* TerminalSplitView::create(bool vertical, GtkWidget* start, GtkWidget* end, double extent)
{
    // A vertical divider lays the panes out along the horizontal axis.
    GtkWidget* split = gtk_paned_new(vertical ? GTK_ORIENTATION_HORIZONTAL : GTK_ORIENTATION_VERTICAL);
    GtkPaned* paned = GTK_PANED(split);
    g_object_set_data(G_OBJECT(split), splitMarker, GINT_TO_POINTER(1));
    gtk_paned_set_wide_handle(paned, false);
    gtk_paned_set_resize_start_child(paned, true);
    gtk_paned_set_resize_end_child(paned, true);
    gtk_paned_set_shrink_start_child(paned, false);
    gtk_paned_set_shrink_end_child(paned, false);
    gtk_widget_set_hexpand(split, true);
    gtk_widget_set_vexpand(split, true);
    gtk_paned_set_start_child(paned, start);
    gtk_paned_set_end_child(paned, end);
    // The divider starts in the middle; the thin handle takes one point.
    gtk_paned_set_position(paned, std::max(0, static_cast<int>((extent - 1) * 0.5)));
    g_signal_connect(split, "notify::position", G_CALLBACK(clampDivider), nullptr);
    return split;
}

bool TerminalSplitView::isSplit(GtkWidget* widget)
{
    return widget && GTK_IS_PANED(widget) && g_object_get_data(G_OBJECT(widget), splitMarker);
}

bool TerminalSplitView::isVertical(GtkWidget* split)
{
    return gtk_orientable_get_orientation(GTK_ORIENTABLE(split)) == GTK_ORIENTATION_HORIZONTAL;
}

} // namespace vesk
