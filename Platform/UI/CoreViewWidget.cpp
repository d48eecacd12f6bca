#include "Platform/UI/CoreViewWidget.h"

#include "Platform/Graphics/Canvas.h"
#include "Platform/UI/GtkAlert.h"
#include "Platform/UI/GtkChildPlacement.h"
#include "Platform/UI/GtkClipboard.h"
#include "Platform/UI/GtkFindBar.h"
#include "Platform/UI/GtkKeyEvents.h"
#include "Platform/UI/GtkLabelView.h"
#include "Platform/UI/GtkScroller.h"
#include "Platform/UI/GtkWidgetSubclass.h"
#include "Platform/UI/TextInputCommand.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace platform::gtk {

namespace {

using Subclass = GtkWidgetSubclass<CoreViewWidget>;

NativeColor nativeColor(const GdkRGBA& rgba)
{
    return NativeColor::sRGB(rgba.red, rgba.green, rgba.blue, rgba.alpha);
}

double luminance(const NativeColor& c)
{
    return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue;
}

// The theme's text-view colours by their conventional names, each falling back to the fixed colour
// of the appearance the theme's background suggests.
Appearance readAppearance(GtkWidget* widget)
{
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    auto lookup = [&](const char* name) -> std::optional<NativeColor> {
        GdkRGBA rgba;
        if (gtk_style_context_lookup_color(style, name, &rgba))
            return nativeColor(rgba);
        return std::nullopt;
    };
    const auto background = lookup("theme_base_color");
    bool dark = background ? luminance(*background) < 0.5 : false;
    if (!background) {
        gboolean preferDark = false;
        gchar* themeName = nullptr;
        g_object_get(gtk_widget_get_settings(widget), "gtk-application-prefer-dark-theme", &preferDark,
                     "gtk-theme-name", &themeName, nullptr);
        std::string name = themeName ? themeName : "";
        g_free(themeName);
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        dark = preferDark || name.find("dark") != std::string::npos;
    }
    Appearance appearance = fallbackAppearance(dark);
    if (background)
        appearance.textBackgroundColor = *background;
    if (auto text = lookup("theme_text_color"))
        appearance.textColor = *text;
    if (auto selected = lookup("theme_selected_bg_color"))
        appearance.selectedControlColor = *selected;
    if (auto label = lookup("theme_fg_color")) {
        appearance.labelColor = *label;
        appearance.labelColor.alpha *= 0.85;
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    gboolean animations = true;
    g_object_get(gtk_widget_get_settings(widget), "gtk-enable-animations", &animations, nullptr);
    appearance.reduceMotion = !animations;
    gboolean overlay = true;
    g_object_get(gtk_widget_get_settings(widget), "gtk-overlay-scrolling", &overlay, nullptr);
    appearance.overlayScrolling = overlay;
    return appearance;
}

const char* cursorName(CursorShape shape)
{
    switch (shape) {
    case CursorShape::arrow:
        return "default";
    case CursorShape::iBeam:
        return "text";
    case CursorShape::pointingHand:
        return "pointer";
    }
    return "default";
}

// The held button a motion event drags with (the views number left 0, right 1, middle 2).
int draggedButton(GdkModifierType state)
{
    if (state & GDK_BUTTON1_MASK)
        return 0;
    if (state & GDK_BUTTON3_MASK)
        return 1;
    if (state & GDK_BUTTON2_MASK)
        return 2;
    if (state & GDK_BUTTON4_MASK)
        return 3;
    if (state & GDK_BUTTON5_MASK)
        return 4;
    return -1;
}

} // namespace

GtkWidget* CoreViewWidget::create(std::shared_ptr<ViewCore> core)
{
    return Subclass::create(std::move(core), Role::topLevel);
}

CoreViewWidget* CoreViewWidget::from(GtkWidget* widget)
{
    return Subclass::from(widget);
}

void CoreViewWidget::classInit(GtkWidgetClass* widgetClass)
{
    gtk_widget_class_set_css_name(widgetClass, "vesk-view");
}

CoreViewWidget::CoreViewWidget(GtkWidget* widget, std::shared_ptr<ViewCore> core, Role role)
    : widget_(widget), core_(std::move(core)), role_(role),
      displayLink_(std::make_shared<FrameClockDisplayLink>(widget))
{
    // Children never draw outside the view, as the terminal's subviews expect.
    gtk_widget_set_overflow(widget_, GTK_OVERFLOW_HIDDEN);
    g_signal_connect_swapped(widget_, "notify::scale-factor",
                             G_CALLBACK(+[](CoreViewWidget* self) { self->updateScale(); }), this);
    if (role_ == Role::topLevel) {
        gtk_widget_set_focusable(widget_, true);
        gtk_widget_set_cursor_from_name(widget_, cursorName(CursorShape::iBeam));
        inputMethod_ = std::make_unique<InputMethodBridge>(widget_, core_.get());
        installInputControllers();
        g_signal_connect_swapped(widget_, "map",
                                 G_CALLBACK(+[](CoreViewWidget* self) { self->updateVisibility(); }), this);
        g_signal_connect_swapped(widget_, "unmap", G_CALLBACK(+[](CoreViewWidget* self) {
                                     // No release reaches an unmapped view: its presses end now.
                                     self->cancelPresses();
                                     self->updateVisibility();
                                 }),
                                 this);
        GtkSettings* settings = gtk_widget_get_settings(widget_);
        for (const char* property : {"notify::gtk-theme-name", "notify::gtk-application-prefer-dark-theme",
                                     "notify::gtk-enable-animations", "notify::gtk-overlay-scrolling"})
            g_signal_connect_swapped(settings, property,
                                     G_CALLBACK(+[](CoreViewWidget* self) { self->updateAppearance(); }),
                                     this);
    } else {
        // A subview lets clicks through to the view under it. What it draws (the caret, an
        // overlay) is part of that view, which is what a screen reader reads: it has no place of
        // its own in the accessibility tree.
        gtk_widget_set_can_target(widget_, false);
        gtk_widget_set_focusable(widget_, false);
        gtk_accessible_update_state(GTK_ACCESSIBLE(widget_), GTK_ACCESSIBLE_STATE_HIDDEN, true, -1);
    }
    if (core_)
        core_->attachHost(this);
}

CoreViewWidget::~CoreViewWidget()
{
    dispose();
}

void CoreViewWidget::installInputControllers()
{
    // Keys come from a key controller; the input method is fed by hand (interpretKeyEvent), not
    // attached to the controller, because the core decides first whether a key is the terminal's
    // (an encoded key) or text (the input method's).
    GtkEventController* keys = gtk_event_controller_key_new();
    g_signal_connect(keys, "key-pressed", G_CALLBACK(onKeyPressed), this);
    g_signal_connect(keys, "key-released", G_CALLBACK(onKeyReleased), this);
    gtk_widget_add_controller(widget_, keys);

    // Buttons and motion come raw: the click gesture stops reporting a press that moves beyond its
    // threshold, while the view needs every release of every drag.
    GtkEventController* pointer = gtk_event_controller_legacy_new();
    g_signal_connect(pointer, "event", G_CALLBACK(onPointerEvent), this);
    gtk_widget_add_controller(widget_, pointer);

    GtkEventController* crossing = gtk_event_controller_motion_new();
    g_signal_connect(crossing, "enter", G_CALLBACK(onPointerEnter), this);
    g_signal_connect(crossing, "leave", G_CALLBACK(onPointerLeave), this);
    gtk_widget_add_controller(widget_, crossing);

    GtkEventController* scroll = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
    g_signal_connect(scroll, "scroll", G_CALLBACK(onScroll), this);
    gtk_widget_add_controller(widget_, scroll);
}

void CoreViewWidget::dispose()
{
    // GObject may dispose more than once; the core is told of its host's end exactly once, after
    // the link, the window's signals and the children are gone, so nothing calls it afterwards.
    if (disposed_)
        return;
    disposed_ = true;
    displayLink_->invalidate();
    if (role_ == Role::topLevel)
        g_signal_handlers_disconnect_by_data(gtk_widget_get_settings(widget_), this);
    unrooted();
    while (GtkWidget* child = gtk_widget_get_first_child(widget_))
        gtk_widget_unparent(child);
    if (inputMethod_)
        inputMethod_->setCore(nullptr);
    inputMethod_.reset();
    if (core_)
        core_->attachHost(nullptr);
    core_.reset();
    pictures_.clear();
}

double CoreViewWidget::scaleFactor() const
{
    return scale_ > 0 ? scale_ : gtk_widget_get_scale_factor(widget_);
}

void CoreViewWidget::measure(GtkOrientation, int, int* minimum, int* natural)
{
    // The view fills what its window gives it; it asks for nothing.
    *minimum = 0;
    *natural = 0;
}

void CoreViewWidget::sizeAllocate(int width, int height)
{
    // GTK allocates again for many reasons (a child's frame, a style change); the core hears of
    // a size only when it differs, and before its subviews are laid out, so that it can move
    // them for the new size in the same pass.
    allocating_ = true;
    const Size size{double(width), double(height)};
    if (!sizeKnown_ || size != size_) {
        size_ = size;
        sizeKnown_ = true;
        updateScale();
        if (core_)
            core_->sizeChanged(size);
    }
    allocateChildren(widget_, height);
    allocating_ = false;
}

void CoreViewWidget::updateScale()
{
    const double scale = gtk_widget_get_scale_factor(widget_);
    if (scale == scale_)
        return;
    scale_ = scale;
    if (core_ && !disposed_)
        core_->scaleChanged(scale);
    gtk_widget_queue_draw(widget_);
}

void CoreViewWidget::snapshot(GtkSnapshot* snapshot)
{
    // GTK asks for a snapshot in the paint phase of a frame, after the frame clock's tick (where a
    // display link prepared the frame and asked for redraws), so the core draws exactly the
    // frames that get shown. The pixels the drawing changed are found by comparing the dirty
    // area before and after, and only they are handed to GTK anew.
    if (!core_)
        return;
    if (!backing_.resize(size_, scaleFactor()))
        pictures_.clear();
    if (!backing_.dirtyRect().isEmpty()) {
        DrawRequest request;
        request.dirtyRect = backing_.dirtyRect();
        request.size = size_;
        request.scale = backing_.scaleFactor();
        const Bitmap* bitmap = backing_.bitmap();
        const PixelRect area = bitmap ? pixelArea(*bitmap, request.dirtyRect) : PixelRect{};
        if (bitmap && isWorthComparing(area, bitmap->width()))
            copyPixels(*bitmap, area, pixelsBefore_);
        else
            pixelsBefore_.clear();
        if (std::optional<Canvas> canvas = backing_.beginFrame()) {
            request.canvas = &*canvas;
            core_->draw(request);
            canvas.reset();
            pictures_.frameDrawn(*bitmap, changedPixels(*bitmap, pixelsBefore_, area));
        }
    }
    if (const Bitmap* bitmap = backing_.bitmap()) {
        GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget_));
        pictures_.append(snapshot, *bitmap, backing_.scaleFactor(),
                         renderer && GSK_IS_CAIRO_RENDERER(renderer));
        ++presentedFrames_;
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget_); child;
         child = gtk_widget_get_next_sibling(child))
        gtk_widget_snapshot_child(widget_, child, snapshot);
}

