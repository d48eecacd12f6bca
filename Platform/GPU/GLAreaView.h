// A widget that draws with GL on the main thread, inside its own render callback.
//
// This is the toolkit-free face of GTK's GL area: the engine's render target holds one of these
// and never sees GTK. The widget owns its context and its framebuffer; a drawable exists only
// while `renderHandler` runs, where the context is current and the framebuffer bound. Requests
// for a new frame come from outside the handler (a request made inside it schedules nothing).
// GTK shows the framebuffer with its alpha channel: a frame over an opaque background draws alpha
// 1 everywhere, and only a translucent one lets the window show through.
#pragma once

#include "Platform/GPU/Device.h"
#include "Platform/Graphics/Geometry.h"

#include <functional>
#include <memory>

namespace platform::gpu {

class GLAreaView
{
public:
    /// The framebuffer of the frame being drawn: its GL name and its size in pixels.
    struct Drawable
    {
        uint32_t framebuffer = 0;
        PixelSize size;
    };

    virtual ~GLAreaView() = default;

    /// The device of the widget's context; null until the widget is realized and after it is
    /// unrealized (the context and every object made on it are gone then).
    virtual std::shared_ptr<Device> device() const = 0;
    /// Called on the main thread, from the widget's render signal, with the drawable. The
    /// widget shows the framebuffer's contents afterwards.
    virtual void setRenderHandler(std::function<void(const Drawable&)> handler) = 0;
    /// Called on the main thread with true once a realize made a new device, and with false when
    /// an unrealize is about to lose the device (its context can still be bound then, so objects
    /// made on it can be deleted).
    virtual void setContextHandler(std::function<void(bool available)> /*handler*/) {}
    /// Asks for the render signal soon.
    virtual void queueRender() = 0;
    /// The widget's size in points.
    virtual Size size() const = 0;
    /// The widget's integer scale factor: drawables are size x scale pixels.
    virtual int scaleFactor() const = 0;
};

} // namespace platform::gpu
