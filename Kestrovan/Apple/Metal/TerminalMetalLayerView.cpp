#include "Kestrovan/Apple/Metal/TerminalMetalLayerView.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

TerminalMetalLayerRenderSurface::TerminalMetalLayerRenderSurface(
    std::shared_ptr<platform::gpu::TextureSurfaceView> layer, MetalSurfaceGeometry geometry)
    : layer_(std::move(layer)), published_(Published{geometry, 0})
{}

void TerminalMetalLayerRenderSurface::publish(const MetalSurfaceGeometry& geometry)
{
    published_.withLock([&](Published& published) {
        published.geometry = geometry;
        ++published.count;
    });
}

MetalSurfaceGeometry TerminalMetalLayerRenderSurface::publishedGeometry() const
{
    return published_.withLock([](const Published& published) { return published.geometry; });
}

int TerminalMetalLayerRenderSurface::publishCount() const
{
    return published_.withLock([](const Published& published) { return published.count; });
}

std::optional<MetalDrawableFrame> TerminalMetalLayerRenderSurface::acquireDrawableFrame()
{
    const MetalSurfaceGeometry geometry = publishedGeometry();
    const platform::gpu::PixelSize size{int(std::lround(geometry.drawableSize.width)),
                                        int(std::lround(geometry.drawableSize.height))};
    if (size.isEmpty())
        return std::nullopt;
    auto drawable = layer_->nextDrawable(size);
    if (!drawable)
        return std::nullopt;
    MetalDrawableFrame frame;
    std::weak_ptr<platform::gpu::TextureSurfaceView> layer = layer_;
    frame.drawable = MetalDrawable{drawable->framebuffer, size, nullptr, [layer, taken = *drawable] {
                                       if (auto surface = layer.lock())
                                           surface->present(taken);
                                   }};
    frame.renderPassDescriptor =
        platform::gpu::RenderPass{drawable->framebuffer, size, platform::gpu::ClearColor{}};
    frame.geometry = geometry;
    return frame;
}

TerminalMetalLayerView::TerminalMetalLayerView(std::shared_ptr<platform::gpu::TextureSurfaceView> layer)
    : layer_(std::move(layer))
{
    const platform::Size size = layer_->size();
    bounds_ = platform::Rect{0, 0, size.width, size.height};
    contentsScale_ = std::max(1, layer_->scaleFactor());
    surface_ = std::make_shared<TerminalMetalLayerRenderSurface>(
        layer_, MetalSurfaceGeometry{bounds_, drawableSize_, contentsScale_});
    updateDrawableSize();
    layer_->setGeometryHandler([this] { geometryChanged(); });
}

TerminalMetalLayerView::~TerminalMetalLayerView()
{
    layer_->setGeometryHandler({});
}

void TerminalMetalLayerView::geometryChanged()
{
    const double scale = scaleOverride_.value_or(layer_->scaleFactor());
    if (scale > 0 && scale != contentsScale_)
        viewDidChangeBackingProperties();
    const platform::Size size = layer_->size();
    if (size.width != bounds_.width || size.height != bounds_.height)
        setFrameSize(size);
}

void TerminalMetalLayerView::setFrameSize(platform::Size size)
{
    bounds_ = platform::Rect{0, 0, size.width, size.height};
    updateDrawableSize();
    if (onNeedsDisplay)
        onNeedsDisplay();
}

void TerminalMetalLayerView::viewDidChangeBackingProperties()
{
    setRenderContentsScale(scaleOverride_.value_or(layer_->scaleFactor()));
    if (onNeedsDisplay)
        onNeedsDisplay();
}

void TerminalMetalLayerView::setRenderDrawableSize(platform::Size size)
{
    if (size.width > 0 && size.height > 0 && !(size == drawableSize_))
        drawableSize_ = size;
    publishGeometry();
}

void TerminalMetalLayerView::setRenderContentsScale(double scale)
{
    if (!(scale > 0) || scale == contentsScale_)
        return;
    contentsScale_ = scale;
    updateDrawableSize();
}

void TerminalMetalLayerView::requestDisplay()
{
    if (onNeedsDisplay)
        onNeedsDisplay();
}

void TerminalMetalLayerView::updateDrawableSize()
{
    if (contentsScale_ > 0) {
        const platform::Size size{contentsScale_ * bounds_.width, contentsScale_ * bounds_.height};
        if (size.width > 0 && size.height > 0 && !(size == drawableSize_))
            drawableSize_ = size;
    }
    publishGeometry();
}

void TerminalMetalLayerView::publishGeometry()
{
    surface_->publish(MetalSurfaceGeometry{bounds_, drawableSize_, contentsScale_});
}

} // namespace kestrovan
