// The selection service on fed text: double-click rules, pointer gestures and their geometry,
// extension, scrolling, the feed check, and the selected text of streams, rows and rectangles.
#include "AllocationCounters.h"
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

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

/// Names listed as `ls --hyperlink` does, from `first` on: each its own link, five a row in
/// columns of 16.
std::string linkedNames(int first, int count)
{
    std::string output;
    for (int entry = first; entry < first + count; ++entry) {
        const std::string name = std::to_string(1000000 + entry) + ".txt";
        output += osc8(";file://h/x/" + name) + name + osc8(";");
        output += entry % 5 == 4 ? "\r\n" : std::string(16 - name.size(), ' ');
    }
    return output;
}

TEST(SelectionServiceTests, ASelectionStaysWhenItsRowsGiveUpTheirLinks)
{
    // Past the codes a terminal may hold, the oldest scrollback rows give up their links to new
    // output; their text stays, and so does a selection on them, whether whole rows (which keep
    // no copy of their cells), part of a row or one cell.
    struct Case
    {
        const char* name;
        Position start, end;
    };
    const Case cases[] = {
        {"rows 1-40", Position(0, 1), Position(79, 40)},
        {"part of row 1", Position(20, 1), Position(50, 1)},
        {"one cell of row 30", Position(16, 30), Position(17, 30)},
    };
    for (const Case& c : cases) {
        SelectionFixture fixture(80, 25, 4000);
        Terminal& t = fixture.t();
        SelectionService& s = *fixture.selection;
        t.feed("plain line\r\n" + linkedNames(0, 16000));
        s.setSelection(c.start, c.end);
        const std::string before = s.getSelectedText();
        const BufferLine& line = t.buffer().lines().lineOrEmpty(static_cast<int>(c.start.row));
        const uint64_t generation = line.generation();
        ASSERT_NE(line.packed(c.start.col).payloadCode(), 0) << c.name;

        const std::string more = linkedNames(16000, 1000);
        feedPreservingSelection(t, bytesOf(more), s);
        ASSERT_EQ(line.packed(c.start.col).payloadCode(), 0) << c.name << ": the row gave up its links";
        EXPECT_NE(line.generation(), generation) << c.name << ": the row is drawn again, without them";
        EXPECT_TRUE(s.active()) << c.name;
        EXPECT_EQ(s.getSelectedText(), before) << c.name;
    }
}

TEST(SelectionServiceTests, ACellThatOnlyLostItsLinkIsUnchanged)
{
    // A screen row that gives up its links in the same feed that rewrites it elsewhere is compared
    // cell by cell: a selected cell that lost its link and nothing else keeps the selection.
    struct Case
    {
        const char* name;
        const char* output;
        bool linksRemoved;
        bool kept;
    };
    const Case cases[] = {
        {"output elsewhere on the row", "\x1b[1;9HX", true, true},
        {"a selected character rewritten", "\x1b[1;2HX", true, false},
        {"the text written again without its link", "\x1b[1;1Hhello", false, false},
    };
    for (const Case& c : cases) {
        SelectionFixture fixture(20, 3);
        Terminal& t = fixture.t();
        SelectionService& s = *fixture.selection;
        t.feed(osc8(";https://example.invalid/") + "hello" + osc8(";") + " world");
        s.setSelection(Position(0, 0), Position(5, 0));
        t.terminalLock().withLock([&] {
            t.terminalLock().assumeHeldByCaller();
            const auto captured = s.captureSelectedContent();
            ASSERT_TRUE(captured) << c.name;
            t.feed(c.output);
            if (c.linksRemoved) {
                // What the link drop does to a row, done here to a screen row.
                auto& line = const_cast<BufferLine&>(t.buffer().lines().lineOrEmpty(t.buffer().yBase()));
                for (int col = 0; col < line.count(); ++col)
                    line.mutableCells()[col].rawValue &= ~PackedCell::payloadMask;
                line.markLinksRemoved();
            }
            s.clearIfSelectedContentChanged(*captured);
        });
        EXPECT_EQ(s.active(), c.kept) << c.name;
    }
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
