// The find bar and the view's edit and find actions on the recording host: where the bar goes,
// what fills it, which search each change, key and button runs, the process-wide find pasteboard,
// the view's own shortcuts and the enabled states it pushes.

#include "Kestrovan/Mac/FindPasteboard.h"
#include "Kestrovan/Mac/MacViewTestSupport.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/UI/MenuKeyRouter.h"
#include "Platform/UI/Utf8.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Action = TerminalViewAction;

struct FindFixture : MacViewFixture
{
    FindFixture()
    {
        FindPasteboard::clear();
        feed("hello world\r\nhelp Hello\r\nhello\r\n");
        mac().onActionStatesChanged = [this](const TerminalViewActionStates& states) {
            pushed.push_back(states);
        };
    }
    ~FindFixture() { FindPasteboard::clear(); }
    platform::RecordingFindBar& bar() { return *host->findBars.at(0); }
    /// The selected match as "row:column text", or "none".
    std::string match()
    {
        return locked([&](Terminal&) -> std::string {
            const auto& selection = *view->selection();
            if (!selection.active())
                return "none";
            return std::to_string(selection.start().row) + ":" + std::to_string(selection.start().col) + " " +
                   selection.getSelectedText();
        });
    }
    void select(Position start, Position end)
    {
        locked([&](Terminal&) { view->selection()->setSelection(start, end); });
        settle();
    }
    std::vector<TerminalViewActionStates> pushed;
};

TEST(MacFindTests, TheBarSitsTopRightWithinItsWidthsAndNeverPastTheLeftEdge)
{
    struct Case
    {
        platform::Size view;
        double room;
        platform::Size bar;
        bool atBottom;
        platform::Rect frame;
    };
    const Case cases[] = {
        {{640, 480}, 520, {520, 30}, false, {112, 442, 520, 30}},
        {{500, 300}, 484, {484, 30}, false, {8, 262, 484, 30}},
        {{500, 300}, 484, {484, 30}, true, {8, 8, 484, 30}},
        {{300, 100}, 284, {284, 60}, false, {8, 32, 284, 60}},
        // Narrower than the bar and its margins: the margins go first, then the bar's width.
        {{210, 100}, 194, {200, 60}, false, {2, 32, 200, 60}},
        {{150, 100}, 134, {200, 60}, false, {0, 32, 150, 60}},
        {{10, 100}, 0, {200, 60}, true, {0, 8, 10, 60}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MacTerminalView::findBarRoom(c.view.width), c.room) << c.view.width;
        EXPECT_EQ(MacTerminalView::findBarFrame(c.view, c.bar, c.atBottom), c.frame) << c.view.width;
    }

    FindFixture f;
    f.mac().showFindBar(false);
    EXPECT_EQ(f.bar().labels, MacTerminalView::findBarLabels());
    EXPECT_EQ(f.bar().labels.placeholder, "Find");
    EXPECT_EQ(f.bar().labels.caseSensitiveTooltip, "Case Sensitive");
    EXPECT_EQ(f.bar().frame(), (platform::Rect{112, 442, 520, 30}));
    f.host->resize({500, 300});
    EXPECT_EQ(f.bar().frame(), (platform::Rect{8, 262, 484, 30})) << "follows the view's size";
    f.host->resize({300, 300});
    EXPECT_EQ(f.bar().frame(), (platform::Rect{8, 232, 284, 60})) << "the bar's size at the room it has";
    EXPECT_EQ(f.host->findBars.size(), 1u) << "made once";
}

