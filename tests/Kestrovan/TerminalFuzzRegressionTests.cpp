// Faults the whole-terminal fuzz target (fuzz/TerminalFeedFuzz.cpp) found, each kept as the
// smallest program output that shows it. Every test opens with the input, the old wrong result and
// why it was wrong.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"
#include "tests/Kestrovan/TerminalStateDump.h"

#include <gtest/gtest.h>
#include <string>

using namespace kestrovan;
using namespace kestrovan::testing;

namespace {

/// "col:lead" or "col:continuation" for every half of a wide character that has lost its other
/// half on an absolute row of the active buffer; empty when there is none.
std::string brokenWideHalves(Terminal& t, int row)
{
    const BufferLine& line = *t.buffer().lines()[row];
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

} // namespace
