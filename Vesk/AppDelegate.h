// The application: a GtkApplication with its menus and actions, the list of open tabs
// ("sessions", one window controller each) and the windows they sit in, new windows and tabs, and
// one question before quitting while shells run.
//
// The application is unique through D-Bus when the desktop session has a bus: starting it again
// opens a new window in the running instance. It quits with its last window (it has no Dock to
// stay in). Quitting asks once, counting the running panes of every window, and at most one such
// question is open at a time; its answer looks at the sessions as they are when it comes.
//
// The rendering preference is the application's: its menu item shows its state, and a change
// reaches every pane of every window in one pass on the main queue, however many changes come in
// one turn. Main thread only.
#pragma once

#include "Platform/UI/KeyEvent.h"

#include <cstdint>
#include <functional>
#include <gtk/gtk.h>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

class RenderingPreferences;
class SafeTerminalView;
class TerminalWindow;
class TerminalWindowController;

class AppDelegate final : public std::enable_shared_from_this<AppDelegate>
{
public:
    /// The application's id on the session bus.
    static constexpr const char* applicationId = "org.morvane.Vesk";
    /// The quit confirmation's texts.
    static constexpr const char* quitOneMessage = "Quit Vesk and close this session?";
    static constexpr const char* quitAllMessage = "Quit Vesk and close all sessions?";
    static constexpr const char* quitInformativeText =
        "Commands running in these sessions may be interrupted.";

    /// A delegate for `application`, following `renderingPreferences` (which must outlive it).
    static std::shared_ptr<AppDelegate> create(GtkApplication* application,
                                               RenderingPreferences& renderingPreferences);
    AppDelegate(GtkApplication* application, RenderingPreferences& renderingPreferences);
    ~AppDelegate();

    GtkApplication* application() const { return application_; }
    /// Every open tab, in the order they were opened.
    const std::vector<std::shared_ptr<TerminalWindowController>>& sessions() const { return sessions_; }
    /// Every open window, in the order they were opened.
    const std::vector<std::shared_ptr<TerminalWindow>>& windows() const { return windows_; }
    /// The window with the focus, else the most recently opened one; null without windows.
    std::shared_ptr<TerminalWindow> keyWindow() const;
    /// How many passes applied the rendering preference to the panes.
    uint64_t renderingPasses() const { return renderingPasses_; }
    RenderingPreferences& renderingPreferences() const { return renderingPreferences_; }

    /// Opens confirmed links; by default the desktop's default application opens them.
    std::function<void(const std::string& url)> openLink;

    /// The application started: menus, actions, the menus' shortcuts.
    void applicationDidFinishLaunching();
    /// A new tab: in `tabbedWith` (selected there) or in a new window; its shell started when
    /// `startShell` is set.
    std::shared_ptr<TerminalWindowController> createSession(TerminalWindow* tabbedWith, bool startShell);
    void newWindow();
    /// A new tab in the window with the focus, or a new window when there is none.
    void newTab();
    /// Quit Vesk: asks once while shells run, then stops every shell and quits.
    void applicationShouldTerminate();
    /// Moves `tab` into a window of its own.
    void moveTabToNewWindow(TerminalWindowController& tab);
    /// Offers a key press in its menu form to the menus' shortcuts; true when an item took it.
    bool performMenuKeyEquivalent(const platform::KeyEvent& menuForm);

private:
    std::shared_ptr<TerminalWindow> makeWindow();
    /// `window` left the application: it was destroyed.
    void windowClosed(GtkWindow* window);
    void installActions();
    void terminateNow();
    void renderingPreferenceChanged();
    void configureTerminal(SafeTerminalView& terminal);

    GtkApplication* application_;
    RenderingPreferences& renderingPreferences_;
    std::vector<std::shared_ptr<TerminalWindowController>> sessions_;
    std::vector<std::shared_ptr<TerminalWindow>> windows_;
    std::vector<std::weak_ptr<TerminalWindow>> focusOrder_;
    bool quitConfirmationOpen_ = false;
    bool renderingPassQueued_ = false;
    uint64_t renderingPasses_ = 0;
    struct Subscription;
    std::unique_ptr<Subscription> preferenceSubscription_;
};

} // namespace vesk
