// The GTK widget that shows a view core: it turns GTK's signals into calls on the core, shows the
// frame the core draws, and serves the core as its `ViewHost`.
//
// A top-level view takes the keyboard focus, keys (translated by `KeyboardTranslator`, offered to
// the input method when the core asks), pointer and scroll events, and follows its window's
// focus, visibility and appearance; its display link ticks from the window's frame clock. A
// subview (made through `addSubview`) only draws and follows size and scale; pointer events pass
// through it to the view below. The frame is drawn into a persistent backing surface at the
// device scale and shown through `GtkBitmapPictures`, which hands GTK only the pixels a frame
// changed; children are drawn above it in their stacking order.
// The widget holds no decisions: the core decides, the layer's plain functions translate.
#pragma once

#include "Platform/Graphics/BackingStore.h"
#include "Platform/UI/FrameClockDisplayLink.h"
#include "Platform/UI/GtkBitmapPictures.h"
#include "Platform/UI/InputMethodBridge.h"
#include "Platform/UI/KeyboardTranslator.h"
#include "Platform/UI/PointerEvents.h"
#include "Platform/UI/ViewCore.h"
#include "Platform/UI/ViewHost.h"

#include <gtk/gtk.h>
#include <memory>
#include <set>
#include <vector>

namespace platform::gtk {

class CoreViewWidget final : public ViewHost
{
public:
    static constexpr const char* typeName = "VeskCoreView";

    enum class Role
    {
        /// A view of its own in a window: focus, keys, pointer.
        topLevel,
        /// A subview of another core view: drawing only.
        subview,
    };

    /// A new top-level view showing `core` (a floating widget, as GTK widgets start).
    static GtkWidget* create(std::shared_ptr<ViewCore> core);
    /// The view of a widget made here, or null for any other widget.
    static CoreViewWidget* from(GtkWidget* widget);

    GtkWidget* widget() const { return widget_; }
    const std::shared_ptr<ViewCore>& core() const { return core_; }
    /// The display link of this view's frame clock.
    const std::shared_ptr<FrameClockDisplayLink>& displayLink() const { return displayLink_; }
    /// True while the widget lays out its children (frames set meanwhile need no new layout).
    bool isAllocating() const { return allocating_; }
    /// How many frames have been shown, and the backing surface's pixel size (for tests).
    uint64_t presentedFrames() const { return presentedFrames_; }
    int backingPixelWidth() const { return backing_.bitmap() ? backing_.bitmap()->width() : 0; }
    int backingPixelHeight() const { return backing_.bitmap() ? backing_.bitmap()->height() : 0; }
    /// How many patches of changed pixels lie above the shown bitmap's bands (for tests).
    size_t patchCount() const { return pictures_.patchCount(); }

    Size size() const override { return size_; }
    double scaleFactor() const override;
    bool hasWindow() const override { return window_ != nullptr; }
    uintptr_t windowIdentity() const override { return reinterpret_cast<uintptr_t>(window_); }
    bool isWindowActive() const override { return windowActive_; }
    bool isWindowVisible() const override { return windowVisible_; }
    bool hasFocus() const override { return focused_; }
    void grabFocus() override;
    Appearance appearance() const override { return appearance_; }
    /// A fresh link on this widget's frame clock while the widget is in a window.
    std::shared_ptr<DisplayLink> makeDisplayLink() override;
    void setNeedsDisplay() override;
    void setNeedsDisplayInRect(const Rect& rect) override;
    void setCursor(CursorShape shape) override;
    std::optional<Point> pointerLocation() const override;
    void interpretKeyEvent(const KeyEvent& event) override;
    void setInputMethodCursorRect(const Rect& rect) override;
    void resetInputMethod() override;
    std::shared_ptr<View> addSubview(std::shared_ptr<ViewCore> core) override;
    std::shared_ptr<Scroller> addScroller() override;
    std::shared_ptr<Label> addLabel() override;
    /// The find bar is the one child that takes the keyboard focus: while it has it, keys go to it
    /// and not to the core.
    std::shared_ptr<FindBar> addFindBar(const FindBarLabels& labels) override;
    void presentAlert(const Alert& alert, AlertCompletion completion) override;
    Clipboard* clipboard(ClipboardKind kind) override;
    void beep() override;
    bool primaryPasteEnabled() const override;

    // Called by the GObject boilerplate (GtkWidgetSubclass).
    CoreViewWidget(GtkWidget* widget, std::shared_ptr<ViewCore> core, Role role);
    ~CoreViewWidget() override;
    static void classInit(GtkWidgetClass* widgetClass);
    void measure(GtkOrientation orientation, int forSize, int* minimum, int* natural);
    void sizeAllocate(int width, int height);
    void snapshot(GtkSnapshot* snapshot);
    void rooted();
    void unrooted();
    void realized();
    void unrealized();
    void dispose();

private:
    void installInputControllers();
    void updateScale();
    void updateWindowState();
    void updateAppearance();
    void updateVisibility();
    /// The pixels of `bitmap` under `dirtyRect` (y-up points).
    PixelRect pixelArea(const Bitmap& bitmap, const Rect& dirtyRect) const;
    /// Ends every press still held as its release would (the grab was broken, the view unmapped).
    void cancelPresses();
    bool widgetPoint(GdkEvent* event, double* x, double* y) const;
    Point viewPoint(double x, double y) const { return flippedPoint(Point{x, y}, size_.height); }
    ToolkitKey toolkitKey(GdkEvent* event, guint keyval, guint keycode, GdkModifierType state) const;

    static gboolean onKeyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                                 GdkModifierType state, gpointer self);
    static void onKeyReleased(GtkEventControllerKey* controller, guint keyval, guint keycode,
                              GdkModifierType state, gpointer self);
    static gboolean onPointerEvent(GtkEventControllerLegacy* controller, GdkEvent* event, gpointer self);
    static void onPointerEnter(GtkEventControllerMotion* controller, double x, double y, gpointer self);
    static void onPointerLeave(GtkEventControllerMotion* controller, gpointer self);
    static gboolean onScroll(GtkEventControllerScroll* controller, double dx, double dy, gpointer self);

    GtkWidget* widget_;
    std::shared_ptr<ViewCore> core_;
    Role role_;
    std::shared_ptr<FrameClockDisplayLink> displayLink_;
    std::unique_ptr<InputMethodBridge> inputMethod_;
    KeyboardTranslator keyboard_;
    ClickCounter clicks_;
    BackingStore backing_;
    /// The backing bitmap as GTK is given it.
    GtkBitmapPictures pictures_;
    /// The pixels a frame is about to redraw, kept to find what it changed; reused every frame.
    std::vector<uint32_t> pixelsBefore_;
    uint64_t presentedFrames_ = 0;

    GtkWindow* window_ = nullptr;
    GdkSurface* toplevelSurface_ = nullptr;
    Size size_;
    bool sizeKnown_ = false;
    double scale_ = 0;
    bool windowActive_ = false;
    bool windowVisible_ = false;
    bool focused_ = false;
    Appearance appearance_;
    bool appearanceKnown_ = false;
    bool allocating_ = false;
    bool disposed_ = false;

    /// The key event being delivered to the core, for `interpretKeyEvent`.
    GdkEvent* currentKeyEvent_ = nullptr;
    /// Keys whose press the input method saw: their releases go to it too.
    std::set<uint32_t> keysWithInputMethod_;
    /// Where the pointer was last seen, y-down in the widget, and whether it is over the widget.
    Point lastPointer_;
    bool pointerInside_ = false;
    /// The buttons pressed on this view and not yet released.
    HeldButtons held_;
};

} // namespace platform::gtk
