// The buffer's print fast paths: whole runs of printable ASCII, or of characters of one display
// width (scalars, or clusters the caller interned), written straight into the packed cells of the
// cursor line; and the one-cell write that handles every mode.
//
// The run paths write a segment (up to the right limit) at a time: they repair the wide-character
// seams at its two ends once, store the cells, raise the used length and count one change for the
// whole segment, instead of doing all of that per cell. No arena lookup happens inside a run:
// the caller resolved the attribute id once. While insert mode or character protection is on the
// run paths refuse (return 0) and the caller falls back to `insertCharacter`.
//
// A print that reaches the right limit leaves the cursor on the limit with a wrap pending; the
// next character wraps first. Without auto-wrap the runs stop there and `insertCharacter`
// overwrites the last column, ignoring the pending wrap.
#include "Kestrovan/Buffer.h"
#include "Kestrovan/BufferAsciiRun.h"
#include "Kestrovan/BufferTerminal.h"
#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

namespace kestrovan {

namespace {

using WidthState = PackedCell::WidthState;

// The fields a continuation cell shares with its lead: look, payload and semantic code.
constexpr uint64_t continuationSharedMask =
    PackedCell::attributeMask | PackedCell::payloadMask | PackedCell::semanticMask;

} // namespace

// Moves the cursor to the start of the next row after a print reached the right limit: at the
// bottom of the scroll region the terminal scrolls the region (the new bottom line marked as
// wrapped); elsewhere the cursor moves down and the row it reaches continues the one above.
// A row left from its last column notes whether that column is the gap of a wide character
// that did not fit there (`wide`, with no wrap pending: nothing was printed into the column), so
// that a reflow takes the column for text or gap as it was made.
void Buffer::wrapForPrint(bool wide)
{
    if (x_ == cols_ - 1)
        cursorLine().setEndsWithWideGap(wide && !wrapPending_);
    x_ = printLeftEdge();
    wrapPending_ = false;
    if (y_ == scrollBottom_) {
        KESTROVAN_ASSERT(terminal_ != nullptr,
                         "Buffer: printing needs the terminal to scroll, but none is set");
        terminal_->scroll(*this, true);
        return;
    }
    // Below the scroll region the cursor moves down until the last row, where it stays and the
    // text goes on at the start of the same row: the region above must not scroll for text
    // printed outside it. This matches what a line feed does there.
    if (y_ >= rows_ - 1 && y_ > scrollBottom_)
        return;
    y_ += 1;
    BufferLine& line = cursorLine();
    line.setWrapped(true);
    line.setBidiState(lines_[yBase_ + y_ - 1]->bidiState());
}

// Before a run overwrites columns start ..< end: a wide character cut at either end loses its
// surviving half (character and width state cleared, look kept), so no half-character remains.
// Either the run or the blanked half may be the line's last column, which ends a gap there.
void Buffer::repairRunSeams(BufferLine& line, int start, int end)
{
    PackedCell* cells = line.mutableCells();
    const int width = line.count();
    if (start >= 1 && start < width && cells[start].isContinuation() && cells[start - 1].isLead())
        cells[start - 1] = cells[start - 1].blanked();
    if (end >= width) {
        line.noteWrittenTo(end);
    } else if (end >= 0 && cells[end].isContinuation()) {
        cells[end] = cells[end].blanked();
        line.raiseUsedLength(end + 1);
        line.noteWrittenTo(end + 1);
    }
}

size_t Buffer::insertAsciiRun(std::span<const uint8_t> bytes, uint16_t styleID, uint16_t payloadCode)
{
    if (placeAsciiRunOnCursorRow(bytes, styleID, payloadCode)) [[likely]]
        return bytes.size();
    return insertAsciiSegments(bytes, asciiCellTemplate(styleID, payloadCode));
}

// Kept out of line so that the common case in `insertAsciiRun` needs few registers.
size_t Buffer::insertAsciiSegments(std::span<const uint8_t> bytes, uint64_t cellTemplate)
{
    const size_t count = bytes.size();
    int right = printRightLimit();
    // Margins that leave no column would make every wrap land past the limit again.
    if (bulkInsertBlocked_ || count == 0 || right < printLeftEdge())
        return 0;
    size_t written = 0;
    while (written < count) {
        if (wrapPending_) {
            if (!modeMirror_.wraparound)
                break;
            wrapForPrint(false);
            right = printRightLimit();
        }
        const int segmentStart = x_;
        const size_t n = std::min(count - written, static_cast<size_t>(right - segmentStart + 1));
        const int end = segmentStart + static_cast<int>(n);
        BufferLine& line = cursorLine();
        if (line.hasImages())
            dropImages(line);
        // Lines are at least `cols` wide; the clamp only keeps a malformed line safe.
        const int stored = std::min(end, line.count()) - segmentStart;
        if (stored > 0) {
            repairRunSeams(line, segmentStart, end);
            asciiRun::storeAsciiCells(line.mutableCells() + segmentStart, bytes.data() + written,
                                      static_cast<size_t>(stored), cellTemplate);
            line.raiseUsedLength(end);
            line.markContentChanged();
        }
        placeCursorAfterPrint(end, right);
        written += n;
    }
    return written;
}

size_t Buffer::insertScalarRun(std::span<const char32_t> scalars, int width, uint16_t styleID,
                               uint16_t payloadCode)
{
    // One narrow character that fits at the cursor, over no half of a wide one, on a line without
    // images: what a half-block picture or box drawing between colour changes writes per cell.
    // It is stored straight into its cell; everything else goes through the run writer.
    if (scalars.size() == 1 && width == 1 && !bulkInsertBlocked_ && !wrapPending_) {
        const int right = printRightLimit();
        const int at = x_;
        BufferLine& line = cursorLine();
        const int lineWidth = line.count();
        PackedCell* cells = line.mutableCells();
        if (at <= right && at < lineWidth && !line.hasImages() && !cells[at].isContinuation() &&
            (at + 1 == lineWidth || !cells[at + 1].isContinuation())) [[likely]] {
            cells[at] = PackedCell::makeScalar(scalars[0], styleID, WidthState::single, false, payloadCode,
                                               semanticPrompt_.content().code());
            line.raiseUsedLength(at + 1);
            line.noteWrittenTo(at + 1);
            line.markContentChanged();
            placeCursorAfterPrint(at + 1, right);
            return 1;
        }
    }
    return insertRun(scalars, PackedCell::contentShift, width, styleID, payloadCode);
}

size_t Buffer::insertContentRun(std::span<const uint32_t> contents, int width, uint16_t styleID,
                                uint16_t payloadCode)
{
    return insertRun(contents, 0, width, styleID, payloadCode);
}

template <typename Content>
size_t Buffer::insertRun(std::span<const Content> scalars, int shift, int width, uint16_t styleID,
                         uint16_t payloadCode)
{
    KESTROVAN_ASSERT(width == 1 || width == 2, "Buffer: a scalar run must be 1 or 2 columns wide");
    if (bulkInsertBlocked_)
        return 0;
    int right = printRightLimit();
    // A region too narrow for the width goes cell by cell, which drops what fits on no row.
    if (wrappedRightLimit() - printLeftEdge() + 1 < width || scalars.empty())
        return 0;
    const uint8_t semanticCode = semanticPrompt_.content().code();
    const uint64_t leadTemplate =
        PackedCell::makeScalar(0, styleID, width == 2 ? WidthState::lead : WidthState::single, false,
                               payloadCode, semanticCode)
            .rawValue;
    const PackedCell continuation =
        PackedCell::makeScalar(0, styleID, WidthState::continuation, false, payloadCode, semanticCode);

    size_t written = 0;
    while (written < scalars.size()) {
        if (wrapPending_ || x_ + width - 1 > right) {
            if (!modeMirror_.wraparound)
                break;
            wrapForPrint(width == 2);
            right = printRightLimit();
        }
        const int room = (right - x_ + 1) / width;
        if (room < 1)
            break;
        const size_t n = std::min(scalars.size() - written, static_cast<size_t>(room));
        const int start = x_;
        const int end = start + static_cast<int>(n) * width;
        BufferLine& line = cursorLine();
        if (line.hasImages())
            dropImages(line);
        // Whole characters only, should a malformed line be narrower than the screen.
        const int stored = std::min(static_cast<int>(n), std::max(line.count() - start, 0) / width);
        if (stored > 0) {
            repairRunSeams(line, start, end);
            PackedCell* cells = line.mutableCells() + start;
            const Content* source = scalars.data() + written;
            if (width == 1) {
                for (int i = 0; i < stored; ++i)
                    cells[i] = PackedCell(leadTemplate | (uint64_t(source[i]) << shift));
            } else {
                for (int i = 0; i < stored; ++i) {
                    cells[2 * i] = PackedCell(leadTemplate | (uint64_t(source[i]) << shift));
                    cells[2 * i + 1] = continuation;
                }
            }
            line.raiseUsedLength(end);
            line.markContentChanged();
        }
        placeCursorAfterPrint(end, right);
        written += n;
    }
    return written;
}

// Cells of both widths in one pass: a line where narrow and wide characters alternate would
// otherwise take a call, a seam repair and a change count per change of width. Each segment takes
// the cells that fit before the right limit; a cell that does not fit wraps first, as in
// `insertRun`, and a region narrower than two columns stops the run at its first wide cell.
//
// A cell marked `runCellStaysOnRow` was one column until a scalar joined to it widened it. Printed
// one scalar at a time it is written narrow first and then widened where it stands: that needs
// the next column inside the margins, and at the limit the one-cell path blanks the column and
// prints the wide cell anew on the next row. The writer places such a cell only where it widens
// in place, and otherwise stops before it, leaving it to that path.
size_t Buffer::insertMixedRun(std::span<const uint32_t> contents, std::span<const uint8_t> widths,
                              uint16_t styleID, uint16_t payloadCode)
{
    constexpr uint8_t widthMask = static_cast<uint8_t>(~runCellStaysOnRow);
    const size_t count = std::min(contents.size(), widths.size());
    if (bulkInsertBlocked_ || count == 0 || wrappedRightLimit() < printLeftEdge())
        return 0;
    const uint8_t semanticCode = semanticPrompt_.content().code();
    const uint64_t singleTemplate =
        PackedCell::makeScalar(0, styleID, WidthState::single, false, payloadCode, semanticCode).rawValue;
    const uint64_t leadTemplate =
        PackedCell::makeScalar(0, styleID, WidthState::lead, false, payloadCode, semanticCode).rawValue;
    const PackedCell continuation =
        PackedCell::makeScalar(0, styleID, WidthState::continuation, false, payloadCode, semanticCode);
    const bool wideFits = wrappedRightLimit() - printLeftEdge() + 1 >= 2;

    int right = printRightLimit();
    size_t written = 0;
    while (written < count) {
        const uint8_t first = widths[written];
        const int firstWidth = first & widthMask;
        if (firstWidth == 2 && !wideFits)
            break;
        if (wrapPending_ || x_ + firstWidth - 1 > right) {
            // A widened cell waiting for a wrap wraps as its narrow form would, then widens at the
            // left edge; one that merely does not fit is left to the one-cell path.
            if (!modeMirror_.wraparound || ((first & runCellStaysOnRow) && !wrapPending_))
                break;
            wrapForPrint(firstWidth == 2);
            right = printRightLimit();
        }
        BufferLine& line = cursorLine();
        // Lines are at least `cols` wide; a malformed narrower one goes cell by cell.
        if (right >= line.count())
            break;
        // A widened cell widens only inside the margins, as the one-cell path widens it.
        const int widenLimit = std::min(right, wrappedRightLimit());
        const int start = x_;
        PackedCell* cells = line.mutableCells();
        const bool cutsWideAtStart = start >= 1 && cells[start].isContinuation() && cells[start - 1].isLead();
        // One pass: each cell is stored once it is known to fit. A wide cell's right half is
        // stored first, so that a narrow cell stores one word; the lead then overwrites nothing
        // the run keeps.
        int column = start;
        size_t i = written;
        // Text mixing scripts changes width every few cells, where a branch on each cell's width
        // mispredicts. While a cell of two columns would still fit, and no cell is held to its
        // row by a narrower limit, each cell is stored without one: the lead or single form by
        // its width, and the right half to the next column when it is wide, to a scratch cell
        // when it is not. Widths other than one and two end this loop.
        if (widenLimit == right && wideFits) {
            // By width: nothing for 0, which never gets here.
            const uint64_t templates[3] = {0, singleTemplate, leadTemplate};
            PackedCell scratch;
            const auto store = [&](unsigned columns, uint32_t content) {
                cells[column] = PackedCell(templates[columns] | content);
                *(columns == 2 ? &cells[column + 1] : &scratch) = continuation;
                column += static_cast<int>(columns);
            };
            // The same where the column after the cell may take a right half it does not need:
            // the lead form is the single one with width state 1.
            static_assert(uint64_t(WidthState::lead) - uint64_t(WidthState::single) == 1);
            const auto storeAhead = [&](unsigned columns, uint32_t content) {
                cells[column + 1] = continuation;
                cells[column] = PackedCell(singleTemplate |
                                           uint64_t(columns - 1) << PackedCell::widthStateShift | content);
                column += static_cast<int>(columns);
            };
#if defined(__SSE2__)
            const __m128i singles = _mm_set1_epi64x(static_cast<long long>(singleTemplate));
#endif
            // Four narrow cells from cell `i` on, at `column`.
            const auto storeFourNarrow = [&] {
#if defined(__SSE2__)
                const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(contents.data() + i));
                auto* target = reinterpret_cast<__m128i*>(cells + column);
                _mm_storeu_si128(target,
                                 _mm_or_si128(singles, _mm_unpacklo_epi32(four, _mm_setzero_si128())));
                _mm_storeu_si128(target + 1,
                                 _mm_or_si128(singles, _mm_unpackhi_epi32(four, _mm_setzero_si128())));
#else
                for (int k = 0; k < 4; ++k)
                    cells[column + k] = PackedCell(singleTemplate | contents[i + k]);
#endif
                column += 4;
                i += 4;
            };
            while (i < count && column < right) {
                if (count - i >= 4) {
                    uint32_t four;
                    std::memcpy(&four, widths.data() + i, sizeof(four));
                    // Four narrow cells in a row, as words of most scripts are, go in one step,
                    // and the four after them in the same step when they are narrow too.
                    if (four == 0x01010101u && column + 3 <= right) {
                        storeFourNarrow();
                        if (count - i >= 4 && column + 3 <= right) {
                            std::memcpy(&four, widths.data() + i, sizeof(four));
                            if (four == 0x01010101u)
                                storeFourNarrow();
                        }
                        continue;
                    }
                    // So do four of one or two columns with room for four wide ones, without the
                    // test of each width: no byte of the masked widths less one is above 1.
                    // The first three store a right half after them whatever their width: the
                    // next cell's store overwrites it where the cell was narrow, and all eight
                    // columns are inside the limit. Only the last picks where its right half goes.
                    four &= 0x01010101u * widthMask;
                    if (((four - 0x01010101u) & 0xFEFEFEFEu) == 0 && column + 7 <= right) {
                        storeAhead(four & 0xFF, contents[i]);
                        storeAhead(four >> 8 & 0xFF, contents[i + 1]);
                        storeAhead(four >> 16 & 0xFF, contents[i + 2]);
                        store(four >> 24, contents[i + 3]);
                        i += 4;
                        continue;
                    }
                }
                const unsigned columns = widths[i] & widthMask;
                if (columns - 1u > 1u)
                    break;
                store(columns, contents[i]);
                ++i;
            }
        }
        for (; i < count; ++i) {
            // Most cells of most text are narrow: four of them that fit are stored without the
            // tests for each. Text of wide characters skips the look.
            if (widths[i] == 1) {
                while (count - i >= 4 && column + 3 <= right) {
                    uint32_t four;
                    std::memcpy(&four, widths.data() + i, sizeof(four));
                    if (four != 0x01010101u)
                        break;
                    for (int k = 0; k < 4; ++k)
                        cells[column + k] = PackedCell(singleTemplate | contents[i + k]);
                    column += 4;
                    i += 4;
                }
                if (i == count)
                    break;
                // A narrow cell among wide ones, or the last few of the run.
                if (widths[i] == 1) {
                    if (column > right)
                        break;
                    cells[column] = PackedCell(singleTemplate | contents[i]);
                    column += 1;
                    continue;
                }
            }
            const uint8_t width = widths[i];
            const int columns = width & widthMask;
            const int limit = (width & runCellStaysOnRow) ? widenLimit : right;
            if (column + columns - 1 > limit || (columns == 2 && !wideFits))
                break;
            if (columns == 2)
                cells[column + 1] = continuation;
            cells[column] = PackedCell((columns == 2 ? leadTemplate : singleTemplate) | contents[i]);
            column += columns;
        }
        if (column == start)
            break;
        // The seams: a wide character whose right half the run overwrote at its start, or whose
        // left half it overwrote at its end, loses its other half.
        if (cutsWideAtStart)
            cells[start - 1] = cells[start - 1].blanked();
        // Or it reached the last column, which ends a gap there.
        if (column >= line.count()) {
            line.noteWrittenTo(column);
        } else if (cells[column].isContinuation()) {
            cells[column] = cells[column].blanked();
            line.raiseUsedLength(column + 1);
            line.noteWrittenTo(column + 1);
        }
        if (line.hasImages())
            dropImages(line);
        line.raiseUsedLength(column);
        line.markContentChanged();
        placeCursorAfterPrint(column, right);
        written = i;
    }
    return written;
}

