#include "Vesk/AlertCenter.h"

#include "Platform/UI/GtkAlert.h"

#include <algorithm>
#include <gtk/gtk.h>

namespace vesk {

AlertCenter& AlertCenter::shared()
{
    static AlertCenter center;
    return center;
}

void AlertCenter::present(const platform::Alert& alert, GtkWindow* parent,
                          platform::AlertCompletion completion)
{
    const uint64_t id = nextId_++;
    open_.push_back(OpenAlert{id, alert, parent});
    if (parent)
        g_object_ref(parent);
    platform::gtk::presentAlert(
        alert, parent, [this, id, parent, completion = std::move(completion)](int button) {
            // The alert is gone before its answer acts, which may open the next one.
            open_.erase(std::remove_if(open_.begin(), open_.end(),
                                       [id](const OpenAlert& open) { return open.id == id; }),
                        open_.end());
            // The keyboard goes back to the window the alert was over (a window manager would do so;
            // without one nobody else does).
            if (parent && gtk_widget_get_visible(GTK_WIDGET(parent)) && !hasOpenAlert(parent))
                gtk_window_present(parent);
            if (completion)
                completion(button);
            if (parent)
                g_object_unref(parent);
        });
}

bool AlertCenter::hasOpenAlert(GtkWindow* parent) const
{
    return std::any_of(open_.begin(), open_.end(),
                       [parent](const OpenAlert& open) { return open.parent == parent; });
}

} // namespace vesk
