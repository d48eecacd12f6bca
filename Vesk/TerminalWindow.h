// A top-level window of the application: the menu bar and a notebook whose pages are tabs, each
// a window controller (`TerminalWindowController`).
//
// The notebook is the tab group: its page order is the order of the tabs, its current page the
// selected tab. The tab bar shows from two tabs on, with "+" at its end; its labels shrink down to
// a few characters of their titles, and when the tabs no longer fit then it scrolls. Screen readers
// meet each tab by its title and the bar's buttons as "Close tab" and "New tab". The window
// shows the selected tab's title. Keys pass a capture-phase controller first, which hands each
// press to the selected tab's shortcut table, unless an alert of this window is open; the menus' actions
// ("win.…") act on the selected tab. The menu bar opens by mouse only (F10 is the program's), and
// a menu that closes gives the keyboard back to the active pane. The window tells its tabs when it gains or
// loses the focus, when the selected page changes, when pages come and go and when it is minimised, so that
// each tab decides whether its panes may draw on the GPU.
//
// Closing the window closes all its tabs: a single tab asks as a tab does; several ask once,
// "Close this window and all its tabs?", while any of their shells runs. Main thread only.
#pragma once

#include "Platform/UI/KeyboardTranslator.h"

#include <functional>
#include <gtk/gtk.h>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

class TerminalWindowController;

class TerminalWindow final : public std::enable_shared_from_this<TerminalWindow>
{
public:
    /// The size a new window opens at, and the least it can be made.
    static constexpr int defaultWidth = 960;
    static constexpr int defaultHeight = 620;
    static constexpr int minimumWidth = 560;
    static constexpr int minimumHeight = 320;
    /// The width, in characters, a tab's label keeps at least (a shorter title needs only its
    /// own): when the bar has no room for that, it scrolls instead of cutting the labels shorter.
    static constexpr int tabLabelMinimumCharacters = 6;
    /// The confirmation of closing a window of several tabs.
    static constexpr const char* closeWindowMessage = "Close this window and all its tabs?";
    static constexpr const char* closeWindowInformativeText =
        "Commands running in these sessions may be interrupted.";

    /// A new window of `application`, not shown yet.
    static std::shared_ptr<TerminalWindow> create(GtkApplication* application);
    explicit TerminalWindow(GtkApplication* application);
    ~TerminalWindow();

    GtkWindow* gtkWindow() const { return window_; }

    /// Set by the application: "+" was pressed, or a tab asked for a new tab in this window.
    std::function<void(TerminalWindow&)> onNewTab;
    /// Set by the application: Move Tab to New Window.
    std::function<void(TerminalWindowController&)> onMoveTabToNewWindow;

    /// The tabs in page order.
    std::vector<std::shared_ptr<TerminalWindowController>> tabs() const;
    /// The selected tab; null for a window without tabs.
    std::shared_ptr<TerminalWindowController> selectedTab() const;
    /// Adds `tab` after the selected tab (or at the end) and selects it when asked.
    void addTab(const std::shared_ptr<TerminalWindowController>& tab, bool select);
    /// Takes `tab` out of the window, keeping it alive; a window left without tabs closes.
    void removeTab(TerminalWindowController& tab);
    void selectTab(const TerminalWindowController& tab);
    /// Shows the window and gives it the focus.
    void present();
    /// The tab's label, tool tip and (when it is selected) the window's title changed.
    void tabTitlesChanged(const TerminalWindowController& tab);
    /// The label that shows `tab`'s title in the tab bar; null for a tab of another window.
    GtkLabel* tabLabelOf(const TerminalWindowController& tab) const;
    /// The menus' enabled states follow the selected tab (a shell ended, a pane was activated).
    void updateActionStates();

    bool isActive() const;
    bool isMinimized() const;
    /// True while a close confirmation of this window (a pane's, a tab's or its own) is open.
    bool closeConfirmationOpen = false;

    /// Closes the window as its close button does: every tab, after one confirmation.
    void performClose();
    /// Minimises the window; maximises it or gives it back its size (Zoom).
    void minimize();
    void toggleMaximized();

private:
    void installActions();
    void forgetSurface();
    void installKeyController();
    void connectSignals();
    void tabsChanged();
    /// Gives the keyboard back to the active pane once no menu is open, if it is left on the bar.
    void returnKeyboardFromMenuBar();
    GtkWidget* tabLabelFor(const std::shared_ptr<TerminalWindowController>& tab);
    std::shared_ptr<TerminalWindowController> tabOfPage(GtkWidget* page) const;

    GtkWindow* window_ = nullptr;
    GtkNotebook* notebook_ = nullptr;
    GtkWidget* newTabButton_ = nullptr;
    GdkSurface* surface_ = nullptr;
    gulong surfaceStateHandler_ = 0;
    /// The keys held down, as the shortcut controller saw them.
    platform::KeyboardTranslator shortcutKeys_;

    friend struct TerminalWindowSignals;
};

} // namespace vesk
