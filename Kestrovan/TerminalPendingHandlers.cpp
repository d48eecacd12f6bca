// Handlers of sequence families that are not built yet: device reports and queries, the OSC
// handlers other than titles, hyperlinks, OSC 1337 and program status.
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

// OSC handlers: filled in with the OSC family.

void Terminal::oscChangeOrQueryColorIndex(Bytes) {}

void Terminal::oscSetCurrentDocument(Bytes) {}

void Terminal::oscSetCurrentDirectory(Bytes) {}

void Terminal::oscSetColors(Bytes, int) {}

void Terminal::oscClipboard(Bytes) {}

void Terminal::oscResetColor(Bytes) {}

void Terminal::oscNotification(Bytes) {}

std::optional<Terminal::ProgressReport> Terminal::parseProgressReport(Bytes)
{
    return std::nullopt;
}

void Terminal::resetColor(int) {}

void Terminal::resetAllColors() {}

void Terminal::reportColorScheme() {}

void Terminal::updateColorScheme(TerminalColorScheme, bool) {}

void Terminal::notifyColorScheme() {}

// Hyperlinks and OSC 1337: filled in with their families.

void Terminal::oscHyperlink(Bytes) {}

std::optional<uint16_t> Terminal::resolveActiveHyperlink()
{
    return std::nullopt;
}

void Terminal::garbageCollectPayload() {}

void Terminal::osciTerm2(Bytes) {}

// Program status: filled in with its family.

void Terminal::oscProgramStatus(Bytes, uint8_t) {}

void Terminal::clearProgramStatus(const std::string&) {}

void Terminal::programStatusProcessExited() {}

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
