// The scroll region (DECSTBM), the left and right margins (DECSLRM) and the cursor style
// (DECSCUSR).
#include "RecordingTerminalDelegate.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Cursor = std::pair<int, int>;
using Region = std::pair<int, int>;

Region scrollRegion(Terminal& t)
{
    return {t.buffer().scrollTop(), t.buffer().scrollBottom()};
}

Region margins(Terminal& t)
{
    return {t.buffer().marginLeft(), t.buffer().marginRight()};
}

TEST(TerminalMarginsTests, ScrollRegionIsValidatedAndAlwaysHomesTheCursor)
{
    TerminalFixture fixture(10, 24);
    Terminal& t = fixture.t();
    moveCursor(t, 5, 12);
    t.feed("\x1b[5;10r");
    EXPECT_EQ(scrollRegion(t), Region(4, 9));
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0)) << "DECSTBM homes the cursor";

    moveCursor(t, 5, 12);
    t.feed("\x1b[10;5r");
    EXPECT_EQ(scrollRegion(t), Region(4, 9)) << "a bottom above the top is refused";
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 0)) << "but the cursor still goes home";
    t.feed("\x1b[7;7r");
    EXPECT_EQ(scrollRegion(t), Region(4, 9)) << "a one-row region is refused";
    t.feed("\x1b[30;40r");
    EXPECT_EQ(scrollRegion(t), Region(4, 9)) << "a region below the screen is refused";

    t.feed("\x1b[5;30r");
    EXPECT_EQ(scrollRegion(t), Region(4, 23)) << "a bottom past the screen means the last row";
    t.feed("\x1b[3;0r");
    EXPECT_EQ(scrollRegion(t), Region(2, 23)) << "a bottom of 0 means the last row";
    t.feed("\x1b[r");
    EXPECT_EQ(scrollRegion(t), Region(0, 23)) << "no parameters: the whole screen";

    moveCursor(t, 5, 12);
    t.feed("\x1b[2;3$r");
    EXPECT_EQ(scrollRegion(t), Region(0, 23)) << "with an intermediate byte the sequence is not DECSTBM";
    EXPECT_EQ(t.getCursorLocation(), Cursor(5, 12));
}

TEST(TerminalMarginsTests, ScrollRegionHomesToTheRegionInOriginMode)
{
    TerminalFixture fixture(10, 24);
    Terminal& t = fixture.t();
    t.feed("\x1b[?6h"); // DECOM
    t.feed("\x1b[5;10r");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 4));
    t.feed("\x1b[9A\x1b[99B");
    EXPECT_EQ(t.getCursorLocation(), Cursor(0, 9)) << "the cursor moves inside the new region";
}

TEST(TerminalMarginsTests, LeftRightMarginsAreValidatedAndKeepTheCursor)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[?69h"); // DECLRMM
    moveCursor(t, 7, 2);
    t.feed("\x1b[2;5s");
    EXPECT_EQ(margins(t), Region(1, 4));
    EXPECT_EQ(t.getCursorLocation(), Cursor(7, 2)) << "DECSLRM does not move the cursor";

    t.feed("\x1b[3;2s");
    EXPECT_EQ(margins(t), Region(1, 1)) << "a left margin past the right one is lowered to it";
    t.feed("\x1b[4;99s");
    EXPECT_EQ(margins(t), Region(3, 9)) << "the right margin is clamped to the last column";
    t.feed("\x1b[99;99s");
    EXPECT_EQ(margins(t), Region(9, 9));
    t.feed("\x1b[s");
    EXPECT_EQ(margins(t), Region(0, 9)) << "no parameters: the full width";
    t.feed("\x1b[4s");
    EXPECT_EQ(margins(t), Region(3, 9)) << "only a left margin";
    t.feed("\x1b[4;s");
    EXPECT_EQ(margins(t), Region(3, 9)) << "an empty right margin is the last column, not column 0";
    t.feed("\x1b[4;0s");
    EXPECT_EQ(margins(t), Region(3, 9));

    t.feed("\x1b[?69l");
    ASSERT_EQ(margins(t), Region(0, 9)) << "DECLRMM reset puts the margins back at the edges";
    t.feed("\x1b[2;5s");
    EXPECT_EQ(margins(t), Region(0, 9)) << "without margin mode CSI s saves the cursor instead";
}

TEST(TerminalMarginsTests, CursorStyleChangesAreStoredAndReportedOnce)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    auto& styles = fixture.delegate->cursorStyles;

    t.feed("\x1b[2 q");
    EXPECT_EQ(t.options().cursorStyle, CursorStyle::steadyBlock);
    t.feed("\x1b[2 q");
    EXPECT_EQ(styles, std::vector<CursorStyle>{CursorStyle::steadyBlock})
        << "an unchanged style is not reported";

    const std::vector<std::pair<const char*, CursorStyle>> cases = {
        {"\x1b[1 q", CursorStyle::blinkBlock},      {"\x1b[3 q", CursorStyle::blinkUnderline},
        {"\x1b[4 q", CursorStyle::steadyUnderline}, {"\x1b[5 q", CursorStyle::blinkBar},
        {"\x1b[6 q", CursorStyle::steadyBar},
    };
    for (const auto& [sequence, style] : cases) {
        t.feed(sequence);
        EXPECT_EQ(t.options().cursorStyle, style) << "after " << sequence + 1;
        EXPECT_EQ(styles.back(), style);
    }

    const size_t reported = styles.size();
    t.feed("\x1b[7 q\x1b[2q\x1b[2!q");
    EXPECT_EQ(t.options().cursorStyle, CursorStyle::steadyBar)
        << "7, and finals without exactly one space, change nothing";
    EXPECT_EQ(styles.size(), reported);

    t.feed("\x1b[0 q");
    EXPECT_EQ(t.options().cursorStyle, CursorStyle::blinkBlock) << "0 restores the default style";
    t.feed("\x1b[6 q\x1b[ q");
    EXPECT_EQ(t.options().cursorStyle, CursorStyle::blinkBlock) << "so does no parameter";

    t.setCursorStyle(CursorStyle::blinkBar);
    EXPECT_EQ(styles.back(), CursorStyle::blinkBar) << "the host's own change is reported too";
}

TEST(TerminalMarginsTests, TheDefaultCursorStyleComesFromTheOptions)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 10;
    options.rows = 3;
    options.cursorStyle = CursorStyle::steadyBar;
    TerminalFixture fixture(options);
    Terminal& t = fixture.t();
    t.feed("\x1b[2 q\x1b[0 q");
    EXPECT_EQ(t.options().cursorStyle, CursorStyle::steadyBar);
    EXPECT_EQ(fixture.delegate->cursorStyles,
              (std::vector<CursorStyle>{CursorStyle::steadyBlock, CursorStyle::steadyBar}));
}

} // namespace
} // namespace kestrovan::testing
