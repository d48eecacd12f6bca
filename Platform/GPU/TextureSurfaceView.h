// A widget that shows frames drawn on another thread, as GL textures.
//
// This is the toolkit-free face of the render-thread surface: a render thread draws into
// framebuffers of textures from a small ring with a context of its own, and hands each finished
// frame to the widget, which shows it on the main thread. A texture goes back into the ring only
// after the toolkit has released it, so a frame never draws into a texture still on screen; when
// every texture is held, there is no drawable and the frame waits. Frames are shown with their
// alpha channel: an opaque background draws alpha 1 everywhere.
#pragma once

#include "Platform/GPU/Device.h"
#include "Platform/Graphics/Geometry.h"

#include <functional>
#include <memory>
#include <optional>

namespace platform::gpu {

class TextureSurfaceView
{
public:
    /// One texture of the ring, taken for drawing a frame.
    struct Drawable
    {
        uint32_t framebuffer = 0;
        PixelSize size;
        /// Which texture of the ring.
        uint32_t slot = 0;
    };

    virtual ~TextureSurfaceView() = default;

    /// The device of the render context (its objects are shared with the widget's). Any thread,
    /// one thread at a time.
    virtual std::shared_ptr<Device> device() const = 0;
    /// With the device's context current: a framebuffer of `size` drawing into a texture the
    /// widget no longer holds; none when every texture is held or one cannot be made.
    virtual std::optional<Drawable> nextDrawable(PixelSize size) = 0;
    /// With the device's context current, after the frame is drawn: waits for the GPU to finish
    /// it and hands it to the widget, which shows it from the main thread.
    virtual void present(const Drawable& drawable) = 0;

    /// The widget's size in points (main thread).
    virtual Size size() const = 0;
    /// The widget's integer scale factor (main thread).
    virtual int scaleFactor() const = 0;
    /// Called on the main thread when the size or the scale factor changed.
    virtual void setGeometryHandler(std::function<void()> handler) = 0;
};

} // namespace platform::gpu
