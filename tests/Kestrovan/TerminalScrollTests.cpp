// Editing the scroll region in place: SU, SD, IL, DL with and without margins and with registered
// selections, ICH and DCH at wide-character seams, DECIC, DECDC, the column scroll, REP, the bidi
// hardening of wrap flags, and the image and kitty hooks.
#include "RecordingTerminalDelegate.h"
#include "ScreenEditTestSupport.h"
#include "TestSupport.h"

#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// Four rows of ten distinct characters.
void feedGrid(Terminal& t)
{
    t.feed("0123456789\r\nabcdefghij\r\nABCDEFGHIJ\r\nklmnopqrst");
}

TEST(TerminalScrollTests, ScrollUpAndDownMoveWholeLinesWithoutTouchingTheScrollback)
{
    TerminalFixture fixture(10, 5, 10);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    setEraseBackground(t, Attribute::Color::ansi256(4));
    moveCursor(t, 3, 1);

    t.feed("\x1b[2S");
    EXPECT_EQ(screenText(t), "c|d|e||");
    EXPECT_EQ(buffer.yBase(), 0) << "SU puts nothing into the scrollback";
    EXPECT_EQ(buffer.lines().count(), 5);
    EXPECT_EQ(screenLine(t, 4).packed(9), PackedCell())
        << "SU fills with plain empty cells, not the erase style";
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 1));

    t.feed("\x1b[T");
    EXPECT_EQ(screenText(t), "|c|d|e|");
    EXPECT_EQ(screenLine(t, 0).packed(0), PackedCell()) << "SD fills with plain empty cells too";

    setRegion(t, 1, 3);
    t.feed("\x1b[S");
    EXPECT_EQ(screenText(t), "|d|e||") << "SU inside a region";
    t.feed("\x1b[2T");
    EXPECT_EQ(screenText(t), "|||d|") << "SD inside a region";

    // Huge counts are capped: the region ends blank and nothing outside it moves.
    t.feed("\x1b[2J");
    setRegion(t, 0, 4);
    moveCursor(t, 0, 0);
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    setRegion(t, 1, 3);
    t.feed("\x1b[1000S");
    EXPECT_EQ(screenText(t), "a||||e");
    t.feed("\x1b[1000T");
    EXPECT_EQ(screenText(t), "a||||e");

    // A full ring: SU rotates lines inside the screen, the history stays.
    TerminalFixture full(10, 3, 2);
    Terminal& u = full.t();
    u.feed("1\r\n2\r\n3\r\n4\r\n5\r\n6");
    ASSERT_TRUE(full.buffer().lines().isFull());
    u.feed("\x1b[S");
    EXPECT_EQ(screenText(u), "5|6|");
    EXPECT_EQ(absoluteRowText(u, 0), "2");
    EXPECT_EQ(absoluteRowText(u, 1), "3");
    EXPECT_EQ(full.buffer().linesTop(), 1);
}

TEST(TerminalScrollTests, ScrollUpAndDownWithMarginsMoveOnlyTheMarginColumns)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    feedGrid(t);
    setMargins(t, 2, 5);
    moveCursor(t, 0, 1);
    t.feed("\x1b#6");    // DECDWL on row 1
    moveCursor(t, 8, 0); // outside the margins: SU and SD do not look at the column

    t.feed("\x1b[S");
    EXPECT_EQ(screenText(t), "01cdef6789|abCDEFghij|ABmnopGHIJ|kl    qrst");
    EXPECT_EQ(screenLine(t, 1).renderMode(), BufferLine::RenderLineMode::single)
        << "a line whose cells moved is single size again";
    EXPECT_EQ(screenLine(t, 3).packed(3), PackedCell());

    t.feed("\x1b[2T");
    EXPECT_EQ(screenText(t), "01    6789|ab    ghij|ABcdefGHIJ|klCDEFqrst");

    // A wide character across a margin is blanked whole rather than cut.
    putWide(t, 0, 5);
    putWide(t, 1, 1);
    t.feed("\x1b[S");
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(strayHalves(t, row), "") << "row " << row;
}

