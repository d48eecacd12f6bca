// The view's GPU surface binding on the recording host and the recording GPU device: switching on
// and off with either surface kind, what a missing device or a failing renderer leaves, rebinding
// when the view moves to another window or its GL area gets a new context, falling back with the
// log, a busy renderer on every road out, the scale override, and the progress bar and visual bell
// shown above the surface.
#include "Kestrovan/Mac/MacMetalTestSupport.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/UI/RecordingViewHost.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

struct SurfaceKind
{
    const char* name;
    bool layer;
};
const SurfaceKind surfaceKinds[] = {{"texture surface", true}, {"GL area", false}};

TEST(MacMetalBindingTests, SwitchingOnAndOffKeepsTheContentAndTheCaretFollows)
{
    for (const SurfaceKind& kind : surfaceKinds) {
        SCOPED_TRACE(kind.name);
        MetalViewFixture f(kind.layer);
        f.feed("hello");
        f.tickUntilPaused();
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        EXPECT_EQ(f.mac().setUseMetal(true), std::nullopt) << "a second switch changes nothing";
        EXPECT_EQ(f.provider->surfacesMade, 1);
        ASSERT_TRUE(f.mac().isUsingMetalRenderer());
        EXPECT_EQ(f.mac().isUsingRenderLoop(), kind.layer) << "only the texture surface has a loop";
        EXPECT_TRUE(f.view->caretView()->isHiddenByRenderer());
        EXPECT_TRUE(f.view->caretView()->presentation()->isHidden()) << "the renderer draws the cursor";

        // The surface sits below the caret, the scroller above it.
        const auto& order = f.host->order;
        const auto position = [&](const platform::View* view) {
            return std::find(order.begin(), order.end(), view) - order.begin();
        };
        const platform::View* surface = f.mac().metalView()->view.get();
        EXPECT_LT(position(surface), position(f.view->caretView()->presentation().get()));

        ASSERT_TRUE(f.waitForRenders(1));
        f.completeFrames();
        const int before = f.renderer()->completedRenderCount();
        f.feed(" world");
        ASSERT_TRUE(f.waitForRenders(before + 1)) << "output reaches the GPU";

        // Off: the CPU path draws the whole view again, with the caret back.
        f.completeFrames();
        const int cpuRowsBefore = int(f.mac().frameDrawer().counters().rowsDrawn);
        ASSERT_EQ(f.mac().setUseMetal(false), std::nullopt);
        EXPECT_FALSE(f.mac().isUsingMetalRenderer());
        EXPECT_FALSE(f.mac().isUsingRenderLoop());
        EXPECT_FALSE(f.mac().metalView());
        EXPECT_FALSE(f.view->renderOwner().hasMetalRenderer());
        EXPECT_FALSE(f.view->caretView()->isHiddenByRenderer());
        EXPECT_TRUE(std::find(order.begin(), order.end(), surface) == order.end()) << "the surface is gone";
        f.tickUntilPaused();
        ASSERT_TRUE(f.host->drawIfNeeded());
        EXPECT_GT(int(f.mac().frameDrawer().counters().rowsDrawn), cpuRowsBefore);
        EXPECT_EQ(f.row(0).substr(0, 11), "hello world");
        EXPECT_EQ(f.mac().setUseMetal(false), std::nullopt);
    }
}

TEST(MacMetalBindingTests, TheInputMethodsCursorFollowsTheCursorTheGpuDraws)
{
    for (const SurfaceKind& kind : surfaceKinds) {
        SCOPED_TRACE(kind.name);
        MetalViewFixture f(kind.layer);
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        ASSERT_TRUE(f.waitForRenders(1));
        const platform::Size cell = *f.view->cellDimension();
        const double height = f.view->frameSize().height;
        struct Step
        {
            const char* output;
            int column, row;
        };
        // Each echo moves the cursor; the candidate window's place follows on the main thread.
        for (const Step& step : {Step{"hello", 5, 0}, Step{"\r\nab", 2, 1}, Step{"\x1b[4;8H", 7, 3}}) {
            SCOPED_TRACE(step.output);
            f.completeFrames();
            const int before = f.renderer()->completedRenderCount();
            f.host->inputMethodCursorRects.clear();
            f.feed(step.output);
            ASSERT_TRUE(f.waitForRenders(before + 1));
            const platform::Point wanted{cell.width * step.column, height - cell.height * (step.row + 1)};
            const auto placed = [&] {
                const auto& rects = f.host->inputMethodCursorRects;
                return !rects.empty() && rects.back().x == wanted.x && rects.back().y == wanted.y;
            };
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!placed() && std::chrono::steady_clock::now() < deadline) {
                f.settle();
                std::this_thread::yield();
            }
            ASSERT_FALSE(f.host->inputMethodCursorRects.empty()) << "the GPU frame placed no rectangle";
            EXPECT_EQ(f.host->inputMethodCursorRects.back().x, wanted.x);
            EXPECT_EQ(f.host->inputMethodCursorRects.back().y, wanted.y);
        }
    }
}

