// The edges of a pane in a split window: the find bar stays inside a half- or third-width pane
// with the start of its text in sight and room for about 15 characters of it, and moves the match
// out from under itself, and the close button's column beside the terminal is painted in the
// terminal's background and is no wider than the button.
#include "PaneGeometry.h"
#include "VeskDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace veskgui {
namespace {

/// Splits the window's pane side by side; the state once both panes show a prompt.
State splitSideBySide(Vesk& vesk)
{
    vesk.key("ctrl+shift+d");
    return vesk.expect(
        [](const State& s) {
            const std::vector<Record> panes = s.panes();
            return panes.size() == 2 && panes[0]["running"] == "1" && panes[1]["running"] == "1" &&
                   !s.lines(0, 0, 0).empty() && !s.lines(0, 0, 1).empty();
        },
        "two panes side by side, each with a prompt");
}

/// The cells of a pane's grid in the window.
Box cellsOf(const Record& pane)
{
    const PaneGeometry geometry(pane);
    return Box(geometry.x, geometry.y, pane.number("cols") * geometry.cellWidth,
               pane.number("rows") * geometry.cellHeight);
}

/// The column between a pane's terminal and its right edge, where its close button lies.
Box closeColumnOf(const Record& pane)
{
    const Box terminal(pane, "terminal");
    const double terminalRight = terminal.x + terminal.width;
    return Box(terminalRight, std::stod(pane["y"]),
               std::stod(pane["x"]) + pane.number("width") - terminalRight, pane.number("height"));
}

/// The distinct colours (0xRRGGBB) of the whole pixels inside `box` of the PNG `shot`.
std::vector<unsigned> coloursIn(const std::string& shot, const Box& box)
{
    const int left = static_cast<int>(std::ceil(box.x));
    const int top = static_cast<int>(std::ceil(box.y));
    const int width = static_cast<int>(std::floor(box.x + box.width)) - left;
    const int height = static_cast<int>(std::floor(box.y + box.height)) - top;
    if (width <= 0 || height <= 0)
        return {};
    const std::string text = run("convert '" + shot + "' -crop " + std::to_string(width) + "x" +
                                 std::to_string(height) + "+" + std::to_string(left) + "+" +
                                 std::to_string(top) + " +repage -depth 8 -unique-colors txt:- 2>/dev/null");
    // One line a colour after the header: "0,0: (r,g,b)  #RRGGBB  name".
    std::vector<unsigned> colours;
    for (size_t hash = text.find("  #"); hash != std::string::npos; hash = text.find("  #", hash + 3))
        colours.push_back(static_cast<unsigned>(std::strtoul(text.substr(hash + 3, 6).c_str(), nullptr, 16)));
    return colours;
}

/// True when each channel of the two colours is within 2 of the other's.
bool sameColour(unsigned a, unsigned b)
{
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 2)
            return false;
    return true;
}

TEST(PaneEdgesGuiTests, TheFindBarFitsAHalfOrThirdWidthPaneAndLeavesTheMatchInSight)
{
    struct Case
    {
        /// The window's width before the split: each pane gets about half.
        int windowWidth;
        /// Lines above the match to scroll back through; without them the match is in the
        /// terminal's first lines and the bar cannot stay above it.
        bool scrollback;
    };
    for (const Case& c : {Case{960, true}, Case{640, false}}) {
        SCOPED_TRACE("a window " + std::to_string(c.windowWidth) + " wide");
        Vesk vesk;
        ASSERT_TRUE(vesk.started());
        vesk.focus();
        if (c.windowWidth != 960) {
            execute(
                {"xdotool", "windowsize", std::to_string(vesk.xid()), std::to_string(c.windowWidth), "620"});
            vesk.expect([&](const State& s) { return s.windows()[0].number("width") == c.windowWidth; },
                        "the window resized");
        }
        Record pane = splitSideBySide(vesk).activePane();
        ASSERT_EQ(pane["index"], "1");
        ASSERT_LE(std::abs(pane.number("width") - c.windowWidth / 2), 2) << "half the window";
        // "find-me" on a row of its own (the command line spells it otherwise), on the second row
        // of the screen.
        const long long rows = pane.number("rows");
        const std::string below = c.scrollback ? "; seq 1 " + std::to_string(rows - 3) : "";
        vesk.typeLine(std::string(c.scrollback ? "seq 1 200; " : "") + "printf 'fi%s\\n' nd-me" + below);
        // The prompt after the output, too: output arriving during the search would drop the match.
        const std::string lastOutput = c.scrollback ? std::to_string(rows - 3) : "find-me";
        vesk.expect(
            [&](const State& s) {
                const std::vector<std::string> lines = s.lines(0, 0, 1);
                return s.anyLineIs("find-me") && lines.size() >= 2 && lines[lines.size() - 2] == lastOutput &&
                       lines.back().find_first_not_of("0123456789") != std::string::npos;
            },
            "the output and the next prompt");

        vesk.key("ctrl+shift+f");
        vesk.expect([](const State& s) { return s.activePane()["find-bar"] == "1"; }, "the find bar");
        execute({"xdotool", "type", "--delay", "20", "find-me"});
        const State state = vesk.expect(
            [](const State& s) { return s.activePane()["selection"] == "find-me"; }, "the match selected");
        vesk.screenshot("vesk-find-bar-in-a-pane-" + std::to_string(c.windowWidth / 2));
        pane = state.activePane();

        // The bar, its field and the text in it are inside the pane's terminal.
        const Box terminal(pane, "terminal");
        const Box bar(pane, "find-bar");
        const Box field(pane, "find-field");
        EXPECT_TRUE(terminal.contains(bar)) << "bar " << bar << ", terminal " << terminal;
        EXPECT_TRUE(bar.contains(field)) << "field " << field << ", bar " << bar;
        EXPECT_GT(pane.number("find-field-text-width"), 0);
        EXPECT_LE(pane.number("find-field-text-width"), field.width) << "the whole text shows, its start too";
        // The other controls go to a row of their own before the field gets narrow.
        EXPECT_GE(field.width, 120) << "about 15 characters of a term show";

        // The match is not under the bar.
        const std::vector<std::string> lines = state.lines(0, 0, 1);
        const long long row = std::find(lines.begin(), lines.end(), "find-me") - lines.begin();
        ASSERT_LT(row, static_cast<long long>(lines.size())) << "the match is on screen";
        const PaneGeometry geometry(pane);
        const Box match(geometry.x, geometry.y + row * geometry.cellHeight, 7 * geometry.cellWidth,
                        geometry.cellHeight);
        EXPECT_FALSE(match.overlaps(bar)) << "match " << match << ", bar " << bar;
    }
}

