// What asks before it closes: a pane, a tab, a window of several tabs and the application each
// ask while a shell runs, with the texts of the situation; Return cancels every question; one
// question at a time per window and for quitting; and nothing asks once no shell runs.
#include "VeskDriver.h"

#include <gtest/gtest.h>

namespace veskgui {
namespace {

/// Waits for exactly one open alert and answers whether it shows `message` and `buttons`.
void expectOneAlert(Vesk& vesk, const std::string& message, const std::string& buttons)
{
    const State state =
        vesk.expect([](const State& s) { return !s.alerts().empty(); }, "an alert: " + message);
    ASSERT_EQ(state.alerts().size(), 1u);
    EXPECT_EQ(state.alerts()[0]["message"], message);
    EXPECT_EQ(state.alerts()[0]["buttons"], buttons);
}

/// Cancels `message` with Return and waits until no alert is open.
void cancelWithReturn(Vesk& vesk, const std::string& message)
{
    vesk.answerAlert(message, false);
    vesk.expect([](const State& s) { return s.alerts().empty(); }, "Return cancelled: " + message);
}

TEST(ConfirmationsGuiTests, EachCloseAsksWhileAShellRunsAndReturnCancels)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+d");
    vesk.expect([](const State& s) { return s.panes().size() == 2 && s.activePane()["running"] == "1"; },
                "two panes");

    // A pane of two; a second request while the question is open adds no second question.
    vesk.key("ctrl+shift+w");
    expectOneAlert(vesk, "Close this terminal pane?", "Cancel|Close Pane");
    vesk.activate("win.close-pane");
    vesk.activate("win.close-tab");
    EXPECT_EQ(vesk.state().alerts().size(), 1u) << "one close question per window";
    vesk.screenshot("vesk-close-pane", -1);
    cancelWithReturn(vesk, "Close this terminal pane?");
    EXPECT_EQ(vesk.state().panes().size(), 2u) << "Return kept the pane";

    // A tab of two panes, then a tab of one.
    vesk.focus();
    vesk.key("super+shift+w");
    expectOneAlert(vesk, "Close this tab and all its panes?", "Cancel|Close Tab");
    cancelWithReturn(vesk, "Close this tab and all its panes?");
    vesk.focus();
    vesk.key("ctrl+shift+t");
    vesk.expect([](const State& s) { return s.tabs().size() == 2 && s.activePane()["running"] == "1"; },
                "two tabs");
    vesk.key("super+shift+w");
    expectOneAlert(vesk, "Close this terminal session?", "Cancel|Close Tab");
    cancelWithReturn(vesk, "Close this terminal session?");

    // The window of two tabs asks once for all of them.
    vesk.requestClose();
    expectOneAlert(vesk, "Close this window and all its tabs?", "Cancel|Close Window");
    vesk.requestClose();
    EXPECT_EQ(vesk.state().alerts().size(), 1u);
    cancelWithReturn(vesk, "Close this window and all its tabs?");
    EXPECT_EQ(vesk.state().tabs().size(), 2u);

    // Quitting counts the running panes of every window, and asks once at a time.
    vesk.focus();
    vesk.key("ctrl+shift+q");
    expectOneAlert(vesk, "Quit Vesk and close all sessions?", "Cancel|Quit Vesk");
    vesk.activate("app.quit");
    EXPECT_EQ(vesk.state().alerts().size(), 1u) << "one quit question at a time";
    cancelWithReturn(vesk, "Quit Vesk and close all sessions?");
    EXPECT_EQ(vesk.state().app().number("sessions"), 2);

    // Confirming closes: the pane goes, and the pane that followed it becomes active.
    vesk.focus();
    vesk.key("ctrl+shift+1");
    vesk.expect([](const State& s) { return s.windows()[0].number("selected") == 0; }, "the first tab");
    vesk.key("ctrl+shift+w");
    expectOneAlert(vesk, "Close this terminal pane?", "Cancel|Close Pane");
    vesk.answerAlert("Close this terminal pane?", true);
    vesk.expect([](const State& s) { return s.alerts().empty() && s.panes(0, 0).size() == 1; },
                "Close Pane closed the pane");
}

TEST(ConfirmationsGuiTests, NothingAsksOnceNoShellRuns)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+d");
    vesk.expect([](const State& s) { return s.panes().size() == 2 && s.activePane()["running"] == "1"; },
                "two panes");
    vesk.typeLine("exit");
    vesk.expect([](const State& s) { return s.activePane()["running"] == "0"; }, "the second shell ended");
    vesk.key("ctrl+shift+w");
    State state =
        vesk.expect([](const State& s) { return s.panes().size() == 1; }, "the ended pane closed at once");
    EXPECT_TRUE(state.alerts().empty());

    // One running pane: the singular question; with it ended, Quit quits at once.
    vesk.key("ctrl+shift+q");
    expectOneAlert(vesk, "Quit Vesk and close this session?", "Cancel|Quit Vesk");
    cancelWithReturn(vesk, "Quit Vesk and close this session?");
    vesk.focus();
    vesk.typeLine("exit");
    vesk.expect([](const State& s) { return s.activePane()["running"] == "0"; }, "the last shell ended");
    vesk.key("ctrl+shift+q");
    EXPECT_EQ(vesk.waitForExit(), 0) << "Quit without a running shell quits";
}

} // namespace
} // namespace veskgui
