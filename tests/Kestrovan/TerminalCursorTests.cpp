// Cursor movement: absolute and relative moves with their clamping at the edges, the scroll region
// and the margins, origin mode, the pending-wrap column, reverse wraparound, tab stops, save and
// restore of the cursor, and DECBI/DECFI.
#include "RecordingTerminalDelegate.h"
#include "ScreenEditTestSupport.h"
#include "TerminalTestAccess.h"
#include "TestSupport.h"

#include "Kestrovan/CharSets.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalTextExtraction.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Cursor = std::pair<int, int>;

/// DECLRMM reset, which also puts the margins back at the screen's edges.
void clearMarginMode(Terminal& t)
{
    t.feed("\x1b[?69l");
}

TEST(TerminalCursorTests, CupGoesToTheOriginAndClampsToTheScreen)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    moveCursor(t, 4, 3);
    t.feed("\x1b[H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0)) << "CUP without parameters homes";
    t.feed("\x1b[3;4H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 2)) << "positions are 1-based";
    t.feed("\x1b[0;0H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0)) << "0 counts as 1";
    t.feed("\x1b[;5H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 0)) << "an empty row parameter is row 1";
    t.feed("\x1b[99;99H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(9, 4)) << "clamped to the last column and row";

    t.feed("\x1b[5;1Habcdefghij");
    ASSERT_EQ(t.buffer().x(), 9);
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\x1b[5;10H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(9, 4)) << "CUP ends a pending wrap";
    t.feed("Z");
    EXPECT_EQ(rowText(t, 4), "abcdefghiZ") << "the next print overwrites the last column";
}

TEST(TerminalCursorTests, OriginModeMakesCupRelativeToTheRegionWhileHvpClampsOnlyToTheScreen)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    t.feed("\x1b[2;4r"); // region rows 1...3
    t.feed("\x1b[?6h");  // DECOM

    t.feed("\x1b[H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1)) << "home is the top of the region";
    t.feed("\x1b[9;2H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(1, 3)) << "CUP stops at the region's bottom";
    t.feed("\x1b[5;2f");
    EXPECT_EQ(t.getCursorLocation(), Cursor(1, 5))
        << "HVP counts from the region's top but passes its bottom";
    t.feed("\x1b[9;99f");
    EXPECT_EQ(t.getCursorLocation(), Cursor(9, 5)) << "HVP clamps to the screen only";
    t.feed("\x1b[f");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1)) << "HVP without parameters homes to the region too";

    setMargins(t, 2, 6);
    t.feed("\x1b[H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(2, 1)) << "with margins, home is the top-left of both";
    t.feed("\x1b[1;3H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 1));
    t.feed("\x1b[1;3f");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 1)) << "HVP also counts from the left margin";

    t.feed("\x1b[?6l");
    t.feed("\x1b[H");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0)) << "without origin mode the margins play no part";
}

TEST(TerminalCursorTests, CupMarksTheRowsItLeavesAndReachesButHvpMarksNone)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    moveCursor(t, 0, 1);
    t.clearUpdateRange();
    t.feed("\x1b[5;1H");
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(1, 4));
    EXPECT_EQ(t.getScrollInvariantUpdateRange(), std::make_pair(1, 4));

    t.clearUpdateRange();
    t.feed("\x1b[2;3f");
    EXPECT_EQ(t.getCursorLocation(), Cursor(2, 1));
    EXPECT_FALSE(t.getUpdateRange()) << "HVP marks no rows";
}

TEST(TerminalCursorTests, CupMarksBothRowsInScreenAndScrollbackTermsWhicheverWayItMoves)
{
    struct Case
    {
        const char* name;
        int fromRow;
        const char* cup;
        int toRow;
        int linesScrolledOff;
    };
    const Case cases[] = {
        {"down", 1, "\x1b[5;2H", 4, 0},
        {"up", 4, "\x1b[2;2H", 1, 0},
        {"the same row", 3, "\x1b[4;9H", 3, 0},
        {"clamped below the screen", 0, "\x1b[99;1H", 5, 0},
        {"down with a scrollback", 1, "\x1b[5;2H", 4, 7},
        {"up with a scrollback", 5, "\x1b[H", 0, 3},
    };
    for (const Case& test : cases) {
        TerminalFixture fixture(10, 6);
        Terminal& t = fixture.t();
        for (int line = 0; line < 5 + test.linesScrolledOff; ++line)
            t.feed("\r\n");
        moveCursor(t, 0, test.fromRow);
        t.clearUpdateRange();
        t.feed(test.cup);
        ASSERT_EQ(t.getCursorLocation().second, test.toRow) << test.name;
        const int low = std::min(test.fromRow, test.toRow);
        const int high = std::max(test.fromRow, test.toRow);
        EXPECT_EQ(t.getUpdateRange(), std::make_pair(low, high)) << test.name;
        EXPECT_EQ(t.getScrollInvariantUpdateRange(),
                  std::make_pair(test.linesScrolledOff + low, test.linesScrolledOff + high))
            << test.name;
    }
}

