// The toolkit-free heart of a view: what a hosting widget tells it, and the one frame it draws.
//
// A core knows nothing of GTK. Its host (the GTK widget, or `RecordingViewHost` in tests) calls
// these members on the main thread as things happen to the view: size, scale, window and focus
// changes, draw requests, keys, input-method text and pointer events. Every member has an empty
// default, so a core answers only what it needs (a caret needs no keys). The core talks back
// through the `ViewHost` it is given.
#pragma once

#include "Platform/UI/Appearance.h"
#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/MarkedText.h"
#include "Platform/UI/PointerEvents.h"
#include "Platform/UI/TextInputCommand.h"
#include "Platform/UI/UIGeometry.h"

#include <string>

namespace platform {

class Canvas;
class ViewHost;

/// One request to draw. The canvas draws into the view's backing store, which keeps its pixels
/// from frame to frame, so only the dirty rectangle needs drawing; the canvas is clipped to it.
/// The canvas is y-up in the view's points at the view's device scale.
struct DrawRequest
{
    /// Null where the host has no pixels (the recording host before its first size).
    Canvas* canvas = nullptr;
    /// The part to draw, in the view's y-up frame, grown to whole device pixels.
    Rect dirtyRect;
    Size size;
    double scale = 1;
};

class ViewCore
{
public:
    virtual ~ViewCore() = default;

    /// The host showing this core: called once before any other member, and with null when the
    /// host goes away (after which no member is called again).
    virtual void attachHost(ViewHost* /*host*/) {}

    /// The view's size in points changed (called once per distinct size).
    virtual void sizeChanged(Size /*newSize*/) {}
    /// Device pixels per point changed (the window moved to another monitor, or GDK_SCALE).
    virtual void scaleChanged(double /*newScale*/) {}
    /// The view entered a window (true) or left it (false).
    virtual void windowChanged(bool /*hasWindow*/) {}
    /// The window was shown or hidden (mapped, minimised).
    virtual void visibilityChanged(bool /*windowVisible*/) {}
    /// The theme switched between light and dark, or its colours changed.
    virtual void appearanceChanged(const Appearance& /*appearance*/) {}

    /// The view took or lost the keyboard focus inside its window.
    virtual void focusChanged(bool /*viewHasFocus*/) {}
    /// The view's window became or stopped being the active window.
    virtual void windowActiveChanged(bool /*windowIsActive*/) {}

    /// Draws the dirty part of the frame into the backing store.
    virtual void draw(const DrawRequest& /*request*/) {}

    virtual void keyDown(const KeyEvent& /*event*/) {}
    virtual void keyUp(const KeyEvent& /*event*/) {}
    virtual void flagsChanged(const KeyEvent& /*event*/) {}

    /// Text the input method (or the standard key bindings) committed, UTF-8.
    virtual void insertText(const std::string& /*text*/) {}
    /// The input method's pre-edit changed; the text is never empty.
    virtual void setMarkedText(const MarkedText& /*text*/) {}
    /// The pre-edit ended without a commit, or was emptied.
    virtual void unmarkText() {}
    /// A key the input method did not take stood for an editing command.
    virtual void doCommand(TextInputCommand /*command*/) {}

    virtual void mouseEvent(const MouseEvent& /*event*/) {}
    virtual void scrollWheel(const ScrollEvent& /*event*/) {}
};

} // namespace platform