PixelRect CoreViewWidget::pixelArea(const Bitmap& bitmap, const Rect& dirtyRect) const
{
    // The dirty rectangle is in y-up points, on whole pixels already; pixel rows count from the top.
    const double scale = backing_.scaleFactor();
    const int left = int(std::floor(dirtyRect.minX() * scale));
    const int right = int(std::ceil(dirtyRect.maxX() * scale));
    const int top = int(std::floor((size_.height - dirtyRect.maxY()) * scale));
    const int bottom = int(std::ceil((size_.height - dirtyRect.minY()) * scale));
    return PixelRect{left, top, right - left, bottom - top}.intersection(
        PixelRect{0, 0, bitmap.width(), bitmap.height()});
}

void CoreViewWidget::rooted()
{
    // Entering a window: the core learns of it, of the window's scale and theme, and (for a
    // top-level view) of its focus and activity, which it then follows through the window.
    GtkRoot* root = gtk_widget_get_root(widget_);
    window_ = GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
    if (window_ && role_ == Role::topLevel) {
        for (const char* property : {"notify::is-active", "notify::focus-widget"})
            g_signal_connect_swapped(window_, property,
                                     G_CALLBACK(+[](CoreViewWidget* self) { self->updateWindowState(); }),
                                     this);
    }
    updateScale();
    if (core_)
        core_->windowChanged(window_ != nullptr);
    updateAppearance();
    updateWindowState();
}