// A position, the field after it and the erase of the rest of the line, fed in one chunk, reach
// the terminal in one call that marks rows only through the move: it must mark what the three
// controls mark when each arrives on its own (one byte per feed), on the screen and in absolute
// rows, and leave the same screen.
TEST(TerminalCursorTests, FieldAtAPositionMarksTheRowsItsControlsMarkOneByOne)
{
    struct Case
    {
        const char* name;
        const char* setup;
        int fromRow;
        const char* update;
        int low;
        int high;
    };
    const Case cases[] = {
        {"field and erase below", "row zero\r\nrow one long text", 0, "\x1b[2;3Hab\x1b[K", 0, 1},
        {"field and erase above", "a\r\nb\r\nc\r\nd text here", 4, "\x1b[2;6Hxy\x1b[K", 1, 4},
        {"field without an erase", "", 2, "\x1b[5;5Hxyz", 2, 4},
        {"field on the cursor's row", "some text", 0, "\x1b[1;2Hq\x1b[K", 0, 0},
        {"field reaching the right edge", "0123456789", 3, "\x1b[1;8Habc\x1b[K", 0, 3},
        {"field wrapping onto the next row", "", 0, "\x1b[2;8Habcdef\x1b[K", 0, 2},
        {"field after lines went to the scrollback", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8", 5,
         "\x1b[3;1Hnew\x1b[K", 2, 5},
        {"field in origin mode", "\x1b[2;4r\x1b[?6h", 3, "\x1b[1;1Hfield\x1b[K", 1, 3},
        {"field over protected cells", "\x1bVkept\x1bW", 0, "\x1b[1;2Hz\x1b[K", 0, 0},
    };
    for (const Case& test : cases) {
        std::optional<std::pair<int, int>> screen[2];
        std::optional<std::pair<int, int>> absolute[2];
        std::string text[2];
        for (int oneByOne = 0; oneByOne < 2; ++oneByOne) {
            TerminalFixture fixture(10, 6);
            Terminal& t = fixture.t();
            t.feed(test.setup);
            moveCursor(t, 0, test.fromRow);
            t.clearUpdateRange();
            const std::string_view update = test.update;
            if (oneByOne) {
                for (size_t at = 0; at < update.size(); ++at)
                    t.feed(update.substr(at, 1));
            } else {
                t.feed(update);
            }
            screen[oneByOne] = t.getUpdateRange();
            absolute[oneByOne] = t.getScrollInvariantUpdateRange();
            text[oneByOne] = screenText(t);
        }
        EXPECT_EQ(screen[0], std::make_pair(test.low, test.high)) << test.name;
        EXPECT_EQ(screen[0], screen[1]) << test.name;
        EXPECT_EQ(absolute[0], absolute[1]) << test.name;
        EXPECT_EQ(text[0], text[1]) << test.name;
    }
}

TEST(TerminalCursorTests, UpAndDownStopAtTheRegionOnlyFromInsideIt)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    t.feed("\x1b[3;5r"); // region rows 2...4

    moveCursor(t, 3, 1);
    t.feed("\x1b[5A");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 0)) << "from above the region CUU reaches row 0";
    moveCursor(t, 3, 3);
    t.feed("\x1b[5A");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 2)) << "from inside it stops at the region's top";
    moveCursor(t, 3, 3);
    t.feed("\x1b[0A");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 2)) << "a count of 0 moves one row";

    moveCursor(t, 3, 1);
    t.feed("\x1b[9B");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 4)) << "CUD stops at the region's bottom";
    moveCursor(t, 3, 5);
    t.feed("\x1b[B");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 5)) << "below the region: the last row";

    moveCursor(t, 3, 1);
    t.feed("\x1b[?6h"); // DECOM, which leaves the cursor where it is
    t.feed("\x1b[5A");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 0)) << "origin mode plays no part in CUU";

    // CNL and CPL move like CUD and CUU, then go to the left margin.
    t.feed("\x1b[?6l");
    moveCursor(t, 7, 2);
    t.feed("\x1b[2E");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 4));
    setMargins(t, 3, 8);
    t.feed("\x1b[F");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 3));
}

