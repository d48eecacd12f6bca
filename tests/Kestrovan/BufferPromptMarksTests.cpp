#include "tests/Kestrovan/TestSupport.h"

#include "Kestrovan/Buffer.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <vector>

using kestrovan::BidiPresentationState;
using kestrovan::Buffer;
using kestrovan::BufferLine;
using kestrovan::PackedCell;
using kestrovan::Position;
using kestrovan::SemanticInputState;
using kestrovan::SemanticMark;
using kestrovan::SemanticPromptAnchor;
using kestrovan::SemanticPromptKind;
using kestrovan::testing::TestImage;
using WidthState = kestrovan::PackedCell::WidthState;

namespace {

constexpr SemanticPromptKind initial = SemanticPromptKind::initial;
constexpr SemanticPromptKind right = SemanticPromptKind::right;
constexpr SemanticPromptKind continuation = SemanticPromptKind::continuation;
constexpr SemanticPromptKind secondary = SemanticPromptKind::secondary;

// A 10-column buffer of `rows` screen rows whose ring holds `rows + scrollback` lines, all present.
std::unique_ptr<Buffer> makeBuffer(int rows, int scrollback, int linesInRing)
{
    auto buffer = std::make_unique<Buffer>(10, rows, 8, scrollback, BidiPresentationState());
    buffer->fillViewportRows();
    while (buffer->lines().count() < linesInRing) {
        buffer->lines().push(buffer->getBlankLine(PackedCell(), false));
        buffer->setYBase(buffer->yBase() + 1);
        buffer->setYDisp(buffer->yBase());
    }
    return buffer;
}

// Pushes one more line onto a full ring: the oldest line drops out and every row moves up one.
void scrollFullRing(Buffer& buffer)
{
    ASSERT_TRUE(buffer.lines().isFull());
    buffer.lines().push(buffer.getBlankLine(PackedCell(), false));
}

} // namespace

TEST(BufferPromptMarks, GroupsGetFreshNonZeroIds)
{
    auto buffer = makeBuffer(5, 5, 5);
    buffer->beginSemanticPromptGroup(2);
    EXPECT_EQ(buffer->semanticPrompt().activeGroupID(), 1u);
    EXPECT_EQ(buffer->semanticPrompt().startLine(), buffer->lines()[2]);
    buffer->beginSemanticPromptGroup(3);
    EXPECT_EQ(buffer->semanticPrompt().activeGroupID(), 2u);

    buffer->beginSemanticPromptGroup(5);
    buffer->beginSemanticPromptGroup(-1);
    EXPECT_EQ(buffer->semanticPrompt().activeGroupID(), 2u) << "a row outside the ring changes nothing";
    EXPECT_EQ(buffer->semanticPrompt().startRowHint(), 3);

    buffer->semanticPrompt().setGroupCounterForTesting(std::numeric_limits<uint64_t>::max());
    buffer->beginSemanticPromptGroup(1);
    EXPECT_EQ(buffer->semanticPrompt().activeGroupID(), 1u) << "the id after the largest is 1, never 0";
    EXPECT_EQ(buffer->semanticPrompt().groupCounter(), 1u);
}

TEST(BufferPromptMarks, MarksAreClampedAndTaggedWithTheActiveGroup)
{
    auto buffer = makeBuffer(5, 5, 5);
    buffer->beginSemanticPromptGroup(1);
    buffer->beginSemanticPromptGroup(1);
    buffer->setSemanticMark(initial, 1, -4);
    buffer->setSemanticMark(right, 1, 99);
    buffer->setSemanticMark(secondary, 7, 0);
    EXPECT_EQ(buffer->lines()[1]->semanticMarks(),
              (std::vector<SemanticMark>{{initial, 0, 2}, {right, 9, 2}}));

    EXPECT_EQ(buffer->semanticPromptMarks(1),
              (std::vector<SemanticPromptAnchor>{{Position(0, 1), initial}, {Position(9, 1), right}}));
    EXPECT_TRUE(buffer->semanticPromptMarks(0).empty());
    EXPECT_TRUE(buffer->semanticPromptMarks(5).empty()) << "a row outside the ring has no marks";
    EXPECT_TRUE(buffer->semanticPromptMarks(-1).empty());
}

