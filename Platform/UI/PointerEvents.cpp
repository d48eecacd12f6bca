#include "Platform/UI/PointerEvents.h"

#include <cmath>

namespace platform {

int buttonNumberOfToolkitButton(unsigned toolkitButton)
{
    // The toolkit numbers left, middle, right; the views number left, right, middle.
    switch (toolkitButton) {
    case 0:
        return -1;
    case 1:
        return 0;
    case 2:
        return 2;
    case 3:
        return 1;
    default:
        return int(toolkitButton) - 1;
    }
}

ScrollEvent scrollEventFromToolkit(double dx, double dy, bool unitIsSurface, Point location,
                                   ModifierFlags flags, uint32_t timestamp)
{
    ScrollEvent event;
    event.location = location;
    // The toolkit's positive delta moves towards the end of the content (down, right); the view's
    // positive delta moves towards its beginning. Non-finite deltas from a broken device count as
    // no movement.
    event.scrollingDeltaX = std::isfinite(dx) ? -dx : 0;
    event.scrollingDeltaY = std::isfinite(dy) ? -dy : 0;
    event.hasPreciseScrollingDeltas = unitIsSurface;
    event.modifierFlags = flags;
    event.timestamp = timestamp;
    return event;
}

int ClickCounter::press(int buttonNumber, Point location, uint32_t timestamp)
{
    // Unsigned subtraction copes with the toolkit's 32-bit millisecond clock wrapping around.
    const bool continues = count_ > 0 && buttonNumber == button_ && timestamp - timestamp_ <= intervalMs_ &&
                           std::hypot(location.x - location_.x, location.y - location_.y) <= distance_;
    count_ = continues ? count_ + 1 : 1;
    button_ = buttonNumber;
    location_ = location;
    timestamp_ = timestamp;
    return count_;
}

} // namespace platform
