// Kitty placements: display and the cursor, sizes in cells, parent chains, every delete selector,
// scrolling inside regions, trimming at the scrollback limit, and the render snapshot.
#include "tests/Kestrovan/KittyGraphicsTestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using testing::base64;
using testing::KittyFixture;
using testing::solidRgba;

/// A terminal with 10 x 20 pixel cells.
KittyFixture cells(int cols = 80, int rows = 24, int scrollback = 100)
{
    KittyFixture fixture(cols, rows, scrollback);
    fixture.delegate->cellSize = CellPixelSize{10, 20};
    return fixture;
}

/// Stores a width x height image under `id` quietly.
void store(KittyFixture& fixture, int id, int width, int height)
{
    fixture.transmitRgba("a=t,q=2,i=" + std::to_string(id), width, height,
                         solidRgba(width * height, 1, 2, 3));
}

const KittyPlacementRecord& only(KittyFixture& fixture)
{
    EXPECT_EQ(fixture.screen().placementsByKey.size(), 1u);
    return fixture.screen().placementsByKey.begin()->second;
}

TEST(KittyPlacements, CursorMovesPastTheImageUnlessTold)
{
    KittyFixture fixture = cells();
    store(fixture, 1, 100, 40);     // 10 x 2 cells
    fixture.t().feed("\x1b[5;71H"); // row 4, column 70
    fixture.command("a=p,i=1,q=2");
    EXPECT_EQ(only(fixture).col, 70);
    EXPECT_EQ(only(fixture).row, 4);
    EXPECT_EQ(fixture.t().buffer().x(), 0) << "an image reaching the right edge ends at the next line";
    EXPECT_EQ(fixture.t().buffer().y(), 6);

    fixture.t().feed("\x1b[2;3H");
    fixture.command("a=p,i=1,p=2,q=2");
    EXPECT_EQ(fixture.t().buffer().x(), 12) << "just right of the image, on its last row";
    EXPECT_EQ(fixture.t().buffer().y(), 2);

    for (const char* keys : {"a=p,i=1,p=3,C=1,q=2", "a=p,i=1,p=4,U=1,q=2", "a=p,i=1,p=5,P=1,Q=2,q=2"}) {
        fixture.t().feed("\x1b[10;10H");
        fixture.command(keys);
        EXPECT_EQ(fixture.t().buffer().x(), 9) << keys;
        EXPECT_EQ(fixture.t().buffer().y(), 9) << keys;
    }

    // At the bottom the screen scrolls, and the placement travels up with its line.
    fixture.t().feed("\x1b[24;1H");
    fixture.command("a=p,i=1,p=6,q=2");
    const int64_t yBase = fixture.t().buffer().yBase();
    EXPECT_EQ(yBase, 1);
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 6, false}).row, 23) << "anchored to its absolute line";
}

TEST(KittyPlacements, SizesInCellsFollowTheKeysAndTheCellSize)
{
    const struct
    {
        const char* keys;
        int width;
        int height;
        int64_t cols;
        int64_t rows;
        bool cellSize;
    } cases[] = {
        {"c=10", 200, 100, 10, 3, true},  // scaled height 50 -> 3 rows of 20
        {"r=2", 200, 100, 8, 2, true},    // drawn height 40, scaled width 80 -> 8 columns
        {"", 25, 41, 3, 3, true},         // ceil(25/10), ceil(41/20)
        {"X=7,Y=30", 25, 41, 4, 3, true}, // offsets clamp into the cell: 7 and 19
        {"c=3,r=4", 25, 41, 3, 4, true},
        {"", 25, 41, 1, 1, false}, // no cell size
        {"c=5", 25, 41, 5, 1, false},
        {"x=20,w=100", 25, 41, 1, 3, true}, // the source is cropped to what is left: 5 wide
    };
    for (const auto& item : cases) {
        KittyFixture fixture = cells();
        if (!item.cellSize)
            fixture.delegate->cellSize.reset();
        store(fixture, 1, item.width, item.height);
        fixture.command(std::string("a=p,i=1,q=2,") + item.keys);
        const KittyPlacementRecord& record = only(fixture);
        EXPECT_EQ(record.cols, item.cols) << item.keys;
        EXPECT_EQ(record.rows, item.rows) << item.keys;
    }
}