TEST(BufferPromptMarks, StartRowFollowsTheLineAsRowsMove)
{
    auto buffer = makeBuffer(3, 2, 5);
    buffer->beginSemanticPromptGroup(3);
    buffer->setSemanticMark(initial, 3, 2);
    EXPECT_EQ(buffer->semanticPromptStartRow(), 3);
    EXPECT_EQ(buffer->semanticPrompt().startRowScanCount(), 0) << "the cached row answers";

    scrollFullRing(*buffer);
    EXPECT_EQ(buffer->semanticPromptStartRow(), 2) << "the same line object, one row up";
    EXPECT_EQ(buffer->semanticPrompt().startRowScanCount(), 1);
    EXPECT_EQ(buffer->semanticPrompt().startRowHint(), 2);
    EXPECT_EQ(buffer->activeSemanticPromptOrigin(), Position(2, 2));
    EXPECT_EQ(buffer->semanticPromptStartRow(), 2);
    EXPECT_EQ(buffer->semanticPrompt().startRowScanCount(), 1);
}

TEST(BufferPromptMarks, StartRowRebindsOrIsForgottenWhenTheLineLeaves)
{
    auto buffer = makeBuffer(3, 2, 5);
    buffer->beginSemanticPromptGroup(0);
    buffer->setSemanticMark(initial, 0, 0);
    // Another opening mark of the same group further down (a secondary prompt), and one of an
    // older group nearer the cursor, which must not be taken.
    buffer->setSemanticMark(secondary, 2, 4);
    buffer->lines()[3]->setSemanticMark(initial, 0, 77);
    buffer->setY(1);

    scrollFullRing(*buffer);
    EXPECT_EQ(buffer->semanticPromptStartRow(), 1) << "rebinds to the row that still opens the group";
    EXPECT_EQ(buffer->semanticPrompt().startLine(), buffer->lines()[1]);
    EXPECT_EQ(buffer->activeSemanticPromptOrigin(), Position(4, 1)) << "a secondary mark as the origin";

    scrollFullRing(*buffer);
    scrollFullRing(*buffer);
    EXPECT_EQ(buffer->semanticPromptStartRow(), std::nullopt);
    EXPECT_EQ(buffer->semanticPrompt().startLine(), nullptr) << "the start is forgotten";
    EXPECT_EQ(buffer->activeSemanticPromptOrigin(), std::nullopt);
}

TEST(BufferPromptMarks, ReadersAnswerARebindWithoutMakingIt)
{
    auto buffer = makeBuffer(3, 2, 5);
    buffer->beginSemanticPromptGroup(0);
    buffer->setSemanticMark(initial, 0, 0);
    buffer->setSemanticMark(secondary, 2, 4);
    buffer->setY(1);
    const std::shared_ptr<BufferLine> start = buffer->semanticPrompt().startLine();
    scrollFullRing(*buffer);

    const Buffer& reader = *buffer;
    EXPECT_EQ(reader.findSemanticPromptStartRow(), 1) << "the row a writer would re-bind to";
    EXPECT_EQ(reader.activeSemanticPromptOrigin(), Position(4, 1));
    EXPECT_EQ(reader.semanticRowKind(1), initial) << "the secondary mark opens the group on its start row";
    EXPECT_EQ(buffer->semanticPrompt().startLine(), start) << "reading re-binds nothing";

    EXPECT_EQ(buffer->semanticPromptStartRow(), 1);
    EXPECT_EQ(buffer->semanticPrompt().startLine(), buffer->lines()[1]) << "the writers' query does";
}

TEST(BufferPromptMarks, RecycledStartLineLosesItsMarksAndRebindsBelowTheCursorToo)
{
    auto buffer = makeBuffer(3, 1, 4);
    buffer->beginSemanticPromptGroup(1);
    buffer->setSemanticMark(initial, 1, 0);
    buffer->setSemanticMark(initial, 3, 1);
    buffer->setY(0);
    // The line is reused in place: the object is still in the ring but carries no mark.
    buffer->lines()[1]->recycle(PackedCell(), false, BidiPresentationState());
    EXPECT_EQ(buffer->semanticPromptStartRow(), 3) << "searched upwards from the cursor, then below it";
}

