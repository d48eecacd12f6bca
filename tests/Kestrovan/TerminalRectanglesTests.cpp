// Rectangular area operations as programs use them: DECCRA copies (overlapping, clipped, in
// origin mode), DECFRA, DECERA and DECSERA with protection, DECCARA and DECRARA with both
// DECSACE extents, the DECRQCRA checksum, wide characters at every edge, and the routers'
// diagnostics.
#include "RecordingTerminalDelegate.h"
#include "TerminalTestAccess.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>
#include <random>

namespace kestrovan::testing {
namespace {

Attribute attributeAt(Terminal& t, int col, int row)
{
    return t.getCharData(col, row)->attribute;
}

/// The width states of a row, one digit per cell: 0 single, 1 lead, 2 continuation.
std::string widthStates(Terminal& t, int row)
{
    std::string out;
    for (int col = 0; col < t.cols(); ++col)
        out += char('0' + packedAt(t, col, row).widthStateCode());
    return out;
}

/// Where on screen a wide character has lost one of its halves, or empty when none has.
std::string halfWideCharacters(Terminal& t)
{
    std::string found;
    for (int row = 0; row < t.rows(); ++row) {
        for (int col = 0; col < t.cols(); ++col) {
            const PackedCell cell = packedAt(t, col, row);
            const bool orphanLead =
                cell.isLead() && (col + 1 >= t.cols() || !packedAt(t, col + 1, row).isContinuation());
            const bool orphanContinuation =
                cell.isContinuation() && (col == 0 || !packedAt(t, col - 1, row).isLead());
            if (orphanLead || orphanContinuation)
                found += "(" + std::to_string(col) + "," + std::to_string(row) + ")";
        }
    }
    return found;
}

/// Fills the screen with rows of letters: "abcdef...", "bcdefg...", ...
void fillLetters(Terminal& t)
{
    for (int row = 0; row < t.rows(); ++row) {
        std::string text;
        for (int col = 0; col < t.cols(); ++col)
            text += char('a' + (row + col) % 26);
        moveCursor(t, 0, row);
        t.feed(text);
    }
    moveCursor(t, 0, 0);
}

/// Sends SGR 0 followed by `parameters` and checks that the current attribute came out as
/// `expected`.
void setCurrentAttribute(Terminal& t, const std::string& parameters, const Attribute& expected)
{
    t.feed("\x1b[0;" + parameters + "m");
    ASSERT_EQ(t.innerState().currentAttribute, expected) << "SGR " << parameters;
}

/// Region rows `top`...`bottom` (0-based) with origin mode on; the region is set through DECSTBM.
void setOriginRegion(Terminal& t, int top, int bottom)
{
    t.feed("\x1b[" + std::to_string(top + 1) + ";" + std::to_string(bottom + 1) + "r");
    t.feed("\x1b[?6h"); // DECOM
}

class UntrustedDelegate : public RecordingTerminalDelegate
{
public:
    bool isProcessTrusted(Terminal&) override { return false; }
};

// --- DECCRA ---------------------------------------------------------------------------------------

TEST(TerminalRectanglesTests, CopyPlacesTheSourceAtTheDestinationAndLeavesTheSource)
{
    TerminalFixture fixture(6, 4);
    Terminal& t = fixture.t();
    t.feed("X");
    t.feed("\x1b[1;1;1;1;1;3;3;1$v");
    EXPECT_EQ(screenText(t), "X||  X|") << "the top-left cell goes to row 3, column 3";

    fillLetters(t);
    const std::string before = screenText(t);
    t.feed("\x1b[1;1;2;2;2;3;3;1$v");
    EXPECT_EQ(screenText(t), before) << "a source page other than 1 does nothing";
    t.feed("\x1b[1;1;2;2;1;3;3;2$v");
    EXPECT_EQ(screenText(t), before) << "a destination page other than 1 does nothing";
    t.feed("\x1b[1;1;2;2;1;3;3;1v");
    EXPECT_EQ(screenText(t), before) << "without the \"$\" nothing happens";
    t.feed("\x1b[3;1;2;2;1;1;1;1$v");
    EXPECT_EQ(screenText(t), before) << "a source ending above its start is empty";

    t.feed("\x1b[1;1;2;3;1;3;5$v");
    EXPECT_EQ(screenText(t), "abcdef|bcdefg|cdefab|defgbc")
        << "a copy running past the right edge is cut at the screen's edge";
    t.clearUpdateRange();
    t.feed("\x1b[1;1;4;1;1;3;1$v");
    EXPECT_EQ(screenText(t), "abcdef|bcdefg|adefab|befgbc") << "and one running past the bottom is cut there";
    EXPECT_EQ(t.getUpdateRange(), std::make_optional(std::pair{2, 3})) << "the written rows are redrawn";
}

TEST(TerminalRectanglesTests, OverlappingCopiesReadTheSourceAsItWasInEveryDirection)
{
    struct Case
    {
        const char* name;
        const char* sequence;
        const char* expected;
    };
    // Source rows 2-4, columns 2-4 (1-based) of:
    //   abcdef / bcdefg / cdefgh / defghi / efghij
    const Case cases[] = {
        {"down one row", "\x1b[2;2;4;4;1;3;2;1$v", "abcdef|bcdefg|ccdegh|ddefhi|eefgij"},
        {"up one row", "\x1b[2;2;4;4;1;1;2;1$v", "acdeef|bdeffg|cefggh|defghi|efghij"},
        {"right one column", "\x1b[2;2;4;4;1;2;3;1$v", "abcdef|bccdeg|cddefh|deefgi|efghij"},
        {"left one column", "\x1b[2;2;4;4;1;2;1;1$v", "abcdef|cdeefg|deffgh|efgghi|efghij"},
    };
    for (const Case& c : cases) {
        TerminalFixture fixture(6, 5);
        Terminal& t = fixture.t();
        fillLetters(t);
        t.feed(c.sequence);
        EXPECT_EQ(screenText(t), c.expected) << c.name;
    }
}

TEST(TerminalRectanglesTests, CopyInOriginModeMovesTheSourceButNotTheDestination)
{
    TerminalFixture fixture(6, 5);
    Terminal& t = fixture.t();
    fillLetters(t);
    setOriginRegion(t, 2, 4);
    // Source (1,1)-(1,2) in the region is screen row 3, columns 1-2: "cd".
    t.feed("\x1b[1;1;1;2;1;1;5;1$v");
    EXPECT_EQ(rowText(t, 0), "abcdcd") << "the destination (1,5) is a screen position";
    EXPECT_EQ(rowText(t, 2), "cdefgh");
}

TEST(TerminalRectanglesTests, CopyKeepsWideCharactersWholeAtBothEnds)
{
    TerminalFixture fixture(8, 3);
    Terminal& t = fixture.t();
    // Row 1: a, wide U+4E00 at 1-2, b, wide U+4E8C at 4-5, c, d.
    t.feed("a\xe4\xb8\x80"
           "b\xe4\xba\x8c"
           "cd");
    ASSERT_EQ(widthStates(t, 0), "01201200");
    // Columns 3-5 start on the right half of U+4E00 and end on the left half of U+4E8C.
    t.feed("\x1b[1;3;1;5;1;2;1;1$v");
    EXPECT_EQ(rowText(t, 1), " b") << "the cut halves arrive as blanks, the whole cell between them as is";
    EXPECT_EQ(widthStates(t, 1), "00000000");

    // Row 3 holds wide characters straddling both destination edges (columns 2-3 and 4-5).
    t.feed("\x1b[3;1Hx\xe4\xb8\x80\xe4\xba\x8c"
           "yz");
    ASSERT_EQ(widthStates(t, 2), "01212000");
    t.feed("\x1b[1;1;1;2;1;3;3;1$v");
    EXPECT_EQ(rowText(t, 2), "x a  yz") << "a wide character cut by the destination's edge goes whole";
    EXPECT_EQ(halfWideCharacters(t), "");

    t.feed("\x1b[1;2;1;3;1;2;7;1$v");
    EXPECT_EQ(rowText(t, 1), " b    \xe4\xb8\x80") << "a whole wide character copies whole";
    EXPECT_EQ(halfWideCharacters(t), "");
}

// --- DECFRA, DECERA ---------------------------------------------------------------------------------

TEST(TerminalRectanglesTests, FillWritesTheCharacterInTheCurrentAttributeOverExactlyTheRectangle)
{
    TerminalFixture fixture(6, 4);
    Terminal& t = fixture.t();
    const Attribute red(Attribute::Color::ansi256(1), Attribute::Color::ansi256(4), CharacterStyle::bold);
    setCurrentAttribute(t, "1;31;44", red);
    t.feed("\x1b[65$x");
    EXPECT_EQ(screenText(t), "AAAAAA|AAAAAA|AAAAAA|AAAAAA") << "no rectangle fills the screen";
    EXPECT_EQ(attributeAt(t, 5, 3), red) << "in the current colours";

    fillLetters(t);
    setCurrentAttribute(t, "", Attribute());
    t.clearUpdateRange();
    t.feed("\x1b[88;2;3;3;5$x");
    EXPECT_EQ(screenText(t), "abcdef|bcXXXg|cdXXXh|defghi");
    EXPECT_EQ(t.getUpdateRange(), std::make_optional(std::pair{1, 2}));
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 0)) << "the cursor does not move";

