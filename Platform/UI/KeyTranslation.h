// Turns the toolkit's description of a key (its keysym, hardware code and modifier state) into
// the view's `KeyEvent`: key code, characters and modifier flags.
//
// This is a pure function of its input, so the whole key table is tested without a display. The
// key code comes from the key's position (the Linux evdev code, which X11 and Wayland report plus
// 8), the characters from its keysym. The keypad follows Num Lock: with Num Lock on its keys are
// the keypad's digits and operators under the keypad's key codes; with Num Lock off the digit keys
// are navigation keys, which carry the function-key characters and the numeric-pad flag under key
// codes outside the keypad's, so that they read as the keypad's Home, Up and so on rather than as
// digits. Keypad 5 without Num Lock is the keypad's Begin key, read through the Clear key's code.
#pragma once

#include "Platform/UI/KeyEvent.h"

#include <cstdint>
#include <optional>

namespace platform {

/// What the toolkit reports for one key event.
struct ToolkitKey
{
    /// The keysym with the event's modifiers and layout group applied.
    uint32_t keyval = 0;
    /// The same key (same layout group) translated with the event's Shift alone, with no
    /// modifiers, and with Shift forced on.
    uint32_t keyvalIgnoringModifiers = 0;
    uint32_t keyvalWithoutModifiers = 0;
    uint32_t keyvalWithShift = 0;
    /// The key translated with no modifiers in the keymap's first layout.
    uint32_t keyvalInBaseLayout = 0;
    /// The hardware key code: the evdev code plus 8.
    uint32_t hardwareKeycode = 0;
    /// The toolkit's modifier mask (GdkModifierType bits) as the event carries it: the state
    /// before this key took effect.
    uint32_t state = 0;
    bool numLock = false;
    uint32_t timestamp = 0;
};

/// Fills the four other readings of a key (`keyvalIgnoringModifiers`, `keyvalWithoutModifiers`,
/// `keyvalWithShift`, `keyvalInBaseLayout`) from `translate(shift, layout)`, which reads the key
/// with Shift alone (or no modifier) in a layout. Readings that ask the same question share one
/// answer: with Shift up the key ignoring modifiers is the key without them, with it down the key
/// with Shift, and in the first layout the base layout's key is the key without modifiers. A
/// keymap's translation is costly (X11 scans the whole keymap for each), and a typed key is read
/// twice, on press and on release.
template <typename Translate>
void fillKeyReadings(ToolkitKey& key, bool shiftDown, uint32_t layout, Translate&& translate)
{
    key.keyvalWithoutModifiers = translate(false, layout);
    key.keyvalWithShift = translate(true, layout);
    key.keyvalIgnoringModifiers = shiftDown ? key.keyvalWithShift : key.keyvalWithoutModifiers;
    key.keyvalInBaseLayout = layout == 0 ? key.keyvalWithoutModifiers : translate(false, 0);
}

/// The key code of the key at a hardware position; keys without one get
/// `keycode::unmappedKeyCodeBase` plus their evdev code.
uint16_t keyCodeForHardwareKeycode(uint32_t hardwareKeycode);

/// The private-use character of a function keysym (arrows, F1-F35, navigation and system keys,
/// and their keypad forms), or nothing for other keysyms.
std::optional<char32_t> functionKeyCharacter(uint32_t keyval);

/// The modifier flag a modifier keysym stands for (Shift, Control, Option, Command, Caps Lock),
/// 0 for Num Lock and AltGr, nothing for keys that are not modifiers.
std::optional<uint32_t> modifierFlagOfKey(uint32_t keyval);

/// The side bit of a modifier keysym (left or right Shift, Control, Option, Command), or 0.
uint32_t modifierSideBit(uint32_t keyval);

/// The device-independent flags of a toolkit modifier mask.
ModifierFlags modifierFlagsOfState(uint32_t state);

/// The character a control chord types: Control applied to `c` (letters and @[\]^_ give C0
/// controls, space gives NUL, ? gives DEL); other characters stay as they are.
char32_t applyingControl(char32_t c);

/// Translates one key event. Modifier keys give `flagsChanged` whatever `type` says. The result's
/// flags are the state before the event (a modifier key's own change is the caller's, which also
/// knows the side bits and repeats: see KeyboardTranslator).
KeyEvent translateKey(const ToolkitKey& key, KeyEventType type);

} // namespace platform
