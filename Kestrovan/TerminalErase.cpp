// Erasing (EL, ED, ECH and their selective forms), the screen alignment pattern and the line
// render modes.
//
// Every erase writes `currentEraseBlankCell`, an empty cell carrying the erase style (default
// foreground, current background), so erased cells show the background a program set. Cells are
// rewritten in place; only ED 3 moves lines, dropping the scrollback.
//
// Protection comes in two flavours that erase differently. Cells printed under DECSCA survive only
// the selective forms (DECSEL, DECSED). Cells printed under SPA/EPA survive the plain forms of EL,
// ED and ECH as well, because ISO protection turns every erase selective.
//
// The erases of the line or screen end a pending wrap: the cursor's column, the last one while a
// wrap is pending, is erased and the next character goes into it.
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// DECSEL and DECSED carry the "?" private marker; any other intermediate leaves EL and ED plain.
bool hasQuestionMark(std::span<const uint8_t> collect)
{
    return collect.size() == 1 && collect[0] == '?';
}

/// Ps of EL, ED and ECH: 0 when the sequence has none.
int eraseMode(const CsiParameters& pars)
{
    return pars.count > 0 ? static_cast<int>(pars[0]) : 0;
}

} // namespace

void Terminal::cmdEraseInLine(const CsiParameters& pars, Collect collect)
{
    Buffer& active = *_buffer;
    const int x = active.x();
    const int y = active.y();
    const int mode = eraseMode(pars);
    if (mode <= 2)
        active.setWrapPending(false);

    if (characterProtectionMode_ == CharacterProtectionMode::iso || hasQuestionMark(collect)) {
        // DECSEL, or EL under ISO protection: protected cells stay.
        switch (mode) {
        case 0: // from the cursor to the end of the line
            eraseUnprotectedInBufferLine(y, x, _cols);
            break;
        case 1: // from the start of the line through the cursor cell
            eraseUnprotectedInBufferLine(y, 0, x + 1);
            break;
        case 2: // the whole line
            eraseUnprotectedInBufferLine(y, 0, _cols);
            break;
        default:
            break;
        }
        return;
    }

    if (mode == 0) {
        eraseCursorLineToEnd(active);
        return;
    }
    // Each plain form first blanks a wide character cut by an edge of the erased span, so no
    // half of one is left behind; the fills stop at the line's stored cells.
    const int row = active.yBase() + y;
    if (row < 0 || row >= active.lines().count())
        return;
    BufferLine& line = *active.lines()[row];
    // The wrap flag stays: erasing the text of a line does not end the paragraph it continues.
    switch (mode) {
    case 1: // EL 1: from the start of the line through the cursor cell
        line.repairWideSeam(x + 1);
        line.replacePackedCells(0, x + 1, currentEraseBlankCell());
        break;
    case 2: // EL 2: the whole line
        line.repairWideSeam(_cols);
        line.replacePackedCells(0, _cols, currentEraseBlankCell());
        break;
    default:
        break;
    }
    updateRange(y);
}

void Terminal::eraseCursorLineToEnd(Buffer& active)
{
    active.setWrapPending(false);
    const int x = active.x();
    const int y = active.y();
    const int row = active.yBase() + y;
    if (row < 0 || row >= active.lines().count())
        return;
    BufferLine& line = *active.lines()[row];
    // A wide character cut at the cursor is blanked whole. The wrap flag stays: erasing the text
    // of a line does not end the paragraph it continues.
    line.repairWideSeam(x);
    if (line.count() <= _cols) {
        // The span reaches the line's end, so no wide character is cut there; a right side that
        // is blank already is left as it is.
        line.eraseToEnd(x, currentEraseBlankCell());
    } else {
        line.repairWideSeam(_cols);
        line.replacePackedCells(x, _cols, currentEraseBlankCell());
    }
    updateRange(y);
}

