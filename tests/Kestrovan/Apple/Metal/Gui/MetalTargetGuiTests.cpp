// The GPU targets in real windows on a private X server: the GL area drawing on the main thread,
// the texture surface fed from another thread through its ring of textures, and the surface
// diagnostics comparing the GL area with the texture surface. Tests whose names end in "Scale2"
// run with GDK_SCALE=2.

#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"
#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/Metal/TerminalMetalLayerView.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/GPU/EglContext.h"
#include "Platform/GPU/Gtk/GdkContextBinding.h"
#include "Platform/GPU/Gtk/GtkGLAreaView.h"
#include "Platform/GPU/Gtk/GtkTextureSurfaceView.h"
#include "Platform/UI/Gui/GuiHarness.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <epoxy/gl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace kestrovan {
namespace {

using namespace std::chrono_literals;

/// The scale the X server's windows have in this run.
int expectedScale()
{
    const char* value = std::getenv("GDK_SCALE");
    return value && std::string(value) == "2" ? 2 : 1;
}

MetalRendererOptions builtInSources()
{
    MetalRendererOptions options;
    options.shaderDirectory.reset();
    return options;
}

std::shared_ptr<MetalTerminalRenderer> makeRenderer(std::shared_ptr<MetalRenderTarget> target)
{
    auto made = MetalTerminalRenderer::make(std::move(target), builtInSources());
    if (auto* error = std::get_if<MetalError>(&made)) {
        ADD_FAILURE() << error->description();
        return nullptr;
    }
    return std::get<std::shared_ptr<MetalTerminalRenderer>>(made);
}

/// A window holding one widget, at `width` x `height` points without decorations.
struct Window
{
    Window(GtkWidget* child, int width, int height) : window(GTK_WINDOW(g_object_ref_sink(gtk_window_new())))
    {
        gtk_window_set_decorated(window, FALSE);
        gtk_window_set_default_size(window, width, height);
        gtk_window_set_child(window, child);
        gtk_window_present(window);
    }
    ~Window()
    {
        gtk_window_set_child(window, nullptr);
        gtk_window_destroy(window);
        g_object_unref(window);
    }
    unsigned long xid() const { return guitest::windowXid(window); }