TEST(PaneEdgesGuiTests, TheCloseColumnIsTheTerminalsBackgroundAndAsNarrowAsTheButton)
{
    Vesk vesk;
    ASSERT_TRUE(vesk.started());
    vesk.focus();
    splitSideBySide(vesk);
    // The pointer off the window: both buttons hide, and their columns show what lies under them.
    execute({"xdotool", "mousemove", "1279", "799"});
    const State state = vesk.expect(
        [](const State& s) {
            const std::vector<Record> panes = s.panes();
            return panes.size() == 2 && panes[0]["close-shown"] == "0" && panes[1]["close-shown"] == "0";
        },
        "both close buttons hidden");
    for (const Record& pane : state.panes()) {
        SCOPED_TRACE("pane " + pane["index"]);
        const Box close(pane, "close");
        const Box column = closeColumnOf(pane);
        EXPECT_GT(close.width, 0);
        EXPECT_LE(close.width, 24) << "a button for one small icon";
        EXPECT_LE(column.width, close.width + 4) << "column " << column << ", button " << close;
        EXPECT_TRUE(column.contains(close)) << "column " << column << ", button " << close;
        EXPECT_FALSE(close.overlaps(cellsOf(pane))) << "button " << close;
    }

    // The terminal's background, from blank cells at the end of its last row, fills each column
    // once the window has drawn the hidden buttons (a frame drawn just before may still show them).
    const TemporaryFolder shots;
    const std::string shot = shots.path() + "/panes.png";
    std::string wrong;
    const bool filled = poll(
        [&] {
            run("import -silent -window " + std::to_string(vesk.xid()) + " '" + shot + "'");
            wrong.clear();
            for (const Record& pane : state.panes()) {
                const PaneGeometry geometry(pane);
                const Box blank(geometry.x + (pane.number("cols") - 4) * geometry.cellWidth,
                                geometry.y + (pane.number("rows") - 1) * geometry.cellHeight,
                                3 * geometry.cellWidth, geometry.cellHeight);
                const Box column = closeColumnOf(pane);
                const std::vector<unsigned> background = coloursIn(shot, blank);
                const std::vector<unsigned> shown = coloursIn(shot, column);
                std::ostringstream out;
                out << std::hex << "pane " << pane["index"] << ": column " << column << " shows";
                bool same = background.size() == 1 && !shown.empty();
                for (unsigned colour : shown) {
                    out << " " << colour;
                    same = same && background.size() == 1 && sameColour(colour, background[0]);
                }
                out << ", its blank cells " << blank << " show";
                for (unsigned colour : background)
                    out << " " << colour;
                if (!same)
                    wrong += out.str() + "\n";
            }
            return wrong.empty();
        },
        10s);
    vesk.screenshot("vesk-pane-close-columns");
    EXPECT_TRUE(filled) << wrong;
}

} // namespace
} // namespace veskgui