TEST(MacFindTests, TheMatchItMovesToIsNeverUnderTheBar)
{
    // A view 300 points wide, where the bar covers the top rows over their whole width.
    struct Case
    {
        const char* name;
        /// Output fed before the search, with `%rows` replaced by the screen's row count less 3.
        std::string output;
        std::string term;
        bool barAtBottom;
        /// How many lines the view scrolled back to show the match below the bar.
        int64_t scrolledBack;
    };
    const Case cases[] = {
        {"no scrollback to move: the bar goes down", "\r\nneedle\r\n", "needle", true, 0},
        {"scrollback above: the match comes down", "%lines\r\nneedle\r\n%rows", "needle", false, -1},
        {"a match clear of the top", "\r\n\r\n\r\n\r\n\r\n\r\n\r\nneedle\r\n", "needle", false, 0},
        {"the alternate screen cannot scroll", "\033[?1049h\r\nneedle\r\n", "needle", true, 0},
    };
    for (const Case& c : cases) {
        FindFixture f;
        f.feed("\033[H\033[2J\033[3J");
        f.host->resize({300, 300});
        const int rows = f.locked([](Terminal& terminal) { return terminal.rows(); });
        std::string output = c.output;
        if (const size_t at = output.find("%lines"); at != std::string::npos) {
            std::string lines;
            for (int line = 0; line < 100; ++line)
                lines += "line " + std::to_string(line) + "\r\n";
            output.replace(at, 6, lines);
        }
        if (const size_t at = output.find("%rows"); at != std::string::npos) {
            std::string lines;
            for (int line = 0; line < rows - 3; ++line)
                lines += "x\r\n";
            output.replace(at, 5, lines);
        }
        f.feed(output);
        const int64_t top = f.locked([](Terminal& terminal) { return terminal.buffer().yDisp(); });
        f.mac().showFindBar(false);
        f.bar().userTypes(c.term);
        f.settle();
        ASSERT_NE(f.match(), "none") << c.name;
        const auto [row, col, shownTop] = f.locked([&](Terminal& terminal) {
            const auto& selection = *f.view->selection();
            return std::tuple(selection.start().row, selection.start().col, terminal.buffer().yDisp());
        });
        const platform::Size cell = *f.view->cellDimension();
        const platform::Rect cells{double(col) * cell.width, 300 - double(row - shownTop + 1) * cell.height,
                                   double(c.term.size()) * cell.width, cell.height};
        EXPECT_FALSE(cells.intersects(f.bar().frame())) << c.name;
        EXPECT_EQ(f.mac().findBarAtBottom(), c.barAtBottom) << c.name;
        if (c.scrolledBack >= 0)
            EXPECT_EQ(top - shownTop, c.scrolledBack) << c.name;
        else
            EXPECT_GT(top - shownTop, 0) << c.name;
    }

    // The next match, clear of the top, brings the bar back up.
    FindFixture f;
    f.feed("\033[H\033[2J\033[3J");
    f.host->resize({300, 300});
    f.feed("\r\nneedle\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\nneedle\r\n");
    f.mac().showFindBar(false);
    f.bar().userTypes("needle");
    EXPECT_EQ(f.match(), "1:0 needle");
    EXPECT_TRUE(f.mac().findBarAtBottom());
    f.bar().userPressesReturn(false);
    EXPECT_EQ(f.match(), "9:0 needle");
    EXPECT_FALSE(f.mac().findBarAtBottom());
}

TEST(MacFindTests, ShowingFillsTheBarFromTheSelectionOrTheFindPasteboard)
{
    struct Case
    {
        bool selected;
        std::optional<std::string> pasteboard;
        bool prefill;
        std::string field;
        std::string match;
    };
    const Case cases[] = {
        {true, "help", true, "world", "0:6 world"},
        {true, "help", false, "help", "1:0 help"},
        {false, "help", true, "help", "1:0 help"},
        {false, std::nullopt, true, "typed", "none"},
    };
    for (const Case& c : cases) {
        FindFixture f;
        if (c.pasteboard)
            FindPasteboard::setString(*c.pasteboard);
        f.mac().showFindBar(false);
        f.bar().setSearchText("typed");
        f.mac().hideFindBar();
        if (c.selected)
            f.select(Position(6, 0), Position(11, 0));
        else
            f.locked([&](Terminal&) { f.view->selection()->setActive(false); });
        f.bar().focusRequests = 0;
        f.mac().showFindBar(c.prefill);
        EXPECT_FALSE(f.bar().isHidden());
        EXPECT_EQ(f.bar().searchText(), c.field) << c.field;
        EXPECT_EQ(f.match(), c.match) << c.field;
        EXPECT_EQ(f.bar().focusRequests, 1) << "the field takes the focus";
        if (c.field != "typed") {
            EXPECT_EQ(FindPasteboard::string(), c.field);
        }
    }
}

TEST(MacFindTests, TypingReturnAndOptionsSearch)
{
    FindFixture f;
    f.mac().showFindBar(false);
    platform::RecordingFindBar& bar = f.bar();
    struct Step
    {
        std::function<void()> act;
        std::string match;
        std::string pasteboard;
    };
    const Step steps[] = {
        {[&] { bar.userTypes("he"); }, "0:0 he", "he"},
        {[&] { bar.userTypes("hel"); }, "0:0 hel", "hel"},
        {[&] { bar.userPressesReturn(false); }, "1:0 hel", "hel"},
        {[&] { bar.userPressesReturn(false); }, "1:5 Hel", "hel"},
        {[&] { bar.userPressesReturn(true); }, "1:0 hel", "hel"},
        // Case sensitive: the next "hel" skips "Hel".
        {[&] {
             bar.userSetsOptions({true, false, false});
         },
         "2:0 hel", "hel"},
        {[&] { bar.userPressesReturn(true); }, "1:0 hel", "hel"},
        {[&] {
             bar.userSetsOptions({false, true, false});
             bar.userTypes("w.rld");
         },
         "0:6 world", "w.rld"},
        {[&] {
             bar.userSetsOptions({false, false, true});
             bar.userTypes("hell");
         },
         "none", "hell"},
        {[&] { bar.userTypes(""); }, "none", "hell"},
    };
    for (const Step& step : steps) {
        step.act();
        f.settle();
        EXPECT_EQ(f.match(), step.match) << step.match;
        EXPECT_EQ(FindPasteboard::string(), step.pasteboard);
    }
    EXPECT_EQ(f.mac().findBarTerm(), "");

    // Options with an empty field only record; Escape hides and gives the view the focus back.
    bar.userSetsOptions({true, false, false});
    EXPECT_EQ(f.match(), "none");
    EXPECT_TRUE(f.mac().findBarOptions().caseSensitive);
    f.host->focusRequests = 0;
    bar.userPressesEscape();
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(f.host->focusRequests, 1);
}

