// The content and input-state snapshots: the terminal's side of ContentSnapshot.h, and the display
// text of one live line by the same text rule.
//
// A content snapshot reads one buffer (the active, the normal or the alternate one, whichever is
// in use) in one hold of the terminal lock. It captures either the rows the view shows or the live
// screen with some scrollback above it, and numbers every row absolutely: the buffer's count of
// lines trimmed from its scrollback plus the ring index, so numbers never go backwards while the
// scrollback is trimmed. Building a snapshot only reads: an empty ring slot is read as the blank
// line that would fill it, and is left empty.
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// Whether a packed cell shows no character: an inline blank, scalar 0, or a cluster whose first
/// scalar is 0 (or that the arena does not know).
bool isEmptyDisplayCell(PackedCell cell, const CellArena& arena)
{
    switch (cell.kind()) {
    case PackedCell::Kind::scalar:
        return cell.content() == 0;
    case PackedCell::Kind::grapheme: {
        const std::u32string* scalars = arena.grapheme(cell.content());
        return !scalars || scalars->empty() || scalars->front() == 0;
    }
    case PackedCell::Kind::paletteBlank:
    case PackedCell::Kind::trueColorBlank:
        return true;
    }
    return true;
}

/// The cells of the blank line an empty ring slot of `buffer` would be filled with, up to `limit`
/// columns: the buffer's width of default blanks.
std::vector<TerminalCellSnapshot> blankSlotCells(const Buffer& buffer, int limit)
{
    const PackedCell blank;
    const CharData data = buffer.cellArena()->unpack(blank);
    const int width = std::max(std::min(buffer.cols(), limit), 0);
    return std::vector<TerminalCellSnapshot>(
        static_cast<size_t>(width), TerminalCellSnapshot(std::string(), blank.width(), data.attribute));
}

} // namespace

TerminalInputStateSnapshot Terminal::inputStateSnapshot()
{
    TerminalLockGuard guard(terminalLock_);
    return inputStateSnapshotLocked();
}

TerminalInputStateSnapshot Terminal::inputStateSnapshotLocked() const
{
    terminalLock_.preconditionLocked();
    TerminalInputStateSnapshot state;
    state.dimensions = TerminalDimensions(_cols, _rows);
    state.isAlternateBuffer = isCurrentBufferAlternate();
    state.applicationCursor = modes_[TerminalMode::applicationCursor];
    state.applicationKeypad = modes_[TerminalMode::applicationKeypad];
    state.bracketedPasteMode = modes_[TerminalMode::bracketedPasteMode];
    state.mouseMode = mouse_.mouseMode();
    state.keyboardEnhancementFlags = keyboardEnhancementFlags();
    state.focusReportingEnabled = modes_[TerminalMode::sendFocus];
    return state;
}

TerminalContentSnapshot Terminal::contentSnapshot(const TerminalContentRegion& region, BufferKind kind)
{
    TerminalLockGuard guard(terminalLock_);
    return contentSnapshotLocked(region, kind);
}

TerminalContentSnapshot Terminal::contentSnapshotLocked(const TerminalContentRegion& region,
                                                        BufferKind kind) const
{
    terminalLock_.preconditionLocked();
    const Buffer& source = kind == BufferKind::normal ? *normalBuffer_
                           : kind == BufferKind::alt  ? *altBuffer_
                                                      : *_buffer;
    const CircularBufferLineList& lines = source.lines();

    // T lines in the ring, of which the last min(R, T) form the live screen and the S above it
    // are scrollback. A buffer that holds fewer lines than the screen has rows has no scrollback
    // and yields only the lines it has.
    const int lineCount = lines.count();
    const int screenRows = std::max(_rows, 0);
    const int scrollbackLines = lineCount - std::min(screenRows, lineCount);
    const int64_t trimmed = source.linesTop();

    int start = 0;
    int end = 0;
    if (const std::optional<int> maximum = region.maximumScrollbackRows()) {
        start = scrollbackLines - std::min(std::max(*maximum, 0), scrollbackLines);
        end = lineCount;
    } else {
        start = std::clamp(source.yDisp(), 0, lineCount);
        end = start + std::min(lineCount - start, screenRows);
    }

    std::vector<TerminalContentRowSnapshot> rows;
    rows.reserve(static_cast<size_t>(end - start));
    for (int index = start; index < end; ++index) {
        // Every captured row is real: an empty slot reads as the unwrapped blank line that
        // filling it would give.
        const auto& stored = lines.lineIfPresent(index);
        if (!stored) {
            rows.emplace_back(trimmed + index, blankSlotCells(source, _cols), false);
            continue;
        }
        const BufferLine& line = *stored;
        const CellArena& arena = *line.arena();
        const int width = std::min(line.count(), _cols);
        std::vector<TerminalCellSnapshot> cells;
        cells.reserve(static_cast<size_t>(std::max(width, 0)));
        for (int col = 0; col < width; ++col) {
            const PackedCell packed = line.packed(col);
            const CharData data = arena.unpack(packed);
            // A cell without a character reads as the empty text, not as U+0000.
            std::string text = isEmptyDisplayCell(packed, arena) ? std::string() : data.getText();
            cells.emplace_back(std::move(text), packed.width(), data.attribute);
        }
        rows.emplace_back(trimmed + index, std::move(cells), line.isWrapped());
    }

    return TerminalContentSnapshot(
        inputStateSnapshotLocked(), TerminalAbsoluteRowRange{trimmed + start, trimmed + end},
        trimmed + scrollbackLines, std::move(rows), trimmed + source.yBase() + source.y(), source.x());
}

std::string displayText(const Buffer& buffer, int line, int columns)
{
    const CircularBufferLineList& lines = buffer.lines();
    if (line < 0 || line >= lines.count())
        return std::string();
    // An empty slot would be filled with a blank line, whose text is empty.
    const CircularBufferLineList::ConstLinePointer stored = lines.lineIfPresent(line);
    if (!stored)
        return std::string();
    const BufferLine& row = *stored;
    const CellArena& arena = *row.arena();
    const int limit = std::min(std::max(columns, 0), row.count());

    // The text ends after the last character, a wide one with its continuation cell.
    int end = 0;
    for (int col = limit - 1; col >= 0; --col) {
        const PackedCell cell = row.packed(col);
        if (!isEmptyDisplayCell(cell, arena)) {
            end = std::min(limit, col + cell.width());
            break;
        }
    }

    std::string text;
    for (int col = 0; col < end; ++col) {
        const PackedCell cell = row.packed(col);
        // The empty right half of a wide character is part of the character, not a blank.
        if (col > 0 && row.packed(col - 1).isLead() && isEmptyDisplayCell(cell, arena))
            continue;
        text += arena.unpack(cell).getText();
    }
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

} // namespace kestrovan
