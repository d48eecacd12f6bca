// Links under the pointer: the highlight of the link the pointer is over, the preview label of an
// OSC 8 link's target while the link modifier is held, the note of the link under the pointer, and
// opening a clicked link through the link-safety policy.
//
// The link modifier (`commandActive`) is Ctrl or Super: Ctrl+click is how Linux terminals open
// links, and desktops take Super+click to move windows. The modifier is followed from key changes
// and from the flags of every pointer motion, so a view the user points at without having given
// it the keyboard focus highlights too, and a modifier released elsewhere does not stay held.
// Everything here runs on the main thread; link lookups take the terminal lock briefly.

#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/TerminalLinks.h"
#include "Platform/UI/GtkAlert.h"
#include "Platform/UI/LinkLauncher.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

using platform::ModifierFlags;

namespace {

bool hasLinkModifier(ModifierFlags flags)
{
    return flags.hasAny(ModifierFlags::control | ModifierFlags::command);
}

bool isHoverMode(LinkHighlightMode mode)
{
    return mode == LinkHighlightMode::hover || mode == LinkHighlightMode::hoverWithModifier;
}

} // namespace

std::optional<Position> MacTerminalView::linkPosition(platform::Point location)
{
    if (!terminal() || !cellDimension())
        return std::nullopt;
    return withTerminal([&](Terminal&) { return calculateMouseHitLocked(location).grid; }, "hitTest(_:)");
}

std::optional<MacTerminalView::LinkLookup> MacTerminalView::lookUpLink(Position at, bool implicit)
{
    return withTerminal(
        [&](Terminal& terminal) -> std::optional<LinkLookup> {
            terminal.terminalLock().assumeHeldByCaller();
            const Buffer& buffer = terminal.buffer();
            const int count = buffer.lines().count();
            if (count < 1)
                return std::nullopt;
            const Position position(std::clamp<int64_t>(at.col, 0, std::max(terminal.cols() - 1, 0)),
                                    std::clamp<int64_t>(at.row, 0, count - 1));
            LinkLookup lookup;
            lookup.match = explicitLinkMatch(terminal, position, buffer);
            if (!lookup.match && implicit)
                lookup.match = implicitLinkMatch(terminal, position, buffer);
            return lookup;
        },
        "linkAt(_:)");
}

bool MacTerminalView::hoverNeedsLink(std::optional<bool> commandOverride) const
{
    const LinkHighlightMode mode = linkHighlightMode();
    // The "always" modes are drawn from the mode itself: no link of its own is highlighted.
    if (!isHoverMode(mode))
        return false;
    return mode != LinkHighlightMode::hoverWithModifier || commandOverride.value_or(commandActive());
}

void MacTerminalView::applyHoverLink(const std::optional<LinkLookup>& lookup, bool wanted)
{
    // Moving within the link changes nothing; the old and new rows are redrawn on a change. An
    // empty buffer keeps what is shown.
    if (!wanted)
        setLinkHighlightRange(std::nullopt);
    else if (lookup)
        setLinkHighlightRange(lookup->match ? std::optional(lookup->match->rowRanges) : std::nullopt);
}

void MacTerminalView::updateHoverLink(Position at, std::optional<bool> commandOverride)
{
    const bool wanted = hoverNeedsLink(commandOverride);
    applyHoverLink(wanted ? lookUpLink(at, true) : std::nullopt, wanted);
}

void MacTerminalView::previewUrl(const std::string& payload)
{
    if (!enableOsc8Hyperlinks()) {
        removeUrlPreview();
        return;
    }
    if (urlPreview && previewedPayload_ == payload)
        return;
    const auto parsed = urlAndParamsFrom(payload);
    if (!parsed)
        return;
    const std::string text = UntrustedTerminalLink{parsed->first}.displayString();
    if (!urlPreview) {
        if (!host())
            return;
        urlPreview = host()->addLabel();
        if (!urlPreview)
            return;
        // The terminal's default colours, inverted, at the bottom-left corner.
        urlPreview->setFont(urlPreviewFontFamily, urlPreviewFontSize);
        urlPreview->setColors(nativeBackgroundColor(), nativeForegroundColor());
    }
    urlPreview->setText(text);
    const platform::Size fitted = urlPreview->fittingSize();
    urlPreview->setFrame(platform::Rect{0, 0, fitted.width, fitted.height});
    previewedPayload_ = payload;
}

