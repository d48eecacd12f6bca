// Construction and lifecycle of the window-system half, its CPU drawing and the overlays it lays
// over the frame (progress bar, visual bell, caret blink), and the orderly shutdown of its
// rendering (the GPU surface binding is in MacTerminalViewMetal.cpp).

#include "Kestrovan/Mac/MacTerminalView.h"

#include "Kestrovan/Mac/TerminalDebugView.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/Graphics/Canvas.h"
#include "Platform/Log/Log.h"

#include <chrono>
#include <cstdlib>
#include <string_view>

namespace kestrovan {

namespace {

platform::MainThreadTimers::Clock::duration seconds(double value)
{
    return std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(
        std::chrono::duration<double>(value));
}

bool isBlinking(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline ||
           style == CursorStyle::blinkBar;
}

} // namespace

MacTerminalView::MacTerminalView(Passkey key, platform::Size frameSize, Configuration configuration)
    : TerminalView(key, frameSize, std::move(configuration))
{}

MacTerminalView::~MacTerminalView()
{
    // Timers hold the view weakly; stopping them here only lets their closures go sooner.
    for (const auto* timer : {&caretBlinkTimer_, &overlayFrameTimer_})
        if (*timer)
            (*timer)->invalidate();
}

// --- The hosting widget ----------------------------------------------------------------------------

void MacTerminalView::attachHost(platform::ViewHost* widget)
{
    TerminalView::attachHost(widget);
    if (!widget) {
        // The host's subviews went with it, the GPU surface too: the CPU path draws for a host
        // the view may get later.
        dropMetalSurfaceWithHost();
        markedTextOverlayView_.reset();
        stopCaretBlink();
        stopOverlayScrollerTimers();
        stopSelectionAutoScroll();
        return;
    }
    setupScroller();
    // The desktop's scrollbar style unless the host chose one; a permanent scrollbar narrows the
    // grid at once, also when the style stays and only the scrollbar is new.
    const ScrollerStyle desktop =
        widget->appearance().overlayScrolling ? ScrollerStyle::overlay : ScrollerStyle::legacy;
    if (!scrollerStyleChosenByHost_ && desktop != scrollerStyle_)
        applyScrollerStyle(desktop);
    else if (scrollerStyle_ == ScrollerStyle::legacy)
        refitGridToScroller();
    if (markedText_)
        updateMarkedTextOverlay();
}

void MacTerminalView::sizeChanged(platform::Size newSize)
{
    TerminalView::sizeChanged(newSize);
    // Any relayout clears the selection: its cells no longer sit where the user chose them.
    if (terminal())
        withTerminal(
            [this](Terminal&) {
                if (selection())
                    selection()->setActive(false);
            },
            "resizeSubviews(withOldSize:)");
    layoutScroller();
    layoutFindBar();
    // The GPU surface covers the view.
    if (metalView_) {
        metalView_->view->setFrame(platform::Rect{0, 0, newSize.width, newSize.height});
        if (statusOverlayView_)
            statusOverlayView_->setFrame(platform::Rect{0, 0, newSize.width, newSize.height});
        if (metalScaleFactorOverride)
            applyMetalScale();
    }
}

void MacTerminalView::windowChanged(bool hasWindow)
{
    if (uiShutdownState_ != UIShutdownState::active)
        return;
    TerminalView::windowChanged(hasWindow);
    if (!hasWindow) {
        stopCaretBlink();
        // The render loop runs only while the view is in a window.
        stopRenderLoop();
        return;
    }
    startCaretBlink();
    if (useMetalRenderer_ && host()) {
        // A surface made for another window is made again for this one.
        const uintptr_t window = host()->windowIdentity();
        if (metalBoundWindow_ != window)
            rebindMetalRendererToWindow(window);
        startRenderLoopIfNeeded();
    }
}

void MacTerminalView::focusChanged(bool viewHasFocus)
{
    TerminalView::focusChanged(viewHasFocus);
    if (!hasFocus()) {
        // No key stays reported as held once the keys go elsewhere, and the caret stays shown
        // (hollow) while the view has no focus.
        kittyKeysWithReportedPress_.clear();
        // The release of a held link modifier goes elsewhere now.
        turnOffUrlPreview();
        caretBlinkHidden_ = false;
        setCaretOpacity(1);
    }
}

void MacTerminalView::windowActiveChanged(bool windowIsActive)
{
    TerminalView::windowActiveChanged(windowIsActive);
    if (!hasFocus()) {
        kittyKeysWithReportedPress_.clear();
        // The release of a held link modifier goes elsewhere now.
        turnOffUrlPreview();
        caretBlinkHidden_ = false;
        setCaretOpacity(1);
    }
    if (caretView()) {
        caretView()->setFocused(hasFocus());
        caretView()->updateCursorStyle();
    }
}

// --- Drawing ---------------------------------------------------------------------------------------

void MacTerminalView::draw(const platform::DrawRequest& request)
{
    TerminalView::draw(request);
    // Over a GPU surface they are drawn by their own subview, above it.
    if (!request.canvas || statusOverlayView_)
        return;
    drawStatusOverlays(*request.canvas);
}

void MacTerminalView::drawStatusOverlays(platform::Canvas& canvas)
{
    drawProgressBar(canvas);
    drawVisualBell(canvas);
}

bool MacTerminalView::hasStatusToShow()
{
    const double now = nowSeconds();
    if (visualBellStart_ && now - *visualBellStart_ < visualBellDuration && now >= *visualBellStart_)
        return true;
    return !progressBar().presentation(now).hidden;
}

void MacTerminalView::updateStatusOverlayVisibility()
{
    // A hidden overlay costs the window nothing: shown, its full-size, mostly clear pixels would be
    // blended over every frame the GPU draws.
    if (statusOverlayView_)
        statusOverlayView_->setHidden(!hasStatusToShow());
}

void MacTerminalView::setStatusNeedsDisplay(const std::optional<platform::Rect>& rect)
{
    if (statusOverlayView_) {
        updateStatusOverlayVisibility();
        statusOverlayView_->setNeedsDisplay();
    } else if (host() && rect)
        host()->setNeedsDisplayInRect(*rect);
    else if (host())
        host()->setNeedsDisplay();
}

void MacTerminalView::drawTerminalContents(const platform::DrawRequest& request)
{
    // While a GPU renderer draws, its surface covers what would be drawn here.
    if (!request.canvas || !terminal() || metalRenderer_)
        return;
    // Stamped before the frame-presented hook runs, so the hook can read this frame's time.
    lastFrameDrawnTime_ = std::chrono::steady_clock::now();
    const std::optional<FrameViewState> state = captureFrameViewState();
    if (!state)
        return;
    drawer_.drawTerminalContents(*request.canvas, request.dirtyRect, renderOwner(), *state);
    // The drawer leaves cells of the default background clear, for the view's backing layer to
    // show through; a window shows its own background there, so the layer's colour goes behind
    // what was drawn.
    platform::Canvas& canvas = *request.canvas;
    canvas.save();
    canvas.setBlendMode(platform::BlendMode::behind);
    canvas.setFillColor(backingLayerColor());
    canvas.fillRect(request.dirtyRect);
    canvas.restore();
}

void MacTerminalView::drawProgressBar(platform::Canvas& canvas)
{
    const double now = nowSeconds();
    const TerminalProgressBarView::Presentation bar = progressBar().presentation(now);
    if (bar.hidden)
        return;
    // The bar's frame is its own y-up space along the top edge of the view.
    canvas.save();
    canvas.translate(0, frameSize().height - progressBarHeight);
    if (bar.trackVisible) {
        canvas.setFillColor(bar.trackColor);
        canvas.fillRect(bar.trackFrame);
    }
    canvas.setFillColor(bar.barColor);
    canvas.fillRect(bar.barFrame);
    canvas.restore();
    if (progressBar().isAnimating(now))
        scheduleOverlayFrames();
}

bool MacTerminalView::visualBellFlashing() const
{
    return visualBellStart_.has_value();
}

void MacTerminalView::drawVisualBell(platform::Canvas& canvas)
{
    if (!visualBellStart_)
        return;
    const double elapsed = nowSeconds() - *visualBellStart_;
    if (elapsed >= visualBellDuration || elapsed < 0) {
        visualBellStart_.reset();
        return;
    }
    // Opacity 0 → 0.35 over the first 30 % of the flash, back to 0 over the rest.
    const double t = elapsed / visualBellDuration;
    const double opacity = t < 0.3 ? 0.35 * t / 0.3 : 0.35 * (1 - t) / 0.7;
    platform::NativeColor flash = nativeForegroundColor();
    flash.alpha *= opacity;
    canvas.setFillColor(flash);
    const platform::Size size = frameSize();
    canvas.fillRect(platform::Rect{0, 0, size.width, size.height});
}

void MacTerminalView::flashVisualBell()
{
    TerminalView::flashVisualBell();
    // Each flash starts over; a flash is redrawn frame by frame until it has faded.
    visualBellStart_ = nowSeconds();
    scheduleOverlayFrames();
}

void MacTerminalView::progressReport(Terminal& source, const ProgressReport& report)
{
    TerminalView::progressReport(source, report);
    // The shared half applies the report in a main-thread turn; this one follows it and draws the
    // strip the bar lives in.
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak] {
            const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock());
            if (!view || !view->host())
                return;
            const platform::Size size = view->frameSize();
            view->setStatusNeedsDisplay(
                platform::Rect{0, size.height - progressBarHeight, size.width, progressBarHeight});
            view->scheduleOverlayFrames();
        },
        "progressReport(source:report:)");
}

