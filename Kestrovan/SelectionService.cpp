// The selection's state and gestures: starting, extending by character, word, row and block,
// the geometry renderers read, the in-place scroll rules, and the check that drops a selection
// whose cells a feed rewrote.
#include "Kestrovan/SelectionService.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>

namespace kestrovan {

namespace {

bool before(Position a, Position b)
{
    return a < b;
}

/// The width of the cell at a buffer position: 2 for a wide lead, 0 for its right half, else 1;
/// 1 outside the buffer.
int cellWidth(const Buffer& buffer, Position at)
{
    if (at.row < 0 || at.row >= buffer.lines().count() || at.col < 0)
        return 1;
    const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(at.row));
    if (at.col >= line.count())
        return 1;
    return line.packed(static_cast<int>(at.col)).width();
}

} // namespace

SelectionService::SelectionService(std::weak_ptr<Terminal> terminal, bool exclusiveEnd)
    : terminal_(std::move(terminal)), exclusiveEnd_(exclusiveEnd)
{}

std::shared_ptr<SelectionService> SelectionService::create(const std::shared_ptr<Terminal>& terminal,
                                                           bool exclusiveEnd)
{
    auto service = std::make_shared<SelectionService>(terminal, exclusiveEnd);
    if (terminal)
        terminal->registerSelection(service);
    return service;
}

// --- State ---------------------------------------------------------------------------------------

bool SelectionService::setActiveFlag(bool value)
{
    if (value == active_)
        return false;
    active_ = value;
    if (const std::shared_ptr<Terminal> owner = terminal_.lock()) {
        // Selections and searches are used under their terminal's lock.
        owner->terminalLock().assumeHeldByCaller();
        owner->selectionActivityChanged(*this, value);
    }
    return true;
}

void SelectionService::tellDelegate() const
{
    if (const std::shared_ptr<Terminal> owner = terminal_.lock()) {
        if (const std::shared_ptr<TerminalDelegate> host = owner->delegate())
            host->selectionChanged(*owner);
    }
}

void SelectionService::setActive(bool value)
{
    if (setActiveFlag(value))
        tellDelegate();
    if (!active_)
        pivot.reset();
}

void SelectionService::notify()
{
    // The delegate hears of every change, also when the selection was active already; once,
    // also when the selection only now became active.
    setActiveFlag(true);
    tellDelegate();
}

void SelectionService::resetModes()
{
    selectionMode = SelectionMode::character;
    selectingRows = false;
    wordSelectionAnchor.reset();
    rowSelectionAnchor.reset();
    isBlock = false;
}

void SelectionService::clear()
{
    setActive(false);
    resetModes();
}

std::string SelectionService::debugDescription() const
{
    std::string text = "[Selection (active=";
    text += active_ ? "true" : "false";
    text += ", start=" + start.debugDescription() + " end=" + end.debugDescription();
    text += " hasSR=";
    text += hasSelectionRange() ? "true" : "false";
    text += " pivot=" + (pivot ? pivot->debugDescription() : std::string("nil")) + "]";
    return text;
}

Buffer* SelectionService::currentBuffer() const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner)
        return nullptr;
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    return &owner->activeBuffer();
}

int SelectionService::columnCount() const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    return owner ? owner->cols() : 0;
}

int64_t SelectionService::lineCount() const
{
    const Buffer* buffer = currentBuffer();
    return buffer ? buffer->lines().count() : 0;
}

// --- Starting and extending ----------------------------------------------------------------------

// Positions are clamped only where a gesture could carry a pointer off the grid into state that
// lasts (block corners, explicit selections, the double-click entry); character-mode extension
// and soft starts keep what they are given, as the pointer reported it.
Position SelectionService::clamp(const Buffer& buffer, Position position) const
{
    const int64_t maxCol = exclusiveEnd_ ? buffer.cols() : buffer.cols() - 1;
    const int64_t maxRow = std::max<int64_t>(buffer.lines().count() - 1, 0);
    return Position(std::clamp<int64_t>(position.col, 0, std::max<int64_t>(maxCol, 0)),
                    std::clamp<int64_t>(position.row, 0, maxRow));
}

