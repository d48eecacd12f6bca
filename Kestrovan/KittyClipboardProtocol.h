// The kitty clipboard protocol (OSC 5522 and DEC private mode 5522) of one terminal.
//
// The terminal makes this object on first need and forwards to it under its lock. The protocol's
// transactions, grants and paste tokens belong to the clipboard subsystem; what is here is the part
// the emulator core relies on: the object's lifecycle, its record of the host's capabilities, and
// entry points that accept and ignore requests until the protocol is built.
#pragma once

#include "Kestrovan/KittyClipboardTypes.h"

#include <cstdint>
#include <memory>
#include <span>

namespace kestrovan {

class Terminal;

class KittyClipboardProtocol
{
public:
    explicit KittyClipboardProtocol(std::weak_ptr<Terminal> terminal);

    /// The payload of one OSC 5522, the bytes after "5522;". Ignored for now.
    void handle(std::span<const uint8_t> payload);
    /// Asks the delegate what its clipboards can do and stores the answer; without a terminal
    /// it does nothing.
    void refreshCapabilities();
    /// Pastes text as typed input through the paste encoder: `rejected` when the encoder refuses
    /// it, `textSent` once sent, `failed` when the terminal, its host or the text is missing.
    /// Paste events for a clipboard snapshot are not sent yet.
    TerminalPasteResult paste(const TerminalPasteRequest& request, bool allowUnsafe);
    /// Drops grants, paste tokens and transactions (a full reset).
    void clear();
    /// The terminal is going away: forget it.
    void terminalDestroyed();

    KittyClipboardCapabilities capabilities() const { return capabilities_; }

private:
    std::weak_ptr<Terminal> terminal_;
    KittyClipboardCapabilities capabilities_;
};

} // namespace kestrovan