void MacTerminalView::scheduleOverlayFrames()
{
    if (overlayFrameTimer_ && overlayFrameTimer_->isValid())
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    overlayFrameTimer_ = timers().schedule(seconds(1.0 / 60), true, [weak] {
        const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock());
        if (!view)
            return;
        const platform::Size size = view->frameSize();
        bool more = false;
        if (view->visualBellStart_) {
            // The draw ends the flash once it has run its time; this redraw then clears it.
            view->setStatusNeedsDisplay(std::nullopt);
            more = true;
        }
        if (view->progressBar().isAnimating(view->nowSeconds())) {
            view->setStatusNeedsDisplay(
                platform::Rect{0, size.height - progressBarHeight, size.width, progressBarHeight});
            more = true;
        }
        if (!more && view->overlayFrameTimer_) {
            // The last frame drawn may have been from just before the bar's animation ended: one
            // more shows the bar where it comes to rest.
            view->setStatusNeedsDisplay(
                platform::Rect{0, size.height - progressBarHeight, size.width, progressBarHeight});
            view->overlayFrameTimer_->invalidate();
            view->updateStatusOverlayVisibility();
        }
    });
}

// --- Caret blink -----------------------------------------------------------------------------------

void MacTerminalView::setCaretOpacity(double opacity)
{
    if (caretView() && caretView()->presentation())
        caretView()->presentation()->setOpacity(opacity);
}

