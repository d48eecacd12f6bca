#include "tests/Kestrovan/ScrollingTerminalDouble.h"
#include "tests/Kestrovan/TestSupport.h"

#include "Kestrovan/Buffer.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using kestrovan::BidiDirection;
using kestrovan::BidiPresentationState;
using kestrovan::BidiSupportMode;
using kestrovan::Buffer;
using kestrovan::BufferLine;
using kestrovan::BufferModeMirror;
using kestrovan::PackedCell;
using kestrovan::Position;
using kestrovan::ScrollingTerminalDouble;
using kestrovan::SemanticContent;
using kestrovan::SemanticPromptKind;
using kestrovan::testing::setBufferMode;
using kestrovan::testing::TestImage;
using WidthState = kestrovan::PackedCell::WidthState;

namespace {

using Lines = std::vector<std::string>;

// A screen of `cols` x `rows` with scrollback, auto-wrap on and a terminal that scrolls it.
struct Screen
{
    ScrollingTerminalDouble terminal;
    std::unique_ptr<Buffer> buffer;

    Screen(int cols, int rows, int scrollback = 50)
        : buffer(std::make_unique<Buffer>(cols, rows, 8, scrollback, BidiPresentationState()))
    {
        buffer->fillViewportRows();
        setBufferMode(*buffer, &BufferModeMirror::wraparound, true);
        buffer->setTerminal(&terminal);
    }

    size_t ascii(const std::string& text, uint16_t styleID = 0, uint16_t payload = 0)
    {
        return buffer->insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                                      styleID, payload);
    }
    size_t scalars(const std::u32string& text, int width, uint16_t styleID = 0, uint16_t payload = 0)
    {
        return buffer->insertScalarRun(std::span(text.data(), text.size()), width, styleID, payload);
    }
    // The text of a screen row, continuation cells left out.
    std::string row(int screenRow)
    {
        return buffer->lines()[buffer->yBase() + screenRow]->translateToString(true, 0, -1, true);
    }
    Lines rows()
    {
        Lines out;
        for (int screenRow = 0; screenRow < buffer->rows(); ++screenRow)
            out.push_back(row(screenRow));
        return out;
    }
    Position cursor() const { return Position(buffer->x(), buffer->y()); }
    BufferLine& line(int screenRow) { return *buffer->lines()[buffer->yBase() + screenRow]; }
    PackedCell cell(int screenRow, int col) { return line(screenRow).packed(col); }
};

PackedCell narrow(char32_t scalar, uint16_t styleID = 0)
{
    return PackedCell::makeScalar(scalar, styleID, WidthState::single, false, 0, 0);
}

PackedCell wide(char32_t scalar, uint16_t styleID = 0)
{
    return PackedCell::makeScalar(scalar, styleID, WidthState::lead, false, 0, 0);
}

} // namespace

TEST(BufferPrint, AsciiRunsWrapOntoAWrappedLine)
{
    Screen screen(80, 4);
    const std::string text(85, 'x');
    EXPECT_EQ(screen.ascii(text, 7, 3), 85u);
    EXPECT_EQ(screen.rows(), (Lines{std::string(80, 'x'), "xxxxx", "", ""}));
    EXPECT_FALSE(screen.line(0).isWrapped());
    EXPECT_TRUE(screen.line(1).isWrapped()) << "the row reached by wrapping continues the one above";
    EXPECT_EQ(screen.cursor(), Position(5, 1));
    EXPECT_EQ(screen.line(1).usedLength(), 5);
    EXPECT_EQ(screen.cell(1, 4), PackedCell::makeScalar('x', 7, WidthState::single, false, 3, 0));
}

TEST(BufferPrint, WithoutAutoWrapRunsStopAtTheEdge)
{
    Screen screen(80, 4);
    setBufferMode(*screen.buffer, &BufferModeMirror::wraparound, false);
    EXPECT_EQ(screen.ascii(std::string(85, 'y')), 80u);
    EXPECT_EQ(screen.cursor(), Position(79, 0)) << "the cursor waits on the last column";
    EXPECT_TRUE(screen.buffer->wrapPending());
    EXPECT_EQ(screen.ascii("z"), 0u) << "nothing more fits";

    screen.buffer->setX(78);
    EXPECT_EQ(screen.scalars(U"\u4e00\u4e01", 2), 1u);
    EXPECT_EQ(screen.buffer->x(), 79);
    EXPECT_TRUE(screen.buffer->wrapPending());
    EXPECT_EQ(screen.scalars(U"\u4e02", 2), 0u);

    // The cell-by-cell path overwrites the last column with a narrow character and drops a
    // wide one that does not fit.
    screen.buffer->insertCharacter(narrow('q'));
    EXPECT_EQ(screen.cell(0, 79).scalar(), uint32_t('q'));
    EXPECT_EQ(screen.cell(0, 78), PackedCell()) << "the wide character at 78 lost its right half";
    EXPECT_EQ(screen.buffer->x(), 79);
    EXPECT_TRUE(screen.buffer->wrapPending());
    screen.buffer->setX(79);
    screen.buffer->insertCharacter(wide(0x4e03));
    EXPECT_EQ(screen.cell(0, 79).scalar(), uint32_t('q')) << "a wide character at the last column is dropped";
    EXPECT_EQ(screen.buffer->x(), 79);
}

