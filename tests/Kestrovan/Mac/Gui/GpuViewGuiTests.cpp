// The terminal view drawing with the GPU in a GTK window on a private X server, with Mesa's
// software rasterizer admitted as a device (KESTROVAN_GPU_SOFTWARE=1): a shell drawn like the CPU
// path draws it, typed text, a resize, switching off and on at run time, moving into a split (the
// GL area loses its context), the progress bar shown over the surface, a renderer that cannot be made again,
// and the shutdown waiting for a busy renderer. The test whose name ends in "Scale2" runs with GDK_SCALE=2.

#include "TerminalGuiFixture.h"

#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Kestrovan/Mac/MetalSurfaceProvider.h"
#include "Platform/GPU/Gtk/FreedMemoryReturn.h"
#include "Platform/GPU/Gtk/GtkTextureSurfaceView.h"
#include "Platform/Log/Log.h"

#include <algorithm>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;
using guitest::spinUntil;
using kestrovan::MetalError;

/// How a GPU screenshot compares with the CPU path's of the same content.
struct ShotDifference
{
    /// Pixels with a channel more than 24 apart, as a fraction of all pixels.
    double farFraction = 1;
    /// The mean difference per channel.
    double meanDifference = 255;
};

ShotDifference difference(const guitest::Screenshot& a, const guitest::Screenshot& b)
{
    ShotDifference result;
    if (a.width != b.width || a.height != b.height || a.rgb.empty())
        return result;
    size_t far = 0;
    double total = 0;
    for (size_t pixel = 0; pixel < a.rgb.size() / 3; ++pixel) {
        int largest = 0;
        for (size_t channel = 0; channel < 3; ++channel) {
            const int delta = std::abs(int(a.rgb[pixel * 3 + channel]) - int(b.rgb[pixel * 3 + channel]));
            largest = std::max(largest, delta);
            total += delta;
        }
        far += largest > 24;
    }
    result.farFraction = double(far) / double(a.rgb.size() / 3);
    result.meanDifference = total / double(a.rgb.size());
    return result;
}

/// A GPU frame is close to the CPU path's: text pixels differ by at most a few levels (in the
/// first run: none beyond 2 outside the caret's cell, mean 0.19), and the caret may be in another
/// phase of its blink over one cell of the 60 x 12 grid (0.14 % of the pixels).
bool closeEnough(const ShotDifference& d)
{
    return d.farFraction <= 0.002 && d.meanDifference <= 0.5;
}

/// Surfaces and renderers from GTK, with the renderers after the first `working` failing.
class FailingRebindProvider final : public kestrovan::MetalSurfaceProvider
{
public:
    std::optional<kestrovan::MetalSurface> makeSurface(platform::ViewHost& host, bool layerSurface,
                                                       const platform::Rect& frame) override
    {
        return kestrovan::gtkMetalSurfaceProvider()->makeSurface(host, layerSurface, frame);
    }
    std::variant<std::shared_ptr<kestrovan::MetalTerminalRenderer>, MetalError>
    makeRenderer(const std::shared_ptr<kestrovan::MetalRenderTarget>& target,
                 const kestrovan::MetalRendererOptions& options) override
    {
        if (made++ >= working)
            return MetalError::shaderCompilationFailed("injected");
        return MetalSurfaceProvider::makeRenderer(target, options);
    }
    int working = 1;
    int made = 0;
};

class GpuViewGuiTests : public guitest::TerminalGuiTest
{
protected:
    void SetUp() override
    {
        if (!guitest::testMatchesScale())
            GTEST_SKIP() << "runs only with the matching GDK_SCALE";
        if (!kestrovan::softwareRenderingAllowed())
            GTEST_SKIP() << "needs KESTROVAN_GPU_SOFTWARE=1";
        TerminalGuiTest::SetUp();
        platform::setLogSink([this](const platform::LogRecord& record) { log.emplace_back(record.message); });
    }
    void TearDown() override
    {
        // A renderer held busy by a test is free again before the view closes.
        if (view) {
            ASSERT_TRUE(spinUntil([&] { return view->updateUiClosed(); }, 10s));
        }
        TerminalGuiTest::TearDown();
        platform::setLogSink({});
    }

