// The scroll engine and the commands built on it.
//
// `scroll` moves the scroll region of the active buffer up one line (a line feed at the bottom
// margin, or a wrap). It takes the cheapest of three paths: recycling the oldest line of a full
// ring when the whole screen scrolls into the scrollback and nobody watches the rows; rotating the
// line references of a region in place; and the general path, which also copies cells when left
// and right margins restrict the scroll and keeps selections and image placements in step. Lines
// are moved or recycled, never copied, unless the margins force a cell copy.
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

namespace {

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

[[gnu::cold]] void printBadRegionRows(int topRow, int bottomRow)
{
    const char* reason = topRow < 0 ? "top < 0" : bottomRow < topRow ? "bottom < top" : "bottom >= count";
    printDiagnostic("Assertion at top=" + std::to_string(topRow) + " bottom=" + std::to_string(bottomRow) +
                    ": " + reason);
}

/// Whether the region check of the in-place paths passes; prints the ring's diagnostic when not.
/// Inline, as every scroll of a region checks; the diagnostic is out of the way.
bool validRegionRows(int topRow, int bottomRow, int count)
{
    if (topRow >= 0 && bottomRow >= topRow && bottomRow < count) [[likely]]
        return true;
    printBadRegionRows(topRow, bottomRow);
    return false;
}

} // namespace

void Terminal::scroll(Buffer& buffer, bool isWrapped)
{
    // While column switches defer the scrollback's reflow, a line scrolled into the scrollback
    // grows the ring and the buffer then drops what a full ring would have dropped
    // (`ColumnSwitchRun`); the general path keeps everything else in step.
    if (buffer.hasPendingScrollbackReflow()) [[unlikely]] {
        buffer.prepareScrollWithPendingReflow();
        scrollGeneral(buffer, isWrapped, buffer.scrollTop(), buffer.scrollBottom(),
                      buffer.yBase() + buffer.scrollTop(), buffer.yBase() + buffer.scrollBottom(), false);
        // Placements name absolute rows: a row falling off the full ring moves them up one.
        if (buffer.finishScrollWithPendingReflow() && hasKittyPlacements_)
            trimKittyPlacementRows();
        // Rows marked changed by their absolute row are marked again in the rows the reflow
        // will leave, now that the full ring's drop is counted.
        markScrolledRows(buffer.scrollTop(), buffer.scrollBottom(), buffer.hasScrollback());
        return;
    }
    // Recycle fast path: the whole screen scrolls into the scrollback of a full ring.
    if (scrollRecyclesOldestLine(buffer)) {
        scrollRecyclingOldestLine(buffer, isWrapped);
        return;
    }

    CircularBufferLineList& ring = buffer.lines();
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    const int topRow = buffer.yBase() + scrollTop;
    const int bottomRow = buffer.yBase() + scrollBottom;
    // Selections and placements name absolute rows, and a scrolled-back view names the row it
    // shows: any of them rules out the fast paths, which do not keep them in step.
    const bool unobserved = scrollUnobserved();
    const bool bottomIsLastLine = bottomRow == ring.count() - 1;

    // In-place fast path: a region that never feeds the scrollback.
    if (!modes_[TerminalMode::marginMode] && unobserved && bottomRow < ring.count() &&
        (scrollTop > 0 || (!bottomIsLastLine && !buffer.hasScrollback()))) {
        scrollInPlaceRegionFast(buffer, scrollTop, scrollBottom, topRow, bottomRow, isWrapped);
        return;
    }

    scrollGeneral(buffer, isWrapped, scrollTop, scrollBottom, topRow, bottomRow);
}

void Terminal::markScrolledRows(int scrollTop, int scrollBottom, bool hasScrollback)
{
    if (scrollTop == 0 && scrollBottom == _rows - 1 && hasScrollback) {
        refreshStart_ = std::min(refreshStart_, 0);
        refreshEnd_ = std::max(refreshEnd_, scrollBottom);
    } else {
        updateRange(scrollTop);
        updateRange(scrollBottom);
    }
}

