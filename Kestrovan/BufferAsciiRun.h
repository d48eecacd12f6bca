// The one-segment ASCII run writer, inline: a run of printable ASCII that fits on the cursor's
// row from the cursor on is stored straight into the row's packed cells. The terminal's print
// path for ASCII runs calls it directly, so that the short runs between colour changes (a word,
// a space) cost no call into the buffer; `Buffer::insertAsciiRun` calls it first and takes every
// other case (a wrap, images, a wide character cut at either end, insert mode, protection) the
// general way. Include this header only where a run is written.
#pragma once

#include "Kestrovan/Buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrovan {

namespace asciiRun {

// Stores `count` ASCII bytes as cells: each byte b becomes `cellTemplate | b << 2` (a kind-0
// cell whose scalar is the byte). The vector path widens 16 bytes to 16 cells with SSE2, which
// every x86-64 processor has, then the rest as two overlapping groups of 8 or of 4; it only runs
// when the bytes and the cells do not overlap, since it reads ahead of what it has stored. Its
// helpers are forced inline: in a large file the compiler may otherwise leave them as calls.
[[gnu::always_inline]] inline void storeAsciiCells(PackedCell* out, const uint8_t* in, size_t count,
                                                   uint64_t cellTemplate)
{
    size_t i = 0;
#if defined(__SSE2__)
    const auto cellsBegin = reinterpret_cast<uintptr_t>(out);
    const auto cellsEnd = cellsBegin + count * sizeof(PackedCell);
    const auto bytesBegin = reinterpret_cast<uintptr_t>(in);
    const bool overlaps = bytesBegin < cellsEnd && cellsBegin < bytesBegin + count;
    if (!overlaps) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i fields = _mm_set1_epi64x(static_cast<long long>(cellTemplate));
        // Four 16-bit lanes (bytes already shifted into the content field) become four cells.
        const auto storeFour = [&](__m128i words, size_t at) __attribute__((always_inline))
        {
            const __m128i low = _mm_unpacklo_epi16(words, zero);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at),
                             _mm_or_si128(_mm_unpacklo_epi32(low, zero), fields));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 2),
                             _mm_or_si128(_mm_unpackhi_epi32(low, zero), fields));
        };
        for (; i + 16 <= count; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            // Bytes fit in 8 bits, so shifting the 16-bit lanes by 2 cannot carry across lanes.
            const __m128i low = _mm_slli_epi16(_mm_unpacklo_epi8(bytes, zero), PackedCell::contentShift);
            const __m128i high = _mm_slli_epi16(_mm_unpackhi_epi8(bytes, zero), PackedCell::contentShift);
            storeFour(low, i);
            storeFour(_mm_unpackhi_epi64(low, zero), i + 4);
            storeFour(high, i + 8);
            storeFour(_mm_unpackhi_epi64(high, zero), i + 12);
        }
        // The last 4 to 15: two groups of 8 or of 4, the second ending at the last byte and
        // overlapping the first (storing a cell twice with the same value), instead of a loop
        // and a tail whose lengths vary with every run and mispredict.
        const size_t left = count - i;
        if (left >= 8) {
            const auto storeEight = [&](size_t at) __attribute__((always_inline))
            {
                int64_t eight;
                std::memcpy(&eight, in + at, sizeof eight);
                const __m128i words = _mm_slli_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(eight), zero),
                                                     PackedCell::contentShift);
                storeFour(words, at);
                storeFour(_mm_unpackhi_epi64(words, zero), at + 4);
            };
            storeEight(i);
            storeEight(count - 8);
            return;
        }
        if (left >= 4) {
            const auto storeFourBytes = [&](size_t at) __attribute__((always_inline))
            {
                int32_t four;
                std::memcpy(&four, in + at, sizeof four);
                storeFour(_mm_slli_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero),
                                         PackedCell::contentShift),
                          at);
            };
            storeFourBytes(i);
            storeFourBytes(count - 4);
            return;
        }
    }
#endif
    // One to three bytes, the space between two coloured words or a short word: the first, the
    // middle and the last byte, read before any store and stored without a loop whose trip count
    // changes with every run.
    if (i == 0 && count - 1 < 3) {
        const uint8_t first = in[0];
        const uint8_t middle = in[count / 2];
        const uint8_t last = in[count - 1];
        out[0] = PackedCell(cellTemplate | (uint64_t(first) << PackedCell::contentShift));
        out[count / 2] = PackedCell(cellTemplate | (uint64_t(middle) << PackedCell::contentShift));
        out[count - 1] = PackedCell(cellTemplate | (uint64_t(last) << PackedCell::contentShift));
        return;
    }
    for (; i < count; ++i)
        out[i] = PackedCell(cellTemplate | (uint64_t(in[i]) << PackedCell::contentShift));
}

} // namespace asciiRun

