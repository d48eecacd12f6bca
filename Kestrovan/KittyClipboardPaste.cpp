// Pastes. A paste that carries a clipboard snapshot goes to a program that switched paste events on
// (mode 5522) as a paste event: the list of types on offer and a one-time token with which the
// program reads the contents it wants, without a prompt. Any other paste is its text, filtered and
// bracketed as the terminal's modes say, sent as if typed.
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalPaste.h"

namespace kestrovan {

TerminalPasteResult KittyClipboardProtocol::paste(const TerminalPasteRequest& request, bool allowUnsafe)
{
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return TerminalPasteResult::failed;
    // The terminal calls its clipboard protocol under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    if (request.snapshot && canSendPasteEvent(request.snapshot->location) &&
        sendPasteEvent(*request.snapshot, *terminal))
        return TerminalPasteResult::eventSent;
    // A snapshot-only paste whose event could not go out fails, so the caller can offer text.
    if (!request.text)
        return TerminalPasteResult::failed;

    const std::shared_ptr<TerminalDelegate> delegate = terminal->delegate();
    const ByteSet controlBytes = delegate ? delegate->terminalControlBytesForPaste(*terminal)
                                          : TerminalPasteControls::approximateTerminalControlBytes();
    const auto* text = reinterpret_cast<const uint8_t*>(request.text->data());
    const TerminalPaste::Result result =
        TerminalPaste::encode(std::span<const uint8_t>(text, request.text->size()),
                              terminal->mode(TerminalMode::bracketedPasteMode), controlBytes, allowUnsafe);
    const auto* encoded = std::get_if<TerminalPaste::Encoded>(&result);
    if (!encoded)
        return TerminalPasteResult::rejected;
    // Without a host the text reaches no program: reporting it as sent would be a lie.
    if (!delegate)
        return TerminalPasteResult::failed;
    scanAsUserInput(*terminal, encoded->bytes);
    delegate->send(*terminal, encoded->bytes);
    return TerminalPasteResult::textSent;
}

bool KittyClipboardProtocol::sendPasteEvent(const TerminalClipboardSnapshot& snapshot, Terminal& terminal)
{
    // The protocol runs under its terminal's lock: inside a feed or a paste, or in `runLocked`.
    terminal.terminalLock().assumeHeldByCaller();
    // Without a token the event still lists the types; the program then reads under a prompt.
    const std::optional<std::string> token = terminal.newKittyClipboardToken();
    const std::vector<uint8_t> packet =
        encodeMimeList(snapshot.mimeTypes, snapshot.location, std::string(), token);
    const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate();
    if (!delegate || !delegate->kittyClipboardSendPasteEvent(terminal, packet))
        return false;
    scanAsUserInput(terminal, packet);
    if (token && !token->empty())
        storeToken(*token, snapshot.location, snapshot);
    return true;
}

void KittyClipboardProtocol::scanAsUserInput(Terminal& terminal, std::span<const uint8_t> bytes)
{
    // The protocol runs under its terminal's lock: inside a feed or a paste, or in `runLocked`.
    terminal.terminalLock().assumeHeldByCaller();
    // Semantic prompt tracking watches what the user sends for the command line being submitted.
    terminal.registerUserInput(bytes);
}

} // namespace kestrovan