    GtkWindow* window;
};

/// The pattern drawn offscreen at a size and scale, for comparing what a widget shows.
MetalRenderedImage offscreenPattern(platform::gpu::PixelSize size, double scale)
{
    auto target =
        std::make_shared<MetalOffscreenTarget>(platform::gpu::makeEglDevice(platform::gpu::GLApi::openGL),
                                               platform::Size{double(size.width), double(size.height)});
    target->setRenderContentsScale(scale);
    auto renderer = makeRenderer(target);
    if (!renderer)
        return {};
    renderer->waitForCompletionAfterCommit = true;
    renderer->capturesRenderedTexture = true;
    renderer->renderDiagnosticPattern(target->acquireDrawableFrame());
    return renderer->lastRenderedTexture.value_or(MetalRenderedImage{});
}

/// Whether the window shows `image` (bottom row first) at its origin, checked on a grid of its
/// opaque pixels.
void expectOnScreen(const Window& window, const MetalRenderedImage& image)
{
    const guitest::Screenshot shot = guitest::screenshot(window.xid());
    ASSERT_GE(shot.width, image.size.width);
    ASSERT_GE(shot.height, image.size.height);
    int compared = 0;
    for (int y = 1; y < image.size.height; y += 7)
        for (int x = 1; x < image.size.width; x += 5) {
            const uint8_t* p = &image.bgra[size_t((y * image.size.width + x) * 4)];
            // Translucent pixels show the window behind them.
            if (p[3] != 255)
                continue;
            const uint32_t expected = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            // The screenshot's rows run from the top.
            ASSERT_EQ(shot.pixel(x, shot.height - 1 - y), expected) << x << "," << y;
            ++compared;
        }
    EXPECT_GT(compared, 100);
}

void glAreaDrawsThePatternAtItsSizeTimesItsScale()
{
    ASSERT_TRUE(guitest::startGtk());
    auto area = std::make_shared<platform::gtk::GtkGLAreaView>();
    auto target = std::make_shared<MetalGLAreaTarget>(area);
    std::shared_ptr<MetalTerminalRenderer> renderer;
    std::optional<MetalDrawableFrame> drawn;
    target->setDrawHandler([&] {
        if (!renderer) {
            renderer = makeRenderer(target);
            if (!renderer)
                return;
            renderer->capturesRenderedTexture = true;
            renderer->waitForCompletionAfterCommit = true;
        }
        auto frame = target->acquireDrawableFrame();
        if (frame && renderer->renderDiagnosticPattern(frame))
            drawn = frame;
    });
    Window window(area->widget(), 160, 100);
    ASSERT_TRUE(guitest::spinUntil([&] { return drawn.has_value(); }));

    const int scale = expectedScale();
    EXPECT_EQ(area->scaleFactor(), scale);
    EXPECT_EQ(drawn->drawable.size, (platform::gpu::PixelSize{160 * scale, 100 * scale}));
    EXPECT_EQ(drawn->geometry,
              (MetalSurfaceGeometry{{0, 0, 160, 100}, {160.0 * scale, 100.0 * scale}, double(scale)}));
    // What GTK shows is what was drawn, the right way up, and the same as offscreen.
    const MetalRenderedImage offscreen = offscreenPattern(drawn->drawable.size, scale);
    ASSERT_TRUE(renderer->lastRenderedTexture);
    EXPECT_EQ(renderer->lastRenderedTexture->bgra, offscreen.bgra);
    expectOnScreen(window, offscreen);
    // The renderer's objects go while the area's context lives.
    renderer.reset();
    target->setDrawHandler({});
}

TEST(MetalTargetGuiTests, TheGLAreaDrawsThePatternAtItsSizeTimesItsScale)
{
    glAreaDrawsThePatternAtItsSizeTimesItsScale();
}

TEST(MetalTargetGuiTests, TheGLAreaDrawsThePatternAtItsSizeTimesItsScaleScale2)
{
    glAreaDrawsThePatternAtItsSizeTimesItsScale();
}

TEST(MetalTargetGuiTests, AZeroSizedGLAreaGetsNoDrawable)
{
    ASSERT_TRUE(guitest::startGtk());
    auto area = std::make_shared<platform::gtk::GtkGLAreaView>();
    auto target = std::make_shared<MetalGLAreaTarget>(area);
    int drawables = 0;
    target->setDrawHandler([&] { drawables += target->acquireDrawableFrame() ? 1 : 0; });
    // The area gets no width beside a drawing area that takes it all.
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget* other = gtk_drawing_area_new();
    gtk_widget_set_hexpand(other, TRUE);
    bool otherDrawn = false;
    gtk_drawing_area_set_draw_func(
        GTK_DRAWING_AREA(other),
        [](GtkDrawingArea*, cairo_t*, int, int, gpointer flag) { *static_cast<bool*>(flag) = true; },
        &otherDrawn, nullptr);
    gtk_widget_set_hexpand(area->widget(), FALSE);
    gtk_box_append(GTK_BOX(box), other);
    gtk_box_append(GTK_BOX(box), area->widget());
    Window window(box, 160, 100);
    ASSERT_TRUE(guitest::spinUntil([&] { return otherDrawn; }));
    EXPECT_EQ(area->size().width, 0);
    EXPECT_EQ(drawables, 0);
    gtk_box_remove(GTK_BOX(box), area->widget());
}

TEST(MetalTargetGuiTests, AnUnrealizedGLAreasRendererDrawsNoMore)
{
    // Unrealized (taken out of its window), the area's context and every object on it are gone:
    // the renderer made on it can no longer bind it, and goes without touching it.
    ASSERT_TRUE(guitest::startGtk());
    auto area = std::make_shared<platform::gtk::GtkGLAreaView>();
    auto target = std::make_shared<MetalGLAreaTarget>(area);
    std::shared_ptr<MetalTerminalRenderer> renderer;
    target->setDrawHandler([&] {
        if (!renderer)
            renderer = makeRenderer(target);
    });
    {
        Window window(area->widget(), 80, 40);
        ASSERT_TRUE(guitest::spinUntil([&] { return renderer != nullptr; }));
        EXPECT_TRUE(area->device());
    }
    EXPECT_FALSE(area->device());
    EXPECT_FALSE(renderer->device()->bindCurrent().isCurrent());
    EXPECT_FALSE(renderer->renderDiagnosticPattern(
        MetalDrawableFrame{{1, {80, 40}, nullptr, {}}, {1, {80, 40}, {}}, {}}));
    renderer.reset();
    // Shown again, it gets a new context and a new renderer draws.
    target->setDrawHandler([&] {
        if (!renderer)
            renderer = makeRenderer(target);
        if (renderer)
            renderer->renderDiagnosticPattern(target->acquireDrawableFrame());
    });
    Window again(area->widget(), 80, 40);
    ASSERT_TRUE(guitest::spinUntil([&] { return renderer && renderer->completedRenderCount() > 0; }));
    renderer.reset();
    target->setDrawHandler({});
}

/// The surface shown in a window, with its layer view and a renderer drawing through the
/// detached surface.
struct SurfaceFixture
{
    SurfaceFixture()
    {
        started = guitest::startGtk();
        surface = platform::gtk::GtkTextureSurfaceView::make();
        if (!started || !surface)
            return;
        view = std::make_shared<TerminalMetalLayerView>(surface);
        window = std::make_unique<Window>(surface->widget(), 120, 80);
        guitest::spinUntil([&] { return view->drawableSize().width > 0; });
        renderer = makeRenderer(view);
    }