void Terminal::scrollInPlaceRegionFast(Buffer& buffer, int scrollTop, int scrollBottom, int topRow,
                                       int bottomRow, bool isWrapped, int lines)
{
    CircularBufferLineList& ring = buffer.lines();
    const bool bottomInRing = bottomRow >= 0 && bottomRow < ring.count();
    const BidiPresentationState bidiState =
        isWrapped && bottomInRing ? ring[bottomRow]->bidiState() : modes_.bidiState();

    if (validRegionRows(topRow, bottomRow, ring.count())) {
        // The lines leaving the top are reused, blanked, as the new bottom lines: scrolling by
        // several rows at once is that many scrolls by one row in a single rotation.
        if (lines == 1)
            ring.shiftUpAndRecycle(topRow, bottomRow, currentEraseBlankCell(), isWrapped, bidiState);
        else
            ring.rotateAndRecycle(topRow, bottomRow, lines, true, currentEraseBlankCell(), bidiState);
    } else {
        printDiagnostic("Assertion on scroll, state was: bottomRow=" + std::to_string(bottomRow) +
                        " topRow=" + std::to_string(topRow) + " yDisp=" + std::to_string(buffer.yDisp()) +
                        " linesTop=" + std::to_string(buffer.linesTop()) +
                        " isAlternate=" + boolText(&buffer == altBuffer_.get()));
    }

    buffer.setYDisp(buffer.yBase());
    updateRanges(scrollTop, scrollBottom);
    notifyScrollPositionChanged();
}

