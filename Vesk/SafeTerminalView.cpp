#include "Vesk/SafeTerminalView.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/UI/LinkLauncher.h"
#include "Platform/UI/Utf8.h"
#include "Vesk/PasteReview.h"
#include "Vesk/TerminalFont.h"
#include "VeskCore/SafetyPolicy.h"
#include "VeskCore/ShellQuoting.h"

#include <chrono>

namespace vesk {

namespace {

/// How long `closeRendering` waits before asking the view again.
constexpr auto renderingTeardownRetry = std::chrono::milliseconds(100);

} // namespace

std::shared_ptr<SafeTerminalView> SafeTerminalView::create(double fontSize)
{
    return LocalProcessTerminalView::create<SafeTerminalView>(platform::Size{initialWidth, initialHeight},
                                                              configuration(fontSize));
}

SafeTerminalView::Configuration SafeTerminalView::configuration(double fontSize)
{
    Configuration configuration;
    configuration.font = TerminalFont::font(fontSize);
    configuration.options.scrollback = scrollbackLines;
    return configuration;
}

SafeTerminalView::SafeTerminalView(Passkey key, platform::Size frameSize, Configuration configuration)
    : LocalProcessTerminalView(key, frameSize, std::move(configuration))
{}

SafeTerminalView::~SafeTerminalView() = default;

// --- Pastes and drops ----------------------------------------------------------------------------

std::optional<platform::Alert> SafeTerminalView::reviewFor(const std::string& text)
{
    if (!SafetyPolicy::pasteNeedsConfirmation(text))
        return std::nullopt;
    return PasteReview::makeAlert(text);
}

std::optional<int32_t> SafeTerminalView::runningShell() const
{
    const std::shared_ptr<kestrovan::LocalProcess>& shell = process();
    if (!shell || !shell->running() || shell->shellPid() <= 0)
        return std::nullopt;
    return shell->shellPid();
}

void SafeTerminalView::pasteIntoShell(const std::string& text, std::optional<int32_t> shell)
{
    // The shell the user pasted into must still be the one running here.
    if (!shell || runningShell() != shell || uiShutdownState() != UIShutdownState::active)
        return;
    LocalProcessTerminalView::insertPastedText(text);
}

void SafeTerminalView::pasteReviewed(const std::string& text)
{
    // The text is judged, shown and sent in the one form the paste path sends: well-formed UTF-8.
    const std::string sent = platform::utf8FromScalars(platform::scalarsFromUtf8(text));
    if (sent.empty())
        return;
    const std::optional<int32_t> shell = runningShell();
    if (!shell)
        return;
    const std::optional<platform::Alert> review = reviewFor(sent);
    if (!review) {
        pasteIntoShell(sent, shell);
        return;
    }
    std::weak_ptr<TerminalView> weak = weak_from_this();
    ask(*review, [weak, sent, shell](int button) {
        const auto view = std::static_pointer_cast<SafeTerminalView>(weak.lock());
        if (view && button == confirmButton)
            view->pasteIntoShell(sent, shell);
    });
}

void SafeTerminalView::insertPastedText(const std::string& text)
{
    pasteReviewed(text);
}

bool SafeTerminalView::acceptsDrops() const
{
    return runningShell().has_value();
}

bool SafeTerminalView::acceptDrop(const std::vector<std::string>& paths)
{
    const std::optional<int32_t> shell = runningShell();
    if (!shell || paths.empty())
        return false;
    const std::optional<kestrovan::ByteSet> controls = process()->terminalControlBytesForPaste();
    const std::optional<std::string> text =
        controls ? ShellQuoting::droppedFilesText(paths, *controls) : std::nullopt;
    if (!text) {
        // A name the paste path would alter would reach the shell as another file's.
        playBeep();
        return false;
    }
    if (host())
        host()->grabFocus();
    // The drop's own handling ends first; the paste (and any review) follows on the main queue,
    // into the shell the files were dropped on.
    std::weak_ptr<TerminalView> weak = weak_from_this();
    platform::MainQueue::shared()->async([weak, text = *text, shell] {
        const auto view = std::static_pointer_cast<SafeTerminalView>(weak.lock());
        if (!view || view->runningShell() != shell)
            return;
        if (!SafetyPolicy::containsTerminalControls(text)) {
            view->pasteIntoShell(text, shell);
            return;
        }
        std::weak_ptr<TerminalView> again = weak;
        view->ask(PasteReview::makeAlert(text), [again, text, shell](int button) {
            const auto view = std::static_pointer_cast<SafeTerminalView>(again.lock());
            if (view && button == confirmButton)
                view->pasteIntoShell(text, shell);
        });
    });
    return true;
}

// --- Links ---------------------------------------------------------------------------------------

platform::Alert SafeTerminalView::linkAlert(const std::string& url)
{
    platform::Alert alert;
    alert.style = platform::AlertStyle::warning;
    alert.messageText = "Open this link in your browser?";
    alert.informativeText = url;
    alert.buttons = {"Cancel", "Open Link"};
    alert.cancelButton = cancelButton;
    return alert;
}

void SafeTerminalView::requestOpenLink(kestrovan::TerminalView&, const std::string& link,
                                       const std::map<std::string, std::string>&)
{
    const std::optional<AllowedLink> allowed = SafetyPolicy::allowedLink(link);
    if (!allowed) {
        playBeep();
        return;
    }
    const std::optional<int32_t> shell = runningShell();
    std::weak_ptr<TerminalView> weak = weak_from_this();
    // Asked from the main queue, never from inside the click that asked.
    platform::MainQueue::shared()->async([weak, url = allowed->absoluteString, shell] {
        const auto view = std::static_pointer_cast<SafeTerminalView>(weak.lock());
        if (!view || view->runningShell() != shell)
            return;
        std::weak_ptr<TerminalView> again = weak;
        view->ask(linkAlert(url), [again, url, shell](int button) {
            const auto view = std::static_pointer_cast<SafeTerminalView>(again.lock());
            if (!view || button != confirmButton || view->runningShell() != shell)
                return;
            if (view->openConfirmedLink)
                view->openConfirmedLink(url);
            else
                view->openWithDesktop(url);
        });
    });
}

void SafeTerminalView::openWithDesktop(const std::string& url)
{
    // No browser, or one that does not start: the user hears it, as with a refused link.
    std::weak_ptr<TerminalView> weak = weak_from_this();
    platform::openWithDefaultApplication(url, [weak](const std::string&) {
        if (const auto view = std::static_pointer_cast<SafeTerminalView>(weak.lock()))
            view->playBeep();
    });
}

void SafeTerminalView::activateLink(const std::string& link, const std::map<std::string, std::string>& params,
                                    bool, kestrovan::TerminalLinkOpening::PresentAlert)
{
    requestOpenLink(*this, link, params);
}

// --- The view's delegate -------------------------------------------------------------------------

void SafeTerminalView::send(kestrovan::TerminalView& source, std::span<const uint8_t> data)
{
    // Replies may carry a screen checksum, which would tell the program what the screen shows.
    std::vector<uint8_t> scratch;
    LocalProcessTerminalView::send(source, SafetyPolicy::withoutScreenChecksums(data, scratch));
}

void SafeTerminalView::setTerminalTitle(kestrovan::TerminalView&, const std::string&)
{
    // Programs cannot change a title: the titles show the directory the kernel reports.
}

void SafeTerminalView::hostCurrentDirectoryUpdate(kestrovan::TerminalView&, const std::optional<std::string>&)
{
    // A directory a program reports is ignored; the pane reads the real one.
}

void SafeTerminalView::bell(kestrovan::TerminalView&)
{
    playBeep();
}

void SafeTerminalView::clipboardCopy(kestrovan::TerminalView&, std::span<const uint8_t>)
{
    // Programs cannot write the clipboard (OSC 52 writes are dropped).
}

bool SafeTerminalView::clipboardReadRequest(kestrovan::Terminal&, const std::string&)
{
    // Nor read it: not taken, and the view's delegate has no data to give.
    return false;
}

void SafeTerminalView::windowChanged(bool hasWindow)
{
    LocalProcessTerminalView::windowChanged(hasWindow);
    if (onWindowChanged)
        onWindowChanged();
}

void SafeTerminalView::sizeChanged(platform::Size newSize)
{
    // Named by the class that lays the view out: through LocalProcessTerminalView the name reaches
    // only the view core's half, which would leave the GPU surface, the scroller and the find bar
    // where they were.
    kestrovan::MacTerminalView::sizeChanged(newSize);
    if (onLaidOut)
        onLaidOut();
}

// --- Alerts, beeps and teardown ------------------------------------------------------------------

void SafeTerminalView::ask(const platform::Alert& alert, platform::AlertCompletion completion)
{
    if (presentAlert)
        presentAlert(alert, std::move(completion));
    else if (host())
        host()->presentAlert(alert, std::move(completion));
    else
        completion(alert.cancelButton);
}

void SafeTerminalView::playBeep()
{
    if (beep)
        beep();
    else if (host())
        host()->beep();
}

void SafeTerminalView::closeRendering()
{
    onWindowChanged = nullptr;
    onLaidOut = nullptr;
    if (updateUiClosed())
        return;
    // The retry holds the view, so that it lives until its rendering has stopped.
    std::shared_ptr<SafeTerminalView> self = std::static_pointer_cast<SafeTerminalView>(shared_from_this());
    platform::MainThreadTimers::system()->schedule(renderingTeardownRetry, false,
                                                   [self] { self->closeRendering(); });
}

} // namespace vesk
