// The application as a user meets it: one window with a shell, titled by the shell's directory,
// the shell's environment, a shell that ends and starts again, programs that try to retitle the
// window or write the clipboard, a second start that opens a window in the running instance, and
// every shell starting at its pane's grid.
#include "VeskDriver.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace veskgui {
namespace {

TEST(WindowGuiTests, OneWindowWithAShellTitledByItsDirectory)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    State state = vesk.state();
    ASSERT_EQ(state.windows().size(), 1u);
    const Record window = state.windows()[0];
    EXPECT_EQ(window["title"], "~") << "the home folder, never \"Vesk\"";
    EXPECT_EQ(window.number("width"), 960);
    EXPECT_EQ(window.number("height"), 620);
    EXPECT_EQ(window.number("tabs"), 1);
    EXPECT_EQ(state.activePane()["directory"], vesk.home());
    EXPECT_EQ(state.activePane()["font"], "JetBrainsMono-Regular") << "the bundled font";
    vesk.focus();
    vesk.screenshot("vesk-window");

    // The environment every shell gets, with the desktop's display.
    vesk.typeLine("echo \"[$TERM $COLORTERM $TERM_PROGRAM ${DISPLAY:+display}]\"");
    vesk.expect([](const State& s) { return s.anyLineContains("[xterm-256color truecolor Vesk display]"); },
                "the shell's environment is printed");

    // The title follows the shell into a fresh folder within about a second of the poll.
    const std::string folder = vesk.folder() + "/fresh dir";
    vesk.typeLine("mkdir '" + folder + "' && cd '" + folder + "'");
    state = vesk.expect([&](const State& s) { return s.windows()[0]["title"] == folder; },
                        "the title follows cd", 3s);
    EXPECT_EQ(state.tabs()[0]["label"], "fresh dir");

    // A program's title and clipboard write change nothing.
    run("printf mine | xclip -selection clipboard -i -loops 1 >/dev/null 2>&1 &");
    vesk.typeLine("printf '\\033]0;spoofed\\007\\033]52;c;c3Bvb2ZlZA==\\007'; echo done-osc");
    state = vesk.expect([](const State& s) { return s.anyLineIs("done-osc"); }, "the sequences were printed");
    EXPECT_EQ(state.windows()[0]["title"], folder);
    EXPECT_EQ(run("xclip -selection clipboard -o 2>/dev/null"), "mine") << "OSC 52 wrote the clipboard";
}

TEST(WindowGuiTests, AnEndedShellLeavesItsPaneUntilNewSession)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    const long long firstShell = vesk.state().activePane().number("pid");
    vesk.typeLine("exit");
    State state = vesk.expect(
        [](const State& s) {
            return s.activePane()["running"] == "0" &&
                   s.anyLineContains(
                       "[Session ended \u00B7 Exit status 0. Choose Shell > New Session to restart.]");
        },
        "the session-ended notice");
    EXPECT_EQ(state.panes().size(), 1u) << "the pane stays";
    EXPECT_EQ(state.windows().size(), 1u);

    vesk.activate("win.new-session");
    state = vesk.expect([](const State& s) { return s.activePane()["running"] == "1"; }, "a new shell runs");
    EXPECT_NE(state.activePane().number("pid"), firstShell);
    EXPECT_FALSE(state.anyLineContains("Session ended")) << "a fresh terminal view";
}