// The start of a fresh character selection at a screen cell. The delegate hears of it twice, as
// the flag and then the modes change, so a host that redraws on each call sees both states.
void SelectionService::startSelection(int64_t row, int64_t col)
{
    const Buffer* buffer = currentBuffer();
    const Position at(col, row + (buffer ? buffer->yDisp() : 0));
    start = at;
    end = at;
    notify();
    resetModes();
    notify();
}

void SelectionService::startSelection()
{
    end = start;
    resetModes();
    notify();
}

void SelectionService::startBlockSelection(Position bufferPosition)
{
    if (const Buffer* buffer = currentBuffer())
        bufferPosition = clamp(*buffer, bufferPosition);
    start = bufferPosition;
    end = bufferPosition;
    pivot.reset();
    resetModes();
    isBlock = true;
    notify();
}

void SelectionService::setSelection(Position newStart, Position newEnd)
{
    if (const Buffer* buffer = currentBuffer()) {
        newStart = clamp(*buffer, newStart);
        newEnd = clamp(*buffer, newEnd);
    }
    start = newStart;
    end = newEnd;
    pivot.reset();
    resetModes();
    notify();
}

void SelectionService::setSoftStart(int64_t row, int64_t col)
{
    const Buffer* buffer = currentBuffer();
    setSoftStart(Position(col, row + (buffer ? buffer->yDisp() : 0)));
}

void SelectionService::setSoftStart(Position bufferPosition)
{
    start = bufferPosition;
    end = bufferPosition;
    notify();
}

void SelectionService::shiftExtend(int64_t row, int64_t col)
{
    const Buffer* buffer = currentBuffer();
    shiftExtend(Position(col, row + (buffer ? buffer->yDisp() : 0)));
}

void SelectionService::pivotExtend(int64_t row, int64_t col)
{
    const Buffer* buffer = currentBuffer();
    pivotExtend(Position(col, row + (buffer ? buffer->yDisp() : 0)));
}

void SelectionService::dragExtend(int64_t row, int64_t col)
{
    const Buffer* buffer = currentBuffer();
    dragExtend(Position(col, row + (buffer ? buffer->yDisp() : 0)));
}

// Rows selected whole always cover whole logical lines: a triple click on a wrapped row takes
// every row of its line, and extending by rows grows by lines.
void SelectionService::setRowSelection(int64_t from, int64_t through)
{
    const int64_t lo = logicalLineRows(std::min(from, through)).first;
    const int64_t hi = logicalLineRows(std::max(from, through)).second;
    start = Position(0, lo);
    end = Position(exclusiveEnd_ ? columnCount() : columnCount() - 1, hi);
}

// Shift-click: the selection grows or shrinks to the pointer, the end farther from it staying put.
// In word mode the pointer snaps outwards to a word edge; in row mode to whole logical lines.
void SelectionService::shiftExtend(Position p)
{
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    if (isBlock) {
        p = clamp(*buffer, p);
        const int64_t minCol = std::min(start.col, end.col);
        const int64_t maxCol = std::max(start.col, end.col);
        const int64_t minRow = std::min(start.row, end.row);
        const int64_t maxRow = std::max(start.row, end.row);
        // The anchor is the corner farther from the pointer; a tie anchors at the minimum.
        const auto farther = [](int64_t at, int64_t low, int64_t high) {
            return std::abs(at - low) < std::abs(at - high) ? high : low;
        };
        start = Position(farther(p.col, minCol, maxCol), farther(p.row, minRow, maxRow));
        end = p;
        notify();
        return;
    }
    if (selectionMode == SelectionMode::word)
        p = extendToWordBoundary(p, *buffer, before(p, start) ? -1 : 1);
    if (selectionMode == SelectionMode::row) {
        setRowSelection(rowSelectionAnchor.value_or(start.row), p.row);
        notify();
        return;
    }
    // Extending past the anchor flips the selection: the old moving end becomes the anchor.
    if ((before(start, end) && before(p, start)) || (before(end, start) && before(start, p)))
        start = end;
    end = p;
    notify();
}

