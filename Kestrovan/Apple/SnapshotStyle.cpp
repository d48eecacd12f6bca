#include "Kestrovan/Apple/SnapshotStyle.h"

#include "Kestrovan/SelectionService.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

SnapshotSelectionState::SnapshotSelectionState(const SelectionService* selection)
{
    if (!selection)
        return;
    // The selection is the terminal's state: reading it without the lock could see a half-made
    // gesture. A selection whose terminal is gone has nothing left to race with.
    if (const std::shared_ptr<Terminal> terminal = selection->terminal())
        terminal->terminalLock().preconditionLocked();
    active = selection->active();
    start = selection->start();
    end = selection->end();
    isBlock = selection->isBlock();
}

} // namespace kestrovan
