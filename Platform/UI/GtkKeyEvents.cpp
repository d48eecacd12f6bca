#include "Platform/UI/GtkKeyEvents.h"

namespace platform::gtk {

ToolkitKey toolkitKeyOf(GdkDisplay* display, GdkEvent* event, guint keyval, guint keycode,
                        GdkModifierType state)
{
    ToolkitKey key;
    key.keyval = keyval;
    key.hardwareKeycode = keycode;
    key.state = state;
    key.timestamp = event ? gdk_event_get_time(event) : 0;
    const guint layout = event ? gdk_key_event_get_layout(event) : 0;
    // The same key in the same layout with other modifiers, for the characters the key gives
    // with Shift alone, with none, and with Shift forced on; and the key in the first layout,
    // for shortcuts typed while another layout is active.
    auto translated = [&](GdkModifierType modifiers, guint inLayout) -> uint32_t {
        guint result = 0;
        int effectiveLayout = 0;
        int level = 0;
        GdkModifierType consumed{};
        if (gdk_display_translate_key(display, keycode, modifiers, int(inLayout), &result, &effectiveLayout,
                                      &level, &consumed))
            return result;
        return 0;
    };
    key.keyvalIgnoringModifiers = translated(GdkModifierType(state & GDK_SHIFT_MASK), layout);
    key.keyvalWithoutModifiers = translated(GdkModifierType(0), layout);
    key.keyvalWithShift = translated(GDK_SHIFT_MASK, layout);
    key.keyvalInBaseLayout = translated(GdkModifierType(0), 0);
    // The event's own device is the keyboard it came from. Asking the display for its default
    // seat instead costs X11 clients two round trips to the server, on every press and release.
    GdkDevice* keyboard = event ? gdk_event_get_device(event) : nullptr;
    if (!keyboard || gdk_device_get_source(keyboard) != GDK_SOURCE_KEYBOARD)
        keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
    if (keyboard)
        key.numLock = gdk_device_get_num_lock_state(keyboard);
    return key;
}

} // namespace platform::gtk
