// Line feed, carriage return, backspace and blanking a screen line.
#include "RecordingTerminalDelegate.h"
#include "ScreenEditTestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

TEST(TerminalLineFeedTests, LineFeedBelowTheScrollRegion)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    t.feed("top");
    setRegion(t, 0, 2);
    moveCursor(t, 1, 4);
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(1, 4)) << "the last screen row below the region: no move";
    EXPECT_EQ(rowText(t, 0), "top") << "and no scroll";

    moveCursor(t, 1, 3);
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(1, 4)) << "below the region the cursor moves down";
    EXPECT_EQ(t.buffer().yBase(), 0);
}

TEST(TerminalLineFeedTests, LineFeedWithMarginsOnlyScrollsInsideThem)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("0123456789\r\nabcdefghij\r\nABCDEFGHIJ");
    t.feed("\x1b[?69h\x1b[3;6s"); // DECLRMM, margins at columns 2...5

    moveCursor(t, 1, 2);
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(1, 2)) << "left of the margin at the bottom: nothing";
    EXPECT_EQ(screenText(t), "0123456789|abcdefghij|ABCDEFGHIJ");

    moveCursor(t, 3, 2);
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 2));
    EXPECT_EQ(screenText(t), "01cdef6789|abCDEFghij|AB    GHIJ") << "only the margin columns scroll";
    EXPECT_EQ(t.buffer().yBase(), 0) << "nothing enters the scrollback";
}

TEST(TerminalLineFeedTests, LineFeedOntoAWrappedLineEndsTheWrap)
{
    TerminalFixture fixture(5, 3);
    Terminal& t = fixture.t();
    t.feed("abcdefg"); // wraps onto row 1
    ASSERT_TRUE(t.buffer().lines().lineOrEmpty(1).isWrapped());
    moveCursor(t, 0, 0);
    t.clearUpdateRange();
    const uint64_t generation = t.buffer().lines().lineOrEmpty(1).generation();
    t.feed("\n");
    EXPECT_FALSE(t.buffer().lines().lineOrEmpty(1).isWrapped());
    EXPECT_GT(t.buffer().lines().lineOrEmpty(1).generation(), generation);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 1)) << "both rows are redrawn";
    EXPECT_EQ(t.getScrollInvariantUpdateRange(), std::make_pair(0, 1));
}

TEST(TerminalLineFeedTests, LineFeedEndsAPendingWrapAndHonoursNewLineMode)
{
    TerminalFixture fixture(5, 4);
    Terminal& t = fixture.t();
    t.feed("abcde");
    ASSERT_EQ(t.buffer().x(), 4) << "the cursor waits on the last column";
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(4, 1));

    t.feed("\x1b[20h"); // LNM
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 2)) << "new-line mode returns the carriage";

    t.feed("\x1b[?6h\x1b[?69h\x1b[3s"); // DECOM, DECLRMM, left margin at column 2
    moveCursor(t, 4, 1);
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(2, 2))
        << "to the left margin in origin mode with margins";
    t.feed("\x1b[?69l");
    moveCursor(t, 4, 1);
    t.feed("\n");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 2)) << "to column 0 without margins";
}

TEST(TerminalLineFeedTests, LineFeedGivesTheLineTheCurrentBidiState)
{
    TerminalFixture fixture(5, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[2 k"); // SCP: right to left
    t.feed("\n");
    EXPECT_EQ(t.buffer().lines().lineOrEmpty(1).bidiState().fallbackDirection, BidiDirection::rightToLeft);
}

TEST(TerminalLineFeedTests, CarriageReturn)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    moveCursor(t, 7, 1);
    t.feed("\r");
    EXPECT_EQ(t.buffer().x(), 0);
    t.feed("\x1b[?69h\x1b[4s"); // DECLRMM, left margin at column 3
    moveCursor(t, 7, 1);
    t.feed("\r");
    EXPECT_EQ(t.buffer().x(), 3) << "inside the margins CR goes to the left margin";
    moveCursor(t, 2, 1);
    t.feed("\r");
    EXPECT_EQ(t.buffer().x(), 0) << "left of the margin CR goes to column 0";
}

TEST(TerminalLineFeedTests, Backspace)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("\b");
    EXPECT_EQ(t.buffer().x(), 0) << "BS at column 0 does nothing";
    t.feed("abc\b\b");
    EXPECT_EQ(t.buffer().x(), 1);
    t.feed("\x1b[1;10Hx"); // a wrap pending on the last column
    t.feed("\b");
    EXPECT_EQ(t.buffer().x(), 8) << "the pending wrap ends, then BS moves left";

    t.feed("\x1b[?69h\x1b[5s"); // DECLRMM, left margin at column 4
    moveCursor(t, 4, 0);
    t.feed("\b");
    EXPECT_EQ(t.buffer().x(), 4) << "BS at the left margin does nothing";
    moveCursor(t, 2, 0);
    t.feed("\b");
    EXPECT_EQ(t.buffer().x(), 1) << "left of the margin BS moves left";
}

TEST(TerminalLineFeedTests, ResetBufferLine)
{
    TerminalFixture fixture(6, 3);
    Terminal& t = fixture.t();
    t.feed("abcdefgh");
    const BufferLine& line = t.buffer().lines().lineOrEmpty(1);
    ASSERT_TRUE(line.isWrapped());
    t.feed("\x1b#6");   // DECDWL on row 1
    t.feed("\x1b[43m"); // an erase colour of its own
    ASSERT_NE(t.innerState().currentEraseBlankCell, PackedCell());
    t.feed("\x1b[3;1H\x1b[2 k"); // SCP: right to left from here on, on row 2
    BidiPresentationState rightToLeft = t.currentBidiState();
    ASSERT_EQ(rightToLeft.fallbackDirection, BidiDirection::rightToLeft);
    t.clearUpdateRange();

    // ED 1 from column 0 of row 2 resets the rows above.
    t.feed("\x1b[1J");
    EXPECT_EQ(rowText(t, 1), "");
    EXPECT_FALSE(line.isWrapped());
    EXPECT_EQ(line.renderMode(), BufferLine::RenderLineMode::single) << "a double-width line is single again";
    EXPECT_EQ(line.bidiState(), rightToLeft);
    EXPECT_EQ(line.packed(5), t.innerState().currentEraseBlankCell) << "blanked with the erase cell";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 2));
    EXPECT_EQ(rowText(t, 0), "");
}

TEST(TerminalLineFeedTests, EchoedEnterContinuationIsCleared)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    // The Enter a shell echoes while the command line is edited: the row it reaches joins the
    // prompt's group; OSC 133 C, the command's output beginning there, takes it back out.
    t.feed("\x1b]133;A\x07$ \x1b]133;B\x07"
           "echo \\\r\n\x1b]133;A;k=c\x07> \x1b]133;B\x07hi");
    const BufferLine& line = t.buffer().lines().lineOrEmpty(1);
    ASSERT_TRUE(line.semanticHardContinuationGroup());
    const uint64_t generation = line.generation();
    t.feed("\x1b]133;C\x07");
    EXPECT_FALSE(line.semanticHardContinuationGroup());
    EXPECT_EQ(line.generation() - generation, BufferLine::decorationChange);
    t.feed("\x1b]133;C\x07");
    EXPECT_EQ(line.generation() - generation, BufferLine::decorationChange) << "nothing left to clear";
}

} // namespace
} // namespace kestrovan::testing
