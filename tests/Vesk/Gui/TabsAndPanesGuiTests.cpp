// Tabs and panes from the keyboard: new tabs, cycling with wrap-around, tab numbers past the last
// tab, splits both ways in the active pane's folder, the refusal of a pane too narrow to split,
// and the order in which the focus moves between panes.
#include "VeskDriver.h"

#include <gtest/gtest.h>

namespace veskgui {
namespace {

long long selectedTab(const State& state)
{
    return state.windows()[0].number("selected");
}

TEST(TabsAndPanesGuiTests, TabsOpenCycleWithWrapAroundAndIgnoreNumbersPastTheLast)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.key("ctrl+shift+t");
    // The hidden tab's panes are suspended by a graphics update queued on the main loop after the
    // switch, so the wait covers it too.
    State state = vesk.expect(
        [](const State& s) {
            return s.windows()[0].number("tabs") == 2 && s.activePane()["running"] == "1" &&
                   !s.panes(0, 0).empty() && s.panes(0, 0)[0]["suspended"] == "1";
        },
        "a second tab");
    EXPECT_EQ(selectedTab(state), 1) << "the new tab is selected";
    EXPECT_EQ(state.tabs()[0]["hidden"], "1");
    EXPECT_EQ(state.panes(0, 0)[0]["suspended"], "1") << "the hidden tab's panes draw on no GPU";
    EXPECT_EQ(state.panes(0, 1)[0]["suspended"], "0");
    vesk.screenshot("vesk-two-tabs");

    struct Step
    {
        const char* chord;
        long long selected;
    };
    const Step steps[] = {
        {"ctrl+Tab", 0}, // from the last tab to the first
        {"ctrl+Tab", 1},
        {"ctrl+shift+Tab", 0}, // back
        {"ctrl+shift+Tab", 1}, // from the first to the last
        {"ctrl+Page_Up", 0},
        {"ctrl+Page_Down", 1},           // the Linux chords
        {"super+shift+bracketright", 0}, // the Super forms
        {"ctrl+shift+2", 1},
        {"ctrl+shift+1", 0}, // tab numbers
    };
    for (const Step& step : steps) {
        vesk.key(step.chord);
        vesk.expect([&](const State& s) { return selectedTab(s) == step.selected; },
                    std::string(step.chord) + " selects tab " + std::to_string(step.selected));
    }
    state = vesk.state();
    EXPECT_EQ(state.tabs()[0]["hidden"], "0");
    EXPECT_EQ(state.panes(0, 1)[0]["suspended"], "1") << "the roles swapped";

    // Tab 3 of two: nothing happens, and the shell gets nothing.
    const std::vector<std::string> before = state.lines(0, 0, 0);
    vesk.key("ctrl+shift+3");
    vesk.typeLine("echo marker-after");
    // The marker's answer with the next prompt under it; the typed line's echo alone holds the
    // marker too.
    state = vesk.expect(
        [&](const State& s) {
            const std::vector<std::string> lines = s.lines(0, 0, 0);
            return lines.size() >= 3 && lines[lines.size() - 2] == "marker-after" &&
                   lines.back() == before.back();
        },
        "the marker");
    EXPECT_EQ(selectedTab(state), 0);
    const std::vector<std::string> lines = state.lines(0, 0, 0);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 3], before.back() + " echo marker-after")
        << "nothing typed before the marker";
}

/// Every pane has its place on screen: a split's new view is sized by the next frame's layout,
/// which can come after its shell is running, and every pane is sized in that one pass.
bool laidOut(const State& state)
{
    for (const auto& pane : state.panes()) {
        if (pane.number("width") <= 0 || pane.number("height") <= 0)
            return false;
    }
    return true;
}

TEST(TabsAndPanesGuiTests, SplitsFollowTheFolderAndFocusMovesInPaneOrder)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    const std::string folder = vesk.folder() + "/work";
    vesk.typeLine("mkdir " + folder + " && cd " + folder);
    vesk.expect([&](const State& s) { return s.activePane()["directory"] == folder; },
                "the shell is in the folder");

    // [A] -> [A, B]: side by side, the new pane in the same folder and active.
    const long long a = vesk.state().activePane().number("pid");
    vesk.key("ctrl+shift+d");
    State state = vesk.expect(
        [](const State& s) {
            return s.panes().size() == 2 && s.activePane()["running"] == "1" && laidOut(s);
        },
        "two panes");
    const long long b = state.activePane().number("pid");
    EXPECT_EQ(state.activePane().number("index"), 1);
    EXPECT_EQ(state.activePane()["directory"], folder);
    EXPECT_EQ(state.panes()[0].number("height"), state.panes()[1].number("height")) << "side by side";
    EXPECT_NEAR(state.panes()[0].number("width"), 480, 2);

    // Back to A, and split it: [A, C, B]; the focus then goes C, B, A.
    vesk.key("ctrl+shift+bracketleft");
    vesk.expect([&](const State& s) { return s.activePane().number("pid") == a; }, "A is active again");
    vesk.key("super+shift+d");
    state = vesk.expect(
        [](const State& s) {
            return s.panes().size() == 3 && s.activePane()["running"] == "1" && laidOut(s);
        },
        "three panes");
    const long long c = state.activePane().number("pid");
    EXPECT_EQ(state.panes()[1].number("pid"), c) << "the new pane follows the one split";
    EXPECT_EQ(state.panes()[0].number("width"), state.panes()[1].number("width")) << "stacked";
    for (const long long expected : {b, a, c}) {
        vesk.key("ctrl+shift+bracketright");
        vesk.expect(
            [&](const State& s) {
                return s.activePane().number("pid") == expected && s.activePane()["focus"] == "1";
            },
            "the focus moves on in pane order");
    }
    vesk.screenshot("vesk-three-panes");

    // Split B until it is too narrow: the refusal beeps and changes nothing.
    vesk.key("ctrl+shift+bracketright");
    vesk.expect([&](const State& s) { return s.activePane().number("pid") == b; }, "B is active");
    vesk.key("ctrl+shift+d");
    state = vesk.expect(
        [](const State& s) {
            return s.panes().size() == 4 && s.activePane()["running"] == "1" && laidOut(s);
        },
        "four panes");
    ASSERT_LT(state.activePane().number("width"), 321);
    const long long beeps = state.app().number("beeps");
    vesk.key("ctrl+shift+d");
    state = vesk.expect([&](const State& s) { return s.app().number("beeps") == beeps + 1; },
                        "the refusal beeps");
    EXPECT_EQ(state.panes().size(), 4u);
}

} // namespace
} // namespace veskgui