TEST(MacFindTests, FindNextWithoutTheBarUsesTheSharedTermWithOptionsOff)
{
    FindFixture f;
    f.mac().performFind(true);
    EXPECT_EQ(f.match(), "none") << "nothing to look for";
    EXPECT_TRUE(f.host->findBars.empty()) << "a menu search makes no bar";

    // Another view searched: this one finds the same term, in any case.
    FindPasteboard::setString("HELLO");
    f.mac().performFind(true);
    EXPECT_EQ(f.match(), "0:0 hello");
    f.mac().performFind(false);
    EXPECT_EQ(f.match(), "2:0 hello");

    f.select(Position(0, 1), Position(4, 1));
    EXPECT_TRUE(f.mac().performAction(Action::useSelectionForFind));
    EXPECT_EQ(FindPasteboard::string(), "help");
    EXPECT_EQ(f.bar().searchText(), "help");
}

TEST(MacFindTests, TheViewsShortcutsAndTheirEnabledStates)
{
    struct Case
    {
        const char* name;
        UsKey key;
        uint32_t state;
        std::optional<Action> action;
    };
    const Case cases[] = {
        {"Ctrl-Shift-c", keyC, controlMask | shiftMask, Action::copy},
        {"Ctrl-Shift-v", keyV, controlMask | shiftMask, Action::paste},
        {"Ctrl-Shift-a", keyA, controlMask | shiftMask, Action::selectAll},
        {"Ctrl-Shift-f", keyF, controlMask | shiftMask, Action::find},
        {"Ctrl-Shift-g", keyG, controlMask | shiftMask, Action::findNext},
        {"Ctrl-Shift-h", keyH, controlMask | shiftMask, Action::findPrevious},
        {"Ctrl-Shift-e", keyE, controlMask | shiftMask, Action::useSelectionForFind},
        {"Super-c", keyC, superMask, Action::copy},
        {"Super-Shift-g", keyG, superMask | shiftMask, Action::findPrevious},
        {"Ctrl-c", keyC, controlMask, std::nullopt},
        {"Ctrl-Alt-Shift-c", keyC, controlMask | altMask | shiftMask, std::nullopt},
        {"Super-Ctrl-c", keyC, superMask | controlMask, std::nullopt},
        {"Ctrl-Shift-x", keyX, controlMask | shiftMask, std::nullopt},
    };
    platform::KeyboardTranslator translator;
    for (const Case& c : cases) {
        const platform::KeyEvent press = translator.press(toolkitKey(c.key, c.state));
        translator.release(toolkitKey(c.key, c.state));
        const std::optional<platform::KeyEvent> menuForm = platform::menuKeyEquivalent(press);
        const std::optional<Action> action =
            menuForm ? MacTerminalView::actionForKeyEquivalent(*menuForm) : std::nullopt;
        EXPECT_EQ(action, c.action) << c.name;
    }

    // The chords act in the view and never reach the program, enabled or not.
    FindFixture f;
    f.host->standardClipboard.takeOwnership({{"text/plain", {'p', 'a', 's', 't', 'e', 'd'}}});
    EXPECT_EQ(f.chord(keyC, controlMask | shiftMask), "") << "no selection: nothing copied, nothing sent";
    EXPECT_EQ(f.host->standardClipboard.writes, 0);
    EXPECT_EQ(f.chord(keyV, controlMask | shiftMask), "pasted");
    f.select(Position(0, 0), Position(5, 0));
    EXPECT_EQ(f.chord(keyC, controlMask | shiftMask), "");
    EXPECT_EQ(f.host->standardClipboard.contents("text/plain"),
              (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));

    // The enabled states follow the selection and the bar, pushed only when they change.
    ASSERT_FALSE(f.pushed.empty());
    EXPECT_TRUE(f.pushed.back().at(Action::copy));
    EXPECT_TRUE(f.pushed.back().at(Action::useSelectionForFind));
    EXPECT_TRUE(f.pushed.back().at(Action::paste));
    const size_t pushes = f.pushed.size();
    f.mac().updateActionStates();
    EXPECT_EQ(f.pushed.size(), pushes) << "nothing changed, nothing pushed";
    f.chord(keyA);
    EXPECT_FALSE(f.pushed.back().at(Action::copy)) << "typing ends the selection";
    EXPECT_FALSE(f.mac().performAction(Action::copy));
    f.chord(keyF, controlMask | shiftMask);
    EXPECT_TRUE(f.pushed.back().at(Action::hideFind));
    f.bar().userPressesEscape();
    EXPECT_FALSE(f.pushed.back().at(Action::hideFind));
}

