// The terminal's modes: SM/RM, the DEC private modes, their save and restore, DECRQM, soft reset
// and the column-mode switch; and synchronized output (mode 2026) with cursor visibility.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// The handlers below are filled in with the modes family.

void Terminal::cmdSetMode(const CsiParameters&, Collect) {}

void Terminal::cmdResetMode(const CsiParameters&, Collect) {}

void Terminal::setMode(int, Collect) {}

void Terminal::resetMode(int, Collect) {}

bool Terminal::applyDECPrivateMode(int, bool)
{
    return false;
}

std::optional<bool> Terminal::readDECPrivateMode(int) const
{
    return std::nullopt;
}

std::optional<Terminal::DECModeReportState> Terminal::decPrivateModeReportState(int)
{
    return std::nullopt;
}

void Terminal::cmdSavePrivateModes(const CsiParameters&) {}

void Terminal::cmdRestorePrivateModes(const CsiParameters&) {}

void Terminal::csiPHandler(const CsiParameters&, Collect) {}

void Terminal::cmdDecRqm(const CsiParameters&, bool) {}

void Terminal::cmdSoftReset() {}

void Terminal::changeColumnMode(int) {}

// Synchronized output and cursor visibility are filled in with the modes family.

void Terminal::beginSynchronizedOutput() {}

void Terminal::endSynchronizedOutput() {}

void Terminal::applySynchronizedOutputWatchdog(bool, uint64_t) {}

void Terminal::synchronizedOutputWatchdogFired(uint64_t) {}

void Terminal::showCursor() {}

void Terminal::hideCursor() {}

} // namespace kestrovan