void MacTerminalView::removeUrlPreview()
{
    if (urlPreview)
        urlPreview->removeFromSuperview();
    urlPreview.reset();
    previewedPayload_.reset();
}

void MacTerminalView::previewAndReportLink(Position at, const std::optional<LinkLookup>& lookup)
{
    // The OSC 8 target under the pointer, or no preview where there is none.
    const std::optional<std::string> payload =
        withTerminal([&](Terminal&) { return payloadStringLocked(at); }, "getPayload(for:)");
    if (payload)
        previewUrl(*payload);
    else
        removeUrlPreview();
    applyReportedLink(lookup);
}

void MacTerminalView::reportLink(Position at)
{
    applyReportedLink(linkReporting == LinkReporting::none
                          ? std::nullopt
                          : lookUpLink(at, linkReporting == LinkReporting::implicit));
}

void MacTerminalView::applyReportedLink(const std::optional<LinkLookup>& lookup)
{
    if (linkReporting == LinkReporting::none) {
        lastReportedLink_.reset();
        return;
    }
    if (!lookup)
        return;
    // A plain-text link counts only when implicit links are reported.
    const bool counts =
        lookup->match && (lookup->match->isExplicit || linkReporting == LinkReporting::implicit);
    lastReportedLink_ = counts ? std::optional(lookup->match->text) : std::nullopt;
}

void MacTerminalView::markWholeScreenForLinks()
{
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.updateFullScreen();
        },
        "flagsChanged(with:)");
    requestRedraw();
}

void MacTerminalView::commandKeyDown()
{
    setCommandActive(true);
    // Where the pointer rests, the preview and the highlight show without it moving.
    const std::optional<platform::Point> pointer = host() ? host()->pointerLocation() : std::nullopt;
    const std::optional<Position> position = pointer ? linkPosition(*pointer) : std::nullopt;
    if (position) {
        // One lookup serves the note and the highlight.
        const std::optional<LinkLookup> lookup = lookUpLink(*position, true);
        previewAndReportLink(*position, lookup);
        applyHoverLink(lookup, hoverNeedsLink(std::nullopt));
    }
    if (linkHighlightMode() == LinkHighlightMode::alwaysWithModifier)
        markWholeScreenForLinks();
}

void MacTerminalView::turnOffUrlPreview()
{
    if (!commandActive())
        return;
    setCommandActive(false);
    removeUrlPreview();
    lastReportedLink_.reset();
    if (linkHighlightMode() == LinkHighlightMode::hoverWithModifier) {
        setLinkHighlightRange(std::nullopt);
        requestRedraw();
    }
    if (linkHighlightMode() == LinkHighlightMode::alwaysWithModifier)
        markWholeScreenForLinks();
}

void MacTerminalView::updateLinkHover(std::optional<platform::Point> point, ModifierFlags modifiers)
{
    if (!point) {
        // Leaving the view ends the modifier's state and any hover highlight.
        turnOffUrlPreview();
        if (isHoverMode(linkHighlightMode()))
            setLinkHighlightRange(std::nullopt);
        return;
    }
    // The modifier as the pointer sees it: a view without the keyboard focus hears of no key.
    if (hasLinkModifier(modifiers) != commandActive())
        hasLinkModifier(modifiers) ? commandKeyDown() : turnOffUrlPreview();
    const std::optional<Position> position = linkPosition(*point);
    if (!position)
        return;
    // One lookup serves the note and the highlight, and none is made when neither wants it.
    const bool wanted = hoverNeedsLink(std::nullopt);
    const std::optional<LinkLookup> lookup =
        wanted || commandActive() ? lookUpLink(*position, true) : std::nullopt;
    if (commandActive())
        previewAndReportLink(*position, lookup);
    applyHoverLink(lookup, wanted);
}

