// OSC 52 in the local-process view: a program's copy goes to the display's clipboard; a program's
// read of the clipboard happens only after the user allowed it.
//
// Any program can ask, a remote one over ssh included, and the clipboard often holds what the user
// would never hand it (a password just copied from a password manager). So every read brings up a
// prompt whose default answer refuses; while it is open, further reads are dropped without a
// reply, so a program cannot stack up prompts until the user clicks the wrong one.

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/Dispatch/MainQueue.h"

namespace kestrovan {

namespace {

constexpr int denyButton = 0;
constexpr int allowButton = 1;

} // namespace

platform::Alert LocalProcessTerminalView::clipboardReadAlert()
{
    platform::Alert alert;
    alert.style = platform::AlertStyle::warning;
    alert.messageText = "Allow a program to read the clipboard?";
    alert.buttons = {"Deny", "Allow"};
    alert.cancelButton = denyButton;
    return alert;
}

void LocalProcessTerminalView::clipboardCopy(TerminalView&, std::span<const uint8_t> content)
{
    if (platform::Clipboard* clipboard =
            host() ? host()->clipboard(platform::ClipboardKind::standard) : nullptr)
        clipboard->setText(std::string(content.begin(), content.end()));
}

bool LocalProcessTerminalView::clipboardReadRequest(Terminal&, const std::string& selection)
{
    // Taken whatever happens next: the terminal must never answer a read by itself.
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak, selection] {
            if (const auto view = std::static_pointer_cast<LocalProcessTerminalView>(weak.lock()))
                view->askToReadClipboard(selection);
        },
        "clipboardReadRequest(source:selection:)");
    return true;
}

void LocalProcessTerminalView::askToReadClipboard(const std::string& selection)
{
    if (clipboardReadPromptOpen_ || !host() || !terminal())
        return;
    const platform::ClipboardKind kind = selection.find('p') != std::string::npos
                                             ? platform::ClipboardKind::primary
                                             : platform::ClipboardKind::standard;
    clipboardReadPromptOpen_ = true;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    host()->presentAlert(clipboardReadAlert(), [weak, kind, selection](int button) {
        const auto view = std::static_pointer_cast<LocalProcessTerminalView>(weak.lock());
        if (!view)
            return;
        view->clipboardReadPromptOpen_ = false;
        platform::Clipboard* clipboard = view->host() ? view->host()->clipboard(kind) : nullptr;
        if (button != allowButton || !clipboard)
            return;
        clipboard->readText([weak, selection](std::optional<std::string> text) {
            const std::shared_ptr<TerminalView> view = weak.lock();
            if (!view || !view->terminal())
                return;
            // No text answers empty, so the program is not left waiting after the user allowed it.
            const std::string content = text.value_or(std::string());
            view->withTerminal(
                [&](Terminal& terminal) {
                    terminal.terminalLock().assumeHeldByCaller();
                    terminal.completeClipboardRead(
                        selection,
                        std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
                },
                "clipboardReadRequest(source:selection:)");
        });
    });
}

} // namespace kestrovan