    /// Closes the view and its window, so that the next round of a test opens afresh.
    void closeForNextRound()
    {
        TearDown();
        view.reset();
        window = nullptr;
        log.clear();
        platform::setLogSink([this](const platform::LogRecord& record) { log.emplace_back(record.message); });
    }
    /// Opens the view and switches the GPU on with the surface kind asked for.
    void openOnGpu(int width, int height, bool layerSurface)
    {
        open(width, height);
        ASSERT_EQ(view->setUsesMetalLayerSurface(layerSurface), std::nullopt);
        ASSERT_EQ(view->setUseMetal(true), std::nullopt);
        ASSERT_TRUE(view->isUsingMetalRenderer());
    }
    int gpuFrames() const
    {
        const auto& renderer = view->metalRenderer();
        return renderer ? renderer->completedRenderCount() : 0;
    }
    /// Runs the main loop until the GPU has drawn more than `frames` frames.
    bool waitForGpuFrames(int frames)
    {
        return spinUntil([&] { return gpuFrames() > frames; }, 10s);
    }
    /// Takes screenshots until `good` accepts one (the frames on screen catch up); the last one.
    guitest::Screenshot shotWhen(const std::function<bool(const guitest::Screenshot&)>& good)
    {
        guitest::Screenshot shot;
        spinUntil(
            [&] {
                shot = guitest::screenshot(xid());
                return good(shot);
            },
            10s);
        return shot;
    }
    /// Pixels of screen row `row` other than the background's colour.
    int inkInRow(const guitest::Screenshot& shot, int row)
    {
        const double scale = view->backingScale();
        const double cellHeight = view->cellDimension()->height * scale;
        const platform::NativeColor bg = view->nativeBackgroundColor();
        const uint32_t background = (uint32_t(std::lround(bg.red * 255)) << 16) |
                                    (uint32_t(std::lround(bg.green * 255)) << 8) |
                                    uint32_t(std::lround(bg.blue * 255));
        return guitest::inkInRow(shot, row, cellHeight, background);
    }
    /// The CPU path's picture of the same content: the GPU off, the whole view drawn again.
    guitest::Screenshot cpuShot()
    {
        EXPECT_EQ(view->setUseMetal(false), std::nullopt);
        const uint64_t presented = platform::gtk::CoreViewWidget::from(widget)->presentedFrames();
        spinUntil(
            [&] { return platform::gtk::CoreViewWidget::from(widget)->presentedFrames() > presented + 1; });
        return guitest::screenshot(xid());
    }
    std::vector<std::string> logged(std::string_view prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& line : log)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }

    std::vector<std::string> log;
};

constexpr const char* colouredText = "printf 'plain \\033[31mred\\033[32m green\\033[1;34m bold blue\\033[0m "
                                     "\\033[4munderlined\\033[0m \\033[7minverse\\033[0m\\n0123456789 "
                                     "{}[]()<>|/\\\\ ~!@#$%%^&*\\n'; exec sleep 100";

TEST_F(GpuViewGuiTests, TheGpuDrawsAShellLikeTheCpuAndSwitchesAtRunTimeKeepingTheContent)
{
    struct Kind
    {
        const char* name;
        bool layer;
    };
    for (const Kind kind : {Kind{"texture surface", true}, Kind{"GL area", false}}) {
        SCOPED_TRACE(kind.name);
        openOnGpu(480, 200, kind.layer);
        // The content arrives while the GPU draws: the CPU path never drew it before the shot.
        run(colouredText);
        ASSERT_GE(waitForRow("0123456789"), 0);
        ASSERT_TRUE(waitForGpuFrames(0));
        const guitest::Screenshot gpu =
            shotWhen([&](const guitest::Screenshot& shot) { return inkInRow(shot, 1) > 50; });
        keep(gpu, std::string("gpu-") + (kind.layer ? "layer" : "area"));
        EXPECT_GT(inkInRow(gpu, 0), 100) << "the GPU frame shows the first line";

        const guitest::Screenshot cpu = cpuShot();
        keep(cpu, std::string("cpu-") + (kind.layer ? "layer" : "area"));
        EXPECT_FALSE(view->isUsingMetalRenderer());
        const ShotDifference d = difference(gpu, cpu);
        EXPECT_TRUE(closeEnough(d)) << "far " << d.farFraction << ", mean " << d.meanDifference;

        // On again: the same content comes back from the GPU.
        ASSERT_EQ(view->setUseMetal(true), std::nullopt);
        ASSERT_TRUE(waitForGpuFrames(0));
        const guitest::Screenshot again =
            shotWhen([&](const guitest::Screenshot& shot) { return closeEnough(difference(shot, cpu)); });
        const ShotDifference back = difference(again, cpu);
        EXPECT_TRUE(closeEnough(back)) << "far " << back.farFraction << ", mean " << back.meanDifference;
        closeForNextRound();
    }
}

