// The window-system half's pointer: who gets each click, drag, move and wheel step (the program,
// as exact reports, or the view), the reports' balance, selection gestures with their drag
// threshold and autoscroll on a manual clock, the primary selection, the wheel's routes and
// budget, the scroller's two styles and the keys that scroll the scrollback.

#include "Kestrovan/Apple/View/TerminalViewTestSupport.h"
#include "Kestrovan/Mac/MacKeyTestSupport.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrovan::testing {
namespace {

using namespace std::chrono_literals;
using platform::ModifierFlags;
using platform::MouseEventType;
using platform::Point;

constexpr uint32_t shift = ModifierFlags::shift;
constexpr uint32_t control = ModifierFlags::control;
constexpr uint32_t alt = ModifierFlags::option;
constexpr int left = 0;
constexpr int right = 1;
constexpr int middle = 2;

struct PointerFixture : ViewFixture
{
    PointerFixture()
        : ViewFixture(TerminalOptions::defaults(), {640, 480},
                      [](platform::Size size, TerminalView::Configuration configuration) {
                          return MacTerminalView::create(size, std::move(configuration));
                      })
    {
        host->setFocus(true);
        settle();
        cell = *view->cellDimension();
    }
    MacTerminalView& mac() { return static_cast<MacTerminalView&>(*view); }

    /// The y-up view point at (column, screen row) in cells; 0.5 is a cell's centre.
    Point at(double col, double row) const { return Point{col * cell.width, 480 - row * cell.height}; }
    Point centre(int col, int row) const { return at(col + 0.5, row + 0.5); }

    void mouse(MouseEventType type, int button, Point point, uint32_t flags = 0, int clicks = 1)
    {
        host->deliverMouse(platform::MouseEvent{type, button, point, ModifierFlags{flags}, clicks, 0});
        settle();
    }
    void down(int button, Point point, uint32_t flags = 0, int clicks = 1)
    {
        mouse(MouseEventType::down, button, point, flags, clicks);
    }
    void up(int button, Point point, uint32_t flags = 0, int clicks = 1)
    {
        mouse(MouseEventType::up, button, point, flags, clicks);
    }
    void drag(int button, Point point, uint32_t flags = 0)
    {
        mouse(MouseEventType::dragged, button, point, flags, 0);
    }
    void wheel(double deltaY, bool precise = false, uint32_t flags = 0)
    {
        host->deliverScroll(platform::ScrollEvent{centre(3, 4), 0, deltaY, precise, ModifierFlags{flags}, 0});
        settle();
    }
    /// What was sent since the last call.
    std::string sent()
    {
        std::string text = delegate->sentText();
        delegate->clearSent();
        return text;
    }
    std::string selected() { return view->getSelection().value_or("<none>"); }
    int yDisp()
    {
        return locked([](Terminal& t) { return t.buffer().yDisp(); });
    }
    /// `count` numbered lines, so the buffer has scrollback.
    void fillLines(int count)
    {
        std::string text;
        for (int line = 0; line < count; ++line)
            text += "line " + std::to_string(line) + "\r\n";
        feed(text);
    }

