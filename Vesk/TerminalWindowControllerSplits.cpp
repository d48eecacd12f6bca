// Splitting a tab's active pane, removing a pane, and moving between panes in pane order.

#include "Vesk/ErrorBell.h"
#include "Vesk/TerminalSplitView.h"
#include "Vesk/TerminalWindowController.h"

#include <algorithm>
#include <gtk/gtk.h>

namespace vesk {

namespace {

/// Puts `replacement` where `old` is in the tree (a split's side, or the page), taking `old` out.
void replaceInTree(GtkWidget* old, GtkWidget* replacement)
{
    GtkWidget* parent = gtk_widget_get_parent(old);
    if (GTK_IS_PANED(parent)) {
        GtkPaned* paned = GTK_PANED(parent);
        if (gtk_paned_get_start_child(paned) == old)
            gtk_paned_set_start_child(paned, replacement);
        else
            gtk_paned_set_end_child(paned, replacement);
        return;
    }
    gtk_box_insert_child_after(GTK_BOX(parent), replacement, old);
    gtk_box_remove(GTK_BOX(parent), old);
}

} // namespace

std::shared_ptr<TerminalPane> TerminalWindowController::splitActivePane(bool vertical)
{
    if (!activePane_ || !gtk_widget_get_parent(activePane_->view()))
        return nullptr;
    const auto found = std::find(panes_.begin(), panes_.end(), activePane_);
    if (found == panes_.end())
        return nullptr;
    GtkWidget* old = activePane_->view();
    const double extent = vertical ? gtk_widget_get_width(old) : gtk_widget_get_height(old);
    if (!TerminalSplitView::canSplit(extent, vertical)) {
        ErrorBell::ring(old);
        return nullptr;
    }
    // The new pane starts where the shell is now, at the same size.
    activePane_->refreshDirectoryLabel();
    std::shared_ptr<TerminalPane> pane = makePane(activePane_->currentDirectory(), activePane_->fontSize());
    const size_t index = static_cast<size_t>(found - panes_.begin());

    // The old pane's widget is held while it moves into the split.
    g_object_ref(old);
    GtkWidget* placeholder = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    replaceInTree(old, placeholder);
    GtkWidget* split = TerminalSplitView::create(vertical, old, pane->view(), extent);
    replaceInTree(placeholder, split);
    g_object_unref(old);

    panes_.insert(panes_.begin() + static_cast<std::ptrdiff_t>(index) + 1, pane);
    if (startsSessions_)
        pane->startShell();
    activate(*pane);
    scheduleGraphicsUpdate();
    return pane;
}

void TerminalWindowController::removePane(TerminalPane& pane)
{
    if (panes_.size() < 2)
        return;
    const auto found = std::find_if(panes_.begin(), panes_.end(),
                                    [&pane](const auto& entry) { return entry.get() == &pane; });
    if (found == panes_.end())
        return;
    GtkWidget* view = pane.view();
    GtkWidget* split = gtk_widget_get_parent(view);
    if (!TerminalSplitView::isSplit(split) || !gtk_widget_get_parent(split))
        return;
    GtkPaned* paned = GTK_PANED(split);
    GtkWidget* sibling = gtk_paned_get_start_child(paned) == view ? gtk_paned_get_end_child(paned)
                                                                  : gtk_paned_get_start_child(paned);
    const size_t index = static_cast<size_t>(found - panes_.begin());
    const std::shared_ptr<TerminalPane> removed = *found;

    removed->stopShell();
    // The sibling (a pane or a split of its own) takes the split's place and its room.
    g_object_ref(sibling);
    gtk_paned_set_start_child(paned, nullptr);
    gtk_paned_set_end_child(paned, nullptr);
    replaceInTree(split, sibling);
    g_object_unref(sibling);

    panes_.erase(panes_.begin() + static_cast<std::ptrdiff_t>(index));
    // The pane that followed the removed one, or the new last one.
    activate(*panes_[std::min(index, panes_.size() - 1)]);
    scheduleGraphicsUpdate();
}

void TerminalWindowController::cyclePane(int delta)
{
    if (!activePane_ || panes_.empty())
        return;
    const auto found = std::find(panes_.begin(), panes_.end(), activePane_);
    if (found == panes_.end())
        return;
    const int count = static_cast<int>(panes_.size());
    const int index = static_cast<int>(found - panes_.begin());
    activate(*panes_[static_cast<size_t>(((index + delta) % count + count) % count)]);
}

} // namespace vesk