    bool started = false;
    std::shared_ptr<platform::gtk::GtkTextureSurfaceView> surface;
    std::shared_ptr<TerminalMetalLayerView> view;
    std::unique_ptr<Window> window;
    std::shared_ptr<MetalTerminalRenderer> renderer;
};

using Presentation = platform::gtk::GtkTextureSurfaceView::Presentation;

void textureSurfaceShowsThirtyFramesDrawnOnItsThread(Presentation presentation)
{
    SurfaceFixture f;
    ASSERT_TRUE(f.started && f.surface && f.renderer);
    f.surface->setPresentation(presentation);
    const int scale = expectedScale();
    EXPECT_EQ(f.view->drawableSize(), (platform::Size{120.0 * scale, 80.0 * scale}));

    constexpr uint64_t frames = 30;
    std::mutex mutex;
    std::condition_variable shownChanged;
    uint64_t shown = f.surface->framesShown();
    const uint64_t first = shown;
    std::atomic<uint64_t> drawnFrames{0};
    std::atomic<bool> stop{false};
    std::thread renderThread([&] {
        for (uint64_t frame = 0; frame < frames && !stop; ++frame) {
            // Each frame after the one before has been shown; a frame that finds every texture
            // held, or its predecessor on the GPU, is tried again once the widget has moved on.
            while (!stop && !f.renderer->renderDiagnosticPattern()) {
                std::unique_lock<std::mutex> lock(mutex);
                shownChanged.wait_for(lock, 5ms);
            }
            drawnFrames = frame + 1;
            std::unique_lock<std::mutex> lock(mutex);
            while (!stop && shown < first + frame + 1)
                shownChanged.wait_for(lock, 5ms);
        }
    });
    const bool allShown = guitest::spinUntil(
        [&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                shown = f.surface->framesShown();
            }
            shownChanged.notify_all();
            return shown >= first + frames;
        },
        20s);
    stop = true;
    renderThread.join();
    EXPECT_TRUE(allShown) << "shown " << shown - first << " of " << drawnFrames.load() << " drawn";
    EXPECT_EQ(f.renderer->completedRenderCount(), int(frames));
    // What the widget shows is the pattern, the right way up.
    const MetalRenderedImage offscreen =
        offscreenPattern({int(f.view->drawableSize().width), int(f.view->drawableSize().height)}, scale);
    expectOnScreen(*f.window, offscreen);
}

TEST(MetalTargetGuiTests, TheTextureSurfaceShowsThirtyFramesDrawnOnItsThread)
{
    // Handed to GTK as the GL texture and as pixels read back (what a window drawn with cairo gets).
    for (const Presentation presentation : {Presentation::glTexture, Presentation::pixels}) {
        SCOPED_TRACE(presentation == Presentation::pixels ? "pixels" : "GL texture");
        textureSurfaceShowsThirtyFramesDrawnOnItsThread(presentation);
    }
}

