// The bidi paragraph controls: the character-path and presentation-direction sequences, and how
// the current bidi state reaches the lines of the paragraph under the cursor.
#include "RecordingTerminalDelegate.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

constexpr BidiDirection ltr = BidiDirection::leftToRight;
constexpr BidiDirection rtl = BidiDirection::rightToLeft;

const BufferLine& line(Terminal& t, int row)
{
    return t.buffer().lines().lineOrEmpty(t.buffer().yBase() + row);
}

BidiDirection direction(Terminal& t, int row)
{
    return line(t, row).bidiState().fallbackDirection;
}

/// A 5-column screen whose row 0 is one line and rows 1...3 are one paragraph wrapped twice.
struct ParagraphFixture : TerminalFixture
{
    ParagraphFixture() : TerminalFixture(5, 6) { terminal->feed("one\r\nabcdefghijklm\r\nlast"); }
};

TEST(TerminalBidiTests, CharacterPathAtAParagraphStartReachesItsWholeParagraph)
{
    ParagraphFixture fixture;
    Terminal& t = fixture.t();
    ASSERT_TRUE(line(t, 2).isWrapped());
    ASSERT_TRUE(line(t, 3).isWrapped());
    moveCursor(t, 0, 1);
    t.clearUpdateRange();
    t.feed("\x1b[2 k");

    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl);
    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl);
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(direction(t, row), rtl) << "row " << row << " belongs to the paragraph";
    EXPECT_EQ(direction(t, 0), ltr) << "the paragraph above is left alone";
    EXPECT_EQ(direction(t, 4), ltr) << "the paragraph below is left alone";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).defaultBidiState().fallbackDirection, rtl);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).defaultBidiState().fallbackDirection, rtl)
        << "both screens' new lines follow";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, t.rows())) << "the whole screen is redrawn";
}

TEST(TerminalBidiTests, ChangesInsideAParagraphLeaveTheLinesAlone)
{
    ParagraphFixture fixture;
    Terminal& t = fixture.t();
    std::vector<uint64_t> generations;
    for (int row = 0; row < 6; ++row)
        generations.push_back(line(t, row).generation());

    moveCursor(t, 3, 1);
    t.feed("\x1b[2 k");
    moveCursor(t, 0, 2);
    t.feed("\x1b[3 S");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl) << "the state itself changes";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).defaultBidiState().fallbackDirection, rtl);
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(direction(t, row), ltr) << "row " << row;
        EXPECT_EQ(line(t, row).generation(), generations[static_cast<size_t>(row)])
            << "row " << row << " must not be re-laid out";
    }
}

TEST(TerminalBidiTests, ApplyingAnEqualStateLeavesTheRevisionAlone)
{
    ParagraphFixture fixture;
    Terminal& t = fixture.t();
    moveCursor(t, 0, 1);
    t.feed("\x1b[2 k");
    const uint64_t generation = line(t, 2).generation();
    t.feed("\x1b[2 k");
    EXPECT_EQ(line(t, 2).generation(), generation);
    t.feed("\x1b[1 k");
    EXPECT_EQ(line(t, 2).generation(), generation + 1) << "a real change moves it by one";
}

TEST(TerminalBidiTests, OnlyTheNamedPropertiesAreApplied)
{
    ParagraphFixture fixture;
    Terminal& t = fixture.t();
    // BDSM reset, no direction autodetection, SCP right to left, box mirroring: sent from the
    // middle of a line, so no paragraph takes them yet.
    moveCursor(t, 3, 1);
    t.feed("\x1b[8l\x1b[?2501l\x1b[2 k\x1b[?2500h");
    ASSERT_EQ(t.currentBidiState(), BidiPresentationState(BidiSupportMode::explicit_, false, rtl, true));
    // At the paragraph's start each control applies the one property it sets, through the whole
    // paragraph.
    moveCursor(t, 0, 1);
    t.feed("\x1b[8l");
    EXPECT_EQ(line(t, 3).bidiState(), BidiPresentationState(BidiSupportMode::explicit_, true, ltr, false));

    t.feed("\x1b[?2501l\x1b[2 k\x1b[?2500h");
    EXPECT_EQ(line(t, 3).bidiState(), t.currentBidiState());

    // The oldest line has nothing above it: it starts a paragraph even when marked wrapped. Without
    // scrollback, the first row of a line wrapped over three rows is dropped off the top.
    TerminalFixture twoRows(5, 2, 0);
    Terminal& s = twoRows.t();
    s.feed("abcdefghijk");
    ASSERT_TRUE(line(s, 0).isWrapped());
    moveCursor(s, 0, 0);
    s.feed("\x1b[?2500h");
    EXPECT_TRUE(line(s, 0).bidiState().boxMirroring);
}

TEST(TerminalBidiTests, CharacterPathAndPresentationDirectionValues)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[2 k\x1b[0 k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, ltr) << "SCP 0 returns to the configured direction";
    t.feed("\x1b[2 k\x1b[ k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, ltr) << "so does SCP without a parameter";
    t.feed("\x1b[2 k\x1b[9 k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl) << "other SCP values are ignored";
    t.feed("\x1b[1 k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, ltr);
    t.feed("\x1b[2k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, ltr) << "SCP needs its space";

    t.feed("\x1b[3 S");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl) << "SPD 3";
    t.clearUpdateRange();
    t.feed("\x1b[1 S\x1b[2 S");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl) << "SPD values other than 0 and 3 are ignored";
    EXPECT_FALSE(t.getUpdateRange()) << "an ignored value redraws nothing";
    t.feed("\x1b[ S");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, ltr) << "SPD without a parameter";

    t.feed("\x1b[2 k");
    t.feed("\n");
    EXPECT_EQ(direction(t, 1), rtl) << "a line the cursor moves onto takes the new state";
}

TEST(TerminalBidiTests, CharacterPathZeroUsesTheConfiguredInitialState)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 10;
    options.rows = 3;
    options.initialBidiState.fallbackDirection = rtl;
    TerminalFixture fixture(options);
    Terminal& t = fixture.t();
    t.feed("\x1b[1 k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, ltr);
    t.feed("\x1b[0 k");
    EXPECT_EQ(t.currentBidiState().fallbackDirection, rtl);
    EXPECT_EQ(direction(t, 0), rtl) << "the cursor stands at the start of the first line";
}

} // namespace
} // namespace kestrovan::testing
