// The frame tick: once per display refresh that has work, on the main thread.
#include "Kestrovan/Apple/AppleTerminalView.h"

namespace kestrovan {

void TerminalView::frameTick()
{
    requireMainThread("TerminalView.frameTick");
}

} // namespace kestrovan
