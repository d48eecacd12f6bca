// The left and right margins (DECSLRM), the scroll region (DECSTBM) and the cursor style
// (DECSCUSR).
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// Filled in with the margins family.
void Terminal::cmdSetMargins(const CsiParameters&, Collect) {}

// Filled in with the margins family.
void Terminal::cmdSetScrollRegion(const CsiParameters&, Collect) {}

// Filled in with the margins family.
void Terminal::cmdSetCursorStyle(const CsiParameters&, Collect) {}

// Filled in with the margins family.
void Terminal::setCursorStyle(CursorStyle) {}

} // namespace kestrovan
