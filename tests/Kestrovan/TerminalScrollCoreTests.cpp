// The core scroll and its three paths (recycling a full ring, rotating a region in place, the
// general path with margins, selections and a scrolled-back view), and IND and RI.
#include "RecordingTerminalDelegate.h"
#include "ScreenEditTestSupport.h"
#include "TerminalTestAccess.h"
#include "TestSupport.h"

#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// Fills a 10 x 3 terminal with two lines of scrollback until its ring of 5 lines is full.
void fillRing(TerminalFixture& fixture)
{
    fixture.t().feed("1\r\n2\r\n3\r\n4\r\n5");
    ASSERT_TRUE(fixture.buffer().lines().isFull());
    ASSERT_EQ(fixture.buffer().yBase(), 2);
}

TEST(TerminalScrollCoreTests, FullScreenScrollRecyclesTheOldestLineOfAFullRing)
{
    TerminalFixture fixture(10, 3, 2);
    Terminal& t = fixture.t();
    fillRing(fixture);
    const CircularBufferLineList& ring = fixture.buffer().lines();
    const BufferLine* oldest = ring.lineIfPresent(0).get();
    t.clearUpdateRange();

    t.feed("\n");
    EXPECT_EQ(ring.count(), 5);
    EXPECT_EQ(ring.lineIfPresent(4).get(), oldest) << "the oldest line object is reused as the new last line";
    EXPECT_EQ(absoluteRowText(t, 4), "") << "and it is blank";
    EXPECT_EQ(fixture.buffer().linesTop(), 1);
    EXPECT_EQ(fixture.buffer().yBase(), 2) << "yBase stays when the ring is full";
    EXPECT_EQ(fixture.buffer().yDisp(), 2) << "the view stays at the bottom";
    EXPECT_EQ(absoluteRowText(t, 0), "2");
    EXPECT_EQ(screenText(t), "4|5|");
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 2));
    EXPECT_FALSE(t.getScrollInvariantUpdateRange()) << "absolute rows did not change";
}

TEST(TerminalScrollCoreTests, WrappedScrollTakesTheBidiStateOfTheLineAbove)
{
    TerminalFixture fixture(10, 3, 2);
    Terminal& t = fixture.t();
    // The last line is written right to left (SCP 2 before its text); the state in effect is left
    // to right again (SCP 1) when printing past its end scrolls a continuation line in.
    t.feed("1\r\n2\r\n3\r\n4\r\n\x1b[2 k5\x1b[1 k");
    const CircularBufferLineList& ring = fixture.buffer().lines();
    ASSERT_TRUE(ring.isFull());
    const BidiPresentationState rightToLeft = ring.lineOrEmpty(4).bidiState();
    ASSERT_EQ(rightToLeft.fallbackDirection, BidiDirection::rightToLeft);
    ASSERT_EQ(t.currentBidiState().fallbackDirection, BidiDirection::leftToRight);
    t.feed("123456789x");
    EXPECT_TRUE(ring.lineOrEmpty(4).isWrapped());
    EXPECT_EQ(ring.lineOrEmpty(4).bidiState(), rightToLeft);
    t.feed("\n");
    EXPECT_FALSE(ring.lineOrEmpty(4).isWrapped());
    EXPECT_EQ(ring.lineOrEmpty(4).bidiState(), t.currentBidiState())
        << "an unwrapped line takes the current state";
}

TEST(TerminalScrollCoreTests, GrowingRingMovesTheScreenDown)
{
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    t.feed("1\r\n2\r\n3\r\n4");
    EXPECT_EQ(fixture.buffer().yBase(), 1);
    EXPECT_EQ(fixture.buffer().yDisp(), 1);
    EXPECT_EQ(fixture.buffer().lines().count(), 4);
    EXPECT_EQ(screenText(t), "2|3|4");

    // A user scrolled back keeps looking at the same rows while the ring grows.
    t.setUserScrolling(true);
    t.scrollViewportTo(0);
    t.feed("\r\n5");
    EXPECT_EQ(fixture.buffer().yBase(), 2);
    EXPECT_EQ(fixture.buffer().yDisp(), 0);
    EXPECT_EQ(screenText(t), "1|2|3");
}