/// Draws a frame straight into the surface's next texture: all of it `colour`, then the pixel rows
/// [`top`, `top` + `rows`) from the top in `band`; presents it and waits until the widget shows it.
bool drawAndShow(platform::gtk::GtkTextureSurfaceView& surface, platform::gpu::PixelSize size,
                 uint32_t colour, int top, int rows, uint32_t band)
{
    const uint64_t before = surface.framesShown();
    {
        const platform::gpu::ContextScope scope = surface.device()->bindCurrent();
        const auto drawable = surface.nextDrawable(size);
        if (!scope.isCurrent() || !drawable)
            return false;
        const auto clear = [](uint32_t rgb) {
            glClearColor(float(rgb >> 16 & 0xFF) / 255, float(rgb >> 8 & 0xFF) / 255, float(rgb & 0xFF) / 255,
                         1);
            glClear(GL_COLOR_BUFFER_BIT);
        };
        glBindFramebuffer(GL_FRAMEBUFFER, drawable->framebuffer);
        glViewport(0, 0, size.width, size.height);
        clear(colour);
        if (rows > 0) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(0, size.height - top - rows, size.width, rows);
            clear(band);
            glDisable(GL_SCISSOR_TEST);
        }
        surface.present(*drawable);
    }
    return guitest::spinUntil([&] { return surface.framesShown() > before; });
}

TEST(MetalTargetGuiTests, AFrameShownAsPixelsRenewsOnlyTheBandsThatChanged)
{
    SurfaceFixture f;
    ASSERT_TRUE(f.started && f.surface);
    f.surface->setPresentation(Presentation::pixels);
    const platform::gpu::PixelSize size{int(f.view->drawableSize().width),
                                        int(f.view->drawableSize().height)};
    constexpr int bandRows = platform::gtk::GtkTextureSurfaceView::bandRows;
    const size_t bandCount = size_t((size.height + bandRows - 1) / bandRows);
    ASSERT_GE(bandCount, 2u);
    ASSERT_TRUE(drawAndShow(*f.surface, size, 0x204060, 0, 0, 0));
    std::vector<GdkTexture*> bands = f.surface->shownBands();
    ASSERT_EQ(bands.size(), bandCount);

    struct Step
    {
        const char* name;
        int top, rows;
        // The bands whose textures are new.
        std::vector<size_t> renewed;
    };
    const Step steps[] = {
        {"the same frame again", 0, 0, {}}, {"a change inside the second band", bandRows + 3, 2, {1}},
        {"the change undone", 0, 0, {1}},   {"rows across the first two bands", bandRows - 1, 2, {0, 1}},
        {"those undone", 0, 0, {0, 1}},     {"the last row", size.height - 1, 1, {bandCount - 1}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(drawAndShow(*f.surface, size, 0x204060, step.top, step.rows, 0xF0C010));
        const std::vector<GdkTexture*> now = f.surface->shownBands();
        ASSERT_EQ(now.size(), bandCount);
        for (size_t index = 0; index < bandCount; ++index) {
            const bool renewed =
                std::find(step.renewed.begin(), step.renewed.end(), index) != step.renewed.end();
            EXPECT_EQ(now[index] != bands[index], renewed) << "band " << index;
        }
        bands = now;
        // What the window shows, pixel row for pixel row and the right way up.
        const guitest::Screenshot shot = guitest::screenshot(f.window->xid());
        for (int y = 0; y < size.height; ++y) {
            const bool inBand = y >= step.top && y < step.top + step.rows;
            ASSERT_EQ(shot.pixel(size.width / 2, y), inBand ? 0xF0C010u : 0x204060u) << "row " << y;
        }
    }
}

TEST(MetalTargetGuiTests, ATextureIsDrawnIntoAgainOnlyAfterGtkReleasedIt)
{
    SurfaceFixture f;
    ASSERT_TRUE(f.started && f.surface && f.renderer);
    f.surface->setPresentation(Presentation::glTexture);
    // Hold every texture of the ring as it is shown, as a snapshot still on screen would.
    std::vector<GdkTexture*> held;
    std::vector<uint32_t> names;
    for (uint32_t i = 0; i < platform::gtk::GtkTextureSurfaceView::ringSize; ++i) {
        const uint64_t before = f.surface->framesShown();
        ASSERT_TRUE(guitest::spinUntil([&] { return f.renderer->renderDiagnosticPattern(); })) << i;
        ASSERT_TRUE(guitest::spinUntil([&] { return f.surface->framesShown() > before; })) << i;
        held.push_back(GDK_TEXTURE(g_object_ref(f.surface->shownTexture())));
        names.push_back(f.surface->shownTextureName());
    }
    EXPECT_EQ(std::set<uint32_t>(names.begin(), names.end()).size(),
              size_t(platform::gtk::GtkTextureSurfaceView::ringSize));
    // All three held: no drawable, whatever GTK draws meanwhile.
    guitest::spinFor(50ms);
    EXPECT_FALSE(f.renderer->renderDiagnosticPattern());
    EXPECT_FALSE(f.renderer->renderDiagnosticPattern());

    // Let go of the oldest (no longer shown): once GTK has released it, it is drawn into again.
    const uint32_t released = names.front();
    g_object_unref(held.front());
    held.erase(held.begin());
    const uint64_t before = f.surface->framesShown();
    ASSERT_TRUE(guitest::spinUntil([&] { return f.renderer->renderDiagnosticPattern(); }));
    ASSERT_TRUE(guitest::spinUntil([&] { return f.surface->framesShown() > before; }));
    EXPECT_EQ(f.surface->shownTextureName(), released);
    for (GdkTexture* texture : held)
        g_object_unref(texture);
}

void surfaceDiagnosticsFindTheGLAreaAndTextureSurfaceAlike()
{
    ASSERT_TRUE(guitest::startGtk());
    // The check's terminal view is made on the main thread, as the application makes its views.
    if (!platform::MainQueue::installed())
        platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());
    // A software rasterizer counts as a device here.
    setenv("KESTROVAN_GPU_SOFTWARE", "1", 1);
    const auto comparison = MacTerminalView::compareMetalSurfaces(200, 100);
    unsetenv("KESTROVAN_GPU_SOFTWARE");
    EXPECT_EQ(comparison.unavailableReason, std::nullopt);
    const int scale = expectedScale();
    EXPECT_EQ(comparison.totalPixels, 200 * 100 * scale * scale);
    EXPECT_EQ(comparison.differingPixels, 0);
    // The text covers a few hundred pixels a line.
    EXPECT_GT(comparison.nonUniformPixels, 500 * scale * scale);
    EXPECT_TRUE(comparison.matches());
}

