// Synchronized output (mode 2026): the terminal's side of SynchronizedOutput.h, which tells the
// host when an update begins and ends and applies the watchdog once no feed is under way; and the
// cursor's visibility (DECTCEM), which the host is told of.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

namespace kestrovan {

void Terminal::beginSynchronizedOutput()
{
    if (synchronizedOutput_.begin()) {
        if (auto host = delegate())
            host->synchronizedOutputChanged(*this, true);
    }
    applyDueSynchronizedOutputWatchdog();
}

void Terminal::endSynchronizedOutput()
{
    if (!synchronizedOutput_.end())
        return;
    // The frame held back is repainted whole.
    refresh(0, _rows - 1);
    if (auto host = delegate())
        host->synchronizedOutputChanged(*this, false);
    applyDueSynchronizedOutputWatchdog();
}

void Terminal::applyDueSynchronizedOutputWatchdog()
{
    // Inside a feed the watchdog is armed once, when the outermost feed ends.
    if (parseDepth_ == 0 && synchronizedOutput_.takeWatchdogDue())
        applySynchronizedOutputWatchdog(synchronizedOutput_.active(), synchronizedOutput_.generation());
}

void Terminal::applySynchronizedOutputWatchdog(bool active, uint64_t generation)
{
    // The item holds the terminal weakly: a terminal that has gone is not woken.
    std::weak_ptr<Terminal> weakSelf = weak_from_this();
    synchronizedOutput_.applyWatchdog(active, [weakSelf, generation] {
        const std::shared_ptr<Terminal> self = weakSelf.lock();
        if (!self)
            return;
        TerminalLockGuard guard(self->terminalLock());
        self->synchronizedOutputWatchdogFired(generation);
    });
}

void Terminal::synchronizedOutputWatchdogFired(uint64_t generation)
{
    if (synchronizedOutput_.watchdogFired(generation))
        endSynchronizedOutput();
}

// --- Cursor visibility ---------------------------------------------------------------------------

void Terminal::showCursor()
{
    if (!modes_[TerminalMode::cursorHidden])
        return;
    modes_.set(TerminalMode::cursorHidden, false);
    if (auto host = delegate())
        host->showCursor(*this);
}

void Terminal::hideCursor()
{
    if (modes_[TerminalMode::cursorHidden])
        return;
    modes_.set(TerminalMode::cursorHidden, true);
    if (auto host = delegate())
        host->hideCursor(*this);
}

} // namespace kestrovan
