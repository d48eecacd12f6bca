// The debug overlay's snapshot of the line ring and its text lines.

#include "Kestrovan/Mac/TerminalDebugView.h"

#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Platform/Text/Font.h"

#include <cstdio>

namespace kestrovan {

namespace {

platform::FontRef debugFont()
{
    // A small monospaced face that every Linux system has.
    return platform::Font::monospace(8);
}

/// One line of the ring for its first `cols` columns; "<empty>" for no line.
std::string render(const BufferLine* line, int cols)
{
    if (!line)
        return "<empty>";
    return line->translateToString(false, 0, std::min(cols, line->count()));
}

} // namespace

TerminalDebugView::TerminalDebugView(std::shared_ptr<TerminalView> terminal)
    : terminal_(std::move(terminal)), overlay_(std::make_shared<DebugTextOverlay>(debugFont()))
{
    overlay_->setLines({"WAITING"});
}

std::string TerminalDebugView::status() const
{
    return latestSnapshot_ ? latestSnapshot_->status : "WAITING";
}

std::string TerminalDebugView::format(const Row& row)
{
    char prefix[64];
    const char display = row.isDisplayRow ? 'D' : ' ';
    const char base = row.isBaseRow ? 'B' : ' ';
    std::snprintf(prefix, sizeof prefix, "[%03d:%03d]%c%c", row.logicalIndex, row.cyclicIndex, display, base);
    std::string text = prefix + row.physicalText;
    std::snprintf(prefix, sizeof prefix, "[%03d]%c%c", row.logicalIndex, display, base);
    return text + prefix + row.logicalText;
}

TerminalDebugView::Snapshot TerminalDebugView::takeSnapshot()
{
    return terminal_->withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            Snapshot snapshot;
            const Buffer& buffer = terminal.buffer();
            const CircularBufferLineList& ring = buffer.lines();
            const int slots = ring.slotCount();
            const int cols = terminal.cols();
            for (int index = 0; index < ring.maxLength(); ++index) {
                Row row;
                row.logicalIndex = index;
                row.cyclicIndex = slots > 0 ? (index + ring.startIndex()) % slots : 0;
                row.isDisplayRow = index == buffer.yDisp();
                row.isBaseRow = index == buffer.yBase();
                // Slot `index` holds logical line (index − start) mod slots. Reading fills no
                // empty slot: an empty one shows as "<empty>".
                if (index < slots) {
                    const int logical = ((index - ring.startIndex()) % slots + slots) % slots;
                    row.physicalText =
                        logical < ring.count() ? render(ring.lineIfPresent(logical).get(), cols) : "<empty>";
                } else {
                    row.physicalText = "<empty>";
                }
                row.logicalText =
                    index < ring.count() ? render(ring.lineIfPresent(index).get(), cols) : "<empty>";
                snapshot.rows.push_back(std::move(row));
            }
            snapshot.status = "x: " + std::to_string(buffer.x()) + " y: " + std::to_string(buffer.y()) +
                              " yDisp: " + std::to_string(buffer.yDisp()) +
                              " yBase: " + std::to_string(buffer.yBase()) + " clc: " + std::to_string(slots) +
                              " startIndex: " + std::to_string(ring.startIndex());
            return snapshot;
        },
        "TerminalDebugView.update()");
}

void TerminalDebugView::update()
{
    latestSnapshot_ = takeSnapshot();
    std::vector<std::string> lines{latestSnapshot_->status};
    for (const Row& row : latestSnapshot_->rows)
        lines.push_back(format(row));
    overlay_->setLines(std::move(lines));
}

} // namespace kestrovan
