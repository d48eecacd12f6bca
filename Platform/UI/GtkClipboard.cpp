#include "Platform/UI/GtkClipboard.h"

#include <gtk/gtk.h>
#include <map>
#include <memory>
#include <utility>

namespace platform::gtk {

namespace {

using TextCompletion = Clipboard::TextCompletion;
using DataCompletion = Clipboard::DataCompletion;

void textRead(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<TextCompletion> completion(static_cast<TextCompletion*>(data));
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

// One read of a format: the owner's stream is drained a chunk at a time into `bytes`.
struct DataRead
{
    DataCompletion completion;
    GInputStream* stream = nullptr;
    std::vector<uint8_t> bytes;

    ~DataRead()
    {
        if (stream)
            g_object_unref(stream);
    }
    void finish(std::optional<std::vector<uint8_t>> answer) { completion(std::move(answer)); }
};

constexpr gsize readChunk = 64 * 1024;

void chunkRead(GObject* source, GAsyncResult* result, gpointer data);

void readNextChunk(std::unique_ptr<DataRead> read)
{
    GInputStream* stream = read->stream;
    g_input_stream_read_bytes_async(stream, readChunk, G_PRIORITY_DEFAULT, nullptr, chunkRead,
                                    read.release());
}

void chunkRead(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<DataRead> read(static_cast<DataRead*>(data));
    GError* error = nullptr;
    GBytes* chunk = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (error) {
        g_error_free(error);
        read->finish(std::nullopt);
        return;
    }
    gsize size = 0;
    const auto* bytes = static_cast<const uint8_t*>(g_bytes_get_data(chunk, &size));
    if (size == 0) {
        g_bytes_unref(chunk);
        read->finish(std::move(read->bytes));
        return;
    }
    if (read->bytes.size() + size > GtkClipboard::maximumReadSize) {
        g_bytes_unref(chunk);
        read->finish(std::nullopt);
        return;
    }
    read->bytes.insert(read->bytes.end(), bytes, bytes + size);
    g_bytes_unref(chunk);
    readNextChunk(std::move(read));
}

void streamOpened(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<DataRead> read(static_cast<DataRead*>(data));
    GError* error = nullptr;
    read->stream = gdk_clipboard_read_finish(GDK_CLIPBOARD(source), result, nullptr, &error);
    if (error)
        g_error_free(error);
    if (!read->stream) {
        read->finish(std::nullopt);
        return;
    }
    readNextChunk(std::move(read));
}

/// Calls `completion` with none later on the main loop, as a read without a clipboard would.
template <typename Completion> void answerNothingLater(Completion completion)
{
    auto pending = std::make_unique<Completion>(std::move(completion));
    g_idle_add_once(
        [](gpointer data) {
            std::unique_ptr<Completion> completion(static_cast<Completion*>(data));
            (*completion)(std::nullopt);
        },
        pending.release());
}

bool isValidUtf8(const std::vector<uint8_t>& bytes)
{
    return g_utf8_validate(reinterpret_cast<const char*>(bytes.data()), gssize(bytes.size()), nullptr);
}

} // namespace

GtkClipboard* GtkClipboard::of(GdkDisplay* display, ClipboardKind kind)
{
    if (!display)
        return nullptr;
    // Displays stay open for the life of the process here, so their clipboards do too.
    static std::map<std::pair<GdkDisplay*, ClipboardKind>, std::unique_ptr<GtkClipboard>> clipboards;
    std::unique_ptr<GtkClipboard>& slot = clipboards[{display, kind}];
    if (!slot)
        slot = std::make_unique<GtkClipboard>(kind == ClipboardKind::primary
                                                  ? gdk_display_get_primary_clipboard(display)
                                                  : gdk_display_get_clipboard(display));
    return slot.get();
}

GtkClipboard* GtkClipboard::of(ClipboardKind kind)
{
    return of(gdk_display_get_default(), kind);
}

GtkClipboard::GtkClipboard(GdkClipboard* clipboard) : clipboard_(GDK_CLIPBOARD(g_object_ref(clipboard)))
{
    g_signal_connect_swapped(clipboard_, "changed", G_CALLBACK(+[](GtkClipboard* self) { ++self->changes_; }),
                             this);
}

GtkClipboard::~GtkClipboard()
{
    g_signal_handlers_disconnect_by_data(clipboard_, this);
    g_object_unref(clipboard_);
}

std::vector<std::string> GtkClipboard::formats() const
{
    std::vector<std::string> types;
    gsize count = 0;
    const char* const* mimeTypes =
        gdk_content_formats_get_mime_types(gdk_clipboard_get_formats(clipboard_), &count);
    for (gsize index = 0; mimeTypes && index < count; ++index)
        types.emplace_back(mimeTypes[index]);
    return types;
}

bool GtkClipboard::setText(std::string text)
{
    // GDK offers the text as UTF-8 to every reader, so the offer must be valid UTF-8.
    if (!g_utf8_validate_len(text.data(), text.size(), nullptr)) {
        char* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
        text = valid;
        g_free(valid);
    }
    // The offer holds the string itself, under both plain-text names: a large copy reaches the
    // toolkit without another copy of its text, as a string value would make.
    auto* owned = new std::string(std::move(text));
    GBytes* bytes = g_bytes_new_with_free_func(
        owned->data(), owned->size(), [](gpointer data) { delete static_cast<std::string*>(data); }, owned);
    GdkContentProvider* providers[] = {gdk_content_provider_new_for_bytes("text/plain;charset=utf-8", bytes),
                                       gdk_content_provider_new_for_bytes("text/plain", bytes)};
    g_bytes_unref(bytes);
    GdkContentProvider* provider = gdk_content_provider_new_union(providers, 2);
    const bool claimed = gdk_clipboard_set_content(clipboard_, provider);
    g_object_unref(provider);
    return claimed;
}

bool GtkClipboard::publish(const ClipboardItems& items)
{
    std::vector<GdkContentProvider*> providers;
    bool hasUtf8Text = false;
    for (const auto& item : items)
        hasUtf8Text = hasUtf8Text || item.first == "text/plain;charset=utf-8";
    for (const auto& [mimeType, bytes] : items) {
        GBytes* data = g_bytes_new(bytes.data(), bytes.size());
        providers.push_back(gdk_content_provider_new_for_bytes(mimeType.c_str(), data));
        // X11 programs ask for UTF8_STRING, which GDK serves from the UTF-8 text format only:
        // plain text that is UTF-8 is offered under that name too.
        if (mimeType == "text/plain" && !hasUtf8Text && isValidUtf8(bytes))
            providers.push_back(gdk_content_provider_new_for_bytes("text/plain;charset=utf-8", data));
        g_bytes_unref(data);
    }
    GdkContentProvider* provider = gdk_content_provider_new_union(providers.data(), providers.size());
    const bool claimed = gdk_clipboard_set_content(clipboard_, provider);
    g_object_unref(provider);
    return claimed;
}

void GtkClipboard::readText(TextCompletion completion)
{
    gdk_clipboard_read_text_async(clipboard_, nullptr, textRead, new TextCompletion(std::move(completion)));
}

void GtkClipboard::read(const std::string& mimeType, DataCompletion completion)
{
    if (mimeType.empty()) {
        answerNothingLater(std::move(completion));
        return;
    }
    const char* mimeTypes[] = {mimeType.c_str(), nullptr};
    auto read = std::make_unique<DataRead>();
    read->completion = std::move(completion);
    gdk_clipboard_read_async(clipboard_, mimeTypes, G_PRIORITY_DEFAULT, nullptr, streamOpened,
                             read.release());
}

} // namespace platform::gtk
