#include "Platform/UI/KeyboardTranslator.h"

namespace platform {

namespace {

// The two side bits of each modifier and the flag they belong to.
struct ModifierSides
{
    uint32_t flag;
    uint32_t sides;
};

constexpr ModifierSides modifierSides[] = {
    {ModifierFlags::shift, ModifierFlags::leftShiftSide | ModifierFlags::rightShiftSide},
    {ModifierFlags::control, ModifierFlags::leftControlSide | ModifierFlags::rightControlSide},
    {ModifierFlags::option, ModifierFlags::leftOptionSide | ModifierFlags::rightOptionSide},
    {ModifierFlags::command, ModifierFlags::leftCommandSide | ModifierFlags::rightCommandSide},
};

uint32_t sidesOfFlag(uint32_t flag)
{
    for (const auto& entry : modifierSides)
        if (entry.flag == flag)
            return entry.sides;
    return 0;
}

} // namespace

uint32_t KeyboardTranslator::consistentSides(ModifierFlags flags) const
{
    uint32_t sides = 0;
    for (const auto& entry : modifierSides)
        if (flags.has(entry.flag))
            sides |= heldSides_ & entry.sides;
    return sides;
}

KeyEvent KeyboardTranslator::press(const ToolkitKey& key)
{
    KeyEvent event = translateKey(key, KeyEventType::keyDown);
    // A press while the key is still down is the keyboard's auto-repeat.
    event.isARepeat = !heldKeys_.insert(key.hardwareKeycode).second;

    if (event.type == KeyEventType::flagsChanged) {
        const uint32_t flag = modifierFlagOfKey(key.keyval).value_or(0);
        heldSides_ |= modifierSideBit(key.keyval);
        if (flag == ModifierFlags::capsLock) {
            // The mask is the state before the key: Caps Lock's press turns the lock over.
            event.modifierFlags.raw ^= ModifierFlags::capsLock;
        } else {
            event.modifierFlags = event.modifierFlags.with(flag);
        }
    }
    event.modifierFlags.raw |= consistentSides(event.modifierFlags);
    return event;
}

KeyEvent KeyboardTranslator::release(const ToolkitKey& key)
{
    KeyEvent event = translateKey(key, KeyEventType::keyUp);
    heldKeys_.erase(key.hardwareKeycode);

    if (event.type == KeyEventType::flagsChanged) {
        const uint32_t flag = modifierFlagOfKey(key.keyval).value_or(0);
        heldSides_ &= ~modifierSideBit(key.keyval);
        // The modifier stays on while its other side is still held; without a side known (the
        // other key went down before this view had focus) the release turns it off.
        const uint32_t sides = sidesOfFlag(flag);
        if (sides != 0 && (heldSides_ & sides) == 0)
            event.modifierFlags = event.modifierFlags.without(flag);
    }
    event.modifierFlags.raw |= consistentSides(event.modifierFlags);
    return event;
}

void KeyboardTranslator::reset()
{
    heldKeys_.clear();
    heldSides_ = 0;
}

} // namespace platform
