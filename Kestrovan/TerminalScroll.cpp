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
#include <string>

namespace kestrovan {

namespace {

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

/// Whether the region check of the in-place paths passes; prints the ring's diagnostic when not.
bool validRegionRows(int topRow, int bottomRow, int count)
{
    const char* reason = nullptr;
    if (topRow < 0)
        reason = "top < 0";
    else if (bottomRow < topRow)
        reason = "bottom < top";
    else if (bottomRow >= count)
        reason = "bottom >= count";
    if (!reason)
        return true;
    printDiagnostic("Assertion at top=" + std::to_string(topRow) + " bottom=" + std::to_string(bottomRow) +
                    ": " + reason);
    return false;
}

} // namespace

void Terminal::notifyScrollPositionChanged()
{
    hasPendingScrollNotification = true;
    // Inside a feed the outermost feed delivers it once, when parsing ends.
    if (parseDepth == 0) {
        hasPendingScrollNotification = false;
        scrollPositionChanged();
    }
}

void Terminal::scroll(Buffer& buffer, int lines, bool isWrapped)
{
    CircularBufferLineList& ring = buffer.lines();
    const int scrollTop = buffer.scrollTop();
    const int scrollBottom = buffer.scrollBottom();
    const int topRow = buffer.yBase() + scrollTop;
    const int bottomRow = buffer.yBase() + scrollBottom;
    // Selections and placements name absolute rows, and a scrolled-back view names the row it
    // shows: any of them rules out the fast paths, which do not keep them in step.
    const bool unobserved = activeSelectionCount == 0 && !hasKittyPlacements && !userScrolling;
    const bool bottomIsLastLine = bottomRow == ring.count() - 1;

    // Recycle fast path: the whole screen scrolls into the scrollback of a full ring.
    if (!marginMode && buffer.hasScrollback() && scrollTop == 0 && scrollBottom == _rows - 1 &&
        ring.isFull() && bottomIsLastLine && unobserved) {
        const BidiPresentationState bidiState = isWrapped ? ring[bottomRow]->bidiState() : _currentBidiState;
        ring.recycle(currentEraseBlankCell, isWrapped, bidiState);
        buffer.linesTop += 1;
        buffer.setYDisp(buffer.yBase());
        // Every screen row shows another line now; absolute rows did not change.
        refreshStart = std::min(refreshStart, 0);
        refreshEnd = std::max(refreshEnd, _rows - 1);
        notifyScrollPositionChanged();
        return;
    }

    // In-place fast path: a region that never feeds the scrollback.
    if (!marginMode && unobserved && bottomRow < ring.count() &&
        (scrollTop > 0 || (!bottomIsLastLine && !buffer.hasScrollback()))) {
        scrollInPlaceRegionFast(buffer, lines, scrollTop, scrollBottom, topRow, bottomRow, isWrapped);
        return;
    }

    scrollGeneral(buffer, lines, isWrapped, scrollTop, scrollBottom, topRow, bottomRow);
}

void Terminal::scrollInPlaceRegionFast(Buffer& buffer, int lines, int scrollTop, int scrollBottom, int topRow,
                                       int bottomRow, bool isWrapped)
{
    CircularBufferLineList& ring = buffer.lines();
    const bool bottomInRing = bottomRow >= 0 && bottomRow < ring.count();
    const BidiPresentationState bidiState =
        isWrapped && bottomInRing ? ring[bottomRow]->bidiState() : _currentBidiState;

    if (validRegionRows(topRow, bottomRow, ring.count())) {
        // The line leaving the top is reused, blanked, as the new bottom line.
        ring.shiftUpAndRecycle(topRow, bottomRow, currentEraseBlankCell, isWrapped, bidiState);
    } else {
        printDiagnostic("Assertion on scroll, state was: bottomRow=" + std::to_string(bottomRow) +
                        " topRow=" + std::to_string(topRow) + " yDisp=" + std::to_string(buffer.yDisp()) +
                        " linesTop=" + std::to_string(buffer.linesTop) +
                        " isAlternate=" + boolText(&buffer == altBuffer.get()));
    }

    buffer.setYDisp(buffer.yBase());
    updateRange(scrollTop);
    updateRange(scrollBottom);
    notifyScrollPositionChanged();
}

void Terminal::scrollGeneral(Buffer& buffer, int lines, bool isWrapped, int scrollTop, int scrollBottom,
                             int topRow, int bottomRow)
{
    CircularBufferLineList& ring = buffer.lines();
    const bool isAlternate = &buffer == altBuffer.get();
    const bool bottomInRing = bottomRow >= 0 && bottomRow < ring.count();
    const BidiPresentationState bidiState =
        isWrapped && bottomInRing ? ring[bottomRow]->bidiState() : _currentBidiState;
    const bool fullWidth = !marginMode || (buffer.marginLeft() < 1 && buffer.marginRight() >= _cols - 1);

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
        bottom.fill(currentEraseBlankCell, left, width);
        bottom.setWrapped(false);
        bottom.setBidiState(_currentBidiState);
        buffer.clearImagesFromLine(bottomRow);
        bottom.setRenderMode(BufferLine::RenderLineMode::single);
        selectionsInvalidateForColumnRestrictedScroll(topRow, bottomRow, left, buffer.marginRight());
        outcome = Outcome::inPlace;
    } else if (scrollTop == 0 && (bottomRow == ring.count() - 1 || buffer.hasScrollback())) {
        // The top line goes into the scrollback.
        const bool wasFull = ring.isFull();
        if (bottomRow == ring.count() - 1 && !wasFull) {
            ring.push(buffer.getBlankLine(currentEraseBlankCell, isWrapped, bidiState));
            outcome = Outcome::grew;
        } else if (bottomRow == ring.count() - 1) {
            ring.recycle(currentEraseBlankCell, isWrapped, bidiState);
            outcome = Outcome::full;
        } else {
            // The region ends above the screen's bottom: the new line goes in after it and the
            // rows below the region keep their screen rows.
            ring.splice(bottomRow + 1, 0, {buffer.getBlankLine(currentEraseBlankCell, isWrapped, bidiState)});
            outcome = wasFull ? Outcome::full : Outcome::grew;
        }
        if (outcome == Outcome::grew) {
            buffer.setYBase(buffer.yBase() + 1);
            if (!userScrolling)
                buffer.setYDisp(buffer.yDisp() + 1);
        } else {
            // The oldest line fell off the ring: every absolute row moved up by one.
            if (buffer.hasScrollback())
                buffer.linesTop += 1;
            adjustSelectionsForInPlaceScroll(0, ring.count() - 1, 1);
            // A user looking at the scrollback keeps seeing the same text.
            if (userScrolling)
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
            ring.shiftUpAndRecycle(topRow, bottomRow, currentEraseBlankCell, isWrapped, bidiState);
        } else {
            printDiagnostic("Assertion on scroll, state was: bottomRow=" + std::to_string(bottomRow) +
                            " topRow=" + std::to_string(topRow) + " yDisp=" + std::to_string(buffer.yDisp()) +
                            " linesTop=" + std::to_string(buffer.linesTop) +
                            " isAlternate=" + boolText(isAlternate));
        }
        adjustSelectionsForInPlaceScroll(topRow, bottomRow, 1);
        outcome = Outcome::inPlace;
    }

