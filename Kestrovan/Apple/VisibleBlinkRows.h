// Which rows on screen hold blinking text, read from the terminal itself: the view runs its text
// blink timer only while some row needs it.
#pragma once

#include "Kestrovan/Terminal.h"

#include <vector>

namespace kestrovan {

/// The line indexes (absolute rows of the active buffer), ascending, of the rows shown from
/// `yDisp` that hold at least one cell with the blink style among the terminal's columns. A cell
/// past the terminal's current width does not count, even when the line keeps it from before a
/// resize. The calling thread must hold the terminal lock; without it the program stops.
std::vector<int64_t> visibleBlinkRowsLocked(const Terminal& terminal) REQUIRES(terminal.terminalLock());

} // namespace kestrovan