TEST(MacMetalBindingTests, AFailedSwitchLeavesTheCpuPathAndNothingBehind)
{
    struct Case
    {
        const char* name;
        bool deviceAvailable;
        std::optional<MetalError> rendererFailure;
        MetalError expected;
        const char* logPrefix;
    };
    const Case cases[] = {
        // Which text depends on whether the machine has a software GL: the line says why either way.
        {"no device", false, std::nullopt, MetalError::deviceUnavailable, "Kestrovan: "},
        {"renderer construction fails", true, MetalError::samplerUnavailable, MetalError::samplerUnavailable,
         "Kestrovan: the GPU renderer could not be set up; drawing on the CPU: Failed to create GPU sampler"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MetalViewFixture f(true);
        f.provider->deviceAvailable = c.deviceAvailable;
        if (c.rendererFailure)
            f.provider->failures.push_back(*c.rendererFailure);
        const size_t subviews = f.host->order.size();
        EXPECT_EQ(f.mac().setUseMetal(true), c.expected);
        EXPECT_FALSE(f.mac().isUsingMetalRenderer());
        EXPECT_FALSE(f.view->renderOwner().hasMetalRenderer());
        EXPECT_EQ(f.host->order.size(), subviews) << "no surface is left in the view";
        EXPECT_FALSE(f.view->caretView()->isHiddenByRenderer());
        EXPECT_EQ(f.logged(c.logPrefix).size(), 1u);
        f.feed("still here");
        f.tickUntilPaused();
        EXPECT_TRUE(f.host->drawIfNeeded()) << "the CPU path draws";
    }
}

TEST(MacMetalBindingTests, MovingToAnotherWindowMakesANewSurfaceAndRenderer)
{
    MetalViewFixture f(true);
    ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
    ASSERT_TRUE(f.waitForRenders(1));
    f.completeFrames();
    const std::shared_ptr<MetalTerminalRenderer> first = f.renderer();
    const platform::View* firstSurface = f.mac().metalView()->view.get();

    // Out of a window: no loop; back into the same window: the surface stays.
    f.host->setWindow(false);
    EXPECT_FALSE(f.mac().isUsingRenderLoop());
    f.host->setWindow(true);
    EXPECT_TRUE(f.mac().isUsingRenderLoop());
    EXPECT_EQ(f.provider->surfacesMade, 1);
    EXPECT_EQ(f.renderer(), first);

    // Into another window: a new surface and renderer, which drew before the old surface went.
    f.host->setWindow(false);
    f.host->window = 2;
    f.host->setWindow(true);
    EXPECT_EQ(f.provider->surfacesMade, 2);
    ASSERT_NE(f.renderer(), first);
    EXPECT_EQ(f.view->renderOwner().hasMetalRenderer(), true);
    EXPECT_GE(f.renderer()->completedRenderCount(), 1) << "a frame at once on the new surface";
    const auto& order = f.host->order;
    EXPECT_TRUE(std::find(order.begin(), order.end(), firstSurface) == order.end());
    EXPECT_TRUE(f.mac().isUsingRenderLoop());
    EXPECT_TRUE(f.mac().isUsingMetalRenderer());
    f.feed("moved");
    f.completeFrames();
    EXPECT_TRUE(f.waitForRenders(2));
}

TEST(MacMetalBindingTests, ARebindThatFailsOrFindsTheRendererBusyIsLogged)
{
    struct Case
    {
        const char* name;
        bool failRenderer;
        bool holdFrame;
        const char* expectedLog;
        bool stillOnGpu;
    };
    const Case cases[] = {
        {"the new renderer fails", true, false,
         "Kestrovan: GPU renderer rebind failed; falling back to CPU drawing: Failed to create the GPU "
         "command "
         "queue.",
         false},
        {"the old renderer stays busy", false, true,
         "Kestrovan: kept the current GPU surface because its renderer is busy", true},
        {"the fallback finds the renderer busy", true, true,
         "Kestrovan: could not replace or remove the busy GPU renderer: Failed to create the GPU command "
         "queue.",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MetalViewFixture f(true);
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        ASSERT_TRUE(f.waitForRenders(1));
        f.completeFrames();
        if (c.holdFrame)
            f.holdRenderer();
        if (c.failRenderer)
            f.provider->failures.push_back(MetalError::commandQueueUnavailable);
        const std::shared_ptr<MetalTerminalRenderer> first = f.renderer();
        f.host->setWindow(false);
        f.host->window = 2;
        f.host->setWindow(true);
        ASSERT_FALSE(f.log.empty());
        EXPECT_EQ(f.log.back(), c.expectedLog);
        EXPECT_EQ(f.mac().isUsingMetalRenderer(), c.stillOnGpu);
        EXPECT_EQ(f.view->renderOwner().hasMetalRenderer(), c.stillOnGpu);
        if (c.stillOnGpu) {
            EXPECT_EQ(f.renderer(), first) << "the old surface and renderer stay";
            EXPECT_TRUE(f.view->caretView()->isHiddenByRenderer());
        } else {
            EXPECT_FALSE(f.mac().metalView());
            EXPECT_FALSE(f.view->caretView()->isHiddenByRenderer());
            f.feed("on the CPU");
            f.tickUntilPaused();
            EXPECT_TRUE(f.host->drawIfNeeded());
        }
        f.freeRenderer();
    }
}

TEST(MacMetalBindingTests, AGLAreaThatLosesItsContextGetsANewRendererOrFallsBack)
{
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the new renderer fails" : "the new renderer works");
        MetalViewFixture f(false);
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        ASSERT_TRUE(f.waitForRenders(1));
        f.completeFrames();
        const std::shared_ptr<AreaTarget> area = f.provider->areas.back();
        const std::weak_ptr<MetalTerminalRenderer> first = f.renderer();

        // Unrealized: the renderer goes while the context is there; realized: a new one comes.
        area->loseContext();
        EXPECT_FALSE(f.view->renderOwner().hasMetalRenderer());
        EXPECT_TRUE(first.expired()) << "its objects went with the old context";
        if (fails)
            f.provider->failures.push_back(MetalError::atlasUnavailable);
        area->regainContext(std::make_shared<platform::gpu::RecordingDevice>());
        EXPECT_EQ(f.provider->surfacesMade, 1) << "the area itself stays";
        if (fails) {
            ASSERT_FALSE(f.log.empty());
            EXPECT_EQ(f.log.back(),
                      "Kestrovan: GPU renderer rebind failed; falling back to CPU drawing: Failed "
                      "to create the glyph atlas.");
            EXPECT_FALSE(f.mac().isUsingMetalRenderer());
            f.feed("cpu");
            f.tickUntilPaused();
            EXPECT_TRUE(f.host->drawIfNeeded());
        } else {
            EXPECT_TRUE(f.view->renderOwner().hasMetalRenderer());
            ASSERT_TRUE(f.waitForRenders(1)) << "the new renderer draws the content again";
        }
    }
}

TEST(MacMetalBindingTests, ABusyRendererHoldsOffSwitchingOffAndTheShutdownUntilItIsFree)
{
    for (const SurfaceKind& kind : surfaceKinds) {
        SCOPED_TRACE(kind.name);
        MetalViewFixture f(kind.layer);
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        ASSERT_TRUE(f.waitForRenders(1));
        // The frame stays on the GPU: nothing that removes the renderer can finish.
        f.holdRenderer();
        EXPECT_EQ(f.mac().setUseMetal(false), MetalError::rendererBusy);
        EXPECT_TRUE(f.mac().isUsingMetalRenderer());
        EXPECT_EQ(f.mac().isUsingRenderLoop(), kind.layer) << "the loop runs again";
        EXPECT_FALSE(f.mac().updateUiClosed());
        EXPECT_EQ(f.mac().uiShutdownState(), MacTerminalView::UIShutdownState::stopping);
        EXPECT_FALSE(f.mac().updateUiClosed());
        f.freeRenderer();
        EXPECT_TRUE(f.mac().updateUiClosed());
        EXPECT_EQ(f.mac().uiShutdownState(), MacTerminalView::UIShutdownState::stopped);
        EXPECT_FALSE(f.mac().isUsingMetalRenderer());
        EXPECT_FALSE(f.view->renderOwner().hasMetalRenderer());
        EXPECT_TRUE(f.mac().updateUiClosed());
    }
}

TEST(MacMetalBindingTests, TheScaleOverrideSetsTheSurfacesScaleNeverBelowOne)
{
    MetalViewFixture f(true);
    f.host->setScale(2);
    f.settle();
    ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
    const auto& offscreen = f.provider->layers.back();
    struct Step
    {
        std::optional<double> override;
        double scale;
    };
    const Step steps[] = {{3.0, 3.0}, {0.5, 1.0}, {std::nullopt, 2.0}};
    for (const Step& step : steps) {
        f.mac().setMetalScaleFactorOverride(step.override);
        EXPECT_EQ(f.view->captureFrameViewState()->renderingScale, step.scale);
        const MetalSurfaceGeometry geometry = offscreen->acquireDrawableFrame()->geometry;
        EXPECT_EQ(geometry.contentsScale, step.scale);
        EXPECT_EQ(geometry.drawableSize.width, 640 * step.scale);
    }
    f.completeFrames();
}

} // namespace
} // namespace kestrovan::testing