void CoreViewWidget::unrooted()
{
    if (!window_)
        return;
    g_signal_handlers_disconnect_by_data(window_, this);
    window_ = nullptr;
    if (disposed_ && !core_)
        return;
    updateWindowState();
    if (core_)
        core_->windowChanged(false);
}

void CoreViewWidget::realized()
{
    // The toplevel's surface knows whether the window is minimised.
    if (role_ == Role::topLevel) {
        GtkNative* native = gtk_widget_get_native(widget_);
        GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
        if (surface && GDK_IS_TOPLEVEL(surface)) {
            toplevelSurface_ = surface;
            g_signal_connect_swapped(surface, "notify::state",
                                     G_CALLBACK(+[](CoreViewWidget* self) { self->updateVisibility(); }),
                                     this);
        }
    }
    updateScale();
    updateVisibility();
}

void CoreViewWidget::unrealized()
{
    if (toplevelSurface_)
        g_signal_handlers_disconnect_by_data(toplevelSurface_, this);
    toplevelSurface_ = nullptr;
}

void CoreViewWidget::updateWindowState()
{
    // Two facts, as the view tells them apart: whether it is its window's focus widget (kept while
    // the window is in the background) and whether its window is the active one. The input
    // method follows both together: it composes only for a focused view in an active window.
    if (role_ != Role::topLevel)
        return;
    const bool active = window_ && gtk_window_is_active(window_);
    const bool focused = window_ && gtk_window_get_focus(window_) == widget_;
    const bool wasActive = windowActive_;
    const bool wasFocused = focused_;
    windowActive_ = active;
    focused_ = focused;
    // Keys held while focus goes elsewhere are released elsewhere; forget them.
    if (!(active && focused)) {
        keyboard_.reset();
        keysWithInputMethod_.clear();
    }
    if (inputMethod_ && (active && focused) != (wasActive && wasFocused))
        (active && focused) ? inputMethod_->focusIn() : inputMethod_->focusOut();
    if (!core_ || disposed_)
        return;
    if (focused != wasFocused)
        core_->focusChanged(focused);
    if (active != wasActive)
        core_->windowActiveChanged(active);
}