TEST(TerminalScrollTests, ScrollUpAndDownAdjustRegisteredSelections)
{
    TerminalFixture fixture(10, 6, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd\r\ne\r\nf");
    setRegion(t, 1, 4);
    auto inside = selectRows(fixture, Position(0, 3), Position(4, 4));
    auto leaving = selectRows(fixture, Position(0, 1), Position(4, 3));
    auto outside = selectRows(fixture, Position(0, 5), Position(4, 5));
    fixture.delegate->selectionChanges = 0;

    t.feed("\x1b[S");
    EXPECT_EQ(screenText(t), "a|c|d|e||f");
    EXPECT_TRUE(inside->active());
    EXPECT_EQ(inside->start(), Position(0, 2)) << "SU moves the selection up with its text";
    EXPECT_EQ(inside->end(), Position(4, 3));
    EXPECT_FALSE(leaving->active()) << "its first row scrolled out of the region";
    EXPECT_TRUE(outside->active());
    EXPECT_EQ(outside->start(), Position(0, 5)) << "rows below the region do not move";
    EXPECT_EQ(fixture.delegate->selectionChanges, 2);

    t.feed("\x1b[2T");
    EXPECT_EQ(screenText(t), "a|||c|d|f");
    EXPECT_FALSE(inside->active()) << "SD pushed its last row out of the region";
    EXPECT_TRUE(outside->active());
    EXPECT_EQ(t.innerState().activeSelectionCount, 1);

    auto moved = selectRows(fixture, Position(1, 3), Position(1, 3));
    t.feed("\x1b[T");
    EXPECT_EQ(moved->start(), Position(1, 4)) << "SD moves the selection down with its text";

    // With margins the copied cells no longer match the selection, so it goes.
    setMargins(t, 0, 3);
    t.feed("\x1b[S");
    EXPECT_FALSE(moved->active());
    EXPECT_TRUE(outside->active()) << "a selection below the region is not touched";
}

TEST(TerminalScrollTests, InsertAndDeleteLinesInsideTheRegion)
{
    TerminalFixture fixture(10, 6, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd\r\ne\r\nf");
    setRegion(t, 1, 4);
    const Attribute::Color blue = Attribute::Color::ansi256(4);
    setEraseBackground(t, blue);

    moveCursor(t, 4, 2);
    t.clearUpdateRange();
    t.feed("\x1b[2L");
    EXPECT_EQ(screenText(t), "a|b|||c|f");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(4, 2)) << "IL does not move the cursor";
    EXPECT_EQ(screenLine(t, 2)[0].attribute.bg, blue) << "inserted lines carry the erase style";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(1, 4)) << "the whole region is redrawn";

    for (int row : {0, 5}) {
        moveCursor(t, 0, row);
        t.feed("\x1b[L");
        t.feed("\x1b[M");
        EXPECT_EQ(screenText(t), "a|b|||c|f") << "IL and DL outside the region at row " << row;
    }

    moveCursor(t, 2, 1);
    t.feed("\x1b[M");
    EXPECT_EQ(screenText(t), "a|||c||f");
    EXPECT_EQ(screenLine(t, 4)[0].attribute.bg, blue) << "DL fills the bottom with the erase style";
    moveCursor(t, 0, 3);
    t.feed("\x1b[99M");
    EXPECT_EQ(screenText(t), "a|||||f") << "DL past the region's end clears to it";
    t.feed("\x1b[99L");
    EXPECT_EQ(screenText(t), "a|||||f");

    // DL ends a pending wrap first: one waits after a character printed in the last column.
    moveCursor(t, 9, 2);
    t.feed("x");
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\x1b[M");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(9, 2));
    EXPECT_FALSE(t.buffer().wrapPending());
}

TEST(TerminalScrollTests, InsertAndDeleteLinesAdjustRegisteredSelections)
{
    TerminalFixture fixture(10, 6, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc\r\nd\r\ne\r\nf");
    setRegion(t, 1, 4);
    auto moving = selectRows(fixture, Position(0, 2), Position(3, 3));
    auto pushedOut = selectRows(fixture, Position(0, 4), Position(3, 4));
    auto aboveCursor = selectRows(fixture, Position(0, 1), Position(3, 1));
    auto belowRegion = selectRows(fixture, Position(0, 5), Position(3, 5));

    moveCursor(t, 0, 2);
    t.feed("\x1b[L");
    EXPECT_EQ(screenText(t), "a|b||c|d|f");
    EXPECT_EQ(moving->start(), Position(0, 3)) << "IL moves the selection down with its text";
    EXPECT_EQ(moving->end(), Position(3, 4));
    EXPECT_FALSE(pushedOut->active()) << "its line was pushed out of the region";
    EXPECT_EQ(aboveCursor->start(), Position(0, 1)) << "rows above the cursor do not move";
    EXPECT_EQ(belowRegion->start(), Position(0, 5)) << "rows below the region do not move";

    t.feed("\x1b[M");
    EXPECT_EQ(screenText(t), "a|b|c|d||f");
    EXPECT_EQ(moving->start(), Position(0, 2)) << "DL moves it back up";
    t.feed("\x1b[M");
    EXPECT_FALSE(moving->active()) << "DL deleted its first line";
    EXPECT_TRUE(aboveCursor->active());
    EXPECT_TRUE(belowRegion->active());
}

TEST(TerminalScrollTests, InsertAndDeleteLinesWithMargins)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    feedGrid(t);
    setMargins(t, 2, 5);
    setRegion(t, 0, 3);

    moveCursor(t, 8, 1);
    t.feed("\x1b[L");
    t.feed("\x1b[M");
    EXPECT_EQ(screenText(t), "0123456789|abcdefghij|ABCDEFGHIJ|klmnopqrst")
        << "IL and DL with the cursor outside the margins";

    auto selection = selectRows(fixture, Position(3, 2), Position(4, 2));
    moveCursor(t, 3, 1);
    t.feed("\x1b[L");
    EXPECT_EQ(screenText(t), "0123456789|ab    ghij|ABcdefGHIJ|klCDEFqrst");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 1));
    EXPECT_FALSE(selection->active()) << "cells the selection covered moved";

    t.feed("\x1b[2M");
    EXPECT_EQ(screenText(t), "0123456789|abCDEFghij|AB    GHIJ|kl    qrst");
}

