// Handlers of sequence families that are not built yet: device reports and queries, window
// operations, rectangular areas, the kitty keyboard protocol, payload collection and semantic
// prompts.
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

// Window operations and rectangular areas: filled in with their families.

void Terminal::cmdWindowOptions(const CsiParameters&) {}

void Terminal::csiCopyRectangularArea(const CsiParameters&, Collect) {}

void Terminal::csiX(const CsiParameters&, Collect) {}

void Terminal::csiZ(const CsiParameters&, Collect) {}

void Terminal::csiOpenBrace(const CsiParameters&, Collect) {}

void Terminal::csiCloseBrace(const CsiParameters&, Collect) {}

void Terminal::cmdDECRQCRA(const CsiParameters&, Collect) {}

void Terminal::csit(const CsiParameters&, Collect) {}

void Terminal::cmdXtermTitleModeSet(const CsiParameters&) {}

void Terminal::cmdXtermTitleModeReset(const CsiParameters&, Collect) {}

void Terminal::cmdDECERA(const CsiParameters&) {}

void Terminal::cmdSelectiveEraseRectangularArea(const CsiParameters&) {}

// Kitty keyboard: filled in with the keyboard family. Declining keeps CSI u as restore-cursor.

bool Terminal::handleKittyKeyboardProtocol(const CsiParameters&, Collect)
{
    return false;
}

// Payload collection: filled in with the render snapshot family. Until then no payload code is
// given back before the terminal goes away.

void Terminal::garbageCollectPayload() {}

// Semantic prompts: filled in with their family.

void Terminal::oscSemanticPrompt(Bytes) {}

void Terminal::finishSemanticLineAdvance(Buffer&, bool) {}

void Terminal::semanticNoteAlternateScreenSwitch() {}

void Terminal::resetSemanticPromptState(bool) {}

void Terminal::resetUserInputScanner() {}

void Terminal::sendUserInput(Bytes data)
{
    sendBytes(data);
}

bool Terminal::scanUserInputForSubmission(Bytes)
{
    return false;
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
