// Files dragged from another program's window onto a pane, and links in the output opened with
// Ctrl+click: a name with a space types its quoted path and a space, a name with an escape only
// beeps; an https link asks before it opens, an ssh link only beeps.
#include "VeskDriver.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veskgui {
namespace {

/// The small GTK window of the tests that offers files to drag, placed beside the application's.
class DragSource
{
public:
    explicit DragSource(const std::vector<std::string>& paths)
    {
        std::string command =
            std::string("NO_AT_BRIDGE=1 GTK_A11Y=none GDK_BACKEND=x11 GSK_RENDERER=cairo ") +
            "GSETTINGS_BACKEND=memory " + VESK_DRAG_SOURCE;
        for (const std::string& path : paths)
            command += " '" + path + "'";
        output_ = popen(("exec env " + command).c_str(), "r");
        char line[64] = {};
        if (output_ && std::fgets(line, sizeof line, output_))
            std::sscanf(line, "ready %lu", &xid_);
        // Out of the application's way (without a window manager every window opens at 0, 0).
        if (xid_)
            execute({"xdotool", "windowmove", "--sync", std::to_string(xid_), "1000", "650"});
    }
    ~DragSource()
    {
        if (output_) {
            run("xdotool windowkill " + std::to_string(xid_) + " 2>/dev/null");
            pclose(output_);
        }
    }
    unsigned long xid() const { return xid_; }

    /// Drags from the middle of this window to (`x`, `y`) of window `target`, step by step, as a
    /// hand moves. `settle` runs before the button is released: the drop is offered only once the
    /// target has answered the drag's last position, which a loaded machine can delay.
    void dragTo(unsigned long target, int x, int y, const std::function<void()>& settle)
    {
        const auto [fromX, fromY] = origin(xid_);
        const auto [toX, toY] = origin(target);
        const int startX = fromX + 100, startY = fromY + 50, endX = toX + x, endY = toY + y;
        execute({"xdotool", "mousemove", "--sync", std::to_string(startX), std::to_string(startY),
                 "mousedown", "1"});
        constexpr int steps = 12;
        for (int step = 1; step <= steps; ++step)
            execute({"xdotool", "mousemove", "--sync",
                     std::to_string(startX + (endX - startX) * step / steps),
                     std::to_string(startY + (endY - startY) * step / steps)});
        execute({"xdotool", "mousemove", "--sync", std::to_string(endX + 3), std::to_string(endY + 3)});
        settle();
        execute({"xdotool", "mouseup", "1"});
    }

    /// The screen position of a window's top left corner.
    static std::pair<int, int> origin(unsigned long window)
    {
        const std::string geometry = run("xdotool getwindowgeometry --shell " + std::to_string(window));
        int x = 0, y = 0;
        if (const size_t at = geometry.find("X="); at != std::string::npos)
            x = std::atoi(geometry.c_str() + at + 2);
        if (const size_t at = geometry.find("Y="); at != std::string::npos)
            y = std::atoi(geometry.c_str() + at + 2);
        return {x, y};
    }

private:
    FILE* output_ = nullptr;
    unsigned long xid_ = 0;
};

TEST(DropsAndLinksGuiTests, ADroppedNameWithASpaceIsTypedQuotedAndOneWithAnEscapeBeeps)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    const std::string spaced = vesk.folder() + "/a b.txt";
    const std::string escaped = vesk.folder() + "/a\x1b[31mb.txt";
    writeFile(spaced, "");
    writeFile(escaped, "");
    vesk.focus();
    const Record pane = vesk.state().activePane();
    const int x = static_cast<int>(pane.number("terminal-x") + 300);
    const int y = static_cast<int>(pane.number("terminal-y") + 300);
    // A state dump is answered after the application has handled the X events before it, the
    // drag's last position among them.
    const auto settle = [&] { vesk.state(); };
    // A drag that a loaded machine loses on its way (the source can end it before the target has
    // answered) is made again, up to three times: what is checked is what a drop that arrives does.
    const auto dropUntil = [&](const std::string& path, const std::function<bool(const State&)>& arrived) {
        DragSource source({path});
        EXPECT_NE(source.xid(), 0u);
        bool held = false;
        State state;
        for (int attempt = 0; attempt < 3 && !held; ++attempt) {
            source.dragTo(vesk.xid(), x, y, settle);
            state = vesk.waitFor(arrived, &held, 4s);
        }
        return std::make_pair(held, state);
    };
    EXPECT_TRUE(
        dropUntil(spaced, [&](const State& s) { return s.anyLineContains("# '" + spaced + "'"); }).first)
        << "the quoted path is typed at the prompt";
    vesk.focus();
    vesk.typeLine(" echo dropped-and-typed-on");
    vesk.expect([&](const State& s) { return s.anyLineContains("dropped-and-typed-on"); }, "the line ran");