// Extension about the pivot, the cell where the gesture began: the selection always runs between
// the pivot and the pointer, on whichever side of the pivot the pointer is.
void SelectionService::pivotExtend(Position p)
{
    if (!pivot)
        return;
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    const Position anchor = *pivot;
    if (selectionMode == SelectionMode::word)
        p = extendToWordBoundary(p, *buffer, before(p, anchor) ? -1 : 1);
    if (selectionMode == SelectionMode::row) {
        setRowSelection(anchor.row, p.row);
        notify();
        return;
    }
    if (before(anchor, p)) {
        start = anchor;
        end = p;
    } else if (p == anchor) {
        start = anchor;
        end = anchor;
    } else {
        start = p;
        end = anchor;
    }
    notify();
}

// A drag after a press. A word drag keeps the double-clicked word selected and grows by whole
// words on the side the pointer moved to; a block drag moves the rectangle's free corner.
void SelectionService::dragExtend(Position p)
{
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    if (isBlock) {
        end = clamp(*buffer, p);
    } else if (selectionMode == SelectionMode::row) {
        setRowSelection(rowSelectionAnchor.value_or(start.row), p.row);
    } else if (selectionMode == SelectionMode::word && wordSelectionAnchor) {
        const auto [a, b] = *wordSelectionAnchor;
        if (!before(p, a) && before(b, p)) {
            start = a;
            end = extendToWordBoundary(p, *buffer, 1);
        } else if (!before(p, a)) {
            start = a;
            end = b;
        } else {
            start = extendToWordBoundary(p, *buffer, -1);
            end = b;
        }
    } else if (selectionMode == SelectionMode::word) {
        end = extendToWordBoundary(p, *buffer, before(p, start) ? -1 : 1);
    } else {
        end = p;
    }
    notify();
}

void SelectionService::selectAll()
{
    resetModes();
    pivot.reset();
    start = Position(0, 0);
    end = Position(exclusiveEnd_ ? columnCount() : columnCount() - 1, lineCount() - 1);
    notify();
}

void SelectionService::select(int64_t row)
{
    selectingRows = true;
    selectionMode = SelectionMode::row;
    wordSelectionAnchor.reset();
    rowSelectionAnchor = row;
    isBlock = false;
    setRowSelection(row, row);
    notify();
}

void SelectionService::selectNone()
{
    if (active_)
        clear();
}

std::pair<int64_t, int64_t> SelectionService::logicalLineRows(int64_t row) const
{
    Buffer* buffer = currentBuffer();
    if (!buffer || row < 0 || row >= buffer->lines().count())
        return {row, row};
    auto& lines = buffer->lines();
    int64_t first = row;
    while (first > 0 && lines[static_cast<int>(first)]->isWrapped())
        --first;
    int64_t last = row;
    while (last + 1 < lines.count() && lines[static_cast<int>(last + 1)]->isWrapped())
        ++last;
    return {first, last};
}

// --- Pointer gestures ----------------------------------------------------------------------------

// The cell the pointer is over as a start and an end column, so that a wide character is always
// selected as the two columns it covers, whichever half the pointer hit.
std::pair<Position, Position> SelectionService::pointerCell(Position position) const
{
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return {position, Position(position.col + 1, position.row)};
    int64_t col = position.col;
    // A press on the right half of a wide character means the character.
    if (col >= 1 && cellWidth(*buffer, Position(col, position.row)) == 0 &&
        cellWidth(*buffer, Position(col - 1, position.row)) == 2)
        --col;
    const int width = cellWidth(*buffer, Position(col, position.row));
    return {Position(col, position.row),
            Position(std::min<int64_t>(col + (width < 2 ? 1 : width), columnCount()), position.row)};
}

