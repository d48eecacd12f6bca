#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/RenderTestSupport.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalRenderOwner.h"
#include "Kestrovan/Buffer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace kestrovan {
namespace {

using testing::RenderOwnerFixture;

/// A 10 x 3 view of 8 x 16-point cells: 80 x 48 points.
FramePreparationRequest request(std::optional<FrameTerminalSize> size = std::nullopt)
{
    FramePreparationRequest made;
    made.viewState = testing::viewState(10, 3);
    made.viewState.notifyUpdateChanges = true;
    made.pendingSize = size;
    return made;
}

TEST(FramePreparationTests, RedrawRectanglesFollowTheChangedRows)
{
    RenderOwnerFixture f(10, 3);
    ASSERT_TRUE(f.owner->prepareFrame(request())) << "the first frame takes the initial changes";
    // The cursor is moved in a frame of its own: a move marks the rows it leaves and enters.
    const auto region = [&](std::string_view move, std::string_view output) {
        f.feed(move);
        f.owner->prepareFrame(request());
        f.feed(output);
        const std::optional<PreparedFrame> frame = f.owner->prepareFrame(request());
        EXPECT_TRUE(frame);
        return frame ? frame->region : std::nullopt;
    };
    // The last row reaches the bottom edge of the y-up view.
    EXPECT_EQ(region("\x1b[3;1H", "z"), (platform::Rect{0, 0, 80, 16}));
    // Any other row takes the row below it too.
    EXPECT_EQ(region("\x1b[1;1H", "x"), (platform::Rect{0, 16, 80, 32}));
    EXPECT_EQ(region("\x1b[2;1H", "y"), (platform::Rect{0, 0, 80, 32})) << "clamped at the bottom";

    // Nothing changed: no region, and the cursor row reported when updates are wanted.
    std::optional<PreparedFrame> idle = f.owner->prepareFrame(request());
    ASSERT_TRUE(idle);
    EXPECT_FALSE(idle->region);
    EXPECT_EQ(idle->mainEffects.rangeChanged, (FrameChangedRange{1, 1}));
    EXPECT_FALSE(idle->mainEffects.notifyAccessibility);

    // A change of appearance with no changed rows redraws the whole view.
    FramePreparationRequest blink = request();
    blink.viewState.textBlinkVisible = false;
    EXPECT_EQ(f.owner->prepareFrame(blink)->region, (platform::Rect{0, 0, 80, 48}));

    // While scrolled back, any change redraws everything; the reported range is not widened.
    f.feed("1\r\n2\r\n3\r\n4\r\n5");
    f.owner->prepareFrame(request());
    {
        TerminalLockGuard guard(f.terminal->terminalLock());
        f.terminal->scrollViewportTo(0);
    }
    f.feed("x");
    std::optional<PreparedFrame> back = f.owner->prepareFrame(request());
    EXPECT_EQ(back->region, (platform::Rect{0, 0, 80, 48}));
    EXPECT_EQ(back->mainEffects.rangeChanged, (FrameChangedRange{2, 2}));
    EXPECT_EQ(back->mainEffects.scrollPosition, 0);

    // Without update notifications, no range is reported.
    FramePreparationRequest quiet = request();
    quiet.viewState.notifyUpdateChanges = false;
    f.feed("y");
    EXPECT_FALSE(f.owner->prepareFrame(quiet)->mainEffects.rangeChanged);
}

TEST(FramePreparationTests, ResizesAndSynchronizedOutput)
{
    RenderOwnerFixture f(10, 3);
    f.feed("hello");
    {
        TerminalLockGuard guard(f.terminal->terminalLock());
        f.selection->setSelection(Position(0, 0), Position(3, 0));
    }
    // The same size again is no resize and keeps the selection.
    std::optional<PreparedFrame> same = f.owner->prepareFrame(request(FrameTerminalSize{10, 3}));
    EXPECT_FALSE(same->mainEffects.resizedTo);
    EXPECT_TRUE(same->mainEffects.selection.active);

    std::optional<PreparedFrame> resized = f.owner->prepareFrame(request(FrameTerminalSize{12, 4}));
    EXPECT_EQ(resized->mainEffects.resizedTo, (FrameTerminalSize{12, 4}));
    EXPECT_FALSE(resized->mainEffects.selection.active) << "a resize drops the selection";
    EXPECT_EQ(f.owner->dimensions(), (TerminalDimensions{12, 4}));
    EXPECT_EQ(resized->cursorRowCount, 4);

    // Inside a synchronized-output block nothing is refreshed and no frame is made...
    f.feed("\x1b[?2026hchanged");
    EXPECT_FALSE(f.owner->prepareFrame(request()));
    EXPECT_EQ(f.owner->snapshot()->counters().skippedForSynchronizedOutput, 1u);
    // ...except that a resize still gives one, so the view learns its new size (the terminal
    // ends the block when it is resized, so that frame shows the new grid).
    std::optional<PreparedFrame> during = f.owner->prepareFrame(request(FrameTerminalSize{8, 2}));
    ASSERT_TRUE(during);
    EXPECT_EQ(during->mainEffects.resizedTo, (FrameTerminalSize{8, 2}));
    EXPECT_EQ(during->cursorRowCount, 2);
    f.feed("\x1b[?2026hmore");
    EXPECT_FALSE(f.owner->prepareFrame(request()));
    f.feed("\x1b[?2026l");
    EXPECT_TRUE(f.owner->prepareFrame(request()));
}

TEST(FramePreparationTests, TheMailboxAndTheRendererSlot)
{
    RenderOwnerFixture f(10, 3);
    EXPECT_FALSE(f.owner->renderPublishedFrame()) << "no view state published yet";

    auto renderer = std::make_shared<RecordingFrameRenderer>();
    ASSERT_TRUE(f.owner->replaceMetalRenderer(renderer, false));
    f.owner->mailbox().state.withLock([](TerminalRenderMailbox::State& box) {
        box.latestViewState = testing::viewState(10, 3);
        box.pendingSize = FrameTerminalSize{10, 3};
        box.suppressAccessibility = true;
        box.updateScroller = true;
    });
    f.feed("\x1b[5mblink");
    std::optional<PreparedFrame> drawn = f.owner->renderPublishedFrame();
    ASSERT_TRUE(drawn);
    EXPECT_FALSE(drawn->mainEffects.notifyAccessibility);
    ASSERT_TRUE(drawn->mainEffects.scroller);
    EXPECT_EQ(drawn->mainEffects.blinkRows, (std::vector<int64_t>{0}));
    EXPECT_TRUE(f.owner->metalHasPreparedSnapshot()) << "handed to the renderer...";
    EXPECT_EQ(f.owner->completedMetalRenders(), 0) << "...but drawn by its own view";
    f.owner->mailbox().state.withLock([](TerminalRenderMailbox::State& box) {
        EXPECT_FALSE(box.pendingSize);
        EXPECT_FALSE(box.updateScroller);
        EXPECT_EQ(box.blinkRows, (std::vector<int64_t>{0}));
        EXPECT_TRUE(box.latestViewState) << "the view state is copied, not taken";
    });

    ASSERT_TRUE(f.owner->replaceMetalRenderer(renderer, true));
    int presented = 0;
    terminalFramePresentedHandler().replace([&] { ++presented; });
    f.feed("\r\nmore");
    drawn = f.owner->renderPublishedFrame();
    terminalFramePresentedHandler().replace(nullptr);
    EXPECT_EQ(presented, 1);
    ASSERT_TRUE(drawn);
    EXPECT_TRUE(drawn->mainEffects.notifyAccessibility);
    ASSERT_TRUE(drawn->cursor) << "the cursor it drew, for the main thread to place";
    EXPECT_EQ(drawn->cursor->screenRow, 1);
    EXPECT_EQ(drawn->cursor->visualCol, 4);
    ASSERT_EQ(renderer->renders().size(), 1u);
    EXPECT_EQ(renderer->renders()[0].rowCount, 3u);
    EXPECT_EQ(renderer->renders()[0].cursorRow, 1);

    // A change waits for the frame in flight and keeps the renderer when it does not complete.
    f.owner->setRendererWait(std::chrono::milliseconds(20));
    renderer->holdFrameInFlight();
    EXPECT_FALSE(f.owner->removeMetalRenderer());
    EXPECT_TRUE(f.owner->metalHasPreparedSnapshot()) << "still attached";
    std::thread gpu([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        renderer->completeFrameInFlight();
    });
    f.owner->setRendererWait(std::chrono::seconds(5));
    EXPECT_TRUE(f.owner->removeMetalRenderer());
    gpu.join();
    EXPECT_FALSE(f.owner->metalHasPreparedSnapshot());
    EXPECT_EQ(f.owner->completedMetalRenders(), 0);
}

TEST(FramePreparationTests, TheImmediateSnapshotConsumesNoChanges)
{
    RenderOwnerFixture f(10, 3);
    EXPECT_FALSE(f.owner->refreshMetalSnapshot(testing::viewState())) << "no renderer";
    auto renderer = std::make_shared<RecordingFrameRenderer>();
    f.owner->replaceMetalRenderer(renderer, true);
    ASSERT_TRUE(f.owner->prepareFrame(request())) << "the first frame takes the initial changes";
    f.feed("abc");
    EXPECT_TRUE(f.owner->refreshMetalSnapshot(testing::viewState()));
    EXPECT_TRUE(f.owner->metalHasPreparedSnapshot());
    f.owner->discardPreparedMetalSnapshot();
    EXPECT_FALSE(f.owner->metalHasPreparedSnapshot());
    // The changed rows are still there for the next prepared frame.
    EXPECT_EQ(f.owner->prepareFrame(request())->mainEffects.rangeChanged, (FrameChangedRange{0, 0}));
}

TEST(FramePreparationTests, FramesArePreparedAndDrawnWhileOutputArrives)
{
    RenderOwnerFixture f(40, 10);
    auto renderer = std::make_shared<RecordingFrameRenderer>();
    f.owner->replaceMetalRenderer(renderer, true);
    f.owner->mailbox().state.withLock(
        [](TerminalRenderMailbox::State& box) { box.latestViewState = testing::viewState(40, 10); });
    std::atomic<bool> done{false};
    std::thread parser([&] {
        for (int i = 0; i < 400; ++i)
            f.feed("\x1b[3" + std::to_string(i % 8) + "mline " + std::to_string(i) + " \xe4\xb8\xad\r\n");
        done = true;
    });
    // The render thread's loop: prepare, draw, and read the snapshot as a renderer would.
    SnapshotTextBuilder builder;
    int frames = 0;
    while (!done || frames < 3) {
        if (f.owner->renderPublishedFrame())
            ++frames;
        f.owner->withRenderState([&] {
            const std::shared_ptr<TerminalSnapshot> snapshot = f.owner->snapshot();
            if (snapshot->renderContext) {
                for (size_t row = 0; row < snapshot->rows.size(); ++row)
                    builder.buildAttributedString(*snapshot->rows[row], snapshot->firstRow + int64_t(row),
                                                  *snapshot->renderContext);
            }
        });
    }
    parser.join();
    f.owner->renderPublishedFrame();
    EXPECT_EQ(renderer->completedRenderCount(), frames + 1);
    const std::vector<std::string> text = f.owner->visibleRowsText(8, 9);
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(text[0].substr(0, 8), "line 399");
}

TEST(FramePreparationDeathTests, ChangingTheRendererUnderTheTerminalLockStops)
{
    RenderOwnerFixture f(10, 3);
    EXPECT_DEATH(
        {
            TerminalLockGuard guard(f.terminal->terminalLock());
            f.owner->removeMetalRenderer();
        },
        "renderer was changed with the terminal lock held");
}

} // namespace
} // namespace kestrovan
