// The two-way split of a window's panes: a GtkPaned holding two panes or further splits, and the
// rules for when a pane may be split and how far its divider may move.
//
// The tree of splits lives in the widget hierarchy alone; the window controller keeps the flat
// list of panes beside it. A vertical split has a vertical divider (panes side by side), a
// horizontal one a horizontal divider (panes stacked). While the user drags a divider, each side
// keeps at least a third of the split, but never needs more than 160 points of width or 120
// points of height; the clamp is applied whenever the position changes.
#pragma once

#include <gtk/gtk.h>

namespace vesk {

struct TerminalSplitView
{
    /// The least width a pane needs to be split side by side, and height to be split stacked.
    static constexpr double minimumVerticalSplitWidth = 321;
    static constexpr double minimumHorizontalSplitHeight = 241;
    /// The most a divider margin needs along each orientation.
    static constexpr double largestVerticalMargin = 160;
    static constexpr double largestHorizontalMargin = 120;

    /// True when a pane `extent` points wide (vertical) or high (horizontal) may be split.
    static bool canSplit(double extent, bool vertical);
    /// How far a divider stays from each end of a split `extent` points along it.
    static double dividerMargin(double extent, bool vertical);
    /// `position` moved into [`minimum` + margin, `maximum` - margin]; when the two meet, their
    /// middle.
    static int clampedPosition(int position, int minimum, int maximum, double extent, bool vertical);

    /// A new split (a floating widget, as GTK widgets start) of `start` and `end`, which it
    /// takes, with the divider in the middle of `extent` points.
    static GtkWidget* create(bool vertical, GtkWidget* start, GtkWidget* end, double extent);
    /// True for a widget made by `create`.
    static bool isSplit(GtkWidget* widget);
    /// True for a split whose divider is vertical (panes side by side).
    static bool isVertical(GtkWidget* split);
};

} // namespace vesk
