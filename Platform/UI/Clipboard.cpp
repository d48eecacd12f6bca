#include "Platform/UI/Clipboard.h"

#include <gtk/gtk.h>
#include <memory>
#include <utility>

namespace platform {

namespace {

using Completion = std::function<void(std::optional<std::string>)>;

GdkClipboard* clipboardOf(ClipboardKind kind)
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return nullptr;
    return kind == ClipboardKind::primary ? gdk_display_get_primary_clipboard(display)
                                          : gdk_display_get_clipboard(display);
}

void textRead(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Completion> completion(static_cast<Completion*>(data));
    GError* error = nullptr;
    char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, &error);
    if (error)
        g_error_free(error);
    std::optional<std::string> answer;
    if (text) {
        answer = std::string(text);
        g_free(text);
    }
    (*completion)(std::move(answer));
}

} // namespace

bool setClipboardText(ClipboardKind kind, const std::string& text)
{
    GdkClipboard* clipboard = clipboardOf(kind);
    if (!clipboard)
        return false;
    // GDK offers the text as UTF-8 to every reader, so the offer must be valid UTF-8.
    char* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    gdk_clipboard_set_text(clipboard, valid);
    g_free(valid);
    return true;
}

void readClipboardText(ClipboardKind kind, std::function<void(std::optional<std::string>)> completion)
{
    auto pending = std::make_unique<Completion>(std::move(completion));
    GdkClipboard* clipboard = clipboardOf(kind);
    if (!clipboard) {
        // Still later and on the main loop, as a reader expects.
        g_idle_add_once(
            [](gpointer data) {
                std::unique_ptr<Completion> completion(static_cast<Completion*>(data));
                (*completion)(std::nullopt);
            },
            pending.release());
        return;
    }
    gdk_clipboard_read_text_async(clipboard, nullptr, textRead, pending.release());
}

} // namespace platform
