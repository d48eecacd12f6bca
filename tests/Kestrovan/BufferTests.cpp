#include "TestSupport.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/CharData.h"

#include <climits>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using kestrovan::Attribute;
using kestrovan::BidiDirection;
using kestrovan::BidiPresentationState;
using kestrovan::BidiSupportMode;
using kestrovan::Buffer;
using kestrovan::BufferLine;
using kestrovan::BufferModeMirror;
using kestrovan::CellArena;
using kestrovan::CharacterStyle;
using kestrovan::CharData;
using kestrovan::PackedCell;
using kestrovan::Position;
using kestrovan::SavedCursor;
using kestrovan::SemanticContent;
using kestrovan::SemanticInputState;
using kestrovan::SemanticPromptKind;
using kestrovan::testing::editSavedCursor;
using kestrovan::testing::setBufferMode;
using Color = kestrovan::Attribute::Color;

namespace {

std::unique_ptr<Buffer> makeBuffer(int cols, int rows, std::optional<int> scrollback = 100)
{
    auto buffer = std::make_unique<Buffer>(cols, rows, 8, scrollback, BidiPresentationState());
    buffer->fillViewportRows();
    return buffer;
}

// Writes `text` at column 0 of an absolute row, one cell per character.
void writeRow(Buffer& buffer, int row, const std::string& text)
{
    BufferLine& line = *buffer.lines()[row];
    for (size_t i = 0; i < text.size(); ++i)
        line.set(static_cast<int>(i), CharData(Attribute(), text[i], 1));
}

std::string rowText(Buffer& buffer, int row)
{
    return buffer.lines()[row]->translateToString(true);
}

// Pushes lines until the screen sits `count` rows below the top of the ring, as scrolling would.
void scrollIntoHistory(Buffer& buffer, int count)
{
    for (int i = 0; i < count; ++i) {
        buffer.lines().push(buffer.getBlankLine(PackedCell(), false));
        buffer.setYBase(buffer.yBase() + 1);
        buffer.setYDisp(buffer.yBase());
    }
}

std::vector<int> stopsOf(const Buffer& buffer)
{
    std::vector<int> stops;
    for (size_t i = 0; i < buffer.tabStops().size(); ++i) {
        if (buffer.tabStops()[i])
            stops.push_back(static_cast<int>(i));
    }
    return stops;
}

} // namespace

TEST(Buffer, ConstructionGivesTheDocumentedState)
{
    const BidiPresentationState rtl(BidiSupportMode::explicit_, false, BidiDirection::rightToLeft, true);
    auto arena = std::make_shared<CellArena>();
    Buffer buffer(80, 24, 8, 1000, rtl, arena);

    EXPECT_EQ(buffer.cellArena(), arena) << "the given arena is shared, not copied";
    EXPECT_EQ(buffer.lines().count(), 0) << "the viewport is only filled on request";
    EXPECT_EQ(buffer.lines().maxLength(), 1024);
    EXPECT_TRUE(buffer.lines().isLive()) << "the buffer's ring adopts the lines it takes in";
    EXPECT_FALSE(buffer.wraparound()) << "the terminal turns auto-wrap on itself";

    buffer.fillViewportRows();
    ASSERT_EQ(buffer.lines().count(), 24);
    const BufferLine& line = *buffer.lines()[5];
    EXPECT_EQ(line.bidiState(), rtl) << "new lines take the buffer's default bidi state";
    EXPECT_EQ(line.owningBufferRef(), buffer.selfRef());
    EXPECT_EQ(line.arena(), arena);

    Buffer alternate(80, 24, 8, std::nullopt, BidiPresentationState());
    EXPECT_EQ(alternate.lines().maxLength(), 24) << "without scrollback the ring holds the screen only";
}