void Terminal::scrollGeneral(Buffer& buffer, bool isWrapped, int scrollTop, int scrollBottom, int topRow,
                             int bottomRow, bool markRows)
{
    CircularBufferLineList& ring = buffer.lines();
    const bool isAlternate = &buffer == altBuffer_.get();
    const bool bottomInRing = bottomRow >= 0 && bottomRow < ring.count();
    const BidiPresentationState bidiState =
        isWrapped && bottomInRing ? ring[bottomRow]->bidiState() : modes_.bidiState();
    const bool fullWidth =
        !modes_[TerminalMode::marginMode] || (buffer.marginLeft() < 1 && buffer.marginRight() >= _cols - 1);

    enum class Outcome
    {
        inPlace,
        grew,
        full,
    };
    Outcome outcome;

    if (!fullWidth) {
        // Left and right margins: only the cells between them move, so cells are copied.
        if (topRow < 0 || !bottomInRing)
            return;
        const int left = buffer.marginLeft();
        const int width = buffer.marginRight() - left + 1;
        // A wide character straddling a margin would be cut in half by the copy.
        for (int row = topRow; row <= bottomRow; ++row)
            repairWideCellsForColumnRestrictedShift(row);
        for (int row = topRow; row < bottomRow; ++row) {
            BufferLine& target = *ring[row];
            BufferLine& source = *ring[row + 1];
            target.copyFrom(source, left, left, width);
            target.setWrapped(false);
            target.setBidiState(source.bidiState());
            buffer.clearImagesFromLine(row);
            target.setRenderMode(BufferLine::RenderLineMode::single);
        }
        BufferLine& bottom = *ring[bottomRow];
        bottom.fill(currentEraseBlankCell(), left, width);
        bottom.setWrapped(false);
        bottom.setBidiState(modes_.bidiState());
        buffer.clearImagesFromLine(bottomRow);
        bottom.setRenderMode(BufferLine::RenderLineMode::single);
        selectionsInvalidateForColumnRestrictedScroll(topRow, bottomRow, left, buffer.marginRight());
        outcome = Outcome::inPlace;
    } else if (scrollTop == 0 && (bottomRow == ring.count() - 1 || buffer.hasScrollback())) {
        // The top line goes into the scrollback.
        const bool wasFull = ring.isFull();
        bool insertedBelowRegion = false;
        if (bottomRow == ring.count() - 1 && !wasFull) {
            ring.push(buffer.getBlankLine(currentEraseBlankCell(), isWrapped, bidiState));
            outcome = Outcome::grew;
        } else if (bottomRow == ring.count() - 1) {
            ring.recycle(currentEraseBlankCell(), isWrapped, bidiState);
            outcome = Outcome::full;
        } else {
            // The region ends above the screen's bottom: the new line goes in after it and the
            // rows below the region keep their screen rows. A full ring drops its oldest line,
            // whose images the ring does not count off itself.
            // A full ring reuses its oldest line when it has the screen's width, as a pager
            // scrolling above a status line would otherwise allocate a line per line feed.
            const std::shared_ptr<BufferLine>& oldest = ring.lineIfPresent(0);
            if (wasFull && oldest && oldest->count() == buffer.cols()) {
                // The ring counts off the recycled line's images itself.
                ring.recycleInto(bottomRow, currentEraseBlankCell(), isWrapped, bidiState);
            } else if (!wasFull) {
                // The ring grows by the new line, which then moves up past the lines below the
                // region to the row after it.
                ring.push(buffer.getBlankLine(currentEraseBlankCell(), isWrapped, bidiState));
                ring.rotateDown(bottomRow + 1, ring.count() - 1);
            } else {
                if (oldest && oldest->hasImages())
                    buffer.adjustLinesWithImagesCount(-1);
                ring.splice(bottomRow + 1, 0,
                            {buffer.getBlankLine(currentEraseBlankCell(), isWrapped, bidiState)});
            }
            insertedBelowRegion = true;
            outcome = wasFull ? Outcome::full : Outcome::grew;
        }
        if (outcome == Outcome::grew) {
            buffer.setYBase(buffer.yBase() + 1);
            if (!userScrolling_)
                buffer.setYDisp(buffer.yDisp() + 1);
            // A line inserted below the region pushed the lines under it one absolute row down.
            if (insertedBelowRegion)
                adjustSelectionsForInPlaceScroll(bottomRow + 1, ring.count() - 1, -1);
        } else {
            // The oldest line fell off the ring: the lines down to the region's bottom moved up
            // one absolute row. Lines below a region that ends above the screen's bottom also
            // moved down for the inserted line, so they kept their rows.
            if (buffer.hasScrollback())
                buffer.addLinesTrimmed(1);
            adjustSelectionsForInPlaceScroll(0, bottomRow, 1);
            // A user looking at the scrollback keeps seeing the same text.
            if (userScrolling_)
                buffer.setYDisp(std::max(0, buffer.yDisp() - 1));
        }
    } else {
        if (bottomRow >= ring.count()) {
            printDiagnostic(
                "scroll: bottomRow " + std::to_string(bottomRow) + " >= lines.count " +
                std::to_string(ring.count()) + ", state:" + " yBase=" + std::to_string(buffer.yBase()) +
                " scrollTop=" + std::to_string(scrollTop) + " scrollBottom=" + std::to_string(scrollBottom) +
                " isAlternate=" + boolText(isAlternate));
            return;
        }
        if (validRegionRows(topRow, bottomRow, ring.count())) {
            ring.shiftUpAndRecycle(topRow, bottomRow, currentEraseBlankCell(), isWrapped, bidiState);
        } else {
            printDiagnostic("Assertion on scroll, state was: bottomRow=" + std::to_string(bottomRow) +
                            " topRow=" + std::to_string(topRow) + " yDisp=" + std::to_string(buffer.yDisp()) +
                            " linesTop=" + std::to_string(buffer.linesTop()) +
                            " isAlternate=" + boolText(isAlternate));
        }
        adjustSelectionsForInPlaceScroll(topRow, bottomRow, 1);
        outcome = Outcome::inPlace;
    }

    if (!userScrolling_ || buffer.yDisp() < 0)
        buffer.setYDisp(buffer.yBase());

    if (hasKittyPlacements_) {
        if (outcome == Outcome::full) {
            trimKittyPlacementRows();
        } else if (outcome == Outcome::inPlace) {
            const int left = modes_[TerminalMode::marginMode] ? buffer.marginLeft() : 0;
            const int right = modes_[TerminalMode::marginMode] ? buffer.marginRight() : _cols - 1;
            scrollKittyPlacementsInMargins(topRow, bottomRow, left, right, -1);
        }
    }

    if (markRows)
        markScrolledRows(scrollTop, scrollBottom, buffer.hasScrollback());
    notifyScrollPositionChanged();
}

void Terminal::cmdIndex()
{
    restrictCursor(true);
    Buffer& active = *_buffer;
    const int x = active.x();
    const int y = active.y();
    const bool inside =
        !modes_[TerminalMode::marginMode] || (x >= active.marginLeft() && x <= active.marginRight());
    bool advanced = false;
    if (y == active.scrollBottom() && inside) {
        scroll(active, false);
        advanced = true;
    } else if (y < active.scrollBottom() || (y > active.scrollBottom() && y + 1 < _rows)) {
        active.setY(y + 1);
        advanced = true;
    }
    finishSemanticLineAdvance(active, advanced);
}

