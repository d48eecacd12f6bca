#include "Platform/UI/PointerEvents.h"

#include <algorithm>
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

void HeldButtons::press(int buttonNumber, int clickCount)
{
    release(buttonNumber);
    held_.emplace_back(buttonNumber, clickCount);
}

std::optional<int> HeldButtons::release(int buttonNumber)
{
    const auto at = std::find_if(held_.begin(), held_.end(),
                                 [buttonNumber](const auto& entry) { return entry.first == buttonNumber; });
    if (at == held_.end())
        return std::nullopt;
    const int clickCount = at->second;
    held_.erase(at);
    return clickCount;
}

std::optional<int> HeldButtons::anyHeld() const
{
    if (held_.empty())
        return std::nullopt;
    return std::min_element(held_.begin(), held_.end())->first;
}

bool HeldButtons::isHeld(int buttonNumber) const
{
    return std::any_of(held_.begin(), held_.end(),
                       [buttonNumber](const auto& entry) { return entry.first == buttonNumber; });
}

std::vector<std::pair<int, int>> HeldButtons::cancelAll()
{
    return std::exchange(held_, {});
}

} // namespace platform
