#include "Kestrovan/Apple/SnapshotStyle.h"
#include "Kestrovan/Apple/TerminalSnapshotRow.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/RecordingTerminalDelegate.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TestSupport.h"
#include "Platform/Graphics/NativeImage.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

/// A drawable line image, as the view's inline images are.
class DrawableImage final : public SnapshotImageSource
{
public:
    explicit DrawableImage(int column)
        : picture_(platform::NativeImage::fromRGBA(1, 1, {0, 0, 0, 255})), column_(column)
    {}
    std::shared_ptr<const platform::NativeImage> image() const override { return picture_; }
    int pixelWidth() const override { return 16; }
    int pixelHeight() const override { return 8; }
    int col() const override { return column_; }
    void setCol(int column) override { column_ = column; }

private:
    std::shared_ptr<const platform::NativeImage> picture_;
    int column_;
};

PackedCellView view(const BufferLine& line, int column)
{
    return PackedCellView{line.packed(column), line.arena().get()};
}

TEST(TerminalSnapshotRowTests, ANewRowIsBlankAndAlwaysCopiedFirst)
{
    testing::TerminalFixture f(6, 2);
    f.t().feed(std::string_view("abc"));
    const auto source = std::make_shared<BufferLine>(f.buffer().lines().lineOrEmpty(0));
    TerminalSnapshotRow row(source, false);
    EXPECT_EQ(row.line->count(), 6);
    EXPECT_NE(row.line->renderIdentity(), source->renderIdentity());
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(row.line->packed(column), PackedCell()) << "column " << column;
    EXPECT_EQ(row.sourceGeneration, UINT64_MAX);
    EXPECT_EQ(row.bidiParagraphRevision, INT64_MIN);
    EXPECT_FALSE(row.bidiLayout);
    EXPECT_EQ(row.revision, 0u);
    EXPECT_FALSE(row.isCopyOf(*source));

    TerminalSnapshotRow borrowing(source, true);
    EXPECT_EQ(borrowing.line, source);
}

TEST(TerminalSnapshotRowTests, CopiesResolveClusterText)
{
    testing::TerminalFixture f(8, 2);
    // e with an acute accent (one cluster cell), then a wide ideograph, then x.
    f.t().feed(std::string_view("e\xcc\x81\xe4\xb8\x80x"));
    const Buffer& buffer = f.buffer();
    const std::shared_ptr<const BufferLine> source = buffer.lines().lineIfPresent(0);
    const std::shared_ptr<CellArena> arena = CellArena::makeSnapshot(*source->arena());
    TerminalSnapshotRow row(source->count(), arena);
    row.copy(*source, arena, 8);
    EXPECT_TRUE(row.isCopyOf(*source));
    EXPECT_EQ(row.sourceGeneration, source->generation());
    EXPECT_EQ(row.resolvedText.size(), 1u);
    EXPECT_EQ(row.resolvedText.at(0), "e\xcc\x81");
    EXPECT_EQ(row.character(0, view(*row.line, 0)), Character(U"e\u0301"));
    EXPECT_EQ(row.text(1, view(*row.line, 1)), "\xe4\xb8\x80");
    EXPECT_EQ(row.text(3, view(*row.line, 3)), "x");
    EXPECT_EQ(row.text(5, view(*row.line, 5)), " ") << "an empty cell draws a space";

    f.t().feed(std::string_view("\x1b[1;1Hz"));
    EXPECT_FALSE(row.isCopyOf(*source)) << "an edit changes the generation";

    // A cluster of two characters: the text is the whole cluster, the character only its first.
    BufferLine line(4);
    CharData cluster;
    cluster.setCharacter(Character(U"ab\u0301"), 1);
    line.set(0, cluster);
    TerminalSnapshotRow own(std::make_shared<BufferLine>(line), false);
    own.copy(line, own.line->arena(), 4);
    EXPECT_EQ(own.text(0, view(line, 0)), "ab\xcc\x81");
    EXPECT_EQ(own.character(0, view(line, 0)), Character(U'a'));
}

TEST(TerminalSnapshotRowTests, CellsThatNameNothingDrawAsSpacesOrReplacements)
{
    BufferLine line(2);
    TerminalSnapshotRow row(std::make_shared<BufferLine>(line), true);
    const CellArena& arena = *line.arena();
    const auto show = [&](PackedCell cell) { return row.character(0, PackedCellView{cell, &arena}).scalars; };
    using WS = PackedCell::WidthState;
    EXPECT_EQ(show(PackedCell::makeScalar(0, 0, WS::single, false, 0, 0)), U" ");
    EXPECT_EQ(show(PackedCell::makeScalar(0xD800, 0, WS::single, false, 0, 0)), U"\uFFFD");
    EXPECT_EQ(show(PackedCell::makeScalar(0x110000, 0, WS::single, false, 0, 0)), U"\uFFFD");
    EXPECT_EQ(show(PackedCell::makeGrapheme(0, 0, WS::single, false, 0, 0)), U" ") << "cluster id 0";
    EXPECT_EQ(show(PackedCell::makeGrapheme(4242, 0, WS::single, false, 0, 0)), U" ") << "not in the arena";
    EXPECT_EQ(show(PackedCell::makePaletteBlank(3, WS::single, false, 0, 0)), U" ");
    EXPECT_EQ(show(PackedCell::makeTrueColorBlank(1, 2, 3, WS::single, false, 0, 0)), U" ");
    EXPECT_EQ(row.text(0, PackedCellView{PackedCell::makeScalar(0xDFFF, 0, WS::single, false, 0, 0), &arena}),
              "\xef\xbf\xbd");
}

