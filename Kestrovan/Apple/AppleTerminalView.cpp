// Construction and set-up of the view, its lifecycle as a hosted view core, and the two ways
// every other member reaches the terminal or the main thread.
#include "Kestrovan/Apple/AppleTerminalView.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"

#include <utility>

namespace kestrovan {

namespace {

platform::FontRef defaultFont()
{
    platform::FontRef font = platform::Font::monospace(TerminalView::systemFontSize);
    KESTROVAN_ASSERT(font != nullptr, "TerminalView: no monospaced font is installed");
    return font;
}

std::shared_ptr<platform::DisplayLink> makeTimerDisplayLink()
{
    return std::make_shared<platform::TimerDisplayLink>(60.0, "vesk-frames");
}

} // namespace

// --- Construction ----------------------------------------------------------------------------------

std::shared_ptr<TerminalView> TerminalView::create(platform::Size frameSize)
{
    return create(frameSize, Configuration{});
}

TerminalView::TerminalView(Passkey, platform::Size frameSize, Configuration configuration)
    : initialFrameSize_(frameSize), appearance_(configuration.appearance),
      timers_(configuration.timers ? std::move(configuration.timers) : platform::MainThreadTimers::system()),
      makeDisplayLink_(std::move(configuration.makeDisplayLink)),
      renderOwner_(configuration.watchdogTimer
                       ? std::make_shared<TerminalRenderOwner>(std::move(configuration.watchdogTimer))
                       : std::make_shared<TerminalRenderOwner>()),
      startupOptions_(std::move(configuration.options)),
      fontSet_(platform::FontSet::fromNormal(configuration.font ? configuration.font : defaultFont())),
      nativeFg_(configuration.appearance.textColor), nativeBg_(configuration.appearance.textBackgroundColor),
      progressBar_(platform::Size{frameSize.width, 3}, configuration.appearance.selectedControlColor)
{
    wheelReportBudget = WheelReportBudget::startingAt(timers_->uptimeNanoseconds());
}

TerminalView::~TerminalView()
{
    // Timers hold the view weakly; stopping them here only lets their closures go sooner.
    if (textBlinkTimer_)
        textBlinkTimer_->invalidate();
    if (progressReportTimer_)
        progressReportTimer_->invalidate();
}

void TerminalView::setup(platform::Size frameSize)
{
    requireMainThread("TerminalView.setup");
    setupFrameDriver();

    std::weak_ptr<TerminalView> weak = weak_from_this();
    eventQueue_->configure(
        [weak](TerminalEvent event) {
            if (const std::shared_ptr<TerminalView> view = weak.lock())
                view->applyTerminalEvent(event);
        },
        [weak] {
            // An event raised while this thread parses (holding the lock) waits for the drain:
            // its handler takes the terminal lock, which is not re-entrant.
            const std::shared_ptr<TerminalView> view = weak.lock();
            return view && view->terminal_ && !view->terminal_->terminalLock().isHeldByCurrentThread();
        });

    setupOptions(getEffectiveWidth(frameSize), frameSize.height);
    updateBackingLayerBackground();
    configureInputSender();
    configureFeedSender();
    updateTerminalFocus();
    progressBar_.layout(platform::Size{frameSize.width, 3}, nowSeconds());
}

// --- Terminal and main-thread access ---------------------------------------------------------------

Terminal& TerminalView::requireTerminal(const char* caller) const
{
    if (!terminal_)
        fatal(std::string("TerminalView.") + caller + ": the view has no terminal yet");
    return *terminal_;
}

void TerminalView::recordLockCaller(const char* caller)
{
    if (!ProfilingStats::enabled())
        return;
    const std::shared_ptr<platform::MainQueue> main = platform::MainQueue::installed();
    if (main && main->isCurrent())
        ProfilingLockCallers::shared().record(caller);
}

void TerminalView::withTerminalLockHeld(const std::function<void()>& body, const char* caller)
{
    if (!terminal_ || terminal_->terminalLock().isHeldByCurrentThread()) {
        body();
        return;
    }
    withTerminal([&body](Terminal&) { body(); }, caller);
}

void TerminalView::requireMainThread(const char* operation) const
{
    const std::shared_ptr<platform::MainQueue> main = platform::MainQueue::installed();
    if (!main || !main->isCurrent())
        fatal(std::string(operation) + ": not on the main thread");
}

void TerminalView::onMain(std::function<void()> body, const char* caller)
{
    if (ProfilingStats::enabled())
        ProfilingHopCounter::shared().record(caller);
    std::weak_ptr<TerminalView> weak = weak_from_this();
    platform::MainQueue::shared()->async([weak, body = std::move(body)] {
        if (const std::shared_ptr<TerminalView> view = weak.lock())
            view->diagnosticsState_->withLock(
                [](Diagnostics& counters) { Diagnostics::add(counters.mainHops, 1); });
        // The body runs also when the view is gone; bodies that need the view hold it weakly.
        body();
    });
}

void TerminalView::onMainWithView(std::function<void(TerminalView&)> body, const char* caller)
{
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak, body = std::move(body)] {
            if (const std::shared_ptr<TerminalView> view = weak.lock())
                body(*view);
        },
        caller);
}