TEST(BufferPromptMarks, GroupReuseNeedsAnOpenPromptOnTheStartRow)
{
    auto buffer = makeBuffer(5, 0, 5);
    buffer->beginSemanticPromptGroup(2);
    buffer->setSemanticMark(initial, 2, 0);
    for (SemanticInputState state : {SemanticInputState::idle, SemanticInputState::submitted,
                                     SemanticInputState::prompt, SemanticInputState::armed}) {
        buffer->semanticPrompt().setInput(state);
        EXPECT_EQ(buffer->canReuseSemanticGroup(2),
                  state == SemanticInputState::prompt || state == SemanticInputState::armed)
            << "input state " << int(state);
    }
    EXPECT_FALSE(buffer->canReuseSemanticGroup(3)) << "another row";
    EXPECT_FALSE(buffer->canReuseSemanticGroup(9)) << "outside the ring";

    // The start row's mark belongs to an older group: no reuse.
    buffer->lines()[2]->setSemanticMark(initial, 0, 99);
    EXPECT_FALSE(buffer->canReuseSemanticGroup(2));
}

TEST(BufferPromptMarks, RowKindsFollowMarksWrapsAndHardContinuations)
{
    auto buffer = makeBuffer(8, 0, 8);
    buffer->beginSemanticPromptGroup(1);
    const uint64_t group = buffer->semanticPrompt().activeGroupID();
    buffer->setSemanticMark(initial, 1, 0);
    buffer->lines()[2]->setWrapped(true);                        // soft wrap of the prompt row
    buffer->lines()[3]->setSemanticHardContinuationGroup(group); // Enter inside the command
    buffer->lines()[4]->setWrapped(true);
    buffer->lines()[5]->setSemanticHardContinuationGroup(group + 1);
    buffer->setSemanticMark(right, 6, 3);

    // Row 4 is a wrap under a hard continuation, row 5 a hard continuation of another group,
    // row 6 has a joining mark, row 7 is neither wrapped nor continued.
    const std::optional<SemanticPromptKind> kinds[] = {std::nullopt, initial,      continuation,
                                                       continuation, continuation, std::nullopt,
                                                       continuation, std::nullopt, std::nullopt};
    for (int row = 0; row <= 8; ++row)
        EXPECT_EQ(buffer->semanticRowKind(row), kinds[row]) << "row " << row;

    // A secondary mark opens only the start row; elsewhere it joins.
    buffer->beginSemanticPromptGroup(7);
    buffer->setSemanticMark(secondary, 7, 0);
    EXPECT_EQ(buffer->semanticRowKind(7), initial);
    buffer->beginSemanticPromptGroup(0);
    buffer->setSemanticMark(initial, 0, 0);
    EXPECT_EQ(buffer->semanticRowKind(7), continuation);
}

TEST(BufferPromptMarks, RowsContinueTheActiveGroupThroughGroupsOrJoiningMarks)
{
    auto buffer = makeBuffer(5, 0, 5);
    EXPECT_FALSE(buffer->rowContinuesActiveGroupHard(1)) << "no active group";
    buffer->beginSemanticPromptGroup(0);
    const uint64_t group = buffer->semanticPrompt().activeGroupID();
    buffer->lines()[1]->setSemanticHardContinuationGroup(group);
    buffer->setSemanticMark(continuation, 2, 0);
    buffer->lines()[3]->setSemanticMark(continuation, 0, group + 5);
    for (int row = 1; row <= 5; ++row)
        EXPECT_EQ(buffer->rowContinuesActiveGroupHard(row), row <= 2) << "row " << row;
}

TEST(BufferPromptMarks, StaleCellsLoseTheirPromptAndInputCodes)
{
    auto buffer = makeBuffer(3, 0, 3);
    BufferLine& line = *buffer->lines()[0];
    for (int column = 0; column < 7; ++column)
        line.mutableCells()[column] =
            PackedCell::makeScalar('a', 0, WidthState::single, false, 0, uint8_t(column));
    line.raiseUsedLength(7);
    const uint64_t before = line.generation();

    buffer->clearStaleSemanticCells(line);
    for (int column = 0; column < 7; ++column) {
        const uint8_t expected = column == 6 ? 6 : 0;
        EXPECT_EQ(line.packed(column).semanticCode(), expected) << "column " << column;
        EXPECT_EQ(line.packed(column).scalar(), uint32_t('a'));
    }
    EXPECT_EQ(line.generation(), before + 5) << "one content change per cleared cell";
}