void CoreViewWidget::updateAppearance()
{
    if (disposed_)
        return;
    const Appearance appearance = readAppearance(widget_);
    if (appearanceKnown_ && appearance == appearance_)
        return;
    appearance_ = appearance;
    appearanceKnown_ = true;
    if (core_)
        core_->appearanceChanged(appearance);
}

void CoreViewWidget::updateVisibility()
{
    // Mapped and not minimised; GTK 4.8 cannot tell a covered window, which counts as visible.
    bool visible = gtk_widget_get_mapped(widget_);
    if (toplevelSurface_)
        visible = visible &&
                  !(gdk_toplevel_get_state(GDK_TOPLEVEL(toplevelSurface_)) & GDK_TOPLEVEL_STATE_MINIMIZED);
    if (visible == windowVisible_)
        return;
    windowVisible_ = visible;
    if (core_ && !disposed_)
        core_->visibilityChanged(visible);
}

void CoreViewWidget::grabFocus()
{
    gtk_widget_grab_focus(widget_);
}

std::shared_ptr<DisplayLink> CoreViewWidget::makeDisplayLink()
{
    // A fresh one each time: the core hands a link back for good when it takes another.
    if (!window_ || disposed_)
        return nullptr;
    return std::make_shared<FrameClockDisplayLink>(widget_);
}

