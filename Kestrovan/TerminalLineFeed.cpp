// The basic C0 motions: line feed (also VT and FF), carriage return and backspace, and the routine
// that blanks one screen line for the erase and scroll handlers.
//
// A line feed at the bottom of the scroll region scrolls it (with left and right margins, only
// when the cursor stands inside them); below the region it only moves down until the last screen
// row. Moving onto a line marked as a soft-wrap continuation clears the mark: the line feed is a
// hard break between the two lines.
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace kestrovan {

// Inlined into both callers: most line feeds of a pager or an editor only move the cursor.
[[gnu::always_inline]] inline void Terminal::lineFeedMoveDown(Buffer& buffer, int oldY)
{
    const int newY = oldY + 1;
    buffer.setY(newY);
    const int row = buffer.yBase() + newY;
    if (row >= 0 && row < buffer.lines().count()) {
        BufferLine& line = *buffer.lines()[row];
        if (line.isWrapped()) {
            line.setWrapped(false);
            updateRange(oldY);
            updateRange(newY);
        }
        // Mostly the state the line has already.
        if (line.bidiState() != modes_.bidiState()) [[unlikely]]
            line.setBidiState(modes_.bidiState());
    }
}

void Terminal::cmdLineFeedBasic(Buffer& buffer)
{
    const int oldY = buffer.y();
    const int x = buffer.x();
    bool moved = false;
    bool handled = false;

    if (oldY == buffer.scrollBottom()) {
        handled = true;
        const bool insideMargins =
            !modes_[TerminalMode::marginMode] || (x >= buffer.marginLeft() && x <= buffer.marginRight());
        if (insideMargins) {
            scroll(buffer, false);
            moved = true;
        }
    }

    // Below the region the cursor stops on the last screen row.
    if (!handled && oldY < _rows - 1) {
        lineFeedMoveDown(buffer, oldY);
        moved = true;
    }

    // A pending wrap ends with the line feed.
    buffer.setWrapPending(false);

    // Only a line feed while a command line is being edited joins rows to its group.
    if (moved && buffer.semanticPrompt().isEditingCommandLine()) [[unlikely]]
        finishSemanticLineAdvance(buffer, true);

    if (modes_[TerminalMode::lineFeedMode])
        buffer.setX(modes_[TerminalMode::originMode] && modes_[TerminalMode::marginMode] ? buffer.marginLeft()
                                                                                         : 0);
}

namespace {

/// Whether two bidi states are the same, compared as one word: the state is four one-byte fields.
bool sameBidiState(const BidiPresentationState& first, const BidiPresentationState& second)
{
    static_assert(sizeof(BidiPresentationState) == sizeof(uint32_t), "the bidi state is one word");
    return std::bit_cast<uint32_t>(first) == std::bit_cast<uint32_t>(second);
}

} // namespace

// The moves of `lineFeeds`: each line the cursor reaches is a hard break from the one above it
// and takes the terminal's bidi state, as `lineFeedMoveDown` leaves it. Most runs of line feeds
// only move the cursor, onto lines that need neither change: inlined into both callers.
[[gnu::always_inline]] inline void Terminal::lineFeedMovesDown(Buffer& buffer, int y, int steps)
{
    buffer.setY(y + steps);
    CircularBufferLineList& ring = buffer.lines();
    const BidiPresentationState bidiState = modes_.bidiState();
    const int yBase = buffer.yBase();
    const int first = std::max(yBase + y + 1, 0);
    int row = first - yBase;
    ring.forEachLine(first, std::min(yBase + y + steps + 1, ring.count()), [&](BufferLine& line) {
        // Called right here, under the lock this function holds.
        terminalLock_.assumeHeldByCaller();
        if (line.isWrapped() || !sameBidiState(line.bidiState(), bidiState)) [[unlikely]]
            lineFeedMovedOnto(line, row);
        ++row;
    });
}

void Terminal::lineFeedMovedOnto(BufferLine& line, int y)
{
    if (line.isWrapped()) {
        line.setWrapped(false);
        updateRange(y - 1);
        updateRange(y);
    }
    line.setBidiState(modes_.bidiState());
}

// Pagers and editors scroll part of the screen with line feeds at the region's bottom, often two
// or more in a row. Without a column-switch run, left and right margins, new-line mode or a
// command line being edited, each feed only moves the cursor down or scrolls, and the pending
// wrap ends with the last: the moves down to the region's bottom (or, below it, to the screen's
// last row) are made together, and the feeds at the bottom of a region that scrolls in place are
// made as one rotation of its lines.
void Terminal::lineFeeds(size_t count)
{
    Buffer& buffer = *_buffer;
    if (columnSwitchRun_.isOpen() || modes_[TerminalMode::marginMode] || modes_[TerminalMode::lineFeedMode] ||
        buffer.semanticPrompt().isEditingCommandLine()) [[unlikely]] {
        for (; count > 0; --count)
            dispatchExecute(0x0A);
        return;
    }
    // Mostly the run ends before the region's bottom (or, below the region, the last row): it only
    // moves the cursor.
    const int y = buffer.y();
    const int scrollBottom = buffer.scrollBottom();
    const int lastRow = y <= scrollBottom ? scrollBottom : _rows - 1;
    if (y < lastRow && count <= static_cast<size_t>(lastRow - y)) [[likely]] {
        lineFeedMovesDown(buffer, y, static_cast<int>(count));
        buffer.setWrapPending(false);
        return;
    }
    lineFeedsReachingBottom(buffer, count);
}

// Inlined into its one caller: a pager's scroll inside a region comes here once or twice per run
// of line feeds, and a call each time would cost as much as the checks.
[[gnu::always_inline]] inline int Terminal::lineFeedsScroll(Buffer& buffer, size_t count)
{
    // The region scrolls where it lies when `scroll` would take its in-place road: a region below
    // the screen's top feeds no scrollback.
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    const int topRow = buffer.yBase() + scrollTop;
    const int bottomRow = buffer.yBase() + scrollBottom;
    CircularBufferLineList& ring = buffer.lines();
    if (scrollTop <= 0 || topRow < 0 || topRow >= bottomRow || bottomRow >= ring.count() ||
        buffer.hasPendingScrollbackReflow() || !scrollUnobserved()) [[unlikely]] {
        scroll(buffer, false);
        return 1;
    }
    // One rotation moves the region by its height at most; feeds beyond that scroll again. This
    // is `scrollInPlaceRegionFast` for unwrapped lines, whose region checks passed above.
    const int lines = static_cast<int>(std::min<size_t>(count, static_cast<size_t>(bottomRow - topRow + 1)));
    ring.rotateUpRecycling(topRow, bottomRow, lines, currentEraseBlankCell(), false, modes_.bidiState());
    buffer.setYDisp(buffer.yBase());
    updateRanges(scrollTop, scrollBottom);
    notifyScrollPositionChanged();
    return lines;
}

void Terminal::lineFeedsReachingBottom(Buffer& buffer, size_t count)
{
    // Neither a move nor a scroll changes the region or, when scrolling, the cursor's row.
    const int scrollBottom = buffer.scrollBottom();
    int y = buffer.y();
    while (count > 0) {
        if (y == scrollBottom) {
            count -= static_cast<size_t>(lineFeedsScroll(buffer, count));
            continue;
        }
        const int lastRow = y < scrollBottom ? scrollBottom : _rows - 1;
        // Below the region on the last row a line feed does nothing.
        if (y >= lastRow)
            break;
        const int steps = static_cast<int>(std::min<size_t>(count, static_cast<size_t>(lastRow - y)));
        lineFeedMovesDown(buffer, y, steps);
        y += steps;
        count -= static_cast<size_t>(steps);
    }
    buffer.setWrapPending(false);
}

void Terminal::carriageReturnLineFeed()
{
    // A column-switch run to end or margins to keep: the two controls, one after the other.
    if (columnSwitchRun_.isOpen() || modes_[TerminalMode::marginMode]) [[unlikely]] {
        dispatchExecute(0x0D);
        dispatchExecute(0x0A);
        return;
    }
    // Without margins CR goes to column 0, which also ends a pending wrap; LF new-line mode
    // would put the cursor there again.
    Buffer& buffer = *_buffer;
    buffer.setX(0);
    if (buffer.y() != buffer.scrollBottom() || !scrollRecyclesOldestLine(buffer)) {
        cmdLineFeedBasic(buffer);
        return;
    }
    scrollRecyclingOldestLine(buffer, false);
    if (buffer.semanticPrompt().isEditingCommandLine()) [[unlikely]] {
        finishSemanticLineAdvance(buffer, true);
    }
}

void Terminal::cmdCarriageReturn()
{
    Buffer& active = *_buffer;
    if (modes_[TerminalMode::marginMode] && active.x() >= active.marginLeft())
        active.setX(active.marginLeft());
    else
        active.setX(0);
}

void Terminal::cmdBackspace()
{
    if (modes_[TerminalMode::wraparound] &&
        (modes_[TerminalMode::reverseWraparound] || modes_[TerminalMode::reverseWraparoundExtended])) {
        reverseWrapBackward(1);
        return;
    }
    restrictCursor(true);
    Buffer& active = *_buffer;
    const int left = modes_[TerminalMode::marginMode] ? active.marginLeft() : 0;
    const int x = active.x();
    // At the left margin BS stops; left of it (outside the margins) it moves on to column 0.
    if (x > left || (x < left && x > 0))
        active.setX(x - 1);
}

void Terminal::clearEchoedEnterContinuationBeforeOutput()
{
    Buffer& active = *_buffer;
    const int row = active.yBase() + active.y();
    if (row < 0 || row >= active.lines().count())
        return;
    BufferLine& line = *active.lines()[row];
    if (line.semanticHardContinuationGroup())
        line.setSemanticHardContinuationGroup(std::nullopt);
}

void Terminal::resetBufferLine(int y, bool clearImages, const std::optional<BidiPresentationState>& bidiState)
{
    Buffer& active = *_buffer;
    const int row = active.yBase() + y;
    if (row < 0 || row >= active.lines().count())
        return;
    if (clearImages)
        active.clearImagesFromLine(row);
    BufferLine& line = *active.lines()[row];
    // A wide character cut by the screen edge goes whole.
    line.repairWideSeam(_cols);
    line.fill(currentEraseBlankCell(), 0, std::min(_cols, line.count()));
    line.setWrapped(false);
    line.setRenderMode(BufferLine::RenderLineMode::single);
    if (bidiState)
        line.setBidiState(*bidiState);
    updateRange(y);
}

} // namespace kestrovan
