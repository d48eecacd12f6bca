// One key event as the view core sees it: the physical key, the characters it gives with and
// without modifiers, the modifier flags and whether it repeats.
//
// Characters are Unicode scalars. `characters` is what the key types with every modifier applied
// (Control turns letters into control characters); `charactersIgnoringModifiers` keeps only
// Shift. Two more renderings help the kitty keyboard protocol: the key with no modifiers at all,
// and with Shift alone. Function keys carry their private-use character (KeyCodes.h) in all four.
// A dead key gives no characters: its accent arrives from the input method as marked text. The
// key in the keymap's first layout is given as well, for the kitty keyboard protocol.
#pragma once

#include "Platform/UI/ModifierFlags.h"

#include <cstdint>
#include <string>

namespace platform {

enum class KeyEventType
{
    keyDown,
    keyUp,
    /// A modifier key went down or up; `modifierFlags` is the state after the change.
    flagsChanged,
};

struct KeyEvent
{
    KeyEventType type = KeyEventType::keyDown;
    /// The physical key (KeyCodes.h).
    uint16_t keyCode = 0;
    std::u32string characters;
    std::u32string charactersIgnoringModifiers;
    /// The key with no modifier applied, on the current layout.
    std::u32string charactersWithoutModifiers;
    /// The key with Shift alone applied, on the current layout.
    std::u32string charactersWithShift;
    /// The key with no modifier applied in the keymap's first layout (the one a user with several
    /// layouts switches back to; for "us,ru" the US layout). The standard PC-101 key at the
    /// key's position is the key code's business instead: key codes name positions.
    std::u32string charactersInBaseLayout;
    ModifierFlags modifierFlags;
    /// A press that came while the same key was already down (auto-repeat).
    bool isARepeat = false;
    /// The toolkit's event time in milliseconds.
    uint32_t timestamp = 0;
    /// Num Lock was on (not a modifier flag: the keypad's characters already reflect it).
    bool numLock = false;

    /// The toolkit's own name of the key: its keysym and its hardware code, kept for the input
    /// method and for diagnostics. The core decides only on the fields above.
    uint32_t keyval = 0;
    uint32_t hardwareKeycode = 0;

    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

} // namespace platform