void TerminalView::onMainWithDelegate(std::function<void(TerminalView&, TerminalViewDelegate&)> body,
                                      const char* caller)
{
    onMainWithView(
        [body = std::move(body)](TerminalView& view) {
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view.terminalDelegate())
                body(view, *delegate);
        },
        caller);
}

void TerminalView::setTerminalDelegate(const std::shared_ptr<TerminalViewDelegate>& delegate)
{
    terminalDelegate_ = delegate;
    refreshKittyClipboardCapabilities();
}

TerminalViewCrossThreadState TerminalView::crossThreadState() const
{
    return crossThreadState_.withLock([](const TerminalViewCrossThreadState& state) { return state; });
}

// --- The mailbox's requests ------------------------------------------------------------------------

// The next frame reads these requests: a pending grid size it applies under the terminal lock,
// whether to announce its change to accessibility, and whether to recompute the scroller. Each
// is written alone under the mailbox's leaf lock, never while the terminal lock is held here.

void TerminalView::setMailboxUpdateScroller()
{
    renderOwner_->mailbox().state.withLock(
        [](TerminalRenderMailbox::State& state) { state.updateScroller = true; });
}

void TerminalView::setMailboxSuppressAccessibility(bool suppress)
{
    renderOwner_->mailbox().state.withLock(
        [suppress](TerminalRenderMailbox::State& state) { state.suppressAccessibility = suppress; });
}

void TerminalView::storePendingSize(FrameTerminalSize size)
{
    renderOwner_->mailbox().state.withLock(
        [size](TerminalRenderMailbox::State& state) { state.pendingSize = size; });
}

std::vector<int64_t> TerminalView::mailboxBlinkRows() const
{
    return renderOwner_->mailbox().state.withLock(
        [](const TerminalRenderMailbox::State& state) { return state.blinkRows; });
}

TerminalRenderMailbox::State TerminalView::pendingFrameRequests() const
{
    return renderOwner_->mailbox().state.withLock(
        [](const TerminalRenderMailbox::State& state) { return state; });
}

void TerminalView::requestScrollerUpdate()
{
    // One more frame in which the scroller's values are worked out afresh.
    if (!terminal_)
        return;
    setMailboxUpdateScroller();
    if (frameDriver_)
        requestRedraw();
}

// --- The hosting widget ----------------------------------------------------------------------------

void TerminalView::attachHost(platform::ViewHost* host)
{
    if (host_ == host)
        return;
    host_ = host;
    if (!host) {
        // The old host's subviews went with it.
        if (caretView_)
            caretView_->setPresentation(nullptr);
        scroller_.reset();
        if (frameDriver_)
            frameDriver_->bind(nullptr);
        return;
    }
    appearance_ = host->appearance();
    progressBar_.setAccentColor(appearance_.selectedControlColor);
    // The caret and the scroller are subviews of the host; the core keeps their handles and
    // places them itself.
    if (caretView_)
        caretView_->setPresentation(host->addSubview(caretView_));
    scroller_ = host->addScroller();
    std::weak_ptr<TerminalView> weak = weak_from_this();
    scroller_->onAction = [weak](platform::ScrollerPart, double position) {
        if (const std::shared_ptr<TerminalView> view = weak.lock())
            view->scroll(position);
    };
    applyScrollerState(ScrollerState{canScroll(), scrollPosition(), scrollThumbsize()});
}

platform::Size TerminalView::frameSize() const
{
    return host_ ? host_->size() : initialFrameSize_;
}

double TerminalView::backingScale() const
{
    return host_ ? host_->scaleFactor() : 1.0;
}

