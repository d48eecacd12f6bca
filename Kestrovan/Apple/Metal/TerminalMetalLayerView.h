// The render-thread surface as a render target: a widget showing frames drawn by whoever calls
// the renderer, the render loop's thread as a rule.
//
// The view keeps its drawable size at its bounds times its contents scale (the widget's integer
// scale factor), publishes that geometry under a lock, and hands out a detached surface
// (`TerminalMetalLayerRenderSurface`) from which a render thread takes drawables without touching
// the widget. It draws nothing on its own: when it wants a frame it calls `onNeedsDisplay`, and its
// owner calls the renderer (`needsExternalDrawCall` is true). Everything but the surface's
// `acquireDrawableFrame` runs on the main thread.
#pragma once

#include "Kestrovan/Apple/Metal/MetalRenderTarget.h"
#include "Kestrovan/Locked.h"
#include "Platform/GPU/TextureSurfaceView.h"

namespace kestrovan {

class TerminalMetalLayerRenderSurface final : public MetalRenderSurface
{
public:
    TerminalMetalLayerRenderSurface(std::shared_ptr<platform::gpu::TextureSurfaceView> layer,
                                    MetalSurfaceGeometry geometry);

    /// Stores the geometry the render thread sees next (main thread).
    void publish(const MetalSurfaceGeometry& geometry);
    MetalSurfaceGeometry publishedGeometry() const;
    /// How many times the geometry was published.
    int publishCount() const;

    /// Any thread, with the layer's context current: a texture of the published drawable size
    /// from the ring, its pass, and a present that hands the finished frame to the widget; none
    /// for an empty size or when every texture is still shown.
    std::optional<MetalDrawableFrame> acquireDrawableFrame() override;

private:
    struct Published
    {
        MetalSurfaceGeometry geometry;
        int count = 0;
    };

    std::shared_ptr<platform::gpu::TextureSurfaceView> layer_;
    Locked<Published> published_;
};

class TerminalMetalLayerView final : public MetalRenderTarget
{
public:
    /// A view over the widget `layer`; follows its size and scale factor from now on.
    explicit TerminalMetalLayerView(std::shared_ptr<platform::gpu::TextureSurfaceView> layer);
    ~TerminalMetalLayerView() override;

    /// Called when the view wants a frame drawn (main thread).
    std::function<void()> onNeedsDisplay;

    /// The view's size changed: the drawable follows, then `onNeedsDisplay`.
    void setFrameSize(platform::Size size);
    /// The widget's scale factor changed: it becomes the contents scale (unless one is forced),
    /// then `onNeedsDisplay`.
    void viewDidChangeBackingProperties();
    /// A contents scale kept whatever the widget's scale factor; none follows the widget.
    void setContentsScaleOverride(std::optional<double> scale) { scaleOverride_ = scale; }

    platform::Rect bounds() const { return bounds_; }
    platform::Size drawableSize() const { return drawableSize_; }
    double contentsScale() const { return contentsScale_; }

    /// The layer's device; another cannot be given to it.
    std::shared_ptr<platform::gpu::Device> renderDevice() const override { return layer_->device(); }
    void setRenderDevice(std::shared_ptr<platform::gpu::Device>) override {}
    platform::gpu::TextureFormat renderPixelFormat() const override
    {
        return platform::gpu::TextureFormat::rgba8;
    }
    void setRenderDrawableSize(platform::Size size) override;
    void setRenderContentsScale(double scale) override;
    std::shared_ptr<MetalRenderSurface> detachedRenderSurface() const override { return surface_; }
    std::optional<MetalDrawableFrame> acquireDrawableFrame() override
    {
        return surface_->acquireDrawableFrame();
    }
    bool needsExternalDrawCall() const override { return true; }
    void requestDisplay() override;

private:
    void updateDrawableSize();
    void publishGeometry();
    void geometryChanged();

    std::shared_ptr<platform::gpu::TextureSurfaceView> layer_;
    platform::Rect bounds_;
    platform::Size drawableSize_;
    double contentsScale_ = 1;
    std::optional<double> scaleOverride_;
    std::shared_ptr<TerminalMetalLayerRenderSurface> surface_;
};

} // namespace kestrovan