void Terminal::reverseIndex()
{
    restrictCursor(true);
    Buffer& active = *_buffer;
    CircularBufferLineList& ring = active.lines();
    const int x = active.x();
    const int y = active.y();
    if (y != active.scrollTop()) {
        if (y >= 1)
            active.setY(y - 1);
        return;
    }
    if (modes_[TerminalMode::marginMode] && (x < active.marginLeft() || x > active.marginRight()))
        return;

    const int topRow = active.yBase() + y;
    const int bottomRow = active.yBase() + active.scrollBottom();
    const bool isAlternate = &active == altBuffer_.get();
    if (topRow >= ring.count() || bottomRow >= ring.count()) {
        printDiagnostic("reverseIndex: start index " + std::to_string(topRow) + " >= lines.count " +
                        std::to_string(ring.count()) + ", state:" + " y=" + std::to_string(y) + " yBase=" +
                        std::to_string(active.yBase()) + " scrollTop=" + std::to_string(active.scrollTop()) +
                        " scrollBottom=" + std::to_string(active.scrollBottom()) +
                        " isAlternate=" + boolText(isAlternate));
        return;
    }

    const bool fullWidth =
        !modes_[TerminalMode::marginMode] || (active.marginLeft() < 1 && active.marginRight() >= _cols - 1);
    if (!fullWidth) {
        const int left = active.marginLeft();
        const int width = active.marginRight() - left + 1;
        for (int row = topRow; row <= bottomRow; ++row)
            repairWideCellsForColumnRestrictedShift(row);
        for (int row = bottomRow; row > topRow; --row) {
            BufferLine& target = *ring[row];
            target.copyFrom(*ring[row - 1], left, left, width);
            target.setWrapped(false);
            active.clearImagesFromLine(row);
            target.setRenderMode(BufferLine::RenderLineMode::single);
        }
        BufferLine& top = *ring[topRow];
        top.fill(currentEraseBlankCell(), left, width);
        top.setWrapped(false);
        active.clearImagesFromLine(topRow);
        top.setRenderMode(BufferLine::RenderLineMode::single);
        selectionsInvalidateForColumnRestrictedScroll(topRow, bottomRow, left, active.marginRight());
    } else {
        // The bottom line of the region is dropped. A line of the screen's width comes round to
        // the top blanked (the ring counts off its images); another one is replaced by a new line.
        const bool rotated =
            ring[bottomRow]->count() == active.cols() &&
            ring.rotateAndRecycle(topRow, bottomRow, 1, false, currentEraseBlankCell(), modes_.bidiState());
        if (!rotated) {
            if (ring[bottomRow]->hasImages())
                active.adjustLinesWithImagesCount(-1);
            if (!ring.shiftElements(topRow, bottomRow - topRow, 1)) {
                printDiagnostic("Assertion on reverseIndex, state was: y=" + std::to_string(y) +
                                " scrollTop=" + std::to_string(active.scrollTop()) +
                                "  yDisp=" + std::to_string(active.yDisp()) + " linesTop=" +
                                std::to_string(active.linesTop()) + " isAlternate=" + boolText(isAlternate));
            }
            ring.set(topRow, active.getBlankLine(currentEraseBlankCell(), false, modes_.bidiState()));
        }
        // The line below the region continued the line that was just dropped.
        if (bottomRow + 1 < ring.count())
            ring[bottomRow + 1]->setWrapped(false);
        adjustSelectionsForInPlaceScroll(topRow, bottomRow, -1);
    }

    if (hasKittyPlacements_) {
        const int left = modes_[TerminalMode::marginMode] ? active.marginLeft() : 0;
        const int right = modes_[TerminalMode::marginMode] ? active.marginRight() : _cols - 1;
        scrollKittyPlacementsInMargins(topRow, bottomRow, left, right, 1);
    }
    updateRange(active.scrollTop());
    updateRange(active.scrollBottom());
}

// ---------------------------------------------------------------------------------------------------
// The commands that edit the scroll region in place: SU, SD, IL, DL, ICH, DCH, DECIC, DECDC, the
// column scroll behind DECBI/DECFI, REP, and the bidi hardening steps that keep a wrapped paragraph
// from running across the edge of what moved. None of them feeds the scrollback.
//
// Whole-width line moves rotate line references; only left and right margins force cell copies.
// SU and SD fill with plain empty cells (style 0) whatever the background, while IL, DL, ICH and
// DCH fill with the erase style.