void SelectionService::normalizePointerEndpoints()
{
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    const int cols = columnCount();
    if (start.col < cols)
        start = pointerCell(start).first;
    // An end between the halves of a wide character takes in the right half.
    if (end.col >= 1 && end.col < cols && cellWidth(*buffer, end) == 0 &&
        cellWidth(*buffer, Position(end.col - 1, end.row)) == 2)
        ++end.col;
}

// Character-mode extension keeps the anchor cell selected on both sides of it: dragging left of
// the press selects from the pointer's cell through the anchor cell, right of it from the anchor
// through the pointer's cell.
void SelectionService::characterExtension(Position cellStart, Position cellEnd)
{
    const Position anchor = pivot.value_or(start);
    const auto [anchorStart, anchorEnd] = pointerCell(anchor);
    if (!before(cellStart, anchorStart)) {
        start = anchorStart;
        end = cellEnd;
    } else {
        start = cellStart;
        end = anchorEnd;
    }
    pivot = anchorStart;
    notify();
}

void SelectionService::wordEndFixUp(Position cellStart, Position cellEnd)
{
    // No word under the pointer left the end on the pointer's own cell: take that cell in.
    if (selectionMode == SelectionMode::word && end == cellStart && !before(cellStart, start))
        end = cellEnd;
}

// One entry for every pointer gesture of a host or the view: presses start a selection by
// character, word or row, shift-presses extend it, and drags extend it in its own mode. Shift with
// nothing selected is a plain press.
void SelectionService::updatePointerSelection(Position position, bool begin, PointerMode mode)
{
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    const auto [cellStart, cellEnd] = pointerCell(position);
    if (begin && mode == PointerMode::extend && !active_)
        mode = PointerMode::character;

    if (begin && mode == PointerMode::word) {
        pivot.reset();
        selectWordOrExpression(cellStart, *buffer);
        if (start == end) {
            start = cellStart;
            end = cellEnd;
        }
        normalizePointerEndpoints();
        wordSelectionAnchor = std::make_pair(start, end);
        notify();
    } else if (begin && mode == PointerMode::row) {
        pivot.reset();
        selectingRows = true;
        selectionMode = SelectionMode::row;
        wordSelectionAnchor.reset();
        rowSelectionAnchor = position.row;
        isBlock = false;
        setRowSelection(position.row, position.row);
        notify();
    } else if (begin && mode == PointerMode::extend) {
        if (selectionMode == SelectionMode::character) {
            characterExtension(cellStart, cellEnd);
            return;
        }
        shiftExtend(cellStart);
        wordEndFixUp(cellStart, cellEnd);
        normalizePointerEndpoints();
        notify();
    } else if (begin) {
        start = Position(cellStart.col, position.row);
        end = start;
        notify();
        resetModes();
        notify();
        end = cellEnd;
        pivot = cellStart;
        notify();
    } else {
        if (!active_)
            return;
        if (selectionMode == SelectionMode::character) {
            characterExtension(cellStart, cellEnd);
            return;
        }
        dragExtend(cellStart);
        wordEndFixUp(cellStart, cellEnd);
        normalizePointerEndpoints();
        notify();
    }
}

// --- Geometry ------------------------------------------------------------------------------------

