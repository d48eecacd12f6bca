// Windows coming and going: a closed window leaves the application, and every way of closing the
// last window or quitting ends the process cleanly, with GLib's criticals and warnings made fatal
// so that one would abort it.
#include "VeskDriver.h"

#include <gtest/gtest.h>

namespace veskgui {
namespace {

/// GLib aborts the process on its first warning or critical.
const char* const fatalWarnings = "G_DEBUG=fatal-warnings";

/// Ends the shell of the focused window's active pane and waits for the session-ended notice.
void endShell(Vesk& vesk, long long window)
{
    vesk.focus(window);
    vesk.typeLine("exit");
    vesk.expect([window](const State& s) { return s.activePane(window)["running"] == "0"; },
                "the shell of window " + std::to_string(window) + " ended");
}

/// Opens a second window from the first, waits for its shell, and ends that shell.
void openSecondWindowAndEndItsShell(Vesk& vesk)
{
    vesk.focus(0);
    vesk.key("ctrl+shift+n");
    vesk.expect([](const State& s) { return s.windows().size() == 2 && s.activePane(1)["running"] == "1"; },
                "a second window with a shell");
    endShell(vesk, 1);
}

TEST(LifecycleGuiTests, AClosedWindowLeavesTheApplication)
{
    Vesk vesk(LaunchOptions{"", {fatalWarnings}});
    ASSERT_TRUE(vesk.started());
    for (int round = 0; round < 2; ++round) {
        openSecondWindowAndEndItsShell(vesk);
        vesk.key("ctrl+shift+w");
        const State state = vesk.expect([](const State& s) { return s.windows().size() == 1; },
                                        "the closed window left the application's list");
        EXPECT_EQ(state.app().number("sessions"), 1);
        EXPECT_EQ(state.windows()[0].number("tabs"), 1) << "the first window is the one left";
        EXPECT_EQ(state.activePane(0)["running"], "1");
    }
}

TEST(LifecycleGuiTests, EveryWayOfClosingTheLastWindowOrQuittingEndsCleanly)
{
    enum class Close
    {
        closeButton,
        closeButtonConfirmed,
        closeTabKey,
        quitConfirmed,
        quitWithTwoWindows,
    };
    const struct
    {
        const char* name;
        Close close;
    } rows[] = {
        {"the window manager's close button, the shell ended", Close::closeButton},
        {"the window manager's close button, confirmed", Close::closeButtonConfirmed},
        {"Ctrl+Shift+W, the shell ended", Close::closeTabKey},
        {"Quit, confirmed", Close::quitConfirmed},
        {"Quit after a second window was closed by its close button", Close::quitWithTwoWindows},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Vesk vesk(LaunchOptions{"", {fatalWarnings}});
        ASSERT_TRUE(vesk.started());
        switch (row.close) {
        case Close::closeButton:
            endShell(vesk, 0);
            vesk.requestClose(0);
            break;
        case Close::closeButtonConfirmed:
            vesk.requestClose(0);
            vesk.expect([](const State& s) { return s.alerts().size() == 1; }, "the close confirmation");
            vesk.answerAlert("Close this terminal session?", true);
            break;
        case Close::closeTabKey:
            endShell(vesk, 0);
            vesk.key("ctrl+shift+w");
            break;
        case Close::quitConfirmed:
            vesk.focus(0);
            vesk.key("ctrl+shift+q");
            vesk.expect([](const State& s) { return s.alerts().size() == 1; }, "the quit confirmation");
            vesk.answerAlert("Quit Vesk and close this session?", true);
            break;
        case Close::quitWithTwoWindows:
            openSecondWindowAndEndItsShell(vesk);
            vesk.requestClose(1);
            vesk.expect([](const State& s) { return s.windows().size() == 1; }, "one window left");
            endShell(vesk, 0);
            vesk.key("ctrl+shift+q");
            break;
        }
        EXPECT_EQ(vesk.waitForExit(), 0) << readFile(vesk.errorLog());
        const std::string log = readFile(vesk.errorLog());
        EXPECT_EQ(log.find("CRITICAL"), std::string::npos) << log;
        EXPECT_EQ(log.find("WARNING"), std::string::npos) << log;
    }
}

} // namespace
} // namespace veskgui
