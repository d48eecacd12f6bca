// Handles of subviews: views placed inside a hosting view at y-up frames, and the scroller.
//
// A subview is made by its parent's host (`ViewHost::addSubview`, `addScroller`) and stays
// inside it until removed. Its frame is in the parent's y-up frame, so a frame whose y does not
// change keeps its distance from the parent's bottom edge when the parent grows; the parent's
// core moves its subviews on every size change. Subviews made for a core (caret, overlays,
// progress bar) let pointer events through to the view under them; the scroller takes them.
#pragma once

#include "Platform/UI/ScrollerModel.h"
#include "Platform/UI/UIGeometry.h"

#include <functional>

namespace platform {

class View
{
public:
    virtual ~View() = default;

    virtual void setFrame(const Rect& frame) = 0;
    virtual Rect frame() const = 0;
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;
    /// 0 (invisible) to 1 (opaque); a hidden view stays hidden whatever its opacity.
    virtual void setOpacity(double opacity) = 0;
    virtual double opacity() const = 0;
    /// Redraws the whole subview before the next frame is shown.
    virtual void setNeedsDisplay() = 0;
    /// Moves this view just above `sibling` among its parent's subviews; above all of them when
    /// `sibling` is null or not a sibling.
    virtual void orderAbove(const View* sibling) = 0;
    /// Moves this view just below `sibling`; below all subviews when it is null or not a sibling.
    virtual void orderBelow(const View* sibling) = 0;
    /// Takes the view out of its parent for good.
    virtual void removeFromSuperview() = 0;
};

class Scroller : public View
{
public:
    /// Called when the user moves the knob or clicks the track, with the part worked and the
    /// knob position afterwards. Not called for `setState`.
    std::function<void(ScrollerPart, double doubleValue)> onAction;
    /// Called with true when the user presses the scroller and false when the press ends.
    std::function<void(bool)> onTrackingChanged;

    virtual void setState(const ScrollerState& state) = 0;
    virtual ScrollerState state() const = 0;
    /// The width the scroller asks for, in points.
    virtual double preferredWidth() const = 0;
};

} // namespace platform
