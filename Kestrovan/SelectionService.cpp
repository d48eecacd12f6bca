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
        pivot_.reset();
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
    selectionMode_ = SelectionMode::character;
    selectingRows_ = false;
    wordSelectionAnchor_.reset();
    rowSelectionAnchor_.reset();
    isBlock_ = false;
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
    text += ", start=" + start_.debugDescription() + " end=" + end_.debugDescription();
    text += " hasSR=";
    text += hasSelectionRange() ? "true" : "false";
    text += " pivot=" + (pivot_ ? pivot_->debugDescription() : std::string("nil")) + "]";
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
    start_ = at;
    end_ = at;
    notify();
    resetModes();
    notify();
}

void SelectionService::startSelection()
{
    end_ = start_;
    resetModes();
    notify();
}

void SelectionService::startBlockSelection(Position bufferPosition)
{
    if (const Buffer* buffer = currentBuffer())
        bufferPosition = clamp(*buffer, bufferPosition);
    start_ = bufferPosition;
    end_ = bufferPosition;
    pivot_.reset();
    resetModes();
    isBlock_ = true;
    notify();
}

void SelectionService::setSelection(Position newStart, Position newEnd)
{
    if (const Buffer* buffer = currentBuffer()) {
        newStart = clamp(*buffer, newStart);
        newEnd = clamp(*buffer, newEnd);
    }
    start_ = newStart;
    end_ = newEnd;
    pivot_.reset();
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
    start_ = bufferPosition;
    end_ = bufferPosition;
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
    start_ = Position(0, lo);
    end_ = Position(exclusiveEnd_ ? columnCount() : columnCount() - 1, hi);
}

// Shift-click: the selection grows or shrinks to the pointer, the end farther from it staying put.
// In word mode the pointer snaps outwards to a word edge; in row mode to whole logical lines.
void SelectionService::shiftExtend(Position p)
{
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    if (isBlock_) {
        p = clamp(*buffer, p);
        const int64_t minCol = std::min(start_.col, end_.col);
        const int64_t maxCol = std::max(start_.col, end_.col);
        const int64_t minRow = std::min(start_.row, end_.row);
        const int64_t maxRow = std::max(start_.row, end_.row);
        // The anchor is the corner farther from the pointer; a tie anchors at the minimum.
        const auto farther = [](int64_t at, int64_t low, int64_t high) {
            return std::abs(at - low) < std::abs(at - high) ? high : low;
        };
        start_ = Position(farther(p.col, minCol, maxCol), farther(p.row, minRow, maxRow));
        end_ = p;
        notify();
        return;
    }
    if (selectionMode_ == SelectionMode::word)
        p = extendToWordBoundary(p, *buffer, before(p, start_) ? -1 : 1);
    if (selectionMode_ == SelectionMode::row) {
        setRowSelection(rowSelectionAnchor_.value_or(start_.row), p.row);
        notify();
        return;
    }
    // Extending past the anchor flips the selection: the old moving end becomes the anchor.
    if ((before(start_, end_) && before(p, start_)) || (before(end_, start_) && before(start_, p)))
        start_ = end_;
    end_ = p;
    notify();
}