void MacTerminalView::startCaretBlink()
{
    if (caretBlinkTimer_ && caretBlinkTimer_->isValid())
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    caretBlinkTimer_ = timers().schedule(seconds(caretBlinkInterval), true, [weak] {
        if (const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock()))
            view->caretBlinkTick();
    });
}

void MacTerminalView::stopCaretBlink()
{
    if (caretBlinkTimer_)
        caretBlinkTimer_->invalidate();
    caretBlinkTimer_.reset();
    caretBlinkHidden_ = false;
    setCaretOpacity(1);
}

void MacTerminalView::caretBlinkTick()
{
    const std::shared_ptr<CaretView>& caret = caretView();
    if (!caret)
        return;
    // A steady style, an unfocused view (when the caret follows focus) or fresh input shows the
    // caret fully; otherwise it turns between shown and hidden each interval.
    const bool focused = caret->tracksFocus() ? hasFocus() : true;
    const bool blinks = isBlinking(caret->style()) && focused && uiShutdownState_ == UIShutdownState::active;
    const uint64_t resets = caret->blinkResets();
    if (!blinks || resets != caretBlinkResetsSeen_) {
        caretBlinkResetsSeen_ = resets;
        caretBlinkHidden_ = false;
    } else {
        caretBlinkHidden_ = !caretBlinkHidden_;
    }
    setCaretOpacity(caretBlinkHidden_ ? 0 : 1);
}

// --- GPU renderer and shutdown ---------------------------------------------------------------------

bool MacTerminalView::updateUiClosed()
{
    if (uiShutdownState_ == UIShutdownState::stopped)
        return true;
    uiShutdownState_ = UIShutdownState::stopping;
    // The frame driver hears of the shutdown at once, and no frame is drawn after it.
    if (frameDriver()) {
        frameSignal()->requestShutdown();
        frameDriver()->consumeSignalOnMain();
    }
    stopRenderLoop();
    // A renderer whose frame stays on the GPU cannot go yet: the host asks again later.
    if (useMetalRenderer_) {
        if (!renderOwner().removeMetalRenderer())
            return false;
        detachMetalRendererUI();
        useMetalRenderer_ = false;
    }
    stopCaretBlink();
    stopTextBlinking();
    clearProgressReport();
    if (overlayFrameTimer_)
        overlayFrameTimer_->invalidate();
    stopOverlayScrollerTimers();
    stopSelectionAutoScroll();
    visualBellStart_.reset();
    uiShutdownState_ = UIShutdownState::stopped;
    return true;
}

// --- Debug view ------------------------------------------------------------------------------------

void MacTerminalView::updateDebugView()
{
    if (debugView_)
        debugView_->update();
}

} // namespace kestrovan