TEST(TerminalCursorTests, MovesFromThePendingWrapColumn)
{
    TerminalFixture fixture(5, 5);
    Terminal& t = fixture.t();
    t.feed("\x1b[2;1Habcde");
    ASSERT_EQ(t.getCursorLocation(), Cursor(4, 1));
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\x1b[A");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 0));
    EXPECT_FALSE(t.buffer().wrapPending()) << "CUU ends the pending wrap";
    t.feed("\x1b[2;1Habcde\x1b[B");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 2));
    EXPECT_FALSE(t.buffer().wrapPending()) << "CUD ends it";
    t.feed("\x1b[3;1Habcde\x1b[e");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 3)) << "VPR ends it";
    t.feed("X");
    EXPECT_EQ(rowText(t, 3), "    X") << "printing goes on in the last column, with no wrap";

    t.feed("\x1b[1;1Habcde\x1b[C");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 0)) << "CUF keeps the cursor on the last column";
    EXPECT_FALSE(t.buffer().wrapPending()) << "and ends the pending wrap";
    t.feed("\x1b[1;1Habcde\x1b[D");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 0)) << "CUB moves left from the last column";
    t.feed("\x1b[1;1Habcde\x1b[a");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 0)) << "and HPR";
}

TEST(TerminalCursorTests, VerticalAbsoluteAndRelativeMoves)
{
    TerminalFixture fixture(10, 6);
    Terminal& t = fixture.t();
    moveCursor(t, 4, 0);
    t.feed("\x1b[3d");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 2)) << "VPA keeps the column";
    t.feed("\x1b[d");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 0));
    t.feed("\x1b[99d");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 5));

    t.feed("\x1b[2;4r"); // region rows 1...3; homes
    t.feed("\x1b[9e");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 5)) << "VPR ignores the region";
    t.feed("\x1b[?6h"); // DECOM
    t.feed("\x1b[2d");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 2)) << "in origin mode VPA counts from the region's top";
    t.feed("\x1b[9d");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 3)) << "and stops at its bottom";
}

TEST(TerminalCursorTests, HorizontalMovesClampAtTheEdgesAndMargins)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[5G");
    EXPECT_EQ(t.buffer().x(), 4) << "CHA";
    t.feed("\x1b[99G");
    EXPECT_EQ(t.buffer().x(), 9);
    t.feed("\x1b[5`");
    EXPECT_EQ(t.buffer().x(), 4) << "HPA";
    t.feed("\x1b[99`");
    EXPECT_EQ(t.buffer().x(), 9);
    t.feed("\x1b[5G\x1b[3a");
    EXPECT_EQ(t.buffer().x(), 7) << "HPR";

    t.feed("\x1b[G\x1b[C");
    EXPECT_EQ(t.buffer().x(), 1) << "CUF without a count moves one";
    t.feed("\x1b[0C");
    EXPECT_EQ(t.buffer().x(), 2) << "a count of 0 moves one";
    t.feed("\x1b[99C");
    EXPECT_EQ(t.buffer().x(), 9);
    t.feed("\x1b[3D");
    EXPECT_EQ(t.buffer().x(), 6) << "CUB";
    t.feed("\x1b[99D");
    EXPECT_EQ(t.buffer().x(), 0);

    setMargins(t, 2, 6);
    moveCursor(t, 3, 0);
    t.feed("\x1b[9C");
    EXPECT_EQ(t.buffer().x(), 6) << "CUF stops at the right margin";
    moveCursor(t, 7, 0);
    t.feed("\x1b[9C");
    EXPECT_EQ(t.buffer().x(), 9) << "right of the margin it goes on to the edge";
    moveCursor(t, 5, 0);
    t.feed("\x1b[9D");
    EXPECT_EQ(t.buffer().x(), 2) << "CUB stops at the left margin";
    moveCursor(t, 1, 0);
    t.feed("\x1b[9D");
    EXPECT_EQ(t.buffer().x(), 0) << "left of the margin it goes on to column 0";

    t.feed("\x1b[3G");
    EXPECT_EQ(t.buffer().x(), 2) << "CHA ignores the margins without origin mode";
    t.feed("\x1b[?6h"); // DECOM
    t.feed("\x1b[3G");
    EXPECT_EQ(t.buffer().x(), 4) << "in origin mode CHA counts from the left margin";
    t.feed("\x1b[3`");
    EXPECT_EQ(t.buffer().x(), 4) << "so does HPA";
    t.feed("\x1b[99`");
    EXPECT_EQ(t.buffer().x(), 6) << "HPA stops at the right margin";
}

