#include "Platform/UI/GtkFindBar.h"

#include <functional>
#include <gtk/gtk.h>

namespace platform::gtk {

namespace {

// The bar's look: the theme's window background, rounded, with a thin edge; the check buttons'
// titles in a smaller font.
constexpr const char* barStyle = R"css(
vesk-find-bar {
    background-color: @theme_bg_color;
    border: 1px solid alpha(@theme_fg_color, 0.15);
    border-radius: 8px;
}
vesk-find-bar checkbutton label {
    font-size: 11px;
}
)css";

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

GtkWidget* iconButton(const char* icon, const std::string& tooltip)
{
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    gtk_widget_set_tooltip_text(button, tooltip.c_str());
    gtk_widget_set_focus_on_click(button, false);
    gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
    gtk_button_set_has_frame(GTK_BUTTON(button), false);
    return button;
}

GtkWidget* checkButton(const std::string& title, const std::string& tooltip)
{
    GtkWidget* button = gtk_check_button_new_with_label(title.c_str());
    gtk_widget_set_tooltip_text(button, tooltip.c_str());
    gtk_widget_set_focus_on_click(button, false);
    gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
    return button;
}

GtkWidget* makeBar()
{
    // A box with a CSS name of its own, so the bar's style reaches only the bar.
    GtkWidget* box = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_HORIZONTAL,
                                             "spacing", 6, "css-name", "vesk-find-bar", nullptr));
    return box;
}

} // namespace

GtkFindBar::GtkFindBar(const FindBarLabels& labels) : GtkChildSubview<FindBar>(makeBar())
{
    GtkWidget* bar = view_.widget();
    // The margins inside the rounded box.
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_margin_start(content, 8);
    gtk_widget_set_margin_end(content, 8);
    gtk_widget_set_margin_top(content, 6);
    gtk_widget_set_margin_bottom(content, 6);
    gtk_widget_set_hexpand(content, true);
    gtk_box_append(GTK_BOX(bar), content);

    entry_ = gtk_search_entry_new();
    g_object_set(entry_, "placeholder-text", labels.placeholder.c_str(), nullptr);
    gtk_widget_set_size_request(entry_, minimumFieldWidth, -1);
    gtk_widget_set_hexpand(entry_, true);
    gtk_widget_set_valign(entry_, GTK_ALIGN_CENTER);
    // Every edit at once: GtkSearchEntry's own signal waits a moment, "changed" does not.
    g_signal_connect(entry_, "changed", G_CALLBACK(onChanged), this);

    GtkWidget* previous = iconButton("go-up-symbolic", labels.previousTooltip);
    GtkWidget* next = iconButton("go-down-symbolic", labels.nextTooltip);
    caseSensitive_ = checkButton(labels.caseSensitiveTitle, labels.caseSensitiveTooltip);
    regex_ = checkButton(labels.regexTitle, labels.regexTooltip);
    wholeWord_ = checkButton(labels.wholeWordTitle, labels.wholeWordTooltip);
    GtkWidget* close = iconButton("window-close-symbolic", labels.closeTooltip);
    for (GtkWidget* control : {entry_, previous, next, caseSensitive_, regex_, wholeWord_, close})
        gtk_box_append(GTK_BOX(content), control);

    auto call = [](GtkWidget*, gpointer slot) {
        if (const auto& callback = *static_cast<std::function<void()>*>(slot))
            callback();
    };
    g_signal_connect(previous, "clicked", G_CALLBACK(+call), &onFindPrevious);
    g_signal_connect(next, "clicked", G_CALLBACK(+call), &onFindNext);
    g_signal_connect(close, "clicked", G_CALLBACK(+call), &onClose);
    for (GtkWidget* option : {caseSensitive_, regex_, wholeWord_})
        g_signal_connect(option, "toggled", G_CALLBACK(onToggled), this);

    // Return, Shift+Return and Escape mean the bar's steps, before the entry's own bindings.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed",
                     G_CALLBACK(+[](GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                                    gpointer data) -> gboolean {
                         auto* self = static_cast<GtkFindBar*>(data);
                         if (keyval == GDK_KEY_Escape) {
                             if (self->onClose)
                                 self->onClose();
                             return true;
                         }
                         if (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter ||
                             keyval == GDK_KEY_ISO_Enter) {
                             const std::function<void()>& step =
                                 (state & GDK_SHIFT_MASK) ? self->onFindPrevious : self->onFindNext;
                             if (step)
                                 step();
                             return true;
                         }
                         return false;
                     }),
                     this);
    gtk_widget_add_controller(entry_, keys);

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
    g_signal_handlers_disconnect_by_data(entry_, this);
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

Size GtkFindBar::minimumSize() const
{
    int minimumWidth = 0;
    int naturalWidth = 0;
    int minimumHeight = 0;
    int naturalHeight = 0;
    gtk_widget_measure(view_.widget(), GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, &naturalWidth, nullptr,
                       nullptr);
    gtk_widget_measure(view_.widget(), GTK_ORIENTATION_VERTICAL, -1, &minimumHeight, &naturalHeight, nullptr,
                       nullptr);
    return Size{double(minimumWidth), double(naturalHeight)};
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
