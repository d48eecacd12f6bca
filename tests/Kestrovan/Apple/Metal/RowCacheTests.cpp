// The GPU renderer's row cache: entries keyed by the line's render identity and holding it, the
// reuse test, the visible rows.
#include "RecordingFrameTestSupport.h"

#include "Kestrovan/Apple/Metal/RowCache.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(RowCacheTests, AnEntryKeepsItsLinesIdentityAliveSoNoNewLineCanTakeItsAddress)
{
    // The old fault: entries keyed by the address of a line's identity without holding it met a
    // new line whose identity landed at the freed address, and (generations starting at 0 for
    // every line) drew the old line's glyphs for the new one.
    std::weak_ptr<const BufferLine::RenderIdentity> identity;
    std::shared_ptr<MetalTerminalRenderer> renderer;
    {
        metaltest::RecordingFrames f(10, 3);
        // Without bidi layout, nothing else keeps a line's identity once the line is gone.
        f.view.bidiHostPolicy = BidiHostPolicy::legacyLeftToRight;
        f.feed("first line");
        f.render();
        identity = f.snapshot->rows[0]->sourceIdentityToken();
        renderer = f.renderer;
    }
    // The terminal, its lines and the snapshot are gone; the entry still names the identity, so
    // it still exists and its address cannot be reused.
    ASSERT_EQ(renderer->rowCache().size(), 3u);
    EXPECT_FALSE(identity.expired());
    EXPECT_NE(renderer->rowCache().find(identity.lock().get()), nullptr);

    // A frame of other lines drops the entry, and the identity with it.
    metaltest::RecordingFrames g(10, 3);
    g.view.bidiHostPolicy = BidiHostPolicy::legacyLeftToRight;
    g.feed("other");
    g.refresh();
    renderer->setPreparedSnapshot(PreparedSnapshot{g.snapshot, *g.snapshot->renderContext});
    renderer->buildDrawData(*g.snapshot, *g.snapshot->renderContext);
    EXPECT_TRUE(identity.expired());
}

TEST(RowCacheTests, RowsAreReusedWhileTheirSourceAndInputsHold)
{
    auto line = std::make_shared<BufferLine>(10);
    TerminalSnapshotRow row(line, true);
    row.sourceGeneration = 7;
    row.revision = 3;
    RowCacheEntry entry;
    entry.sourceGeneration = 7;
    entry.revision = 3;
    entry.screenRow = 4;
    const auto inputs = [](std::optional<SelectedColumns> selection, bool bidi,
                           std::optional<LinkMatch::ColumnRange> link = std::nullopt) {
        RowCacheInputs made;
        made.selection = selection;
        made.link = link;
        made.hasBidiLayout = bidi;
        return made;
    };
    const auto picture = platform::NativeImage::fromRGBA(1, 1, {1, 2, 3, 4});
    const struct
    {
        const char* what;
        RowCacheInputs stored;
        RowCacheInputs now;
        int64_t screenRow;
        uint64_t generation;
        bool reused;
    } cases[] = {
        {"unchanged", inputs({}, false), inputs({}, false), 4, 7, true},
        {"scrolled without bidi", inputs({}, false), inputs({}, false), 9, 7, true},
        {"scrolled with bidi", inputs({}, true), inputs({}, true), 9, 7, false},
        {"bidi in place", inputs({}, true), inputs({}, true), 4, 7, true},
        {"new content", inputs({}, false), inputs({}, false), 4, 8, false},
        {"selected", inputs({}, false), inputs(SelectedColumns{1, 3}, false), 4, 7, false},
        {"selection moved", inputs(SelectedColumns{1, 3}, false), inputs(SelectedColumns{1, 4}, false), 4, 7,
         false},
        {"hovered link", inputs({}, false), inputs({}, false, LinkMatch::ColumnRange{2, 5}), 4, 7, false},
    };
    for (const auto& c : cases) {
        entry.inputs = c.stored;
        row.sourceGeneration = c.generation;
        EXPECT_EQ(entry.canReuse(row, c.now, c.screenRow), c.reused) << c.what;
    }
    // The same picture object, size and column, or not.
    RowCacheInputs withPicture = inputs({}, false);
    withPicture.images = {std::make_shared<SnapshotImage>(picture, 8, 16, 2)};
    entry.inputs = withPicture;
    row.sourceGeneration = 7;
    RowCacheInputs samePicture = withPicture;
    samePicture.images = {std::make_shared<SnapshotImage>(picture, 8, 16, 2)};
    EXPECT_TRUE(entry.canReuse(row, samePicture, 4));
    samePicture.images = {std::make_shared<SnapshotImage>(picture, 8, 16, 3)};
    EXPECT_FALSE(entry.canReuse(row, samePicture, 4)) << "moved column";
}

TEST(RowCacheTests, TheHoverLinkCountsOnlyWhereItIsShown)
{
    auto line = std::make_shared<BufferLine>(10);
    TerminalSnapshotRow row(line, true);
    SnapshotRenderContext context;
    context.linkHighlightRange = std::vector<LinkMatch::RowRange>{{5, {2, 6}}};
    const struct
    {
        LinkHighlightMode mode;
        bool commandActive;
        bool linked;
    } cases[] = {
        {LinkHighlightMode::hover, false, true},
        {LinkHighlightMode::hoverWithModifier, false, false},
        {LinkHighlightMode::hoverWithModifier, true, true},
        {LinkHighlightMode::always, true, false},
        {LinkHighlightMode::alwaysWithModifier, true, false},
    };
    for (const auto& c : cases) {
        context.linkHighlightMode = c.mode;
        context.commandActive = c.commandActive;
        EXPECT_EQ(RowCacheInputs::make(row, 5, context).link.has_value(), c.linked)
            << int(c.mode) << " " << c.commandActive;
        EXPECT_FALSE(RowCacheInputs::make(row, 4, context).link) << "another row";
    }
}

TEST(RowCacheTests, TheVisibleRowsOfASnapshot)
{
    TerminalSnapshot snapshot;
    snapshot.rows.resize(24);
    snapshot.rowCount = 24;
    snapshot.firstRow = 100;
    snapshot.yDisp = 100;
    snapshot.linesCount = 110;
    EXPECT_EQ(visibleRowRange(snapshot), (VisibleRowRange{100, 109, 100}));
    snapshot.linesCount = 200;
    EXPECT_EQ(visibleRowRange(snapshot), (VisibleRowRange{100, 123, 100}));
    snapshot.linesCount = 0;
    EXPECT_EQ(visibleRowRange(snapshot), std::nullopt);
    snapshot.linesCount = 200;
    snapshot.rows.clear();
    EXPECT_EQ(visibleRowRange(snapshot), std::nullopt);
}

} // namespace
} // namespace kestrovan
