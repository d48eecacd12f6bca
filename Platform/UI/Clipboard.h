// A clipboard of the display, as the views see it: the standard clipboard of copy and paste, or the
// primary selection (the last text selected anywhere, pasted with the middle button).
//
// A clipboard offers its contents in several formats named by MIME type. Setting takes effect at
// once (this process owns the clipboard until another program takes it); reading asks the owner,
// which may be another program, so the bytes arrive later, always on the main loop. A change
// counter goes up whenever the contents change, whoever changed them: comparing two readings of it
// tells whether the contents stayed the same in between.
//
// `GtkClipboard` is the display's clipboard; `MemoryClipboard` is the test twin. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

enum class ClipboardKind
{
    /// The clipboard of copy and paste (CLIPBOARD).
    standard,
    /// The primary selection (PRIMARY).
    primary,
};

/// Formats and their bytes, in order of preference.
using ClipboardItems = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

class Clipboard
{
public:
    using TextCompletion = std::function<void(std::optional<std::string>)>;
    using DataCompletion = std::function<void(std::optional<std::vector<uint8_t>>)>;

    virtual ~Clipboard() = default;

    /// Goes up each time the contents change, whoever changed them.
    virtual uint64_t changeCount() const = 0;
    /// The MIME types on offer, in the owner's order; empty for an empty clipboard.
    virtual std::vector<std::string> formats() const = 0;
    /// Offers `text` as plain text (bytes that are not UTF-8 are replaced by U+FFFD); false when
    /// the clipboard cannot be set. The clipboard keeps the string it is given: a caller that
    /// moves a large text in hands over its storage rather than have it copied.
    virtual bool setText(std::string text) = 0;
    /// Replaces the contents with one offer holding every (MIME type, bytes) pair; false when the
    /// clipboard refused them. An empty list empties the clipboard.
    virtual bool publish(const ClipboardItems& items) = 0;
    /// The text on offer, later on the main loop; none when there is no text or the owner does not
    /// answer.
    virtual void readText(TextCompletion completion) = 0;
    /// The bytes of one format, later on the main loop; none when it is not on offer or the owner
    /// does not answer.
    virtual void read(const std::string& mimeType, DataCompletion completion) = 0;
};

} // namespace platform
