// What the GPU renderer draws into: a render target, the drawable frame it hands out, and the
// surface geometry a render thread may read.
//
// The renderer draws into a target, not into a particular widget. Three targets exist: the GL
// area (`MetalGLAreaTarget`, drawn on the main thread inside the widget's render signal), the
// render-thread texture surface (`TerminalMetalLayerView`, drawn by whoever calls the renderer,
// through its detached surface) and an offscreen framebuffer (`MetalOffscreenTarget`, for tests
// and read-back). A drawable frame is a framebuffer to draw one frame into, the pass that clears
// and draws it, the geometry it was taken with, and how to show it once drawn.
#pragma once

#include "Platform/GPU/Device.h"
#include "Platform/Graphics/Geometry.h"

#include <functional>
#include <memory>
#include <optional>

namespace kestrovan {

/// The size of a surface as a render thread may read it.
struct MetalSurfaceGeometry
{
    /// The widget's bounds in points.
    platform::Rect bounds;
    /// Drawables are this many pixels.
    platform::Size drawableSize;
    double contentsScale = 1;

    bool operator==(const MetalSurfaceGeometry&) const = default;
};

/// One frame's drawable: its framebuffer and size, the texture behind it when the target has one
/// of its own, and what shows it once drawn (nothing to do for the GL area and offscreen targets).
struct MetalDrawable
{
    uint32_t framebuffer = 0;
    platform::gpu::PixelSize size;
    std::shared_ptr<platform::gpu::Texture> texture;
    std::function<void()> present;
};

struct MetalDrawableFrame
{
    MetalDrawable drawable;
    /// The pass drawing into the drawable; the renderer sets its clear colour.
    platform::gpu::RenderPass renderPassDescriptor;
    MetalSurfaceGeometry geometry;
};

/// A surface a render thread may take drawables from without touching the widget.
class MetalRenderSurface
{
public:
    virtual ~MetalRenderSurface() = default;
    /// The next drawable frame, or none when none can be had now (the frame is then skipped).
    virtual std::optional<MetalDrawableFrame> acquireDrawableFrame() = 0;
};

class MetalRenderTarget
{
public:
    virtual ~MetalRenderTarget() = default;

    /// The device the target draws with; none when it names none (the renderer then takes the
    /// system's default device and sets it here).
    virtual std::shared_ptr<platform::gpu::Device> renderDevice() const = 0;
    virtual void setRenderDevice(std::shared_ptr<platform::gpu::Device> device) = 0;
    /// The pixel format of the target's drawables.
    virtual platform::gpu::TextureFormat renderPixelFormat() const = 0;
    /// Asks for drawables of this many pixels.
    virtual void setRenderDrawableSize(platform::Size size) = 0;
    /// The backing scale of the target.
    virtual void setRenderContentsScale(double scale) = 0;
    /// The surface a render thread may use, or none.
    virtual std::shared_ptr<MetalRenderSurface> detachedRenderSurface() const = 0;
    /// The next drawable with its pass and geometry, or none when none can be had now.
    virtual std::optional<MetalDrawableFrame> acquireDrawableFrame() = 0;
    /// True when the target does not call back to draw by itself, so the view must call the
    /// renderer.
    virtual bool needsExternalDrawCall() const = 0;
    /// Asks the target to show a new frame soon.
    virtual void requestDisplay() = 0;
};

} // namespace kestrovan
