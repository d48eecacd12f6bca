// The window-title and icon-title stacks of the window operations (push with CSI 22 t, pop with
// CSI 23 t), and `TitleText`, the immutable title string they hold.
//
// A title can be as long as an OSC payload (tens of MiB), and a program can push it in a loop with
// a seven-byte sequence. So a title is one immutable string shared by reference: the terminal's
// current title, every stack entry that holds it and every copy name the same bytes, and a push
// copies a pointer. Each stack also keeps at most `maximumDepth` entries and at most
// `maximumBytes` of title text, and drops its oldest entries when a push would pass either, so a
// program pushing distinct megabyte titles in a loop holds a megabyte or two, not gigabytes. Text
// is counted once for a run of entries that share it (a title pushed again and again), so such a
// loop is held back by the depth limit alone.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace kestrovan {

/// A title shared immutably: copies name the same string, and the text never changes after
/// construction. It reads like a `std::string` (it converts to `const std::string&`), so code that
/// stores or passes titles as strings keeps working.
class TitleText
{
public:
    /// The empty title; holds no storage.
    TitleText() = default;
    /// Takes the text; implicit so that `terminalTitle = text` stores a string.
    TitleText(std::string text)
        : text_(text.empty() ? nullptr : std::make_shared<const std::string>(std::move(text)))
    {}
    TitleText(const char* text) : TitleText(std::string(text)) {}

    /// The text; the empty string for the empty title.
    const std::string& str() const { return text_ ? *text_ : emptyText(); }
    operator const std::string&() const { return str(); }
    bool empty() const { return !text_; }
    size_t size() const { return text_ ? text_->size() : 0; }

    /// Whether both titles name the same stored string (one was copied from the other). Two empty
    /// titles share nothing.
    bool sharesStorageWith(const TitleText& other) const { return text_ && text_ == other.text_; }

    friend bool operator==(const TitleText& a, const TitleText& b)
    {
        return a.text_ == b.text_ || a.str() == b.str();
    }
    friend bool operator==(const TitleText& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const TitleText& a, const char* b) { return a.str() == b; }
    friend std::ostream& operator<<(std::ostream& stream, const TitleText& title)
    {
        return stream << title.str();
    }

private:
    static const std::string& emptyText();

    std::shared_ptr<const std::string> text_;
};

/// A stack of titles with a depth and a size limit: pushing onto a full stack drops the oldest
/// entries.
class TitleStack
{
public:
    /// The most titles one stack keeps. Programs nest a handful; anything deeper is a loop.
    static constexpr size_t maximumDepth = 4096;
    /// The most title text one stack keeps, in bytes. The newest entry is kept even when it alone
    /// is longer: it shares its text with the current title, so keeping it costs nothing more.
    static constexpr size_t maximumBytes = size_t{1} << 20;

    /// Pushes a title (a pointer copy), dropping the oldest entries while the stack is over
    /// either limit. Answers true when this push began dropping: the first drop since the stack
    /// was last popped or cleared, so a caller can warn once per overflow rather than per push.
    bool push(TitleText title);
    /// Removes and answers the newest title; absent when the stack is empty.
    std::optional<TitleText> pop();

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    /// The bytes of title text the stack counts against `maximumBytes`.
    size_t countedBytes() const { return countedBytes_; }
    /// The entry `index` counted from the oldest; the index must be below `size()`.
    const TitleText& operator[](size_t index) const { return entries_[index].title; }
    void clear();

private:
    struct Entry
    {
        TitleText title;
        /// The bytes this entry adds to `countedBytes_`: its size, or 0 when it shares its text
        /// with the entry below it (that one counts the text for both).
        size_t counted = 0;
    };

    void dropOldest();

    std::deque<Entry> entries_;
    size_t countedBytes_ = 0;
    bool dropping_ = false;
};

} // namespace kestrovan