namespace {

/// Which way content moves: `up` towards the top of the region (SU, DL), `down` away from it.
enum class Shift
{
    up,
    down,
};

/// `max(1, Ps)`, 1 when the sequence has no parameter.
int countParameter(const CsiParameters& pars)
{
    return pars.count > 0 ? static_cast<int>(std::max<int64_t>(1, pars[0])) : 1;
}

/// Moves the lines of absolute rows `top` ... `bottom` by `count` rows, whole. Lines pushed out of
/// the range are dropped; the rows left behind get new blank lines of `blank`. Moving by the height
/// or more blanks the range, so any larger count gives the same result as the height.
void shiftWholeLines(Buffer& buffer, int top, int bottom, int count, Shift direction, PackedCell blank,
                     const BidiPresentationState& bidiState)
{
    CircularBufferLineList& ring = buffer.lines();
    const int moved = std::min(count, bottom - top + 1);
    if (moved < 1)
        return;
    // The lines pushed out: at the top of the range when moving up, at its bottom when moving
    // down. Editors and pagers scroll this way line by line, so when those lines have the
    // screen's width they are blanked and rotated round to the rows left behind (the ring counts
    // off their images) instead of being dropped for new ones.
    const int firstDropped = direction == Shift::up ? top : bottom - moved + 1;
    bool reusable = true;
    for (int row = firstDropped; row < firstDropped + moved && reusable; ++row) {
        const std::shared_ptr<BufferLine>& line = ring.lineIfPresent(row);
        reusable = line && line->count() == buffer.cols();
    }
    if (reusable && ring.rotateAndRecycle(top, bottom, moved, direction == Shift::up, blank, bidiState))
        return;
    // The ring does not count the images of lines that leave it by splicing.
    for (int row = firstDropped; row < firstDropped + moved; ++row) {
        const std::shared_ptr<BufferLine>& line = ring.lineIfPresent(row);
        if (line && line->hasImages())
            buffer.adjustLinesWithImagesCount(-1);
    }
    std::vector<std::shared_ptr<BufferLine>> blanks;
    blanks.reserve(static_cast<size_t>(moved));
    for (int i = 0; i < moved; ++i)
        blanks.push_back(buffer.getBlankLine(blank, false, bidiState));
    // Two splices move the line references of the range (and of the few screen rows below it)
    // once each way; only the new lines are taken in by the ring.
    ring.splice(firstDropped, moved, {});
    ring.splice(direction == Shift::up ? bottom - moved + 1 : top, 0, blanks);
}

/// Moves the cells in columns `left` ... `right` of absolute rows `top` ... `bottom` by `count`
/// rows, the rest of each row staying in place; the rows left behind get `fill` in those columns.
/// A line whose cells moved is single size again: a double-width row cannot be half shifted.
void shiftMarginColumns(CircularBufferLineList& ring, int top, int bottom, int count, Shift direction,
                        int left, int right, PackedCell fill)
{
    const int width = right - left + 1;
    if (width < 1 || count < 1)
        return;
    // Each row reads a row that has not been written yet: top down when moving up, bottom up when
    // moving down.
    const auto shiftRow = [&](int row) {
        BufferLine& target = *ring[row];
        const int from = direction == Shift::up ? row + count : row - count;
        if (from >= top && from <= bottom)
            target.copyFrom(*ring[from], left, left, width);
        else
            target.fill(fill, left, width);
        target.setRenderMode(BufferLine::RenderLineMode::single);
    };
    if (direction == Shift::up) {
        for (int row = top; row <= bottom; ++row)
            shiftRow(row);
    } else {
        for (int row = bottom; row >= top; --row)
            shiftRow(row);
    }
}

/// The columns a margin-restricted edit touches: the margins with `marginMode`, else the whole
/// width; clamped into the buffer. `right` < `left` when nothing is left.
struct ColumnSpan
{
    int left;
    int right;
};

ColumnSpan editColumns(const Terminal& terminal, const Buffer& buffer) REQUIRES(terminal.terminalLock())
{
    if (!terminal.mode(TerminalMode::marginMode))
        return {0, terminal.cols() - 1};
    return {std::max(buffer.marginLeft(), 0), std::min(buffer.marginRight(), terminal.cols() - 1)};
}

/// Whether absolute rows `top` ... `bottom` form a range inside the ring.
bool rowsInRing(const Buffer& buffer, int top, int bottom)
{
    return top >= 0 && bottom >= top && bottom < buffer.lines().count();
}

} // namespace

