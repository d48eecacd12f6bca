#include "Platform/UI/MenuKeyRouter.h"

namespace platform {

std::optional<KeyEvent> menuKeyEquivalent(const KeyEvent& event)
{
    if (event.type != KeyEventType::keyDown)
        return std::nullopt;
    const ModifierFlags flags = event.modifierFlags;
    if (flags.has(ModifierFlags::command))
        return event;
    // Exactly Control and Shift (Option held makes it some other chord).
    if (!flags.has(ModifierFlags::control | ModifierFlags::shift) || flags.has(ModifierFlags::option))
        return std::nullopt;

    KeyEvent offered = event;
    const uint32_t controlAndShift = ModifierFlags::control | ModifierFlags::shift |
                                     ModifierFlags::leftControlSide | ModifierFlags::rightControlSide |
                                     ModifierFlags::leftShiftSide | ModifierFlags::rightShiftSide;
    offered.modifierFlags = flags.without(controlAndShift).with(ModifierFlags::command);
    // Ctrl+Shift+T is Command+T, not Command+Shift+T: the key reads as it does without Shift.
    // Keys that type nothing without modifiers keep what they have.
    if (!event.charactersWithoutModifiers.empty()) {
        offered.characters = event.charactersWithoutModifiers;
        offered.charactersIgnoringModifiers = event.charactersWithoutModifiers;
    }
    return offered;
}

MenuKeyRouter::Handler& MenuKeyRouter::handler()
{
    static Handler installed;
    return installed;
}

void MenuKeyRouter::setHandler(Handler newHandler)
{
    handler() = std::move(newHandler);
}

bool MenuKeyRouter::offer(const KeyEvent& event)
{
    const Handler& installed = handler();
    if (!installed)
        return false;
    const auto offered = menuKeyEquivalent(event);
    return offered && installed(*offered);
}

} // namespace platform
