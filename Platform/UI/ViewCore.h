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

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace platform {

class ViewHost;

/// One request to draw. The context draws into the view's backing surface, which keeps its pixels
/// from frame to frame, so only the dirty rectangle needs drawing; it is clipped to that rectangle
/// and its user space is the view's points with the toolkit's orientation (origin top left, y
/// down) and the device scale already applied. The drawing layer's canvas makes it y-up.
struct DrawRequest
{
    cairo_t* context = nullptr;
    /// The backing surface itself (a cairo image surface, premultiplied ARGB32) with its device
    /// scale set, for a canvas that wraps a surface rather than a context.
    cairo_surface_t* surface = nullptr;
    /// The part to draw, in the view's y-up frame.
    UIRect dirtyRect;
    UISize size;
    double scale = 1;
};

class ViewCore
{
public:
    virtual ~ViewCore() = default;

    /// The host showing this core: called once before any other member, and with null when the
    /// host goes away (after which no member is called again).
    virtual void attachHost(ViewHost* host) {}

    /// The view's size in points changed (called once per distinct size).
    virtual void sizeChanged(UISize newSize) {}
    /// Device pixels per point changed (the window moved to another monitor, or GDK_SCALE).
    virtual void scaleChanged(double newScale) {}
    /// The view entered a window (true) or left it (false).
    virtual void windowChanged(bool hasWindow) {}
    /// The window was shown or hidden (mapped, minimised).
    virtual void visibilityChanged(bool windowVisible) {}
    /// The theme switched between light and dark, or its colours changed.
    virtual void appearanceChanged(const Appearance& appearance) {}

    /// The view took or lost the keyboard focus inside its window.
    virtual void focusChanged(bool viewHasFocus) {}
    /// The view's window became or stopped being the active window.
    virtual void windowActiveChanged(bool windowIsActive) {}

    /// Draws the dirty part of the frame into the backing surface.
    virtual void draw(const DrawRequest& request) {}
    /// A surface the core draws into itself and wants shown instead of the host's backing surface
    /// (an image surface whose device scale matches the view's); null to use the host's.
    virtual cairo_surface_t* frameSurface() { return nullptr; }

    virtual void keyDown(const KeyEvent& event) {}
    virtual void keyUp(const KeyEvent& event) {}
    virtual void flagsChanged(const KeyEvent& event) {}

    /// Text the input method (or the standard key bindings) committed, UTF-8.
    virtual void insertText(const std::string& text) {}
    /// The input method's pre-edit changed; the text is never empty.
    virtual void setMarkedText(const MarkedText& text) {}
    /// The pre-edit ended without a commit, or was emptied.
    virtual void unmarkText() {}
    /// A key the input method did not take stood for an editing command.
    virtual void doCommand(TextInputCommand command) {}

    virtual void mouseEvent(const MouseEvent& event) {}
    virtual void scrollWheel(const ScrollEvent& event) {}
};

} // namespace platform