TEST(KittyPlacements, ReplacementAnonymousIdsAndParents)
{
    KittyFixture fixture = cells();
    store(fixture, 1, 20, 20);
    fixture.command("a=p,i=1,p=7,q=2");
    const KittyPlacementRecord first = only(fixture);
    fixture.command("a=p,i=1,p=7,q=2");
    const KittyPlacementRecord second = only(fixture);
    EXPECT_GT(second.token, first.token);
    EXPECT_GT(second.insertionOrder, first.insertionOrder);

    fixture.command("a=p,i=1,q=2");
    fixture.command("a=p,i=1,q=2");
    EXPECT_EQ(fixture.screen().placementsByKey.count({1, 1, true}), 1u);
    EXPECT_EQ(fixture.screen().placementsByKey.count({1, 2, true}), 1u);

    // A relative placement sits at its parent plus its offsets and follows it.
    fixture.t().feed("\x1b[3;4H");
    fixture.command("a=p,i=1,p=8,q=2");
    fixture.command("a=p,i=1,p=9,P=1,Q=8,H=2,V=-1,q=2");
    const KittyPlacementRecord& child = fixture.screen().placementsByKey.at({1, 9, false});
    EXPECT_EQ(child.col, 5);
    EXPECT_EQ(child.row, 1);
    // Without Q the parent with the smallest client id is taken.
    fixture.command("a=p,i=1,p=10,P=1,q=2");
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 10, false}).parentPlacementId, 7u);
}

TEST(KittyPlacements, EveryDeleteSelector)
{
    // Placements: image 1 at (0,0) 2x2; image 2 at (10,5) 2x2 with z=3; image 3 virtual; image 4
    // at (20,5) as a parent of image 5's relative placement.
    auto scene = [] {
        KittyFixture fixture = cells();
        for (int id = 1; id <= 5; ++id)
            store(fixture, id, 20, 40);
        fixture.command("a=p,i=1,p=1,C=1,q=2");
        fixture.t().feed("\x1b[6;11H");
        fixture.command("a=p,i=2,p=1,z=3,C=1,q=2");
        fixture.command("a=p,i=3,p=1,U=1,q=2");
        fixture.t().feed("\x1b[6;21H");
        fixture.command("a=p,i=4,p=1,C=1,q=2");
        fixture.command("a=p,i=5,p=1,P=4,Q=1,H=1,q=2");
        fixture.t().feed("\x1b[1;2H"); // the cursor on image 1
        return fixture;
    };
    auto placed = [](KittyFixture& fixture) {
        std::string out;
        for (const auto& [key, record] : fixture.screen().placementsByKey)
            out += std::to_string(key.imageId);
        return out;
    };
    auto stored = [](KittyFixture& fixture) {
        std::string out;
        for (const auto& [id, image] : fixture.screen().imagesById)
            out += std::to_string(id);
        return out;
    };
    const struct
    {
        const char* keys;
        const char* placements;
        const char* images;
    } cases[] = {
        {"a=d", "3", "12345"},
        {"a=d,d=A", "3", "3"},
        {"a=d,d=i,i=1", "2345", "12345"},
        {"a=d,d=I,i=1", "2345", "2345"},
        {"a=d,d=i,i=3", "1245", "12345"},
        {"a=d,d=I,i=9", "12345", "12345"},
        {"a=d,d=i", "12345", "12345"},
        {"a=d,d=c", "2345", "12345"},
        {"a=d,d=C", "2345", "2345"},
        {"a=d,d=p,x=11,y=6", "1345", "12345"},
        {"a=d,d=p,x=0,y=6", "12345", "12345"},
        {"a=d,d=q,x=11,y=6,z=2", "12345", "12345"},
        {"a=d,d=Q,x=12,y=7,z=3", "1345", "1345"},
        {"a=d,d=x,x=2", "2345", "12345"},
        {"a=d,d=y,y=7", "13", "12345"},
        {"a=d,d=Y,y=7", "13", "13"},
        {"a=d,d=z,z=3", "1345", "12345"},
        // The relative child of image 4's placement goes with it.
        {"a=d,d=r,x=2,y=4", "1", "12345"},
        {"a=d,d=R,x=2,y=4", "1", "1"},
        {"a=d,d=r,x=5,y=3", "12345", "12345"},
        {"a=d,d=f,i=1", "12345", "12345"},
        {"a=d,d=F,i=1", "2345", "2345"},
        {"a=d,d=?", "12345", "12345"},
    };
    for (const auto& item : cases) {
        KittyFixture fixture = scene();
        ASSERT_EQ(placed(fixture), "12345");
        fixture.command(item.keys);
        EXPECT_EQ(placed(fixture), item.placements) << item.keys;
        EXPECT_EQ(stored(fixture), item.images) << item.keys;
        EXPECT_EQ(fixture.replies(), std::vector<std::string>()) << "deletes never answer";
    }

    // The selectors count rows from the top of the screen even while the view is scrolled back.
    KittyFixture scrolled = cells(20, 5, 100);
    store(scrolled, 1, 10, 20);
    for (int line = 0; line < 10; ++line)
        scrolled.t().feed("\r\n");
    scrolled.t().feed("\x1b[H");
    scrolled.command("a=p,i=1,C=1,q=2");
    scrolled.t().scrollViewportTo(0);
    scrolled.command("a=d,d=p,x=1,y=1");
    EXPECT_TRUE(scrolled.screen().placementsByKey.empty());
}

