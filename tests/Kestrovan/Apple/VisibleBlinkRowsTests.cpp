// The rows on screen that hold blinking text, as the view's text blink timer asks for them.
#include "Kestrovan/Apple/VisibleBlinkRows.h"
#include "Kestrovan/RecordingTerminalDelegate.h"
#include "Kestrovan/TerminalLock.h"

#include <gtest/gtest.h>

using namespace kestrovan;

namespace {

std::vector<int64_t> blinkRows(Terminal& terminal)
{
    TerminalLockGuard guard(terminal.terminalLock());
    return visibleBlinkRowsLocked(terminal);
}

TEST(VisibleBlinkRows, OnlyShownRowsWithABlinkingCellCountAscending)
{
    kestrovan::testing::TerminalFixture fixture(10, 3);
    Terminal& terminal = fixture.t();
    EXPECT_TRUE(blinkRows(terminal).empty());

    // Five lines on a three-row screen: lines 2 to 4 are shown. Line 1 blinks but has scrolled
    // away; line 3 blinks in its last column; line 4 blinks from its first cell; a blinking
    // space counts as well, since the blink is the cell's look.
    terminal.feed("zero\r\n\x1b[5mone\x1b[0m\r\ntwo\r\nthree\x1b[9G\x1b[5mxy\x1b[0m\r\n\x1b[5m \x1b[0mfour");
    EXPECT_EQ(blinkRows(terminal), (std::vector<int64_t>{3, 4}));

    // Clearing the blinking cells takes the rows off; blinking text written after SGR 25 does not.
    terminal.feed("\x1b[2;1H\x1b[2K\x1b[3;1H\x1b[2K\x1b[25mquiet");
    EXPECT_TRUE(blinkRows(terminal).empty());
}

} // namespace