// Erasing the rest of the line after a field takes a length that changes with every field (what
// the field leaves of the longer text the line held before), and a loop or a test on that length
// mispredicts most of the time. Cells from the used length on already hold the tail blank, so any
// cell from `end` on may be stored with it: four groups of eight cells from `end`, each moved back
// to end at the line's end where it would pass it, cover every erase of up to 32 cells with no
// test at all. A group moved back may land on the run's own cells, which the caller stores next.
[[gnu::always_inline]] inline bool BufferLine::eraseToEndBeforeWrite(int start, int end, PackedCell fill)
{
    constexpr int group = 8;
    if (fill != tailBlankCell_ || count_ - start < group) [[unlikely]]
        return false;
    const int used = usedLength_;
    const int last = count_ - group;
    storeEightCells(cells_ + std::min(end, last), fill);
    storeEightCells(cells_ + std::min(end + group, last), fill);
    storeEightCells(cells_ + std::min(end + 2 * group, last), fill);
    storeEightCells(cells_ + std::min(end + 3 * group, last), fill);
    if (used > end + 4 * group) [[unlikely]]
        fillRange(end + 4 * group, used, fill);
    usedLength_ = end;
    endsWithWideGapValue_ = false;
    // One change for the run, one more when the erase blanked cells it used.
    generation_ += 1 + static_cast<uint64_t>(end < used);
    return true;
}

inline uint64_t Buffer::asciiCellTemplate(uint16_t styleID, uint16_t payloadCode) const
{
    return PackedCell::makeScalar(0, styleID, PackedCell::WidthState::single, false, payloadCode,
                                  semanticPrompt_.content().code())
        .rawValue;
}

// Colourful output sends runs of a few bytes between escape sequences, so this keeps its fixed
// cost small: the margins are read once, everything stays in registers, and nothing is changed
// before every test has passed.
[[gnu::always_inline]] inline bool Buffer::placeAsciiRunOnCursorRow(std::span<const uint8_t> bytes,
                                                                    uint16_t styleID, uint16_t payloadCode)
{
    const size_t count = bytes.size();
    const int start = x_;
    const int right = printRightLimit();
    if (bulkInsertBlocked_ || wrapPending_ || count == 0 || start > right || printLeftEdge() > right ||
        count > static_cast<size_t>(right - start) + 1)
        return false;
    BufferLine& line = cursorLine();
    const int end = start + static_cast<int>(count);
    const int width = line.count();
    PackedCell* cells = line.mutableCells();
    if (line.hasImages() || end > width || cells[start].isContinuation())
        return false;
    // The cell after the run is looked at only when there is one; a run that reaches the last
    // column ends a wide gap there instead.
    if (end != width) {
        if (cells[end].isContinuation())
            return false;
    } else {
        line.noteWrittenTo(end);
    }
    asciiRun::storeAsciiCells(cells + start, bytes.data(), count, asciiCellTemplate(styleID, payloadCode));
    line.raiseUsedLength(end);
    line.markContentChanged();
    placeCursorAfterPrint(end, right);
    return true;
}

// Coloured words on one row: the checks of the row that no word or look changes were made once by
// `beginLoneCells`, which leaves the cursor at or before the right limit; each run checks only
// the pending wrap, its room and the wide characters at its ends.
[[gnu::always_inline]] inline bool Buffer::putAsciiRun(const LoneCellRow& row, std::span<const uint8_t> bytes,
                                                       uint64_t cellTemplate)
{
    const size_t count = bytes.size();
    const int start = x_;
    if (wrapPending_ || count == 0 || count > static_cast<size_t>(row.right - start) + 1)
        return false;
    const int end = start + static_cast<int>(count);
    PackedCell* cells = row.cells;
    if (end > row.width || cells[start].isContinuation() || (end != row.width && cells[end].isContinuation()))
        return false;
    asciiRun::storeAsciiCells(cells + start, bytes.data(), count, cellTemplate);
    row.line->raiseUsedLength(end);
    row.line->markContentChanged();
    placeCursorAfterPrint(end, row.right);
    return true;
}

// The cursor position, the run and the erase each re-check what the one before them settled; a
// full-screen program sends the three around nearly every field it draws, so this checks once.
// What no field changes (the modes, the look) its caller checks once for a whole run of them.
[[gnu::always_inline]] inline bool Buffer::storeAsciiField(int col, int row, std::span<const uint8_t> bytes,
                                                           uint64_t cellTemplate, bool erase,
                                                           PackedCell eraseFill)
{
    const size_t count = bytes.size();
    // With `erase` the run must end before the last column: one reaching it leaves a wrap
    // pending, which the erase ends, on the run's last cell, which it blanks.
    if (count == 0 || count > static_cast<size_t>(cols_ - col - (erase ? 1 : 0)))
        return false;
    BufferLine& line = *lines_[yBase_ + row];
    const int end = col + static_cast<int>(count);
    const int width = line.count();
    PackedCell* cells = line.mutableCells();
    // A line wider than the screen (not yet reflowed) needs the erase's own care at the screen's
    // edge. The erase cuts no wide character: the cell before it is the run's last.
    if (line.hasImages() || end > width || (erase && width > cols_) || cells[col].isContinuation())
        return false;
    if (end != width) {
        if (cells[end].isContinuation())
            return false;
    } else {
        line.noteWrittenTo(end);
    }
    if (erase && line.eraseToEndBeforeWrite(col, end, eraseFill)) [[likely]] {
        asciiRun::storeAsciiCells(cells + col, bytes.data(), count, cellTemplate);
        return true;
    }
    asciiRun::storeAsciiCells(cells + col, bytes.data(), count, cellTemplate);
    if (erase)
        line.markWrittenThenEraseToEnd(end, eraseFill);
    else {
        line.raiseUsedLength(end);
        line.markContentChanged();
    }
    return true;
}

} // namespace kestrovan
