// The viewport API: what a host that draws the terminal itself (with the portable render snapshot)
// needs to scroll the view, feed output without losing a selection the output did not touch,
// drive a `SelectionService` from pointer events, and read the selection back as row spans or
// text.
//
// Each function takes the terminal lock for its whole run, so a host needs no lock of its own;
// none may be called by a thread that holds it already (the lock is not re-entrant).
#pragma once

#include "Kestrovan/Position.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrovan {

class SelectionService;
class Terminal;

struct TerminalViewportState
{
    /// The top visible line of the ring (the display offset).
    int64_t topRow = 0;
    /// The display offset that follows the live screen: lines in the ring minus screen rows, at
    /// least 0.
    int64_t maximumTopRow = 0;
    bool isAlternateScreen = false;

    friend bool operator==(const TerminalViewportState&, const TerminalViewportState&) = default;
};

/// The selected columns of one screen row: `startColumn` ..< `endColumn`.
struct TerminalSelectionSpan
{
    int64_t row = 0;
    int64_t startColumn = 0;
    int64_t endColumn = 0;

    friend bool operator==(const TerminalSelectionSpan&, const TerminalSelectionSpan&) = default;
};

struct TerminalSelectionState
{
    TerminalViewportState viewport;
    /// Active with a range.
    bool active = false;
    /// The rows of the viewport with selected columns, top to bottom.
    std::vector<TerminalSelectionSpan> spans;
    /// The service's ends in buffer rows, also when inactive.
    Position start;
    Position end;

    friend bool operator==(const TerminalSelectionState&, const TerminalSelectionState&) = default;
};

/// The `action` codes of `updateSelection`.
enum class TerminalSelectionAction : uint32_t
{
    beginAtCell = 0,
    extendToCell = 1,
    clear = 2,
    selectAll = 3,
};

TerminalViewportState viewportState(Terminal& terminal);
/// Scrolls the view to `value` (`absolute`) or by `value` lines, clamped to the scrollback; the
/// user-scrolling flag says whether the view left the live screen.
void scrollViewport(Terminal& terminal, int64_t value, bool absolute);
/// Parses output like the terminal's own feed and drops the selection only when the output
/// changed its cells (or switched screens).
void feedPreservingSelection(Terminal& terminal, std::span<const uint8_t> bytes, SelectionService& selection);
/// Applies a host's selection request: `action` (0 begin at a cell, 1 extend to it, 2 clear,
/// 3 select all) with `mode` (0 character, 1 word, 2 row, 3 extend) at a screen cell. False, with
/// nothing changed, for a service of another terminal, an unknown code or a cell off the screen.
bool updateSelection(Terminal& terminal, SelectionService& selection, uint32_t action, int64_t column,
                     int64_t row, uint32_t mode);
TerminalSelectionState selectionState(Terminal& terminal, SelectionService& selection);
/// The selected text, or the empty string when nothing is selected.
std::string selectionText(Terminal& terminal, SelectionService& selection);

} // namespace kestrovan
