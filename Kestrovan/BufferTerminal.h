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

    /// Scrolls the scroll region of `buffer` (the active one) up by `lines`; with `isWrapped` the
    /// new bottom line is marked as continuing the line above it.
    virtual void scroll(Buffer& buffer, int lines, bool isWrapped) = 0;
};

} // namespace kestrovan
