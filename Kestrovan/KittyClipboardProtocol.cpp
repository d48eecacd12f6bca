#include "Kestrovan/KittyClipboardProtocol.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalPaste.h"

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

TerminalPasteResult KittyClipboardProtocol::paste(const TerminalPasteRequest& request, bool allowUnsafe)
{
    const std::shared_ptr<Terminal> terminal = terminal_.lock();
    if (!terminal)
        return TerminalPasteResult::failed;
    // A request with a clipboard snapshot goes out as a paste event when the program asked for
    // them; that path arrives with the protocol's transactions. Until then such a request falls
    // through to its text, and one without text fails so that the caller can offer text instead.
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
    // Semantic prompt tracking watches typed input for the command being submitted.
    terminal->scanUserInputForSubmission(encoded->bytes);
    delegate->send(*terminal, encoded->bytes);
    return TerminalPasteResult::textSent;
}

void KittyClipboardProtocol::clear() {}

void KittyClipboardProtocol::terminalDestroyed()
{
    terminal_.reset();
}

} // namespace kestrovan