// What renderers and copies read: the columns of one row that the selection covers. A stream
// covers the rest of its first row, whole middle rows and the start of its last row; a block the
// same columns on every row.
std::optional<ColumnRange> SelectionService::selectedColumnsRange(int64_t row, int cols) const
{
    if (row < std::min(start.row, end.row) || row > std::max(start.row, end.row))
        return std::nullopt;
    // Without `exclusiveEnd` an end on the last column selects that column.
    const auto adjust = [&](int64_t col) -> int64_t { return !exclusiveEnd_ && col == cols - 1 ? 1 : 0; };
    int64_t lower = 0;
    int64_t upper = 0;
    if (isBlock) {
        if (start.col == end.col)
            return std::nullopt;
        const int64_t maxCol = std::max(start.col, end.col);
        lower = std::min(start.col, end.col);
        upper = maxCol + adjust(maxCol);
    } else if (start.row == end.row) {
        if (start.col == end.col)
            return std::nullopt;
        if (start.col < end.col) {
            lower = start.col;
            upper = end.col + adjust(end.col);
        } else {
            lower = end.col;
            upper = start.col;
        }
    } else if (start.row < end.row) {
        lower = row == start.row ? start.col : 0;
        upper = row == end.row ? end.col + adjust(end.col) : cols;
    } else {
        // A backward selection: the moving end is the upper one.
        lower = row == end.row ? end.col : 0;
        upper = row == start.row ? start.col + adjust(start.col) : cols;
    }
    lower = std::clamp<int64_t>(lower, 0, std::max(cols, 0));
    upper = std::min<int64_t>(upper, cols);
    if (upper <= lower)
        return std::nullopt;
    return ColumnRange{static_cast<int>(lower), static_cast<int>(upper)};
}

// --- Scrolling -----------------------------------------------------------------------------------

// The terminal calls this for every scroll that moves rows in place (inside margins, insert and
// delete lines, a full ring's scroll), while any selection is active.
void SelectionService::adjustForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines)
{
    if (!active_ || lines == 0)
        return;
    const int64_t lo = std::min(start.row, end.row);
    const int64_t hi = std::max(start.row, end.row);
    if (hi < top || lo > bottom)
        return;
    // Part of the selected text lies outside the scrolled rows: the two parts no longer sit
    // together, so the selection no longer names what the user selected.
    if (lo < top || hi > bottom) {
        clear();
        return;
    }
    bool leftRange = false;
    const auto moved = [&](int64_t row) {
        if (row < top || row > bottom)
            return row;
        const int64_t shifted = row - lines;
        if (shifted < top || shifted > bottom)
            leftRange = true;
        return shifted;
    };
    // Everything is computed before anything is stored, so a selection that turns out to leave
    // the region is cleared whole rather than half moved.
    Position newStart(start.col, moved(start.row));
    Position newEnd(end.col, moved(end.row));
    std::optional<Position> newPivot = pivot;
    // A pivot that is one of the ends follows it; one elsewhere is a column anchor and stays.
    if (pivot && (exclusiveEnd_ || *pivot == start || *pivot == end))
        newPivot = Position(pivot->col, moved(pivot->row));
    auto newWordAnchor = wordSelectionAnchor;
    if (newWordAnchor) {
        newWordAnchor->first.row = moved(newWordAnchor->first.row);
        newWordAnchor->second.row = moved(newWordAnchor->second.row);
    }
    std::optional<int64_t> newRowAnchor = rowSelectionAnchor;
    if (newRowAnchor)
        newRowAnchor = moved(*newRowAnchor);
    if (leftRange) {
        clear();
        return;
    }
    start = newStart;
    end = newEnd;
    pivot = newPivot;
    wordSelectionAnchor = newWordAnchor;
    rowSelectionAnchor = newRowAnchor;
    tellDelegate();
}

void SelectionService::invalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right)
{
    if (!active_)
        return;
    const Position first = std::min(start, end);
    const Position last = std::max(start, end);
    if (last.row < top || first.row > bottom)
        return;
    // A selection on one row wholly outside the margins keeps its cells.
    if (first.row == last.row && (last.col < left || first.col > right))
        return;
    clear();
    start = Position();
    end = Position();
}

// --- The feed check ------------------------------------------------------------------------------