// The steps SU, SD, IL, DL and the column operations share; nested in the terminal, so they reach
// its inside like its own members.
struct Terminal::ScrollSteps
{
    /// SU and SD: the scroll region moves by `count` lines without touching the scrollback.
    static void scrollRegionInPlace(Terminal& terminal, int count, Shift direction)
        REQUIRES(terminal.terminalLock());
    /// IL and DL: the lines from the cursor row to the bottom of the region move by `count`.
    static void shiftLinesFromCursor(Terminal& terminal, int count, Shift direction)
        REQUIRES(terminal.terminalLock());
    /// Applies `edit` to the line of every row of the scroll region, with the right edge the edit
    /// may reach on that line; used by the column operations.
    template <typename Edit>
    static void editRegionRows(Terminal& terminal, int right, Edit&& edit) REQUIRES(terminal.terminalLock());
};

void Terminal::ScrollSteps::scrollRegionInPlace(Terminal& terminal, int count, Shift direction)
{
    Buffer& active = terminal.activeBuffer();
    const int top = active.yBase() + active.scrollTop();
    const int bottom = active.yBase() + active.scrollBottom();
    if (!rowsInRing(active, top, bottom))
        return;
    const ColumnSpan span = editColumns(terminal, active);
    // SU and SD fill with the zero cell, not the erase style.
    const PackedCell blank;

    if (terminal.mode(TerminalMode::marginMode)) {
        // With left and right margins only their columns move, whatever the cursor column.
        for (int row = top; row <= bottom; ++row)
            terminal.repairWideCellsForColumnRestrictedShift(row);
        shiftMarginColumns(active.lines(), top, bottom, count, direction, span.left, span.right, blank);
        terminal.selectionsInvalidateForColumnRestrictedScroll(top, bottom, span.left, span.right);
    } else {
        shiftWholeLines(active, top, bottom, count, direction, blank, terminal.currentBidiState());
        terminal.adjustSelectionsForInPlaceScroll(top, bottom, direction == Shift::up ? count : -count);
    }

    if (terminal.hasKittyPlacements_)
        terminal.scrollKittyPlacementsInMargins(top, bottom, span.left, span.right,
                                                direction == Shift::up ? -count : count);
    terminal.hardenBidiScrollBoundaries(direction == Shift::down, count);
    terminal.updateRange(active.scrollTop());
    terminal.updateRange(active.scrollBottom());
}

void Terminal::cmdScrollUp(const CsiParameters& pars, Collect)
{
    // More than two screens' worth cannot change anything further.
    ScrollSteps::scrollRegionInPlace(*this, std::min(countParameter(pars), 2 * _rows), Shift::up);
}

void Terminal::cmdScrollDown(const CsiParameters& pars, Collect)
{
    ScrollSteps::scrollRegionInPlace(*this, std::min(countParameter(pars), _rows), Shift::down);
}

void Terminal::ScrollSteps::shiftLinesFromCursor(Terminal& terminal, int count, Shift direction)
{
    Buffer& active = terminal.activeBuffer();
    const int y = active.y();
    const int row = active.yBase() + y;
    const int last = active.yBase() + active.scrollBottom();
    if (!rowsInRing(active, row, last))
        return;

    if (terminal.mode(TerminalMode::marginMode)) {
        const int x = active.x();
        if (x < active.marginLeft() || x > active.marginRight())
            return;
        const ColumnSpan span = editColumns(terminal, active);
        for (int at = row; at <= last; ++at)
            terminal.repairWideCellsForColumnRestrictedShift(at);
        shiftMarginColumns(active.lines(), row, last, count, direction, span.left, span.right,
                           terminal.currentEraseBlankCell());
        terminal.selectionsInvalidateForColumnRestrictedScroll(row, last, span.left, span.right);
    } else {
        shiftWholeLines(active, row, last, count, direction, terminal.currentEraseBlankCell(),
                        terminal.currentBidiState());
        if (direction == Shift::down) {
            terminal.adjustSelectionsForInPlaceScroll(row, last, -count);
            // The line that was at the cursor row continued the line above, which it no longer
            // follows.
            const std::optional<int> firstMoved =
                row + count <= last ? std::optional<int>(row + count) : std::nullopt;
            terminal.hardenBidiLineShiftBoundaries(row, firstMoved, last);
        } else {
            terminal.adjustSelectionsForInPlaceScroll(row, last, count);
            terminal.hardenBidiLineShiftBoundaries(row, std::nullopt, last);
        }
    }

    terminal.updateRange(y);
    terminal.updateRange(active.scrollBottom());
    if (active.scrollTop() > 0 || active.scrollBottom() < terminal.rows() - 1)
        terminal.updateRange(active.scrollTop());
}