// Input: CSI ? 6 h with the left margin at column 5 of 10, then CSI 9 G.
// Old result: the cursor column was 5 + 8 = 13, past the last column of the screen.
// A column outside the grid has no cell: the cursor must stay within it.
TEST(TerminalCursorTests, ChaInOriginModeStaysOnTheScreen)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    setMargins(t, 5, 8);
    t.feed("\x1b[?6h"); // DECOM
    t.feed("\x1b[9G");
    EXPECT_EQ(t.buffer().x(), 9);
}

TEST(TerminalCursorTests, BackspaceAndCubWithReverseWraparound)
{
    TerminalFixture fixture(5, 4);
    Terminal& t = fixture.t();
    t.feed("\x1b[?45h");
    t.feed("abcdefg"); // "fg" continues row 0 on row 1
    ASSERT_EQ(t.getCursorLocation(), Cursor(2, 1));
    t.feed("\b\b\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 0)) << "BS goes back over the soft wrap";
    t.feed("\x1b[9D");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0)) << "and stops at column 0 of the first row";
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0));

    t.feed("\x1b[2;3H\x1b[4D");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 0)) << "CUB wraps as BS does";

    t.feed("\x1b[3;1Hxy\r\n\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 3)) << "a line that is not marked wrapped stops it";

    t.feed("\x1b[3;1Habcde");
    ASSERT_EQ(t.getCursorLocation(), Cursor(4, 2));
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 2)) << "the pending wrap absorbs one step";
    EXPECT_FALSE(t.buffer().wrapPending());

    t.feed("\x1b[2;4r"); // region rows 1...3
    ASSERT_TRUE(t.buffer().lines().lineOrEmpty(1).isWrapped()) << "row 1 continues row 0";
    moveCursor(t, 0, 1);
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1)) << "plain reverse wrap never leaves the region's top";

    t.feed("\x1b[?7l"); // DECAWM off
    moveCursor(t, 0, 2);
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 2)) << "without auto-wrap BS is plain";
}

TEST(TerminalCursorTests, ExtendedReverseWraparoundWrapsRoundTheRegion)
{
    TerminalFixture fixture(5, 5);
    Terminal& t = fixture.t();
    t.feed("\x1b[?1045h");
    t.feed("\x1b[2;4r"); // region rows 1...3

    moveCursor(t, 0, 3);
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 2)) << "the extended mode ignores the wrap marks";
    moveCursor(t, 0, 1);
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 3)) << "from the region's top it jumps to its bottom";
    moveCursor(t, 1, 1);
    t.feed("\x1b[7D");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 2)) << "a long CUB goes round more than once";

    t.feed("\x1b[r"); // the whole screen again
    moveCursor(t, 0, 0);
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(4, 4)) << "row 0 is the region's top: to the last row";

    setMargins(t, 1, 3);
    moveCursor(t, 1, 2);
    t.feed("\b");
    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 1)) << "within the margins it wraps from margin to margin";
}

TEST(TerminalCursorTests, TabStopsSetClearAndWalk)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\t");
    EXPECT_EQ(t.buffer().x(), 8) << "stops every 8 columns";
    t.feed("\t\t");
    EXPECT_EQ(t.buffer().x(), 19) << "no stop left: the last column";

    t.feed("\x1b[4G\x1bH\r\t");
    EXPECT_EQ(t.buffer().x(), 3) << "ESC H sets a stop at the cursor";
    t.feed("\x1b[9G\x1b[g\r\t\t");
    EXPECT_EQ(t.buffer().x(), 16) << "TBC 0 clears the stop at the cursor column only";
    t.feed("\x1b[2g\r\t");
    EXPECT_EQ(t.buffer().x(), 3) << "TBC 2 does nothing";

    t.feed("\x1b[2I");
    EXPECT_EQ(t.buffer().x(), 19) << "CHT walks the remaining stops";
    t.feed("\x1b[Z");
    EXPECT_EQ(t.buffer().x(), 16) << "CBT";
    t.feed("\x1b[9Z");
    EXPECT_EQ(t.buffer().x(), 0);

    t.feed("\x1b[3g\r\t");
    EXPECT_EQ(t.buffer().x(), 19) << "TBC 3 clears every stop: a tab goes to the last column";
    t.feed("\x1b[Z");
    EXPECT_EQ(t.buffer().x(), 0) << "and a back tab to the first";

    t.feed("\r\nabcdefghijklmnopqrst\x1b[Z");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 1)) << "CBT from the last column while a wrap is pending";
    EXPECT_TRUE(t.buffer().wrapPending()) << "keeps the pending wrap";
    t.feed("\x1b[g");
    EXPECT_EQ(t.buffer().tabStops().size(), 20u) << "TBC in the pending-wrap column changes nothing";
}