TEST_F(GpuViewGuiTests, SwitchingOffDeletesEveryGpuObjectWhileItsContextCanStillBeBound)
{
    // A GL area's context goes when the area leaves the view, and the texture surface's GL objects
    // are shared with GTK's contexts: an object dropped after that waits for a context forever.
    struct Kind
    {
        const char* name;
        bool layer;
    };
    for (const Kind kind : {Kind{"texture surface", true}, Kind{"GL area", false}}) {
        SCOPED_TRACE(kind.name);
        for (int round = 0; round < 2; ++round) {
            if (round == 0)
                openOnGpu(480, 200, kind.layer);
            else
                ASSERT_EQ(view->setUseMetal(true), std::nullopt);
            ASSERT_TRUE(waitForGpuFrames(0));
            const std::shared_ptr<platform::gpu::Device> device = view->metalRenderer()->device();
            ASSERT_EQ(view->setUseMetal(false), std::nullopt);
            EXPECT_TRUE(device->releaseQueue()->take().empty()) << "round " << round;
        }
        closeForNextRound();
    }
}

TEST_F(GpuViewGuiTests, ATextureSurfaceMadeAgainAtTheSameSizeMakesNoNewFrameBuffers)
{
    // A tab switch switches the hidden tab's GPU off and the shown tab's on: each time one texture
    // surface goes and another comes. The frame-sized buffers go on to the next surface, since
    // remaking them at every switch left megabytes of freed memory behind in the render threads'
    // arenas. The first round may make buffers of this size (earlier surfaces had others). A ring
    // texture GTK still shows when its surface goes is let go with GTK's hold, so under load a later
    // surface may make one now and then; a surface that handed nothing on makes some every round.
    openOnGpu(480, 200, true);
    ASSERT_TRUE(waitForGpuFrames(0));
    constexpr int rounds = 8;
    uint64_t made = 0;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_EQ(view->setUseMetal(false), std::nullopt);
        ASSERT_EQ(view->setUseMetal(true), std::nullopt);
        ASSERT_TRUE(waitForGpuFrames(0)) << "round " << round;
        if (round == 0)
            made = platform::gtk::GtkTextureSurfaceView::frameBuffersMade();
    }
    EXPECT_LE(platform::gtk::GtkTextureSurfaceView::frameBuffersMade() - made, uint64_t(rounds - 1) / 2)
        << "frame buffers made in " << rounds - 1 << " rounds at the same size";
    // What the surfaces that went freed is given back to the system soon after.
    const int trims = platform::gtk::freedMemoryReturns();
    ASSERT_EQ(view->setUseMetal(false), std::nullopt);
    EXPECT_TRUE(spinUntil([&] { return platform::gtk::freedMemoryReturns() > trims; }));
}

TEST_F(GpuViewGuiTests, TypedTextAppearsAndAResizeRedrawsAtTheNewSize)
{
    openOnGpu(480, 200, true);
    view->startProcess("/bin/sh", {"-c", "export PS1='vesk$ '; exec /bin/sh -i"}, std::nullopt, std::nullopt,
                       std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return promptedAfter("vesk$ "); }, 10s));
    type("echo hello");
    // The answer with the next prompt under it: the typed line's echo alone holds "hello" too.
    ASSERT_TRUE(spinUntil([&] { return promptedAfter("vesk$ ", "hello"); }, 10s));
    int helloRow = -1;
    {
        const std::vector<std::string> rows = view->visibleRowsText(0, view->terminalDimensions().rows);
        for (size_t index = 0; index < rows.size(); ++index)
            if (rows[index].rfind("hello", 0) == 0)
                helloRow = int(index);
    }
    ASSERT_GE(helloRow, 1);
    const guitest::Screenshot shot =
        shotWhen([&](const guitest::Screenshot& s) { return inkInRow(s, helloRow) > 20; });
    EXPECT_GT(inkInRow(shot, helloRow), 20) << "the echoed line is on screen";

    // A resize: the terminal takes the new size and the GPU draws frames of it.
    const auto before = view->terminalDimensions();
    const platform::Size cell = *view->cellDimension();
    guitest::xdotool("windowsize --sync " + std::to_string(xid()) + " " +
                     std::to_string(int(cell.width * 70) + 1) + " " +
                     std::to_string(int(cell.height * 16) + 1));
    ASSERT_TRUE(spinUntil([&] { return view->terminalDimensions().cols != before.cols; }, 10s));
    const int frames = gpuFrames();
    view->feed("\r\nresized\r\n");
    ASSERT_TRUE(waitForGpuFrames(frames));
    const double scale = view->backingScale();
    const guitest::Screenshot bigger = shotWhen([&](const guitest::Screenshot& s) {
        return s.width >= int(cell.width * 70 * scale) && inkInRow(s, rowWith("resized")) > 20;
    });
    EXPECT_GE(bigger.width, int(cell.width * 70 * scale));
    EXPECT_GT(inkInRow(bigger, rowWith("resized")), 20);
    EXPECT_GT(inkInRow(bigger, helloRow), 20) << "the earlier content is drawn at the new size too";
}