TEST(MacFindTests, MenusThatTakeTheShortcutGoFirst)
{
    FindFixture f;
    std::vector<std::string> taken;
    platform::MenuKeyRouter::setHandler([&](const platform::KeyEvent& event) {
        taken.push_back(platform::utf8FromScalars(event.charactersIgnoringModifiers));
        return true;
    });
    EXPECT_EQ(f.chord(keyV, controlMask | shiftMask), "");
    platform::MenuKeyRouter::setHandler(nullptr);
    EXPECT_EQ(taken, std::vector<std::string>{"v"});
    EXPECT_EQ(f.host->standardClipboard.heldReads(), 0u);
}

TEST(MacFindTests, ShortcutsInTheFieldStepLikeTheMenusAndEditTheFieldsOwnText)
{
    FindFixture f;
    std::vector<std::string> menus;
    platform::MenuKeyRouter::setHandler([&](const platform::KeyEvent& event) {
        const std::string key = platform::utf8FromScalars(event.charactersIgnoringModifiers);
        menus.push_back(key);
        return key == "k";
    });
    f.mac().showFindBar(false);
    f.bar().userTypes("hel");
    ASSERT_EQ(f.match(), "0:0 hel");
    struct Case
    {
        const char* name;
        UsKey key;
        uint32_t state;
        bool taken;
        std::string match;
    };
    const Case cases[] = {
        {"Ctrl-Shift-g", keyG, controlMask | shiftMask, true, "1:0 hel"},
        {"Ctrl-Shift-g again", keyG, controlMask | shiftMask, true, "1:5 Hel"},
        {"Ctrl-Shift-h", keyH, controlMask | shiftMask, true, "1:0 hel"},
        {"Super-Shift-g", keyG, superMask | shiftMask, true, "0:0 hel"},
        {"Super-g", keyG, superMask, true, "1:0 hel"},
        // Copy, paste and select all act on the field's text.
        {"Ctrl-Shift-c", keyC, controlMask | shiftMask, true, "1:0 hel"},
        {"Ctrl-Shift-v", keyV, controlMask | shiftMask, true, "1:0 hel"},
        {"Ctrl-Shift-a", keyA, controlMask | shiftMask, true, "1:0 hel"},
        {"Super-c", keyC, superMask, true, "1:0 hel"},
        {"Ctrl-g, not a shortcut", keyG, controlMask, false, "1:0 hel"},
        // A menu item takes its chord; one that no menu or find action has is the field's.
        {"Ctrl-Shift-k, a menu's", keyK, controlMask | shiftMask, true, "1:0 hel"},
        {"Ctrl-Shift-x, nobody's", keyX, controlMask | shiftMask, false, "1:0 hel"},
    };
    platform::KeyboardTranslator translator;
    for (const Case& c : cases) {
        const platform::KeyEvent press = translator.press(toolkitKey(c.key, c.state));
        translator.release(toolkitKey(c.key, c.state));
        EXPECT_EQ(f.bar().userPressesKey(press), c.taken) << c.name;
        f.settle();
        EXPECT_EQ(f.match(), c.match) << c.name;
    }
    platform::MenuKeyRouter::setHandler(nullptr);
    EXPECT_EQ(menus, (std::vector<std::string>{"g", "g", "h", "G", "g", "k", "x"})) << "the menus go first";
    using Edit = platform::FindFieldEdit;
    EXPECT_EQ(f.bar().fieldEdits, (std::vector<Edit>{Edit::copy, Edit::paste, Edit::selectAll, Edit::copy}));
    EXPECT_EQ(f.host->standardClipboard.writes, 0) << "the view copied nothing";
    EXPECT_EQ(f.host->standardClipboard.heldReads(), 0u) << "the view pasted nothing";
    EXPECT_EQ(f.mac().findBarTerm(), "hel");
}

} // namespace
} // namespace kestrovan::testing
