// Faults the whole-terminal fuzz target (fuzz/TerminalFeedFuzz.cpp) found, each kept as the
// smallest program output that shows it. Every test opens with the input, the old wrong result and
// why it was wrong.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"
#include "tests/Kestrovan/TerminalStateDump.h"

#include "Kestrovan/TerminalTextExtraction.h"

#include <gtest/gtest.h>
#include <string>

using namespace kestrovan;
using namespace kestrovan::testing;

namespace {

/// "col:lead" or "col:continuation" for every half of a wide character that has lost its other
/// half on an absolute row of the active buffer; empty when there is none.
std::string brokenWideHalves(Terminal& t, int row)
{
    const BufferLine& line = t.buffer().lines().lineOrEmpty(row);
    std::string out;
    for (int col = 0; col < line.count(); ++col) {
        const PackedCell cell = line.packed(col);
        if (cell.isLead() && (col + 1 >= line.count() || !line.packed(col + 1).isContinuation()))
            out += std::to_string(col) + ":lead ";
        if (cell.isContinuation() && (col == 0 || !line.packed(col - 1).isLead()))
            out += std::to_string(col) + ":continuation ";
    }
    return out;
}

TEST(TerminalFuzzRegressionTests, NarrowingCutsNoWideCharacterInHalf)
{
    // Input: "abcde中xy" on an 8-column terminal with scrollback (the cursor ends on the wrapped
    //   second row), then a resize to 6 columns.
    // Old result: row 0 ended in the lead half of 中 at column 5, its continuation cut off.
    // Why wrong: the cursor's wrapped group is not reflowed but cut at the new edge, and the cut
    //   split the wide character; a lead with no continuation is half a character.
    TerminalFixture f(8, 3, 10);
    f.t().feed("abcde中xy");
    ASSERT_EQ(rowText(f.t(), 0), "abcde中x");
    f.t().resize(6, 3);
    EXPECT_EQ(brokenWideHalves(f.t(), f.buffer().yBase()), "");
    EXPECT_EQ(rowText(f.t(), 0), "abcde") << "the half that stayed is blanked";

    // The same cut through a line above the cursor's group, which is reflowed, keeps the
    // character on the next line instead.
    TerminalFixture g(8, 4, 10);
    g.t().feed("abcde中x\r\n\r\nz");
    g.t().resize(6, 4);
    for (int row = 0; row < g.buffer().lines().count(); ++row)
        EXPECT_EQ(brokenWideHalves(g.t(), row), "") << "row " << row;
}

TEST(TerminalFuzzRegressionTests, SpacingMarkAtTheMarginOfAOneColumnRegionKeepsItsCharacter)
{
    // Input: left and right margins both at column 6 (CSI ? 69 h CSI 6;6 s), then at column 6
    //   "क" followed by the spacing vowel sign "ा" (U+093E).
    // Old result: column 6 was blank: the sign widens its cell, the wide cell could go nowhere
    //   but the next line, and a region one column wide cannot hold it there either, so the
    //   character was blanked and then dropped.
    // Why wrong: text the program wrote vanished; a joined cell that cannot widen keeps its one
    //   column, as it does at the right edge with auto-wrap off.
    TerminalFixture f(10, 3, 10);
    f.t().feed("\x1b[?69h\x1b[6;6s\x1b[1;6Hक\u093E");
    EXPECT_EQ(getText(f.t(), 5, 0), "क\u093E");
    EXPECT_EQ(f.t().getCharData(5, 0)->width, 1);

    // The same bytes after a soft hyphen (a control for grapheme breaking) in the column before:
    // the cell before the cursor must be what the next scalar is tested against, fed whole or
    // byte by byte. The blanked cell used to leave the soft hyphen there, and the second sign
    // joined it in one feed but not across feeds.
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 2;
    options.rows = 3;
    const std::string bytes = "\u00AD\x1b[?69h\x1b[2;2sà\u0940\u0940";
    DumpedTerminal whole(options);
    whole.feed(bytes);
    DumpedTerminal bytewise(options);
    for (char byte : bytes)
        bytewise.feed(std::string_view(&byte, 1));
    EXPECT_EQ(describeDumpDifference(whole.dump(), bytewise.dump()), "");
    EXPECT_EQ(getText(whole.terminal(), 1, 0), "à\u0940\u0940");
}

TEST(TerminalFuzzRegressionTests, ColumnModeBehindTheAlternateScreenLeavesTheNormalBufferItsOwnSize)
{
    // Input: on 14x6, CSI ? 40 h CSI ? 1049 h; the host resizes to 10x3; CSI ? 3 h (132 columns);
    //   the host resizes back to 14x6; CSI ? 1049 l.
    // Old result: the normal screen, 14x6 again, had the scroll region 0-2 and the right margin
    //   131, and text printed with left/right margins on ran the cursor to column 36.
    // Why wrong: DECCOLM gave the normal buffer, which waits at its old size behind the alternate
    //   screen, the region and margins of the 132x3 grid; it is only resized (and its region and
    //   margins with it) on return when its size differs, so nothing put them right.
    TerminalFixture f(14, 6, 10);
    f.t().feed("\x1b[?40h\x1b[?1049h");
    f.t().resize(10, 3);
    f.t().feed("\x1b[?3h");
    ASSERT_EQ(f.t().cols(), 132);
    f.t().resize(14, 6);
    f.t().feed("\x1b[?1049l");
    ASSERT_FALSE(f.t().isCurrentBufferAlternate());
    EXPECT_EQ(f.buffer().scrollTop(), 0);
    EXPECT_EQ(f.buffer().scrollBottom(), 5);
    EXPECT_EQ(f.buffer().marginLeft(), 0);
    EXPECT_EQ(f.buffer().marginRight(), 13);

    f.t().feed("\x1b[?69h\x1b[1;1Habcdefghijklmnopqrstuvwxyz");
    EXPECT_LE(f.buffer().x(), 14);
    EXPECT_EQ(rowText(f.t(), 0), "abcdefghijklmn");
    EXPECT_EQ(rowText(f.t(), 1), "opqrstuvwxyz");
}

} // namespace
