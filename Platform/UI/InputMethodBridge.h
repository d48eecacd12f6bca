// The bridge between a view core and the toolkit's input method (GtkIMContext): key presses go
// in, committed text and the pre-edit (marked text) come out, and the caret's place goes back so
// that candidate windows open beside it.
//
// The toolkit picks the input method (IBus and the like, or GTK's own, which handles dead keys and
// Compose sequences). Committed text reaches the core's `insertText`; a non-empty pre-edit its
// `setMarkedText`; a pre-edit that empties without a commit its `unmarkText`.
#pragma once

#include "Platform/UI/MarkedText.h"
#include "Platform/UI/UIGeometry.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkIMContext GtkIMContext;
typedef struct _GdkEvent GdkEvent;
typedef struct _PangoAttrList PangoAttrList;

namespace platform {

class ViewCore;

/// The marked text of a pre-edit string with its Pango attributes and cursor (in characters).
MarkedText markedTextFromPreedit(const char* text, PangoAttrList* attributes, int cursorPosition);

namespace gtk {

class InputMethodBridge
{
public:
    /// An input method for `widget`, whose answers go to `core` (which must outlive the bridge or
    /// be taken away with `setCore(nullptr)`).
    InputMethodBridge(GtkWidget* widget, ViewCore* core);
    ~InputMethodBridge();
    InputMethodBridge(const InputMethodBridge&) = delete;
    InputMethodBridge& operator=(const InputMethodBridge&) = delete;

    void setCore(ViewCore* core) { core_ = core; }
    /// Offers a key press or release to the input method; true when it took it.
    bool filterKey(GdkEvent* event);
    void focusIn();
    void focusOut();
    /// Drops the composition in progress.
    void reset();
    /// The caret's rectangle, y-up in a view `viewHeight` points high.
    void setCursorRect(const Rect& rect, double viewHeight);
    bool hasMarkedText() const { return marked_; }

private:
    static void onCommit(GtkIMContext* context, const char* text, void* self);
    static void onPreeditChanged(GtkIMContext* context, void* self);

    GtkIMContext* context_;
    ViewCore* core_;
    bool marked_ = false;
};

} // namespace gtk

} // namespace platform
