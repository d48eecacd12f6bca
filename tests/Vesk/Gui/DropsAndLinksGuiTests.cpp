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
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veskgui {
namespace {

/// The small GTK window of the tests that offers files to drag, placed beside the application's.
/// It reports each step of a drag on its standard output (see Helpers/DragSource.cpp), and the
/// drag here waits for those reports where a hand would wait to see the drag follow it.
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
        if (output_ &&
            waitForReport([](const std::string& line) { return line.rfind("ready ", 0) == 0; }, 0, 20s))
            std::sscanf(reports_.back().c_str(), "ready %lu", &xid_);
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

    /// Drags from the middle of this window to (`x`, `y`) of window `target` as a hand does: the
    /// button goes down, the pointer moves on until the drag has begun, then on to the target in
    /// steps, and the button goes up only once the target has said it takes the files. Answers
    /// how the drag ended ("finished", "cancelled ..."), or what it waited for in vain.
    std::string dragTo(unsigned long target, int x, int y)
    {
        const size_t from = reports_.size();
        const auto [fromX, fromY] = origin(xid_);
        const auto [toX, toY] = origin(target);
        const int startX = fromX + 100, startY = fromY + 50, endX = toX + x, endY = toY + y;
        execute({"xdotool", "mousemove", "--sync", std::to_string(startX), std::to_string(startY),
                 "mousedown", "1"});
        // The source begins the drag, and grabs the pointer, once the pointer has gone past the
        // drag threshold; a move the server plays before that grab is not the drag's.
        const auto begun = [](const std::string& line) { return line == "begin"; };
        for (int step = 1; step <= 20 && !waitForReport(begun, from, 0ms); ++step)
            execute({"xdotool", "mousemove", "--sync", std::to_string(startX + 3 * step),
                     std::to_string(startY)});
        if (!waitForReport(begun, from, 10s)) {
            execute({"xdotool", "mouseup", "1"});
            return "the drag never began";
        }
        const size_t begin = reports_.size();
        const int dragX = startX + 60;
        constexpr int steps = 12;
        for (int step = 1; step <= steps; ++step)
            execute({"xdotool", "mousemove", "--sync", std::to_string(dragX + (endX - dragX) * step / steps),
                     std::to_string(startY + (endY - startY) * step / steps)});
        // The target answers each position it is sent; the last answer says whether it takes the
        // files. The path enters the pane and stays in it, so an accepting answer is the pane's.
        const bool accepted = waitForReport(
            [this, begin](const std::string&) {
                for (size_t index = reports_.size(); index > begin; --index)
                    if (reports_[index - 1].rfind("action ", 0) == 0)
                        return reports_[index - 1] == "action copy";
                return false;
            },
            begin, 10s);
        execute({"xdotool", "mouseup", "1"});
        const bool ended = waitForReport(
            [](const std::string& line) { return line == "finished" || line.rfind("cancelled", 0) == 0; },
            begin, 10s);
        if (!accepted)
            return "the target never took the files" + std::string(ended ? ": " + reports_.back() : "");
        return ended ? reports_.back() : "the drag never ended";
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
    /// Reads the source's reports until one from index `from` on satisfies `wanted`, blocking in
    /// poll() until a line comes or `timeout` passes.
    bool waitForReport(const std::function<bool(const std::string&)>& wanted, size_t from,
                       std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (size_t index = from; index < reports_.size(); ++index)
                if (wanted(reports_[index]))
                    return true;
            from = reports_.size();
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{fileno(output_), POLLIN, 0};
            if (left.count() < 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[256];
            const ssize_t count = read(ready.fd, buffer, sizeof buffer);
            if (count <= 0)
                return false;
            for (ssize_t index = 0; index < count; ++index) {
                if (buffer[index] != '\n') {
                    pending_ += buffer[index];
                    continue;
                }
                reports_.push_back(pending_);
                pending_.clear();
            }
        }
    }

    FILE* output_ = nullptr;
    unsigned long xid_ = 0;
    std::vector<std::string> reports_;
    std::string pending_;
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
    // Every drag is made once and must arrive: the same name dropped three times is typed three
    // times, each once the target has taken it.
    const std::string quoted = "'" + spaced + "' ";
    // The pane's rows as one text, each padded to the pane's width: a long line runs on.
    const auto screenText = [](const State& s) {
        const size_t cols = static_cast<size_t>(s.activePane().number("cols"));
        std::string text;
        for (std::string row : s.lines(0, 0, 0)) {
            row.resize(std::max(row.size(), cols), ' ');
            text += row;
        }
        return text;
    };
    const auto typedTimes = [&](const State& s) {
        const std::string text = screenText(s);
        int count = 0;
        for (size_t at = text.find(quoted); at != std::string::npos; at = text.find(quoted, at + 1))
            ++count;
        return count;
    };
    {
        DragSource source({spaced});
        ASSERT_NE(source.xid(), 0u);
        for (int drop = 1; drop <= 3; ++drop) {
            EXPECT_EQ(source.dragTo(vesk.xid(), x, y), "finished") << "drop " << drop;
            vesk.expect([&](const State& s) { return typedTimes(s) >= drop; },
                        "the quoted path is typed at the prompt, drop " + std::to_string(drop));
        }
    }
    EXPECT_NE(screenText(vesk.state()).find("# " + quoted + quoted + quoted), std::string::npos)
        << "the quoted path and a space, each time";
    vesk.focus();
    vesk.typeLine(" echo dropped-and-typed-on");
    vesk.expect([&](const State& s) { return s.anyLineContains("dropped-and-typed-on"); }, "the line ran");

    const long long beeps = vesk.state().app().number("beeps");
    DragSource source({escaped});
    ASSERT_NE(source.xid(), 0u);
    EXPECT_EQ(source.dragTo(vesk.xid(), x, y), "finished");
    const State state = vesk.expect([&](const State& s) { return s.app().number("beeps") > beeps; },
                                    "the refused drop beeps");
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