    if (!userScrolling || buffer.yDisp() < 0)
        buffer.setYDisp(buffer.yBase());

    if (hasKittyPlacements) {
        if (outcome == Outcome::full) {
            trimKittyPlacementRows();
        } else if (outcome == Outcome::inPlace) {
            const int left = marginMode ? buffer.marginLeft() : 0;
            const int right = marginMode ? buffer.marginRight() : _cols - 1;
            scrollKittyPlacementsInMargins(topRow, bottomRow, left, right, -1);
        }
    }

    if (scrollTop == 0 && scrollBottom == _rows - 1 && buffer.hasScrollback()) {
        refreshStart = std::min(refreshStart, 0);
        refreshEnd = std::max(refreshEnd, scrollBottom);
    } else {
        updateRange(scrollTop);
        updateRange(scrollBottom);
    }
    notifyScrollPositionChanged();
}

void Terminal::cmdIndex()
{
    restrictCursor(true);
    Buffer& active = *_buffer;
    const int x = active.x();
    const int y = active.y();
    const bool inside = !marginMode || (x >= active.marginLeft() && x <= active.marginRight());
    bool advanced = false;
    if (y == active.scrollBottom() && inside) {
        scroll(active, 1, false);
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
    if (marginMode && (x < active.marginLeft() || x > active.marginRight()))
        return;

    const int topRow = active.yBase() + y;
    const int bottomRow = active.yBase() + active.scrollBottom();
    const bool isAlternate = &active == altBuffer.get();
    if (topRow >= ring.count() || bottomRow >= ring.count()) {
        printDiagnostic("reverseIndex: start index " + std::to_string(topRow) + " >= lines.count " +
                        std::to_string(ring.count()) + ", state:" + " y=" + std::to_string(y) + " yBase=" +
                        std::to_string(active.yBase()) + " scrollTop=" + std::to_string(active.scrollTop()) +
                        " scrollBottom=" + std::to_string(active.scrollBottom()) +
                        " isAlternate=" + boolText(isAlternate));
        return;
    }

    const bool fullWidth = !marginMode || (active.marginLeft() < 1 && active.marginRight() >= _cols - 1);
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
        top.fill(currentEraseBlankCell, left, width);
        top.setWrapped(false);
        active.clearImagesFromLine(topRow);
        top.setRenderMode(BufferLine::RenderLineMode::single);
        selectionsInvalidateForColumnRestrictedScroll(topRow, bottomRow, left, active.marginRight());
    } else {
        // The bottom line of the region is dropped; its images go with it.
        if (ring[bottomRow]->hasImages())
            active.adjustLinesWithImagesCount(-1);
        if (!ring.shiftElements(topRow, bottomRow - topRow, 1)) {
            printDiagnostic("Assertion on reverseIndex, state was: y=" + std::to_string(y) + " scrollTop=" +
                            std::to_string(active.scrollTop()) + "  yDisp=" + std::to_string(active.yDisp()) +
                            " linesTop=" + std::to_string(active.linesTop) +
                            " isAlternate=" + boolText(isAlternate));
        }
        ring.set(topRow, active.getBlankLine(currentEraseBlankCell, false));
        // The line below the region continued the line that was just dropped.
        if (bottomRow + 1 < ring.count())
            ring[bottomRow + 1]->setWrapped(false);
        adjustSelectionsForInPlaceScroll(topRow, bottomRow, -1);
    }

    if (hasKittyPlacements) {
        const int left = marginMode ? active.marginLeft() : 0;
        const int right = marginMode ? active.marginRight() : _cols - 1;
        scrollKittyPlacementsInMargins(topRow, bottomRow, left, right, 1);
    }
    updateRange(active.scrollTop());
    updateRange(active.scrollBottom());
}

// ---------------------------------------------------------------------------------------------------
// SU, SD, IL, DL, ICH, DCH, DECDC, the column scroll behind DECBI/DECFI, REP and the bidi hardening
// steps are filled in with the scroll-region editing family below this line.

void Terminal::cmdScrollUp(const CsiParameters&, Collect) {}

void Terminal::cmdScrollDown(const CsiParameters&, Collect) {}

void Terminal::cmdInsertLines(const CsiParameters&, Collect) {}

void Terminal::cmdDeleteLines(const CsiParameters&, Collect) {}

void Terminal::cmdInsertChars(const CsiParameters&, Collect) {}

void Terminal::cmdDeleteChars(const CsiParameters&, Collect) {}

void Terminal::cmdDeleteColumns(const CsiParameters&, Collect) {}

void Terminal::columnScroll(bool, int) {}

void Terminal::cmdRepeatPrecedingCharacter(const CsiParameters&, Collect) {}

void Terminal::hardenBidiScrollBoundaries(bool, int) {}

void Terminal::hardenBidiLineShiftBoundaries(int, std::optional<int>, int) {}

} // namespace kestrovan
