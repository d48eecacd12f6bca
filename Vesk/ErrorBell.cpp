#include "Vesk/ErrorBell.h"

#include <gtk/gtk.h>

namespace vesk {

namespace {

uint64_t rings = 0;

} // namespace

void ErrorBell::ring(GtkWidget* widget)
{
    ++rings;
    if (widget) {
        gtk_widget_error_bell(widget);
        return;
    }
    if (GdkDisplay* display = gdk_display_get_default())
        gdk_display_beep(display);
}

uint64_t ErrorBell::count()
{
    return rings;
}

} // namespace vesk