TEST(WindowGuiTests, NewSessionGivesTheKeyboardToTheRestartedPane)
{
    // The restarted pane is the second of two: a view that lost the keyboard with its old view
    // would leave it to GTK, which hands it to the first focusable widget, the other pane.
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+d");
    const auto second = [](const State& s) { return s.panes().size() == 2 ? s.panes()[1] : Record{}; };
    vesk.expect([&](const State& s) { return second(s)["running"] == "1"; }, "a second pane with a shell");
    vesk.typeLine("exit");
    vesk.expect([&](const State& s) { return second(s)["running"] == "0"; }, "the second pane's shell ended");

    vesk.activate("win.new-session");
    vesk.expect([&](const State& s) { return second(s)["running"] == "1" && !s.lines(0, 0, 1).empty(); },
                "a new shell with its prompt in the second pane");
    vesk.typeLine("echo typed-into-the-new-session");
    const auto ranIn = [](const State& s, long long pane) {
        const std::vector<std::string> lines = s.lines(0, 0, pane);
        return std::find(lines.begin(), lines.end(), "typed-into-the-new-session") != lines.end();
    };
    const State state =
        vesk.expect([&](const State& s) { return ranIn(s, 0) || ranIn(s, 1); }, "the typed line ran");
    EXPECT_TRUE(ranIn(state, 1)) << "in the restarted pane";
    EXPECT_FALSE(ranIn(state, 0)) << "not in the other pane";
    EXPECT_EQ(second(state)["focus"], "1");
}

TEST(WindowGuiTests, StartingAgainOpensAWindowInTheRunningInstance)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    int status = -1;
    run(std::string("HOME=") + vesk.home() + " " + VESK_EXECUTABLE + " >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0) << "the second start hands over and ends";
    State state = vesk.expect([](const State& s) { return s.windows().size() == 2; }, "a second window");
    EXPECT_EQ(state.app().number("sessions"), 2);
}

TEST(WindowGuiTests, EveryShellStartsAtItsPanesGrid)
{
    // Each login shell appends what `stty size` ("rows cols") says while its profile runs: a
    // program started from the profile draws at that size.
    const std::string profile = "stty size >> \"$HOME/starts\"\n";
    LaunchOptions options;
    options.homeFiles = {{".bash_profile", profile}, {".profile", profile}};
    Vesk vesk(options);
    ASSERT_TRUE(vesk.started());
    vesk.focus();

    struct Step
    {
        const char* what;
        std::function<void()> act;
        long long window;
        long long tab;
        long long pane;
    };
    const Step steps[] = {
        {"the first window's shell", [] {}, 0, 0, 0},
        {"a split's new pane", [&] { vesk.key("ctrl+shift+d"); }, 0, 0, 1},
        {"a new tab", [&] { vesk.key("ctrl+shift+t"); }, 0, 1, 0},
        {"New Session in a fresh view",
         [&] {
             vesk.typeLine("exit");
             vesk.expect([](const State& s) { return s.activePane()["running"] == "0"; }, "the shell ended");
             vesk.activate("win.new-session");
         },
         0, 1, 0},
        {"a second window",
         [&] { run(std::string("HOME=") + vesk.home() + " " + VESK_EXECUTABLE + " >/dev/null 2>&1"); }, 1, 0,
         0},
    };
    for (size_t index = 0; index < std::size(steps); ++index) {
        const Step& step = steps[index];
        step.act();
        std::vector<std::string> starts;
        const State state = vesk.expect(
            [&](const State& s) {
                starts.clear();
                std::istringstream lines(readFile(vesk.home() + "/starts"));
                for (std::string line; std::getline(lines, line);)
                    starts.push_back(line);
                const std::vector<Record> panes = s.panes(step.window, step.tab);
                return starts.size() > index && step.pane < static_cast<long long>(panes.size()) &&
                       panes[static_cast<size_t>(step.pane)]["running"] == "1";
            },
            std::string(step.what) + " started");
        const std::vector<Record> panes = state.panes(step.window, step.tab);
        ASSERT_GT(starts.size(), index) << step.what;
        ASSERT_LT(step.pane, static_cast<long long>(panes.size())) << step.what;
        const Record& pane = panes[static_cast<size_t>(step.pane)];
        const std::string grid = pane["rows"] + " " + pane["cols"];
        EXPECT_EQ(starts[index], grid) << step.what << ": the shell's first stty size";
        EXPECT_EQ(pane["start-rows"] + " " + pane["start-cols"], grid)
            << step.what << ": the pseudo-terminal's size when the shell started";
    }
}

} // namespace
} // namespace veskgui
