// A stand-in for the terminal in buffer tests, the print benchmark and the print fuzzer: it
// performs the terminal's plain full-width scroll and nothing else.
//
// A region that starts at the top of the screen and ends on the ring's last line scrolls into
// the scrollback: a new blank line is pushed while the ring is not full (the screen moves down
// one absolute row, and the view with it when it was following), and the oldest line is recycled
// once it is (one more line trimmed, for a buffer with scrollback). Any other region scrolls in
// place, its top line recycled as its new bottom line. Left and right margins are not looked at.
#pragma once

#include "Kestrovan/Buffer.h"
#include "Kestrovan/BufferTerminal.h"

#include <algorithm>

namespace kestrovan {

class ScrollingTerminalDouble : public BufferTerminal
{
public:
    /// How many lines were scrolled, and how many of the new bottom lines were marked wrapped.
    int scrolledLines = 0;
    int wrappedScrolls = 0;

    void scroll(Buffer& buffer, bool isWrapped) override
    {
        // As the terminal does while column switches defer the scrollback's reflow.
        buffer.prepareScrollWithPendingReflow();
        scrollOne(buffer, isWrapped);
        buffer.finishScrollWithPendingReflow();
    }

    /// The terminal's basic line feed without margins: scroll at the region's bottom, move down
    /// elsewhere (not past the last row), and the row reached no longer continues the one above.
    void lineFeed(Buffer& buffer)
    {
        if (buffer.y() == buffer.scrollBottom()) {
            scroll(buffer, false);
        } else if (buffer.y() < buffer.rows() - 1) {
            buffer.setY(buffer.y() + 1);
            buffer.lines()[buffer.yBase() + buffer.y()]->setWrapped(false);
        }
        buffer.setX(std::min(buffer.x(), buffer.cols() - 1));
    }

private:
    void scrollOne(Buffer& buffer, bool isWrapped)
    {
        scrolledLines += 1;
        if (isWrapped)
            wrappedScrolls += 1;
        CircularBufferLineList& ring = buffer.lines();
        const int top = buffer.yBase() + buffer.scrollTop();
        const int bottom = buffer.yBase() + buffer.scrollBottom();
        // A wrapped continuation keeps the paragraph's bidi state; a fresh line gets the default.
        const BidiPresentationState bidiState =
            isWrapped ? ring[bottom]->bidiState() : buffer.defaultBidiState();
        const PackedCell blank;
        if (buffer.scrollTop() == 0 && bottom == ring.count() - 1) {
            if (!ring.isFull()) {
                ring.push(buffer.getBlankLine(blank, isWrapped, bidiState));
                const bool following = buffer.yDisp() == buffer.yBase();
                buffer.setYBase(buffer.yBase() + 1);
                if (following)
                    buffer.setYDisp(buffer.yBase());
            } else {
                ring.recycle(blank, isWrapped, bidiState);
                if (buffer.hasScrollback())
                    buffer.addLinesTrimmed(1);
                // A view scrolled back keeps showing the same text, which moved up one row.
                if (buffer.yDisp() != buffer.yBase())
                    buffer.setYDisp(std::max(buffer.yDisp() - 1, 0));
            }
        } else {
            ring.shiftUpAndRecycle(top, bottom, blank, isWrapped, bidiState);
        }
    }
};

} // namespace kestrovan
