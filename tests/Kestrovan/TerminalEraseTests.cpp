// Erasing: EL, ED (with the scrollback erase ED 3), ECH and their selective forms against DECSCA
// and SPA/EPA protection, the erase style, wide characters at erase edges, the alignment pattern
// and the line render modes.
#include "RecordingTerminalDelegate.h"
#include "ScreenEditTestSupport.h"
#include "TerminalStateDump.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace kestrovan::testing {
namespace {

using RenderLineMode = BufferLine::RenderLineMode;

TEST(TerminalEraseTests, ProtectionMatrixOfDecscaAndSpaAgainstEveryErase)
{
    // Row 1 holds "aPb" with only "P" protected; each erase covers all three cells.
    struct Protection
    {
        const char* name;
        const char* before;
        const char* after;
    };
    const Protection decsca{"DECSCA", "\x1b[1\"q", "\x1b[0\"q"};
    const Protection spa{"SPA/EPA", "\x1bV", "\x1bW"};
    // DECSCA after EPA switches the mode: the ISO-protected cell now counts as DECSCA-protected.
    const Protection spaThenDecsca{"SPA/EPA then DECSCA 0", "\x1bV", "\x1bW\x1b[0\"q"};

    struct Case
    {
        const Protection* protection;
        const char* erase;
        int cursorCol;
        bool protectedSurvives;
    };
    const Case cases[] = {
        {&decsca, "\x1b[J", 0, false},
        {&decsca, "\x1b[1J", 5, false},
        {&decsca, "\x1b[2J", 0, false},
        {&decsca, "\x1b[?J", 0, true},
        {&decsca, "\x1b[?1J", 5, true},
        {&decsca, "\x1b[?2J", 0, true},
        {&decsca, "\x1b[K", 0, false},
        {&decsca, "\x1b[1K", 5, false},
        {&decsca, "\x1b[2K", 0, false},
        {&decsca, "\x1b[?K", 0, true},
        {&decsca, "\x1b[?1K", 5, true},
        {&decsca, "\x1b[?2K", 0, true},
        {&decsca, "\x1b[5X", 0, false},
        {&spa, "\x1b[J", 0, true},
        {&spa, "\x1b[1J", 5, true},
        {&spa, "\x1b[2J", 0, true},
        {&spa, "\x1b[?J", 0, true},
        {&spa, "\x1b[?1J", 5, true},
        {&spa, "\x1b[?2J", 0, true},
        {&spa, "\x1b[K", 0, true},
        {&spa, "\x1b[1K", 5, true},
        {&spa, "\x1b[2K", 0, true},
        {&spa, "\x1b[?K", 0, true},
        {&spa, "\x1b[?1K", 5, true},
        {&spa, "\x1b[?2K", 0, true},
        {&spa, "\x1b[5X", 0, true},
        {&spaThenDecsca, "\x1b[2J", 0, false},
        {&spaThenDecsca, "\x1b[?2J", 0, true},
    };

    for (const Case& test : cases) {
        TerminalFixture fixture(10, 3, 10);
        Terminal& t = fixture.t();
        t.feed("xxx\r\na");
        t.feed(test.protection->before);
        t.feed("P");
        t.feed(test.protection->after);
        t.feed("b\r\nyyy");
        ASSERT_EQ(screenText(t), "xxx|aPb|yyy");
        moveCursor(t, test.cursorCol, 1);

        t.feed(test.erase);
        std::string erase = test.erase + 1;
        const std::string where = std::string(test.protection->name) + " then ESC" + erase;
        EXPECT_EQ(rowText(t, 1), test.protectedSurvives ? " P" : "") << where;
        EXPECT_EQ(t.getCursorLocation(), std::make_pair(test.cursorCol, 1)) << where << " moved the cursor";
        if (test.protectedSurvives) {
            EXPECT_TRUE(screenLine(t, 1).packed(1).isProtected()) << where << " kept the cell's protection";
        }
    }
}

TEST(TerminalEraseTests, ErasedCellsCarryTheEraseBackground)
{
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    const Attribute::Color blue = Attribute::Color::ansi256(4);
    t.feed("0123456789\r\n0123456789\r\n0123456789");
    setEraseBackground(t, blue);

    moveCursor(t, 6, 0);
    t.feed("\x1b[K");
    EXPECT_EQ(rowText(t, 0), "012345");
    for (int col = 0; col < 10; ++col) {
        const CharData cell = screenLine(t, 0)[col];
        EXPECT_EQ(cell.attribute.bg == blue, col >= 6) << "EL 0, column " << col;
    }

    moveCursor(t, 2, 1);
    t.feed("\x1b[3X");
    EXPECT_EQ(rowText(t, 1), "01   56789");
    EXPECT_EQ(screenLine(t, 1)[4].attribute.bg, blue) << "ECH";
    EXPECT_EQ(screenLine(t, 1)[5].attribute.bg, Attribute::Color::defaultColor())
        << "ECH stops after 3 cells";

    t.feed("\x1bW"); // EPA: ISO protection in force
    moveCursor(t, 1, 2);
    t.feed("\x1b[1K");
    EXPECT_EQ(rowText(t, 2), "  23456789");
    EXPECT_EQ(screenLine(t, 2)[1].attribute.bg, blue) << "the selective path uses the erase style too";
    t.feed("\x1b[0\"q"); // DECSCA: DEC protection rules again

    moveCursor(t, 4, 1);
    t.feed("\x1b[2J");
    EXPECT_EQ(screenText(t), "||");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(screenLine(t, row)[9].attribute.bg, blue) << "ED 2, row " << row;
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(4, 1)) << "ED 2 does not move the cursor";
}