void CoreViewWidget::setNeedsDisplay()
{
    // Only marks and schedules: the drawing happens in the next snapshot, once per frame however
    // many requests came.
    backing_.invalidateAll();
    gtk_widget_queue_draw(widget_);
}

void CoreViewWidget::setNeedsDisplayInRect(const Rect& rect)
{
    backing_.invalidate(rect);
    gtk_widget_queue_draw(widget_);
}

void CoreViewWidget::setCursor(CursorShape shape)
{
    gtk_widget_set_cursor_from_name(widget_, cursorName(shape));
}

void CoreViewWidget::interpretKeyEvent(const KeyEvent& event)
{
    // The input method sees the toolkit's own event; it must be the one being delivered now.
    if (inputMethod_ && currentKeyEvent_ &&
        gdk_key_event_get_keycode(currentKeyEvent_) == event.hardwareKeycode &&
        inputMethod_->filterKey(currentKeyEvent_)) {
        keysWithInputMethod_.insert(event.hardwareKeycode);
        return;
    }
    if (!core_)
        return;
    applyStandardKeyBinding(*core_, event);
}

void CoreViewWidget::setInputMethodCursorRect(const Rect& rect)
{
    if (inputMethod_)
        inputMethod_->setCursorRect(rect, size_.height);
}

void CoreViewWidget::resetInputMethod()
{
    if (inputMethod_)
        inputMethod_->reset();
}

std::shared_ptr<View> CoreViewWidget::addSubview(std::shared_ptr<ViewCore> core)
{
    // Appended as the last child: drawn above every earlier subview and hit first.
    GtkWidget* child = Subclass::create(std::move(core), Role::subview);
    auto view = std::make_shared<GtkChildView>(child);
    gtk_widget_set_parent(child, widget_);
    return view;
}

std::shared_ptr<Scroller> CoreViewWidget::addScroller()
{
    auto scroller = std::make_shared<GtkScroller>();
    gtk_widget_set_parent(scroller->widget(), widget_);
    return scroller;
}

std::shared_ptr<Label> CoreViewWidget::addLabel()
{
    auto label = std::make_shared<GtkLabelView>();
    gtk_widget_set_parent(label->widget(), widget_);
    return label;
}

std::shared_ptr<FindBar> CoreViewWidget::addFindBar(const FindBarLabels& labels)
{
    auto bar = std::make_shared<GtkFindBar>(labels);
    gtk_widget_set_parent(bar->widget(), widget_);
    return bar;
}

void CoreViewWidget::presentAlert(const Alert& alert, AlertCompletion completion)
{
    // Over the view's window; a view without one asks the whole application.
    gtk::presentAlert(alert, window_, std::move(completion));
}

Clipboard* CoreViewWidget::clipboard(ClipboardKind kind)
{
    return GtkClipboard::of(gtk_widget_get_display(widget_), kind);
}

std::optional<Point> CoreViewWidget::pointerLocation() const
{
    if (!pointerInside_)
        return std::nullopt;
    return viewPoint(lastPointer_.x, lastPointer_.y);
}

void CoreViewWidget::beep()
{
    gtk_widget_error_bell(widget_);
}

bool CoreViewWidget::primaryPasteEnabled() const
{
    gboolean enabled = true;
    g_object_get(gtk_widget_get_settings(widget_), "gtk-enable-primary-paste", &enabled, nullptr);
    return enabled;
}

ToolkitKey CoreViewWidget::toolkitKey(GdkEvent* event, guint keyval, guint keycode,
                                      GdkModifierType state) const
{
    return toolkitKeyOf(gtk_widget_get_display(widget_), event, keyval, keycode, state);
}