    platform::Size cell;
};

Point operator+(Point a, Point b)
{
    return Point{a.x + b.x, a.y + b.y};
}

std::string sgr(int code, int col, int row, char final)
{
    return "\x1b[<" + std::to_string(code) + ";" + std::to_string(col + 1) + ";" + std::to_string(row + 1) +
           final;
}

TEST(MacPointerTests, ClicksReachTheProgramByModeButtonModifiersAndTheHostsSwitch)
{
    // A click at cell (3, 2): what leaves after the press, and after the release. SGR encoding.
    struct Case
    {
        const char* name;
        const char* modes;
        int button;
        uint32_t flags;
        bool allow;
        std::string afterPress;
        std::string afterRelease;
    };
    const Case cases[] = {
        {"tracking off", "", left, 0, true, "", ""},
        {"X10: press only", "\x1b[?9h", left, 0, true, sgr(0, 3, 2, 'M'), ""},
        {"X10: no modifiers", "\x1b[?9h", right, control, true, sgr(2, 3, 2, 'M'), ""},
        {"vt200 left", "\x1b[?1000h", left, 0, true, sgr(0, 3, 2, 'M'), sgr(0, 3, 2, 'm')},
        {"vt200 right names button 2", "\x1b[?1000h", right, 0, true, sgr(2, 3, 2, 'M'), sgr(2, 3, 2, 'm')},
        {"vt200 middle", "\x1b[?1000h", middle, 0, true, sgr(1, 3, 2, 'M'), sgr(1, 3, 2, 'm')},
        {"Ctrl is reported", "\x1b[?1000h", left, control, true, sgr(16, 3, 2, 'M'), sgr(16, 3, 2, 'm')},
        {"Shift selects", "\x1b[?1002h", left, shift, true, "", ""},
        {"Shift on the right button", "\x1b[?1000h", right, shift, true, "", ""},
        {"Shift captured by the program", "\x1b[?1000h\x1b[>1s", left, shift, true, sgr(4, 3, 2, 'M'),
         sgr(4, 3, 2, 'm')},
        {"an Alt click is sent whole at the release", "\x1b[?1000h", left, alt, true, "",
         sgr(8, 3, 2, 'M') + sgr(8, 3, 2, 'm')},
        {"Ctrl+Alt too", "\x1b[?1003h", left, control | alt, true, "",
         sgr(24, 3, 2, 'M') + sgr(24, 3, 2, 'm')},
        {"an Alt click in X10 mode", "\x1b[?9h", left, alt, true, "", sgr(0, 3, 2, 'M')},
        {"the host's switch off", "\x1b[?1003h", left, 0, false, "", ""},
        {"the switch off, right button", "\x1b[?1000h", right, 0, false, "", ""},
    };
    for (const Case& c : cases) {
        PointerFixture f;
        f.feed("hello there\r\n\x1b[?1006h");
        f.feed(c.modes);
        f.view->allowMouseReporting = c.allow;
        f.sent();
        f.down(c.button, f.centre(3, 2), c.flags);
        EXPECT_EQ(f.sent(), c.afterPress) << c.name;
        f.up(c.button, f.centre(3, 2), c.flags);
        EXPECT_EQ(f.sent(), c.afterRelease) << c.name;
        EXPECT_FALSE(f.mac().pressWasReported(TerminalMouseButton::left)) << c.name;
    }
}

TEST(MacPointerTests, DragsAndMotionAreReportedAsTheModesAsk)
{
    // A scripted gesture and the exact bytes it sends, SGR encoding, at cells (2, 1) and (5, 3).
    struct Case
    {
        const char* name;
        const char* modes;
        std::function<void(PointerFixture&)> gesture;
        std::string expected;
    };
    const auto leftDrag = [](PointerFixture& f) {
        f.down(left, f.centre(2, 1));
        f.drag(left, f.centre(5, 3));
        f.drag(left, f.centre(5, 3) + Point{1, 1});
        f.up(left, f.centre(5, 3));
    };
    const auto rightDrag = [](PointerFixture& f) {
        f.down(right, f.centre(2, 1));
        f.drag(right, f.centre(5, 3), control);
        f.up(right, f.centre(5, 3));
    };
    const auto plainMove = [](PointerFixture& f) {
        f.mouse(MouseEventType::moved, 0, f.centre(5, 3), 0, 0);
        f.mouse(MouseEventType::moved, 0, f.centre(5, 3) + Point{2, 0}, 0, 0);
        f.mouse(MouseEventType::moved, 0, f.centre(6, 3), shift, 0);
    };
    const Case cases[] = {
        {"vt200 swallows drags", "\x1b[?1000h", leftDrag, sgr(0, 2, 1, 'M') + sgr(0, 5, 3, 'm')},
        {"button tracking: one report per cell, with its button", "\x1b[?1002h", leftDrag,
         sgr(0, 2, 1, 'M') + sgr(32, 5, 3, 'M') + sgr(0, 5, 3, 'm')},
        {"a right drag names the right button", "\x1b[?1002h", rightDrag,
         sgr(2, 2, 1, 'M') + sgr(50, 5, 3, 'M') + sgr(2, 5, 3, 'm')},
        {"plain motion as 35, shift as 39", "\x1b[?1003h", plainMove,
         sgr(35, 5, 3, 'M') + sgr(39, 6, 3, 'M')},
        {"no plain motion in button tracking", "\x1b[?1002h", plainMove, ""},
        {"pixels in SGR-pixel mode", "\x1b[?1003h\x1b[?1016h",
         [](PointerFixture& f) {
             f.mouse(MouseEventType::moved, 0, Point{10.5, 480 - 20.5}, 0, 0);
         },
         "\x1b[<35;11;21M"},
        {"X10 encoding", "\x1b[?1000h\x1b[?1006l",
         [](PointerFixture& f) {
             f.down(middle, f.centre(2, 1));
             f.up(middle, f.centre(2, 1));
         },
         "\x1b[M!#\"\x1b[M##\""},
    };
    for (const Case& c : cases) {
        PointerFixture f;
        f.feed("\x1b[?1006h");
        f.feed(c.modes);
        f.sent();
        c.gesture(f);
        EXPECT_EQ(f.sent(), c.expected) << c.name;
    }
}

TEST(MacPointerTests, AReleaseIsReportedExactlyWhenItsPressWas)
{
    PointerFixture f;
    f.feed("\x1b]8;;https://example.invalid/\x07link\x1b]8;;\x07 text\r\n\x1b[?1000h\x1b[?1006h");
    f.sent();
    // Shift pressed before the release: the program still hears the release, with Shift in it.
    f.down(left, f.centre(6, 0));
    f.up(left, f.centre(6, 0), shift);
    EXPECT_EQ(f.sent(), sgr(0, 6, 0, 'M') + sgr(4, 6, 0, 'm'));
    // Shift let go before the release: the press was the view's, and so is the release.
    f.down(left, f.centre(6, 0), shift);
    f.up(left, f.centre(6, 0));
    EXPECT_EQ(f.sent(), "");
    // A Ctrl+click that opens a link still ends for the program.
    f.view->setLinkHighlightMode(LinkHighlightMode::alwaysWithModifier);
    f.delegate->events.clear();
    f.down(left, f.centre(1, 0), control);
    f.up(left, f.centre(1, 0), control);
    EXPECT_EQ(f.sent(), sgr(16, 1, 0, 'M') + sgr(16, 1, 0, 'm'));
    EXPECT_EQ(f.delegate->events, std::vector<std::string>{"open https://example.invalid/"});
    // The right button likewise, also when the program switched to X10 (no releases) meanwhile.
    f.down(right, f.centre(6, 0));
    f.feed("\x1b[?9h");
    f.up(right, f.centre(6, 0), shift);
    EXPECT_EQ(f.sent(), sgr(2, 6, 0, 'M'));
    EXPECT_FALSE(f.mac().pressWasReported(TerminalMouseButton::right));
    // The host's switch turned off while a button is held: nothing more leaves.
    f.feed("\x1b[?1002h");
    f.down(left, f.centre(2, 0));
    f.view->allowMouseReporting = false;
    f.drag(left, f.centre(4, 0));
    f.up(left, f.centre(4, 0));
    f.mouse(MouseEventType::moved, 0, f.centre(8, 0), 0, 0);
    f.wheel(1);
    EXPECT_EQ(f.sent(), sgr(0, 2, 0, 'M'));
}

TEST(MacPointerTests, ADragSelectsPastAThresholdAndBlocksWithAlt)
{
    PointerFixture f;
    f.feed("abcdefghij\r\nklmnopqrst\r\nuvwxyz0123\r\n");
    // The threshold inside the press's cell: half the smaller side, at least 3 points.
    const double threshold = MacTerminalView::selectionDragThreshold(f.cell);
    struct Case
    {
        const char* name;
        Point to;
        bool active;
        const char* selected;
    };
    // Character selections run between cell boundaries: the press at the left of "c" anchors
    // before it; a drag over a character's right half takes it in.
    const Point press = f.at(2.1, 0.5);
    const Case cases[] = {
        {"a small wobble in the cell", press + Point{threshold * 0.6, 0}, false, nullptr},
        {"the threshold in the cell", press + Point{threshold, 0}, true, nullptr},
        {"into the next cells", f.centre(5, 0), true, "cdef"},
        {"onto the next row", f.centre(1, 1), true, "cdefghij\nkl"},
        {"back before the press", f.at(0.2, 0.5), true, "ab"},
    };
    for (const Case& c : cases) {
        f.view->selectNone();
        f.down(left, press);
        f.drag(left, c.to);
        EXPECT_EQ(f.view->selectionActive(), c.active) << c.name;
        if (c.selected) {
            EXPECT_EQ(f.selected(), c.selected) << c.name;
        }
        f.up(left, c.to);
    }
    // In an 8 x 17 cell a 2-point move is a click and a 4-point move a drag; small cells keep 3.
    EXPECT_EQ(MacTerminalView::selectionDragThreshold({8, 17}), 4);
    EXPECT_EQ(MacTerminalView::selectionDragThreshold({5, 10}), 3);
    EXPECT_EQ(MacTerminalView::selectionDragThreshold({20, 12}), 6);

    // Alt+drag makes a block, also where the program takes the mouse; the program hears nothing.
    f.feed("\x1b[?1000h\x1b[?1006h");
    f.sent();
    f.down(left, f.at(1.2, 0.5), alt);
    EXPECT_TRUE(f.mac().heldOptionPress());
    f.drag(left, f.at(3.8, 2.5), alt);
    f.up(left, f.at(3.8, 2.5), alt);
    EXPECT_EQ(f.sent(), "");
    EXPECT_TRUE(f.locked([&](Terminal&) { return f.view->selection()->isBlock(); }));
    EXPECT_EQ(f.selected(), "bcd\nlmn\nvwx");
    EXPECT_EQ(f.host->primaryOffers.back(), "bcd\nlmn\nvwx");
}

TEST(MacPointerTests, ClicksSelectWordsLinesAndExtendAndFinishedSelectionsBecomePrimary)
{
    PointerFixture f;
    const int cols = f.view->terminalDimensions().cols;
    // Row 0 holds two words; rows 1-2 one logical line wrapped across them.
    f.feed("hello world\r\n" + std::string(size_t(cols), 'x') + "yz\r\n");
    f.down(left, f.centre(7, 0), 0, 1);
    f.up(left, f.centre(7, 0), 0, 1);
    EXPECT_EQ(f.selected(), "<none>") << "a single click selects nothing";
    EXPECT_TRUE(f.host->primaryOffers.empty()) << "and offers nothing";
    f.down(left, f.centre(7, 0), 0, 2);
    f.up(left, f.centre(7, 0), 0, 2);
    EXPECT_EQ(f.selected(), "world");
    f.down(left, f.centre(0, 2), 0, 3);
    f.up(left, f.centre(0, 2), 0, 3);
    EXPECT_EQ(f.selected(), std::string(size_t(cols), 'x') + "yz") << "the whole logical line";
    // A drag, then Shift-click extends it; a plain click ends it.
    f.down(left, f.at(0.2, 0.5));
    f.drag(left, f.at(2.8, 0.5));
    f.up(left, f.at(2.8, 0.5));
    f.down(left, f.at(6.8, 0.5), shift);
    f.up(left, f.at(6.8, 0.5), shift);
    EXPECT_EQ(f.selected(), "hello w");
    EXPECT_EQ(f.host->primaryOffers,
              (std::vector<std::string>{"world", std::string(size_t(cols), 'x') + "yz", "hel", "hello w"}));
    f.down(left, f.centre(6, 0));
    f.up(left, f.centre(6, 0));
    EXPECT_FALSE(f.view->selectionActive());
    f.view->selectAll();
    EXPECT_EQ(f.host->primaryOffers.size(), 5u) << "Select All offers too";
}

TEST(MacPointerTests, AutoscrollSpeedGrowsWithTheDistancePastTheEdge)
{
    // Rows past the edge and lines per step, for a screen of 12 rows and one of 30.
    const int table[][3] = {{0, 1, 1},   {1, 1, 1},    {2, 3, 3},     {5, 3, 3}, {6, 10, 10},
                            {9, 10, 10}, {10, 20, 30}, {500, 20, 30}, {-3, 1, 1}};
    for (const auto& row : table) {
        EXPECT_EQ(MacTerminalView::calcScrollingVelocity(row[0], 12), row[1]) << row[0];
        EXPECT_EQ(MacTerminalView::calcScrollingVelocity(row[0], 30), row[2]) << row[0];
    }
}

TEST(MacPointerTests, DraggingPastTheEdgesAutoscrollsOnTheTimersClock)
{
    PointerFixture f;
    f.fillLines(200);
    const int rows = f.view->terminalDimensions().rows;
    // Rows above the top (y-up points beyond the height) and the lines per 0.05 s step.
    struct Case
    {
        double rowsAbove;
        int delta;
    };
    const Case cases[] = {{0.5, -1}, {2.5, -3}, {6.5, -10}, {11.5, -std::max(rows, 20)}};
    for (const Case& c : cases) {
        f.view->scrollTo(100, false);
        f.down(left, f.centre(2, 5));
        f.drag(left, f.at(2.5, -c.rowsAbove));
        EXPECT_TRUE(f.mac().autoScrollRunning()) << c.rowsAbove;
        EXPECT_EQ(f.mac().autoScrollDelta(), c.delta) << c.rowsAbove;
        f.timers->advance(50ms);
        f.settle();
        EXPECT_EQ(f.yDisp(), 100 + c.delta) << c.rowsAbove;
        // The selection follows to the row now under the pointer.
        EXPECT_EQ(f.locked([&](Terminal&) { return f.view->selection()->end().row; }),
                  100 + c.delta - int(c.rowsAbove));
        // Back inside, the scrolling stops at once.
        f.drag(left, f.centre(2, 5));
        EXPECT_FALSE(f.mac().autoScrollRunning());
        f.up(left, f.centre(2, 5));
    }
    // Below the bottom of a scrolled-back view: towards the newest lines, stopped by the release.
    f.view->scrollTo(50, false);
    f.down(left, f.centre(2, 5));
    f.drag(left, f.at(2.5, rows + 11.5));
    EXPECT_EQ(f.mac().autoScrollDelta(), std::max(rows, 20));
    f.timers->advance(100ms);
    EXPECT_EQ(f.yDisp(), 50 + 2 * std::max(rows, 20));
    f.up(left, f.at(2.5, rows + 11.5));
    EXPECT_FALSE(f.mac().autoScrollRunning());
    f.timers->advance(100ms);
    EXPECT_EQ(f.yDisp(), 50 + 2 * std::max(rows, 20));
    // While the newest lines show, a drag below starts nothing: there is nothing below.
    f.view->scrollTo(1000, false);
    f.down(left, f.centre(2, 5));
    f.drag(left, f.at(2.5, rows + 5));
    EXPECT_FALSE(f.mac().autoScrollRunning());
    f.up(left, f.at(2.5, rows + 5));
}

TEST(MacPointerTests, TheMiddleButtonAndShiftInsertPasteThePrimarySelection)
{
    PointerFixture f;
    const std::string elsewhere = "from elsewhere";
    f.host->primaryClipboard.takeOwnership(
        {{"text/plain", std::vector<uint8_t>(elsewhere.begin(), elsewhere.end())}});
    struct Case
    {
        const char* name;
        const char* modes;
        bool primaryPaste;
        std::function<void(PointerFixture&)> gesture;
        std::string expected;
    };
    const auto middleClick = [](PointerFixture& f) {
        f.down(middle, f.centre(1, 1));
        f.up(middle, f.centre(1, 1));
    };
    const auto shiftInsert = [](PointerFixture& f) {
        platform::KeyboardTranslator keys;
        f.host->deliverKey(keys.press(toolkitKey(keyInsert, shiftMask)));
        f.host->deliverKey(keys.release(toolkitKey(keyInsert, shiftMask)));
        f.settle();
    };
    const Case cases[] = {
        {"a middle click", "", true, middleClick, "from elsewhere"},
        {"bracketed", "\x1b[?2004h", true, middleClick, "\x1b[200~from elsewhere\x1b[201~"},
        {"the desktop's setting off", "", false, middleClick, ""},
        {"the program takes the click", "\x1b[?1000h\x1b[?1006h", true, middleClick,
         sgr(1, 1, 1, 'M') + sgr(1, 1, 1, 'm')},
        {"Shift+Insert", "", false, shiftInsert, "from elsewhere"},
        {"Shift+Insert bracketed", "\x1b[?2004h", true, shiftInsert, "\x1b[200~from elsewhere\x1b[201~"},
    };
    for (const Case& c : cases) {
        f.feed("\x1b[?2004l\x1b[?1000l");
        f.feed(c.modes);
        f.host->primaryPaste = c.primaryPaste;
        f.sent();
        c.gesture(f);
        EXPECT_EQ(f.sent(), c.expected) << c.name;
    }
}

TEST(MacPointerTests, TheWheelScrollsReportsOrSendsCursorKeysByScreenModeAndModifiers)
{
    // A wheel's notch is three lines or cursor keys and one report; a touchpad's distance is a
    // cell's height to a line, key or report.
    const std::string up3 = "\x1b[A\x1b[A\x1b[A";
    struct Case
    {
        const char* name;
        const char* setup;
        uint32_t flags;
        double deltaY;
        bool precise;
        bool allow;
        int scrolledLines;
        std::string sent;
    };
    const Case cases[] = {
        {"the scrollback", "", 0, 1, false, true, 3, ""},
        {"three notches at once", "", 0, 3, false, true, 9, ""},
        {"back down", "", 0, -1, false, true, -3, ""},
        {"a touchpad's two lines", "", 0, 2, true, true, 2, ""},
        {"a program tracking the mouse", "\x1b[?1000h", 0, 1, false, true, 0, sgr(64, 3, 4, 'M')},
        {"two notches merged into one event", "\x1b[?1000h", 0, 2, false, true, 0,
         sgr(64, 3, 4, 'M') + sgr(64, 3, 4, 'M')},
        {"down, with Ctrl", "\x1b[?1000h", control, -1, false, true, 0, sgr(81, 3, 4, 'M')},
        {"Shift keeps it local", "\x1b[?1000h", shift, 1, false, true, 3, ""},
        {"Alt keeps it local", "\x1b[?1000h", alt, 1, false, true, 3, ""},
        {"the host's switch off", "\x1b[?1000h", 0, 1, false, false, 3, ""},
        {"alternate screen: cursor keys", "\x1b[?1049h", 0, 2, false, true, 0, up3 + up3},
        {"in application mode", "\x1b[?1049h\x1b[?1h", 0, 1, false, true, 0, "\x1bOA\x1bOA\x1bOA"},
        {"down", "\x1b[?1049h", 0, -1, false, true, 0, "\x1b[B\x1b[B\x1b[B"},
        {"a touchpad's two lines: two keys", "\x1b[?1049h", 0, 2, true, true, 0, "\x1b[A\x1b[A"},
        {"Alt: nothing", "\x1b[?1049h", alt, 1, false, true, 0, ""},
        {"without mode 1007: nothing", "\x1b[?1049h\x1b[?1007l", 0, 1, false, true, 0, ""},
        {"a program on the alternate screen", "\x1b[?1049h\x1b[?1000h", 0, -1, false, true, 0,
         sgr(65, 3, 4, 'M')},
    };
    for (const Case& c : cases) {
        PointerFixture f;
        f.fillLines(100);
        f.view->scrollTo(50, false);
        f.feed(std::string("\x1b[?1006h") + c.setup);
        f.view->allowMouseReporting = c.allow;
        f.sent();
        const int before = f.yDisp();
        f.wheel(c.precise ? c.deltaY * f.cell.height : c.deltaY, c.precise, c.flags);
        EXPECT_EQ(f.sent(), c.sent) << c.name;
        if (!f.locked([](Terminal& t) { return t.isCurrentBufferAlternate(); })) {
            EXPECT_EQ(before - f.yDisp(), c.scrolledLines) << c.name;
        }
    }
}

TEST(MacPointerTests, WheelReportsKeepToTheBudgetAndFractionsOfANotchAddUp)
{
    PointerFixture f;
    f.fillLines(100);
    f.feed("\x1b[?1000h\x1b[?1006h");
    f.sent();
    const auto reports = [&] {
        const std::string text = f.sent();
        size_t count = 0;
        for (size_t at = text.find("\x1b[<"); at != std::string::npos; at = text.find("\x1b[<", at + 1))
            ++count;
        return count;
    };
    // A touchpad fling of 20 lines: 6 reports, then none until the bucket refills (one per 10 ms).
    f.wheel(20 * f.cell.height, true);
    EXPECT_EQ(reports(), 6u);
    f.wheel(20 * f.cell.height, true);
    EXPECT_EQ(reports(), 0u);
    f.timers->advance(10ms);
    f.wheel(20 * f.cell.height, true);
    EXPECT_EQ(reports(), 1u);
    // Ten quick wheel notches: a burst of 6.
    f.timers->advance(1s);
    for (int notch = 0; notch < 10; ++notch)
        f.wheel(1);
    EXPECT_EQ(reports(), 6u);
    // A high-resolution wheel's eighths of a notch: one report a notch, not one an event.
    f.timers->advance(1s);
    for (int eighth = 0; eighth < 7; ++eighth)
        f.wheel(0.125);
    EXPECT_EQ(reports(), 0u);
    f.wheel(0.125);
    EXPECT_EQ(reports(), 1u);
    // Locally the same eighths add up to a notch's three lines; a touchpad's points still add up
    // a cell's height to a line.
    f.feed("\x1b[?1000l");
    f.view->scrollTo(50, false);
    for (int eighth = 0; eighth < 8; ++eighth)
        f.wheel(0.125);
    EXPECT_EQ(f.yDisp(), 47);
    for (int step = 0; step < 3; ++step)
        f.wheel(f.cell.height / 3 + 0.01, true);
    EXPECT_EQ(f.yDisp(), 46);

    // Deltas that are not numbers move nothing; a sensitivity without bound scrolls to the top, no
    // further.
    f.view->scrollTo(50, false);
    f.wheel(std::numeric_limits<double>::quiet_NaN());
    f.wheel(std::numeric_limits<double>::infinity());
    EXPECT_EQ(f.yDisp(), 50);
    f.mac().setScrollSensitivity(1e300);
    f.wheel(1);
    EXPECT_EQ(f.yDisp(), 0);
    f.mac().setScrollSensitivity(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(f.mac().scrollSensitivity(), 0.05);
    f.mac().setScrollSensitivity(0);
    EXPECT_EQ(f.mac().scrollSensitivity(), 0.05);
    const uint64_t shows = f.view->overlayScrollerShows();
    f.mac().setScrollSensitivity(1);
    f.wheel(-1);
    EXPECT_EQ(f.yDisp(), 3);
    EXPECT_GT(f.view->overlayScrollerShows(), shows) << "local scrolling shows the scroller";
}

TEST(MacPointerTests, TheLegacyScrollerStaysAndNarrowsTheGridWithOneResize)
{
    PointerFixture f;
    const int cols = f.view->terminalDimensions().cols;
    const platform::RecordingScroller& bar = *f.host->scrollers.back();
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(f.mac().reservedScrollerWidth(), 0);
    f.delegate->events.clear();
    platform::Appearance legacy = f.host->appearance();
    legacy.overlayScrolling = false;
    f.host->setAppearance(legacy);
    EXPECT_EQ(f.mac().scrollerStyle(), MacTerminalView::ScrollerStyle::legacy);
    EXPECT_EQ(f.mac().reservedScrollerWidth(), bar.preferredWidth());
    EXPECT_EQ(f.view->terminalDimensions().cols, int((640 - bar.preferredWidth()) / f.cell.width));
    EXPECT_LT(f.view->terminalDimensions().cols, cols);
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.frame().x + bar.frame().width, 640);
    // Nothing to scroll: the legacy scroller stays, only disabled.
    f.tickUntilPaused();
    EXPECT_FALSE(bar.state().isEnabled);
    EXPECT_FALSE(bar.isHidden());
    // The same style again resizes nothing; back to the overlay gives the width back.
    legacy.textColor = platform::NativeColor::sRGB(0.5, 0.5, 0.5);
    f.host->setAppearance(legacy);
    legacy.overlayScrolling = true;
    f.host->setAppearance(legacy);
    EXPECT_EQ(f.view->terminalDimensions().cols, cols);
    EXPECT_TRUE(bar.isHidden());
    int sizeReports = 0;
    for (const std::string& event : f.delegate->events)
        sizeReports += event.rfind("size ", 0) == 0;
    EXPECT_EQ(sizeReports, 2) << "one resize each way";
}

TEST(MacPointerTests, TheScrollerPagesFromItsTrackAndFollowsAnErasedScrollback)
{
    PointerFixture f;
    f.fillLines(200);
    f.tickUntilPaused();
    platform::RecordingScroller& bar = *f.host->scrollers.back();
    ASSERT_TRUE(bar.state().isEnabled);
    const int rows = f.view->terminalDimensions().rows;
    const int newest = f.yDisp();
    bar.userActs(platform::ScrollerPart::decrementPage, 0);
    EXPECT_EQ(f.yDisp(), newest - rows) << "a page up";
    EXPECT_DOUBLE_EQ(bar.state().doubleValue, double(newest - rows) / newest) << "the knob shows the page";
    bar.userActs(platform::ScrollerPart::incrementPage, 0);
    EXPECT_EQ(f.yDisp(), newest);
    bar.userActs(platform::ScrollerPart::knob, 0.5);
    EXPECT_EQ(f.yDisp(), newest / 2);
    bar.userActs(platform::ScrollerPart::decrementLine, 0.9);
    EXPECT_EQ(f.yDisp(), newest / 2) << "line parts do not scroll";

    // CSI 3 J: the scroller learns at the next frame that nothing is left to scroll.
    f.feed("\x1b[3J");
    f.tickUntilPaused();
    EXPECT_FALSE(bar.state().isEnabled);
    EXPECT_EQ(f.yDisp(), 0);
}

TEST(MacPointerTests, ShiftWithThePageKeysScrollsTheScrollbackAndThePlainKeysAreTheProgramsOnBothScreens)
{
    PointerFixture f;
    f.fillLines(200);
    const int rows = f.view->terminalDimensions().rows;
    const int newest = f.yDisp();
    platform::KeyboardTranslator keys;
    const auto key = [&](const UsKey& which, uint32_t state) {
        f.host->deliverKey(keys.press(toolkitKey(which, state)));
        f.host->deliverKey(keys.release(toolkitKey(which, state)));
        f.settle();
        return f.sent();
    };
    struct Case
    {
        const char* name;
        UsKey key;
        uint32_t state;
        int yDisp;
        std::string sent;
    };
    const Case cases[] = {
        {"Shift+PageUp", keyPageUp, shiftMask, newest - rows, ""},
        {"Shift+PageUp again", keyPageUp, shiftMask, newest - 2 * rows, ""},
        {"Shift+PageDown", keyPageDown, shiftMask, newest - rows, ""},
        {"Shift+Home", keyHome, shiftMask, 0, ""},
        {"Shift+End", keyEnd, shiftMask, newest, ""},
        {"Shift+Home again", keyHome, shiftMask, 0, ""},
        // Keys for the program bring the live screen back, as all typing does.
        {"PageUp is the program's", keyPageUp, 0, newest, "\x1b[5~"},
        {"PageDown is the program's", keyPageDown, 0, newest, "\x1b[6~"},
    };
    f.sent();
    for (const Case& c : cases) {
        EXPECT_EQ(key(c.key, c.state), c.sent) << c.name;
        EXPECT_EQ(f.yDisp(), c.yDisp) << c.name;
    }
    // On the alternate screen there is no scrollback: the program gets the keys, with Shift.
    f.feed("\x1b[?1049h");
    EXPECT_EQ(key(keyPageUp, shiftMask), "\x1b[5;2~");
    EXPECT_EQ(key(keyHome, shiftMask), "\x1b[1;2H");
    EXPECT_EQ(key(keyPageUp, 0), "\x1b[5~");
}

} // namespace
} // namespace kestrovan::testing
