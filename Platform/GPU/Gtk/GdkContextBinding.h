// A GDK GL context as a context a `GLDevice` can bind.
//
// Binding uses GDK's own notion of the current context (per thread), so GTK and the renderer
// never disagree about which context is current: the previous one is made current again when the
// scope ends.
#pragma once

#include "Platform/GPU/GLDevice.h"

#include <gdk/gdk.h>

namespace platform::gtk {

class GdkContextBinding final : public gpu::ContextBinding
{
public:
    /// Binds `context` (realized), holding a reference to it.
    explicit GdkContextBinding(GdkGLContext* context);
    ~GdkContextBinding() override;
    GdkContextBinding(const GdkContextBinding&) = delete;
    GdkContextBinding& operator=(const GdkContextBinding&) = delete;

    gpu::ContextScope bind() override;
    bool isES() const override;
    /// The context is going away with its widget: from now on it cannot be bound.
    void invalidate() { valid_ = false; }

    GdkGLContext* context() const { return context_; }

private:
    GdkGLContext* context_;
    bool valid_ = true;
};

} // namespace platform::gtk