TEST(KittyPlacements, RegionScrollsMoveCropAndDropPlacements)
{
    // The alternate screen has no scrollback: a full-screen region scrolls in place.
    KittyFixture fixture = cells(20, 6, 0);
    fixture.t().feed("\x1b[?1049h");
    store(fixture, 1, 10, 30);
    fixture.command("a=p,i=1,p=1,r=3,C=1,q=2"); // rows 0-2 at the top row, source 30 high
    fixture.command("a=p,i=1,p=2,P=1,Q=1,H=3,q=2");
    const uint64_t before = fixture.screen().generation;
    fixture.t().feed("\x1b[S");
    const KittyPlacementRecord& cropped = fixture.screen().placementsByKey.at({1, 1, false});
    EXPECT_EQ(cropped.row, 0);
    EXPECT_EQ(cropped.rows, 2);
    EXPECT_EQ(cropped.sourceY, 10);
    EXPECT_EQ(cropped.sourceHeight, 20);
    EXPECT_GT(fixture.screen().generation, before);
    fixture.t().feed("\x1b[2S");
    EXPECT_TRUE(fixture.screen().placementsByKey.empty()) << "scrolled out, with its relative child";

    // Scrolling down moves it down; the bottom is cropped at the region's end.
    fixture.t().feed("\x1b[H");
    fixture.command("a=p,i=1,p=1,r=3,C=1,q=2");
    fixture.t().feed("\x1b[2;5r\x1b[2T"); // region rows 1-4, placement sticks out above it
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 1, false}).row, 0) << "only placements inside move";
    fixture.t().feed("\x1b[r\x1b[4T");
    const KittyPlacementRecord& moved = fixture.screen().placementsByKey.at({1, 1, false});
    EXPECT_EQ(moved.row, 4);
    EXPECT_EQ(moved.rows, 2);
    EXPECT_EQ(moved.sourceY, 0);
    EXPECT_EQ(moved.sourceHeight, 20);

    // A placement reaching past the right edge counts as ending at the last column.
    fixture.command("a=d,d=a");
    fixture.t().feed("\x1b[1;18H");
    fixture.command("a=p,i=1,p=1,c=10,r=1,C=1,q=2");
    fixture.t().feed("\x1b[T");
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 1, false}).row, 1);
}

TEST(KittyPlacements, TrimmingTheOldestLineShiftsEveryRow)
{
    // 3 rows and 2 lines of scrollback: the ring holds 5 lines.
    KittyFixture fixture = cells(20, 3, 2);
    store(fixture, 1, 10, 20);
    fixture.command("a=p,i=1,p=1,C=1,q=2");     // line 0, one row
    fixture.command("a=p,i=1,p=2,r=4,C=1,q=2"); // line 0, four rows
    fixture.t().feed("\r\n");
    fixture.command("a=p,i=1,p=3,C=1,q=2"); // line 1
    fixture.t().feed("\r\n\r\n\r\n");       // the ring is full at 5 lines
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 3, false}).row, 1) << "scrollback needs no move";
    fixture.t().feed("\r\n"); // drops line 0
    EXPECT_EQ(fixture.screen().placementsByKey.count({1, 1, false}), 0u);
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 2, false}).row, -1);
    EXPECT_EQ(fixture.screen().placementsByKey.at({1, 3, false}).row, 0);
}