    const std::string before = screenText(t);
    t.feed("\x1b[$x\x1b[0;1;1;2;2$x");
    EXPECT_EQ(screenText(t), before) << "a fill without a character is ignored";
    t.feed("\x1b[89;1;1;0;2$x\x1b[89;1;1;2;0$x");
    EXPECT_EQ(screenText(t), before) << "an explicit 0 bottom or right is an empty rectangle";
    t.feed("\x1b[89;3;3;2;2$x");
    EXPECT_EQ(screenText(t), before) << "so is one whose corners are swapped";

    t.feed("\x1b[55296;1;1;1;1$x\x1b[27;1;2;1;2$x\x1b[155;1;3;1;3$x");
    EXPECT_EQ(rowText(t, 0), "   def") << "a surrogate, ESC and CSI each fill with a space";
    EXPECT_EQ(packedAt(t, 1, 0).scalar(), uint32_t(' '));

    t.feed("\x1b[1\"q");
    t.feed("\x1b[4;1HPQ");
    t.feed("\x1b[0\"q\x1b[90;4;1;4;1$x");
    EXPECT_EQ(rowText(t, 3), "ZQfghi") << "the fill ignores protection";
}

TEST(TerminalRectanglesTests, FillAndEraseFollowOriginModeAndStayInTheRegion)
{
    TerminalFixture fixture(6, 6);
    Terminal& t = fixture.t();
    fillLetters(t);
    setOriginRegion(t, 1, 3);
    t.feed("\x1b[46$x");
    EXPECT_EQ(screenText(t), "abcdef|......|......|......|efghij|fghijk") << "the whole region, not below it";
    t.feed("\x1b[2;2;9;3$z");
    EXPECT_EQ(screenText(t), "abcdef|......|.  ...|.  ...|efghij|fghijk")
        << "(2,2) counts from the region's top; the bottom is clipped to the region";

    t.feed("\x1b[?69h\x1b[3;4s"); // DECLRMM, margins at columns 2...3
    t.feed("\x1b[35;1;1;3;9$x");
    EXPECT_EQ(screenText(t), "abcdef|..##..|. ##..|. ##..|efghij|fghijk")
        << "with left and right margins the columns count from the left margin and stop at the right";
}

