// One pane of a window: a container holding one safe terminal view and, in a column beside it as
// narrow as the button, a small close button that shows while the pointer is over the pane. The
// container is painted in the terminal's background, so the column reads as part of the terminal.
//
// The pane runs the user's login shell in its view with the fixed shell environment, started once
// its window has laid the view out so that the shell's pseudo-terminal has the view's grid from
// the first moment (a view never laid out starts its shell after a while all the same), follows the
// shell's working directory twice a second (read from the kernel, through a handle on the shell's
// /proc directory opened when it started), writes a notice into the terminal when the shell ends
// or cannot start, applies the rendering choice to its view, and can stop, restart and re-font
// its session. The shell is signalled through its pidfd, never by its process id, which another
// process may hold once the shell has been reaped.
//
// Panes are made, owned, laid out and closed by their window controller; a pane reports back only
// through its callbacks, which the controller sets holding itself weakly. Main thread only.
#pragma once

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/Dispatch/MainThreadTimers.h"
#include "Vesk/SafeTerminalView.h"
#include "Vesk/ShellProcessHandle.h"
#include "VeskCore/ProcessDirectory.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;

namespace vesk {

class RenderingPreferences;

class TerminalPane final : public kestrovan::LocalProcessTerminalViewDelegate,
                           public std::enable_shared_from_this<TerminalPane>
{
public:
    /// The font size a window starts with and Reset Text Size returns to, and its limits.
    static constexpr double defaultFontSize = 16;
    static constexpr double minimumFontSize = 10;
    static constexpr double maximumFontSize = 30;
    /// The size a pane starts at, before its window lays it out.
    static constexpr int initialWidth = 960;
    static constexpr int initialHeight = 620;
    /// How often the shell's directory is read.
    static constexpr auto directoryPollInterval = std::chrono::milliseconds(500);
    /// How long a shell waits for its view's first layout before it starts at the grid the view
    /// has: a view whose window is never shown still gets its shell.
    static constexpr auto layoutWaitLimit = std::chrono::seconds(3);
    /// The close button's tool tip.
    static constexpr const char* closeButtonToolTip = "Close pane (Ctrl+Shift+W)";

    /// A pane whose shell will start in `directory` (bytes, as the kernel gives them), at
    /// `fontSize` points, following `renderingPreferences`. Its shell is not started yet.
    /// `configureTerminal` is given every terminal view the pane makes.
    static std::shared_ptr<TerminalPane>
    create(std::string directory, double fontSize, RenderingPreferences& renderingPreferences,
           std::function<void(SafeTerminalView&)> configureTerminal = nullptr);
    TerminalPane(std::string directory, double fontSize, RenderingPreferences& renderingPreferences);
    ~TerminalPane() override;

    /// The pane's container, which the window controller places in its split tree.
    GtkWidget* view() const { return view_; }
    /// The terminal view; absent after `stopShell`.
    const std::shared_ptr<SafeTerminalView>& terminal() const { return terminal_; }
    /// The terminal view's widget; null without a terminal view.
    GtkWidget* terminalWidget() const { return terminalWidget_; }
    /// The shell's last known working directory, as bytes.
    const std::string& currentDirectory() const { return currentDirectory_; }
    double fontSize() const { return fontSize_; }
    /// True while the terminal view's shell runs.
    bool isRunning() const;
    /// The shell's process id while it runs, else 0.
    int32_t shellPid() const;
    /// The window size the pseudo-terminal had when the pane's last shell started; zero before
    /// the first starts.
    const winsize& shellStartSize() const { return shellStartSize_; }
    /// How many times the pane applied the rendering choice to its view.
    uint64_t renderingApplications() const { return renderingApplications_; }

    /// Set only by the window controller: the pane must not draw on the GPU now.
    bool graphicsSuspended = false;

    /// Called when `currentDirectory` changes.
    std::function<void(TerminalPane&)> onDirectoryChanged;
    /// Called when the close button is pressed.
    std::function<void(TerminalPane&)> onClose;
    /// Called when the shell starts, ends or fails to start, and when the terminal view's actions
    /// change (a selection comes or goes), so that the menus follow.
    std::function<void(TerminalPane&)> onStateChanged;

    /// Starts the login shell once per terminal view: at once when the view is laid out in a
    /// window, else at its first layout at a real size (or after `layoutWaitLimit`). The titles
    /// show the shell's folder at once.
    void startShell();
    /// Hangs up the shell and its foreground programs, ends the process and drops the view.
    void stopShell();
    /// A fresh terminal view and shell, when the shell is not running; nothing while it runs.
    void restartSession();
    /// The font at `size` points, clamped to 10 ... 30.
    void changeFont(double size);
    /// Reads the shell's directory now.
    void refreshDirectoryLabel();
    /// Draws on the GPU when the preference allows it and the pane is not suspended.
    void applyRenderingPreference();
    /// Gives the terminal view the keyboard focus.
    void focus();
    /// True while the terminal view has the keyboard focus.
    bool hasFocus() const;
    /// Sets the accessibility label of the terminal view for an active or inactive pane.
    void setActive(bool active);
    /// Shows or hides the close button (the pointer entered or left the pane).
    void setCloseButtonShown(bool shown);
    bool closeButtonShown() const;
    /// The close button, in its column beside the terminal view.
    GtkWidget* closeButton() const { return closeButton_; }

    /// `size` clamped to the pane's font sizes.
    static double clampedFontSize(double size);
    /// The notice written when a shell ended, with its exit code when it has one.
    static std::string sessionEndedNotice(std::optional<int32_t> exitCode);

    // LocalProcessTerminalViewDelegate
    void sizeChanged(kestrovan::LocalProcessTerminalView&, int, int) override {}
    void setTerminalTitle(kestrovan::LocalProcessTerminalView&, const std::string&) override {}
    void hostCurrentDirectoryUpdate(kestrovan::TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(kestrovan::TerminalView& source, std::optional<int32_t> exitCode) override;
    void processFailedToStart(kestrovan::TerminalView& source,
                              const kestrovan::LocalProcessError& error) override;

private:
    void buildContent();
    void updateDirectoryLabel(const std::string& path);
    /// The folder the shell starts in: the pane's, else the home folder.
    std::string startingDirectory() const;
    /// True when the view has been laid out in a window at a size that holds cells.
    bool isLaidOut() const;
    /// The view was laid out: a shell waiting for that starts from the main loop.
    void viewLaidOut();
    /// Starts the shell that `startShell` asked for, at the view's grid as it is now.
    void launchShell();
    void cancelPendingStart();
    void startDirectoryTracking();
    void stopDirectoryTracking();

    GtkWidget* view_ = nullptr;
    GtkWidget* closeColumn_ = nullptr;
    GtkWidget* closeButton_ = nullptr;
    GtkWidget* terminalWidget_ = nullptr;
    std::shared_ptr<SafeTerminalView> terminal_;
    std::function<void(SafeTerminalView&)> configureTerminal_;
    RenderingPreferences& renderingPreferences_;
    std::shared_ptr<platform::MainThreadTimers::Timer> renderingRetry_;
    double fontSize_;
    bool started_ = false;
    /// The shell was asked for and has not started yet.
    bool startPending_ = false;
    std::shared_ptr<platform::MainThreadTimers::Timer> layoutWait_;
    winsize shellStartSize_{};
    std::shared_ptr<platform::MainThreadTimers::Timer> directoryTimer_;
    std::string currentDirectory_;
    std::optional<ShellProcessHandle> shell_;
    std::optional<ProcessDirectory> shellDirectory_;
    uint64_t renderingApplications_ = 0;
};

} // namespace vesk
