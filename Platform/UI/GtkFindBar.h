// The find bar on GTK: a rounded box of the theme's background holding a search entry, previous
// and next buttons, three check buttons and a close button, in that order, 6 points apart inside
// padding of 8 points left and right and 6 top and bottom.
//
// The bar fits the width it is given. When everything fits on one row with the entry's text at
// least `rowFieldWidth` wide (its icons beside it take more), it is one row; otherwise the entry
// takes the first row (beside the close button while its text keeps that width) and the other
// controls follow on as many rows under it as they need, so that a bar in a narrow pane stays
// inside it and its entry still shows a good part of the term.
//
// Every edit of the entry is reported at once (no search delay); Return reports find-next and
// Shift+Return find-previous, Escape reports close, whatever the entry's own bindings would do.
// Other presses that may be shortcuts go to `onShortcut` before the entry's bindings.
// Presses, releases and motion over the bar stay with the bar: the view under it never sees them.
#pragma once

#include "Platform/UI/FindBar.h"
#include "Platform/UI/GtkChildPlacement.h"
#include "Platform/UI/KeyboardTranslator.h"

#include <gtk/gtk.h>

namespace platform::gtk {

class GtkFindBar final : public GtkChildSubview<FindBar>
{
public:
    /// The narrowest the entry's text part is on a row with other controls, in points (about 15
    /// characters).
    static constexpr int rowFieldWidth = 120;

    /// A new bar, hidden; its widget is not yet in any parent.
    explicit GtkFindBar(const FindBarLabels& labels);
    ~GtkFindBar() override;
    GtkFindBar(const GtkFindBar&) = delete;
    GtkFindBar& operator=(const GtkFindBar&) = delete;

    void setSearchText(const std::string& text) override;
    std::string searchText() const override;
    FindBarOptions options() const override;
    void focusSearchField() override;
    void editSearchField(FindFieldEdit edit) override;
    Size sizeForWidth(double width) const override;

    GtkWidget* widget() const { return view_.widget(); }
    GtkWidget* entry() const { return entry_; }

private:
    static gboolean onKeyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                                 GdkModifierType state, gpointer self);
    static void onKeyReleased(GtkEventControllerKey* controller, guint keyval, guint keycode,
                              GdkModifierType state, gpointer self);
    static void onChanged(GtkWidget* entry, void* self);
    static void onToggled(GtkWidget* button, void* self);

    GtkWidget* entry_;
    GtkWidget* caseSensitive_;
    GtkWidget* regex_;
    GtkWidget* wholeWord_;
    /// The entry's key and focus controllers (the entry owns them).
    GtkEventController* keys_;
    GtkEventController* focus_;
    /// The keys held in the field, so that a press of a key already down is a repeat.
    KeyboardTranslator keyboard_;
    /// True while code sets the entry's text, which is not the user's change.
    bool settingText_ = false;
};

} // namespace platform::gtk