TEST(TerminalScrollTests, ScrollsEndWrappedParagraphsAtTheirEdges)
{
    // Each case starts from five rows of one wrapped paragraph: rows 1 to 4 continue row 0.
    struct Case
    {
        const char* name;
        int top;
        int bottom;
        int cursorRow;
        const char* sequence;
        std::vector<bool> wrapped;
    };
    const Case cases[] = {
        {"SU", 0, 2, 0, "\x1b[S", {false, true, false, false, true}},
        {"SD", 1, 2, 0, "\x1b[T", {false, false, false, false, true}},
        {"SD 2 in a tall region", 0, 3, 0, "\x1b[2T", {false, false, false, true, false}},
        {"IL", 0, 4, 1, "\x1b[L", {false, false, false, true, true}},
        {"DL", 0, 3, 1, "\x1b[M", {false, false, true, false, false}},
    };
    for (const Case& test : cases) {
        TerminalFixture fixture(4, 5, 10);
        Terminal& t = fixture.t();
        t.feed("aaaabbbbccccddddeee");
        setRegion(t, test.top, test.bottom);
        moveCursor(t, 0, test.cursorRow);
        t.feed(test.sequence);
        for (int row = 0; row < 5; ++row) {
            EXPECT_EQ(screenLine(t, row).isWrapped(), test.wrapped[static_cast<size_t>(row)])
                << test.name << ": wrap flag of row " << row << " (" << screenText(t) << ")";
        }
    }
}

