#include "Platform/UI/GtkAlert.h"

#include <gtk/gtk.h>
#include <memory>
#include <utility>

namespace platform::gtk {

namespace {

// The state of one open alert, owned by its window: answered at most once.
struct OpenAlert
{
    GtkWindow* window = nullptr;
    int cancelButton = 0;
    AlertCompletion completion;
    bool answered = false;

    void answer(int button)
    {
        if (answered)
            return;
        answered = true;
        AlertCompletion done = std::move(completion);
        // Closing first: the completion may open the next alert, which should not sit under this one.
        // The alert lets go of its parent too: the completion may close the parent, and GTK may
        // finalize this window only later, when it would still refer to the parent gone.
        gtk_window_set_transient_for(window, nullptr);
        gtk_window_destroy(window);
        if (done)
            done(button);
    }
};

GtkWidget* wrappedLabel(const std::string& text, bool headline)
{
    GtkWidget* label = gtk_label_new(nullptr);
    if (headline) {
        char* markup = g_markup_printf_escaped("<b>%s</b>", text.c_str());
        gtk_label_set_markup(GTK_LABEL(label), markup);
        g_free(markup);
    } else {
        gtk_label_set_text(GTK_LABEL(label), text.c_str());
    }
    gtk_label_set_wrap(GTK_LABEL(label), true);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_selectable(GTK_LABEL(label), false);
    return label;
}

// The detail text: a box of the alert's size, scrolling vertically, selectable and copyable, never
// editable. It shows the text as it is: long words wrap where the width ends, without the hyphen
// Pango would otherwise draw at a break inside a word, which is not in the text.
GtkWidget* detailView(const Alert& alert)
{
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_has_frame(GTK_SCROLLED_WINDOW(scroller), true);
    gtk_widget_set_size_request(scroller, alert.detailWidth, alert.detailHeight);
    GtkWidget* textView = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(textView), false);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(textView), false);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(textView), true);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(textView), GTK_WRAP_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(textView), alert.detailInset);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(textView), alert.detailInset);
    gtk_text_view_set_top_margin(GTK_TEXT_VIEW(textView), alert.detailInset);
    gtk_text_view_set_bottom_margin(GTK_TEXT_VIEW(textView), alert.detailInset);
    if (!alert.detailAccessibleLabel.empty())
        gtk_accessible_update_property(GTK_ACCESSIBLE(textView), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                       alert.detailAccessibleLabel.c_str(), -1);
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView));
    const std::string& text = *alert.detailText;
    char* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    gtk_text_buffer_set_text(buffer, valid, -1);
    g_free(valid);
    GtkTextTag* exact = gtk_text_buffer_create_tag(buffer, nullptr, "insert-hyphens", false, nullptr);
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gtk_text_buffer_apply_tag(buffer, exact, &start, &end);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), textView);
    return scroller;
}

} // namespace

void presentAlert(const Alert& alert, GtkWindow* parent, AlertCompletion completion)
{
    // Screen readers meet the window as an alert named by its title, the message. GTK 4.8 gives
    // AT-SPI its alert role for this role (its alert-dialog role shows as a plain dialog).
    GtkWindow* window =
        GTK_WINDOW(g_object_new(GTK_TYPE_WINDOW, "accessible-role", GTK_ACCESSIBLE_ROLE_ALERT, nullptr));
    gtk_window_set_title(window, alert.messageText.c_str());
    gtk_window_set_modal(window, true);
    gtk_window_set_resizable(window, false);
    if (parent)
        gtk_window_set_transient_for(window, parent);
    gtk_window_set_destroy_with_parent(window, true);

    auto* open = new OpenAlert{window, alert.cancelButton, std::move(completion)};
    // The window owns the state; a window destroyed without an answer (its parent closed) answers
    // with the cancel button.
    g_object_set_data_full(G_OBJECT(window), "vesk-alert", open, [](gpointer data) {
        std::unique_ptr<OpenAlert> state(static_cast<OpenAlert*>(data));
        if (!state->answered) {
            state->answered = true;
            if (state->completion)
                state->completion(state->cancelButton);
        }
    });

    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(content, 18);
    gtk_widget_set_margin_end(content, 18);
    gtk_widget_set_margin_top(content, 18);
    gtk_widget_set_margin_bottom(content, 18);
    GtkWidget* heading = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* icon = gtk_image_new_from_icon_name(
        alert.style == AlertStyle::warning ? "dialog-warning-symbolic" : "dialog-information-symbolic");
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 32);
    // Only a picture: the alert's role and texts say what it is.
    gtk_accessible_update_state(GTK_ACCESSIBLE(icon), GTK_ACCESSIBLE_STATE_HIDDEN, true, -1);
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_append(GTK_BOX(texts), wrappedLabel(alert.messageText, true));
    if (!alert.informativeText.empty())
        gtk_box_append(GTK_BOX(texts), wrappedLabel(alert.informativeText, false));
    gtk_box_append(GTK_BOX(heading), icon);
    gtk_box_append(GTK_BOX(heading), texts);
    gtk_box_append(GTK_BOX(content), heading);
    if (alert.detailText)
        gtk_box_append(GTK_BOX(content), detailView(alert));

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    GtkWidget* cancel = nullptr;
    for (size_t index = 0; index < alert.buttons.size(); ++index) {
        GtkWidget* button = gtk_button_new_with_label(alert.buttons[index].c_str());
        g_object_set_data(G_OBJECT(button), "vesk-alert-button", GINT_TO_POINTER(int(index)));
        g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton* clicked, gpointer data) {
                             static_cast<OpenAlert*>(data)->answer(
                                 GPOINTER_TO_INT(g_object_get_data(G_OBJECT(clicked), "vesk-alert-button")));
                         }),
                         open);
        gtk_box_append(GTK_BOX(buttons), button);
        if (int(index) == alert.cancelButton)
            cancel = button;
    }
    gtk_box_append(GTK_BOX(content), buttons);
    gtk_window_set_child(window, content);

    // Return and Escape answer with the cancel button wherever the focus is: no key but Space on a
    // button the user moved to can pick another answer.
    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(
        keys, "key-pressed",
        G_CALLBACK(+[](GtkEventControllerKey*, guint keyval, guint, GdkModifierType, gpointer data) {
            if (keyval != GDK_KEY_Escape && keyval != GDK_KEY_Return && keyval != GDK_KEY_KP_Enter &&
                keyval != GDK_KEY_ISO_Enter)
                return gboolean(false);
            auto* state = static_cast<OpenAlert*>(data);
            state->answer(state->cancelButton);
            return gboolean(true);
        }),
        open);
    gtk_widget_add_controller(GTK_WIDGET(window), keys);
    g_signal_connect(window, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) {
                         auto* state = static_cast<OpenAlert*>(data);
                         state->answer(state->cancelButton);
                         return gboolean(true);
                     }),
                     open);

    if (cancel) {
        gtk_window_set_default_widget(window, cancel);
        gtk_window_set_focus(window, cancel);
    }
    gtk_window_present(window);
}

} // namespace platform::gtk