void TerminalView::sizeChanged(platform::Size newSize)
{
    // A new frame size resizes the grid at once, without the soft reset of a font change: a
    // window resize must not disturb the running program's modes.
    if (!host_)
        initialFrameSize_ = newSize;
    progressBar_.layout(platform::Size{newSize.width, 3}, nowSeconds());
    if (!cellDimension_)
        return;
    processSizeChange(newSize);
    if (host_)
        host_->setNeedsDisplay();
    requestRedraw();
}

void TerminalView::scaleChanged(double)
{
    // Cells are measured in whole device pixels, so a new scale may change the cell and the grid.
    if (!remeasureCellDimensionIfBackingScaleChanged())
        refreshCachedViewState();
    requestRedraw();
}

void TerminalView::windowChanged(bool hasWindow)
{
    const bool visible = host_ ? host_->isWindowVisible() : false;
    // Each window gets a fresh tick source: binding hands the old one back for good.
    if (frameDriver_) {
        frameDriver_->bind(hasWindow ? makeWindowDisplayLink() : nullptr);
        frameDriver_->updateVisibility(hasWindow, visible);
    }
    hasFocus_ = hasWindow && host_ && host_->hasFocus();
    updateTerminalFocus();
    // The window's monitor may have another scale than the one the cell was measured at.
    remeasureCellDimensionIfBackingScaleChanged();
    refreshCachedViewState();
    requestRedraw();
    // Blinking text blinks only in a window; out of one it stays shown and nothing wakes.
    if (hasWindow) {
        setupTextBlinking();
        updateTextBlinkLifecycle(std::nullopt);
    } else {
        stopTextBlinking();
    }
}

std::shared_ptr<platform::DisplayLink> TerminalView::makeWindowDisplayLink()
{
    // A configured source wins; then the window's own frame clock, which shows every frame the
    // moment it is drawn; a timer of the view's own where the host has none.
    if (makeDisplayLink_)
        return makeDisplayLink_();
    if (host_)
        if (std::shared_ptr<platform::DisplayLink> link = host_->makeDisplayLink())
            return link;
    return makeTimerDisplayLink();
}

void TerminalView::visibilityChanged(bool windowVisible)
{
    // A hidden or minimised window suspends ticking; the frame owed meanwhile is drawn on return.
    if (frameDriver_)
        frameDriver_->updateVisibility(host_ && host_->hasWindow(), windowVisible);
}

void TerminalView::appearanceChanged(const platform::Appearance& appearance)
{
    appearance_ = appearance;
    progressBar_.setAccentColor(appearance.selectedControlColor);
    // The view's colours stay (the user or a program chose them; `configureNativeColors` goes
    // back to the theme's); what depends on the appearance is drawn again.
    if (terminal_)
        withTerminal([this](Terminal&) { colorsChangedLocked(); }, "colorsChangedOnMain()");
}

void TerminalView::focusChanged(bool viewHasFocus)
{
    setHasFocus(viewHasFocus);
    updateTerminalFocus();
}

void TerminalView::windowActiveChanged(bool windowIsActive)
{
    // The window's activity stands for the application's: text blinks only in the active one, and
    // the terminal's focus follows it.
    textBlinkApplicationActive_ = windowIsActive;
    updateTextBlinkLifecycle(std::nullopt);
    updateTerminalFocus();
}

// --- Focus -----------------------------------------------------------------------------------------

bool TerminalView::hasFocus() const
{
    // Focus counts only in the active window (or with no window at all).
    const bool windowActive = !host_ || !host_->hasWindow() || host_->isWindowActive();
    return hasFocus_ && windowActive;
}

void TerminalView::setHasFocus(bool focused)
{
    hasFocus_ = focused;
    if (caretView_) {
        caretView_->setFocused(focused);
        caretView_->updateCursorStyle();
    }
    requestRedraw();
}

void TerminalView::updateTerminalFocus()
{
    if (!terminal_)
        return;
    // The program hears only changes (CSI I, CSI O), and only when it asked for focus reports.
    const bool focused = hasFocus();
    withTerminal(
        [focused](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.reportedFocusState() == focused)
                return;
            terminal.setTerminalFocus(focused);
        },
        "updateTerminalFocus()");
    if (caretView_)
        caretView_->updateCursorStyle();
    requestRedraw();
}

} // namespace kestrovan
