// The terminal's paste and clipboard-capability entry points, forwarded to the kitty clipboard
// protocol object, and the answer to an OSC 52 read the host took on.
#include "Kestrovan/Base64.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/OscPayloadText.h"
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

bool Terminal::canSendKittyPasteEvent(KittyClipboardLocation location)
{
    return kittyClipboard().canSendPasteEvent(location);
}

void Terminal::completeClipboardRead(std::string_view selection, std::span<const uint8_t> content)
{
    // The same answer an OSC 52 read gets when the host answers at once.
    sendResponse(cc_.OSC(), "52;" + clipboardSelection(selection) + ";" + base64Encode(content), cc_.ST());
}

} // namespace kestrovan