    const long long beeps = vesk.state().app().number("beeps");
    const auto [beeped, state] =
        dropUntil(escaped, [&](const State& s) { return s.app().number("beeps") > beeps; });
    EXPECT_TRUE(beeped) << "the refused drop beeps";
    EXPECT_FALSE(state.anyLineContains("31mb")) << "nothing of the name was typed";
}

TEST(DropsAndLinksGuiTests, CtrlClickAsksBeforeAnHttpsLinkOpensAndAnSshLinkOnlyBeeps)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    vesk.typeLine("clear; printf 'https://example.com/vesk\\nssh://host.example\\n'");
    // The printed lines, not the typed command that also holds both links.
    State state = vesk.expect(
        [](const State& s) {
            const std::vector<std::string> lines = s.lines(0, 0, 0);
            return std::find(lines.begin(), lines.end(), "ssh://host.example") != lines.end();
        },
        "the links");
    const Record pane = state.activePane();
    const std::vector<std::string> lines = state.lines(0, 0, 0);
    long long httpsRow = -1;
    for (size_t row = 0; row < lines.size(); ++row)
        if (lines[row] == "https://example.com/vesk")
            httpsRow = static_cast<long long>(row);
    ASSERT_GE(httpsRow, 0);
    const double cellWidth = std::stod(pane["cell-width"]);
    const double cellHeight = std::stod(pane["cell-height"]);
    auto clickRow = [&](long long row) {
        const int x = static_cast<int>(pane.number("terminal-x") + cellWidth * 5.5);
        const int y = static_cast<int>(pane.number("terminal-y") + cellHeight * (row + 0.5));
        execute({"xdotool", "mousemove", "--sync", "--window", std::to_string(vesk.xid()), std::to_string(x),
                 std::to_string(y), "keydown", "ctrl", "click", "1", "keyup", "ctrl"});
    };

    clickRow(httpsRow);
    state = vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the link question");
    EXPECT_EQ(state.alerts()[0]["message"], "Open this link in your browser?");
    EXPECT_EQ(state.alerts()[0]["informative"], "https://example.com/vesk");
    EXPECT_EQ(state.alerts()[0]["buttons"], "Cancel|Open Link");
    vesk.answerAlert("Open this link in your browser?", true);
    vesk.expect([](const State& s) { return s.alerts().empty(); }, "the question was answered");
    bool opened = false;
    vesk.waitFor(
        [&](const State&) { return opened = readFile(vesk.linkLog()) == "https://example.com/vesk\n"; },
        &opened);
    EXPECT_TRUE(opened) << "Open Link reached the opener: " << readFile(vesk.linkLog());

    const long long beeps = vesk.state().app().number("beeps");
    vesk.focus();
    clickRow(httpsRow + 1);
    state = vesk.expect([&](const State& s) { return s.app().number("beeps") == beeps + 1; },
                        "the ssh link beeps");
    EXPECT_TRUE(state.alerts().empty()) << "and asks nothing";
    EXPECT_EQ(readFile(vesk.linkLog()), "https://example.com/vesk\n");
}

} // namespace
} // namespace veskgui