TEST(Buffer, AccessorsIgnoreNegativeCursorAndRegionValues)
{
    auto buffer = makeBuffer(10, 5);
    buffer->setX(4);
    buffer->setY(3);
    buffer->setScrollTop(1);
    buffer->setScrollBottom(3);
    buffer->setX(-1);
    buffer->setY(-2);
    buffer->setScrollTop(-3);
    buffer->setScrollBottom(-4);
    EXPECT_EQ((std::vector<int>{buffer->x(), buffer->y(), buffer->scrollTop(), buffer->scrollBottom()}),
              (std::vector<int>{4, 3, 1, 3}));
    buffer->setWrapPending(true);
    buffer->setX(10);
    EXPECT_EQ(buffer->x(), 9) << "past the last column is clamped to it";
    EXPECT_FALSE(buffer->wrapPending()) << "setting the column ends a pending wrap";
}

TEST(Buffer, RingLengthsAreCappedAndConstructionStopsOnOverflow)
{
    Buffer huge(10, 5, 8, INT_MAX - 5, BidiPresentationState());
    EXPECT_EQ(huge.lines().maxLength(), INT_MAX);
    EXPECT_EQ(huge.getCorrectBufferLength(100), Buffer::maximumBufferLength)
        << "rows + scrollback is capped at the largest ring";
    EXPECT_EQ(huge.getCorrectBufferLength(3), INT_MAX - 2);

    Buffer alternate(10, 5, 8, std::nullopt, BidiPresentationState());
    EXPECT_EQ(alternate.getCorrectBufferLength(7), 7);

    EXPECT_DEATH(Buffer(10, 5, 8, INT_MAX - 4, BidiPresentationState()), "rows \\+ scrollback overflows");
    EXPECT_DEATH(Buffer(0, 5, 8, 10, BidiPresentationState()), "at least one column and one row");
    EXPECT_DEATH(Buffer(10, 0, 8, 10, BidiPresentationState()), "at least one column and one row");
}

TEST(Buffer, DestroyingTheBufferClearsTheBackReference)
{
    std::shared_ptr<BufferLine> survivor;
    {
        auto buffer = makeBuffer(10, 3);
        survivor = buffer->lines()[1];
        ASSERT_EQ(survivor->owningBufferRef()->buffer, buffer.get());
    }
    ASSERT_NE(survivor->owningBufferRef(), nullptr);
    EXPECT_EQ(survivor->owningBufferRef()->buffer, nullptr);
    EXPECT_EQ(survivor->owningBufferRef()->promptOrigins, nullptr);
}

// The encodings of blanks are the arena's (see its tests); the buffer packs them in its own arena.
TEST(Buffer, BlankCellsAndLinesPackInTheBufferArena)
{
    auto buffer = makeBuffer(12, 3);
    Attribute bold(Color(), Color::ansi256(4));
    bold.style = CharacterStyle::bold;
    EXPECT_EQ(buffer->cellArena()->attribute(buffer->getPackedBlankCell(bold).attributeID()), bold);
    EXPECT_EQ(buffer->getNullCell().code, 32) << "the buffer's null cell is a space, unlike CharData::Null";
    EXPECT_EQ(buffer->getNullCell(bold).attribute, bold);

    const PackedCell blue = buffer->getPackedBlankCell(Attribute(Color(), Color::ansi256(4)));
    auto line = buffer->getBlankLine(blue, true);
    EXPECT_EQ(line->count(), 12);
    EXPECT_TRUE(line->isWrapped());
    EXPECT_EQ(line->usedLength(), 0) << "a fill that is not empty still leaves nothing used";
    EXPECT_EQ(line->packed(11), blue);
    EXPECT_EQ(line->owningBufferRef(), buffer->selfRef());
    const BidiPresentationState rtl(BidiSupportMode::implicit, false, BidiDirection::rightToLeft, false);
    EXPECT_EQ(buffer->getBlankLine(blue, false, rtl)->bidiState(), rtl);
    EXPECT_NE(buffer->getBlankLine(blue, false)->renderIdentity(), line->renderIdentity());
    auto fromAttribute = buffer->getBlankLine(Attribute(Color(), Color::trueColor(9, 8, 7)), false);
    EXPECT_EQ(fromAttribute->packed(0).kind(), PackedCell::Kind::trueColorBlank);
}