TEST_F(GpuViewGuiTests, AResizeRedrawsAtTheNewSizeScale2)
{
    openOnGpu(400, 160, true);
    run("printf 'double scale\\n'; exec sleep 100");
    ASSERT_GE(waitForRow("double scale"), 0);
    ASSERT_TRUE(waitForGpuFrames(0));
    const guitest::Screenshot shot =
        shotWhen([&](const guitest::Screenshot& s) { return inkInRow(s, 0) > 50; });
    EXPECT_EQ(shot.width, 800) << "the frame has the window's device pixels";
    // The X server's window is sized in device pixels: 600 x 240 points.
    guitest::xdotool("windowsize --sync " + std::to_string(xid()) + " 1200 480");
    ASSERT_TRUE(spinUntil([&] { return view->frameSize().width == 600; }, 10s));
    const int frames = gpuFrames();
    view->feed("\r\nlarger\r\n");
    ASSERT_TRUE(waitForGpuFrames(frames));
    const guitest::Screenshot larger = shotWhen(
        [&](const guitest::Screenshot& s) { return s.width == 1200 && inkInRow(s, rowWith("larger")) > 50; });
    EXPECT_GT(inkInRow(larger, rowWith("larger")), 50);
}

TEST_F(GpuViewGuiTests, MovingTheViewIntoASplitKeepsItDrawing)
{
    for (const bool layer : {true, false}) {
        SCOPED_TRACE(layer ? "texture surface" : "GL area");
        openOnGpu(480, 200, layer);
        run("printf 'before the split\\n'; read line; printf 'after the split\\n'; exec sleep 100");
        ASSERT_GE(waitForRow("before the split"), 0);
        ASSERT_TRUE(waitForGpuFrames(0));

        // A split takes the view out of the window and puts it into a pane: its widgets are
        // unrealized and realized again, and the GL area gets a new context.
        g_object_ref(widget);
        gtk_window_set_child(window, nullptr);
        GtkWidget* paned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
        gtk_paned_set_start_child(GTK_PANED(paned), widget);
        gtk_paned_set_end_child(GTK_PANED(paned), gtk_label_new("other pane"));
        gtk_paned_set_position(GTK_PANED(paned), 400);
        gtk_window_set_child(window, paned);
        g_object_unref(widget);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(widget) && view->metalRenderer(); }));
        EXPECT_TRUE(view->isUsingMetalRenderer());
        EXPECT_TRUE(logged("Kestrovan: GPU renderer rebind failed").empty());

        view->send(std::string_view("\n"));
        ASSERT_GE(waitForRow("after the split"), 0);
        ASSERT_TRUE(waitForGpuFrames(0));
        const guitest::Screenshot shot = shotWhen([&](const guitest::Screenshot& s) {
            return inkInRow(s, rowWith("after the split")) > 50 && inkInRow(s, 0) > 50;
        });
        EXPECT_GT(inkInRow(shot, rowWith("after the split")), 50) << "new output is drawn in the pane";
        EXPECT_GT(inkInRow(shot, 0), 50) << "the earlier content too";
        closeForNextRound();
    }
}

