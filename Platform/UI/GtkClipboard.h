// The display's clipboards on GdkClipboard: CLIPBOARD for the standard clipboard, PRIMARY for the
// primary selection.
//
// One object per display and kind lives as long as the process. Its change counter goes up on
// GdkClipboard's `changed` signal, which GDK emits when this process sets the clipboard and when
// another program takes it. Publishing offers one union content provider holding every format's
// bytes. Reads are GDK's asynchronous reads, delivered on the main loop; a read gives up past
// `maximumReadSize` bytes rather than hold an unbounded amount in memory.
#pragma once

#include "Platform/UI/Clipboard.h"

#include <cstddef>
#include <cstdint>

typedef struct _GdkClipboard GdkClipboard;
typedef struct _GdkDisplay GdkDisplay;

namespace platform::gtk {

class GtkClipboard final : public Clipboard
{
public:
    /// The most bytes one read gathers.
    static constexpr size_t maximumReadSize = size_t(128) << 20;

    /// The clipboard of `kind` on `display`; null without a display.
    static GtkClipboard* of(GdkDisplay* display, ClipboardKind kind);
    /// The clipboard of `kind` on the default display; null when no display is open.
    static GtkClipboard* of(ClipboardKind kind);

    uint64_t changeCount() const override { return changes_; }
    std::vector<std::string> formats() const override;
    bool setText(std::string text) override;
    bool publish(const ClipboardItems& items) override;
    void readText(TextCompletion completion) override;
    void read(const std::string& mimeType, DataCompletion completion) override;

    explicit GtkClipboard(GdkClipboard* clipboard);
    ~GtkClipboard() override;
    GtkClipboard(const GtkClipboard&) = delete;
    GtkClipboard& operator=(const GtkClipboard&) = delete;

private:
    GdkClipboard* clipboard_;
    uint64_t changes_ = 0;
};

} // namespace platform::gtk
