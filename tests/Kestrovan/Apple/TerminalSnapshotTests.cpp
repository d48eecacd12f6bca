#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/RecordingTerminalDelegate.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(TerminalSnapshotTests, OnlyRowsWhoseLineChangedAreCopiedAgain)
{
    testing::TerminalFixture f(10, 4, 20);
    TerminalSnapshot snapshot;
    f.t().feed(std::string_view("one\r\ntwo\r\nthree"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.counters().rowsCopied, 4u) << "the first refresh copies every row";
    EXPECT_TRUE(snapshot.appearanceChanged);
    std::vector<uint64_t> revisions;
    for (const auto& row : snapshot.rows)
        revisions.push_back(row->revision);

    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.counters().rowsCopied, 4u) << "nothing changed, nothing copied";
    EXPECT_FALSE(snapshot.appearanceChanged);
    for (size_t i = 0; i < snapshot.rows.size(); ++i)
        EXPECT_EQ(snapshot.rows[i]->revision, revisions[i]) << "row " << i;

    f.t().feed(std::string_view("!"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.counters().rowsCopied, 5u) << "one changed line, one copy";

    // Scrolling moves every line to another row slot: every visible row is copied again.
    f.t().feed(std::string_view("\r\n\r\n"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.counters().rowsCopied, 9u);
    EXPECT_EQ(snapshot.firstRow, 1);

    // A palette change alters the look of every row without copying any.
    const uint64_t copied = snapshot.counters().rowsCopied;
    const uint64_t revision = snapshot.rows[0]->revision;
    f.t().feed(std::string_view("\x1b]4;1;rgb:12/34/56\x1b\\"));
    testing::refresh(snapshot, f.t());
    EXPECT_TRUE(snapshot.appearanceChanged);
    EXPECT_EQ(snapshot.counters().rowsCopied, copied);
    EXPECT_EQ(snapshot.rows[0]->revision, revision + 1);

    // The selection is part of the frame's style.
    SnapshotSelectionState selection;
    selection.active = true;
    selection.end = Position(3, 1);
    TerminalLockGuard guard(f.t().terminalLock());
    snapshot.refresh(f.t(), testing::viewState(), selection, false);
    EXPECT_TRUE(snapshot.appearanceChanged);
    EXPECT_TRUE(snapshot.style.selectionActive);
}

TEST(TerminalSnapshotTests, TheCursorAndItsCaretData)
{
    testing::TerminalFixture f(6, 3);
    TerminalSnapshot snapshot;
    // The cursor waits in the pending-wrap column past the last cell: it stands on the last cell.
    f.t().feed(std::string_view("abcde\x1b[1mf"));
    testing::refresh(snapshot, f.t());
    ASSERT_TRUE(snapshot.cursor);
    EXPECT_EQ(snapshot.cursor->logicalCol, 5);
    EXPECT_EQ(snapshot.cursor->renderData.character, Character(U'f'));
    EXPECT_EQ(snapshot.cursor->renderData.code, uint32_t('f'));
    EXPECT_EQ(snapshot.cursor->renderData.attributes.font, testing::terminalFonts().bold());
    EXPECT_EQ(snapshot.cursor->renderData.attributes.foregroundColor, snapshot.renderContext->caretColor);

    // On the right half of a wide character: width 0, one column.
    f.t().feed(std::string_view("\x1b[2;1H\xe4\xb8\xad\x1b[2;2H"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.cursor->renderData.width, 0);
    EXPECT_EQ(snapshot.cursor->columnWidth, 1);

    // A concealed cell stays concealed under the caret; a hidden cursor is still described.
    f.t().feed(std::string_view("\x1b[3;1H\x1b[8msecret\x1b[3;3H\x1b[?25l"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.cursor->renderData.character, Character(U' '));
    EXPECT_EQ(snapshot.cursor->renderData.code, 0u);
    EXPECT_TRUE(snapshot.cursor->hidden);
    EXPECT_EQ(snapshot.cursor->screenRow, 2);
}

TEST(TerminalSnapshotTests, ClusterTextStaysRightAcrossScreenSwitches)
{
    testing::TerminalFixture f(8, 2);
    TerminalSnapshot snapshot;
    // e with an acute accent on the main screen, a flag (two regional indicators) on the other.
    f.t().feed(std::string_view("e\xcc\x81"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.rows[0]->resolvedText.at(0), "e\xcc\x81");
    f.t().feed(std::string_view("\x1b[?1049h\x1b[H\xf0\x9f\x87\xab\xf0\x9f\x87\xb7"));
    testing::refresh(snapshot, f.t());
    EXPECT_TRUE(snapshot.isAltBuffer);
    EXPECT_EQ(snapshot.rows[0]->resolvedText.at(0), "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7");
    const TerminalSnapshotRow& alt = *snapshot.rows[0];
    EXPECT_EQ(alt.text(0, PackedCellView{alt.line->packed(0), alt.line->arena().get()}),
              "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7");
    f.t().feed(std::string_view("\x1b[?1049l"));
    testing::refresh(snapshot, f.t());
    EXPECT_FALSE(snapshot.isAltBuffer);
    const TerminalSnapshotRow& main = *snapshot.rows[0];
    EXPECT_EQ(main.text(0, PackedCellView{main.line->packed(0), main.line->arena().get()}), "e\xcc\x81");
    EXPECT_EQ(snapshot.counters().arenaRebuilds, 1u) << "both screens share one arena, kept in step";
}

// Ids the arena gives back and gives again must never be read by the snapshot as their old
// meaning: a reclaim makes the snapshot copy the arena again, and an id given again after that is
// taken over when the copy is brought up to date.
TEST(TerminalSnapshotTests, ReclaimedArenaIdsAreReadWithTheirNewMeaning)
{
    testing::TerminalFixture f(20, 3, 0);
    TerminalSnapshot snapshot;
    const auto foregroundOf = [&](int row, int col) {
        const BufferLine& line = *snapshot.rows[size_t(row)]->line;
        return line.arena()->attribute(line.packed(col)).fg;
    };
    f.t().feed(std::string_view("[38;2;1;2;3mA"));
    testing::refresh(snapshot, f.t());
    // Looks no cell shows fill the style table; the next new one makes the terminal reclaim them.
    std::string fill;
    for (int i = 0; i < 65536; ++i)
        fill += "[38;2;9;" + std::to_string(i >> 8) + ";" + std::to_string(i & 0xFF) + "m";
    f.t().feed(fill);
    f.t().feed(std::string_view("[2;1H[38;2;200;100;50mB"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.counters().arenaRebuilds, 2u) << "the reclaim renewed the arena's identity";
    EXPECT_EQ(foregroundOf(0, 0), Attribute::Color::trueColor(1, 2, 3)) << "an unchanged row";
    EXPECT_EQ(snapshot.rows[0]->line->arena(), snapshot.rows[1]->line->arena())
        << "an unchanged row reads through the new copy too, so a frame's rows share one";
    EXPECT_EQ(foregroundOf(1, 0), Attribute::Color::trueColor(200, 100, 50));

    // An id freed by the reclaim given again: the copy is kept in step, not made again.
    f.t().feed(std::string_view("[3;1H[38;2;7;7;7mC"));
    testing::refresh(snapshot, f.t());
    EXPECT_EQ(snapshot.counters().arenaRebuilds, 2u);
    EXPECT_EQ(foregroundOf(2, 0), Attribute::Color::trueColor(7, 7, 7));
    EXPECT_EQ(foregroundOf(1, 0), Attribute::Color::trueColor(200, 100, 50));
}

TEST(TerminalSnapshotTests, SynchronizedOutputLeavesTheSnapshotUntouched)
{
    testing::TerminalFixture f(8, 2);
    TerminalSnapshot snapshot;
    f.t().feed(std::string_view("before"));
    testing::refresh(snapshot, f.t());
    f.t().feed(std::string_view("\x1b[?2026h\rafter!"));
    EXPECT_EQ(testing::refresh(snapshot, f.t()),
              TerminalSnapshot::RefreshResult::skippedForSynchronizedOutput);
    const TerminalSnapshotRow& row = *snapshot.rows[0];
    EXPECT_EQ(row.text(0, PackedCellView{row.line->packed(0), row.line->arena().get()}), "b");
    f.t().feed(std::string_view("\x1b[?2026l"));
    EXPECT_EQ(testing::refresh(snapshot, f.t()), TerminalSnapshot::RefreshResult::refreshed);
    EXPECT_EQ(row.text(0, PackedCellView{row.line->packed(0), row.line->arena().get()}), "a");
}

TEST(TerminalSnapshotTests, ScrolledBackViewsShowScrollbackRows)
{
    testing::TerminalFixture f(6, 2, 10);
    TerminalSnapshot snapshot;
    f.t().feed(std::string_view("1\r\n2\r\n3\r\n4"));
    f.t().scrollViewportTo(0);
    testing::refresh(snapshot, f.t());
    ASSERT_EQ(snapshot.rows.size(), 2u);
    EXPECT_EQ(snapshot.firstRow, 0);
    EXPECT_EQ(snapshot.cursor->screenRow, 3) << "the cursor lies below the scrolled-back view";
    EXPECT_EQ(snapshot.row(1), snapshot.rows[1].get());
    EXPECT_EQ(snapshot.row(2), nullptr);
}

} // namespace
} // namespace kestrovan