TEST_F(GpuViewGuiTests, TheProgressBarShowsOverTheSurface)
{
    for (const bool layer : {true, false}) {
        SCOPED_TRACE(layer ? "texture surface" : "GL area");
        openOnGpu(480, 200, layer);
        ASSERT_TRUE(waitForGpuFrames(0));
        const platform::NativeColor bg = view->nativeBackgroundColor();
        const uint32_t background = (uint32_t(std::lround(bg.red * 255)) << 16) |
                                    (uint32_t(std::lround(bg.green * 255)) << 8) |
                                    uint32_t(std::lround(bg.blue * 255));
        // The GPU's first frame on screen: the empty terminal's background everywhere.
        shotWhen([&](const guitest::Screenshot& s) {
            return s.pixel(4, 1) == background && s.pixel(4, s.height / 2) == background;
        });
        // A full bar: the top edge takes the bar's colour, the rest of the view stays as it was.
        // The wait is for that whole picture: a frame still being made up (a fresh surface not
        // yet filled) also differs from the background at the top.
        view->feed("\x1b]9;4;1;100\a");
        const guitest::Screenshot shot = shotWhen([&](const guitest::Screenshot& s) {
            return s.pixel(4, 1) != background && s.pixel(s.width - 30, 1) != background &&
                   s.pixel(4, s.height / 2) == background;
        });
        EXPECT_NE(shot.pixel(4, 1), background) << "the bar's left end";
        EXPECT_NE(shot.pixel(shot.width - 30, 1), background) << "its right end";
        EXPECT_EQ(shot.pixel(4, shot.height / 2), background) << "nothing below the top edge";
        closeForNextRound();
    }
}

TEST_F(GpuViewGuiTests, ARendererThatCannotBeMadeAgainFallsBackToTheCpuWithTheLog)
{
    open(480, 200);
    auto provider = std::make_shared<FailingRebindProvider>();
    view->setMetalSurfaceProvider(provider);
    ASSERT_EQ(view->setUsesMetalLayerSurface(false), std::nullopt);
    ASSERT_EQ(view->setUseMetal(true), std::nullopt);
    run("printf 'first line\\n'; read line; printf 'drawn on the CPU\\n'; exec sleep 100");
    ASSERT_GE(waitForRow("first line"), 0);
    ASSERT_TRUE(waitForGpuFrames(0));

    // Out of the window and back: the GL area's new context needs a new renderer, which fails.
    g_object_ref(widget);
    gtk_window_set_child(window, nullptr);
    gtk_window_set_child(window, widget);
    g_object_unref(widget);
    ASSERT_TRUE(spinUntil([&] { return !view->isUsingMetalRenderer(); }));
    const auto lines = logged("Kestrovan: GPU renderer rebind failed; falling back to CPU drawing: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Kestrovan: GPU renderer rebind failed; falling back to CPU drawing: "
                        "Failed to compile GPU shader source: injected");
    EXPECT_FALSE(view->metalView());

    view->send(std::string_view("\n"));
    ASSERT_GE(waitForRow("drawn on the CPU"), 0);
    const guitest::Screenshot shot = shotWhen([&](const guitest::Screenshot& s) {
        return inkInRow(s, rowWith("drawn on the CPU")) > 50 && inkInRow(s, 0) > 50;
    });
    EXPECT_GT(inkInRow(shot, rowWith("drawn on the CPU")), 50);
    EXPECT_GT(inkInRow(shot, 0), 50);
}

TEST_F(GpuViewGuiTests, TheShutdownWaitsForABusyRenderer)
{
    openOnGpu(320, 160, true);
    run("printf 'busy\\n'; exec sleep 100");
    ASSERT_TRUE(waitForGpuFrames(0));
    view->renderOwner().setRendererWait(50ms);
    const std::shared_ptr<kestrovan::MetalTerminalRenderer> renderer = view->metalRenderer();
    // Held as a frame that stays on the GPU holds it.
    ASSERT_TRUE(view->renderOwner().withRenderState([&] { return renderer->acquireFrameSlot(5s); }));
    EXPECT_FALSE(view->updateUiClosed());
    EXPECT_EQ(view->uiShutdownState(), kestrovan::MacTerminalView::UIShutdownState::stopping);
    EXPECT_TRUE(view->isUsingMetalRenderer());
    view->renderOwner().withRenderState([&] { renderer->releaseFrameSlot(); });
    EXPECT_TRUE(view->updateUiClosed());
    EXPECT_FALSE(view->isUsingMetalRenderer());
    EXPECT_EQ(view->uiShutdownState(), kestrovan::MacTerminalView::UIShutdownState::stopped);
}

} // namespace