TEST(TerminalScrollTests, InsertAndDeleteCharactersAtWideSeams)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    feedGrid(t);
    const Attribute::Color blue = Attribute::Color::ansi256(4);
    setEraseBackground(t, blue);

    moveCursor(t, 3, 0);
    t.feed("\x1b[2@");
    EXPECT_EQ(rowText(t, 0), "012  34567");
    EXPECT_EQ(screenLine(t, 0)[3].attribute.bg, blue) << "ICH inserts erase-style blanks";
    t.feed("\x1b[2P");
    EXPECT_EQ(rowText(t, 0), "01234567");
    EXPECT_EQ(screenLine(t, 0)[9].attribute.bg, blue) << "DCH fills the end with erase-style blanks";

    putWide(t, 1, 3); // "abc" wide "fghij"
    moveCursor(t, 4, 1);
    t.feed("\x1b[@");
    EXPECT_EQ(rowText(t, 1), "abc   fghi") << "ICH on the right half blanks the whole character";
    EXPECT_EQ(strayHalves(t, 1), "");

    putWide(t, 2, 8); // a wide character at the right edge, pushed out by ICH
    moveCursor(t, 0, 2);
    t.feed("\x1b[@");
    EXPECT_EQ(rowText(t, 2), " ABCDEFGH");
    EXPECT_EQ(strayHalves(t, 2), "");

    putWide(t, 3, 3);
    moveCursor(t, 4, 3);
    t.feed("\x1b[P");
    EXPECT_EQ(rowText(t, 3), "klm pqrst") << "DCH on the right half blanks the whole character";
    EXPECT_EQ(strayHalves(t, 3), "");
    putWide(t, 3, 5);
    moveCursor(t, 4, 3);
    t.feed("\x1b[P");
    EXPECT_EQ(strayHalves(t, 3), "") << "DCH pulling a wide character left keeps it whole";

    // A cursor waiting to wrap stands on the last column, whose cell DCH deletes.
    t.feed("\x1b[4;10HZ");
    ASSERT_TRUE(t.buffer().wrapPending());
    ASSERT_EQ(rowText(t, 3), "klm \xe5\xa5\xbdst Z");
    t.feed("\x1b[P");
    EXPECT_EQ(rowText(t, 3), "klm \xe5\xa5\xbdst") << "DCH with a wrap pending deletes the last cell";
    EXPECT_FALSE(t.buffer().wrapPending());
}

TEST(TerminalScrollTests, InsertAndDeleteCharactersStayInsideTheMargins)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    feedGrid(t);
    setMargins(t, 2, 5);

    moveCursor(t, 3, 0);
    t.feed("\x1b[@");
    EXPECT_EQ(rowText(t, 0), "012 346789") << "ICH drops the cell pushed past the right margin";
    moveCursor(t, 3, 1);
    t.feed("\x1b[9P");
    EXPECT_EQ(rowText(t, 1), "abc   ghij") << "DCH clears only to the right margin";

    moveCursor(t, 7, 2);
    t.feed("\x1b[@");
    t.feed("\x1b[P");
    EXPECT_EQ(rowText(t, 2), "ABCDEFGHIJ") << "ICH and DCH outside the margins";
}

