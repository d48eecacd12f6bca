// The content and input-state snapshots as a host reads them: which lines a region captures, the
// absolute row numbers while scrollback is trimmed, the cursor, each buffer kind, the cells and
// the text rule of a row, and the display text of a live line by the same rule.
#include "RecordingTerminalDelegate.h"
#include "TerminalTestAccess.h"

#include "Kestrovan/ContentSnapshot.h"

#include <gtest/gtest.h>
#include <thread>

namespace kestrovan::testing {
namespace {

using Region = TerminalContentRegion;
using Kind = Terminal::BufferKind;

std::vector<std::string> texts(const TerminalContentSnapshot& snapshot)
{
    std::vector<std::string> out;
    for (const TerminalContentRowSnapshot& row : snapshot.rows)
        out.push_back(row.text());
    return out;
}

std::vector<int64_t> absoluteRows(const TerminalContentSnapshot& snapshot)
{
    std::vector<int64_t> out;
    for (const TerminalContentRowSnapshot& row : snapshot.rows)
        out.push_back(row.absoluteRow);
    return out;
}

/// Feeds lines "0" ... "count - 1", each ended by CR LF.
void feedNumberedLines(Terminal& t, int from, int count)
{
    for (int i = from; i < from + count; ++i)
        t.feed(std::to_string(i) + "\r\n");
}

TerminalCellSnapshot cell(std::string text, int width = 1)
{
    return TerminalCellSnapshot(std::move(text), width, Attribute());
}

TEST(ContentSnapshotTests, InputStateFollowsTheProgramsModes)
{
    TerminalFixture f(12, 5);
    Terminal& t = f.t();
    TerminalInputStateSnapshot state = t.inputStateSnapshot();
    TerminalInputStateSnapshot fresh;
    fresh.dimensions = TerminalDimensions(12, 5);
    EXPECT_EQ(state, fresh) << "a fresh terminal has every mode off";

    t.feed("\x1b[?1h\x1b=\x1b[?2004h\x1b[?1002h\x1b[?1004h\x1b[>5u");
    state = t.inputStateSnapshot();
    EXPECT_TRUE(state.applicationCursor);
    EXPECT_TRUE(state.applicationKeypad);
    EXPECT_TRUE(state.bracketedPasteMode);
    EXPECT_EQ(state.mouseMode, Terminal::MouseMode::buttonEventTracking);
    EXPECT_TRUE(state.focusReportingEnabled);
    EXPECT_EQ(state.keyboardEnhancementFlags, KittyKeyboardFlags(5));
    EXPECT_FALSE(state.isAlternateBuffer);

    t.feed("\x1b[?1049h");
    state = t.inputStateSnapshot();
    EXPECT_TRUE(state.isAlternateBuffer);
    EXPECT_EQ(state.keyboardEnhancementFlags, KittyKeyboardFlags())
        << "the alternate screen keeps its own flags";
    t.feed("\x1b[>2u");
    EXPECT_EQ(t.inputStateSnapshot().keyboardEnhancementFlags, KittyKeyboardFlags(2));

    t.resize(30, 7);
    EXPECT_EQ(t.inputStateSnapshot().dimensions, TerminalDimensions(30, 7));
    EXPECT_EQ(t.terminalLock().withLock([&] { return t.inputStateSnapshotLocked(); }),
              t.inputStateSnapshot());
}

TEST(ContentSnapshotTests, HistoryCapturesScrollbackAboveTheLiveScreen)
{
    TerminalFixture f(10, 3, 100);
    Terminal& t = f.t();
    t.feed("hi");
    TerminalContentSnapshot snapshot = t.contentSnapshot(Region::history(0), Kind::active);
    EXPECT_EQ(texts(snapshot), (std::vector<std::string>{"hi", "", ""})) << "exactly the live screen";
    EXPECT_EQ(snapshot.capturedRange, (TerminalAbsoluteRowRange{0, 3}));
    EXPECT_EQ(snapshot.liveTopRow, 0);
    EXPECT_EQ(snapshot.cursorRow, 0);
    EXPECT_EQ(snapshot.cursorColumn, 2);
    EXPECT_EQ(snapshot.inputState, t.inputStateSnapshot());

    t.feed("\r\n");
    feedNumberedLines(t, 0, 4);
    t.feed("end");
    // Scrollback: hi, 0, 1; screen: 2, 3, end.
    snapshot = t.contentSnapshot(Region::history(0), Kind::active);
    EXPECT_EQ(texts(snapshot), (std::vector<std::string>{"2", "3", "end"}));
    EXPECT_EQ(snapshot.capturedRange, (TerminalAbsoluteRowRange{3, 6}));
    EXPECT_EQ(snapshot.liveTopRow, 3);
    EXPECT_EQ(snapshot.cursorRow, 5);
    EXPECT_EQ(snapshot.cursorColumn, 3);

    snapshot = t.contentSnapshot(Region::history(2), Kind::active);
    EXPECT_EQ(texts(snapshot), (std::vector<std::string>{"0", "1", "2", "3", "end"}));
    EXPECT_EQ(absoluteRows(snapshot), (std::vector<int64_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(snapshot.liveTopRow, 3);

    EXPECT_EQ(texts(t.contentSnapshot(Region::history(50), Kind::active)),
              (std::vector<std::string>{"hi", "0", "1", "2", "3", "end"}))
        << "asking for more scrollback than there is gives all of it";
    EXPECT_EQ(t.contentSnapshot(Region::history(-4), Kind::active),
              t.contentSnapshot(Region::history(0), Kind::active))
        << "a negative count is 0";
}

TEST(ContentSnapshotTests, ViewportIsWhatTheViewShowsWhileScrolledBack)
{
    TerminalFixture f(10, 3, 100);
    Terminal& t = f.t();
    feedNumberedLines(t, 0, 8);
    t.feed("live");
    // Lines 0 ... 7 and "live": scrollback 0 ... 5, screen 6, 7, live.
    EXPECT_EQ(texts(t.contentSnapshot(Region::viewport(), Kind::active)),
              (std::vector<std::string>{"6", "7", "live"}));

    t.scrollViewportTo(2);
    const TerminalContentSnapshot snapshot = t.contentSnapshot(Region::viewport(), Kind::active);
    EXPECT_EQ(texts(snapshot), (std::vector<std::string>{"2", "3", "4"}))
        << "the rows on screen, not the live rows";
    EXPECT_EQ(snapshot.capturedRange, (TerminalAbsoluteRowRange{2, 5}));
    EXPECT_EQ(snapshot.liveTopRow, 6);
    EXPECT_EQ(snapshot.cursorRow, 8) << "the cursor stays on the live screen";
    EXPECT_EQ(texts(t.contentSnapshot(Region::history(0), Kind::active)),
              (std::vector<std::string>{"6", "7", "live"}))
        << "history ignores the scroll position";
}

TEST(ContentSnapshotTests, AbsoluteRowsKeepIncreasingWhileScrollbackIsTrimmed)
{
    TerminalFixture f(10, 3, 4);
    Terminal& t = f.t();
    feedNumberedLines(t, 0, 6);
    const TerminalContentSnapshot before = t.contentSnapshot(Region::history(100), Kind::active);
    feedNumberedLines(t, 6, 5);
    const TerminalContentSnapshot after = t.contentSnapshot(Region::history(100), Kind::active);

    ASSERT_EQ(after.rows.size(), 7u) << "four lines of scrollback and the screen";
    EXPECT_GT(t.buffer().linesTop(), 0) << "the test must trim scrollback";
    EXPECT_GT(after.capturedRange.lowerBound, before.capturedRange.lowerBound);
    EXPECT_GT(after.capturedRange.upperBound, before.capturedRange.upperBound);
    EXPECT_GT(after.liveTopRow, before.liveTopRow);
    EXPECT_GT(after.cursorRow, before.cursorRow);
    EXPECT_EQ(after.cursorRow, after.liveTopRow + t.buffer().y());

    // Every line both snapshots hold has the same number in both, so they join by row.
    int shared = 0;
    for (const TerminalContentRowSnapshot& row : after.rows) {
        for (const TerminalContentRowSnapshot& earlier : before.rows) {
            // The line under the cursor was still empty in the first snapshot.
            if (earlier.absoluteRow == row.absoluteRow && !earlier.text().empty()) {
                EXPECT_EQ(earlier.text(), row.text()) << "absolute row " << row.absoluteRow;
                ++shared;
            }
        }
    }
    EXPECT_GT(shared, 0);
    EXPECT_EQ(after.rows.front().text(), "5");
    EXPECT_EQ(after.rows.front().absoluteRow, 5) << "line \"5\" was the sixth line ever written";
}

TEST(ContentSnapshotTests, EachBufferKindReadsItsOwnBuffer)
{
    TerminalFixture f(10, 3, 100);
    Terminal& t = f.t();
    const TerminalContentSnapshot unused = t.contentSnapshot(Region::history(10), Kind::alt);
    EXPECT_TRUE(unused.rows.empty())
        << "an alternate buffer never shown holds no lines, and none are made up";
    EXPECT_EQ(unused.capturedRange, (TerminalAbsoluteRowRange{0, 0}));
    t.feed("normal");
    t.feed("\x1b[?47h\x1b[2;3Halt");
    EXPECT_EQ(texts(t.contentSnapshot(Region::viewport(), Kind::active)),
              (std::vector<std::string>{"", "  alt", ""}));
    EXPECT_EQ(texts(t.contentSnapshot(Region::viewport(), Kind::alt)),
              (std::vector<std::string>{"", "  alt", ""}));
    const TerminalContentSnapshot normal = t.contentSnapshot(Region::history(10), Kind::normal);
    EXPECT_EQ(texts(normal), (std::vector<std::string>{"normal", "", ""}));
    EXPECT_TRUE(normal.inputState.isAlternateBuffer)
        << "the input state is the terminal's, whichever buffer is read";
    EXPECT_EQ(normal.cursorColumn, 6) << "the normal buffer's own cursor";

    t.feed("\x1b[?47l");
    const TerminalContentSnapshot alt = t.contentSnapshot(Region::history(10), Kind::alt);
    EXPECT_EQ(alt.rows.size(), 3u) << "the alternate buffer is still read while the normal one is active";
    EXPECT_EQ(alt.cursorRow, 1);
    EXPECT_EQ(texts(t.contentSnapshot(Region::viewport(), Kind::active)),
              (std::vector<std::string>{"normal", "", ""}));
}

TEST(ContentSnapshotTests, AnEmptyRingSlotReadsAsTheBlankLineThatFillsItAndStaysEmpty)
{
    TerminalFixture f(6, 3, 10);
    Terminal& t = f.t();
    t.feed("ab\r\ncd\r\nef");
    // A slot never filled: no sequence leaves one on the screen, so the test-only hook empties it.
    TerminalTestAccess::buffer(t).lines().set(1, nullptr);

    const TerminalContentSnapshot unfilled = t.contentSnapshot(Region::history(10), Kind::active);
    EXPECT_EQ(t.buffer().lines().lineIfPresent(1), nullptr) << "taking a snapshot changes nothing";
    ASSERT_NE(TerminalTestAccess::buffer(t).lines()[1], nullptr)
        << "a writer fills the slot with a blank line";
    EXPECT_EQ(unfilled, t.contentSnapshot(Region::history(10), Kind::active));
    EXPECT_EQ(texts(unfilled), (std::vector<std::string>{"ab", "", "ef"}));
    EXPECT_EQ(unfilled.rows[1].cells.size(), 6u);
}

TEST(ContentSnapshotTests, CellsCarryTextWidthAndAttribute)
{
    TerminalFixture f(8, 2, 10);
    Terminal& t = f.t();
    t.feed("\x1b[1;31ma\x1b[m\xe4\xb8\x96"
           "e\xcc\x81");
    const TerminalContentSnapshot snapshot = t.contentSnapshot(Region::viewport(), Kind::active);
    const std::vector<TerminalCellSnapshot>& cells = snapshot.rows[0].cells;
    ASSERT_EQ(cells.size(), 8u) << "one cell per column";
    EXPECT_EQ(cells[0].text, "a");
    EXPECT_EQ(cells[0].width, 1);
    EXPECT_EQ(cells[0].attribute.fg, Attribute::Color::ansi256(1));
    EXPECT_TRUE(cells[0].attribute.style.contains(CharacterStyle::bold));
    EXPECT_EQ(cells[1], cell("\xe4\xb8\x96", 2)) << "the lead cell of a wide character";
    EXPECT_EQ(cells[2], cell("", 0)) << "its continuation cell, included";
    EXPECT_EQ(cells[3], cell("e\xcc\x81")) << "a grapheme cluster in one cell";
    EXPECT_EQ(cells[4], cell("")) << "an empty cell has no text";
    EXPECT_EQ(snapshot.rows[0].text(), "a\xe4\xb8\x96"
                                       "e\xcc\x81");

    t.feed("\r\n0123456789");
    const TerminalContentSnapshot wrapped = t.contentSnapshot(Region::history(5), Kind::active);
    ASSERT_GE(wrapped.rows.size(), 2u);
    EXPECT_EQ(wrapped.rows.back().text(), "89");
    EXPECT_TRUE(wrapped.rows.back().isWrapped) << "a soft-wrapped continuation";
    EXPECT_FALSE(wrapped.rows[wrapped.rows.size() - 2].isWrapped);
}

TEST(ContentSnapshotTests, RowTextEndsAtTheLastCharacterAndKeepsInnerBlanks)
{
    using Row = TerminalContentRowSnapshot;
    EXPECT_EQ(Row(0, {cell(""), cell(""), cell("")}, false).text(), "") << "a blank row";
    EXPECT_EQ(Row(0, {cell("a"), cell(""), cell(""), cell("b"), cell("")}, false).text(), "a  b")
        << "blanks between words are spaces, trailing ones go";
    EXPECT_EQ(Row(0, {cell("a"), cell("\xe4\xb8\x96", 2), cell("", 0)}, false).text(), "a\xe4\xb8\x96")
        << "a wide last character without a space for its continuation";
    EXPECT_EQ(Row(0, {cell("\xe4\xb8\x96", 2), cell("", 0), cell("x")}, false).text(), "\xe4\xb8\x96x");
    EXPECT_EQ(Row(0, {cell("a"), cell("\xe4\xb8\x96", 2)}, false).text(), "a\xe4\xb8\x96")
        << "a wide character cut by the row's end";
    EXPECT_EQ(Row(0, {cell(std::string(1, '\0')), cell("b")}, false).text(), " b")
        << "U+0000 reads as a space";
    EXPECT_EQ(Row(0, {cell("a"), cell(std::string("\0", 1))}, false).text(), "a")
        << "a cell of U+0000 is empty";
    EXPECT_EQ(Row(0, {}, false).text(), "");
}

TEST(ContentSnapshotTests, DisplayTextOfALiveLineFollowsTheSameRule)
{
    TerminalFixture f(10, 3, 10);
    Terminal& t = f.t();
    t.feed("ab \xe4\xb8\x96\x1b[44m\x1b[K\x1b[m\r\n\x1b[2Cx \r\n\x1b[44m\x1b[K");
    const Buffer& buffer = t.buffer();
    const TerminalContentSnapshot snapshot = t.contentSnapshot(Region::history(0), Kind::active);
    for (int line = 0; line < 3; ++line)
        EXPECT_EQ(displayText(buffer, line, t.cols()), snapshot.rows[static_cast<size_t>(line)].text())
            << "line " << line;

    EXPECT_EQ(displayText(buffer, 0, 10), "ab \xe4\xb8\x96") << "coloured blanks are not characters";
    EXPECT_EQ(displayText(buffer, 1, 10), "  x ") << "a printed space is a character";
    EXPECT_EQ(displayText(buffer, 2, 10), "") << "a line of coloured blanks";
    EXPECT_EQ(displayText(buffer, 0, 2), "ab") << "only the first columns count";
    EXPECT_EQ(displayText(buffer, 0, 4), "ab \xe4\xb8\x96") << "a wide character cut by the limit";
    EXPECT_EQ(displayText(buffer, 0, -3), "");
    EXPECT_EQ(displayText(buffer, 0, 1000), "ab \xe4\xb8\x96") << "no further than the line";
    EXPECT_EQ(displayText(buffer, -1, 10), "") << "outside the ring";
    EXPECT_EQ(displayText(buffer, 3, 10), "");
}

TEST(ContentSnapshotTests, RegionsAndSnapshotsCompareByValue)
{
    EXPECT_NE(Region::history(3), Region::history(4));
    EXPECT_NE(Region::history(0), Region::viewport());

    TerminalFixture f(10, 3, 10);
    Terminal& t = f.t();
    t.feed("same");
    const TerminalContentSnapshot first = t.contentSnapshot(Region::history(5), Kind::active);
    EXPECT_EQ(first, t.contentSnapshot(Region::history(5), Kind::active));
    t.feed("!");
    EXPECT_NE(first, t.contentSnapshot(Region::history(5), Kind::active));

    // A snapshot is a plain value: another thread may take one and keep it.
    TerminalContentSnapshot fromThread;
    std::thread([&] { fromThread = t.contentSnapshot(Region::history(5), Kind::active); }).join();
    EXPECT_EQ(fromThread.rows.front().text(), "same!");
}

TEST(ContentSnapshotDeathTest, LockedSnapshotsNeedTheTerminalLock)
{
    TerminalFixture f;
    Terminal& t = f.t();
    EXPECT_DEATH(t.inputStateSnapshotLocked(), "inputStateSnapshotLocked");
    EXPECT_DEATH(t.contentSnapshotLocked(Region::viewport(), Kind::active), "contentSnapshotLocked");
    t.terminalLock().withLock([&] {
        EXPECT_DEATH(t.contentSnapshot(Region::viewport(), Kind::active), "already holds the terminal lock")
            << "the unlocked form takes the lock itself";
    });
}

} // namespace
} // namespace kestrovan::testing
