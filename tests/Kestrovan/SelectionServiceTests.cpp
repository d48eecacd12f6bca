// The selection service on fed text: double-click rules, pointer gestures and their geometry,
// extension, scrolling, the feed check, and the selected text of streams, rows and rectangles.
#include "AllocationCounters.h"
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/Portable/Viewport.h"
#include "Kestrovan/SelectionService.h"

#include <functional>
#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Mode = SelectionService::PointerMode;

struct SelectionFixture : TerminalFixture
{
    std::shared_ptr<SelectionService> selection;

    SelectionFixture(int cols, int rows, int scrollback = 100) : TerminalFixture(cols, rows, scrollback)
    {
        selection = SelectionService::create(terminal, false);
    }

    /// Press (or drag to) a screen cell.
    void pointer(int col, int row, bool begin, Mode mode)
    {
        selection->updatePointerSelection(Position(col, t().buffer().yDisp() + row), begin, mode);
    }
    std::string text() const { return selection->getSelectedText(); }
};

TEST(SelectionServiceTests, DoubleClickSelectsTheThingUnderThePointer)
{
    struct Case
    {
        const char* name;
        int cols;
        const char* output;
        int col;
        int row;
        const char* expected;
    };
    const Case cases[] = {
        {"URL with balanced parentheses, without the full stop", 40, "see https://ex.com/a_(b). end", 10, 0,
         "https://ex.com/a_(b)"},
        {"URL inside parentheses, without the unopened closer", 40, "(https://ex.com/x) y", 5, 0,
         "https://ex.com/x"},
        {"scheme without two slashes is no URL", 40, "mailto:someone here", 2, 0, "mailto"},
        {"three-w after a blank", 40, "go www.ex.com now", 5, 0, "www.ex.com"},
        {"path with line and column", 40, "at src/x.c:12:5 here", 5, 0, "src/x.c:12:5"},
        {"file name without a slash: the word rule", 40, "open notes.txt now", 7, 0, "notes.txt"},
        {"quoted phrase with an apostrophe", 40, "say \"don't go\" now", 4, 0, "\"don't go\""},
        {"escaped quote does not delimit", 40, "a \\\"b c\" d", 3, 0, ""},
        {"nested brackets from the opener", 40, "f(a (b) c) z", 1, 0, "(a (b) c)"},
        {"closing bracket searches backwards", 40, "f(a (b) c) z", 9, 0, "(a (b) c)"},
        {"unmatched bracket selects nothing", 40, "f(a b z", 1, 0, ""},
        {"word next to punctuation", 40, "foo,bar", 0, 0, "foo"},
        {"punctuation alone selects nothing", 40, "foo,bar", 3, 0, ""},
        {"run of blanks", 40, "a    b", 2, 0, "    "},
        {"URL wrapped over two rows", 12, "x https://example.com/long", 4, 1, "https://example.com/long"},
        {"URL wrapped where a wide character did not fit", 10,
         "https://e\xe4\xb8\xad"
         "x y",
         1, 1,
         "https://e\xe4\xb8\xad"
         "x"},
        {"wide letters are one word", 20, "\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97 z", 3, 0,
         "\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97"},
    };
    for (const Case& c : cases) {
        SelectionFixture fixture(c.cols, 4);
        fixture.t().feed(c.output);
        fixture.selection->selectWordOrExpression(Position(c.col, c.row), fixture.buffer());
        EXPECT_EQ(fixture.text(), c.expected) << c.name;
        EXPECT_EQ(fixture.selection->selectionMode(), SelectionService::SelectionMode::word) << c.name;
    }
}

TEST(SelectionServiceTests, PointerGesturesCoverWholeCellsAndExtendFromTheirAnchors)
{
    SelectionFixture fixture(20, 3);
    fixture.t().feed("a\xe4\xb8\xad"
                     "bcdefg");

    // A press on the right half of a wide character starts at its first half and covers both.
    fixture.pointer(2, 0, true, Mode::character);
    EXPECT_EQ(fixture.selection->start(), Position(1, 0));
    EXPECT_EQ(fixture.selection->end(), Position(3, 0));
    EXPECT_EQ(fixture.text(), "\xe4\xb8\xad");

    // Dragging left of the anchor keeps the anchor cell selected.
    fixture.pointer(0, 0, false, Mode::character);
    EXPECT_EQ(fixture.text(), "a\xe4\xb8\xad");

    // A double click where no word is selects the clicked cell.
    fixture.t().feed(" ,");
    fixture.pointer(10, 0, true, Mode::word);
    EXPECT_EQ(fixture.text(), ",");

    // Triple click takes the logical line; shift-click extends a word selection by words.
    fixture.t().feed("\r\nword1 word2 word3");
    fixture.pointer(2, 1, true, Mode::row);
    EXPECT_EQ(fixture.text(), "word1 word2 word3");
    fixture.pointer(1, 1, true, Mode::word);
    EXPECT_EQ(fixture.text(), "word1");
    fixture.pointer(13, 1, true, Mode::extend);
    EXPECT_EQ(fixture.text(), "word1 word2 word3");
    fixture.pointer(7, 1, false, Mode::word);
    EXPECT_EQ(fixture.text(), "word1 word2") << "dragging back inside the word range shrinks to a word edge";
}

