// The keyboard's state between events: which keys are down, so that a press of a key already down
// is a repeat, and which side of each modifier is held.
//
// The toolkit reports neither: auto-repeat arrives as further presses (X11 with detectable
// auto-repeat, and GTK's own repeat on Wayland), and the modifier mask does not say left from
// right. Both are kept here from the presses and releases seen, and forgotten when the view
// loses focus, since releases that happen elsewhere never reach it.
#pragma once

#include "Platform/UI/KeyTranslation.h"

#include <cstdint>
#include <set>

namespace platform {

class KeyboardTranslator
{
public:
    /// A key went down: a `keyDown` (a repeat when the key was already down) or, for a modifier
    /// key, a `flagsChanged` with the flags after the change.
    KeyEvent press(const ToolkitKey& key);
    /// A key went up: a `keyUp`, or a `flagsChanged` for a modifier key.
    KeyEvent release(const ToolkitKey& key);
    /// Forgets every held key, as when focus moves away.
    void reset();

    /// The side bits of the modifier keys held now.
    uint32_t heldSides() const { return heldSides_; }
    bool isHeld(uint32_t hardwareKeycode) const { return heldKeys_.count(hardwareKeycode) != 0; }

private:
    /// The side bits that agree with the device-independent flags: a side remembered from a
    /// press whose release went elsewhere is dropped once its flag is gone.
    uint32_t consistentSides(ModifierFlags flags) const;

    std::set<uint32_t> heldKeys_;
    uint32_t heldSides_ = 0;
};

} // namespace platform