namespace kestrovan::testing {
namespace {

TEST(MacMetalBindingTests, ShowingTheWindowAgainDrawsAFrameAtOnceUnlessTheDriverTicksByItself)
{
    struct Case
    {
        const char* name;
        bool suspendsWhenHidden;
        bool drawsAtOnce;
    };
    // A driver suspended while the window was hidden ticks by itself when it shows again; one that
    // kept running has nothing owed, so the view draws the frame itself.
    const Case cases[] = {{"suspending driver", true, false}, {"running driver", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MetalViewFixture f(true);
        f.view->setSuspendsRenderingWhenNotVisible(c.suspendsWhenHidden);
        f.tickUntilPaused();
        f.host->setWindowVisible(false);
        f.view->feed("while hidden");
        f.settle();
        f.host->redrawRects.clear();
        f.host->setWindowVisible(true);
        EXPECT_EQ(!f.host->redrawRects.empty(), c.drawsAtOnce) << "a redraw before any tick";
        f.settle();
        f.tickUntilPaused();
        ASSERT_TRUE(f.host->drawIfNeeded() || !f.host->redrawRects.empty());
    }
}

} // namespace
} // namespace kestrovan::testing

namespace kestrovan::testing {
namespace {

TEST(MacMetalBindingTests, ChangingTheSurfaceKindRemakesTheSurfaceAndAFailureLeavesTheGpuOff)
{
    // Regression: a new surface that could not be made left the view saying it used the GPU while
    // the CPU drew, and switching the GPU on again was then taken for a no-op.
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the new renderer fails" : "the new renderer works");
        MetalViewFixture f(true);
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        ASSERT_TRUE(f.waitForRenders(1));
        f.completeFrames();
        if (fails)
            f.provider->failures.push_back(MetalError::samplerUnavailable);
        const std::optional<MetalError> result = f.mac().setUsesMetalLayerSurface(false);
        EXPECT_EQ(result, fails ? std::optional<MetalError>(MetalError::samplerUnavailable) : std::nullopt);
        EXPECT_EQ(f.provider->surfacesMade, 2);
        EXPECT_FALSE(f.mac().isUsingRenderLoop()) << "a GL area draws on the main thread";
        EXPECT_EQ(f.mac().isUsingMetalRenderer(), !fails);
        EXPECT_EQ(f.view->renderOwner().hasMetalRenderer(), !fails);
        if (fails) {
            ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt) << "the GPU can be switched on again";
            EXPECT_TRUE(f.mac().isUsingMetalRenderer());
        }
        EXPECT_TRUE(f.waitForRenders(1));
    }
}

} // namespace
} // namespace kestrovan::testing

