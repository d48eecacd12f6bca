// The GL area as a render target: frames drawn on the main thread, inside the widget's render
// signal.
//
// The widget decides when it draws (whenever GTK draws it, and after `requestDisplay`); each time,
// the target's draw handler runs with the frame's drawable available from `acquireDrawableFrame`,
// and nowhere else: outside the render signal there is no drawable. The widget sizes its
// drawables itself, the widget's size times its integer scale factor, so the size and scale
// requests change nothing, and its device is the widget's context, from realize to unrealize.
#pragma once

#include "Kestrovan/Apple/Metal/MetalRenderTarget.h"
#include "Platform/GPU/GLAreaView.h"

namespace kestrovan {

class MetalGLAreaTarget final : public MetalRenderTarget
{
public:
    explicit MetalGLAreaTarget(std::shared_ptr<platform::gpu::GLAreaView> view);
    ~MetalGLAreaTarget() override;

    /// Runs inside every render signal, where the frame's drawable can be acquired.
    void setDrawHandler(std::function<void()> handler) { drawHandler_ = std::move(handler); }

    std::shared_ptr<platform::gpu::Device> renderDevice() const override { return view_->device(); }
    /// The widget's context is its device; another cannot be given to it.
    void setRenderDevice(std::shared_ptr<platform::gpu::Device>) override {}
    platform::gpu::TextureFormat renderPixelFormat() const override
    {
        return platform::gpu::TextureFormat::rgba8;
    }
    void setRenderDrawableSize(platform::Size) override {}
    void setRenderContentsScale(double) override {}
    std::shared_ptr<MetalRenderSurface> detachedRenderSurface() const override { return nullptr; }
    std::optional<MetalDrawableFrame> acquireDrawableFrame() override;
    bool needsExternalDrawCall() const override { return false; }
    void requestDisplay() override { view_->queueRender(); }

    const std::shared_ptr<platform::gpu::GLAreaView>& view() const { return view_; }

private:
    std::shared_ptr<platform::gpu::GLAreaView> view_;
    std::function<void()> drawHandler_;
    std::optional<platform::gpu::GLAreaView::Drawable> current_;
};

} // namespace kestrovan
