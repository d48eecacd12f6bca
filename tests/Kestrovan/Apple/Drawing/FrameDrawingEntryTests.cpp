// The view's draw entry end to end: frames prepared by the render owner, their redraw regions
// painted from the owner's snapshot onto the view's persistent backing store.
#include "FrameDrawingTestSupport.h"

#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Platform/Graphics/BackingStore.h"

#include <gtest/gtest.h>

using namespace kestrovan;
using drawing_test::Surface;
using platform::Rect;
using Counters = TerminalFrameDrawer::Counters;
namespace kt = kestrovan::testing;

namespace {

FramePreparationRequest request(const FrameViewState& view)
{
    FramePreparationRequest made;
    made.viewState = view;
    return made;
}

/// Every pixel of the store equals the same pixel of `whole`.
int differingPixels(const platform::BackingStore& store, const Surface& whole)
{
    int differing = 0;
    for (int y = 0; y < whole.bitmap.height(); ++y)
        for (int x = 0; x < whole.bitmap.width(); ++x)
            differing += store.bitmap()->pixel(x, y) != whole.bitmap.pixel(x, y);
    return differing;
}

TEST(FrameDrawingEntry, PreparedRegionsRedrawOnlyTheirRowsOntoTheKeptPixels)
{
    // Nothing attached: nothing is drawn.
    {
        auto lonely = std::make_shared<TerminalRenderOwner>(std::make_shared<kt::ManualWatchdogTimer>());
        Surface surface(80, 64);
        TerminalFrameDrawer drawer;
        EXPECT_FALSE(
            drawer.drawTerminalContents(*surface.canvas, Rect{0, 0, 80, 64}, *lonely, kt::viewState(10, 4)));
        EXPECT_EQ(drawer.counters().frames, 0u);
    }

    kt::RenderOwnerFixture f(10, 4);
    const FrameViewState view = kt::viewState(10, 4);
    platform::BackingStore store;
    ASSERT_FALSE(store.resize(platform::Size{80, 64}, 2));
    TerminalFrameDrawer drawer;
    const auto drawPrepared = [&] {
        const std::optional<PreparedFrame> frame = f.owner->prepareFrame(request(view));
        if (frame && frame->region)
            store.invalidate(*frame->region);
        const Rect dirty = store.dirtyRect();
        std::optional<platform::Canvas> canvas = store.beginFrame();
        if (canvas && !dirty.isEmpty()) {
            EXPECT_TRUE(drawer.drawTerminalContents(*canvas, dirty, *f.owner, view));
        }
    };
    // What a whole frame of the owner's current snapshot looks like, drawn by a drawer of its own.
    const auto wholeFrame = [&] {
        Surface whole(160, 128, 2);
        TerminalFrameDrawer fresh;
        EXPECT_TRUE(fresh.drawTerminalContents(*whole.canvas, view.viewBounds, *f.owner, view));
        return whole;
    };

    f.feed("\x1b[44mfirst\x1b[0m\r\nsecond\r\n\x1b[4mthird\x1b[0m\r\nfourth");
    store.invalidateAll();
    drawPrepared();
    EXPECT_EQ(drawer.counters().rowsDrawn, 4u);
    EXPECT_EQ(differingPixels(store, wholeFrame()), 0);

    // One row rewritten: the prepared region covers it and the row below, and only those rows are
    // drawn, only the changed one built again; every other pixel is the one kept from before. (The
    // cursor is moved in a frame of its own: a move marks the rows it leaves and enters.)
    f.feed("\x1b[2;1H");
    drawPrepared();
    const Counters moved = drawer.counters();
    f.feed("\x1b[31mSECOND!\x1b[0m");
    drawPrepared();
    EXPECT_EQ(drawer.counters().rowsDrawn - moved.rowsDrawn, 2u);
    EXPECT_EQ(drawer.counters().rowsPrepared - moved.rowsPrepared, 1u);
    EXPECT_EQ(differingPixels(store, wholeFrame()), 0);

    // Nothing changed: no region, nothing drawn.
    const uint64_t before = drawer.counters().rowsDrawn;
    drawPrepared();
    EXPECT_EQ(drawer.counters().rowsDrawn, before);
}

} // namespace