TEST(TerminalCursorTests, TabStopsBelongToEachBuffer)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[?47h");
    t.feed("\x1b[3g\r\t");
    EXPECT_EQ(t.buffer().x(), 19);
    t.feed("\x1b[?47l");
    t.feed("\r\t");
    EXPECT_EQ(t.buffer().x(), 8) << "clearing the alternate screen's stops leaves the normal screen's";
}

TEST(TerminalCursorTests, SaveAndRestoreTheCursorState)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    const Attribute red(Attribute::Color::ansi256(1), Attribute::Color::ansi256(4), CharacterStyle::bold);
    t.feed("\x1b[1;31;44m"); // red on blue, bold
    t.feed("\x1b(0");        // DEC special graphics in G0
    t.feed("\x1b[1\"q");     // DECSCA on
    t.feed("\x1b[?6h");      // DECOM
    moveCursor(t, 3, 1);
    t.feed("\x1b"
           "7");

    t.feed("\x1b[m");
    t.feed("\x1b(B\x1b[0\"q");
    t.feed("\x1b[?6l");
    moveCursor(t, 0, 3);
    t.feed("\x1b"
           "8");

    EXPECT_EQ(t.getCursorLocation(), Cursor(3, 1));
    EXPECT_EQ(t.innerState().currentAttribute, red);
    EXPECT_EQ(t.cellArena()->attribute(t.innerState().curStyleID), red)
        << "the style id follows the attribute";
    const Attribute erase = t.cellArena()->attribute(t.innerState().currentEraseBlankCell);
    EXPECT_EQ(erase, Attribute(Attribute::Color(), Attribute::Color::ansi256(4)))
        << "erased cells take only the background";
    EXPECT_EQ(t.innerState().currentEraseAttribute, erase);
    EXPECT_EQ(t.cellArena()->attribute(t.innerState().currentEraseSpaceCell), erase);
    EXPECT_EQ(t.innerState().currentEraseSpaceCell.scalar(), uint32_t(' '));
    EXPECT_TRUE(t.mode(TerminalMode::originMode));
    EXPECT_TRUE(t.mode(TerminalMode::characterProtection));
    for (const Buffer* b : {&t.buffer(Terminal::BufferKind::normal), &t.buffer(Terminal::BufferKind::alt)}) {
        EXPECT_TRUE(b->characterProtection()) << "protection is mirrored into both buffers";
        EXPECT_TRUE(b->bulkInsertBlocked());
    }
    EXPECT_EQ(t.innerState().charsets.gCharsets()[0], nullptr)
        << "the designations are not part of the saved state";
    t.feed("q");
    EXPECT_EQ(getText(t, 3, 1), "\u2500") << "but the set in effect is: q prints a horizontal line";
    EXPECT_EQ(t.getCharData(3, 1)->attribute, red);
}

