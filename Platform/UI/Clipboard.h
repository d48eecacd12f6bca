// The display's clipboards as text, on GdkClipboard: the standard clipboard and the primary
// selection. Setting takes effect at once (this process owns the clipboard until another program
// takes it); reading asks the owner, which may be another program, so the text arrives later,
// always on the main loop. Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform {

enum class ClipboardKind
{
    /// The clipboard of copy and paste.
    standard,
    /// The primary selection: the last selected text.
    primary,
};

/// Offers `text` on the clipboard. Bytes that are not UTF-8 are replaced (U+FFFD); false when no
/// display is open.
bool setClipboardText(ClipboardKind kind, const std::string& text);

/// Reads the clipboard's text and calls `completion` on the main loop with it, or with none when
/// no display is open, the clipboard holds no text or the owner does not answer.
void readClipboardText(ClipboardKind kind, std::function<void(std::optional<std::string>)> completion);

} // namespace platform
