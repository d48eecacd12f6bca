// One reader's own record of the rows of a terminal that changed.
//
// Each consumer that draws or copies a terminal's rows keeps one of these and asks it, under the
// terminal lock, which rows changed since it last asked. Readers never take each other's
// changes: two views of one terminal, or a view and a headless snapshot, each get every change.
// A reader's own reasons to redraw (its cursor moved, its colours changed) go into its record
// only, so they cost the other readers nothing.
#pragma once

#include "Kestrovan/ChangedRows.h"
#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <optional>

namespace kestrovan {

class TerminalChangeReader
{
public:
    /// The rows changed since this reader's last `take`, with its own marks; the whole screen the
    /// first time and after the reader fell too far behind. The caller holds the terminal lock.
    ChangedRows take(Terminal& terminal) REQUIRES(terminal.terminalLock());
    /// Marks screen row `row` changed for this reader only.
    void markRow(const Terminal& terminal, int row) REQUIRES(terminal.terminalLock());
    /// Marks the whole screen changed for this reader only.
    void markWholeScreen(const Terminal& terminal) REQUIRES(terminal.terminalLock());

private:
    /// How many of the terminal's sealed changes this reader has read; absent before the first.
    std::optional<uint64_t> seen_;
    ChangedRows own_;
};

} // namespace kestrovan
