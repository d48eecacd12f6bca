// The pointer over a pane with a shell in it: wheel notches scroll three lines of the scrollback
// and send three cursor keys to a full-screen program (one report each to a program tracking the
// mouse); Shift-click extends a selection, also over a program that reports the mouse; and the
// pane's close button covers no cell of the terminal and not the find bar's close button.
#include "PaneGeometry.h"
#include "VeskDriver.h"

#include <gtest/gtest.h>

namespace veskgui {
namespace {

struct PaneFixture
{
    PaneFixture()
    {
        if (!vesk.started())
            return;
        vesk.focus();
    }
    /// Moves the pointer to window point `point`, then plays `actions` (xdotool words) there.
    void pointer(std::pair<int, int> point, const std::vector<std::string>& actions = {})
    {
        // Without --sync, which waits for a movement that never comes when the pointer is there
        // already; the server handles the move before the actions all the same.
        std::vector<std::string> command = {"xdotool",
                                            "mousemove",
                                            "--window",
                                            std::to_string(vesk.xid()),
                                            std::to_string(point.first),
                                            std::to_string(point.second)};
        command.insert(command.end(), actions.begin(), actions.end());
        execute(command);
    }
    /// Runs a command line and waits for the line `answer` on the screen.
    void runLine(const std::string& line, const std::string& answer)
    {
        vesk.typeLine(line);
        vesk.expect([&](const State& s) { return s.anyLineIs(answer); }, "the answer " + answer);
    }
    /// Runs the paste sink, recording into `file` after `modes` are set; waits until it reads.
    void startSink(const std::string& modes, const std::string& file)
    {
        vesk.typeLine("printf '" + modes + "'; " + VESK_PASTE_SINK + " " + file + "; printf '\\033[?1049l'");
        vesk.expect([](const State& s) { return s.anyLineIs("sink ready"); }, "the sink runs");
    }
    /// Types `marker` and waits for it at the end of `file`: what came before it, all of it.
    std::string recordedUpTo(const std::string& file, const std::string& marker)
    {
        execute({"xdotool", "type", marker});
        bool held = false;
        std::string text;
        vesk.waitFor(
            [&](const State&) {
                text = readFile(file);
                return text.size() >= marker.size() &&
                       text.compare(text.size() - marker.size(), marker.size(), marker) == 0;
            },
            &held);
        EXPECT_TRUE(held) << "the marker never arrived: " << text;
        return held ? text.substr(0, text.size() - marker.size()) : text;
    }