void Terminal::cmdInsertLines(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    // The column stays, but the cursor no longer waits to wrap (DL ends it by clamping).
    active.setWrapPending(false);
    const int y = active.y();
    if (y < active.scrollTop() || y > active.scrollBottom())
        return;
    // The cursor does not move.
    ScrollSteps::shiftLinesFromCursor(*this, std::min(countParameter(pars), active.scrollBottom() - y + 1),
                                      Shift::down);
}

void Terminal::cmdDeleteLines(const CsiParameters& pars, Collect)
{
    restrictCursor(true);
    Buffer& active = *_buffer;
    const int y = active.y();
    if (y < active.scrollTop() || y > active.scrollBottom())
        return;
    ScrollSteps::shiftLinesFromCursor(*this, std::min(countParameter(pars), _rows + 1), Shift::up);
}

void Terminal::cmdInsertChars(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    // ICH and DCH act at the cursor's column, the last one while a wrap is pending, and end it.
    active.setWrapPending(false);
    const int x = active.x();
    if (modes_[TerminalMode::marginMode] && (x < active.marginLeft() || x > active.marginRight()))
        return;
    const int row = active.yBase() + active.y();
    if (!rowsInRing(active, row, row))
        return;
    BufferLine& line = *active.lines()[row];
    const int right = std::min(editColumns(*this, active).right, line.count() - 1);
    if (right < 0)
        return;
    // The line primitive blanks wide characters cut at the cursor, at the margin and where cells
    // fall off past the margin; the cells beyond the right margin never move.
    line.insertPackedCells(x, countParameter(pars), right, currentEraseBlankCell());
    updateRange(active.y());
}

void Terminal::cmdDeleteChars(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    active.setWrapPending(false);
    const int x = active.x();
    int count = countParameter(pars);
    if (modes_[TerminalMode::marginMode]) {
        if (x < active.marginLeft() || x > active.marginRight())
            return;
        count = std::min(count, active.marginRight() - x + 1);
    }
    const int row = active.yBase() + active.y();
    if (!rowsInRing(active, row, row))
        return;
    BufferLine& line = *active.lines()[row];
    const int right = std::min(editColumns(*this, active).right, line.count() - 1);
    if (right < x)
        return;
    // The freed columns before the margin take the erase style; the line's prompt marks follow
    // their cells.
    line.deletePackedCells(x, count, right, currentEraseBlankCell());
    updateRange(active.y());
}

template <typename Edit>
void Terminal::ScrollSteps::editRegionRows(Terminal& terminal, int right, Edit&& edit)
{
    Buffer& active = terminal.activeBuffer();
    const int top = active.yBase() + active.scrollTop();
    const int bottom = active.yBase() + active.scrollBottom();
    if (!rowsInRing(active, top, bottom))
        return;
    for (int row = top; row <= bottom; ++row) {
        BufferLine& line = *active.lines()[row];
        const int lineRight = std::min(right, line.count() - 1);
        if (lineRight >= 0)
            edit(line, lineRight);
    }
    terminal.updateRange(active.scrollTop());
    terminal.updateRange(active.scrollBottom());
}

namespace {

/// The space DECIC and DECBI insert: it carries `Attribute::empty`, not the erase style.
PackedCell emptyAttributeSpace(Buffer& buffer)
{
    const uint16_t styleID = buffer.cellArena()->intern(Attribute::empty).value_or(0);
    return PackedCell::makeScalar(' ', styleID, PackedCell::WidthState::single, false, 0, 0);
}

} // namespace

void Terminal::cmdInsertColumns(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    const int x = active.x();
    const ColumnSpan span = editColumns(*this, active);
    // Only the column matters: DECIC acts on the region whichever row the cursor is on.
    if (x < span.left || x > span.right)
        return;
    const int count = countParameter(pars);
    const PackedCell space = emptyAttributeSpace(active);
    ScrollSteps::editRegionRows(*this, span.right, [&](BufferLine& line, int right) {
        if (x > right)
            return;
        // Cells pushed past the right edge are lost; the line gets its marks moved with it.
        line.insertPackedCells(x, count, right, space);
        line.setWrapped(false);
    });
}

