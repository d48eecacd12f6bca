// The bidi paragraph controls: applying the current bidi state to the paragraph under the cursor.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// Filled in with the bidi family.
void Terminal::applyCurrentBidiStateAtParagraphStart(BidiStateProperty) {}

} // namespace kestrovan
