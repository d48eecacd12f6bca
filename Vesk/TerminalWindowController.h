// One tab: its panes, the split tree that lays them out, the active pane, its titles, moving
// between tabs, closing with confirmation, and whether its panes may draw on the GPU.
//
// A controller's page sits in a terminal window's notebook (`TerminalWindow`); the notebook is the
// tab group, its page order the order of the tabs and its current page the selected tab. A tab can
// move to another window; the controller then follows its new window. The window's title and the
// tab's label and tool tip show the active pane's working directory, in the formats of
// `WorkingDirectory`, so a program can fake none of them.
//
// Alerts do not block. Each answer holds the controller and the pane weakly and checks again what
// it acts on: a pane closed meanwhile, or a tab already closed, is left alone. A window shows at
// most one close confirmation at a time; a second close request while one is open is dropped.
//
// The members live in one file per concern:
//   TerminalWindowController.cpp           panes, the active pane, titles, tabs, closing
//   TerminalWindowControllerSplits.cpp     splitting, removing panes, moving between them
//   TerminalWindowControllerGraphics.cpp   the rendering policy of the tab's panes
//   TerminalWindowControllerActions.cpp    shortcuts and menu actions
// Main thread only.
#pragma once

#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/UI/KeyEvent.h"
#include "Vesk/ShortcutTable.h"
#include "Vesk/TerminalPane.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace vesk {

class RenderingPreferences;
class TerminalWindow;

class TerminalWindowController final : public std::enable_shared_from_this<TerminalWindowController>
{
public:
    /// The confirmation texts.
    static constexpr const char* closePaneMessage = "Close this terminal pane?";
    static constexpr const char* closeSessionMessage = "Close this terminal session?";
    static constexpr const char* closeTabMessage = "Close this tab and all its panes?";
    static constexpr const char* closeInformativeText = "Commands running in the session may be interrupted.";

    /// A tab with one pane in the home folder. `startsSessions`: panes made by splitting start
    /// their shells. `configureTerminal` is given every terminal view of its panes.
    static std::shared_ptr<TerminalWindowController>
    create(bool startsSessions, RenderingPreferences& renderingPreferences,
           std::function<void(SafeTerminalView&)> configureTerminal = nullptr);
    TerminalWindowController(bool startsSessions, RenderingPreferences& renderingPreferences,
                             std::function<void(SafeTerminalView&)> configureTerminal);
    ~TerminalWindowController();

    /// Every pane of the tab, in pane order (the order Next Pane follows).
    const std::vector<std::shared_ptr<TerminalPane>>& panes() const { return panes_; }
    /// The pane that has (or last had) the keyboard focus.
    const std::shared_ptr<TerminalPane>& activePane() const { return activePane_; }
    /// The notebook page holding the split tree.
    GtkWidget* page() const { return page_; }
    /// The window the tab is in; null before it is added to one and after it closed.
    std::shared_ptr<TerminalWindow> window() const { return window_.lock(); }
    bool isClosed() const { return isClosed_; }
    bool startsSessions() const { return startsSessions_; }

    /// The window title, the tab label and the tab's tool tip, from the active pane's directory.
    const std::string& title() const { return title_; }
    const std::string& tabLabel() const { return tabLabel_; }
    const std::string& toolTip() const { return toolTip_; }

    /// Set by the application: called once the tab closed and its shells stopped.
    std::function<void()> onClose;
    /// Set by the application: opens a new tab in the given window.
    std::function<void(TerminalWindow&)> onNewTab;
    /// Called when the titles, the active pane or a shell's state changed (menus follow).
    std::function<void()> onStateChanged;

    // --- The window (TerminalWindow calls these) ---------------------------------------------------

    /// The tab entered `window` (or left every window, with null).
    void setWindow(const std::shared_ptr<TerminalWindow>& window);
    /// The keyboard focus moved to `widget` in the tab's window: the pane holding it is active.
    void focusMoved(GtkWidget* widget);
    void windowDidBecomeKey();
    void windowDidResignKey();

    // --- Panes -------------------------------------------------------------------------------------

    /// Makes `pane` active and gives it the keyboard focus.
    void activate(TerminalPane& pane);
    /// Splits the active pane side by side (`vertical`) or stacked; the new pane, or null when
    /// the pane is too small (which beeps).
    std::shared_ptr<TerminalPane> splitActivePane(bool vertical);
    /// Moves the focus `delta` panes on in pane order, wrapping.
    void cyclePane(int delta);
    /// Closes a pane, asking first while its shell runs; the only pane closes the tab.
    void closePane(TerminalPane& pane);

    // --- Tabs --------------------------------------------------------------------------------------

    /// Selects the tab `delta` tabs on in the window, wrapping.
    void cycleTab(int delta);
    /// Selects tab `number` (1 is the leftmost); nothing when the window has fewer tabs.
    void selectTab(int number);
    /// Closes the tab, asking first while any of its shells runs.
    void performClose();
    /// Closes the tab now: stops its shells and leaves its window.
    void closeNow();
    /// The first pane whose shell runs, in pane order; null when none runs.
    std::shared_ptr<TerminalPane> firstRunningPane() const;
    /// Stops every pane's shell.
    void stopShell();

    // --- Shortcuts and actions (TerminalWindowControllerActions.cpp) -------------------------------

    /// The window's shortcut table: true when the key was the window's (run unless a repeat).
    bool handleShortcut(const platform::KeyEvent& event);
    void run(const Shortcut& shortcut);
    /// New Session: a fresh shell in the active pane when its shell is not running.
    void restartSession();
    /// Whether New Session can act: the active pane has no shell running.
    bool canRestartSession() const;
    void changeFontSize(double delta);
    void resetFontSize();
    void clearScrollback();

    // --- Rendering (TerminalWindowControllerGraphics.cpp) ------------------------------------------

    /// True when the tab is in a window with two or more tabs and another one is selected.
    bool isHiddenTab() const;
    /// Whether the tab's panes must not draw on the GPU now.
    bool suspensionNow() const;
    /// Queues one update of the panes' suspension; any number of requests in one main-loop turn
    /// make one update.
    void scheduleGraphicsUpdate();
    /// How many updates ran, for the test state dump.
    uint64_t graphicsUpdates() const { return graphicsUpdates_; }

private:
    std::shared_ptr<TerminalPane> makePane(const std::string& directory, double fontSize);
    void markActive(TerminalPane& pane);
    void updateTabLabel();
    bool contains(const TerminalPane& pane) const;
    void removePane(TerminalPane& pane);
    void closePaneConfirmed(const std::shared_ptr<TerminalPane>& pane);
    /// Asks `message` with the buttons "Cancel" and `button`, unless the window already asks
    /// something; `confirmed` runs only for `button`, with the controller alive and not closed.
    void confirmClose(const std::string& message, const std::string& button, std::function<void()> confirmed);
    void updateGraphics();
    void notifyStateChanged();

    std::vector<std::shared_ptr<TerminalPane>> panes_;
    std::shared_ptr<TerminalPane> activePane_;
    bool startsSessions_;
    RenderingPreferences& renderingPreferences_;
    std::function<void(SafeTerminalView&)> configureTerminal_;
    GtkWidget* page_ = nullptr;
    std::weak_ptr<TerminalWindow> window_;
    bool isClosed_ = false;
    bool windowHasFocus_ = true;
    bool graphicsUpdateQueued_ = false;
    uint64_t graphicsUpdates_ = 0;
    std::string title_ = "Vesk";
    std::string tabLabel_;
    std::string toolTip_;
};

} // namespace vesk