TEST(TerminalScrollTests, InsertAndDeleteColumnsInTheRegion)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    feedGrid(t);
    setRegion(t, 1, 2);
    const Attribute::Color blue = Attribute::Color::ansi256(4);
    setEraseBackground(t, blue);
    // Rows 1 and 2 printed as one line, so row 2 continues row 1.
    moveCursor(t, 0, 1);
    t.feed("abcdefghijABCDEFGHIJ");
    ASSERT_TRUE(screenLine(t, 2).isWrapped());

    moveCursor(t, 3, 0); // DECIC works whatever the cursor row
    t.feed("\x1b[2'}");
    EXPECT_EQ(screenText(t), "0123456789|abc  defgh|ABC  DEFGH|klmnopqrst");
    const CharData inserted = screenLine(t, 1)[3];
    EXPECT_EQ(inserted.code, ' ');
    EXPECT_EQ(inserted.attribute, Attribute::empty) << "DECIC inserts spaces of the empty attribute";
    EXPECT_FALSE(screenLine(t, 2).isWrapped()) << "DECIC ends the row's continuation";

    t.feed("\x1b[2'~");
    EXPECT_EQ(screenText(t), "0123456789|abc  defgh|ABC  DEFGH|klmnopqrst")
        << "DECDC with the cursor row outside the region";

    moveCursor(t, 0, 1);
    t.feed("abc  defghABC  DEFGH"); // the two rows again as one line
    ASSERT_TRUE(screenLine(t, 2).isWrapped());
    moveCursor(t, 3, 1);
    t.feed("\x1b[2'~");
    EXPECT_EQ(screenText(t), "0123456789|abcdefgh|ABCDEFGH|klmnopqrst");
    EXPECT_EQ(screenLine(t, 1)[9].code, ' ') << "DECDC fills with erase-style spaces";
    EXPECT_EQ(screenLine(t, 1)[9].attribute.bg, blue);
    EXPECT_FALSE(screenLine(t, 2).isWrapped());

    t.feed("\x1b[99'~");
    EXPECT_EQ(screenText(t), "0123456789|abc|ABC|klmnopqrst") << "DECDC past the edge clears to it";
    moveCursor(t, 9, 1);
    t.feed("x"); // in the last column: a wrap waits
    ASSERT_TRUE(t.buffer().wrapPending());
    t.feed("\x1b['~");
    EXPECT_EQ(screenText(t), "0123456789|abc|ABC|klmnopqrst") << "DECDC with a wrap pending";
    EXPECT_TRUE(t.buffer().wrapPending()) << "DECDC keeps a pending wrap";

    // With margins both stay between them, and do nothing from outside them.
    t.feed("\x1b[2J");
    setRegion(t, 0, 3);
    moveCursor(t, 0, 0);
    feedGrid(t);
    setMargins(t, 2, 5);
    setRegion(t, 0, 1);
    moveCursor(t, 7, 0);
    t.feed("\x1b['}");
    t.feed("\x1b['~");
    EXPECT_EQ(screenText(t), "0123456789|abcdefghij|ABCDEFGHIJ|klmnopqrst");
    moveCursor(t, 3, 0);
    t.feed("\x1b['}");
    EXPECT_EQ(screenText(t), "012 346789|abc deghij|ABCDEFGHIJ|klmnopqrst");
    t.feed("\x1b[2'~");
    EXPECT_EQ(screenText(t), "0124  6789|abce  ghij|ABCDEFGHIJ|klmnopqrst");

    // Wide characters at the seams go whole.
    putWide(t, 0, 5);
    moveCursor(t, 2, 0);
    t.feed("\x1b['}");
    EXPECT_EQ(strayHalves(t, 0), "");
    putWide(t, 1, 3);
    moveCursor(t, 4, 1);
    t.feed("\x1b['~");
    EXPECT_EQ(strayHalves(t, 1), "");
}

TEST(TerminalScrollTests, ColumnScrollMovesTheRegionColumns)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    feedGrid(t);
    setMargins(t, 2, 5);
    setRegion(t, 1, 2);

    // DECBI on the left margin and DECFI on the right margin scroll the columns between them.
    moveCursor(t, 2, 1);
    t.feed("\x1b"
           "6");
    EXPECT_EQ(screenText(t), "0123456789|ab cdeghij|AB CDEGHIJ|klmnopqrst") << "back: content moves right";
    EXPECT_EQ(screenLine(t, 1)[2].attribute, Attribute::empty);

    moveCursor(t, 5, 1);
    t.feed("\x1b"
           "9");
    EXPECT_EQ(screenText(t), "0123456789|abcde ghij|ABCDE GHIJ|klmnopqrst") << "forward: content moves left";

    const std::string before = screenText(t);
    moveCursor(t, 7, 1);
    t.feed("\x1b['}");
    moveCursor(t, 2, 0);
    t.feed("\x1b"
           "6");
    EXPECT_EQ(screenText(t), before) << "nothing with the cursor outside the margins or the region";
}