TEST(SelectionServiceTests, ExtensionAndGeometryFollowTheirAnchors)
{
    SelectionFixture fixture(10, 4);
    SelectionService& s = *fixture.selection;
    const int before = fixture.delegate->selectionChanges;
    s.pivotExtend(Position(3, 0));
    EXPECT_FALSE(s.active()) << "no pivot: nothing happens";
    EXPECT_EQ(fixture.delegate->selectionChanges, before) << "and the delegate hears nothing";

    // A forward one-row selection ending on the last column takes it; a backward one starting there
    // does not.
    s.setSelection(Position(4, 1), Position(9, 1));
    EXPECT_EQ(s.selectedColumnsRange(1, 10), (ColumnRange{4, 10}));
    s.setSelection(Position(9, 1), Position(4, 1));
    EXPECT_EQ(s.selectedColumnsRange(1, 10), (ColumnRange{4, 9}));

    // Shift-extending past the anchor flips the selection around the old end.
    s.setSelection(Position(2, 1), Position(5, 1));
    s.shiftExtend(Position(0, 1));
    EXPECT_EQ(s.start(), Position(5, 1));
    EXPECT_EQ(s.end(), Position(0, 1));

    // Pivot extension works from the pivot a press left.
    fixture.pointer(4, 2, true, Mode::character);
    s.pivotExtend(Position(1, 2));
    EXPECT_EQ(s.start(), Position(1, 2));
    EXPECT_EQ(s.end(), Position(4, 2));

    // A block shift-extended from a pointer equally far from both edges anchors at the minimum.
    s.startBlockSelection(Position(2, 0));
    s.dragExtend(Position(6, 2));
    s.shiftExtend(Position(4, 1));
    EXPECT_EQ(s.start(), Position(2, 0));
    EXPECT_EQ(s.end(), Position(4, 1));
    EXPECT_EQ(s.selectedColumnsRange(1, 10), (ColumnRange{2, 4}));
}

// What a press does before a drag, after any earlier gesture: the ends move to the press with no
// word to the delegate, starting the selection there resets the gesture and tells it once, and a
// plain click instead ends the selection and its gesture.
TEST(SelectionServiceTests, APressAnchorsTheNextSelectionOrEndsTheLast)
{
    struct Case
    {
        const char* name;
        std::function<void(SelectionService&)> earlier;
    };
    const Case cases[] = {
        {"character", [](SelectionService& s) { s.setSelection(Position(1, 0), Position(4, 1)); }},
        {"word",
         [](SelectionService& s) { s.selectWordOrExpression(Position(1, 0), s.terminal()->buffer()); }},
        {"row", [](SelectionService& s) { s.select(1); }},
        {"block", [](SelectionService& s) { s.startBlockSelection(Position(1, 0)); }},
    };
    for (const Case& c : cases) {
        for (const bool click : {false, true}) {
            SelectionFixture fixture(10, 4);
            fixture.t().feed("alpha beta\r\ngamma");
            SelectionService& s = *fixture.selection;
            c.earlier(s);
            ASSERT_TRUE(s.active()) << c.name;
            const int before = fixture.delegate->selectionChanges;
            if (click) {
                s.selectNone();
                EXPECT_FALSE(s.active()) << c.name;
            } else {
                s.collapseTo(Position(3, 2));
                EXPECT_EQ(fixture.delegate->selectionChanges, before) << c.name << ": placing tells no one";
                s.startSelection();
                EXPECT_EQ(fixture.delegate->selectionChanges, before + 1) << c.name;
                EXPECT_TRUE(s.active()) << c.name;
                EXPECT_EQ(std::pair(s.start(), s.end()), std::pair(Position(3, 2), Position(3, 2))) << c.name;
            }
            EXPECT_EQ(s.selectionMode(), SelectionService::SelectionMode::character) << c.name << click;
            EXPECT_FALSE(s.isBlock()) << c.name << click;
            EXPECT_FALSE(s.selectingRows()) << c.name << click;
            EXPECT_FALSE(s.wordSelectionAnchor().has_value()) << c.name << click;
            EXPECT_FALSE(s.rowSelectionAnchor().has_value()) << c.name << click;
        }
    }
}

