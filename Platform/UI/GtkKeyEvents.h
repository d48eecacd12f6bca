// A GTK key event as the view layer's translation reads it: the keysym, the same key with other
// modifiers and in the keymap's first layout, the hardware code, the modifier state and Num Lock.
// The terminal view's widget and the application window's own shortcut handling read keys alike.
#pragma once

#include "Platform/UI/KeyTranslation.h"

#include <gtk/gtk.h>

namespace platform::gtk {

/// The toolkit key of a key event on `display` (`event` may be null: then no layout or time).
ToolkitKey toolkitKeyOf(GdkDisplay* display, GdkEvent* event, guint keyval, guint keycode,
                        GdkModifierType state);

} // namespace platform::gtk
