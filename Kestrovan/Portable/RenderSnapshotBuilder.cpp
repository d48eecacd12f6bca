// The portable render snapshot: how `RenderSnapshotBuilder` reads a terminal into a
// `TerminalRenderSnapshot`.
//
// A snapshot is built in one hold of the terminal lock. Screen-wide state (size, screen, scroll
// position, colours, line sizes) is compared as a whole with what the last snapshot saw, and any
// difference marks the whole screen changed; a moved or restyled cursor marks its old and new
// rows; these marks are the builder's own and cost other readers of the terminal nothing. Only
// then are the changed rows read, so the host never has to reason about why a row changed. Rows
// are decoded through a per-row cache keyed by the line's render identity and generation, so a
// frame after a one-row change decodes one row. A snapshot takes the changes it delivers from the
// builder's own record: other readers of the terminal still get them.
#include "Kestrovan/Portable/RenderSnapshotBuilder.h"

#include <algorithm>
#include <limits>

namespace kestrovan {

namespace {

/// The line at a ring index, or null when the index lies outside the ring or its slot is empty.
/// Reading through `lineIfPresent` never creates a line, so a snapshot changes nothing.
const BufferLine* lineAtIndex(const Buffer& buffer, int index)
{
    if (index < 0 || index >= buffer.lines().count())
        return nullptr;
    return buffer.lines().lineIfPresent(index).get();
}

constexpr bool isBlinkingStyle(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline ||
           style == CursorStyle::blinkBar;
}

} // namespace

RenderSnapshotBuilder::RenderSnapshotBuilder(std::shared_ptr<Terminal> terminal)
    : terminal_(std::move(terminal))
{}

TerminalRenderSnapshot RenderSnapshotBuilder::makeRenderSnapshot(RenderSnapshotScope scope)
{
    TerminalLockGuard guard(terminal_->terminalLock());
    // Everything is read through the const view; only taking the changed rows needs more.
    const Terminal& terminal = *terminal_;
    const Buffer& active = terminal.buffer();
    const int cols = terminal.cols();
    const int rows = terminal.rows();
    const int yDisp = active.yDisp();

    // Screen-wide state: any change repaints everything, before the changed rows are read.
    PortableRenderMetadata metadata;
    metadata.cols = cols;
    metadata.rows = rows;
    metadata.alternate = terminal.isCurrentBufferAlternate();
    metadata.yDisp = yDisp;
    metadata.linesTop = active.linesTop();
    metadata.foreground = terminal.foregroundColor();
    metadata.background = terminal.backgroundColor();
    metadata.cursorColor = terminal.cursorColor();
    metadata.palette = terminal.ansiColors();
    metadata.reverse = terminal.mode(TerminalMode::reverseColors);
    metadata.modes.reserve(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        const BufferLine* line = lineAtIndex(active, yDisp + row);
        metadata.modes.push_back(line ? line->renderMode() : BufferLine::RenderLineMode::single);
    }
    if (!portableRenderMetadata || *portableRenderMetadata != metadata)
        changes_.markWholeScreen(*terminal_);
    portableRenderMetadata = std::move(metadata);

    // The cursor. The pending-wrap column `cols` is kept so a host can draw the cursor past
    // the last cell; a row outside the view is clamped onto it and reported hidden.
    const int cursorRow = active.yBase() + active.y() - yDisp;
    RenderSnapshotCursor cursor;
    cursor.x = std::clamp(active.x(), 0, cols);
    cursor.y = std::clamp(cursorRow, 0, rows - 1);
    cursor.hidden = terminal.mode(TerminalMode::cursorHidden) || cursorRow < 0 || cursorRow >= rows;
    cursor.style = terminal.options().cursorStyle;
    cursor.blink = isBlinkingStyle(cursor.style) || terminal.mode(TerminalMode::cursorBlink);
    if (portableRenderCursor != cursor) {
        if (portableRenderCursor && portableRenderCursor->y >= 0 && portableRenderCursor->y < rows)
            changes_.markRow(*terminal_, portableRenderCursor->y);
        changes_.markRow(*terminal_, cursor.y);
    }
    portableRenderCursor = cursor;

    TerminalRenderSnapshot snapshot;
    snapshot.cols = cols;
    snapshot.rows = rows;
    snapshot.isAlternateScreen = portableRenderMetadata->alternate;
    snapshot.foregroundColor = terminal.foregroundColor();
    snapshot.backgroundColor = terminal.backgroundColor();
    snapshot.cursorColor = terminal.cursorColor();
    snapshot.palette = terminal.ansiColors();
    snapshot.reverseVideo = terminal.mode(TerminalMode::reverseColors);
    snapshot.synchronizedOutputActive = terminal.synchronizedOutputActive();
    snapshot.cursor = cursor;

    // The rows to deliver. A whole-screen mark ends at `rows`, one past the last row.
    const ChangedRows changed = changes_.take(*terminal_);
    if (scope == RenderSnapshotScope::full) {
        snapshot.dirtyKind = RenderSnapshotDirtyKind::full;
        snapshot.dirtyRange = RenderSnapshotRange{0, rows - 1};
    } else if (const auto& screen = changed.screen; screen && screen->second >= 0 && screen->first < rows) {
        const int end = std::min(screen->second, rows - 1);
        const int start = std::max(screen->first, 0);
        snapshot.dirtyKind =
            start == 0 && end == rows - 1 ? RenderSnapshotDirtyKind::full : RenderSnapshotDirtyKind::partial;
        snapshot.dirtyRange = RenderSnapshotRange{start, end};
    }

    if (const auto& range = changed.absolute) {
        int end = range->second;
        // A whole-screen mark covers yDisp ... yDisp + rows; the last of those is not a row.
        if (range->first == yDisp && end == yDisp + rows)
            end -= 1;
        snapshot.scrollDirtyRange = RenderSnapshotRange{range->first, end};
    }

    if (portableRenderCells.size() != static_cast<size_t>(rows))
        portableRenderCells.assign(static_cast<size_t>(rows), std::nullopt);

    if (snapshot.dirtyRange) {
        const int lineCount = active.lines().count();
        snapshot.lines.reserve(
            static_cast<size_t>(snapshot.dirtyRange->endY - snapshot.dirtyRange->startY + 1));
        for (int row = snapshot.dirtyRange->startY; row <= snapshot.dirtyRange->endY; ++row) {
            const int index = yDisp + row;
            const BufferLine* line = lineAtIndex(active, index);
            std::optional<PortableRenderCellCache>& cached = portableRenderCells[static_cast<size_t>(row)];

            RenderSnapshotRow out;
            out.y = row;
            if (line) {
                if (!cached || !cached->matches(*line, cols))
                    cached = PortableRenderCellCache{line->renderIdentity(), line->generation(),
                                                     decodeRenderSnapshotCells(line, cols)};
                out.cells = cached->cells;
                out.isWrapped = line->isWrapped();
                out.renderMode = line->renderMode();
                // The last line of the ring has nothing below it to continue into.
                if (index + 1 < lineCount) {
                    const BufferLine* below = lineAtIndex(active, index + 1);
                    out.wrapsToNext = below && below->isWrapped();
                }
            } else {
                cached.reset();
                out.cells = decodeRenderSnapshotCells(nullptr, cols);
            }
            snapshot.lines.push_back(std::move(out));
        }
    }
    return snapshot;
}

} // namespace kestrovan
