// The surface diagnostics: one picture drawn into the GL area and into an offscreen target, read
// back from both and compared pixel by pixel.
//
// The picture is the renderer's fixed pattern of cell and vertex records through all seven
// pipelines. The GL area draws at its widget's size times its scale factor; the offscreen target
// is given the same pixel size, so that the two images always have the same shape when both
// targets work.

#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"
#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Platform/GPU/Gtk/GtkGLAreaView.h"

namespace kestrovan {

namespace {

/// How long the GL area may take to draw its first frame.
constexpr std::chrono::seconds areaRenderWait{5};

/// Draws the pattern with a new renderer on `target`, waiting for the GPU, and reads it back.
std::optional<MetalRenderedImage> renderPixels(const std::shared_ptr<MetalRenderTarget>& target)
{
    auto made = MetalTerminalRenderer::make(target);
    auto* renderer = std::get_if<std::shared_ptr<MetalTerminalRenderer>>(&made);
    if (!renderer)
        return std::nullopt;
    (*renderer)->waitForCompletionAfterCommit = true;
    (*renderer)->capturesRenderedTexture = true;
    std::optional<MetalRenderedImage> image;
    if ((*renderer)->renderDiagnosticPattern(target->acquireDrawableFrame()))
        image = std::move((*renderer)->lastRenderedTexture);
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

    auto area = std::make_shared<platform::gtk::GtkGLAreaView>();
    auto areaTarget = std::make_shared<MetalGLAreaTarget>(area);
    std::optional<MetalRenderedImage> areaImage;
    int areaScale = 1;
    bool drawn = false;
    areaTarget->setDrawHandler([&] {
        if (!drawn) {
            drawn = true;
            areaScale = area->scaleFactor();
            areaImage = renderPixels(areaTarget);
        }
    });
    area->renderOnceInWindow(platform::Size{double(width), double(height)}, areaRenderWait);
    areaTarget->setDrawHandler({});

    std::optional<MetalRenderedImage> offscreenImage;
    if (areaImage) {
        auto offscreen = std::make_shared<MetalOffscreenTarget>(device);
        offscreen->setRenderContentsScale(areaScale);
        offscreen->setRenderDrawableSize({double(areaImage->size.width), double(areaImage->size.height)});
        offscreenImage = renderPixels(offscreen);
    }
    if (!areaImage || !offscreenImage) {
        result.unavailableReason = "no drawable or renderer available";
        return result;
    }
    if (areaImage->bgra.size() != offscreenImage->bgra.size()) {
        result.unavailableReason = "surfaces produced different buffer sizes";
        return result;
    }
    const std::vector<uint8_t>& first = areaImage->bgra;
    const std::vector<uint8_t>& second = offscreenImage->bgra;
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
