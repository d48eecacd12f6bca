#include "Platform/UI/GtkKeyEvents.h"

namespace platform::gtk {

namespace {

/// On a keyboard device: its Num Lock state as last read (1 off, 2 on; none when it must be read),
/// and whether its changes are watched.
constexpr const char* numLockStateKey = "platform-num-lock-state";
constexpr const char* numLockWatchedKey = "platform-num-lock-watched";

bool isKeypadKey(guint keyval)
{
    return keyval >= GDK_KEY_KP_Space && keyval <= GDK_KEY_KP_Equal;
}

/// Num Lock on `keyboard`. GDK on X11 asks the server on every read (a round trip on each key, the
/// echo of which waits for it), so the state is read once and kept until the device reports a
/// change or Num Lock is pressed; the keypad's keys, which it matters most to, read it afresh.
bool numLockOf(GdkDevice* keyboard, guint keyval)
{
    GObject* object = G_OBJECT(keyboard);
    if (!g_object_get_data(object, numLockWatchedKey)) {
        g_object_set_data(object, numLockWatchedKey, GINT_TO_POINTER(1));
        g_signal_connect(keyboard, "notify::num-lock-state",
                         G_CALLBACK(+[](GObject* device, GParamSpec*, gpointer) {
                             g_object_set_data(device, numLockStateKey, nullptr);
                         }),
                         nullptr);
    }
    const int kept = GPOINTER_TO_INT(g_object_get_data(object, numLockStateKey));
    if (kept != 0 && !isKeypadKey(keyval) && keyval != GDK_KEY_Num_Lock)
        return kept == 2;
    const bool on = gdk_device_get_num_lock_state(keyboard);
    // Num Lock's own press toggles the state, which GDK may learn only after the key's event: the
    // next key reads it again.
    g_object_set_data(object, numLockStateKey,
                      keyval == GDK_KEY_Num_Lock ? nullptr : GINT_TO_POINTER(on ? 2 : 1));
    return on;
}

} // namespace

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
    fillKeyReadings(
        key, (state & GDK_SHIFT_MASK) != 0, layout, [&](bool shift, uint32_t inLayout) -> uint32_t {
            guint result = 0;
            int effectiveLayout = 0;
            int level = 0;
            GdkModifierType consumed{};
            if (gdk_display_translate_key(display, keycode, shift ? GDK_SHIFT_MASK : GdkModifierType(0),
                                          int(inLayout), &result, &effectiveLayout, &level, &consumed))
                return result;
            return 0;
        });
    // The event's own device is the keyboard it came from. Asking the display for its default
    // seat instead costs X11 clients a round trip to the server on every press and release.
    GdkDevice* keyboard = event ? gdk_event_get_device(event) : nullptr;
    if (!keyboard || gdk_device_get_source(keyboard) != GDK_SOURCE_KEYBOARD)
        keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
    if (keyboard)
        key.numLock = numLockOf(keyboard, keyval);
    return key;
}

} // namespace platform::gtk