TEST(BufferPrint, BlockedRunsWriteNothing)
{
    Screen screen(20, 3);
    for (int mode = 0; mode < 2; ++mode) {
        setBufferMode(*screen.buffer, &BufferModeMirror::insertMode, mode == 0);
        setBufferMode(*screen.buffer, &BufferModeMirror::characterProtection, mode == 1);
        const uint64_t generation = screen.line(0).generation();
        EXPECT_EQ(screen.ascii("abc"), 0u) << "mode " << mode;
        EXPECT_EQ(screen.scalars(U"\u4e00", 2), 0u) << "mode " << mode;
        EXPECT_EQ(screen.scalars(U"\u00e9", 1), 0u) << "mode " << mode;
        EXPECT_EQ(screen.line(0).generation(), generation);
        EXPECT_EQ(screen.buffer->x(), 0);
    }
    EXPECT_EQ(screen.ascii(""), 0u);
}

TEST(BufferPrint, PrintingAtTheBottomScrollsTheRegion)
{
    Screen screen(10, 3);
    screen.buffer->setY(2);
    screen.ascii("0123456789ABC");
    EXPECT_EQ(screen.terminal.scrolledLines, 1);
    EXPECT_EQ(screen.terminal.wrappedScrolls, 1) << "the new bottom line is marked wrapped";
    EXPECT_EQ(screen.buffer->yBase(), 1);
    EXPECT_EQ(screen.buffer->y(), 2);
    EXPECT_EQ(screen.rows(), (Lines{"", "0123456789", "ABC"}));
    EXPECT_TRUE(screen.line(2).isWrapped());

    // Inside a region that ends above the bottom, only the region scrolls.
    Screen region(10, 4);
    region.buffer->setScrollTop(1);
    region.buffer->setScrollBottom(2);
    region.buffer->lines()[3]->set(0, kestrovan::CharData(kestrovan::Attribute(), 'S', 1));
    region.buffer->setY(2);
    region.ascii("abcdefghijKL");
    EXPECT_EQ(region.buffer->yBase(), 0);
    EXPECT_EQ(region.rows(), (Lines{"", "abcdefghij", "KL", "S"})) << "the row below the region stays";
}

TEST(BufferPrint, BelowTheRegionTheCursorMovesDownButNeverScrollsTheRegion)
{
    Screen screen(5, 4);
    screen.buffer->setScrollBottom(1);
    screen.buffer->lines()[0]->set(0, kestrovan::CharData(kestrovan::Attribute(), 'T', 1));
    screen.buffer->setY(2);
    screen.ascii("abcdefg");
    EXPECT_EQ(screen.rows(), (Lines{"T", "", "abcde", "fg"}));
    EXPECT_TRUE(screen.line(3).isWrapped());

    // On the last row, text goes on at the start of the same row.
    screen.ascii("hijkl");
    EXPECT_EQ(screen.terminal.scrolledLines, 0);
    EXPECT_EQ(screen.rows(), (Lines{"T", "", "abcde", "klhij"})) << "the region above was not scrolled";
    EXPECT_EQ(screen.cursor(), Position(2, 3));
}

TEST(BufferPrint, WideRunsNeverSplitACharacterAcrossLines)
{
    Screen screen(9, 3);
    screen.buffer->setX(8);
    EXPECT_EQ(screen.scalars(U"\u4e00\u4e01\u4e02\u4e03\u4e04", 2), 5u);
    EXPECT_EQ(screen.rows(), (Lines{"", "\u4e00\u4e01\u4e02\u4e03", "\u4e04"}))
        << "the last column is left as it was";
    EXPECT_TRUE(screen.cell(1, 6).isLead());
    EXPECT_TRUE(screen.cell(1, 7).isContinuation());
    EXPECT_FALSE(screen.cell(1, 8).isLead()) << "a wide character never starts in the last column";
    EXPECT_EQ(screen.cursor(), Position(2, 2));
}