TEST(TerminalSnapshotRowTests, RowsTakeTheirImagesAndBidiLayout)
{
    testing::TerminalFixture f(4, 2);
    f.t().feed(std::string_view("\xd7\x90\xd7\x91"));
    const Buffer& buffer = f.buffer();
    const auto source = std::make_shared<BufferLine>(buffer.lines().lineOrEmpty(0));
    TerminalSnapshotRow row(source, false);

    // Only drawable images are copied; the list is compared by picture, size and column.
    source->attachImage(std::make_shared<testing::TestImage>());
    auto image = std::make_shared<DrawableImage>(1);
    source->attachImage(image);
    EXPECT_TRUE(row.refreshImages(*source, false));
    ASSERT_EQ(row.images.size(), 1u);
    EXPECT_EQ(row.images[0]->image(), image->image());
    EXPECT_EQ(row.images[0]->col(), 1);
    EXPECT_EQ(row.revision, 1u);
    EXPECT_FALSE(row.refreshImages(*source, false));
    EXPECT_EQ(row.revision, 1u) << "nothing changed";
    EXPECT_FALSE(row.refreshImages(*source, true));
    EXPECT_EQ(row.revision, 2u) << "another change raises the revision all the same";
    image->setCol(2);
    EXPECT_TRUE(row.refreshImages(*source, false));
    source->clearImages();
    EXPECT_TRUE(row.refreshImages(*source, false));
    EXPECT_TRUE(row.images.empty());

    // A right-to-left row's layout waits for typesetting, then lands in the row.
    TerminalBidi::clearCaches();
    std::shared_ptr<TerminalBidi::DeferredParagraph> pending;
    {
        TerminalLockGuard guard(f.t().terminalLock());
        const int64_t revision = TerminalBidi::layoutRevision(0, buffer, 500);
        pending = row.layOut(0, buffer, 4, f.t(), BidiHostPolicy::respectTerminal, revision);
        EXPECT_EQ(row.bidiParagraphRevision, revision);
    }
    ASSERT_TRUE(pending);
    EXPECT_FALSE(row.bidiLayout) << "kept until the paragraph is typeset";
    TerminalBidi::finish({pending});
    row.completeLayout(0, *pending);
    ASSERT_TRUE(row.bidiLayout);
    EXPECT_EQ(row.bidiLayout->visualToLogicalCol, (std::vector<int>{3, 2, 1, 0}));
    TerminalLockGuard guard(f.t().terminalLock());
    EXPECT_FALSE(row.layOut(0, buffer, 4, f.t(), BidiHostPolicy::respectTerminal, 1)) << "now cached";
    EXPECT_TRUE(row.bidiLayout);
    EXPECT_FALSE(row.layOut(1, buffer, 4, f.t(), BidiHostPolicy::respectTerminal, 1));
    EXPECT_FALSE(row.bidiLayout) << "a left-to-right row has none";
}

TEST(TerminalSnapshotRowTests, StylesCompareByValue)
{
    SnapshotStyle absent;
    SnapshotStyle alsoAbsent;
    EXPECT_TRUE(absent.hasSameValue(alsoAbsent));
    SnapshotStyle empty;
    empty.linkHighlightRange = std::vector<LinkMatch::RowRange>{};
    EXPECT_FALSE(absent.hasSameValue(empty)) << "an absent and an empty highlight differ";
    SnapshotStyle blink;
    blink.textBlinkVisible = false;
    EXPECT_FALSE(absent.hasSameValue(blink));

    testing::TerminalFixture f(6, 2);
    EXPECT_EQ(SnapshotSelectionState(nullptr), SnapshotSelectionState());
    auto selection = SelectionService::create(f.terminal);
    TerminalLockGuard guard(f.t().terminalLock());
    selection->startBlockSelection(Position(1, 0));
    selection->dragExtend(Position(3, 1));
    const SnapshotSelectionState state(selection.get());
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.start, Position(1, 0));
    EXPECT_EQ(state.end, Position(3, 1));
    EXPECT_TRUE(state.isBlock);
}

TEST(TerminalSnapshotRowDeathTest, ASelectionIsReadOnlyUnderTheTerminalLock)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            testing::TerminalFixture f(6, 2);
            auto selection = SelectionService::create(f.terminal);
            SnapshotSelectionState state(selection.get());
        },
        "the calling thread must hold the terminal lock");
}

} // namespace
} // namespace kestrovan
