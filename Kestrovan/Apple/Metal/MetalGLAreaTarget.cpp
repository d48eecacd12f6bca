#include "Kestrovan/Apple/Metal/MetalGLAreaTarget.h"

namespace kestrovan {

MetalGLAreaTarget::MetalGLAreaTarget(std::shared_ptr<platform::gpu::GLAreaView> view) : view_(std::move(view))
{
    view_->setRenderHandler([this](const platform::gpu::GLAreaView::Drawable& drawable) {
        current_ = drawable;
        if (drawHandler_)
            drawHandler_();
        current_.reset();
    });
}

MetalGLAreaTarget::~MetalGLAreaTarget()
{
    view_->setRenderHandler({});
}

std::optional<MetalDrawableFrame> MetalGLAreaTarget::acquireDrawableFrame()
{
    if (!current_ || current_->size.isEmpty())
        return std::nullopt;
    const double scale = view_->scaleFactor();
    const platform::Size points = view_->size();
    MetalDrawableFrame frame;
    frame.drawable = MetalDrawable{current_->framebuffer, current_->size, nullptr, {}};
    frame.renderPassDescriptor =
        platform::gpu::RenderPass{current_->framebuffer, current_->size, platform::gpu::ClearColor{}};
    frame.geometry = MetalSurfaceGeometry{
        platform::Rect{0, 0, points.width, points.height},
        platform::Size{double(current_->size.width), double(current_->size.height)}, scale};
    return frame;
}

} // namespace kestrovan