TEST(BufferPrint, RunsRepairTheWideCharactersTheyCut)
{
    Screen screen(10, 2);
    screen.scalars(U"\u4e00\u4e01\u4e02", 2);
    // Overwriting the right half of the first and the left half of the third.
    screen.buffer->setX(1);
    screen.ascii("abcd");
    EXPECT_EQ(screen.cell(0, 0), PackedCell()) << "the lead lost its right half";
    EXPECT_EQ(screen.cell(0, 5), PackedCell()) << "the right half lost its lead";
    EXPECT_EQ(screen.row(0), std::string("\0abcd", 5));

    // The same through the wide path and through single cells.
    Screen cells(10, 2);
    cells.scalars(U"\u4e00\u4e01", 2);
    cells.buffer->setX(1);
    cells.scalars(U"\u4e10", 2);
    EXPECT_EQ(cells.cell(0, 0), PackedCell());
    EXPECT_EQ(cells.cell(0, 3), PackedCell());
    cells.buffer->setX(2);
    cells.buffer->insertCharacter(narrow('z'));
    EXPECT_EQ(cells.cell(0, 1), PackedCell()) << "insertCharacter repairs too";
}

TEST(BufferPrint, MarginsBoundRunsAndWrapping)
{
    Screen screen(12, 3);
    setBufferMode(*screen.buffer, &BufferModeMirror::marginMode, true);
    screen.buffer->setMarginLeft(3);
    screen.buffer->setMarginRight(6);
    screen.buffer->setX(3);
    screen.ascii("abcdefgh");
    EXPECT_EQ(screen.rows(), (Lines{std::string(3, '\0') + "abcd", std::string(3, '\0') + "efgh", ""}))
        << "wrapping returns to the left margin";
    EXPECT_EQ(screen.buffer->x(), 6);
    EXPECT_TRUE(screen.buffer->wrapPending()) << "the cursor waits on the right margin";

    Screen narrowRegion(12, 3);
    setBufferMode(*narrowRegion.buffer, &BufferModeMirror::marginMode, true);
    narrowRegion.buffer->setMarginLeft(4);
    narrowRegion.buffer->setMarginRight(4);
    narrowRegion.buffer->setX(4);
    EXPECT_EQ(narrowRegion.scalars(U"\u4e00", 2), 0u) << "a one-column region takes no wide character";
    EXPECT_EQ(narrowRegion.scalars(U"\u00e9\u00e8", 1), 2u);
    EXPECT_EQ(narrowRegion.row(1), std::string(4, '\0') + "\u00e8");

    // Margins that leave no column at all write nothing rather than wrap forever.
    narrowRegion.buffer->setMarginLeft(6);
    EXPECT_EQ(narrowRegion.ascii("abc"), 0u);
}

TEST(BufferPrint, WideCharactersThatFitNoRowOfTheRegionAreDropped)
{
    // Regression: with a one-column region at the last column, a wrapped wide character was
    // written there as a lead with no continuation (and, further left, with its right half
    // outside the margins). It now fits no row of the region and is dropped, as without
    // auto-wrap.
    for (int column : {9, 4}) {
        Screen screen(10, 3);
        setBufferMode(*screen.buffer, &BufferModeMirror::marginMode, true);
        screen.buffer->setMarginLeft(column);
        screen.buffer->setMarginRight(column);
        screen.buffer->setX(column);
        screen.buffer->insertCharacter(narrow('a'));
        screen.buffer->insertCharacter(wide(0x4e00));
        EXPECT_EQ(screen.cell(0, column).scalar(), uint32_t('a')) << "column " << column;
        EXPECT_EQ(screen.cell(1, column), PackedCell()) << "column " << column;
        EXPECT_EQ(screen.cursor(), Position(column, 0)) << "the cursor does not move";
        EXPECT_TRUE(screen.buffer->wrapPending());
        screen.buffer->insertCharacter(narrow('b'));
        EXPECT_EQ(screen.cell(1, column).scalar(), uint32_t('b')) << "narrow characters still wrap";
    }
}

TEST(BufferPrint, EveryWrittenCellCarriesTheSemanticCode)
{
    Screen screen(20, 2);
    screen.buffer->semanticPrompt().setContent(SemanticContent::prompt(SemanticPromptKind::secondary));
    screen.ascii("ab");
    screen.buffer->semanticPrompt().setContent(SemanticContent::input());
    screen.scalars(U"\u4e00", 2);
    screen.scalars(U"\u00e9", 1);
    screen.buffer->semanticPrompt().setContent(SemanticContent::output());
    screen.buffer->insertCharacter(wide(0x4e01).withSemanticCode(2));
    const std::vector<uint8_t> expected{4, 4, 5, 5, 5, 6, 6};
    for (int col = 0; col < 7; ++col)
        EXPECT_EQ(screen.cell(0, col).semanticCode(), expected[size_t(col)]) << "column " << col;
}