// The feed check runs on every output batch while something is selected, so it records only
// what it needs to tell "unchanged" cheaply: each selected row's line object and generation, and
// a copy of the selected cells for the rows a feed may rewrite in place.
std::optional<SelectionService::SelectedContentSnapshot> SelectionService::captureSelectedContent() const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner || !active_)
        return std::nullopt;
    // Selections and searches are used under their terminal's lock.
    owner->terminalLock().assumeHeldByCaller();
    Buffer& buffer = owner->activeBuffer();
    auto& lines = buffer.lines();
    const int64_t lo = std::min(start.row, end.row);
    const int64_t hi = std::max(start.row, end.row);
    if (lo < 0 || hi >= lines.count())
        return std::nullopt;
    SelectedContentSnapshot snapshot;
    snapshot.buffer = owner->bufferPointer();
    for (int64_t row = lo; row <= hi; ++row) {
        const std::shared_ptr<BufferLine>& line = lines[static_cast<int>(row)];
        const std::optional<ColumnRange> range = selectedColumnsRange(row, line->count());
        if (!range)
            continue;
        SelectedContentSnapshot::Row record;
        record.line = line;
        record.contentGeneration = line->generation();
        record.columns = *range;
        record.isWrapped = line->isWrapped();
        record.bidiState = line->bidiState();
        // A whole scrollback row can only change by being recycled into a new line object, which
        // the identity check sees; it needs no copy of its cells.
        const bool wholeScrollbackRow =
            row < buffer.yBase() && range->lower == 0 && range->upper == line->count();
        if (!wholeScrollbackRow)
            record.cells =
                std::vector<PackedCell>(line->cells() + range->lower, line->cells() + range->upper);
        snapshot.rows.push_back(std::move(record));
    }
    return snapshot;
}

bool SelectionService::selectedContentIsUnchanged(const std::vector<SelectedContentSnapshot::Row>& rows,
                                                  Buffer& buffer) const
{
    auto& lines = buffer.lines();
    const int64_t lo = std::min(start.row, end.row);
    const int64_t hi = std::max(start.row, end.row);
    if (lo < 0 || hi >= lines.count())
        return false;
    size_t index = 0;
    for (int64_t row = lo; row <= hi; ++row) {
        const std::shared_ptr<BufferLine>& line = lines[static_cast<int>(row)];
        const std::optional<ColumnRange> range = selectedColumnsRange(row, line->count());
        if (!range)
            continue;
        if (index >= rows.size())
            return false;
        const SelectedContentSnapshot::Row& recorded = rows[index++];
        if (recorded.columns != *range)
            return false;
        // The same line untouched since: nothing to compare.
        if (recorded.line == line && recorded.contentGeneration == line->generation())
            continue;
        // Otherwise the cells decide: output that wrote the same characters with the same look
        // (a redraw) keeps the selection. A recycled scrollback row kept no cells and counts as
        // changed.
        if (!recorded.cells || recorded.isWrapped != line->isWrapped() ||
            !(recorded.bidiState == line->bidiState()))
            return false;
        const std::vector<PackedCell>& cells = *recorded.cells;
        const int length = range->upper - range->lower;
        for (int k = 0; k < length && static_cast<size_t>(k) < cells.size(); ++k) {
            const int col = range->lower + k;
            const PackedCell now = col < line->count() ? line->packed(col) : PackedCell();
            if (now != cells[static_cast<size_t>(k)])
                return false;
        }
    }
    return index == rows.size();
}

void SelectionService::clearIfSelectedContentChanged(const SelectedContentSnapshot& snapshot)
{
    if (!active_)
        return;
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (owner) {
        // Selections and searches are used under their terminal's lock.
        owner->terminalLock().assumeHeldByCaller();
        if (owner->bufferPointer() == snapshot.buffer &&
            selectedContentIsUnchanged(snapshot.rows, owner->activeBuffer()))
            return;
    }
    clear();
}

} // namespace kestrovan