TEST(TerminalEraseTests, EraseEdgesNeverSplitWideCharacters)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    t.feed("abcdefghij\r\nabcdefghij\r\nabcdefghij\r\nabcdefghij");
    for (int row = 0; row < 4; ++row)
        putWide(t, row, 3);

    moveCursor(t, 4, 0); // on the right half
    t.feed("\x1b[X");
    EXPECT_EQ(rowText(t, 0), "abc  fghij") << "ECH on the right half blanks the whole character";
    EXPECT_EQ(strayHalves(t, 0), "");

    moveCursor(t, 2, 1); // ECH 2 ends on the left half
    t.feed("\x1b[2X");
    EXPECT_EQ(rowText(t, 1), "ab   fghij");
    EXPECT_EQ(strayHalves(t, 1), "");

    moveCursor(t, 4, 2);
    t.feed("\x1b[K");
    EXPECT_EQ(rowText(t, 2), "abc") << "EL 0 from the right half takes the left half too";
    EXPECT_EQ(strayHalves(t, 2), "");

    moveCursor(t, 3, 3);
    t.feed("\x1b[1K");
    EXPECT_EQ(rowText(t, 3), "     fghij") << "EL 1 through the left half takes the right half too";
    EXPECT_EQ(strayHalves(t, 3), "");

    // A selective erase ending inside a wide character does the same.
    putWide(t, 0, 6);
    t.feed("\x1bW"); // EPA: ISO protection in force
    moveCursor(t, 6, 0);
    t.feed("\x1b[1K");
    EXPECT_EQ(rowText(t, 0), "        ij");
    EXPECT_EQ(strayHalves(t, 0), "");
}

