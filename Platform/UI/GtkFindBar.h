// The find bar on GTK: a rounded box of the theme's background holding a search entry, previous
// and next buttons, three check buttons and a close button, in that order, 6 points apart inside
// margins of 8 points left and right and 6 top and bottom. The entry is at least 200 points wide.
//
// Every edit of the entry is reported at once (no search delay); Return reports find-next and
// Shift+Return find-previous, Escape reports close, whatever the entry's own bindings would do.
// Presses, releases and motion over the bar stay with the bar: the view under it never sees them.
#pragma once

#include "Platform/UI/FindBar.h"
#include "Platform/UI/GtkChildPlacement.h"

typedef struct _GtkWidget GtkWidget;

namespace platform::gtk {

class GtkFindBar final : public GtkChildSubview<FindBar>
{
public:
    /// The entry's narrowest width, in points.
    static constexpr int minimumFieldWidth = 200;

    /// A new bar, hidden; its widget is not yet in any parent.
    explicit GtkFindBar(const FindBarLabels& labels);
    ~GtkFindBar() override;
    GtkFindBar(const GtkFindBar&) = delete;
    GtkFindBar& operator=(const GtkFindBar&) = delete;

    void setSearchText(const std::string& text) override;
    std::string searchText() const override;
    FindBarOptions options() const override;
    void focusSearchField() override;
    Size minimumSize() const override;

    GtkWidget* widget() const { return view_.widget(); }
    GtkWidget* entry() const { return entry_; }

private:
    static void onChanged(GtkWidget* entry, void* self);
    static void onToggled(GtkWidget* button, void* self);

    GtkWidget* entry_;
    GtkWidget* caseSensitive_;
    GtkWidget* regex_;
    GtkWidget* wholeWord_;
    /// True while code sets the entry's text, which is not the user's change.
    bool settingText_ = false;
};

} // namespace platform::gtk