TEST(TerminalScrollCoreTests, ScrolledBackViewKeepsItsTextWhenTheFullRingScrolls)
{
    TerminalFixture fixture(10, 3, 2);
    Terminal& t = fixture.t();
    fillRing(fixture);
    t.setUserScrolling(true);
    t.scrollViewportTo(1);
    ASSERT_EQ(screenText(t), "2|3|4");
    t.feed("\r\n6");
    EXPECT_EQ(fixture.buffer().yDisp(), 0) << "the view follows its text up";
    EXPECT_EQ(screenText(t), "2|3|4");
    EXPECT_EQ(fixture.buffer().linesTop(), 1);
    t.feed("\r\n7");
    EXPECT_EQ(fixture.buffer().yDisp(), 0) << "and stops at the top";
    EXPECT_EQ(screenText(t), "3|4|5");
}

TEST(TerminalScrollCoreTests, RegionBelowTheTopNeverFeedsTheScrollback)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd");
    setRegion(t, 1, 2);
    moveCursor(t, 0, 2);
    const CircularBufferLineList& ring = fixture.buffer().lines();
    const BufferLine* leaving = ring.lineIfPresent(1).get();
    t.clearUpdateRange();
    t.feed("\n\n");
    EXPECT_EQ(screenText(t), "a|||d");
    EXPECT_EQ(fixture.buffer().yBase(), 0) << "nothing entered the scrollback";
    EXPECT_EQ(ring.count(), 4);
    EXPECT_EQ(ring.lineIfPresent(1).get() == leaving || ring.lineIfPresent(2).get() == leaving, true)
        << "region lines are rotated, not made";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(1, 2));
    EXPECT_EQ(t.getScrollInvariantUpdateRange(), std::make_pair(1, 2));
}

// The core scroll moves one line per call on every path. It used to take a line count that every
// path ignored, so a caller asking for more got one; it now takes none, and the callers that move
// several lines (SU, SD, IL, DL) move them in one step of their own.
static_assert(std::is_same_v<decltype(&BufferTerminal::scroll), void (BufferTerminal::*)(Buffer&, bool)>);

TEST(TerminalScrollCoreTests, EachScrollMovesOneLineOnEveryPath)
{
    // Each IND at the bottom of the region is one scroll. In place: a region below the top of the
    // screen.
    TerminalFixture region(10, 4, 10);
    region.t().feed("a\r\nb\r\nc\r\nd");
    setRegion(region.t(), 1, 2);
    moveCursor(region.t(), 0, 2);
    region.t().feed("\x1b"
                    "D");
    EXPECT_EQ(screenText(region.t()), "a|c||d");
    region.t().feed("\x1b"
                    "D");
    EXPECT_EQ(screenText(region.t()), "a|||d");

    // Into the scrollback, while the ring grows and once it is full.
    TerminalFixture full(10, 3, 2);
    full.t().feed("1\r\n2\r\n3");
    for (const int expectedTop : {1, 2, 3}) {
        full.t().feed("\x1b"
                      "D");
        EXPECT_EQ(full.buffer().linesTop() + full.buffer().yBase(), expectedTop) << "one line per scroll";
    }
    EXPECT_EQ(screenText(full.t()), "||");
    EXPECT_EQ(absoluteRowText(full.t(), 0), "2");

    // With left and right margins: only the cells between them move, one row.
    TerminalFixture margins(4, 3);
    margins.t().feed("abcd\r\nefgh\r\nijkl\x1b[?69h\x1b[2;3s");
    moveCursor(margins.t(), 1, 2);
    margins.t().feed("\x1b"
                     "D");
    EXPECT_EQ(screenText(margins.t()), "afgd|ejkh|i  l");
}

