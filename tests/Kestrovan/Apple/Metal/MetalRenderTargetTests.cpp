// The render targets over fake widgets: the layer view's drawable size, published geometry and
// display requests, its detached surface, and the GL area's drawable that exists only inside the
// render signal.

#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"
#include "Kestrovan/Apple/Metal/TerminalMetalLayerView.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

/// A texture surface whose widget size and scale a test sets; every drawable is granted.
class FakeSurface final : public platform::gpu::TextureSurfaceView
{
public:
    std::shared_ptr<platform::gpu::Device> device() const override { return nullptr; }
    std::optional<Drawable> nextDrawable(platform::gpu::PixelSize size) override
    {
        requested.push_back(size);
        return Drawable{7, size, uint32_t(requested.size() % 3)};
    }
    void present(const Drawable& drawable) override { presented.push_back(drawable.slot); }
    platform::Size size() const override { return widgetSize; }
    int scaleFactor() const override { return scale; }
    void setGeometryHandler(std::function<void()> handler) override { geometryChanged = std::move(handler); }

    /// The widget moved to a new size or scale.
    void change(platform::Size size, int newScale)
    {
        widgetSize = size;
        scale = newScale;
        if (geometryChanged)
            geometryChanged();
    }

    platform::Size widgetSize;
    int scale = 1;
    std::function<void()> geometryChanged;
    std::vector<platform::gpu::PixelSize> requested;
    std::vector<uint32_t> presented;
};

struct LayerFixture
{
    explicit LayerFixture(platform::Size size, int scale = 1)
    {
        surface->widgetSize = size;
        surface->scale = scale;
        view = std::make_unique<TerminalMetalLayerView>(surface);
        view->onNeedsDisplay = [this] { ++needsDisplay; };
    }
    const TerminalMetalLayerRenderSurface& published() const
    {
        return static_cast<const TerminalMetalLayerRenderSurface&>(*view->detachedRenderSurface());
    }

    std::shared_ptr<FakeSurface> surface = std::make_shared<FakeSurface>();
    std::unique_ptr<TerminalMetalLayerView> view;
    int needsDisplay = 0;
};

TEST(MetalRenderTargetTests, TheLayerViewsDrawableFollowsItsSizeAndScale)
{
    LayerFixture f({200, 100});
    EXPECT_EQ(f.view->drawableSize(), (platform::Size{200, 100}));
    EXPECT_TRUE(f.view->needsExternalDrawCall());

    // Into a window of scale 2: the scale becomes the contents scale, the drawable doubles, and
    // one frame is asked for.
    f.surface->change({200, 100}, 2);
    EXPECT_EQ(f.view->contentsScale(), 2);
    EXPECT_EQ(f.view->drawableSize(), (platform::Size{400, 200}));
    EXPECT_EQ(f.needsDisplay, 1);
    EXPECT_EQ(f.published().publishedGeometry(), (MetalSurfaceGeometry{{0, 0, 200, 100}, {400, 200}, 2}));

    // A resize follows at that scale.
    f.surface->change({150, 80}, 2);
    EXPECT_EQ(f.view->drawableSize(), (platform::Size{300, 160}));
    EXPECT_EQ(f.needsDisplay, 2);

    // The same contents scale again changes and publishes nothing; the same drawable size
    // publishes again.
    const int published = f.published().publishCount();
    f.view->setRenderContentsScale(2);
    EXPECT_EQ(f.published().publishCount(), published);
    f.view->setRenderDrawableSize({300, 160});
    EXPECT_EQ(f.published().publishCount(), published + 1);
    // Sizes that are not positive are not taken, but the geometry is still published.
    f.view->setRenderDrawableSize({0, 50});
    EXPECT_EQ(f.view->drawableSize(), (platform::Size{300, 160}));
    EXPECT_EQ(f.published().publishCount(), published + 2);

    f.view->requestDisplay();
    EXPECT_EQ(f.needsDisplay, 3);
}

TEST(MetalRenderTargetTests, TheDetachedSurfaceHandsOutDrawablesOfThePublishedSize)
{
    // A view of zero width has no drawable, and its drawable size stays as it was.
    LayerFixture empty({0, 100});
    EXPECT_EQ(empty.view->drawableSize(), (platform::Size{0, 0}));
    EXPECT_FALSE(empty.view->acquireDrawableFrame());
    EXPECT_TRUE(empty.surface->requested.empty());

    LayerFixture f({120, 40}, 2);
    auto frame = f.view->detachedRenderSurface()->acquireDrawableFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->drawable.size, (platform::gpu::PixelSize{240, 80}));
    EXPECT_EQ(frame->renderPassDescriptor.framebuffer, 7u);
    EXPECT_EQ(frame->renderPassDescriptor.size, (platform::gpu::PixelSize{240, 80}));
    EXPECT_EQ(frame->geometry, (MetalSurfaceGeometry{{0, 0, 120, 40}, {240, 80}, 2}));
    // Presenting hands that texture of the ring to the widget.
    ASSERT_TRUE(frame->drawable.present);
    frame->drawable.present();
    EXPECT_EQ(f.surface->presented, (std::vector<uint32_t>{1}));
    // A drawable size set explicitly is what the render thread sees next.
    f.view->setRenderDrawableSize({64, 64});
    EXPECT_EQ(f.view->acquireDrawableFrame()->drawable.size, (platform::gpu::PixelSize{64, 64}));
}

/// A GL area whose render signal a test fires.
class FakeArea final : public platform::gpu::GLAreaView
{
public:
    std::shared_ptr<platform::gpu::Device> device() const override { return nullptr; }
    void setRenderHandler(std::function<void(const Drawable&)> handler) override
    {
        render = std::move(handler);
    }
    void queueRender() override { ++renderRequests; }
    platform::Size size() const override { return {100, 50}; }
    int scaleFactor() const override { return 2; }

    std::function<void(const Drawable&)> render;
    int renderRequests = 0;
};

TEST(MetalRenderTargetTests, TheGLAreaHasADrawableOnlyInsideItsRenderSignal)
{
    auto area = std::make_shared<FakeArea>();
    MetalGLAreaTarget target(area);
    EXPECT_FALSE(target.needsExternalDrawCall());
    EXPECT_FALSE(target.acquireDrawableFrame());
    std::optional<MetalDrawableFrame> inside;
    int draws = 0;
    target.setDrawHandler([&] {
        ++draws;
        inside = target.acquireDrawableFrame();
    });
    area->render({3, {200, 100}});
    EXPECT_EQ(draws, 1);
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->drawable.framebuffer, 3u);
    EXPECT_EQ(inside->geometry, (MetalSurfaceGeometry{{0, 0, 100, 50}, {200, 100}, 2}));
    EXPECT_FALSE(target.acquireDrawableFrame());
    // A zero-sized area draws nothing.
    inside.reset();
    area->render({3, {0, 100}});
    EXPECT_FALSE(inside);
    target.requestDisplay();
    EXPECT_EQ(area->renderRequests, 1);
}

} // namespace
} // namespace kestrovan