gboolean CoreViewWidget::onKeyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                                      GdkModifierType state, gpointer data)
{
    // The translator notes the key as held (so a second press is a repeat) before the core sees
    // it; the GDK event stays at hand while the core runs, for interpretKeyEvent. Keys typed into
    // a focused child (the find bar) pass by: they are the child's.
    auto* self = static_cast<CoreViewWidget*>(data);
    if (!self->core_ || !self->focused_)
        return false;
    GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
    const KeyEvent key = self->keyboard_.press(self->toolkitKey(event, keyval, keycode, state));
    // Keep the core alive through its own handling, which may close the view.
    const std::shared_ptr<ViewCore> core = self->core_;
    GdkEvent* outer = self->currentKeyEvent_;
    self->currentKeyEvent_ = event;
    if (key.type == KeyEventType::flagsChanged)
        core->flagsChanged(key);
    else
        core->keyDown(key);
    self->currentKeyEvent_ = outer;
    // Every key belongs to the view: Tab must not move the focus, nor F10 open a menu bar.
    return true;
}

void CoreViewWidget::onKeyReleased(GtkEventControllerKey* controller, guint keyval, guint keycode,
                                   GdkModifierType state, gpointer data)
{
    // Keys typed into a focused child (the find bar) are the child's, releases included.
    auto* self = static_cast<CoreViewWidget*>(data);
    if (!self->core_ || !self->focused_)
        return;
    GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
    const KeyEvent key = self->keyboard_.release(self->toolkitKey(event, keyval, keycode, state));
    // An input method that saw a press expects its release.
    if (self->keysWithInputMethod_.erase(keycode) && self->inputMethod_)
        self->inputMethod_->filterKey(event);
    const std::shared_ptr<ViewCore> core = self->core_;
    if (key.type == KeyEventType::flagsChanged)
        core->flagsChanged(key);
    else
        core->keyUp(key);
}

bool CoreViewWidget::widgetPoint(GdkEvent* event, double* x, double* y) const
{
    // Raw events are positioned in their surface; the surface's transform gives the native
    // widget's coordinates, from which GTK translates into this widget's.
    double surfaceX = 0;
    double surfaceY = 0;
    if (!gdk_event_get_position(event, &surfaceX, &surfaceY))
        return false;
    GtkNative* native = gtk_widget_get_native(widget_);
    if (!native)
        return false;
    double offsetX = 0;
    double offsetY = 0;
    gtk_native_get_surface_transform(native, &offsetX, &offsetY);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    return gtk_widget_translate_coordinates(GTK_WIDGET(native), widget_, surfaceX - offsetX,
                                            surfaceY - offsetY, x, y);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

gboolean CoreViewWidget::onPointerEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer data)
{
    auto* self = static_cast<CoreViewWidget*>(data);
    const GdkEventType type = gdk_event_get_event_type(event);
    if (type == GDK_GRAB_BROKEN) {
        // Another grab took the pointer: the presses it cut short end here.
        self->cancelPresses();
        return false;
    }
    if (!self->core_ || (type != GDK_BUTTON_PRESS && type != GDK_BUTTON_RELEASE && type != GDK_MOTION_NOTIFY))
        return false;
    double x = 0;
    double y = 0;
    if (!self->widgetPoint(event, &x, &y))
        return false;
    self->lastPointer_ = Point{x, y};
    const GdkModifierType state = gdk_event_get_modifier_state(event);

    MouseEvent mouse;
    mouse.location = self->viewPoint(x, y);
    mouse.modifierFlags = modifierFlagsOfState(state);
    mouse.timestamp = gdk_event_get_time(event);
    if (type == GDK_MOTION_NOTIFY) {
        // A drag belongs to a press this view saw. Motion with a button held whose press went
        // elsewhere (a drag of the scrollbar's knob) is not the view's.
        const std::optional<int> held = self->held_.anyHeld();
        if (!held && draggedButton(state) >= 0)
            return false;
        mouse.type = held ? MouseEventType::dragged : MouseEventType::moved;
        mouse.buttonNumber = held.value_or(0);
    } else {
        mouse.buttonNumber = buttonNumberOfToolkitButton(gdk_button_event_get_button(event));
        if (mouse.buttonNumber < 0)
            return false;
        if (type == GDK_BUTTON_PRESS) {
            mouse.type = MouseEventType::down;
            mouse.clickCount = self->clicks_.press(mouse.buttonNumber, mouse.location, mouse.timestamp);
            self->held_.press(mouse.buttonNumber, mouse.clickCount);
            // A click makes the view the focus of its window.
            if (!self->focused_)
                gtk_widget_grab_focus(self->widget_);
        } else {
            // A release belongs to its press's series; one whose press the view never saw is
            // not the view's.
            const std::optional<int> clickCount = self->held_.release(mouse.buttonNumber);
            if (!clickCount)
                return false;
            mouse.type = MouseEventType::up;
            mouse.clickCount = *clickCount;
        }
    }
    const std::shared_ptr<ViewCore> core = self->core_;
    core->mouseEvent(mouse);
    return true;
}