TEST(SelectionServiceTests, ScrollingMovesOrDropsTheSelection)
{
    SelectionFixture fixture(10, 6, 0);
    Terminal& t = fixture.t();
    t.feed("0\r\n1\r\n2\r\n3\r\n4\r\n5\x1b[2;5r");
    SelectionService& s = *fixture.selection;

    s.setSelection(Position(0, 3), Position(1, 3));
    t.feed("\x1b[S"); // scroll the region rows 1-4 up by one
    EXPECT_TRUE(s.active());
    EXPECT_EQ(s.start(), Position(0, 2)) << "the selection moves with its text";
    EXPECT_EQ(s.getSelectedText(), "3");

    const int before = fixture.delegate->selectionChanges;
    s.setSelection(Position(0, 5), Position(1, 5));
    const int afterSelect = fixture.delegate->selectionChanges;
    EXPECT_GT(afterSelect, before);
    t.feed("\x1b[S");
    EXPECT_TRUE(s.active()) << "a scroll of rows the selection does not touch keeps it";
    EXPECT_EQ(fixture.delegate->selectionChanges, afterSelect) << "without telling the delegate";

    s.setSelection(Position(0, 1), Position(1, 1));
    t.feed("\x1b[S");
    EXPECT_FALSE(s.active()) << "scrolled out of the region";
}

TEST(SelectionServiceTests, FeedsDropTheSelectionOnlyWhenItsCellsChange)
{
    SelectionFixture fixture(10, 3);
    Terminal& t = fixture.t();
    SelectionService& s = *fixture.selection;
    const auto feed = [&](std::string_view bytes) {
        feedPreservingSelection(t, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                                s);
    };
    feed("hello\r\nworld");
    s.setSelection(Position(0, 0), Position(3, 0));
    feed("\r\nmore");
    EXPECT_TRUE(s.active()) << "output elsewhere keeps it";
    feed("\x1b[1;1Hhello");
    EXPECT_TRUE(s.active()) << "the same characters written again keep it";
    feed("\x1b[1;2HX");
    EXPECT_FALSE(s.active()) << "a different character in a selected cell drops it";

    s.setSelection(Position(0, 1), Position(3, 1));
    feed("\x1b[?1049h");
    EXPECT_FALSE(s.active()) << "switching to the alternate screen drops it";
}

TEST(SelectionServiceTests, SelectedTextOfStreamsRowsAndRectangles)
{
    SelectionFixture fixture(6, 4);
    Terminal& t = fixture.t();
    SelectionService& s = *fixture.selection;
    t.feed("abcdefgh\r\n\xe4\xb8\xad\xe6\x96\x87"
           "ab\r\nx\xe4\xb8\xad\xe6\x96\x87y");

    s.setSelection(Position(1, 0), Position(2, 2));
    EXPECT_EQ(s.getSelectedText(), "bcdefgh\n\xe4\xb8\xad") << "wrapped rows join, a hard break stays";
    s.select(1);
    EXPECT_EQ(s.getSelectedText(), "abcdefgh") << "a row selection takes the logical line";
    s.setSelection(Position(2, 0), Position(2, 0));
    EXPECT_EQ(s.getSelectedText(), "");

    // A rectangle cut through wide characters takes them whole on both edges.
    s.startBlockSelection(Position(1, 2));
    s.dragExtend(Position(3, 3));
    EXPECT_EQ(s.getSelectedText(), "\xe4\xb8\xad\xe6\x96\x87\n\xe4\xb8\xad");
    s.startBlockSelection(Position(0, 0));
    s.dragExtend(Position(4, 3));
    EXPECT_EQ(s.getSelectedText(), "abcd\ngh\n\xe4\xb8\xad\xe6\x96\x87\nx\xe4\xb8\xad\xe6\x96\x87")
        << "one line per row, no trailing blanks, no final newline";
}

TEST(SelectionServiceTests, ALargeSelectionsTextIsMadeOnceAtItsSize)
{
    // 20,000 lines of 79 characters: about 1.6 MB of text, read as a stream and as a rectangle.
    constexpr int lines = 20000;
    SelectionFixture fixture(80, 24, lines);
    Terminal& t = fixture.t();
    SelectionService& s = *fixture.selection;
    std::string output;
    for (int line = 0; line < lines; ++line) {
        std::string text = "line " + std::to_string(line) + " ";
        text.resize(79, char('a' + line % 26));
        output += text + "\r\n";
    }
    t.feed(output);

    for (const bool block : {false, true}) {
        if (block) {
            s.startBlockSelection(Position(0, 0));
            s.dragExtend(Position(79, t.buffer().lines().count() - 1));
        } else {
            s.selectAll();
        }
        const int64_t before = counting::bytesHeld();
        counting::resetPeakHeld();
        const std::string text = s.getSelectedText();
        const int64_t peak = counting::peakBytesHeld() - before;
        EXPECT_EQ(text.substr(0, 12), "line 0 aaaaa") << (block ? "rectangle" : "stream");
        EXPECT_GT(text.size(), size_t(lines) * 79);
        // The text itself, and a row's worth of work besides: no list of rows, no regrowing.
        EXPECT_LT(peak, int64_t(text.size()) * 11 / 10 + (64 << 10))
            << (block ? "rectangle" : "stream") << ": at its peak the extraction held " << peak
            << " bytes for " << text.size() << " bytes of text";
    }
}

} // namespace
} // namespace kestrovan::testing