TEST(TerminalScrollTests, RepeatPrecedingCharacter)
{
    TerminalFixture fixture(6, 3, 10);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();

    t.feed("ab\x1b[3b");
    EXPECT_EQ(rowText(t, 0), "abbbb");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(5, 0));
    t.feed("\x1b[b");
    EXPECT_EQ(rowText(t, 0), "abbbbb") << "no parameter repeats once";
    t.feed("\x1b[3b");
    EXPECT_EQ(screenText(t), "abbbbb|bbb|") << "REP wraps like printed text";
    EXPECT_TRUE(screenLine(t, 1).isWrapped());

    // After a wide character the whole character repeats, not its right half.
    moveCursor(t, 0, 2);
    putWide(t, 2, 0);
    moveCursor(t, 2, 2);
    t.feed("\x1b[2b");
    EXPECT_EQ(rowText(t, 2), "\xe5\xa5\xbd\xe5\xa5\xbd\xe5\xa5\xbd");
    EXPECT_EQ(strayHalves(t, 2), "");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(5, 2));
    EXPECT_TRUE(buffer.wrapPending());

    // After a combining sequence the whole cluster repeats.
    t.feed("\x1b[2J\x1b[He\u0301"); // a cluster cell at column 0
    t.feed("\x1b[2b");
    EXPECT_EQ(rowText(t, 0), "e\xcc\x81"
                             "e\xcc\x81"
                             "e\xcc\x81");
    EXPECT_EQ(screenLine(t, 0).packed(2), screenLine(t, 0).packed(0));

    // At column 0 an empty cell repeats: the cursor moves and the cells end up empty.
    moveCursor(t, 0, 1);
    t.feed("xyz");
    moveCursor(t, 0, 1);
    t.feed("\x1b[2b");
    EXPECT_EQ(rowText(t, 1), "  z");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(2, 1));

    // A huge count is capped at two screens of cells; the screen scrolls as for text.
    moveCursor(t, 0, 2);
    t.feed("q\x1b[65535b");
    EXPECT_EQ(screenText(t), "qqqqqq|qqqqqq|q") << "36 repeats, the last one on a new row";
    EXPECT_EQ(buffer.yBase(), 6) << "the repeats wrapped onto six new rows";
}

TEST(TerminalScrollTests, ImageAndKittyHooksStayConsistent)
{
    TerminalFixture fixture(10, 5, 10);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    const auto countImageLines = [&] {
        int count = 0;
        for (int row = 0; row < buffer.lines().count(); ++row)
            count += buffer.lines().lineOrEmpty(row).hasImages() ? 1 : 0;
        return count;
    };
    // A picture on every row, shown from the top row down (the last strip's line feed scrolls).
    std::vector<std::shared_ptr<TerminalImage>> strips;
    for (int row = 0; row < 5; ++row)
        strips.push_back(std::make_shared<TestImage>());
    moveCursor(t, 0, 0);
    t.insertImageRows(strips);
    ASSERT_EQ(countImageLines(), 5);
    // The operations must not trip over a kitty placement that exists.
    t.feed("\x1b_Ga=T,f=24,s=1,v=1,C=1,q=2;AAAA\x1b\\");
    ASSERT_TRUE(t.innerState().hasKittyPlacements);

    // ESC D is written with an octal escape: "\x1bD" would read as one hex number.
    const char* sequences[] = {"\x1b[S",     "\x1b[T",  "\x1b[2L", "\x1b[2M", "\x1b[@", "\x1b[P",
                               "\x1b[X",     "\x1b['}", "\x1b['~", "\x1b[b",  "\x1bM",  "\033D",
                               "\r\n\n\n\n", "\x1b[K",  "\x1b[J",  "\x1b[3J", "\x1b#8", "\x1b[2J"};
    setRegion(t, 1, 3);
    moveCursor(t, 2, 1);
    for (const char* sequence : sequences) {
        t.feed(sequence);
        EXPECT_EQ(buffer.linesWithImagesCount(), countImageLines())
            << "the count of lines with images after ESC" << sequence + 1;
    }
    setMargins(t, 2, 5);
    moveCursor(t, 3, 0);
    for (const char* sequence : {"\x1b[S", "\x1b[T", "\x1b[L", "\x1b[M", "\x1bM", "\033D"}) {
        t.feed(sequence);
        EXPECT_EQ(buffer.linesWithImagesCount(), countImageLines()) << "with margins, ESC" << sequence + 1;
    }
}