TEST(Buffer, GetCharReadsViewportAndAbsoluteRows)
{
    auto buffer = makeBuffer(10, 3);
    scrollIntoHistory(*buffer, 2);
    writeRow(*buffer, 0, "old");
    writeRow(*buffer, 2, "top");
    buffer->setYDisp(2);

    EXPECT_EQ(buffer->getCharAt(Position(1, 0)).code, 'o') << "screen rows count from yDisp";
    EXPECT_EQ(buffer->getCharAtBufferRelative(Position(0, 0)).code, 'o');
    EXPECT_EQ(buffer->getCharAt(Position(10, 0)), CharData::Null()) << "past the line is the null cell";
    EXPECT_EQ(buffer->getCharAt(Position(-1, 0)), CharData::Null());
    EXPECT_EQ(buffer->getCharAtBufferRelative(Position(5, 0)).code, 0);
}

TEST(Buffer, ClearResetsPositionsAndPromptStateButKeepsTabsAndSavedState)
{
    auto buffer = makeBuffer(20, 4);
    scrollIntoHistory(*buffer, 3);
    buffer->setX(5);
    buffer->setY(2);
    buffer->setScrollTop(1);
    buffer->setScrollBottom(2);
    buffer->setMarginLeft(3);
    buffer->setMarginRight(9);
    buffer->addLinesTrimmed(7);
    editSavedCursor(*buffer, [&](SavedCursor& saved) { saved.x = 6; });
    setBufferMode(*buffer, &BufferModeMirror::insertMode, true);
    buffer->tabClear(8);
    buffer->semanticPrompt().setContent(SemanticContent::input());
    buffer->semanticPrompt().setInput(SemanticInputState::armed);
    buffer->semanticPrompt().setClickSettings(kestrovan::SemanticPromptClickMode::none(), true);
    buffer->beginSemanticPromptGroup(3);
    buffer->semanticPrompt().noteStartRow(3);

    buffer->clear();
    EXPECT_EQ(buffer->lines().count(), 0);
    EXPECT_EQ(buffer->lines().maxLength(), 104);
    EXPECT_EQ((std::vector<int>{buffer->x(), buffer->y(), buffer->yBase(), buffer->yDisp(), buffer->xBase()}),
              (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ((std::vector<int>{buffer->scrollTop(), buffer->scrollBottom(), buffer->marginLeft(),
                                buffer->marginRight()}),
              (std::vector<int>{0, 3, 0, 19}));
    EXPECT_EQ(buffer->semanticPrompt().content(), SemanticContent::none());
    EXPECT_EQ(buffer->semanticPrompt().input(), SemanticInputState::idle);
    EXPECT_FALSE(buffer->semanticPrompt().usesSpecialCursorKeys());
    EXPECT_EQ(buffer->semanticPrompt().startLine(), nullptr);
    EXPECT_EQ(std::pair(buffer->semanticPrompt().groupCounter(), buffer->semanticPrompt().activeGroupID()),
              (std::pair<uint64_t, uint64_t>(0, 0)));
    EXPECT_EQ(buffer->semanticPrompt().startRowHint(), 3) << "the row hint survives a clear";
    EXPECT_EQ(buffer->savedCursor().x, 6) << "the saved cursor survives a clear";
    EXPECT_TRUE(buffer->insertMode()) << "mode mirrors survive a clear";
    EXPECT_FALSE(buffer->tabStops()[8]) << "tab stops survive a clear";

    buffer->fillViewportRows();
    EXPECT_EQ(buffer->lines().count(), 4);
}

TEST(Buffer, SoftResetClearsTheSavedStateAndMargins)
{
    auto buffer = makeBuffer(20, 4);
    buffer->setSavedCursor(SavedCursor{.x = 3,
                                       .y = 2,
                                       .originMode = true,
                                       .marginMode = true,
                                       .characterProtection = true,
                                       .attr = Attribute(Color::ansi256(1), Color::ansi256(2))});
    buffer->setMarginLeft(2);
    buffer->setMarginRight(10);
    buffer->setX(7);

    buffer->softReset();
    EXPECT_EQ(std::pair(buffer->savedCursor().x, buffer->savedCursor().y), std::pair(0, 0));
    EXPECT_FALSE(buffer->savedCursor().originMode || buffer->savedCursor().marginMode ||
                 buffer->savedCursor().characterProtection);
    EXPECT_EQ(buffer->savedCursor().attr, Attribute());
    EXPECT_EQ(buffer->savedCursor().charset, nullptr);
    EXPECT_EQ(std::pair(buffer->marginLeft(), buffer->marginRight()), std::pair(0, 19));
    EXPECT_EQ(buffer->x(), 7) << "the cursor itself is not part of a soft reset here";
}

TEST(Buffer, FillViewportRowsOnlyFillsAnEmptyRing)
{
    Buffer buffer(10, 3, 8, 5, BidiPresentationState());
    buffer.fillViewportRows(Attribute(Color(), Color::ansi256(2)));
    ASSERT_EQ(buffer.lines().count(), 3);
    EXPECT_EQ(buffer.lines()[2]->packed(0).kind(), PackedCell::Kind::paletteBlank);
    EXPECT_FALSE(buffer.lines()[2]->isWrapped());
    buffer.fillViewportRows();
    EXPECT_EQ(buffer.lines().count(), 3) << "a ring that holds lines is left alone";
}

TEST(Buffer, ClearScrollbackKeepsTheScreenRows)
{
    auto buffer = makeBuffer(10, 3, 10);
    scrollIntoHistory(*buffer, 4);
    writeRow(*buffer, 4, "first");
    writeRow(*buffer, 6, "last");
    buffer->setYDisp(1);
    editSavedCursor(*buffer, [&](SavedCursor& saved) { saved.y = 2; });

    buffer->clearScrollback();
    EXPECT_EQ(buffer->lines().count(), 3);
    EXPECT_EQ(buffer->yBase(), 0);
    EXPECT_EQ(buffer->yDisp(), 0) << "a scrolled-back view returns to the screen";
    EXPECT_EQ(buffer->savedCursor().y, 0);
    EXPECT_EQ(rowText(*buffer, 0), "first");
    EXPECT_EQ(rowText(*buffer, 2), "last");

    buffer->clearScrollback();
    EXPECT_EQ(buffer->lines().count(), 3) << "nothing to clear without scrollback in use";
}

TEST(Buffer, ChangeHistorySizeTrimsAndMovesRowsUp)
{
    auto buffer = makeBuffer(10, 3, 10);
    scrollIntoHistory(*buffer, 8);
    for (int row = 0; row < 11; ++row)
        writeRow(*buffer, row, "row" + std::to_string(row));
    buffer->setYDisp(2);
    editSavedCursor(*buffer, [&](SavedCursor& saved) { saved.y = 1; });

    buffer->changeHistorySize(4);
    EXPECT_EQ(buffer->lines().maxLength(), 7);
    EXPECT_EQ(buffer->lines().count(), 7);
    EXPECT_EQ(buffer->yBase(), 4) << "the four oldest lines were dropped";
    EXPECT_EQ(buffer->yDisp(), 0) << "moved up by the same amount, not below 0";
    EXPECT_EQ(buffer->savedCursor().y, 0);
    EXPECT_EQ(rowText(*buffer, 0), "row4");
    EXPECT_EQ(rowText(*buffer, 6), "row10");

    buffer->changeHistorySize(50);
    EXPECT_EQ(buffer->lines().maxLength(), 53) << "growing keeps every line";
    EXPECT_EQ(buffer->lines().count(), 7);
    EXPECT_EQ(rowText(*buffer, 0), "row4");

    buffer->changeHistorySize(std::nullopt);
    EXPECT_FALSE(buffer->hasScrollback());
    EXPECT_FALSE(buffer->isReflowEnabled());
    EXPECT_EQ(buffer->lines().maxLength(), 3);
    EXPECT_EQ(buffer->lines().count(), 3);
    EXPECT_EQ(buffer->yBase(), 0);
    EXPECT_EQ(rowText(*buffer, 0), "row8");

    buffer->changeHistorySize(0);
    EXPECT_TRUE(buffer->hasScrollback());
    EXPECT_EQ(buffer->lines().maxLength(), 3) << "same length: only the flags change";
}

TEST(Buffer, DroppingHistoryTakesItsImagesOffTheCount)
{
    // Regression: trimming the scrollback left lines with images in the count, so the buffer
    // claimed images it no longer had.
    auto buffer = makeBuffer(10, 2, 10);
    scrollIntoHistory(*buffer, 5);
    for (int row : {0, 3, 6})
        buffer->attachImage(std::make_shared<kestrovan::testing::TestImage>(), row);
    ASSERT_EQ(buffer->linesWithImagesCount(), 3);
    buffer->changeHistorySize(3);
    EXPECT_EQ(buffer->linesWithImagesCount(), 2) << "row 0 was dropped";
    buffer->clearScrollback();
    EXPECT_EQ(buffer->linesWithImagesCount(), 1) << "only the screen line keeps its image";
    EXPECT_TRUE(buffer->hasAnyImages());
}

TEST(Buffer, TabStopsFollowTheLayoutRules)
{
    auto buffer = makeBuffer(80, 3);
    EXPECT_EQ(stopsOf(*buffer), (std::vector<int>{0, 8, 16, 24, 32, 40, 48, 56, 64, 72}));
    EXPECT_EQ(buffer->nextTabStop(false, 75), 79) << "with no further stop the limit";
    EXPECT_EQ(buffer->nextTabStop(false, 8), 16);
    for (const auto& [from, stop] : {std::pair{0, 0}, {17, 16}, {16, 8}, {80, 72}, {-5, 0}})
        EXPECT_EQ(buffer->previousTabStop(from), stop) << "previous from " << from;

    buffer->setX(20);
    EXPECT_EQ(buffer->nextTabStop(false), 24) << "-1 means the cursor column";
    EXPECT_EQ(buffer->previousTabStop(), 16);
    buffer->setMarginRight(21);
    EXPECT_EQ(buffer->nextTabStop(true), 21) << "margin mode stops at the right margin";
    EXPECT_EQ(buffer->nextTabStop(false), 24);

    buffer->tabSet(20);
    buffer->tabClear(24);
    buffer->tabSet(80);
    buffer->tabClear(80);
    EXPECT_EQ(stopsOf(*buffer), (std::vector<int>{0, 8, 16, 20, 32, 40, 48, 56, 64, 72}))
        << "positions at or past the end change nothing";

    buffer->setupTabStops(-1, 4);
    EXPECT_EQ(stopsOf(*buffer).size(), 20u);
    buffer->setupTabStops(-1, -3);
    EXPECT_TRUE(stopsOf(*buffer).empty()) << "a negative width sets no stop";
    buffer->setupTabStops(-1, INT_MAX);
    EXPECT_EQ(stopsOf(*buffer), (std::vector<int>{0}));
}

TEST(Buffer, TabStopsContinueFromAnIndex)
{
    auto buffer = makeBuffer(30, 3);
    buffer->tabClear(24);
    // After a resize the layout goes on from the last stop at or before the old width.
    buffer->setupTabStops(27, 5);
    EXPECT_EQ(stopsOf(*buffer), (std::vector<int>{0, 8, 16, 21, 26}));
    buffer->setupTabStops(16, 6);
    EXPECT_EQ(stopsOf(*buffer), (std::vector<int>{0, 8, 16, 21, 22, 26, 28}));
}

TEST(Buffer, TabStopMisuseStopsTheProgram)
{
    auto buffer = makeBuffer(10, 3);
    EXPECT_DEATH(buffer->setupTabStops(-1, 0), "tab stop width of 0");
    EXPECT_DEATH(buffer->previousTabStop(11), "tab stop index out of range");
    EXPECT_DEATH(buffer->tabSet(-1), "negative tab stop position");
    EXPECT_DEATH(buffer->tabClear(-1), "negative tab stop position");
    EXPECT_EQ(buffer->previousTabStop(10), 8) << "an index equal to the length is allowed";
}
