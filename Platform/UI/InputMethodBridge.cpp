#include "Platform/UI/InputMethodBridge.h"

#include "Platform/UI/ViewCore.h"

#include <algorithm>
#include <cmath>
#include <gtk/gtk.h>

namespace platform {

namespace {

// Pango's attribute indexes are bytes; marked text counts characters.
size_t characterOffset(const char* text, size_t textLength, guint byteIndex)
{
    const size_t clamped = std::min<size_t>(byteIndex, textLength);
    return size_t(g_utf8_pointer_to_offset(text, text + clamped));
}

MarkedText::Underline underlineOf(int pangoUnderline)
{
    switch (pangoUnderline) {
    case PANGO_UNDERLINE_NONE:
        return MarkedText::Underline::none;
    case PANGO_UNDERLINE_DOUBLE:
    case PANGO_UNDERLINE_DOUBLE_LINE:
        return MarkedText::Underline::doubleLine;
    default:
        return MarkedText::Underline::single;
    }
}

} // namespace

MarkedText markedTextFromPreedit(const char* text, PangoAttrList* attributes, int cursorPosition)
{
    MarkedText marked;
    if (!text)
        return marked;
    // Input methods are outside programs: their text is made valid UTF-8 before anyone sees it.
    gchar* valid = g_utf8_make_valid(text, -1);
    marked.text = valid;
    g_free(valid);
    const char* begin = marked.text.c_str();
    const size_t length = marked.text.size();
    const long characters = g_utf8_strlen(begin, -1);
    marked.cursor = size_t(std::clamp<long>(cursorPosition, 0, characters));
    if (!attributes)
        return marked;

    PangoAttrIterator* iterator = pango_attr_list_get_iterator(attributes);
    do {
        int start = 0;
        int end = 0;
        pango_attr_iterator_range(iterator, &start, &end);
        if (start >= end || size_t(start) >= length)
            continue;
        MarkedText::Segment segment;
        segment.start = characterOffset(begin, length, guint(start));
        segment.end = characterOffset(begin, length, guint(end));
        bool marking = false;
        if (auto* underline =
                reinterpret_cast<PangoAttrInt*>(pango_attr_iterator_get(iterator, PANGO_ATTR_UNDERLINE))) {
            segment.underline = underlineOf(underline->value);
            marking = true;
        }
        // Input methods mark the clause being converted with a background (often also a
        // foreground) colour.
        if (pango_attr_iterator_get(iterator, PANGO_ATTR_BACKGROUND)) {
            segment.selected = true;
            marking = true;
        }
        if (marking && segment.start < segment.end)
            marked.segments.push_back(segment);
    } while (pango_attr_iterator_next(iterator));
    pango_attr_iterator_destroy(iterator);
    return marked;
}

namespace gtk {

InputMethodBridge::InputMethodBridge(GtkWidget* widget, ViewCore* core)
    : context_(gtk_im_multicontext_new()), core_(core)
{
    // The multicontext follows the user's choice of input method (GTK_IM_MODULE, the desktop's
    // setting) and falls back to GTK's own, which composes dead keys and Compose sequences.
    // Pre-edit is shown by the view at its caret, so the input method must not draw its own.
    gtk_im_context_set_client_widget(context_, widget);
    gtk_im_context_set_use_preedit(context_, true);
    g_signal_connect(context_, "commit", G_CALLBACK(onCommit), this);
    g_signal_connect(context_, "preedit-changed", G_CALLBACK(onPreeditChanged), this);
}

InputMethodBridge::~InputMethodBridge()
{
    g_signal_handlers_disconnect_by_data(context_, this);
    gtk_im_context_set_client_widget(context_, nullptr);
    g_object_unref(context_);
}

bool InputMethodBridge::filterKey(GdkEvent* event)
{
    // A key the input method takes may commit or change the pre-edit before this returns; the
    // callbacks below then reach the core from inside its own key handling, where the core still
    // knows which key brought the text.
    return event && gtk_im_context_filter_keypress(context_, event);
}

void InputMethodBridge::focusIn()
{
    gtk_im_context_focus_in(context_);
}

void InputMethodBridge::focusOut()
{
    gtk_im_context_focus_out(context_);
}

void InputMethodBridge::reset()
{
    gtk_im_context_reset(context_);
}

void InputMethodBridge::setCursorRect(const Rect& rect, double viewHeight)
{
    const Rect flipped = flippedRect(rect, viewHeight);
    auto whole = [](double v) { return std::isfinite(v) ? int(std::lround(v)) : 0; };
    GdkRectangle area{whole(flipped.x), whole(flipped.y), whole(flipped.width), whole(flipped.height)};
    gtk_im_context_set_cursor_location(context_, &area);
}

void InputMethodBridge::onCommit(GtkIMContext*, const char* text, void* data)
{
    auto* self = static_cast<InputMethodBridge*>(data);
    // A commit ends the composition: the core drops its marked text when text is inserted.
    self->marked_ = false;
    if (!self->core_ || !text || !*text)
        return;
    gchar* valid = g_utf8_make_valid(text, -1);
    self->core_->insertText(valid);
    g_free(valid);
}

void InputMethodBridge::onPreeditChanged(GtkIMContext* context, void* data)
{
    auto* self = static_cast<InputMethodBridge*>(data);
    gchar* text = nullptr;
    PangoAttrList* attributes = nullptr;
    int cursor = 0;
    gtk_im_context_get_preedit_string(context, &text, &attributes, &cursor);
    const MarkedText marked = markedTextFromPreedit(text, attributes, cursor);
    g_free(text);
    if (attributes)
        pango_attr_list_unref(attributes);

    if (marked.text.empty()) {
        const bool wasMarked = self->marked_;
        self->marked_ = false;
        if (wasMarked && self->core_)
            self->core_->unmarkText();
        return;
    }
    self->marked_ = true;
    if (self->core_)
        self->core_->setMarkedText(marked);
}

} // namespace gtk

} // namespace platform