// EL 0 takes its own road: only a line's used cells are written, a right side blank already is
// left alone, and the used length drops. ECH over the rest of the row takes the general one. Rows
// written with words, wide characters, coloured backgrounds and earlier erases of both kinds must
// come out with the same cells either way, and every cell from a line's used length on must still
// be its tail blank.
TEST(TerminalEraseTests, EraseToEndOfLineMatchesEraseCharactersToTheEdge)
{
    constexpr int cols = 12;
    constexpr int rows = 4;
    std::mt19937 random(35);
    for (int round = 0; round < 400; ++round) {
        // The same steps for both, except that every erase to the edge is EL 0 for the first and
        // ECH for the second.
        std::string byEraseInLine;
        std::string byEraseChars;
        const auto both = [&](const std::string& bytes) {
            byEraseInLine += bytes;
            byEraseChars += bytes;
        };
        for (int step = 0; step < 10; ++step) {
            const int row = 1 + static_cast<int>(random() % rows);
            const int col = 1 + static_cast<int>(random() % cols);
            both("\x1b[" + std::to_string(row) + ";" + std::to_string(col) + "H");
            switch (random() % 6) {
            case 0:
                both(std::string("abcdefgh").substr(0, 1 + random() % 8));
                break;
            case 1:
                both(random() % 2 ? "\u597d\u597d" : "x\u597dy");
                break;
            case 2: {
                static const char* const looks[] = {"\x1b[m", "\x1b[44m", "\x1b[48;5;200m", "\x1b[1;31m",
                                                    "\x1b[48;2;1;2;3m"};
                both(looks[random() % 5]);
                break;
            }
            case 3:
                both(random() % 2 ? "\x1b[1K" : "\x1b[2K");
                break;
            default:
                byEraseInLine += "\x1b[K";
                byEraseChars += "\x1b[" + std::to_string(cols - col + 1) + "X";
                break;
            }
        }
        TerminalFixture eraseInLine(cols, rows, 10);
        TerminalFixture eraseChars(cols, rows, 10);
        eraseInLine.t().feed(byEraseInLine);
        eraseChars.t().feed(byEraseChars);
        for (int row = 0; row < rows; ++row) {
            const BufferLine& line = screenLine(eraseInLine.t(), row);
            const BufferLine& reference = screenLine(eraseChars.t(), row);
            for (int col = 0; col < cols; ++col)
                ASSERT_EQ(line.packed(col), reference.packed(col))
                    << "round " << round << ", row " << row << ", column " << col << ": "
                    << escapeBytes(byEraseInLine);
            for (int col = line.usedLength(); col < cols; ++col)
                ASSERT_EQ(line.packed(col), line.tailBlankCell())
                    << "round " << round << ", row " << row << ", tail column " << col;
        }
    }
}

TEST(TerminalEraseTests, EraseInLineAndDisplayEdges)
{
    TerminalFixture fixture(5, 4, 10);
    Terminal& t = fixture.t();
    t.feed("abcdefghijklmnopqrst"); // rows 1 to 3 continue row 0
    const CircularBufferLineList& ring = t.buffer().lines();

    moveCursor(t, 4, 0);
    t.feed("\x1b[1K");
    EXPECT_EQ(rowText(t, 0), "") << "EL 1 on the last column erases the whole line, cursor cell included";
    moveCursor(t, 2, 1);
    t.feed("\x1b[2K");
    EXPECT_TRUE(ring.lineOrEmpty(1).isWrapped()) << "EL leaves the wrap flag";
    t.feed("\x1b[7K");
    t.feed("\x1b[7J");
    EXPECT_EQ(screenText(t), "||klmno|pqrst") << "unknown Ps erase nothing";

    moveCursor(t, 2, 2);
    t.feed("\x1b[J");
    EXPECT_EQ(screenText(t), "||kl|");
    EXPECT_TRUE(ring.lineOrEmpty(2).isWrapped()) << "ED 0 from inside a line keeps its wrap flag";
    EXPECT_FALSE(ring.lineOrEmpty(3).isWrapped()) << "rows below are reset";
    moveCursor(t, 0, 2);
    t.feed("\x1b[J");
    EXPECT_FALSE(ring.lineOrEmpty(2).isWrapped()) << "ED 0 from column 0 ends the continuation";

    t.feed("\x1b[2J");
    moveCursor(t, 0, 0);
    t.feed("abcdefghijklmno");
    ASSERT_TRUE(ring.lineOrEmpty(1).isWrapped() && ring.lineOrEmpty(2).isWrapped());
    moveCursor(t, 2, 1);
    t.feed("\x1b[1J");
    EXPECT_EQ(screenText(t), "|   ij|klmno|");
    EXPECT_FALSE(ring.lineOrEmpty(1).isWrapped()) << "ED 1 clears the cursor line's flag";
    EXPECT_TRUE(ring.lineOrEmpty(2).isWrapped())
        << "an erase short of the last column leaves the next line joined";
    moveCursor(t, 4, 1);
    t.feed("\x1b[1J");
    EXPECT_FALSE(ring.lineOrEmpty(2).isWrapped()) << "an erase through the last column unjoins the next line";

    t.clearUpdateRange();
    moveCursor(t, 1, 1);
    t.feed("\x1b[1J");
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 1)) << "ED 1 marks the rows it erased";
    t.clearUpdateRange();
    t.feed("\x1b[J");
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(1, 3)) << "ED 0 marks the cursor row to the last";
}

