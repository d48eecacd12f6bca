// Mouse and scroll events as the view core sees them, the pointer shapes it can ask for, and the
// small rules that turn the toolkit's pointer input into them.
//
// Positions are in the receiving view's y-up frame. Buttons are numbered 0 left, 1 right,
// 2 middle, then the rest in order. A scroll's `scrollingDeltaY` is positive when the content is
// to move towards its beginning (the wheel rolled away from the user); precise deltas
// (touchpads) are in points, line deltas (mouse wheels) in lines.
#pragma once

#include "Platform/UI/ModifierFlags.h"
#include "Platform/UI/UIGeometry.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

enum class MouseEventType
{
    down,
    up,
    /// The pointer moved with a button held.
    dragged,
    /// The pointer moved with no button held.
    moved,
    entered,
    exited,
};

struct MouseEvent
{
    MouseEventType type = MouseEventType::down;
    int buttonNumber = 0;
    Point location;
    ModifierFlags modifierFlags;
    /// 1 for a single click, 2 for a double click and so on; 0 for motion.
    int clickCount = 0;
    uint32_t timestamp = 0;

    friend bool operator==(const MouseEvent&, const MouseEvent&) = default;
};

struct ScrollEvent
{
    Point location;
    double scrollingDeltaX = 0;
    double scrollingDeltaY = 0;
    /// True for a touchpad's distances in points; false for a wheel's lines.
    bool hasPreciseScrollingDeltas = false;
    ModifierFlags modifierFlags;
    uint32_t timestamp = 0;

    friend bool operator==(const ScrollEvent&, const ScrollEvent&) = default;
};

enum class CursorShape
{
    arrow,
    iBeam,
    pointingHand,
};

/// The button number of the toolkit's button (1 left, 2 middle, 3 right, then the rest); -1 for 0.
int buttonNumberOfToolkitButton(unsigned toolkitButton);

/// A scroll event from the toolkit's deltas (positive dy scrolls towards the end of the content),
/// in `unitIsSurface` (touchpad points) or wheel steps.
ScrollEvent scrollEventFromToolkit(double dx, double dy, bool unitIsSurface, Point location,
                                   ModifierFlags flags, uint32_t timestamp);

/// Counts clicks: a press of the same button soon after the last and near it continues the
/// series, anything else starts a new one.
class ClickCounter
{
public:
    /// `intervalMs` and `distance` are the toolkit's double-click time and distance.
    ClickCounter(uint32_t intervalMs = 400, double distance = 5)
        : intervalMs_(intervalMs), distance_(distance)
    {}

    void setLimits(uint32_t intervalMs, double distance)
    {
        intervalMs_ = intervalMs;
        distance_ = distance;
    }

    /// The click count of a press of `buttonNumber` at `location` and `timestamp` (ms).
    int press(int buttonNumber, Point location, uint32_t timestamp);
    /// Starts over: the next press is a single click.
    void reset() { count_ = 0; }

private:
    uint32_t intervalMs_;
    double distance_;
    int count_ = 0;
    int button_ = -1;
    Point location_;
    uint32_t timestamp_ = 0;
};

/// The buttons held down on a view, each with the click count of its press: a release carries its
/// press's count, a release whose press the view never saw is not the view's, and a press the
/// toolkit cancels (its grab broken, the view unmapped) still ends with a release.
class HeldButtons
{
public:
    /// A press of `buttonNumber`; a button held already (its release was lost) starts over.
    void press(int buttonNumber, int clickCount);
    /// The click count of the press that a release of `buttonNumber` ends, which is forgotten;
    /// none when the button was not held.
    std::optional<int> release(int buttonNumber);
    /// The lowest-numbered held button, or none.
    std::optional<int> anyHeld() const;
    bool isHeld(int buttonNumber) const;
    /// Every held button with its press's click count, in the order pressed, all forgotten: the
    /// releases a cancelled press owes.
    std::vector<std::pair<int, int>> cancelAll();

private:
    std::vector<std::pair<int, int>> held_;
};

} // namespace platform