void Buffer::insertCharacter(PackedCell cell)
{
    cell = cell.withSemanticCode(semanticPrompt_.content().code());
    if (modeMirror_.characterProtection)
        cell = cell.withProtected(true);
    const int w = cell.width();
    int right = printRightLimit();
    // Two reasons to leave the plain path: a character that does not fit, or a pending wrap. A
    // pending wrap moves every character with a width to the next row, wherever the cursor
    // waits: a margin change or a back tab can leave it short of the limit, and the run writers
    // wrap there too. A zero-width cell still goes at the cursor.
    if ((x_ + w - 1 > right) | (wrapPending_ & (w > 0))) [[unlikely]] {
        if (!modeMirror_.wraparound) {
            // Without auto-wrap a pending wrap means nothing: the character goes at the cursor.
            // A wide character that does not fit is dropped; a narrow one overwrites the last
            // column again and again.
            if (x_ + w - 1 > right) {
                if (w == 2)
                    return;
                x_ = right;
            }
        } else {
            // A wide character that cannot fit on any row of a one-column region is dropped
            // too: written at the left edge it would put its right half outside the margins,
            // or leave its lead without one at the last column.
            if (wrappedRightLimit() - printLeftEdge() + 1 < w)
                return;
            wrapForPrint(w == 2);
            right = printRightLimit();
        }
        wrapPending_ = false;
    }

    BufferLine& line = cursorLine();
    if (modeMirror_.insertMode && w > 0)
        line.insertPackedCells(x_, w, right, PackedCell(cell.rawValue & PackedCell::attributeMask));
    if (x_ >= cols_)
        x_ = cols_ - 1;
    if (line.hasImages())
        dropImages(line);

    const int lineWidth = line.count();
    if (lineWidth < 1)
        return;
    const int at = std::min(lineWidth - 1, x_);
    const int last = std::min(lineWidth - 1, x_ + std::max(w, 1) - 1);
    const PackedCell first = line.packed(at);
    const PackedCell lastCell = line.packed(last);
    if (first.widthState() != WidthState::single || lastCell.widthState() != WidthState::single)
        line.repairSeamsForWriteSlow(at, first, last, lastCell, lineWidth);

    PackedCell* cells = line.mutableCells();
    cells[at] = cell;
    line.raiseUsedLength(at + 1);
    line.markContentChanged();
    x_ += 1;

    if (cell.isLead() && x_ < cols_ && x_ < lineWidth) {
        const PackedCell continuation =
            PackedCell((cell.rawValue & continuationSharedMask) |
                       (uint64_t(WidthState::continuation) << PackedCell::widthStateShift))
                .withProtected(modeMirror_.characterProtection);
        cells[x_] = continuation;
        line.raiseUsedLength(x_ + 1);
        line.markContentChanged();
        x_ += 1;
    }
    // The cursor waits on the limit; a pending wrap was cleared above whenever one was set. Only
    // a write up to the limit can have reached the line's last column.
    if (x_ > right) [[unlikely]] {
        line.noteWrittenTo(x_);
        x_ = right;
        wrapPending_ = true;
    }
}

} // namespace kestrovan
