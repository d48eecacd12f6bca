#include "Platform/GPU/Gtk/GdkContextBinding.h"

namespace platform::gtk {

GdkContextBinding::GdkContextBinding(GdkGLContext* context) : context_(GDK_GL_CONTEXT(g_object_ref(context)))
{}

GdkContextBinding::~GdkContextBinding()
{
    if (gdk_gl_context_get_current() == context_)
        gdk_gl_context_clear_current();
    g_object_unref(context_);
}

gpu::ContextScope GdkContextBinding::bind()
{
    if (!valid_)
        return gpu::ContextScope(false, {});
    GdkGLContext* previous = gdk_gl_context_get_current();
    if (previous == context_)
        return gpu::ContextScope(true, {});
    if (previous)
        g_object_ref(previous);
    gdk_gl_context_make_current(context_);
    const bool current = gdk_gl_context_get_current() == context_;
    return gpu::ContextScope(current, [previous] {
        if (previous) {
            gdk_gl_context_make_current(previous);
            g_object_unref(previous);
        } else {
            gdk_gl_context_clear_current();
        }
    });
}

bool GdkContextBinding::isES() const
{
    return gdk_gl_context_get_use_es(context_);
}

} // namespace platform::gtk
