// Select graphic rendition: folding SGR parameters into the current attribute and its style id.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// Filled in with the SGR family.
void Terminal::cmdCsiM(const CsiParameters&, Collect) {}

} // namespace kestrovan
