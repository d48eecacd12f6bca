// The GObject boilerplate of a GTK widget class whose instances each own one C++ object.
//
// `GtkWidgetSubclass<Impl>` registers a subclass of GtkWidget named `Impl::typeName` on first use
// and routes the widget's virtual functions to members of `Impl`: measure, size_allocate,
// snapshot, root, unroot, realize, unrealize and dispose. The C++ object is made right after the
// GObject (`create` passes its arguments on) and deleted when the GObject is finalized, so it lives
// exactly as long as the widget. Each member may call `parentClass()` to chain up. Widget classes
// hold no GObject code of their own beyond their `Impl`.
#pragma once

#include <gtk/gtk.h>
#include <utility>

namespace platform::gtk {

template <class Impl> class GtkWidgetSubclass
{
public:
    struct Instance
    {
        GtkWidget parent;
        Impl* impl;
    };

    struct Class
    {
        GtkWidgetClass parentClass;
    };

    /// The registered type.
    static GType type()
    {
        static const GType registered = [] {
            GTypeInfo info{};
            info.class_size = sizeof(Class);
            info.class_init = classInit;
            info.instance_size = sizeof(Instance);
            info.instance_init = instanceInit;
            return g_type_register_static(GTK_TYPE_WIDGET, Impl::typeName, &info, GTypeFlags(0));
        }();
        return registered;
    }

    /// A new widget whose C++ object is `Impl(widget, args...)`. The widget is floating, as new
    /// GTK widgets are.
    template <class... Args> static GtkWidget* create(Args&&... args)
    {
        GtkWidget* widget = GTK_WIDGET(g_object_new(type(), nullptr));
        reinterpret_cast<Instance*>(widget)->impl = new Impl(widget, std::forward<Args>(args)...);
        return widget;
    }

    /// The C++ object of a widget of this class, or null for any other widget.
    static Impl* from(GtkWidget* widget)
    {
        if (!widget || !G_TYPE_CHECK_INSTANCE_TYPE(widget, type()))
            return nullptr;
        return reinterpret_cast<Instance*>(widget)->impl;
    }

    static GtkWidgetClass* parentClass() { return parentClass_; }

private:
    static inline GtkWidgetClass* parentClass_ = nullptr;

    static void classInit(gpointer klass, gpointer)
    {
        parentClass_ = GTK_WIDGET_CLASS(g_type_class_peek_parent(klass));
        GObjectClass* objectClass = G_OBJECT_CLASS(klass);
        objectClass->dispose = dispose;
        objectClass->finalize = finalize;
        GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
        widgetClass->measure = measure;
        widgetClass->size_allocate = sizeAllocate;
        widgetClass->snapshot = snapshot;
        widgetClass->root = root;
        widgetClass->unroot = unroot;
        widgetClass->realize = realize;
        widgetClass->unrealize = unrealize;
        Impl::classInit(widgetClass);
    }

    static void instanceInit(GTypeInstance* instance, gpointer)
    {
        reinterpret_cast<Instance*>(instance)->impl = nullptr;
    }

    static Impl* impl(gpointer widget) { return reinterpret_cast<Instance*>(widget)->impl; }

    static void dispose(GObject* object)
    {
        if (Impl* self = impl(object))
            self->dispose();
        G_OBJECT_CLASS(parentClass_)->dispose(object);
    }

    static void finalize(GObject* object)
    {
        delete impl(object);
        reinterpret_cast<Instance*>(object)->impl = nullptr;
        G_OBJECT_CLASS(parentClass_)->finalize(object);
    }

    static void measure(GtkWidget* widget, GtkOrientation orientation, int forSize, int* minimum,
                        int* natural, int* minimumBaseline, int* naturalBaseline)
    {
        *minimum = *natural = 0;
        *minimumBaseline = *naturalBaseline = -1;
        if (Impl* self = impl(widget))
            self->measure(orientation, forSize, minimum, natural);
    }

    static void sizeAllocate(GtkWidget* widget, int width, int height, int /*baseline*/)
    {
        if (Impl* self = impl(widget))
            self->sizeAllocate(width, height);
    }

    static void snapshot(GtkWidget* widget, GtkSnapshot* snapshot)
    {
        if (Impl* self = impl(widget))
            self->snapshot(snapshot);
    }

    static void root(GtkWidget* widget)
    {
        parentClass_->root(widget);
        if (Impl* self = impl(widget))
            self->rooted();
    }

    static void unroot(GtkWidget* widget)
    {
        if (Impl* self = impl(widget))
            self->unrooted();
        parentClass_->unroot(widget);
    }

    static void realize(GtkWidget* widget)
    {
        parentClass_->realize(widget);
        if (Impl* self = impl(widget))
            self->realized();
    }

    static void unrealize(GtkWidget* widget)
    {
        if (Impl* self = impl(widget))
            self->unrealized();
        parentClass_->unrealize(widget);
    }
};

} // namespace platform::gtk
