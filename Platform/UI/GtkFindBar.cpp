#include "Platform/UI/GtkFindBar.h"

#include "Platform/UI/GtkKeyEvents.h"
#include "Platform/UI/GtkWidgetSubclass.h"
#include "Platform/UI/MenuKeyRouter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtk/gtk.h>
#include <vector>

namespace platform::gtk {

namespace {

// The bar's look: the theme's window background, rounded, with a thin edge, its controls inside
// the padding; the check buttons' titles in a smaller font.
constexpr const char* barStyle = R"css(
vesk-find-bar {
    background-color: @theme_bg_color;
    border: 1px solid alpha(@theme_fg_color, 0.15);
    border-radius: 8px;
    padding: 6px 8px;
}
vesk-find-bar checkbutton label {
    font-size: 11px;
}
)css";

/// The space between two controls of a row, and between two rows.
constexpr int controlSpacing = 6;
constexpr int rowSpacing = 4;

void installStyleOnce(GtkWidget* widget)
{
    GdkDisplay* display = gtk_widget_get_display(widget);
    if (!display || g_object_get_data(G_OBJECT(display), "vesk-find-bar-style"))
        return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, barStyle, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(display), "vesk-find-bar-style", provider, g_object_unref);
}

/// The bar's widget: its children (the entry first, the close button last, the other controls
/// between them, in order) laid out in rows for the width it is given.
class FindBarRows
{
public:
    static constexpr const char* typeName = "VeskFindBar";

    explicit FindBarRows(GtkWidget* widget) : widget_(widget) {}

    static void classInit(GtkWidgetClass* widgetClass)
    {
        gtk_widget_class_set_css_name(widgetClass, "vesk-find-bar");
        // Its height depends on its width: narrower, it takes more rows.
        widgetClass->get_request_mode = [](GtkWidget*) { return GTK_SIZE_REQUEST_HEIGHT_FOR_WIDTH; };
    }

    void measure(GtkOrientation orientation, int forSize, int* minimum, int* natural)
    {
        const std::vector<Control> controls = measuredControls();
        if (controls.size() < 2)
            return;
        if (orientation == GTK_ORIENTATION_HORIZONTAL) {
            // At its narrowest every control has a row's width of its own.
            *minimum = controls.front().minimumWidth;
            for (size_t index = 1; index < controls.size(); ++index)
                *minimum = std::max(*minimum, controls[index].width);
            *natural = std::max(*minimum, oneRowWidth(controls));
            return;
        }
        int height = 0;
        arrange(controls, forSize < 0 ? oneRowWidth(controls) : forSize, &height);
        *minimum = *natural = height;
    }

    void sizeAllocate(int width, int)
    {
        int height = 0;
        for (const Placement& placement : arrange(measuredControls(), width, &height)) {
            GtkAllocation allocation{placement.x, placement.y, placement.width, placement.height};
            gtk_widget_size_allocate(placement.widget, &allocation, -1);
        }
    }

    void snapshot(GtkSnapshot* snapshot)
    {
        for (GtkWidget* child = gtk_widget_get_first_child(widget_); child;
             child = gtk_widget_get_next_sibling(child))
            gtk_widget_snapshot_child(widget_, child, snapshot);
    }

    void rooted() {}
    void unrooted() {}
    void realized() {}
    void unrealized() {}

    void dispose()
    {
        while (GtkWidget* child = gtk_widget_get_first_child(widget_))
            gtk_widget_unparent(child);
    }

private:
    struct Control
    {
        GtkWidget* widget;
        int minimumWidth;
        int width;
        int height;
        /// The narrowest the entry is on a row with other controls: wide enough for its text
        /// part to be `rowFieldWidth` beside its icons and padding. The others' own width.
        int rowWidth;
    };
    struct Placement
    {
        GtkWidget* widget;
        int x;
        int y;
        int width;
        int height;
    };

