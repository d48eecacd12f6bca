#include "Platform/GPU/Gtk/GtkGLAreaView.h"

#include "Platform/GPU/Gtk/FreedMemoryReturn.h"
#include "Platform/GPU/Gtk/GdkContextBinding.h"

#include <epoxy/gl.h>

namespace platform::gtk {

GtkGLAreaView::GtkGLAreaView() : area_(GTK_WIDGET(g_object_ref_sink(gtk_gl_area_new())))
{
    gtk_gl_area_set_required_version(GTK_GL_AREA(area_), 3, 3);
    gtk_gl_area_set_auto_render(GTK_GL_AREA(area_), TRUE);
    gtk_gl_area_set_has_depth_buffer(GTK_GL_AREA(area_), FALSE);
    gtk_gl_area_set_has_stencil_buffer(GTK_GL_AREA(area_), FALSE);
    // The context comes from the area's own realize handler, so ours runs after it; the objects
    // made on the context are deleted before the area's unrealize handler destroys it.
    g_signal_connect_after(area_, "realize", G_CALLBACK(onRealize), this);
    g_signal_connect(area_, "unrealize", G_CALLBACK(onUnrealize), this);
    g_signal_connect(area_, "render", G_CALLBACK(onRender), this);
}

GtkGLAreaView::~GtkGLAreaView()
{
    g_signal_handlers_disconnect_by_data(area_, this);
    device_.reset();
    g_object_unref(area_);
    returnFreedMemorySoon();
}

void GtkGLAreaView::onRealize(GtkWidget* widget, gpointer self)
{
    auto* view = static_cast<GtkGLAreaView*>(self);
    GtkGLArea* area = GTK_GL_AREA(widget);
    GdkGLContext* context = gtk_gl_area_get_context(area);
    if (!context || gtk_gl_area_get_error(area))
        return;
    view->binding_ = std::make_shared<GdkContextBinding>(context);
    view->device_ = gpu::GLDevice::make(view->binding_);
    if (view->device_ && view->contextHandler_)
        view->contextHandler_(true);
}

void GtkGLAreaView::onUnrealize(GtkWidget*, gpointer self)
{
    auto* view = static_cast<GtkGLAreaView*>(self);
    // Whoever made objects on the device deletes them now, while the context can be bound.
    if (view->device_ && view->contextHandler_)
        view->contextHandler_(false);
    if (view->device_) {
        const gpu::ContextScope scope = view->device_->bindCurrent();
        if (scope.isCurrent())
            view->device_->collectReleased();
    }
    if (view->binding_)
        view->binding_->invalidate();
    view->binding_.reset();
    view->device_.reset();
}

gboolean GtkGLAreaView::onRender(GtkGLArea* area, GdkGLContext*, gpointer self)
{
    auto* view = static_cast<GtkGLAreaView*>(self);
    ++view->renders_;
    if (!view->handler_)
        return TRUE;
    GLint framebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    GtkWidget* widget = GTK_WIDGET(area);
    const int scale = gtk_widget_get_scale_factor(widget);
    const Drawable drawable{uint32_t(framebuffer),
                            {gtk_widget_get_width(widget) * scale, gtk_widget_get_height(widget) * scale}};
    view->handler_(drawable);
    return TRUE;
}

void GtkGLAreaView::queueRender()
{
    gtk_gl_area_queue_render(GTK_GL_AREA(area_));
}

Size GtkGLAreaView::size() const
{
    return Size{double(gtk_widget_get_width(area_)), double(gtk_widget_get_height(area_))};
}

int GtkGLAreaView::scaleFactor() const
{
    return gtk_widget_get_scale_factor(area_);
}

bool GtkGLAreaView::renderOnceInWindow(Size size, std::chrono::milliseconds timeout)
{
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), int(size.width), int(size.height));
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    // No title bar or shadow: the area gets the whole size.
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_child(GTK_WINDOW(window), area_);
    const uint64_t rendersBefore = renders_;
    gtk_window_present(GTK_WINDOW(window));
    // Blocking iterations, woken at the latest by the time-out's own source.
    bool timedOut = false;
    const guint timer = g_timeout_add(
        guint(timeout.count()),
        [](gpointer flag) {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &timedOut);
    while (renders_ == rendersBefore && !timedOut)
        g_main_context_iteration(nullptr, TRUE);
    if (!timedOut)
        g_source_remove(timer);
    const bool rendered = renders_ != rendersBefore;
    gtk_window_set_child(GTK_WINDOW(window), nullptr);
    gtk_window_destroy(GTK_WINDOW(window));
    return rendered;
}

} // namespace platform::gtk
