#include "Platform/GPU/Gtk/FreedMemoryReturn.h"

#include <glib.h>
#include <malloc.h>

namespace platform::gtk {

namespace {

/// Long enough for a surface's render thread to have ended and GTK to have let go of its last
/// texture, short enough that the memory is back before the user looks.
constexpr guint trimDelayMilliseconds = 250;

bool trimPending = false;
int trimsMade = 0;

gboolean trimNow(gpointer)
{
    trimPending = false;
    ++trimsMade;
    malloc_trim(0);
    return G_SOURCE_REMOVE;
}

} // namespace

void returnFreedMemorySoon()
{
    if (trimPending)
        return;
    trimPending = true;
    g_timeout_add(trimDelayMilliseconds, trimNow, nullptr);
}

int freedMemoryReturns()
{
    return trimsMade;
}

} // namespace platform::gtk