    std::vector<Control> measuredControls() const
    {
        std::vector<Control> controls;
        for (GtkWidget* child = gtk_widget_get_first_child(widget_); child;
             child = gtk_widget_get_next_sibling(child)) {
            if (!gtk_widget_should_layout(child))
                continue;
            Control control{child, 0, 0, 0, 0};
            int unused = 0;
            gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &control.minimumWidth, &control.width,
                               nullptr, nullptr);
            gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, -1, &unused, &control.height, nullptr,
                               nullptr);
            control.rowWidth = control.width;
            if (GTK_IS_EDITABLE(child)) {
                // The entry's icons and padding take their part of its width: the text gets what
                // is left of it.
                int textMinimum = 0;
                if (GtkEditable* text = gtk_editable_get_delegate(GTK_EDITABLE(child)))
                    gtk_widget_measure(GTK_WIDGET(text), GTK_ORIENTATION_HORIZONTAL, -1, &textMinimum,
                                       &unused, nullptr, nullptr);
                control.rowWidth =
                    std::max(control.minimumWidth - textMinimum, 0) + GtkFindBar::rowFieldWidth;
            }
            controls.push_back(control);
        }
        return controls;
    }

    /// The width of one row holding everything, the entry at its narrowest on such a row.
    static int oneRowWidth(const std::vector<Control>& controls)
    {
        int width = std::max(controls.front().rowWidth, controls.front().minimumWidth);
        for (size_t index = 1; index < controls.size(); ++index)
            width += controlSpacing + controls[index].width;
        return width;
    }

    /// Where each control goes in a bar `width` points wide, and the height the rows take.
    static std::vector<Placement> arrange(const std::vector<Control>& controls, int width, int* height)
    {
        std::vector<Placement> placements;
        *height = 0;
        if (controls.size() < 2)
            return placements;
        const Control& entry = controls.front();
        const Control& close = controls.back();
        const std::vector<Control> middle(controls.begin() + 1, controls.end() - 1);
        // Rows of controls, each row's controls with their x and width.
        std::vector<std::vector<Placement>> rows(1);
        if (width >= oneRowWidth(controls)) {
            int rest = 0;
            for (const Control& control : middle)
                rest += controlSpacing + control.width;
            const int entryWidth = width - rest - controlSpacing - close.width;
            rows[0].push_back({entry.widget, 0, 0, entryWidth, entry.height});
            int x = entryWidth;
            for (const Control& control : middle) {
                x += controlSpacing;
                rows[0].push_back({control.widget, x, 0, control.width, control.height});
                x += control.width;
            }
            rows[0].push_back({close.widget, width - close.width, 0, close.width, close.height});
        } else {
            // The entry takes what the close button leaves of the first row, or the whole row
            // when that would be too little to show its text; the others follow under it, left
            // to right, a new row whenever the next one does not fit, and a close button that
            // did not stay beside the entry ends the last row at its right.
            const bool closeBesideEntry = width - controlSpacing - close.width >= entry.rowWidth;
            const int entryWidth =
                std::max(closeBesideEntry ? width - controlSpacing - close.width : width, entry.minimumWidth);
            rows[0].push_back({entry.widget, 0, 0, entryWidth, entry.height});
            if (closeBesideEntry)
                rows[0].push_back({close.widget, width - close.width, 0, close.width, close.height});
            int x = 0;
            rows.emplace_back();
            for (const Control& control : middle) {
                if (x > 0 && x + control.width > width) {
                    rows.emplace_back();
                    x = 0;
                }
                rows.back().push_back({control.widget, x, 0, control.width, control.height});
                x += control.width + controlSpacing;
            }
            if (!closeBesideEntry) {
                if (x + close.width > width)
                    rows.emplace_back();
                rows.back().push_back(
                    {close.widget, std::max(width - close.width, 0), 0, close.width, close.height});
            }
        }
        // Each row is as high as its highest control; the others are centred in it.
        int y = 0;
        for (std::vector<Placement>& row : rows) {
            if (row.empty())
                continue;
            int rowHeight = 0;
            for (const Placement& placement : row)
                rowHeight = std::max(rowHeight, placement.height);
            if (y > 0)
                y += rowSpacing;
            for (Placement& placement : row) {
                placement.y = y + (rowHeight - placement.height) / 2;
                placements.push_back(placement);
            }
            y += rowHeight;
        }
        *height = y;
        return placements;
    }

    GtkWidget* widget_;
};

using FindBarWidget = GtkWidgetSubclass<FindBarRows>;

