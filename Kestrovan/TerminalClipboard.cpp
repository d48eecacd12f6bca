// The terminal's paste and clipboard-capability entry points, forwarded to the kitty clipboard
// protocol object.
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

// The clipboard protocol object is made on first use and does the work.
TerminalPasteResult Terminal::paste(const TerminalPasteRequest& request, bool allowUnsafe)
{
    return kittyClipboard().paste(request, allowUnsafe);
}

void Terminal::refreshKittyClipboardCapabilities()
{
    kittyClipboard().refreshCapabilities();
}

} // namespace kestrovan