TEST(KittyPlacements, BufferSwitchesAndColumnModeClearTheirPlacements)
{
    KittyFixture fixture = cells(20, 5);
    store(fixture, 1, 10, 20);
    fixture.command("a=p,i=1,q=2");
    fixture.t().feed("\x1b[?1049h");
    EXPECT_TRUE(fixture.screen().placementsByKey.empty()) << "the alternate screen starts empty";
    store(fixture, 2, 10, 20);
    fixture.command("a=p,i=2,q=2");
    EXPECT_EQ(fixture.t().kittyGraphicsRenderSnapshot().placements.size(), 1u);
    fixture.t().feed("\x1b[?1049l");
    const KittyGraphicsRenderSnapshot back = fixture.t().kittyGraphicsRenderSnapshot();
    ASSERT_EQ(back.placements.size(), 1u);
    EXPECT_EQ(back.placements.front().imageId, 1u) << "the primary screen's placement is back";
    EXPECT_TRUE((*fixture.t().innerState().kittyGraphics).alternate.placementsByKey.empty());

    // DECCOLM clears the placements on the screen rows, their orphans and unused images, but not
    // the ones in the scrollback.
    fixture.t().feed("\x1b[?40h");
    for (int line = 0; line < 8; ++line)
        fixture.t().feed("\r\n");
    fixture.command("a=p,i=1,p=5,C=1,q=2");
    fixture.command("a=p,i=1,p=6,P=1,Q=5,q=2");
    fixture.t().feed("\x1b[?3h");
    EXPECT_EQ(fixture.screen().placementsByKey.size(), 1u);
    EXPECT_EQ(fixture.screen().placementsByKey.begin()->first.placementId, 1u);
}

TEST(KittyPlacements, RenderSnapshotResolvesSortsAndClips)
{
    KittyFixture fixture = cells(20, 5);
    store(fixture, 1, 20, 40);
    store(fixture, 2, 10, 20);
    store(fixture, 3, 10, 20); // no placement
    fixture.command("a=p,i=1,p=1,z=5,C=1,q=2");
    fixture.command("a=p,i=2,p=1,z=-1,C=1,q=2");
    fixture.command("a=p,i=2,p=2,z=5,C=1,q=2");
    fixture.command("a=p,i=1,p=3,P=2,Q=2,H=4,V=1,q=2");
    KittyGraphicsRenderSnapshot snapshot = fixture.t().kittyGraphicsRenderSnapshot();
    EXPECT_EQ(snapshot.imagesById.size(), 3u) << "images without placements are listed too";
    EXPECT_EQ(snapshot.storageGeneration, fixture.screen().generation);
    std::vector<std::pair<uint32_t, uint32_t>> order;
    for (const auto& placement : snapshot.placements)
        order.emplace_back(placement.imageId, placement.placementId);
    EXPECT_EQ(order, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 1}, {1, 3}, {1, 1}, {2, 2}}));
    EXPECT_EQ(snapshot.placements[1].geometry, (KittyGraphicsCellGeometry{4, 1, 2, 2}));
    EXPECT_EQ(snapshot.placements[1].zIndex, 0);

    // Replacing the older z=5 placement draws it after the other one.
    fixture.command("a=p,i=1,p=1,z=5,C=1,q=2");
    snapshot = fixture.t().kittyGraphicsRenderSnapshot();
    EXPECT_EQ(snapshot.placements.back().imageId, 1u);
    EXPECT_EQ(snapshot.placements.back().placementId, 1u);

    // Scrolled into the scrollback: a negative row; scrolled back to: inside the view.
    for (int line = 0; line < 7; ++line)
        fixture.t().feed("\r\n");
    snapshot = fixture.t().kittyGraphicsRenderSnapshot();
    EXPECT_EQ(snapshot.placements.front().geometry.row, -3);
    fixture.t().scrollViewportTo(1);
    snapshot = fixture.t().kittyGraphicsRenderSnapshot();
    EXPECT_EQ(snapshot.placements.front().geometry.row, -1);
    fixture.t().scrollViewportTo(fixture.t().buffer().yBase());

    // A placement whose source lies outside its image is left out. No program can make one (a new
    // transmission under the same id drops its placements), so the test shrinks the image in the
    // engine's store to reach the guard.
    KittyFixture clipped = cells(20, 5);
    store(clipped, 1, 40, 40);
    clipped.command("a=p,i=1,x=30,q=2");
    clipped.engine().updateKittyImageAccess(1)->payload = {
        std::make_shared<const std::vector<uint8_t>>(solidRgba(100, 0, 0, 0)), 10, 10};
    EXPECT_TRUE(clipped.t().kittyGraphicsRenderSnapshot().placements.empty());
    EXPECT_EQ(clipped.screen().placementsByKey.size(), 1u) << "the record stays";

    // Pixels are shared with the store, not copied.
    EXPECT_EQ(clipped.t().kittyGraphicsRenderSnapshot().imagesById.at(1).rgba.get(),
              clipped.screen().imagesById.at(1).payload.bytes.get());
}

} // namespace
} // namespace kestrovan