void Terminal::cmdEraseInDisplay(const CsiParameters& pars, Collect collect)
{
    Buffer& active = *_buffer;
    CircularBufferLineList& ring = active.lines();
    const int x = active.x();
    const int y = active.y();
    const int mode = eraseMode(pars);

    // ED 3 drops the scrollback and is never selective. The rows are counted as a deferred
    // reflow leaves them; once gone, later column switches have no scrollback to reflow.
    if (mode == 3) {
        if (_buffer == normalBuffer_)
            endColumnSwitchRun();
        const int dropped = ring.count() - _rows;
        if (dropped < 1)
            return;
        ring.trimStart(dropped);
        // Trimming does not tell the buffer which lines left; some may have carried images.
        active.recalculateLinesWithImagesCount();
        active.resetLinesTrimmed();
        active.setYBase(std::max(0, active.yBase() - dropped));
        // The view keeps showing the same rows: they moved up by the number of lines dropped.
        active.setYDisp(std::max(0, active.yDisp() - dropped));
        // The scroller's range shrank with the history.
        notifyScrollPositionChanged();
        return;
    }
    if (mode <= 2)
        active.setWrapPending(false);

    if (characterProtectionMode_ == CharacterProtectionMode::iso || hasQuestionMark(collect)) {
        // DECSED, or ED under ISO protection: cells are erased one run of unprotected cells at a
        // time; no line is reset, no wrap flag cleared and no image touched.
        switch (mode) {
        case 0: // the cursor to the end of the screen
            eraseUnprotectedInBufferLine(y, x, _cols);
            for (int row = y + 1; row < _rows; ++row)
                eraseUnprotectedInBufferLine(row, 0, _cols);
            break;
        case 1: // the start of the screen through the cursor cell
            for (int row = 0; row < y; ++row)
                eraseUnprotectedInBufferLine(row, 0, _cols);
            eraseUnprotectedInBufferLine(y, 0, x + 1);
            break;
        case 2: // the whole screen
            for (int row = 0; row < _rows; ++row)
                eraseUnprotectedInBufferLine(row, 0, _cols);
            break;
        default:
            break;
        }
        return;
    }

    const int cursorRow = active.yBase() + y;
    const bool cursorRowInRing = cursorRow >= 0 && cursorRow < ring.count();
    switch (mode) {
    case 0: { // ED 0: from the cursor to the end of the screen
        updateRange(y);
        if (cursorRowInRing) {
            BufferLine& line = *ring[cursorRow];
            line.repairWideSeam(x);
            line.repairWideSeam(_cols);
            line.replacePackedCells(x, _cols, currentEraseBlankCell());
            // Erased from its first column, the line no longer continues the one above.
            if (x == 0)
                line.setWrapped(false);
        }
        // Whole rows below are reset: blank, unwrapped, single size, in the current bidi state;
        // their images stay, as only ED 2 removes images.
        for (int row = y + 1; row < _rows; ++row)
            resetBufferLine(row, false, modes_.bidiState());
        updateRange(_rows - 1);
        break;
    }
    case 1: { // ED 1: from the start of the screen through the cursor cell
        updateRange(y);
        if (cursorRowInRing) {
            BufferLine& line = *ring[cursorRow];
            line.repairWideSeam(x + 1);
            line.replacePackedCells(0, x + 1, currentEraseBlankCell());
            line.setWrapped(false);
            // The erased line ends blank up to its last column: the next line no longer continues
            // it, so a reflow does not join text to the blanks.
            if (x + 1 >= _cols && cursorRow + 1 < ring.count())
                ring[cursorRow + 1]->setWrapped(false);
        }
        for (int row = y - 1; row >= 0; --row)
            resetBufferLine(row, false, modes_.bidiState());
        updateRange(0);
        break;
    }
    case 2: // ED 2: the whole screen; the cursor stays where it is
        updateRange(_rows - 1);
        for (int row = _rows - 1; row >= 0; --row)
            resetBufferLine(row, true, std::nullopt);
        updateRange(0);
        clearAllKittyImages();
        break;
    default:
        break;
    }
}

void Terminal::eraseUnprotectedInBufferLine(int y, int start, int end)
{
    Buffer& active = *_buffer;
    const int row = active.yBase() + y;
    if (row < 0 || row >= active.lines().count())
        return;
    BufferLine& line = *active.lines()[row];
    end = std::min(end, _cols);
    start = std::max(start, 0);
    const int stored = line.count();
    // A column past the stored cells reads as the blank cell, which is never protected.
    const auto isProtected = [&](int col) { return col < stored && line.packed(col).isProtected(); };

    // Protected cells split the span into runs; each run is erased as one piece, so its edges
    // are the only places a wide character can be cut.
    int col = start;
    while (col < end) {
        if (isProtected(col)) {
            ++col;
            continue;
        }
        int runEnd = col + 1;
        while (runEnd < end && !isProtected(runEnd))
            ++runEnd;
        line.repairWideSeam(col);
        line.repairWideSeam(runEnd);
        line.replacePackedCells(col, runEnd, currentEraseBlankCell());
        col = runEnd;
    }
    updateRange(y);
}

void Terminal::cmdEraseChars(const CsiParameters& pars, Collect)
{
    Buffer& active = *_buffer;
    const int x = active.x();
    const int y = active.y();
    // Parameters saturate at 65535, so the sums below cannot overflow.
    const int count = std::max(1, eraseMode(pars));
    active.setWrapPending(false);

    // ECH has no DEC selective form: only ISO protection keeps cells.
    if (characterProtectionMode_ == CharacterProtectionMode::iso) {
        eraseUnprotectedInBufferLine(y, x, x + std::min(_cols, count));
        return;
    }

    const int row = active.yBase() + y;
    if (row < 0 || row >= active.lines().count())
        return;
    BufferLine& line = *active.lines()[row];
    line.repairWideSeam(x);
    line.repairWideSeam(x + count);
    line.replacePackedCells(x, x + count, currentEraseBlankCell());
    updateRange(y);
}

void Terminal::cmdScreenAlignmentPattern()
{
    Buffer& active = *_buffer;
    // DECALN fills with the current SGR attribute, not the erase style.
    const PackedCell fill =
        PackedCell::makeScalar('E', curStyleID_, PackedCell::WidthState::single, false, 0, 0);

    active.setScrollTop(0);
    active.setScrollBottom(_rows - 1);
    active.setMarginLeft(0);
    active.setMarginRight(_cols - 1);
    setCursor(0, 0);

    // Every row becomes a full row of the pattern: used to its end and no longer continuing the
    // row above, so a reflow cannot join the rows.
    CircularBufferLineList& ring = active.lines();
    for (int y = 0; y < _rows; ++y) {
        const int row = active.yBase() + y;
        if (row < 0 || row >= ring.count())
            continue;
        BufferLine& line = *ring[row];
        line.fill(fill);
        line.setWrapped(false);
    }

    updateFullScreen();
    // The margins are reset now, so in origin mode too this is the top-left cell of the screen.
    setCursor(0, 0);
}

void Terminal::setLineRenderMode(BufferLine::RenderLineMode mode)
{
    Buffer& active = *_buffer;
    const int row = active.yBase() + active.y();
    if (row < 0 || row >= active.lines().count())
        return;
    // A change of size is a change of layout, which the line counts apart from its content.
    active.lines()[row]->setRenderMode(mode);
    updateRange(active.y());
}

} // namespace kestrovan