TEST(TerminalEraseTests, EraseDisplayTwoDropsImagesAndKittyPlacements)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("a\r\nb\r\nc");
    // Pictures on rows 0 and 2, each shown with the cursor on its row.
    const std::vector<std::shared_ptr<TerminalImage>> picture{std::make_shared<TestImage>()};
    for (const int row : {0, 2}) {
        moveCursor(t, 0, row);
        t.insertImageRows(picture);
    }
    ASSERT_EQ(buffer.linesWithImagesCount(), 2);

    moveCursor(t, 0, 1);
    t.feed("\x1b[J");
    EXPECT_EQ(buffer.linesWithImagesCount(), 2) << "ED 0 leaves images alone";
    t.feed("\x1b[1J");
    EXPECT_EQ(buffer.linesWithImagesCount(), 2) << "ED 1 leaves images alone";

    // A one-pixel image placed at the cursor, which stays where it is; no reply.
    t.feed("\x1b_Ga=T,f=24,s=1,v=1,C=1,q=2;AAAA\x1b\\");
    ASSERT_TRUE(t.innerState().hasKittyPlacements);
    t.feed("\x1b[2J");
    EXPECT_EQ(buffer.linesWithImagesCount(), 0);
    EXPECT_FALSE(screenLine(t, 0).hasImages());
    EXPECT_FALSE(t.innerState().hasKittyPlacements) << "ED 2 removes the kitty images";
}

TEST(TerminalEraseTests, EraseScrollbackKeepsTheScreen)
{
    TerminalFixture fixture(10, 3, 10);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    // Lines 1 to 7, with a picture shown on the lines of "2" and "6" (absolute rows 1 and 5)
    // right after each was printed (printing on a line drops its pictures).
    t.feed("1\r\n2");
    t.insertImageRows(std::vector<std::shared_ptr<TerminalImage>>{std::make_shared<TestImage>()});
    t.feed("\r3\r\n4\r\n5\r\n6");
    t.insertImageRows(std::vector<std::shared_ptr<TerminalImage>>{std::make_shared<TestImage>()});
    t.feed("\r7");
    ASSERT_EQ(buffer.yBase(), 4);
    ASSERT_EQ(screenText(t), "5|6|7");
    ASSERT_EQ(buffer.linesWithImagesCount(), 2);
    t.clearUpdateRange();

    t.feed("\x1b[3J");
    EXPECT_EQ(buffer.lines().count(), 3);
    EXPECT_EQ(buffer.yBase(), 0);
    EXPECT_EQ(buffer.yDisp(), 0);
    EXPECT_EQ(screenText(t), "5|6|7") << "ED 3 keeps every screen row";
    EXPECT_EQ(buffer.linesWithImagesCount(), 1) << "the image in the dropped history is no longer counted";
    EXPECT_FALSE(t.getUpdateRange()) << "nothing on screen changed";
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(1, 2));

    t.feed("\x1b[3J");
    EXPECT_EQ(screenText(t), "5|6|7") << "with no scrollback ED 3 changes nothing";

    // A full ring: the count of trimmed lines starts again, and a scrolled-back view keeps its
    // rows where they still exist.
    TerminalFixture full(10, 3, 2);
    Terminal& u = full.t();
    u.feed("1\r\n2\r\n3\r\n4\r\n5\r\n6");
    ASSERT_EQ(full.buffer().linesTop, 1);
    u.setUserScrolling(true);
    u.scrollViewportTo(1);
    // ED 3 is never selective, whatever the protection.
    u.feed("\x1bW"); // EPA: ISO protection in force
    u.feed("\x1b[?3J");
    EXPECT_EQ(full.buffer().linesTop, 0);
    EXPECT_EQ(full.buffer().yBase(), 0);
    EXPECT_EQ(full.buffer().yDisp(), 0);
    EXPECT_EQ(screenText(u), "4|5|6");

    // The alternate screen has no scrollback to drop.
    t.feed("\x1b[?47h");
    t.feed("\x1b[3J");
    EXPECT_EQ(t.buffer().lines().count(), 3);
}