// Extension about the pivot, the cell where the gesture began: the selection always runs between
// the pivot and the pointer, on whichever side of the pivot the pointer is.
void SelectionService::pivotExtend(Position p)
{
    if (!pivot_)
        return;
    Buffer* buffer = currentBuffer();
    if (!buffer)
        return;
    const Position anchor = *pivot_;
    if (selectionMode_ == SelectionMode::word)
        p = extendToWordBoundary(p, *buffer, before(p, anchor) ? -1 : 1);
    if (selectionMode_ == SelectionMode::row) {
        setRowSelection(anchor.row, p.row);
        notify();
        return;
    }
    if (before(anchor, p)) {
        start_ = anchor;
        end_ = p;
    } else if (p == anchor) {
        start_ = anchor;
        end_ = anchor;
    } else {
        start_ = p;
        end_ = anchor;
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
    if (isBlock_) {
        end_ = clamp(*buffer, p);
    } else if (selectionMode_ == SelectionMode::row) {
        setRowSelection(rowSelectionAnchor_.value_or(start_.row), p.row);
    } else if (selectionMode_ == SelectionMode::word && wordSelectionAnchor_) {
        const auto [a, b] = *wordSelectionAnchor_;
        if (!before(p, a) && before(b, p)) {
            start_ = a;
            end_ = extendToWordBoundary(p, *buffer, 1);
        } else if (!before(p, a)) {
            start_ = a;
            end_ = b;
        } else {
            start_ = extendToWordBoundary(p, *buffer, -1);
            end_ = b;
        }
    } else if (selectionMode_ == SelectionMode::word) {
        end_ = extendToWordBoundary(p, *buffer, before(p, start_) ? -1 : 1);
    } else {
        end_ = p;
    }
    notify();
}

void SelectionService::selectAll()
{
    resetModes();
    pivot_.reset();
    start_ = Position(0, 0);
    end_ = Position(exclusiveEnd_ ? columnCount() : columnCount() - 1, lineCount() - 1);
    notify();
}

void SelectionService::select(int64_t row)
{
    selectingRows_ = true;
    selectionMode_ = SelectionMode::row;
    wordSelectionAnchor_.reset();
    rowSelectionAnchor_ = row;
    isBlock_ = false;
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
    if (start_.col < cols)
        start_ = pointerCell(start_).first;
    // An end between the halves of a wide character takes in the right half.
    if (end_.col >= 1 && end_.col < cols && cellWidth(*buffer, end_) == 0 &&
        cellWidth(*buffer, Position(end_.col - 1, end_.row)) == 2)
        ++end_.col;
}

// Character-mode extension keeps the anchor cell selected on both sides of it: dragging left of
// the press selects from the pointer's cell through the anchor cell, right of it from the anchor
// through the pointer's cell.
void SelectionService::characterExtension(Position cellStart, Position cellEnd)
{
    const Position anchor = pivot_.value_or(start_);
    const auto [anchorStart, anchorEnd] = pointerCell(anchor);
    if (!before(cellStart, anchorStart)) {
        start_ = anchorStart;
        end_ = cellEnd;
    } else {
        start_ = cellStart;
        end_ = anchorEnd;
    }
    pivot_ = anchorStart;
    notify();
}

void SelectionService::wordEndFixUp(Position cellStart, Position cellEnd)
{
    // No word under the pointer left the end on the pointer's own cell: take that cell in.
    if (selectionMode_ == SelectionMode::word && end_ == cellStart && !before(cellStart, start_))
        end_ = cellEnd;
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
        pivot_.reset();
        selectWordOrExpression(cellStart, *buffer);
        if (start_ == end_) {
            start_ = cellStart;
            end_ = cellEnd;
        }
        normalizePointerEndpoints();
        wordSelectionAnchor_ = std::make_pair(start_, end_);
        notify();
    } else if (begin && mode == PointerMode::row) {
        pivot_.reset();
        selectingRows_ = true;
        selectionMode_ = SelectionMode::row;
        wordSelectionAnchor_.reset();
        rowSelectionAnchor_ = position.row;
        isBlock_ = false;
        setRowSelection(position.row, position.row);
        notify();
    } else if (begin && mode == PointerMode::extend) {
        if (selectionMode_ == SelectionMode::character) {
            characterExtension(cellStart, cellEnd);
            return;
        }
        shiftExtend(cellStart);
        wordEndFixUp(cellStart, cellEnd);
        normalizePointerEndpoints();
        notify();
    } else if (begin) {
        start_ = Position(cellStart.col, position.row);
        end_ = start_;
        notify();
        resetModes();
        notify();
        end_ = cellEnd;
        pivot_ = cellStart;
        notify();
    } else {
        if (!active_)
            return;
        if (selectionMode_ == SelectionMode::character) {
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
    if (row < std::min(start_.row, end_.row) || row > std::max(start_.row, end_.row))
        return std::nullopt;
    // Without `exclusiveEnd` an end on the last column selects that column.
    const auto adjust = [&](int64_t col) -> int64_t { return !exclusiveEnd_ && col == cols - 1 ? 1 : 0; };
    int64_t lower = 0;
    int64_t upper = 0;
    if (isBlock_) {
        if (start_.col == end_.col)
            return std::nullopt;
        const int64_t maxCol = std::max(start_.col, end_.col);
        lower = std::min(start_.col, end_.col);
        upper = maxCol + adjust(maxCol);
    } else if (start_.row == end_.row) {
        if (start_.col == end_.col)
            return std::nullopt;
        if (start_.col < end_.col) {
            lower = start_.col;
            upper = end_.col + adjust(end_.col);
        } else {
            lower = end_.col;
            upper = start_.col;
        }
    } else if (start_.row < end_.row) {
        lower = row == start_.row ? start_.col : 0;
        upper = row == end_.row ? end_.col + adjust(end_.col) : cols;
    } else {
        // A backward selection: the moving end is the upper one.
        lower = row == end_.row ? end_.col : 0;
        upper = row == start_.row ? start_.col + adjust(start_.col) : cols;
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
    const int64_t lo = std::min(start_.row, end_.row);
    const int64_t hi = std::max(start_.row, end_.row);
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
    Position newStart(start_.col, moved(start_.row));
    Position newEnd(end_.col, moved(end_.row));
    std::optional<Position> newPivot = pivot_;
    // A pivot that is one of the ends follows it; one elsewhere is a column anchor and stays.
    if (pivot_ && (exclusiveEnd_ || *pivot_ == start_ || *pivot_ == end_))
        newPivot = Position(pivot_->col, moved(pivot_->row));
    auto newWordAnchor = wordSelectionAnchor_;
    if (newWordAnchor) {
        newWordAnchor->first.row = moved(newWordAnchor->first.row);
        newWordAnchor->second.row = moved(newWordAnchor->second.row);
    }
    std::optional<int64_t> newRowAnchor = rowSelectionAnchor_;
    if (newRowAnchor)
        newRowAnchor = moved(*newRowAnchor);
    if (leftRange) {
        clear();
        return;
    }
    start_ = newStart;
    end_ = newEnd;
    pivot_ = newPivot;
    wordSelectionAnchor_ = newWordAnchor;
    rowSelectionAnchor_ = newRowAnchor;
    tellDelegate();
}

void SelectionService::invalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right)
{
    if (!active_)
        return;
    const Position first = std::min(start_, end_);
    const Position last = std::max(start_, end_);
    if (last.row < top || first.row > bottom)
        return;
    // A selection on one row wholly outside the margins keeps its cells.
    if (first.row == last.row && (last.col < left || first.col > right))
        return;
    clear();
    start_ = Position();
    end_ = Position();
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
    const int64_t lo = std::min(start_.row, end_.row);
    const int64_t hi = std::max(start_.row, end_.row);
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
        record.linkRemovals = line->linkRemovals();
        record.columns = *range;
        record.isWrapped = line->isWrapped();
        record.bidiState = line->bidiState();
        // A whole scrollback row can only change by being recycled into a new line object, which
        // the identity check sees, or by giving up its links, which changes neither text nor
        // look; it needs no copy of its cells.
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
    const int64_t lo = std::min(start_.row, end_.row);
    const int64_t hi = std::max(start_.row, end_.row);
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
        // The same line untouched since, or one that only gave up links to newer output (its text
        // and look stay): nothing to compare.
        const bool sameLine = recorded.line == line;
        if (sameLine && line->onlyLinksRemovedSince(recorded.contentGeneration, recorded.linkRemovals))
            continue;
        // Otherwise the cells decide: output that wrote the same characters with the same look
        // (a redraw) keeps the selection. A recycled scrollback row kept no cells and counts as
        // changed.
        if (!recorded.cells || recorded.isWrapped != line->isWrapped() ||
            !(recorded.bidiState == line->bidiState()))
            return false;
        // When the line also gave up links, a cell that lost its link and nothing else is
        // unchanged. (Without a removal, text written again without its link is a change.)
        const bool linksRemoved = sameLine && line->linkRemovals() != recorded.linkRemovals;
        const std::vector<PackedCell>& cells = *recorded.cells;
        const int length = range->upper - range->lower;
        for (int k = 0; k < length && static_cast<size_t>(k) < cells.size(); ++k) {
            const int col = range->lower + k;
            const PackedCell now = col < line->count() ? line->packed(col) : PackedCell();
            const PackedCell then = cells[static_cast<size_t>(k)];
            if (now == then)
                continue;
            const bool lostOnlyItsLink =
                linksRemoved && now.rawValue == (then.rawValue & ~PackedCell::payloadMask);
            if (!lostOnlyItsLink)
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