void CoreViewWidget::cancelPresses()
{
    // Each press still held ends as its release would, where the pointer was last seen.
    const std::vector<std::pair<int, int>> cancelled = held_.cancelAll();
    if (!core_ || disposed_)
        return;
    const std::shared_ptr<ViewCore> core = core_;
    for (const auto& [buttonNumber, clickCount] : cancelled) {
        MouseEvent mouse;
        mouse.type = MouseEventType::up;
        mouse.buttonNumber = buttonNumber;
        mouse.clickCount = clickCount;
        mouse.location = viewPoint(lastPointer_.x, lastPointer_.y);
        core->mouseEvent(mouse);
    }
}

void CoreViewWidget::onPointerEnter(GtkEventControllerMotion* controller, double x, double y, gpointer data)
{
    auto* self = static_cast<CoreViewWidget*>(data);
    if (!self->core_)
        return;
    self->lastPointer_ = Point{x, y};
    self->pointerInside_ = true;
    MouseEvent mouse;
    mouse.type = MouseEventType::entered;
    mouse.location = self->viewPoint(x, y);
    mouse.modifierFlags =
        modifierFlagsOfState(gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(controller)));
    mouse.timestamp = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(controller));
    self->core_->mouseEvent(mouse);
}

void CoreViewWidget::onPointerLeave(GtkEventControllerMotion* controller, gpointer data)
{
    auto* self = static_cast<CoreViewWidget*>(data);
    self->pointerInside_ = false;
    if (!self->core_)
        return;
    MouseEvent mouse;
    mouse.type = MouseEventType::exited;
    mouse.modifierFlags =
        modifierFlagsOfState(gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(controller)));
    mouse.timestamp = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(controller));
    self->core_->mouseEvent(mouse);
}

gboolean CoreViewWidget::onScroll(GtkEventControllerScroll* controller, double dx, double dy, gpointer data)
{
    // Wheels report whole steps, touchpads surface points: the unit says which, and the view
    // accumulates the points into lines itself.
    auto* self = static_cast<CoreViewWidget*>(data);
    if (!self->core_)
        return false;
    GtkEventController* base = GTK_EVENT_CONTROLLER(controller);
    double x = 0;
    double y = 0;
    GdkEvent* event = gtk_event_controller_get_current_event(base);
    // X11 scroll events carry no position; the pointer is where it was last seen then.
    if (event && self->widgetPoint(event, &x, &y))
        self->lastPointer_ = Point{x, y};
    const bool precise = gtk_event_controller_scroll_get_unit(controller) == GDK_SCROLL_UNIT_SURFACE;
    const ScrollEvent scroll =
        scrollEventFromToolkit(dx, dy, precise, self->viewPoint(self->lastPointer_.x, self->lastPointer_.y),
                               modifierFlagsOfState(gtk_event_controller_get_current_event_state(base)),
                               gtk_event_controller_get_current_event_time(base));
    const std::shared_ptr<ViewCore> core = self->core_;
    core->scrollWheel(scroll);
    return true;
}

} // namespace platform::gtk
