// Erasing (EL, ED, ECH and their selective forms), the screen alignment pattern and the line
// render modes.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// The handlers below are filled in with the erase family.

void Terminal::cmdEraseInLine(const CsiParameters&, Collect) {}

void Terminal::cmdEraseInDisplay(const CsiParameters&, Collect) {}

void Terminal::eraseUnprotectedInBufferLine(int, int, int) {}

void Terminal::cmdEraseChars(const CsiParameters&, Collect) {}

void Terminal::cmdScreenAlignmentPattern() {}

void Terminal::setLineRenderMode(BufferLine::RenderLineMode) {}

} // namespace kestrovan
