#include "Kestrovan/KittyClipboardProtocol.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

namespace kestrovan {

KittyClipboardProtocol::KittyClipboardProtocol(std::weak_ptr<Terminal> terminal)
    : terminal_(std::move(terminal))
{}

void KittyClipboardProtocol::handle(std::span<const uint8_t>) {}

void KittyClipboardProtocol::refreshCapabilities()
{
    const std::shared_ptr<Terminal> terminal = terminal_.lock();
    if (!terminal)
        return;
    if (const std::shared_ptr<TerminalDelegate> delegate = terminal->delegate())
        capabilities_ = delegate->kittyClipboardCapabilities(*terminal);
    else
        capabilities_ = KittyClipboardCapabilities();
}

TerminalPasteResult KittyClipboardProtocol::paste(const TerminalPasteRequest&, bool)
{
    // Without the paste encoder nothing can be sent safely, so the paste is reported as failed
    // rather than as sent.
    return TerminalPasteResult::failed;
}

void KittyClipboardProtocol::clear() {}

void KittyClipboardProtocol::terminalDestroyed()
{
    terminal_.reset();
}

} // namespace kestrovan