TEST(BufferPrint, InsertCharacterHonoursInsertModeAndProtection)
{
    Screen screen(8, 2);
    screen.ascii("abcdefgh");
    screen.buffer->setY(0);
    screen.buffer->setX(2);
    setBufferMode(*screen.buffer, &BufferModeMirror::insertMode, true);
    screen.buffer->insertCharacter(narrow('X', 5));
    EXPECT_EQ(screen.row(0), "abXcdefg") << "the rest shifts right, the last cell falls off";
    screen.buffer->insertCharacter(wide(0x4e00));
    EXPECT_EQ(screen.row(0), "abX\u4e00cde");
    EXPECT_EQ(screen.buffer->x(), 5);

    setBufferMode(*screen.buffer, &BufferModeMirror::insertMode, false);
    setBufferMode(*screen.buffer, &BufferModeMirror::characterProtection, true);
    screen.buffer->insertCharacter(wide(0x4e01));
    EXPECT_TRUE(screen.cell(0, 5).isProtected());
    EXPECT_TRUE(screen.cell(0, 6).isProtected()) << "the right half is protected too";
    EXPECT_TRUE(screen.cell(0, 6).isContinuation());
    EXPECT_EQ(screen.buffer->x(), 7);
}

TEST(BufferPrint, InsertCharacterInTheLastColumnWaitsForTheNextPrint)
{
    Screen screen(4, 2);
    screen.buffer->setX(3);
    screen.buffer->insertCharacter(narrow('a'));
    EXPECT_EQ(screen.cursor(), Position(3, 0));
    EXPECT_TRUE(screen.buffer->wrapPending());
    screen.buffer->insertCharacter(narrow('b'));
    EXPECT_EQ(screen.rows(), (Lines{std::string("\0\0\0a", 4), "b"}));
    EXPECT_TRUE(screen.line(1).isWrapped());

    // A wide character one column before the edge wraps whole, here by scrolling.
    screen.buffer->setX(3);
    screen.buffer->insertCharacter(wide(0x4e00));
    EXPECT_EQ(screen.terminal.scrolledLines, 1);
    EXPECT_EQ(screen.rows(), (Lines{"b", "\u4e00"}));
    EXPECT_EQ(screen.buffer->x(), 2);
}

TEST(BufferPrint, WrappingCarriesTheBidiStateDown)
{
    Screen screen(4, 3);
    const BidiPresentationState rtl(BidiSupportMode::explicit_, false, BidiDirection::rightToLeft, false);
    screen.line(0).setBidiState(rtl);
    screen.ascii("abcdef");
    EXPECT_EQ(screen.line(1).bidiState(), rtl);
}

TEST(BufferPrint, WritesDropTheLinesImagesAndCountOneChangePerSegment)
{
    Screen screen(10, 3);
    auto image = std::make_shared<TestImage>();
    screen.buffer->attachImage(image, 0);
    screen.buffer->attachImage(image, 1);
    ASSERT_EQ(screen.buffer->linesWithImagesCount(), 2);
    const uint64_t before = screen.line(0).generation();
    screen.ascii("abc");
    EXPECT_FALSE(screen.line(0).hasImages());
    EXPECT_EQ(screen.buffer->linesWithImagesCount(), 1);
    EXPECT_EQ(screen.line(0).generation(), before + BufferLine::decorationChange + 1)
        << "one decoration change for the images and one content change for the run";

    screen.buffer->setY(1);
    screen.buffer->setX(0);
    screen.buffer->insertCharacter(narrow('x'));
    EXPECT_EQ(screen.buffer->linesWithImagesCount(), 0);
    EXPECT_FALSE(screen.buffer->hasAnyImages());
}

TEST(BufferPrint, MisuseStopsTheProgram)
{
    Screen screen(4, 2);
    screen.buffer->setTerminal(nullptr);
    screen.buffer->setY(1);
    EXPECT_DEATH(screen.ascii("abcdef"), "printing needs the terminal to scroll");
    EXPECT_DEATH(screen.scalars(U"a", 3), "1 or 2 columns wide");
    EXPECT_DEATH(screen.scalars(U"a", 0), "1 or 2 columns wide");
}