namespace kestrovan::testing {
namespace {

/// Draws a subview's core into a bitmap of the view's size, as the widget would draw the subview.
std::optional<platform::Bitmap> drawSubview(const platform::View& view, platform::Size size)
{
    const auto* recorded = dynamic_cast<const platform::RecordingView*>(&view);
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::create(int(size.width), int(size.height));
    if (!recorded || !recorded->core || !bitmap)
        return std::nullopt;
    platform::Canvas canvas(*bitmap);
    platform::DrawRequest request;
    request.canvas = &canvas;
    request.dirtyRect = platform::Rect{0, 0, size.width, size.height};
    request.size = size;
    recorded->core->draw(request);
    return bitmap;
}

TEST(MacMetalBindingTests, TheBellAndTheProgressBarShowAboveTheSurface)
{
    using namespace std::chrono_literals;
    struct Case
    {
        const char* name;
        bool layer;
        const char* output;
        // Where the overlay is painted (y-up pixels from the bottom left), and where it stays clear.
        bool paintsMiddle;
        bool paintsTop;
    };
    const Case cases[] = {
        {"bell on the texture surface", true, "\a", true, true},
        {"bell on the GL area", false, "\a", true, true},
        {"progress on the texture surface", true, "\x1b]9;4;1;50\a", false, true},
        {"progress on the GL area", false, "\x1b]9;4;1;50\a", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MetalViewFixture f(c.layer);
        f.view->setBellStyle(BellStyle::visual);
        EXPECT_FALSE(f.mac().statusOverlayView()) << "the CPU path draws them on its own canvas";
        ASSERT_EQ(f.mac().setUseMetal(true), std::nullopt);
        const std::shared_ptr<platform::View> overlay = f.mac().statusOverlayView();
        ASSERT_TRUE(overlay);
        EXPECT_TRUE(overlay->isHidden()) << "nothing to show: the window does not blend it in";
        EXPECT_EQ(overlay->frame(), (platform::Rect{0, 0, 640, 480})) << "it covers the view";

        // Stacked just above the surface, with the scroller still on top.
        const auto& order = f.host->order;
        const auto position = [&](const platform::View* view) {
            return std::find(order.begin(), order.end(), view) - order.begin();
        };
        const auto surfacePosition = position(f.mac().metalView()->view.get());
        EXPECT_EQ(position(overlay.get()), surfacePosition + 1);
        ASSERT_FALSE(f.host->scrollers.empty());
        EXPECT_GT(position(&f.host->scrollers.back()->view), position(overlay.get()));

        const int requestsBefore = dynamic_cast<platform::RecordingView&>(*overlay).displayRequests;
        f.feed(c.output);
        f.tickUntilPaused();
        f.timers->advance(60ms);
        EXPECT_GT(dynamic_cast<platform::RecordingView&>(*overlay).displayRequests, requestsBefore)
            << "the overlay is asked to redraw";
        const std::optional<platform::Bitmap> drawn = drawSubview(*overlay, platform::Size{640, 480});
        ASSERT_TRUE(drawn);
        EXPECT_EQ(drawn->pixel(320, 240).alpha > 0, c.paintsMiddle);
        EXPECT_EQ(drawn->pixel(2, 478).alpha > 0, c.paintsTop);
        EXPECT_FALSE(overlay->isHidden());
        // A flash fades and the overlay goes with it; a progress bar stays. The overlay is drawn
        // at every frame, as the widget draws it.
        for (int frame = 0; frame < 30; ++frame) {
            f.timers->advance(20ms);
            if (!overlay->isHidden())
                drawSubview(*overlay, platform::Size{640, 480});
        }
        EXPECT_EQ(overlay->isHidden(), c.paintsMiddle);

        // A new size moves it with the surface; switching off hands the drawing back to the canvas.
        f.host->resize(platform::Size{500, 300});
        EXPECT_EQ(overlay->frame(), (platform::Rect{0, 0, 500, 300}));
        f.completeFrames();
        ASSERT_EQ(f.mac().setUseMetal(false), std::nullopt);
        EXPECT_FALSE(f.mac().statusOverlayView());
        EXPECT_TRUE(std::find(order.begin(), order.end(), overlay.get()) == order.end());
    }
}

} // namespace
} // namespace kestrovan::testing
