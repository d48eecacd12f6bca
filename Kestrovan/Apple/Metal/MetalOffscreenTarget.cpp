#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"

#include <cmath>

namespace kestrovan {

MetalOffscreenTarget::MetalOffscreenTarget(std::shared_ptr<platform::gpu::Device> device,
                                           platform::Size drawableSize)
    : device_(std::move(device)), drawableSize_(drawableSize)
{}

void MetalOffscreenTarget::setRenderDevice(std::shared_ptr<platform::gpu::Device> device)
{
    if (device != device_)
        framebuffer_.reset();
    device_ = std::move(device);
}

void MetalOffscreenTarget::setRenderDrawableSize(platform::Size size)
{
    if (size.width > 0 && size.height > 0)
        drawableSize_ = size;
}

void MetalOffscreenTarget::setRenderContentsScale(double scale)
{
    if (scale > 0)
        contentsScale_ = scale;
}

std::optional<MetalDrawableFrame> MetalOffscreenTarget::acquireDrawableFrame()
{
    const platform::gpu::PixelSize size{int(std::lround(drawableSize_.width)),
                                        int(std::lround(drawableSize_.height))};
    if (!device_ || size.isEmpty())
        return std::nullopt;
    if (!framebuffer_ || framebuffer_->size() != size) {
        const platform::gpu::ContextScope scope = device_->bindCurrent();
        if (!scope.isCurrent())
            return std::nullopt;
        auto texture = device_->makeTexture(platform::gpu::TextureFormat::rgba8, size);
        framebuffer_ = texture ? device_->makeFramebuffer(std::move(texture)) : nullptr;
        if (!framebuffer_)
            return std::nullopt;
    }
    MetalDrawableFrame frame;
    frame.drawable = MetalDrawable{framebuffer_->glName(), size, framebuffer_->color(), {}};
    frame.renderPassDescriptor =
        platform::gpu::RenderPass{framebuffer_->glName(), size, platform::gpu::ClearColor{}};
    frame.geometry = MetalSurfaceGeometry{
        platform::Rect{0, 0, drawableSize_.width / contentsScale_, drawableSize_.height / contentsScale_},
        drawableSize_, contentsScale_};
    return frame;
}

std::vector<uint8_t> MetalOffscreenTarget::readPixels() const
{
    if (!framebuffer_ || !device_)
        return {};
    const platform::gpu::PixelSize size = framebuffer_->size();
    std::vector<uint8_t> pixels(size_t(size.width) * size_t(size.height) * 4);
    const platform::gpu::ContextScope scope = device_->bindCurrent();
    if (!scope.isCurrent() ||
        !device_->readPixels(framebuffer_->glName(), {0, 0, size.width, size.height}, pixels.data()))
        return {};
    return pixels;
}

} // namespace kestrovan
