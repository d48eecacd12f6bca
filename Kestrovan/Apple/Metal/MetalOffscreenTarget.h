// A render target that draws into a framebuffer of its own, for tests and read-back.
//
// Nothing shows its frames and nothing calls back to draw: the caller renders and then reads the
// pixels with `readPixels`. Its framebuffer is made on the target's device (binding its context)
// the first time a drawable of a new size is asked for.
#pragma once

#include "Kestrovan/Apple/Metal/MetalRenderTarget.h"

#include <vector>

namespace kestrovan {

class MetalOffscreenTarget final : public MetalRenderTarget
{
public:
    /// A target of `drawableSize` pixels on `device`; without a device the renderer gives it the
    /// system's default device.
    explicit MetalOffscreenTarget(std::shared_ptr<platform::gpu::Device> device = nullptr,
                                  platform::Size drawableSize = {});

    std::shared_ptr<platform::gpu::Device> renderDevice() const override { return device_; }
    void setRenderDevice(std::shared_ptr<platform::gpu::Device> device) override;
    platform::gpu::TextureFormat renderPixelFormat() const override
    {
        return platform::gpu::TextureFormat::rgba8;
    }
    void setRenderDrawableSize(platform::Size size) override;
    void setRenderContentsScale(double scale) override;
    std::shared_ptr<MetalRenderSurface> detachedRenderSurface() const override { return nullptr; }
    std::optional<MetalDrawableFrame> acquireDrawableFrame() override;
    bool needsExternalDrawCall() const override { return true; }
    void requestDisplay() override { ++displayRequests_; }

    platform::Size drawableSize() const { return drawableSize_; }
    double contentsScale() const { return contentsScale_; }
    /// How often `requestDisplay` was called.
    int displayRequests() const { return displayRequests_; }
    /// The pixels of the framebuffer (blue, green, red, alpha; bottom row first); empty before
    /// the first drawable. Binds the device's context for the read.
    std::vector<uint8_t> readPixels() const;

private:
    std::shared_ptr<platform::gpu::Device> device_;
    platform::Size drawableSize_;
    double contentsScale_ = 1;
    std::shared_ptr<platform::gpu::Framebuffer> framebuffer_;
    int displayRequests_ = 0;
};

} // namespace kestrovan