bool MacTerminalView::openLinkOnClick(const MouseHit& hit, ModifierFlags modifiers)
{
    const bool command = hasLinkModifier(modifiers);
    // The highlight is brought up to date with the release's own modifier first: only the
    // highlighted link opens in the hover modes.
    updateHoverLink(hit.grid, commandActive() || command);
    const std::optional<LinkClick> click =
        withTerminal([&](Terminal&) { return linkForClickLocked(hit.grid, command); },
                     "linkForClick(at:hasCommandModifier:)");
    if (!click)
        return false;
    activateLink(click->url, click->params, click->isExplicit);
    return true;
}

TerminalLinkOpening::PresentAlert MacTerminalView::hostAlertPresenter()
{
    std::weak_ptr<TerminalView> weak = weak_from_this();
    return [weak](const platform::Alert& alert, platform::AlertCompletion completion) {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (view && view->host()) {
            view->host()->presentAlert(alert, std::move(completion));
            return;
        }
        // Without a window the alert is the whole application's.
        platform::gtk::presentAlert(alert, nullptr, std::move(completion));
    };
}

void MacTerminalView::activateLink(const std::string& link, const std::map<std::string, std::string>& params,
                                   bool isExplicit, TerminalLinkOpening::PresentAlert presentAlert)
{
    const LinkFileSystem& fileSystem = LinkFileSystem::system();
    const UntrustedTerminalLink target =
        TerminalLinkOpening::defaultLinkTarget(link, isExplicit, fileSystem, linkWorkingDirectory());
    std::weak_ptr<TerminalView> weak = weak_from_this();
    auto open = [weak, params, isExplicit](const std::string& url) {
        const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock());
        if (!view || !view->terminal())
            return;
        // Read after any confirmation: links switched off meanwhile open nothing.
        if (isExplicit && !view->enableOsc8Hyperlinks())
            return;
        const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate();
        if (!delegate)
            return;
        // The host keeps the last word; it finds the approval it is asked about here.
        std::optional<std::string> saved = std::exchange(view->approvedLinkForDelegate_, url);
        delegate->requestOpenLink(*view, url, params);
        view->approvedLinkForDelegate_ = std::move(saved);
    };
    TerminalLinkOpening::request(target, presentAlert ? presentAlert : hostAlertPresenter(), open, fileSystem,
                                 linkApplicationName);
}

void MacTerminalView::openLinkFromDelegate(const std::string& link, const std::map<std::string, std::string>&)
{
    const std::function<void(const std::string&)> opener =
        openURL ? openURL : [](const std::string& url) { platform::openWithDefaultApplication(url); };
    if (approvedLinkForDelegate_ && *approvedLinkForDelegate_ == link) {
        opener(link);
        return;
    }
    // A link the host found some other way: judged as plain text, with the application's alerts.
    openJudgedLink(link, opener, linkApplicationName);
}

void MacTerminalView::openDefaultLink(const std::string& link)
{
    openJudgedLink(
        link, [](const std::string& url) { platform::openWithDefaultApplication(url); }, nullptr);
}

void MacTerminalView::openJudgedLink(const std::string& link,
                                     const std::function<void(const std::string&)>& opener,
                                     const TerminalLinkOpening::ApplicationName& applicationName)
{
    const LinkFileSystem& fileSystem = LinkFileSystem::system();
    TerminalLinkOpening::request(
        TerminalLinkOpening::defaultLinkTarget(link, false, fileSystem, std::nullopt),
        [](const platform::Alert& alert, platform::AlertCompletion completion) {
            platform::gtk::presentAlert(alert, nullptr, std::move(completion));
        },
        opener, fileSystem, applicationName);
}

} // namespace kestrovan