void Terminal::cmdDeleteColumns(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    const int x = active.x();
    const int y = active.y();
    if (y < active.scrollTop() || y > active.scrollBottom())
        return;
    if (modes_[TerminalMode::marginMode] && (x < active.marginLeft() || x > active.marginRight()))
        return;
    const int count = countParameter(pars);
    const ColumnSpan span = editColumns(*this, active);
    ScrollSteps::editRegionRows(*this, span.right, [&](BufferLine& line, int right) {
        // Called by `editRegionRows` within this call, under the lock it requires.
        terminalLock_.assumeHeldByCaller();
        if (x > right)
            return;
        // The columns freed at the right edge get erase-style spaces; prompt marks move with
        // their cells, and the row stops continuing the one above.
        line.deletePackedCells(x, count, right, currentEraseSpaceCell());
        line.setWrapped(false);
    });
}

void Terminal::columnScroll(bool back, int at)
{
    Buffer& active = *_buffer;
    const int x = active.x();
    const int y = active.y();
    if (y < active.scrollTop() || y > active.scrollBottom())
        return;
    if (x < active.marginLeft() || x > active.marginRight())
        return;
    const ColumnSpan span = editColumns(*this, active);
    if (at < 0 || at > span.right)
        return;
    const PackedCell space = back ? emptyAttributeSpace(active) : currentEraseSpaceCell();
    ScrollSteps::editRegionRows(*this, span.right, [&](BufferLine& line, int right) {
        if (at > right)
            return;
        // DECBI at the left margin pushes the columns right; DECFI at the right margin pulls them
        // left. Both are a one-cell insert or delete at `at` bounded by the right edge.
        if (back)
            line.insertPackedCells(at, 1, right, space);
        else
            line.deletePackedCells(at, 1, right, space);
    });
}

void Terminal::cmdRepeatPrecedingCharacter(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    const int row = active.yBase() + active.y();
    if (!rowsInRing(active, row, row))
        return;
    // More repeats than two screens of cells cannot show anything more.
    const int count = std::min(countParameter(pars), 2 * _cols * _rows);
    // The cell left of the cursor, or under it while a wrap is pending: the last one printed.
    const int x = active.columnAfterPrinted();

    PackedCell cell;
    if (x > 0) {
        const BufferLine& line = *active.lines()[row];
        if (x - 1 < line.count())
            cell = line.packed(x - 1);
        // After a wide character the cell left of the cursor is its right half. Repeating that
        // half alone would fill the row with continuations that belong to no character; the
        // character is its lead, and a half whose lead is gone repeats as an empty cell.
        if (cell.isContinuation()) {
            if (x >= 2 && x - 2 < line.count() && line.packed(x - 2).isLead())
                cell = line.packed(x - 2);
            else
                cell = cell.blanked();
        }
    }

    // Through the buffer's character insertion, so the repeats honour insert mode, protection,
    // margins and auto-wrap exactly as printed text does.
    updateRange(active.y());
    for (int i = 0; i < count; ++i) {
        active.insertCharacter(cell);
        // Wrapping moves the cursor through rows that the scroll does not mark.
        updateRange(active.y());
    }
}

void Terminal::hardenBidiScrollBoundaries(bool insertedAtTop, int count)
{
    Buffer& active = *_buffer;
    CircularBufferLineList& ring = active.lines();
    const auto unwrap = [&](int row) {
        if (row >= 0 && row < ring.count())
            ring[row]->setWrapped(false);
    };
    const int top = active.yBase() + active.scrollTop();
    const int height = active.scrollBottom() - active.scrollTop() + 1;
    // The top line of the region now follows a line it was never part of.
    unwrap(top);
    // After SD the first line that moved down follows the inserted blanks.
    if (insertedAtTop && count < height)
        unwrap(top + count);
    // The line below the region followed the region's old last line.
    unwrap(active.yBase() + active.scrollBottom() + 1);
}

void Terminal::hardenBidiLineShiftBoundaries(int firstChangedRow, std::optional<int> firstMovedRow,
                                             int lastRow)
{
    CircularBufferLineList& ring = _buffer->lines();
    const auto unwrap = [&](int row) {
        if (row >= 0 && row < ring.count())
            ring[row]->setWrapped(false);
    };
    unwrap(firstChangedRow);
    if (firstMovedRow)
        unwrap(*firstMovedRow);
    unwrap(lastRow + 1);
}

// --- The view ----------------------------------------------------------------------------------

bool Terminal::scrollViewportTo(int row)
{
    Buffer& active = *_buffer;
    // The live screen's first row is the last a view can show at its top.
    const int target = std::clamp(row, 0, std::max(active.lines().count() - _rows, 0));
    if (target == active.yDisp())
        return false;
    active.setYDisp(target);
    return true;
}

} // namespace kestrovan