    Vesk vesk;
};

std::string times(int count, const std::string& text)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

TEST(PanePointerGuiTests, ANotchScrollsThreeLinesOrSendsThreeKeysAndAReportEach)
{
    PaneFixture f;
    ASSERT_TRUE(f.vesk.started());
    f.runLine("seq 1000", "1000");
    const Record pane = f.vesk.state().activePane();
    const long long newest = pane.number("scroll-top");
    ASSERT_GT(newest, 100);
    const PaneGeometry geometry(pane);
    f.pointer(geometry.at(10.5, 5.5), {"click", "--repeat", "2", "--delay", "30", "4"});
    f.vesk.expect([&](const State& s) { return s.activePane().number("scroll-top") == newest - 6; },
                  "two notches up scroll six lines");
    f.pointer(geometry.at(10.5, 5.5), {"click", "5"});
    f.vesk.expect([&](const State& s) { return s.activePane().number("scroll-top") == newest - 3; },
                  "a notch down scrolls three lines back");

    // A full-screen program: three cursor keys a notch (in either cursor mode's form).
    const std::string keys = f.vesk.folder() + "/keys";
    f.startSink("\\033[?1049h", keys);
    f.pointer(geometry.at(10.5, 5.5), {"click", "--repeat", "2", "--delay", "30", "4"});
    const std::string sent = f.recordedUpTo(keys, "k");
    EXPECT_TRUE(sent == times(6, "\x1b[A") || sent == times(6, "\x1bOA")) << sent;
    f.vesk.key("ctrl+d");
    f.vesk.expect([](const State& s) { return !s.anyLineIs("sink ready"); }, "the sink ended");

    // A program tracking the mouse: one report a notch.
    const std::string reports = f.vesk.folder() + "/reports";
    f.startSink("\\033[?1049h\\033[?1000h\\033[?1006h", reports);
    f.pointer(geometry.at(10.5, 5.5), {"click", "--repeat", "2", "--delay", "30", "4"});
    EXPECT_EQ(f.recordedUpTo(reports, "r"), times(2, "\x1b[<64;11;6M"));
}

TEST(PanePointerGuiTests, ShiftClickExtendsTheSelectionAlsoOverAProgramReportingTheMouse)
{
    PaneFixture f;
    ASSERT_TRUE(f.vesk.started());
    f.runLine("clear; echo alpha beta gamma", "alpha beta gamma");
    State state = f.vesk.state();
    const std::vector<std::string> lines = state.lines(0, 0, 0);
    const long long row = std::find(lines.begin(), lines.end(), "alpha beta gamma") - lines.begin();
    const PaneGeometry geometry(state.activePane());
    const auto selected = [&](const std::string& text) {
        f.vesk.expect([&](const State& s) { return s.activePane()["selection"] == text; },
                      "selected: " + text);
    };
    // A drag over "alpha", then Shift-clicks past "beta" and back inside "alpha".
    f.pointer(geometry.at(0.2, row + 0.5), {"mousedown", "1"});
    f.pointer(geometry.at(4.8, row + 0.5), {"mouseup", "1"});
    selected("alpha");
    f.pointer(geometry.at(9.8, row + 0.5), {"keydown", "shift", "click", "1", "keyup", "shift"});
    selected("alpha beta");
    f.pointer(geometry.at(2.8, row + 0.5), {"keydown", "shift", "click", "1", "keyup", "shift"});
    selected("alp");

    // Over a program that reports the mouse, Shift keeps the pointer for selecting: the program
    // hears none of it.
    const std::string reports = f.vesk.folder() + "/reports";
    f.startSink("\\033[?1000h\\033[?1006h", reports);
    state = f.vesk.state();
    const std::vector<std::string> shown = state.lines(0, 0, 0);
    const long long sinkRow = std::find(shown.begin(), shown.end(), "sink ready") - shown.begin();
    f.pointer(geometry.at(0.2, sinkRow + 0.5), {"keydown", "shift", "mousedown", "1"});
    f.pointer(geometry.at(3.8, sinkRow + 0.5), {"mouseup", "1", "keyup", "shift"});
    selected("sink");
    f.pointer(geometry.at(7.8, sinkRow + 0.5), {"keydown", "shift", "click", "1", "keyup", "shift"});
    selected("sink rea");
    EXPECT_EQ(f.recordedUpTo(reports, "m"), "");
}

TEST(PanePointerGuiTests, TheCloseButtonCoversNoCellAndNotTheFindBarsCloseButton)
{
    PaneFixture f;
    ASSERT_TRUE(f.vesk.started());
    const PaneGeometry geometry(f.vesk.state().activePane());
    f.pointer(geometry.at(2.5, 1.5));
    Record pane = f.vesk
                      .expect([](const State& s) { return s.activePane()["close-shown"] == "1"; },
                              "the close button shows while the pointer is over the pane")
                      .activePane();
    const Box close(pane, "close");
    const Box cells(geometry.x, geometry.y, pane.number("cols") * geometry.cellWidth,
                    pane.number("rows") * geometry.cellHeight);
    EXPECT_GT(close.width, 0);
    EXPECT_FALSE(close.overlaps(cells)) << "button " << close << ", cells " << cells;
    // It hides when the pointer leaves the pane (for the menu bar above it), in the same place.
    f.pointer({static_cast<int>(geometry.x) + 4, static_cast<int>(geometry.y) - 8});
    pane = f.vesk.expect([](const State& s) { return s.activePane()["close-shown"] == "0"; }, "hidden again")
               .activePane();
    EXPECT_EQ(Box(pane, "close").x, close.x);
    EXPECT_EQ(pane.number("cols") * geometry.cellWidth, cells.width) << "the terminal keeps its size";
    f.pointer(geometry.at(2.5, 1.5));
    f.vesk.expect([](const State& s) { return s.activePane()["close-shown"] == "1"; }, "shown again");

    f.vesk.activate("win.find");
    pane = f.vesk.expect([](const State& s) { return s.activePane()["find-bar"] == "1"; }, "the find bar")
               .activePane();
    const Box findClose(pane, "find-close");
    EXPECT_FALSE(close.overlaps(findClose)) << "button " << close << ", the find bar's " << findClose;
    f.vesk.screenshot("vesk-pane-close-button-and-find-bar");
    // Its close button closes the find bar, not the pane, while the pane's button shows.
    f.pointer(findClose.centre(), {"click", "1"});
    State state = f.vesk.expect([](const State& s) { return s.activePane()["find-bar"] == "0"; },
                                "the find bar closed");
    EXPECT_TRUE(state.alerts().empty()) << "nobody asked to close the pane";
    EXPECT_EQ(state.panes().size(), 1u);
    EXPECT_EQ(state.activePane()["close-shown"], "1");
    // The pane's own button still closes it (the window's only pane: it asks, as its shell runs).
    f.pointer(close.centre(), {"click", "1"});
    state = f.vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the close question");
    EXPECT_EQ(state.alerts()[0]["message"], "Close this terminal session?");
}

} // namespace
} // namespace veskgui
