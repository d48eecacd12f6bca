// Handlers of sequence families that are not built yet: window operations, rectangular areas,
// the OSC handlers other than titles, hyperlinks, OSC 1337 and program status.
//
// Until their families are built these sequences are accepted and ignored: no reply, no change of
// state, no diagnostic. Each body is replaced when its family lands. The clipboard forwarders at
// the end are complete.
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

namespace kestrovan {

// Window operations and rectangular areas: filled in with their families.

void Terminal::cmdWindowOptions(const CsiParameters&) {}

void Terminal::csiCopyRectangularArea(const CsiParameters&, Collect) {}

void Terminal::csiX(const CsiParameters&, Collect) {}

void Terminal::csiZ(const CsiParameters&, Collect) {}

void Terminal::csiOpenBrace(const CsiParameters&, Collect) {}

void Terminal::csiCloseBrace(const CsiParameters& pars, Collect collect)
{
    // DECIC is built; the other forms are filled in with the rectangular-area family.
    if (collect.size() == 1 && collect[0] == '\'')
        cmdInsertColumns(pars, collect);
}

void Terminal::cmdDECRQCRA(const CsiParameters&, Collect) {}

void Terminal::csit(const CsiParameters&, Collect) {}

void Terminal::cmdXtermTitleModeSet(const CsiParameters&) {}

void Terminal::cmdXtermTitleModeReset(const CsiParameters&, Collect) {}

void Terminal::cmdDECERA(const CsiParameters&) {}

void Terminal::cmdSelectiveEraseRectangularArea(const CsiParameters&) {}

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
