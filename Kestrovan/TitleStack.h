// The window-title and icon-title stacks of the window operations (push with CSI 22 t, pop with
// CSI 23 t), and `TitleText`, the immutable title string they hold.
//
// A title can be as long as an OSC payload (tens of MiB), and a program can push it in a loop with
// a seven-byte sequence. So a title is one immutable string shared by reference: the terminal's
// current title, every stack entry that holds it and every copy name the same bytes, and a push
// copies a pointer. Each stack also keeps at most `maximumDepth` entries and drops its oldest one
// when a push would pass that, so a stack costs at most a few tens of KiB of pointers beyond the
// titles themselves.
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

/// A stack of titles with a depth limit: pushing onto a full stack drops the oldest entry.
class TitleStack
{
public:
    /// The most titles one stack keeps. Programs nest a handful; anything deeper is a loop.
    static constexpr size_t maximumDepth = 4096;

    /// Pushes a title (a pointer copy), dropping the oldest entry when the stack is full. Answers
    /// true when this push began dropping: the first drop since the stack was last below its
    /// limit, so a caller can warn once per overflow rather than once per push.
    bool push(TitleText title);
    /// Removes and answers the newest title; absent when the stack is empty.
    std::optional<TitleText> pop();

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    /// The entry `index` counted from the oldest; the index must be below `size()`.
    const TitleText& operator[](size_t index) const { return entries_[index]; }
    void clear();

private:
    std::deque<TitleText> entries_;
    bool dropping_ = false;
};

} // namespace kestrovan
