// What a buffer asks of the terminal that owns it.
//
// The print fast paths wrap at the bottom of the scroll region by asking the terminal to scroll,
// because scrolling involves state the buffer does not have (the selection, image placements,
// whether the user has scrolled back, the refresh ranges). The terminal implements this
// interface and hands itself to each buffer it builds; the buffer never owns it.
#pragma once

namespace kestrovan {

class Buffer;

class BufferTerminal
{
public:
    virtual ~BufferTerminal() = default;

    /// Scrolls the scroll region of `buffer` (the active one) up one line; with `isWrapped` the
    /// new bottom line is marked as continuing the line above it. Always one line: every caller
    /// (a wrap, a line feed, an index) moves one, and multi-line scrolls (SU, DL) move whole lines
    /// in one step of their own instead of calling this repeatedly.
    virtual void scroll(Buffer& buffer, bool isWrapped) = 0;
};

} // namespace kestrovan