TEST(TerminalScrollCoreTests, RegionFromTheTopAboveTheBottomScrollsIntoTheScrollback)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd");
    setRegion(t, 0, 1);
    moveCursor(t, 0, 1);
    t.feed("\n");
    EXPECT_EQ(fixture.buffer().yBase(), 1);
    EXPECT_EQ(absoluteRowText(t, 0), "a") << "the top line went into the scrollback";
    EXPECT_EQ(screenText(t), "b||c|d") << "the rows below the region keep their place";
}

TEST(TerminalScrollCoreTests, AlternateScreenScrollsInPlace)
{
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    t.feed("\x1b[?47h");
    moveCursor(t, 0, 0);
    t.feed("1\r\n2\r\n3\r\n4");
    EXPECT_EQ(screenText(t), "2|3|4");
    EXPECT_EQ(t.buffer().lines().count(), 3);
    EXPECT_EQ(t.buffer().linesTop(), 0) << "a buffer without scrollback trims nothing";
    EXPECT_EQ(t.buffer().yBase(), 0);
}

TEST(TerminalScrollCoreTests, SelectionsFollowAFullRingScroll)
{
    TerminalFixture fixture(10, 3, 2);
    Terminal& t = fixture.t();
    fillRing(fixture);
    auto selection = selectRows(fixture, Position(0, 3), Position(5, 4));
    auto atTop = selectRows(fixture, Position(0, 0), Position(3, 1));
    fixture.delegate->selectionChanges = 0;

    t.feed("\n");
    EXPECT_EQ(fixture.buffer().linesTop(), 1);
    EXPECT_TRUE(selection->active());
    EXPECT_EQ(selection->start(), Position(0, 2)) << "the selection moves up with its text";
    EXPECT_EQ(selection->end(), Position(5, 3));
    EXPECT_FALSE(atTop->active()) << "its first row fell off the ring";
    EXPECT_EQ(t.innerState().activeSelectionCount, 1);
    EXPECT_EQ(fixture.delegate->selectionChanges, 2);
}

TEST(TerminalScrollCoreTests, SelectionsFollowARegionScroll)
{
    TerminalFixture fixture(10, 5, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    setRegion(t, 1, 3);
    auto inside = selectRows(fixture, Position(0, 2), Position(4, 3));
    auto leaving = selectRows(fixture, Position(0, 1), Position(4, 2));
    auto outside = selectRows(fixture, Position(0, 4), Position(4, 4));
    moveCursor(t, 0, 3);
    t.feed("\n");
    EXPECT_EQ(screenText(t), "a|c|d||e");
    EXPECT_EQ(inside->start(), Position(0, 1));
    EXPECT_EQ(inside->end(), Position(4, 2));
    EXPECT_FALSE(leaving->active()) << "its first row scrolled out of the region";
    EXPECT_TRUE(outside->active());
    EXPECT_EQ(outside->start(), Position(0, 4)) << "rows below the region do not move";
}

TEST(TerminalScrollCoreTests, LeftRightMarginScrollCopiesOnlyTheMarginColumns)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    t.feed("0123456789\r\nabcdefghij\r\nABCDEFGHIJ\r\nklmnopqrst");
    t.feed("\x1b[?69h\x1b[3;6s"); // DECLRMM, margins at columns 2...5
    setRegion(t, 1, 3);
    moveCursor(t, 0, 2);
    t.feed("\x1b#6"); // DECDWL on row 2
    auto touched = selectRows(fixture, Position(3, 2), Position(4, 2));
    auto leftOfMargin = selectRows(fixture, Position(0, 2), Position(1, 2));
    auto aboveRegion = selectRows(fixture, Position(0, 0), Position(9, 0));
    fixture.delegate->selectionChanges = 0;

    moveCursor(t, 4, 3);
    t.feed("\n");
    EXPECT_EQ(screenText(t), "0123456789|abCDEFghij|ABmnopGHIJ|kl    qrst");
    EXPECT_EQ(fixture.buffer().yBase(), 0);
    EXPECT_EQ(t.buffer().lines().lineOrEmpty(2).renderMode(), BufferLine::RenderLineMode::single)
        << "a line whose cells moved is single width again";
    EXPECT_FALSE(touched->active()) << "a selection the copied cells cross is dropped";
    EXPECT_EQ(touched->start(), Position());
    EXPECT_TRUE(leftOfMargin->active()) << "cells left of the margin did not move";
    EXPECT_TRUE(aboveRegion->active());
    EXPECT_EQ(t.innerState().activeSelectionCount, 2);
    EXPECT_EQ(fixture.delegate->selectionChanges, 1);
}