GtkWidget* iconButton(const char* icon, const std::string& tooltip)
{
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    gtk_widget_set_tooltip_text(button, tooltip.c_str());
    gtk_widget_set_focus_on_click(button, false);
    gtk_button_set_has_frame(GTK_BUTTON(button), false);
    return button;
}

GtkWidget* checkButton(const std::string& title, const std::string& tooltip)
{
    GtkWidget* button = gtk_check_button_new_with_label(title.c_str());
    gtk_widget_set_tooltip_text(button, tooltip.c_str());
    gtk_widget_set_focus_on_click(button, false);
    return button;
}

} // namespace

GtkFindBar::GtkFindBar(const FindBarLabels& labels) : GtkChildSubview<FindBar>(FindBarWidget::create())
{
    GtkWidget* bar = view_.widget();
    // Whatever the width, nothing of the bar is drawn outside it.
    gtk_widget_set_overflow(bar, GTK_OVERFLOW_HIDDEN);

    entry_ = gtk_search_entry_new();
    g_object_set(entry_, "placeholder-text", labels.placeholder.c_str(), nullptr);
    // Every edit at once: GtkSearchEntry's own signal waits a moment, "changed" does not.
    g_signal_connect(entry_, "changed", G_CALLBACK(onChanged), this);

    GtkWidget* previous = iconButton("go-up-symbolic", labels.previousTooltip);
    GtkWidget* next = iconButton("go-down-symbolic", labels.nextTooltip);
    caseSensitive_ = checkButton(labels.caseSensitiveTitle, labels.caseSensitiveTooltip);
    regex_ = checkButton(labels.regexTitle, labels.regexTooltip);
    wholeWord_ = checkButton(labels.wholeWordTitle, labels.wholeWordTooltip);
    GtkWidget* close = iconButton("window-close-symbolic", labels.closeTooltip);
    for (GtkWidget* control : {entry_, previous, next, caseSensitive_, regex_, wholeWord_, close})
        gtk_widget_set_parent(control, bar);

    auto call = [](GtkWidget*, gpointer slot) {
        if (const auto& callback = *static_cast<std::function<void()>*>(slot))
            callback();
    };
    g_signal_connect(previous, "clicked", G_CALLBACK(+call), &onFindPrevious);
    g_signal_connect(next, "clicked", G_CALLBACK(+call), &onFindNext);
    g_signal_connect(close, "clicked", G_CALLBACK(+call), &onClose);
    for (GtkWidget* option : {caseSensitive_, regex_, wholeWord_})
        g_signal_connect(option, "toggled", G_CALLBACK(onToggled), this);

    // Return, Shift+Return and Escape mean the bar's steps, and a shortcut is the owner's to take,
    // before the entry's own bindings.
    keys_ = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys_, GTK_PHASE_CAPTURE);
    g_signal_connect(keys_, "key-pressed", G_CALLBACK(onKeyPressed), this);
    g_signal_connect(keys_, "key-released", G_CALLBACK(onKeyReleased), this);
    gtk_widget_add_controller(entry_, keys_);
    // Keys held while the focus leaves the field are released elsewhere; forget them.
    focus_ = gtk_event_controller_focus_new();
    g_signal_connect(focus_, "leave", G_CALLBACK(+[](GtkEventControllerFocus*, gpointer data) {
                         static_cast<GtkFindBar*>(data)->keyboard_.reset();
                     }),
                     this);
    gtk_widget_add_controller(entry_, focus_);

    // Pointer input over the bar is the bar's: presses on its background would otherwise reach
    // the view under it as clicks on the terminal.
    GtkEventController* pointer = gtk_event_controller_legacy_new();
    g_signal_connect(pointer, "event", G_CALLBACK(+[](GtkEventControllerLegacy*, GdkEvent* event, gpointer) {
                         const GdkEventType type = gdk_event_get_event_type(event);
                         return gboolean(type == GDK_BUTTON_PRESS || type == GDK_BUTTON_RELEASE ||
                                         type == GDK_MOTION_NOTIFY || type == GDK_SCROLL);
                     }),
                     nullptr);
    gtk_widget_add_controller(bar, pointer);

    installStyleOnce(bar);
    gtk_widget_set_visible(bar, false);
}

