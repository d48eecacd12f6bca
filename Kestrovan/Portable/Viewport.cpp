#include "Kestrovan/Portable/Viewport.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <limits>

namespace kestrovan {

namespace {

TerminalViewportState viewportStateLocked(Terminal& terminal)
{
    const Buffer& buffer = terminal.buffer();
    TerminalViewportState state;
    state.topRow = buffer.yDisp();
    state.maximumTopRow = std::max<int64_t>(buffer.lines().count() - terminal.rows(), 0);
    state.isAlternateScreen = terminal.isCurrentBufferAlternate();
    return state;
}

} // namespace

TerminalViewportState viewportState(Terminal& terminal)
{
    return terminal.terminalLock().withLock([&] { return viewportStateLocked(terminal); });
}

void scrollViewport(Terminal& terminal, int64_t value, bool absolute)
{
    terminal.terminalLock().withLock([&] {
        terminal.terminalLock().assumeHeldByCaller();
        const Buffer& buffer = terminal.buffer();
        const int64_t maximum = std::max<int64_t>(buffer.lines().count() - terminal.rows(), 0);
        const int64_t current = buffer.yDisp();
        int64_t target = value;
        // A relative scroll by an extreme amount saturates instead of wrapping around.
        if (!absolute && __builtin_add_overflow(current, value, &target))
            target = value > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
        target = std::clamp<int64_t>(target, 0, maximum);
        terminal.setUserScrolling(target < maximum);
        if (!terminal.scrollViewportTo(static_cast<int>(target)))
            return;
        // Every screen row now shows another line.
        terminal.updateRange(0, false);
        terminal.updateRange(terminal.rows() - 1, false);
    });
}

// The feed transaction a view runs, for hosts without one: the selected cells are noted before
// the parse and compared after it, all under one hold of the lock so nothing else can change them
// in between.
void feedPreservingSelection(Terminal& terminal, std::span<const uint8_t> bytes, SelectionService& selection)
{
    terminal.terminalLock().withLock([&] {
        terminal.terminalLock().assumeHeldByCaller();
        const bool ours = selection.terminal().get() == &terminal;
        const auto captured = ours ? selection.captureSelectedContent() : std::nullopt;
        terminal.feed(bytes);
        if (captured)
            selection.clearIfSelectedContentChanged(*captured);
    });
}

// Host input is checked before anything changes: codes and cells come from another process or
// language runtime and may be anything.
bool updateSelection(Terminal& terminal, SelectionService& selection, uint32_t action, int64_t column,
                     int64_t row, uint32_t mode)
{
    return terminal.terminalLock().withLock([&] {
        terminal.terminalLock().assumeHeldByCaller();
        if (selection.terminal().get() != &terminal || action > 3 || mode > 3)
            return false;
        switch (static_cast<TerminalSelectionAction>(action)) {
        case TerminalSelectionAction::selectAll:
            selection.selectAll();
            return true;
        case TerminalSelectionAction::clear:
            selection.selectNone();
            return true;
        case TerminalSelectionAction::beginAtCell:
        case TerminalSelectionAction::extendToCell:
            break;
        }
        const Buffer& buffer = terminal.buffer();
        if (column < 0 || column >= terminal.cols() || row < 0 || row >= terminal.rows() ||
            buffer.yDisp() + row >= buffer.lines().count())
            return false;
        selection.updatePointerSelection(Position(column, buffer.yDisp() + row),
                                         action ==
                                             static_cast<uint32_t>(TerminalSelectionAction::beginAtCell),
                                         static_cast<SelectionService::PointerMode>(mode));
        return true;
    });
}

// Spans are reported for the rows on screen only; a selection wholly in scrollback above the view
// is active with no spans, which tells the host to draw nothing but keep its copy command on.
TerminalSelectionState selectionState(Terminal& terminal, SelectionService& selection)
{
    return terminal.terminalLock().withLock([&] {
        terminal.terminalLock().assumeHeldByCaller();
        TerminalSelectionState state;
        state.viewport = viewportStateLocked(terminal);
        state.active = selection.active() && selection.hasSelectionRange();
        state.start = selection.start();
        state.end = selection.end();
        if (!selection.active())
            return state;
        const int64_t top = terminal.buffer().yDisp();
        for (int row = 0; row < terminal.rows(); ++row) {
            if (const auto range = selection.selectedColumnsRange(top + row, terminal.cols()))
                state.spans.push_back(TerminalSelectionSpan{row, range->lower, range->upper});
        }
        return state;
    });
}

std::string selectionText(Terminal& terminal, SelectionService& selection)
{
    return terminal.terminalLock().withLock(
        [&] { return selection.active() ? selection.getSelectedText() : std::string(); });
}

} // namespace kestrovan
