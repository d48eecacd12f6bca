// The surface diagnostics: one terminal frame drawn into the two surfaces a view draws with, the GL
// area and the render-thread texture surface, read back from both and compared pixel by pixel.
//
// The frame is a terminal view of the check's size showing three lines of plain, coloured, bold
// and underlined text, drawn by a new GPU renderer for each target. The GL area draws at its
// widget's size times its scale factor; the texture surface is given the same pixel size and the
// view the same rendering scale, so that the two images always have the same shape when both
// targets work.

#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"
#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Apple/Metal/TerminalMetalLayerView.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Platform/GPU/Gtk/GtkGLAreaView.h"
#include "Platform/GPU/Gtk/GtkTextureSurfaceView.h"

namespace kestrovan {

namespace {

/// How long the GL area may take to draw its first frame.
constexpr std::chrono::seconds areaRenderWait{5};

/// A terminal view of `width` x `height` points showing the check's text.
std::shared_ptr<TerminalView> makeCheckView(int width, int height)
{
    std::shared_ptr<TerminalView> view = TerminalView::create(platform::Size{double(width), double(height)});
    view->feed("Kestrovan surface parity check\r\n");
    view->feed("\x1b[31mred\x1b[32m green\x1b[34m blue\x1b[0m plain\r\n");
    view->feed("\x1b[1mbold\x1b[0m \x1b[4munderline\x1b[0m 0123456789\r\n");
    return view;
}

/// Draws the view's content once with a new renderer on `target` at `scale`, waiting for the GPU,
/// and reads it back.
std::optional<MetalRenderedImage> renderPixels(TerminalView& view,
                                               const std::shared_ptr<MetalRenderTarget>& target, int scale)
{
    auto made = MetalTerminalRenderer::make(target);
    auto* renderer = std::get_if<std::shared_ptr<MetalTerminalRenderer>>(&made);
    std::optional<FrameViewState> viewState = view.captureFrameViewState();
    if (!renderer || !viewState)
        return std::nullopt;
    (*renderer)->waitForCompletionAfterCommit = true;
    (*renderer)->capturesRenderedTexture = true;
    viewState->renderingScale = scale;
    viewState->imageScale = scale;
    std::optional<MetalRenderedImage> image;
    TerminalRenderOwner& owner = view.renderOwner();
    if (owner.replaceMetalRenderer(*renderer, true)) {
        if (owner.refreshMetalSnapshot(*viewState)) {
            (*renderer)->render(target->acquireDrawableFrame());
            if ((*renderer)->completedRenderCount() > 0)
                image = std::move((*renderer)->lastRenderedTexture);
        }
        owner.removeMetalRenderer();
    }
    // The renderer's objects are deleted here, while the target's context can still be bound.
    auto device = (*renderer)->device();
    renderer->reset();
    const platform::gpu::ContextScope scope = device->bindCurrent();
    if (scope.isCurrent())
        device->collectReleased();
    return image;
}

bool sameColor(const uint8_t* a, const uint8_t* b)
{
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

} // namespace

MacTerminalView::MetalSurfaceComparison MacTerminalView::compareMetalSurfaces(int width, int height)
{
    MetalSurfaceComparison result;
    auto device = systemDefaultMetalDevice();
    if (!device) {
        result.unavailableReason = "no GPU device";
        return result;
    }

    std::shared_ptr<TerminalView> view = makeCheckView(width, height);
    auto area = std::make_shared<platform::gtk::GtkGLAreaView>();
    auto areaTarget = std::make_shared<MetalGLAreaTarget>(area);
    std::optional<MetalRenderedImage> areaImage;
    int areaScale = 1;
    bool drawn = false;
    areaTarget->setDrawHandler([&] {
        if (!drawn) {
            drawn = true;
            areaScale = area->scaleFactor();
            areaImage = renderPixels(*view, areaTarget, areaScale);
        }
    });
    area->renderOnceInWindow(platform::Size{double(width), double(height)}, areaRenderWait);
    areaTarget->setDrawHandler({});

    std::optional<MetalRenderedImage> layerImage;
    if (areaImage) {
        // The texture surface draws without a window: its context is the display's.
        if (std::shared_ptr<platform::gtk::GtkTextureSurfaceView> surface =
                platform::gtk::GtkTextureSurfaceView::make()) {
            auto layer = std::make_shared<TerminalMetalLayerView>(surface);
            layer->setRenderContentsScale(areaScale);
            layer->setRenderDrawableSize({double(areaImage->size.width), double(areaImage->size.height)});
            layerImage = renderPixels(*view, layer, areaScale);
        }
    }
    if (!areaImage || !layerImage) {
        result.unavailableReason = "no drawable or renderer available";
        return result;
    }
    if (areaImage->bgra.size() != layerImage->bgra.size()) {
        result.unavailableReason = "surfaces produced different buffer sizes";
        return result;
    }
    const std::vector<uint8_t>& first = areaImage->bgra;
    const std::vector<uint8_t>& second = layerImage->bgra;
    result.totalPixels = int64_t(first.size() / 4);
    for (size_t pixel = 0; pixel < first.size() / 4; ++pixel) {
        const uint8_t* a = &first[pixel * 4];
        if (!sameColor(a, first.data()))
            ++result.nonUniformPixels;
        if (!sameColor(a, &second[pixel * 4]))
            ++result.differingPixels;
    }
    return result;
}

} // namespace kestrovan