TEST(BufferPromptMarks, FindRowSearchesOutwardsFromTheHint)
{
    auto buffer = makeBuffer(9, 0, 9);
    std::vector<int> visited;
    const auto target = buffer->lines()[1].get();
    const auto found = buffer->findRow(4, [&](const BufferLine& line) {
        for (int row = 0; row < 9; ++row) {
            if (buffer->lines()[row].get() == &line)
                visited.push_back(row);
        }
        return &line == target;
    });
    EXPECT_EQ(found, 1);
    EXPECT_EQ(visited, (std::vector<int>{4, 5, 3, 6, 2, 7, 1}));

    EXPECT_EQ(buffer->findRow(100, [&](const BufferLine& line) { return &line == target; }), 1)
        << "the hint is clamped into the ring";
    EXPECT_EQ(buffer->findRow(0, [](const BufferLine&) { return false; }), std::nullopt);
    buffer->clear();
    EXPECT_EQ(buffer->findRow(0, [](const BufferLine&) { return true; }), std::nullopt);
}

TEST(BufferPromptMarks, CopyingTheOriginMarkMovesTheStartLine)
{
    auto buffer = makeBuffer(4, 0, 4);
    buffer->beginSemanticPromptGroup(1);
    buffer->setSemanticMark(initial, 1, 2);
    BufferLine& source = *buffer->lines()[1];
    EXPECT_TRUE(buffer->isActivePromptOrigin(source, initial, 2));
    EXPECT_FALSE(buffer->isActivePromptOrigin(source, initial, 3));
    EXPECT_FALSE(buffer->isActivePromptOrigin(*buffer->lines()[2], initial, 2));

    // A stale initial mark on the destination gives way to the active origin.
    buffer->lines()[3]->setSemanticMark(initial, 5, 42);
    buffer->lines()[3]->copyFrom(source, 0, 0, 10);
    EXPECT_EQ(buffer->semanticPrompt().startLine(), buffer->lines()[3]);
    EXPECT_EQ(buffer->lines()[3]->semanticMarks(), (std::vector<SemanticMark>{{initial, 2, 1}}));
    EXPECT_EQ(buffer->semanticPromptStartRow(), 3);
}

TEST(BufferPromptMarks, ImageLinesAreCountedOnce)
{
    auto buffer = makeBuffer(4, 0, 4);
    auto image = std::make_shared<TestImage>();
    buffer->attachImage(image, 1);
    buffer->attachImage(image, 1);
    EXPECT_EQ(buffer->linesWithImagesCount(), 1) << "two images on one line count it once";
    buffer->attachImage(image, 2);
    buffer->attachImage(image, 4);
    EXPECT_EQ(buffer->linesWithImagesCount(), 2) << "a row outside the ring takes no image";
    EXPECT_TRUE(buffer->hasAnyImages());

    const uint64_t before = buffer->lines()[1]->generation();
    buffer->clearImagesFromLine(1);
    EXPECT_EQ(buffer->linesWithImagesCount(), 1);
    EXPECT_FALSE(buffer->lines()[1]->hasImages());
    EXPECT_EQ(buffer->lines()[1]->generation(), before + BufferLine::decorationChange);
    buffer->clearImagesFromLine(1);
    EXPECT_EQ(buffer->linesWithImagesCount(), 1) << "clearing a line without images changes nothing";

    // Lines moved in behind the count's back are found by a recount.
    buffer->lines()[3]->attachImage(image);
    buffer->recalculateLinesWithImagesCount();
    EXPECT_EQ(buffer->linesWithImagesCount(), 2);

    buffer->clear();
    EXPECT_EQ(buffer->linesWithImagesCount(), 0) << "lines dropped by a clear leave the count";
    EXPECT_FALSE(buffer->hasAnyImages());
}
