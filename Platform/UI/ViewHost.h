// What a view core may ask of the widget that shows it: its geometry and window, redraws, the
// pointer shape and place, the input method, subviews (drawn ones, labels and a find bar), modal
// alerts, the display's clipboards and the primary selection.
//
// The GTK widget (`CoreViewWidget`) implements this for real; `RecordingViewHost` implements it
// without a display for tests. All members are main-thread only.
#pragma once

#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Appearance.h"
#include "Platform/UI/Clipboard.h"
#include "Platform/UI/FindBar.h"
#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/PointerEvents.h"
#include "Platform/UI/UIGeometry.h"
#include "Platform/UI/View.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class ViewCore;

class ViewHost
{
public:
    virtual ~ViewHost() = default;

    virtual Size size() const = 0;
    /// Device pixels per point.
    virtual double scaleFactor() const = 0;
    virtual bool hasWindow() const = 0;
    /// Tells windows apart: equal for the same window, 0 without one. A view that moved to
    /// another window sees another value.
    virtual uintptr_t windowIdentity() const { return hasWindow() ? 1 : 0; }
    /// The window is the active (key) window.
    virtual bool isWindowActive() const = 0;
    /// The window is mapped and not minimised.
    virtual bool isWindowVisible() const = 0;
    /// The view holds the keyboard focus of its window.
    virtual bool hasFocus() const = 0;
    /// Asks for the keyboard focus of the window.
    virtual void grabFocus() = 0;
    virtual Appearance appearance() const = 0;

    /// A new display link ticking with the frames of the host's window, for the core to pace its
    /// drawing by; null when the host has no window or no clock of its own (the core then keeps a
    /// timer of its own).
    virtual std::shared_ptr<DisplayLink> makeDisplayLink() { return nullptr; }

    /// Draws the whole view before the next frame is shown.
    virtual void setNeedsDisplay() = 0;
    /// Draws at least `rect` (y-up) before the next frame is shown.
    virtual void setNeedsDisplayInRect(const Rect& rect) = 0;

    virtual void setCursor(CursorShape shape) = 0;
    /// Where the pointer is over the view (y-up), or none while it is elsewhere.
    virtual std::optional<Point> pointerLocation() const { return std::nullopt; }

    /// Hands a key press (or release) to the input method and, when it does not take it, to the
    /// standard key bindings. The answer comes back, possibly before this returns, through the
    /// core's `insertText`, `setMarkedText`, `unmarkText` or `doCommand`; a key that means nothing
    /// gives no call. The event must be the one being delivered to the core right now.
    virtual void interpretKeyEvent(const KeyEvent& event) = 0;
    /// Where the caret is (y-up), so that candidate windows open beside it.
    virtual void setInputMethodCursorRect(const Rect& rect) = 0;
    /// Drops any composition in progress (for example when the program switches screens).
    virtual void resetInputMethod() = 0;

    /// A subview showing `core`, placed at an empty frame above the existing subviews. The host
    /// keeps the core alive while the subview exists.
    virtual std::shared_ptr<View> addSubview(std::shared_ptr<ViewCore> core) = 0;
    /// A vertical scroller, hidden, above the existing subviews.
    virtual std::shared_ptr<Scroller> addScroller() = 0;
    /// A text label above the existing subviews, at an empty frame; null where the host has none.
    virtual std::shared_ptr<Label> addLabel() { return nullptr; }
    /// The view's find bar, hidden, above the existing subviews: the one subview that takes the
    /// keyboard focus. Null where the host has none.
    virtual std::shared_ptr<FindBar> addFindBar(const FindBarLabels& /*labels*/) { return nullptr; }

    /// Shows `alert` modally over the view's window and calls `completion` later, on the main loop,
    /// with the button chosen. A host that cannot ask answers with the cancel button.
    virtual void presentAlert(const Alert& alert, AlertCompletion completion)
    {
        completion(alert.cancelButton);
    }
    /// The display's clipboard of `kind`; null where there is none.
    virtual Clipboard* clipboard(ClipboardKind /*kind*/) { return nullptr; }

    /// The system's alert sound.
    virtual void beep() = 0;

    /// Offers `text` as the display's primary selection, the text a middle click pastes.
    virtual void setPrimarySelectionText(const std::string& text)
    {
        if (Clipboard* primary = clipboard(ClipboardKind::primary))
            primary->setText(text);
    }
    /// Whether a middle click pastes the primary selection: the desktop's setting, read afresh.
    virtual bool primaryPasteEnabled() const = 0;
};

} // namespace platform