TEST(TerminalRectanglesTests, EraseWritesSpacesInTheCurrentAttributeIgnoringProtection)
{
    TerminalFixture fixture(6, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[1\"qabcdef\x1b[0\"q");
    const Attribute blue(Attribute::Color::ansi256(2), Attribute::Color::ansi256(4));
    setCurrentAttribute(t, "32;44", blue);
    t.feed("\x1b[1;2;1;3$z");
    EXPECT_EQ(rowText(t, 0), "a  def") << "protected cells are erased too";
    EXPECT_EQ(packedAt(t, 1, 0).scalar(), uint32_t(' ')) << "with real spaces";
    EXPECT_FALSE(packedAt(t, 1, 0).isProtected());
    EXPECT_EQ(attributeAt(t, 2, 0), blue) << "in the SGR attribute, not the erase attribute";
    EXPECT_EQ(attributeAt(t, 3, 0), Attribute()) << "cells beside the rectangle keep theirs";

    t.feed("\x1b[2;1H\xe4\xb8\x80\xe4\xba\x8c\xe4\xb8\x89");
    ASSERT_EQ(widthStates(t, 1), "121212");
    t.feed("\x1b[2;2;2;3$z");
    EXPECT_EQ(rowText(t, 1), "    \xe4\xb8\x89") << "both wide characters cut by the edges go whole";
    EXPECT_EQ(widthStates(t, 1), "000012");
    t.feed("\x1b[3;1H\xe4\xb8\x80\xe4\xba\x8c\xe4\xb8\x89\x1b[65;3;4;3;4$x");
    EXPECT_EQ(rowText(t, 2), "\xe4\xb8\x80 A\xe4\xb8\x89")
        << "a fill cutting a wide character blanks its other half";
    EXPECT_EQ(halfWideCharacters(t), "");
}

// --- DECSERA ------------------------------------------------------------------------------------------

TEST(TerminalRectanglesTests, SelectiveEraseKeepsDecProtectedCellsAndTheLookOfErasedOnes)
{
    TerminalFixture fixture(8, 3);
    Terminal& t = fixture.t();
    const Attribute green(Attribute::Color::ansi256(2), Attribute::Color::ansi256(0),
                          CharacterStyle::underline, UnderlineStyle::single);
    setCurrentAttribute(t, "4;32;40", green);
    t.feed("ab\x1b[1\"qCD\x1b[0\"qef");
    setCurrentAttribute(t, "", Attribute());
    t.feed("\x1b[1;2;1;5${");
    EXPECT_EQ(rowText(t, 0), "a CD f") << "DECSCA-protected cells stay; b and e become spaces";
    EXPECT_EQ(packedAt(t, 1, 0).scalar(), uint32_t(' '));
    EXPECT_EQ(attributeAt(t, 1, 0), green) << "an erased cell keeps its look";
    EXPECT_EQ(rowText(t, 1), "") << "rows outside are untouched";

    t.feed("\x1bW"); // EPA: ISO protection in force, nothing protected from here on
    t.feed("\x1b[1;2;1;5${");
    EXPECT_EQ(rowText(t, 0), "a    f") << "with ISO protection in force the erase takes every cell";

    // SPA/EPA protection does not stop it either.
    t.feed("\x1b[2;1H\x1bVxy\x1bWz\x1b[2;1;2;3${");
    EXPECT_EQ(rowText(t, 1), "") << "ISO-protected cells are erased";
}

TEST(TerminalRectanglesTests, SelectiveEraseKeepsProtectedWideCharactersWholeAtItsEdges)
{
    TerminalFixture fixture(8, 3);
    Terminal& t = fixture.t();
    // Protected U+4E00 at 0-1, unprotected U+4E8C at 2-3, protected U+4E09 at 4-5.
    t.feed("\x1b[1\"q\xe4\xb8\x80\x1b[0\"q\xe4\xba\x8c\x1b[1\"q\xe4\xb8\x89\x1b[0\"qab");
    ASSERT_EQ(widthStates(t, 0), "12121200");
    t.feed("\x1b[1;2;1;5${");
    EXPECT_EQ(rowText(t, 0), "\xe4\xb8\x80  \xe4\xb8\x89"
                             "ab")
        << "protected wide characters at the edges stay whole";
    EXPECT_EQ(widthStates(t, 0), "12001200");

    t.feed("\x1b[2;1H\xe4\xb8\x80\xe4\xba\x8c\x1b[2;2;2;3${");
    EXPECT_EQ(rowText(t, 1), "") << "unprotected ones cut by the edges go whole";
    EXPECT_EQ(halfWideCharacters(t), "");
}

// --- DECCARA, DECRARA, DECSACE ----------------------------------------------------------------------

TEST(TerminalRectanglesTests, AttributeChangeExtentIsSetByDecsace)
{
    TerminalFixture fixture(6, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b[2*x");
    EXPECT_EQ(t.innerState().reportedOnly.attributeChangeExtent, 2);
    t.feed("\x1b[5*x");
    EXPECT_EQ(t.innerState().reportedOnly.attributeChangeExtent, 2) << "values above 2 are ignored";
    t.feed("\x1b[*x");
    EXPECT_EQ(t.innerState().reportedOnly.attributeChangeExtent, 0) << "no value stores 0";
    t.feed("\x1b[1*x");
    EXPECT_EQ(t.innerState().reportedOnly.attributeChangeExtent, 1);
}

TEST(TerminalRectanglesTests, ChangeAttributesCoversAStreamOrARectangleAsDecsaceSays)
{
    TerminalFixture fixture(6, 4);
    Terminal& t = fixture.t();
    fillLetters(t);
    const auto boldCells = [&] {
        std::string out;
        for (int row = 0; row < t.rows(); ++row) {
            if (row > 0)
                out += "|";
            for (int col = 0; col < t.cols(); ++col)
                out += attributeAt(t, col, row).style.contains(CharacterStyle::bold) ? 'B' : '.';
        }
        return out;
    };

    // The default extent is a stream: from (2,5) to the end of row 2, all of row 3, row 4 up to column 2.
    t.feed("\x1b[2;5;4;2;1$r");
    EXPECT_EQ(boldCells(), "......|....BB|BBBBBB|BB....");
    EXPECT_EQ(screenText(t), "abcdef|bcdefg|cdefgh|defghi") << "characters stay";

    t.feed("\x1b[2;5;4;2;0$r");
    EXPECT_EQ(boldCells(), "......|......|......|......") << "0 turns the attributes off again";

    t.feed("\x1b[2*x\x1b[2;5;4;2;1$r");
    EXPECT_EQ(boldCells(), "......|......|......|......") << "as a rectangle, these corners are empty";
    t.feed("\x1b[2;2;3;4;1;4$r");
    EXPECT_EQ(boldCells(), "......|.BBB..|.BBB..|......")
        << "a rectangle takes the same columns on every row";
    const Attribute changed = attributeAt(t, 1, 1);
    EXPECT_EQ(changed.underlineStyle, UnderlineStyle::single) << "4 underlines";
    EXPECT_TRUE(changed.style.contains(CharacterStyle::underline));
    t.feed("\x1b[2;2;3;4;24;22$r");
    EXPECT_EQ(attributeAt(t, 1, 1), Attribute()) << "24 and 22 take underline and bold off again";
}

TEST(TerminalRectanglesTests, ChangeAttributesKeepsColoursAndGivesBlanksTheNewLook)
{
    TerminalFixture fixture(6, 3);
    Terminal& t = fixture.t();
    const Attribute red(Attribute::Color::ansi256(1), Attribute::Color::trueColor(1, 2, 3));
    setCurrentAttribute(t, "31;48;2;1;2;3", red);
    t.feed("ab");
    // Inline blanks (a palette background and no attribute id) are what a line packed from cell
    // data holds; no sequence leaves them on the screen, so the test-only hook writes a row of them.
    t.feed("\x1b[2;1H");
    TerminalTestAccess::buffer(t).lines()[t.buffer().yBase() + 1]->fill(
        PackedCell::makePaletteBlank(5, PackedCell::WidthState::single, false, 0, 0));
    t.feed("\x1b[2*x\x1b[1;1;2;1;7;5$r");
    Attribute expected = red;
    expected.style = CharacterStyle::inverse | CharacterStyle::blink;
    EXPECT_EQ(attributeAt(t, 0, 0), expected) << "colours stay, inverse and blink are added";
    EXPECT_EQ(attributeAt(t, 1, 0), red) << "the next column is outside";
    Attribute blank(Attribute::Color(), Attribute::Color::ansi256(5),
                    CharacterStyle::inverse | CharacterStyle::blink);
    EXPECT_EQ(attributeAt(t, 0, 1), blank) << "an inline blank keeps its background and gains the styles";
    EXPECT_EQ(packedAt(t, 1, 1).kind(), PackedCell::Kind::paletteBlank) << "the blank beside it is untouched";
}

TEST(TerminalRectanglesTests, ReverseAttributesTogglesEachNamedAttribute)
{
    TerminalFixture fixture(6, 3);
    Terminal& t = fixture.t();
    setCurrentAttribute(t, "1", Attribute(Attribute::Color(), Attribute::Color(), CharacterStyle::bold));
    t.feed("ab");
    setCurrentAttribute(t, "", Attribute());
    t.feed("cd");
    t.feed("\x1b[2*x\x1b[1;2;1;3;1;7$t");
    EXPECT_EQ(attributeAt(t, 0, 0).style, CharacterStyle::bold) << "outside the rectangle";
    EXPECT_EQ(attributeAt(t, 1, 0).style, CharacterStyle::inverse) << "bold reversed off, inverse on";
    EXPECT_EQ(attributeAt(t, 2, 0).style, CharacterStyle::bold | CharacterStyle::inverse)
        << "both reversed on";
    t.feed("\x1b[1;2;1;3$t");
    EXPECT_EQ(attributeAt(t, 1, 0).style,
              CharacterStyle::bold | CharacterStyle::underline | CharacterStyle::blink)
        << "no attribute reverses all four";
    EXPECT_EQ(attributeAt(t, 1, 0).underlineStyle, UnderlineStyle::single);
    EXPECT_EQ(rowText(t, 0), "abcd");
}

// --- DECRQCRA -----------------------------------------------------------------------------------------

TEST(TerminalRectanglesTests, ChecksumSumsTheScalarsOfTheRectangle)
{
    TerminalFixture fixture(8, 4);
    Terminal& t = fixture.t();
    t.feed("\x1b[5;1;1;1;2;2*y");
    EXPECT_EQ(fixture.delegate->sent(), "\x1bP5!~0080\x1b\\") << "four empty cells count as four spaces";

    fixture.delegate->sends.clear();
    t.feed("\x1b[1;1HABC");
    t.feed("\x1b[7;1;1;1;1;3*y");
    EXPECT_EQ(fixture.delegate->sent(), "\x1bP7!~00C6\x1b\\") << "A + B + C";

    fixture.delegate->sends.clear();
    t.feed("\x1b[1;1;1;1*y");
    EXPECT_EQ(fixture.delegate->sent(), "\x1bP1!~0466\x1b\\")
        << "an absent bottom and right reach the screen's edge; empty cells count as spaces";

    fixture.delegate->sends.clear();
    t.feed("\x1b[2;1H\xe4\xb8\x80"
           "e\xcc\x81");
    t.feed("\x1b[1;1;2;1;2;3*y");
    // U+4E00, a space for its right half, then e + U+0301.
    EXPECT_EQ(fixture.delegate->sent(), "\x1bP1!~5186\x1b\\");

    fixture.delegate->sends.clear();
    t.feed("\x1b G"); // S8C1T
    t.feed("\x1b[3;1;1;1;1;1*y");
    EXPECT_EQ(fixture.delegate->sent(), "\x90"
                                        "3!~0041\x9c")
        << "8-bit introducers when switched on";
    t.feed("\x1b F"); // S7C1T

    fixture.delegate->sends.clear();
    t.feed("\x1b[9;1;1;1;0;1*y\x1b[9;1*y");
    EXPECT_EQ(fixture.delegate->sent(), "\x1bP9!~0000\x1b\\\x1bP9!~0000\x1b\\")
        << "an empty rectangle and too few parameters give 0000";

    fixture.delegate->sends.clear();
    t.feed("\x1b[1;1;1;1;1;1y");
    EXPECT_EQ(fixture.delegate->sent(), "") << "without the \"*\" this is not a checksum request";
}

TEST(TerminalRectanglesTests, ChecksumFollowsOriginModeAndIsHiddenFromUntrustedPrograms)
{
    TerminalFixture fixture(6, 4);
    Terminal& t = fixture.t();
    fillLetters(t);
    setOriginRegion(t, 2, 3);
    t.feed("\x1b[1;1;1;1;1;1*y");
    EXPECT_EQ(fixture.delegate->sent(), "\x1bP1!~0063\x1b\\") << "(1,1) is the region's first cell, \"c\"";

    auto untrusted = std::make_shared<UntrustedDelegate>();
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 6;
    options.rows = 4;
    auto terminal = Terminal::create(untrusted, options);
    terminal->feed("ABC\x1b[4;1;1;1;1;3*y");
    EXPECT_EQ(untrusted->sent(), "\x1bP4!~0000\x1b\\") << "an untrusted program always reads 0000";
}

TEST(TerminalRectanglesTests, ChecksumOfALargeScreenWrapsAt32Bits)
{
    // Parameters stop at 65535, so the largest fill character is U+FFFF; 2^32 / 0xFFFF is just
    // over 65,537 cells, so a 300 x 220 screen of it passes 2^32 once.
    TerminalFixture fixture(300, 220);
    Terminal& t = fixture.t();
    t.feed("\x1b[65535$x");
    t.feed("\x1b[1;1;1;1*y");
    const uint32_t expected = uint32_t(uint64_t(0xFFFF) * 300 * 220);
    char reply[32];
    std::snprintf(reply, sizeof reply, "\x1bP1!~%04X\x1b\\", unsigned(expected));
    EXPECT_EQ(fixture.delegate->sent(), reply);
}

// --- All together ------------------------------------------------------------------------------

TEST(TerminalRectanglesTests, RandomRectangleOperationsNeverLeaveHalfAWideCharacter)
{
    // Seeded, so a failure repeats: screens of wide and narrow characters, some protected, under
    // random rectangle operations with random corners (0, in range and far out), in and out of
    // origin mode.
    std::mt19937 random(20260512);
    const auto pick = [&](int limit) { return int(random() % uint32_t(limit)); };
    const auto corner = [&](int size) {
        const int roll = pick(10);
        return roll == 0 ? 0 : roll == 1 ? 999 : 1 + pick(size + 1);
    };
    const char* const finals[] = {"$v", "$x", "$z", "${", "$r", "$t"};
    for (int round = 0; round < 200; ++round) {
        TerminalFixture fixture(9, 5);
        Terminal& t = fixture.t();
        for (int row = 0; row < t.rows(); ++row) {
            moveCursor(t, 0, row);
            for (int i = 0; i < 6; ++i) {
                t.feed(pick(3) == 0 ? "\x1b[1\"q" : "\x1b[0\"q");
                t.feed(pick(2) == 0 ? "\xe4\xb8\x80" : "z");
            }
        }
        t.feed("\x1b[0\"q");
        if (pick(2) == 0) {
            t.feed("\x1b[2;4r\x1b[?6h");
        }
        t.feed(pick(2) == 0 ? "\x1b[2*x" : "\x1b[0*x");
        for (int op = 0; op < 10; ++op) {
            const std::string final = finals[pick(6)];
            std::string sequence = "\x1b[";
            if (final == "$x")
                sequence += std::to_string(pick(2) == 0 ? 0x4E8C : 'a' + pick(26)) + ";";
            sequence += std::to_string(corner(t.rows())) + ";" + std::to_string(corner(t.cols())) + ";" +
                        std::to_string(corner(t.rows())) + ";" + std::to_string(corner(t.cols()));
            if (final == "$v")
                sequence +=
                    ";1;" + std::to_string(corner(t.rows())) + ";" + std::to_string(corner(t.cols())) + ";1";
            if (final == "$r" || final == "$t")
                sequence += ";" + std::to_string(pick(8));
            t.feed(sequence + final);
            ASSERT_EQ(halfWideCharacters(t), "")
                << "round " << round << " after " << sequence.substr(1) << final;
        }
    }
}

// --- Routers --------------------------------------------------------------------------------------------

TEST(TerminalRectanglesTests, RoutersReportTheFormsTheyDoNotHandle)
{
    TerminalFixture fixture(6, 3);
    Terminal& t = fixture.t();
    t.setSilentLog(false);
    DiagnosticCapture capture;
    t.feed("\x1b[1;2x");
    t.feed("\x1b[3#{");
    t.feed("\x1b[#}");
    t.feed("\x1b[1;2'z");
    t.feed("\x1b[1;2z\x1b[1;2#z");
    t.feed("\x1b[1!t");
    const std::vector<std::string> expected = {
        "Info: Not implemented CSI x with collect: collect=[] and pars=[1, 2]",
        "Info: CSI # { not implemented - XTPUSHSGR with [3]",
        "Info: CSI # } not implemented- XTPOPSGR with [0]",
        "Info: Kestrovan: Locator reporting (DECELR) is not supported",
        "Info: Unhandled csiT [33]",
    };
    EXPECT_EQ(capture.lines, expected);

    capture.lines.clear();
    t.setSilentLog(true);
    t.feed("\x1b[1;2x\x1b[3#{\x1b[1'z");
    EXPECT_EQ(capture.lines, std::vector<std::string>{}) << "silentLog silences the locator line too";
}

} // namespace
} // namespace kestrovan::testing