TEST(TerminalScrollTests, RegionFromTheTopAboveTheBottomKeepsSelectionsBelowItInPlace)
{
    // Input: LF at the bottom of a region 0..1 of a 4-row normal screen, with a selection on row 3.
    // Old result: with a full ring the selection moved up a row; while the ring grew it stayed.
    // Either way it named a line other than the one selected, which kept its place on screen.
    for (int scrollback : {10, 0}) {
        TerminalFixture fixture(10, 4, scrollback);
        Terminal& t = fixture.t();
        t.feed("a\r\nb\r\nc\r\nd");
        setRegion(t, 0, 1);
        const int below = t.buffer().yBase() + 3;
        auto selection = selectRows(fixture, Position(0, below), Position(1, below));
        auto inRegion =
            selectRows(fixture, Position(0, t.buffer().yBase() + 1), Position(1, t.buffer().yBase() + 1));
        moveCursor(t, 0, 1);
        t.feed("\n");
        EXPECT_EQ(screenText(t), "b||c|d");
        ASSERT_TRUE(selection->active()) << "scrollback " << scrollback;
        EXPECT_EQ(absoluteRowText(t, static_cast<int>(selection->start().row)), "d")
            << "the selection below the region still names its line, scrollback " << scrollback;
        ASSERT_TRUE(inRegion->active()) << "scrollback " << scrollback;
        EXPECT_EQ(absoluteRowText(t, static_cast<int>(inRegion->start().row)), "b")
            << "the selection inside the region follows its line, scrollback " << scrollback;
    }
}

TEST(TerminalScrollTests, RegionScrollOfAFullRingStopsCountingTheImagesOfTheLineItDrops)
{
    // Input: LF at the bottom of a region 0..1 of a 3-row screen whose full ring holds an image on
    // its oldest line. Old result: the buffer went on counting a line with images after that line
    // had left the ring, so it believed it held images for good.
    TerminalFixture fixture(10, 3, 0);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("a\r\nb\r\nc");
    ASSERT_TRUE(buffer.lines().isFull());
    moveCursor(t, 0, 0);
    t.insertImageRows(std::vector<std::shared_ptr<TerminalImage>>{std::make_shared<TestImage>()});
    setRegion(t, 0, 1);
    moveCursor(t, 0, 1);
    t.feed("\n");
    EXPECT_EQ(screenText(t), "b||c");
    EXPECT_EQ(buffer.linesWithImagesCount(), 0);
    EXPECT_FALSE(buffer.hasAnyImages());
}

TEST(TerminalScrollTests, ReverseIndexGivesTheNewLineTheCurrentBidiState)
{
    // Input: a bidi state set after the buffer was made, then RI at the top of the screen.
    // Old result: the inserted line took the state the buffer was built with.
    // Every other new line takes the current state, so the blank row laid out differently.
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    t.feed("a\r\nb\r\nc");
    BidiPresentationState rightToLeft;
    rightToLeft.fallbackDirection = BidiDirection::rightToLeft;
    moveCursor(t, 1, 0);
    t.feed("\x1b[2 k"); // SCP right to left, away from a paragraph start: no line takes it
    ASSERT_EQ(t.currentBidiState(), rightToLeft);
    ASSERT_NE(screenLine(t, 0).bidiState(), rightToLeft);
    moveCursor(t, 0, 0);
    t.feed("\x1bM");
    EXPECT_EQ(screenText(t), "|a|b");
    EXPECT_EQ(screenLine(t, 0).bidiState(), rightToLeft);
    t.feed("\x1b[L");
    EXPECT_EQ(screenLine(t, 0).bidiState(), rightToLeft) << "as the line IL inserts";
}

} // namespace
} // namespace kestrovan::testing