TEST(TerminalEraseTests, AlignmentPatternFillsWithTheCurrentAttributeAndHomes)
{
    TerminalFixture fixture(6, 4, 10);
    Terminal& t = fixture.t();
    const Buffer& buffer = t.buffer();
    t.feed("abcdefghij"); // row 1 continues row 0
    // Red on blue: the erase style takes only the blue.
    const Attribute red(Attribute::Color::ansi256(1), Attribute::Color::ansi256(4));
    t.feed("\x1b[31;44m");
    ASSERT_EQ(t.innerState().currentAttribute, red);
    t.feed("\x1b[?6h\x1b[?69h\x1b[2;4s"); // DECOM, DECLRMM, margins at columns 1...3
    t.feed("\x1b[2;3r");                  // DECSTBM: rows 1...2
    moveCursor(t, 3, 2);
    t.clearUpdateRange();

    t.feed("\x1b#8");
    EXPECT_EQ(screenText(t), "EEEEEE|EEEEEE|EEEEEE|EEEEEE");
    const CharData cell = screenLine(t, 3)[5];
    EXPECT_EQ(cell.attribute, red) << "the fill uses the SGR attribute, not the erase style";
    EXPECT_FALSE(screenLine(t, 1).isWrapped());
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 0)) << "home, even in origin mode";
    EXPECT_EQ(buffer.scrollTop(), 0);
    EXPECT_EQ(buffer.scrollBottom(), 3);
    EXPECT_EQ(buffer.marginLeft(), 0);
    EXPECT_EQ(buffer.marginRight(), 5);
    EXPECT_TRUE(t.mode(TerminalMode::originMode)) << "DECALN leaves origin mode";
    EXPECT_TRUE(t.mode(TerminalMode::marginMode)) << "and margin mode";
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 4));
}

TEST(TerminalEraseTests, LineRenderModesChangeOnlyTheCursorLine)
{
    TerminalFixture fixture(10, 4, 10);
    Terminal& t = fixture.t();
    const struct
    {
        const char* sequence;
        RenderLineMode mode;
    } modes[] = {
        {"\x1b#3", RenderLineMode::doubledTop},
        {"\x1b#4", RenderLineMode::doubledDown},
        {"\x1b#6", RenderLineMode::doubleWidth},
        {"\x1b#5", RenderLineMode::single},
    };
    moveCursor(t, 2, 1);
    for (const auto& entry : modes) {
        const BufferLine& line = screenLine(t, 1);
        const uint64_t before = line.generation();
        t.clearUpdateRange();
        t.feed(entry.sequence);
        EXPECT_EQ(line.renderMode(), entry.mode) << "ESC" << entry.sequence + 1;
        EXPECT_EQ(line.generation() - before, BufferLine::decorationChange)
            << "a size change counts as a change of layout";
        EXPECT_EQ(t.getUpdateRange(), std::make_pair(1, 1));
    }
    const uint64_t before = screenLine(t, 1).generation();
    t.feed("\x1b#5");
    EXPECT_EQ(screenLine(t, 1).generation(), before) << "setting the same size changes nothing";
    EXPECT_EQ(screenLine(t, 0).renderMode(), RenderLineMode::single);
    EXPECT_EQ(screenLine(t, 2).renderMode(), RenderLineMode::single);
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(2, 1));

    // Whole lines keep their size when the screen scrolls; ED 2 makes them single again.
    moveCursor(t, 0, 3);
    t.feed("\x1b#6\n");
    EXPECT_EQ(screenLine(t, 2).renderMode(), RenderLineMode::doubleWidth);
    t.feed("\x1b[2J");
    EXPECT_EQ(screenLine(t, 2).renderMode(), RenderLineMode::single);
}

} // namespace
} // namespace kestrovan::testing
