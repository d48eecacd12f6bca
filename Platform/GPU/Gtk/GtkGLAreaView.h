// GTK's GL area as a `GLAreaView`: a widget drawn with GL on the main thread.
//
// The area renders automatically whenever GTK draws it (auto-render on), and on request
// (`queueRender`). Its context exists from realize to unrealize; the device made on it lives as
// long (whoever still holds it after finds it cannot be bound), and a widget realized again gets
// a new device. Its drawable is the framebuffer GTK binds
// for the render signal, of the widget's size times its scale factor.
#pragma once

#include "Platform/GPU/GLAreaView.h"
#include "Platform/GPU/GLDevice.h"
#include "Platform/GPU/Gtk/GdkContextBinding.h"

#include <chrono>
#include <gtk/gtk.h>

namespace platform::gtk {

class GtkGLAreaView final : public gpu::GLAreaView
{
public:
    /// A new GL area asking for OpenGL 3.3 (GTK picks ES where only that exists).
    GtkGLAreaView();
    ~GtkGLAreaView() override;
    GtkGLAreaView(const GtkGLAreaView&) = delete;
    GtkGLAreaView& operator=(const GtkGLAreaView&) = delete;

    /// The GL area, owned by this object.
    GtkWidget* widget() const { return area_; }

    std::shared_ptr<gpu::Device> device() const override { return device_; }
    void setRenderHandler(std::function<void(const Drawable&)> handler) override
    {
        handler_ = std::move(handler);
    }
    void setContextHandler(std::function<void(bool available)> handler) override
    {
        contextHandler_ = std::move(handler);
    }
    void queueRender() override;
    Size size() const override;
    int scaleFactor() const override;

    /// Shows the area alone in a new window of `size` points, waits up to `timeout` for one
    /// render signal and closes the window. False when no render came. Main thread; runs the
    /// default main context meanwhile.
    bool renderOnceInWindow(Size size, std::chrono::milliseconds timeout);

private:
    static void onRealize(GtkWidget* widget, gpointer self);
    static void onUnrealize(GtkWidget* widget, gpointer self);
    static gboolean onRender(GtkGLArea* area, GdkGLContext* context, gpointer self);

    GtkWidget* area_;
    std::shared_ptr<GdkContextBinding> binding_;
    std::shared_ptr<gpu::GLDevice> device_;
    std::function<void(const Drawable&)> handler_;
    std::function<void(bool)> contextHandler_;
    uint64_t renders_ = 0;
};

} // namespace platform::gtk
