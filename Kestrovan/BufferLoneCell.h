// One narrow character written on its own: the cell a half-block picture or box drawing writes
// between two colour changes.
//
// The general road for such a character reads the cell before the cursor to see whether the
// character joins it, then goes through the run writer for a run of one. Here both are one look
// at the cursor line: the cell before the cursor is known not to join when it holds a scalar
// below U+0600 (none of those is a prepended sign or the zero-width joiner, the only characters a
// character without grapheme properties joins) or the character itself, and the cell at the
// cursor is written directly when the write needs nothing else. Every other case is left to the
// general road, unchanged. Include this header where the write is made.
#pragma once

#include "Kestrovan/Buffer.h"

namespace kestrovan {

// A write is made of two steps, so that a run of them, one per sequence of a picture row, asks
// whether the cursor line takes them at all (insert mode, protection, a pending wrap, margins that
// leave no column, images) once, and each write only looks at the cells around the cursor. The
// cursor moves along the row and stays on it, since a write that would leave a wrap pending ends
// the run; the right limit, which depends on whether the cursor started beyond the right margin,
// stays what it was at the start.
[[gnu::always_inline]] inline bool Buffer::beginLoneCells(LoneCellRow& row)
{
    if (bulkInsertBlocked_ || wrapPending_)
        return false;
    const int right = printRightLimit();
    BufferLine& line = cursorLine();
    // A row whose last column is a wide character's gap goes the general way, whose writes end
    // the gap when they reach that column; such rows are few, and the writes here need no test.
    if (x_ > right || printLeftEdge() > right || line.hasImages() || line.endsWithWideGap())
        return false;
    row = {&line, line.mutableCells(), right, line.count()};
    return true;
}

[[gnu::always_inline]] inline bool Buffer::putLoneCell(const LoneCellRow& row, char32_t scalar,
                                                       uint16_t styleID, uint16_t payloadCode)
{
    const int at = x_;
    if (wrapPending_ || at >= row.width)
        return false;
    PackedCell* cells = row.cells;
    // Neither half of a wide character may be cut by the write.
    if (cells[at].isContinuation() || (at + 1 < row.width && cells[at + 1].isContinuation()))
        return false;
    if (at > 0) {
        // Empty cells and inline blanks hold nothing to join; a cluster or the right half of a
        // wide character before the cursor is left to the general test.
        const PackedCell before = cells[at - 1];
        if (before.isContinuation() || before.kind() == PackedCell::Kind::grapheme)
            return false;
        const auto previous = static_cast<char32_t>(before.content());
        if (before.kind() == PackedCell::Kind::scalar && previous >= 0x600 && previous != scalar)
            return false;
    }
    cells[at] = PackedCell::makeScalar(scalar, styleID, PackedCell::WidthState::single, false, payloadCode,
                                       semanticPrompt_.content().code());
    row.line->raiseUsedLength(at + 1);
    row.line->markContentChanged();
    placeCursorAfterPrint(at + 1, row.right);
    return true;
}

[[gnu::always_inline]] inline bool Buffer::putPlainNarrowScalar(char32_t scalar, uint16_t styleID,
                                                                uint16_t payloadCode)
{
    LoneCellRow row;
    return beginLoneCells(row) && putLoneCell(row, scalar, styleID, payloadCode);
}

} // namespace kestrovan