TEST(MetalTargetGuiTests, SurfaceDiagnosticsFindTheGLAreaAndTextureSurfaceAlike)
{
    surfaceDiagnosticsFindTheGLAreaAndTextureSurfaceAlike();
}

TEST(MetalTargetGuiTests, SurfaceDiagnosticsFindTheGLAreaAndTextureSurfaceAlikeScale2)
{
    surfaceDiagnosticsFindTheGLAreaAndTextureSurfaceAlike();
}

TEST(MetalTargetGuiTests, AnOffscreenContextBindsWhereGtksContextIsCurrent)
{
    // GTK keeps its GL context current on the main thread (GLX on X11), and GL cannot have two
    // kinds of context current on one thread: the offscreen context sets GTK's aside, and gives
    // it back.
    ASSERT_TRUE(guitest::startGtk());
    GError* error = nullptr;
    GdkGLContext* gtkContext = gdk_display_create_gl_context(gdk_display_get_default(), &error);
    ASSERT_TRUE(gtkContext && gdk_gl_context_realize(gtkContext, &error));
    gdk_gl_context_make_current(gtkContext);
    auto device = platform::gpu::makeEglDevice(platform::gpu::GLApi::openGL);
    ASSERT_TRUE(device);
    {
        const platform::gpu::ContextScope scope = device->bindCurrent();
        ASSERT_TRUE(scope.isCurrent());
        EXPECT_TRUE(device->makeTexture(platform::gpu::TextureFormat::rgba8, {4, 4}));
    }
    EXPECT_EQ(gdk_gl_context_get_current(), gtkContext);
    // GTK's context draws again.
    auto gtkDevice =
        platform::gpu::GLDevice::make(std::make_shared<platform::gtk::GdkContextBinding>(gtkContext));
    ASSERT_TRUE(gtkDevice);
    EXPECT_TRUE(gtkDevice->makeTexture(platform::gpu::TextureFormat::rgba8, {4, 4}));
    gtkDevice.reset();
    gdk_gl_context_clear_current();
    g_object_unref(gtkContext);
}

TEST(MetalTargetGuiTests, SurfaceDiagnosticsWithoutADeviceSayWhy)
{
    ASSERT_TRUE(guitest::startGtk());
    unsetenv("KESTROVAN_GPU_SOFTWARE");
    const auto comparison = MacTerminalView::compareMetalSurfaces(200, 100);
    EXPECT_EQ(comparison.unavailableReason, "no GPU device");
    EXPECT_EQ(comparison.totalPixels, 0);
    EXPECT_FALSE(comparison.matches());
}

} // namespace
} // namespace kestrovan
