#include "Kestrovan/TerminalChangeReader.h"

#include "Kestrovan/Terminal.h"

namespace kestrovan {

ChangedRows TerminalChangeReader::take(Terminal& terminal)
{
    terminal.terminalLock().preconditionLocked();
    ChangedRows out = terminal.takeChangesSince(seen_);
    out.widen(own_);
    own_ = {};
    return out;
}

void TerminalChangeReader::markRow(const Terminal& terminal, int row)
{
    own_.widen(terminal.rowChange(row));
}

void TerminalChangeReader::markWholeScreen(const Terminal& terminal)
{
    own_.widen(terminal.wholeScreenChange());
}

} // namespace kestrovan