TEST(TerminalScrollCoreTests, LeftRightMarginScrollDoesNotSplitWideCharacters)
{
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    putWide(t, 2, 1);
    t.feed("\x1b[?69h\x1b[3;6s"); // DECLRMM, margins at columns 2...5
    moveCursor(t, 3, 2);
    t.feed("\n");
    for (int col = 0; col < 10; ++col) {
        const CharData cell = (t.buffer().lines().lineOrEmpty(1))[col];
        const CharData below = (t.buffer().lines().lineOrEmpty(2))[col];
        EXPECT_NE(cell.widthStateCode, 2) << "no stray continuation on row 1 at column " << col;
        EXPECT_NE(below.widthStateCode, 1) << "no lead without its continuation on row 2 at column " << col;
    }
}

TEST(TerminalScrollCoreTests, IndexAndReverseIndex)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd");
    t.feed("\x1b[?69h\x1b[4;7s"); // DECLRMM, margins at columns 3...6
    moveCursor(t, 1, 3);
    t.feed("\x1b"
           "D");
    EXPECT_EQ(screenText(t), "a|b|c|d") << "IND at the bottom outside the margins does nothing";
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(1, 3));
    t.feed("\x1bM");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(1, 2)) << "RI above the top only moves";
    moveCursor(t, 1, 0);
    t.feed("\x1bM");
    EXPECT_EQ(screenText(t), "a|b|c|d") << "RI at the top outside the margins does nothing";
    t.feed("\x1b[?69l");

    moveCursor(t, 12, 1); // past the right edge: IND clamps first
    t.feed("\x1b"
           "D");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(9, 2));
}

TEST(TerminalScrollCoreTests, ReverseIndexAtTheTopInsertsAnUnwrappedBlankLine)
{
    TerminalFixture fixture(5, 4, 10);
    Terminal& t = fixture.t();
    t.feed("abcdefghijklmn"); // rows 1 and 2 continue row 0
    setRegion(t, 0, 1);
    auto selection = selectRows(fixture, Position(0, 0), Position(2, 0));
    auto below = selectRows(fixture, Position(0, 1), Position(2, 1));
    moveCursor(t, 0, 0);
    t.clearUpdateRange();
    t.feed("\x1bM");
    EXPECT_EQ(screenText(t), "|abcde|klmn|");
    const CircularBufferLineList& ring = t.buffer().lines();
    EXPECT_FALSE(ring.lineOrEmpty(0).isWrapped()) << "the new top line continues nothing";
    EXPECT_FALSE(ring.lineOrEmpty(2).isWrapped())
        << "the line below the region stops continuing the dropped line";
    EXPECT_EQ(selection->start(), Position(0, 1)) << "the selection moves down with its text";
    EXPECT_FALSE(below->active()) << "its row was pushed out of the region";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 1));
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 0));
}

TEST(TerminalScrollCoreTests, InPlaceScrollReportsImpossibleRows)
{
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    DiagnosticCapture capture;
    // Rows past the ring's end: no sequence asks for them, the guard is called with them directly.
    TerminalTestAccess::scrollInPlaceRegionFast(t, 0, 2, 2, 7);
    ASSERT_EQ(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines[0], "Assertion at top=2 bottom=7: bottom >= count");
    EXPECT_EQ(capture.lines[1],
              "Assertion on scroll, state was: bottomRow=7 topRow=2 yDisp=0 linesTop=0 isAlternate=false");
    EXPECT_EQ(screenText(t), "||") << "no line moved";
}

} // namespace
} // namespace kestrovan::testing