TEST(TerminalCursorTests, RestoreBringsBackMarginModeAndClampsThePosition)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    setMargins(t, 2, 6);
    t.feed("\x1b"
           "7");
    clearMarginMode(t);
    t.feed("\x1b"
           "8");
    EXPECT_TRUE(t.mode(TerminalMode::marginMode));
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).marginMode());
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::alt).marginMode())
        << "margin mode is copied into both buffers";

    clearMarginMode(t);
    t.feed("\x1b[4;1Habcdefghij\x1b[s\x1b[H\x1b[u");
    EXPECT_EQ(t.getCursorLocation(), Cursor(9, 3)) << "a saved pending wrap comes back as the last column";
    EXPECT_FALSE(t.mode(TerminalMode::marginMode)) << "SCOSC saved margin mode off";

    // A slot saved on the last row, below the cursor: it keeps its distance from the cursor row
    // while the screen shrinks, which takes it past the new last row.
    TerminalFixture tall(10, 8);
    Terminal& u = tall.t();
    u.feed("\x1b[8;10H\x1b"
           "7\x1b[H");
    u.resize(10, 4);
    ASSERT_GT(u.buffer().savedCursor().y, 3);
    u.feed("\x1b"
           "8");
    EXPECT_EQ(u.getCursorLocation(), Cursor(9, 3)) << "a slot beyond the screen is clamped into it";

    // No SGR makes a default-inverted background, so the saved slot is written directly through
    // the test-only hook: the restore must still erase with the plain default.
    const Attribute inverted(Attribute::Color::ansi256(2), Attribute::Color::defaultInvertedColor());
    editSavedCursor(TerminalTestAccess::buffer(t), [&](SavedCursor& saved) { saved.attr = inverted; });
    t.feed("\x1b"
           "8");
    EXPECT_EQ(t.innerState().currentAttribute, inverted);
    EXPECT_EQ(t.innerState().currentEraseAttribute, Attribute())
        << "a default-inverted background erases as plain default";
    EXPECT_EQ(t.innerState().currentEraseBlankCell.attributeID(), 0);
}

TEST(TerminalCursorTests, CsiSSavesOnlyWithoutMarginMode)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    moveCursor(t, 3, 2);
    t.feed("\x1b[s");
    EXPECT_EQ(t.buffer().savedCursor().x, 3);
    EXPECT_EQ(t.buffer().savedCursor().y, 2);

    setMargins(t, 0, 9);
    moveCursor(t, 5, 1);
    t.feed("\x1b[2;5s");
    EXPECT_EQ(t.buffer().savedCursor().x, 3) << "with margin mode on CSI s sets the margins instead";
    EXPECT_EQ(t.buffer().marginLeft(), 1);
    EXPECT_EQ(t.buffer().marginRight(), 4);
}

TEST(TerminalCursorTests, EachBufferHasItsOwnSavedCursor)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    moveCursor(t, 2, 1);
    t.feed("\x1b"
           "7");
    t.feed("\x1b[?47h");
    moveCursor(t, 5, 2);
    t.feed("\x1b"
           "7");

    t.feed("\x1b[?47l");
    t.feed("\x1b"
           "8");
    EXPECT_EQ(t.getCursorLocation(), Cursor(2, 1)) << "the normal buffer restores its own slot";
    t.feed("\x1b[?47h");
    moveCursor(t, 0, 0);
    t.feed("\x1b"
           "8");
    EXPECT_EQ(t.getCursorLocation(), Cursor(5, 2)) << "and the alternate buffer its own";
}

TEST(TerminalCursorTests, BackAndForwardIndexMoveInsideTheMargins)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("abcdefghij\x1b[1;4H");
    t.feed("\x1b"
           "6");
    EXPECT_EQ(t.buffer().x(), 2) << "DECBI moves left";
    t.feed("\x1b"
           "9");
    EXPECT_EQ(t.buffer().x(), 3) << "DECFI moves right";
    t.feed("\x1b[G\x1b"
           "6");
    EXPECT_EQ(t.buffer().x(), 0) << "at the left edge DECBI scrolls the columns instead";
    t.feed("\x1b[99G\x1b"
           "9");
    EXPECT_EQ(t.buffer().x(), 9) << "at the right edge DECFI scrolls instead";

    t.feed("\r\nabcdefghij");
    ASSERT_EQ(t.buffer().x(), 9);
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\x1b"
           "9");
    EXPECT_EQ(t.buffer().x(), 9) << "DECFI with a pending wrap scrolls from the last column";
    EXPECT_EQ(rowText(t, 1), "bcdefghij");
    EXPECT_TRUE(t.buffer().wrapPending()) << "and the wrap stays pending";

    setMargins(t, 2, 6);
    moveCursor(t, 2, 0);
    t.feed("\x1b"
           "6");
    EXPECT_EQ(t.buffer().x(), 2) << "at the left margin DECBI scrolls";
    moveCursor(t, 6, 0);
    t.feed("\x1b"
           "9");
    EXPECT_EQ(t.buffer().x(), 6) << "at the right margin DECFI scrolls";
    moveCursor(t, 4, 0);
    t.feed("\x1b"
           "9\x1b"
           "9\x1b"
           "9");
    EXPECT_EQ(t.buffer().x(), 6) << "DECFI does not pass the right margin";
}

} // namespace
} // namespace kestrovan::testing