GtkFindBar::~GtkFindBar()
{
    // The widgets may outlive the bar; their handlers must not reach it then.
    for (gpointer instance : {gpointer(entry_), gpointer(keys_), gpointer(focus_)})
        g_signal_handlers_disconnect_by_data(instance, this);
    removeFromSuperview();
}

void GtkFindBar::setSearchText(const std::string& text)
{
    settingText_ = true;
    char* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    gtk_editable_set_text(GTK_EDITABLE(entry_), valid);
    g_free(valid);
    settingText_ = false;
}

std::string GtkFindBar::searchText() const
{
    return gtk_editable_get_text(GTK_EDITABLE(entry_));
}

FindBarOptions GtkFindBar::options() const
{
    FindBarOptions options;
    options.caseSensitive = gtk_check_button_get_active(GTK_CHECK_BUTTON(caseSensitive_));
    options.regex = gtk_check_button_get_active(GTK_CHECK_BUTTON(regex_));
    options.wholeWord = gtk_check_button_get_active(GTK_CHECK_BUTTON(wholeWord_));
    return options;
}

void GtkFindBar::focusSearchField()
{
    gtk_widget_grab_focus(entry_);
    gtk_editable_select_region(GTK_EDITABLE(entry_), 0, -1);
}

void GtkFindBar::editSearchField(FindFieldEdit edit)
{
    // The actions of the entry's text part, which its own key bindings and context menu run.
    const char* action = edit == FindFieldEdit::copy    ? "clipboard.copy"
                         : edit == FindFieldEdit::paste ? "clipboard.paste"
                                                        : "selection.select-all";
    if (GtkEditable* text = gtk_editable_get_delegate(GTK_EDITABLE(entry_)))
        gtk_widget_activate_action(GTK_WIDGET(text), action, nullptr);
}

Size GtkFindBar::sizeForWidth(double width) const
{
    GtkWidget* bar = view_.widget();
    int minimumWidth = 0;
    int naturalWidth = 0;
    gtk_widget_measure(bar, GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, &naturalWidth, nullptr, nullptr);
    const int fitted = std::max(std::isfinite(width) ? int(std::floor(width)) : 0, minimumWidth);
    int minimumHeight = 0;
    int naturalHeight = 0;
    gtk_widget_measure(bar, GTK_ORIENTATION_VERTICAL, fitted, &minimumHeight, &naturalHeight, nullptr,
                       nullptr);
    return Size{double(fitted), double(naturalHeight)};
}

gboolean GtkFindBar::onKeyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                                  GdkModifierType state, gpointer data)
{
    auto* self = static_cast<GtkFindBar*>(data);
    GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
    // The translator notes the key as held first, so that a second press is a repeat.
    const KeyEvent key = self->keyboard_.press(
        toolkitKeyOf(gtk_widget_get_display(self->entry_), event, keyval, keycode, state));
    if (keyval == GDK_KEY_Escape) {
        if (self->onClose)
            self->onClose();
        return true;
    }
    if (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter) {
        const std::function<void()>& step =
            (state & GDK_SHIFT_MASK) ? self->onFindPrevious : self->onFindNext;
        if (step)
            step();
        return true;
    }
    return menuKeyEquivalent(key) && self->onShortcut && self->onShortcut(key);
}

void GtkFindBar::onKeyReleased(GtkEventControllerKey* controller, guint keyval, guint keycode,
                               GdkModifierType state, gpointer data)
{
    auto* self = static_cast<GtkFindBar*>(data);
    GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
    self->keyboard_.release(
        toolkitKeyOf(gtk_widget_get_display(self->entry_), event, keyval, keycode, state));
}

void GtkFindBar::onChanged(GtkWidget* entry, void* data)
{
    auto* self = static_cast<GtkFindBar*>(data);
    if (self->settingText_ || !self->onSearchChanged)
        return;
    self->onSearchChanged(gtk_editable_get_text(GTK_EDITABLE(entry)));
}

void GtkFindBar::onToggled(GtkWidget*, void* data)
{
    auto* self = static_cast<GtkFindBar*>(data);
    if (self->onOptionsChanged)
        self->onOptionsChanged(self->options());
}

} // namespace platform::gtk
