// The modifier flags of key, mouse and scroll events, in the bit layout the view's key tables use.
//
// The high half holds the device-independent flags (Shift, Control, Option, Command, Caps Lock,
// and the numeric-pad and function-key markers of a key); the low half holds the side bits that
// tell the left and right key of each modifier apart while it is held. On Linux Command is Super,
// Option is Alt and Control is Ctrl; AltGr (ISO Level 3) is not a modifier here, since its
// characters arrive already composed.
#pragma once

#include <cstdint>

namespace platform {

struct ModifierFlags
{
    // Device-independent flags.
    static constexpr uint32_t capsLock = 0x10000;
    static constexpr uint32_t shift = 0x20000;
    static constexpr uint32_t control = 0x40000;
    static constexpr uint32_t option = 0x80000;
    static constexpr uint32_t command = 0x100000;
    /// The key is on the numeric keypad (the arrow keys carry it as well).
    static constexpr uint32_t numericPad = 0x200000;
    static constexpr uint32_t help = 0x400000;
    /// The key is a function key: F-keys, arrows and the navigation cluster.
    static constexpr uint32_t function = 0x800000;
    static constexpr uint32_t deviceIndependentMask = 0xFFFF0000;

    // Side bits: which physical key of a modifier is held.
    static constexpr uint32_t leftControlSide = 0x1;
    static constexpr uint32_t leftShiftSide = 0x2;
    static constexpr uint32_t rightShiftSide = 0x4;
    static constexpr uint32_t leftCommandSide = 0x8;
    static constexpr uint32_t rightCommandSide = 0x10;
    static constexpr uint32_t leftOptionSide = 0x20;
    static constexpr uint32_t rightOptionSide = 0x40;
    static constexpr uint32_t rightControlSide = 0x2000;

    uint32_t raw = 0;

    /// True when every bit of `bits` is set.
    constexpr bool has(uint32_t bits) const { return (raw & bits) == bits; }
    /// True when any bit of `bits` is set.
    constexpr bool hasAny(uint32_t bits) const { return (raw & bits) != 0; }
    constexpr ModifierFlags with(uint32_t bits) const { return ModifierFlags{raw | bits}; }
    constexpr ModifierFlags without(uint32_t bits) const { return ModifierFlags{raw & ~bits}; }
    /// Only the four modifiers a shortcut is made of: Shift, Control, Option and Command.
    constexpr ModifierFlags shortcutModifiers() const
    {
        return ModifierFlags{raw & (shift | control | option | command)};
    }

    friend constexpr bool operator==(const ModifierFlags&, const ModifierFlags&) = default;
};

} // namespace platform
