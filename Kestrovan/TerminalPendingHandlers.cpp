// Handlers of a sequence family that is not built yet: device reports and queries.
//
// Until their families are built these sequences are accepted and ignored: no reply, no change of
// state, no diagnostic. Each body is replaced when its family lands. The clipboard forwarders at
// the end are complete.
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

namespace kestrovan {

// Device reports and queries: filled in with the device-report family.

void Terminal::cmdSendDeviceAttributes(const CsiParameters&, Collect) {}

void Terminal::cmdDeviceStatus(const CsiParameters&, Collect) {}

void Terminal::cmdXTVERSION(const CsiParameters&, Collect) {}

std::string Terminal::xtVersionIdentity(const std::optional<std::string>&, const std::optional<std::string>&,
                                        const std::optional<std::string>&)
{
    return std::string();
}

std::shared_ptr<DcsHandler> Terminal::makeDecrqssHandler()
{
    return nullptr;
}

std::shared_ptr<DcsHandler> Terminal::makeXtgettcapHandler()
{
    return nullptr;
}

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
