// The main-thread spine of every frame. The frame driver calls `frameTick` for each display
// refresh that has work; the tick captures the view's settings into a `FrameViewState` and either
// hands it to the render loop through the render owner's mailbox (the GPU path draws off the main
// thread) or prepares the frame here, applies what it asks of the main thread, places the caret
// and submits the drawing.
//
// Locks, never nested except as stated: the view-state lock only around the render loop's slot,
// the mailbox lock only while fields are copied in or out, the render-state lock across a GPU draw
// and across the out-of-band caret refresh (with the terminal lock inside it there).
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/Profiling.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/Graphics/Canvas.h"

#include <algorithm>

namespace kestrovan {

namespace {

/// Ends a profiling interval on every way out of a scope.
struct IntervalScope
{
    ProfilingInterval interval;
    ~IntervalScope() { interval.end(); }
};

} // namespace

// --- The render loop's slot ----------------------------------------------------------------------

std::shared_ptr<RenderLoop> TerminalView::renderLoop() const
{
    platform::MutexLock guard(viewStateLock_);
    return renderLoop_;
}

void TerminalView::setRenderLoop(std::shared_ptr<RenderLoop> loop)
{
    platform::MutexLock guard(viewStateLock_);
    renderLoop_ = std::move(loop);
}

// --- Capture -------------------------------------------------------------------------------------

void TerminalView::removeUrlPreviewIfLinksOff()
{
    if (urlPreview && !enableOsc8Hyperlinks()) {
        urlPreview->removeFromSuperview();
        urlPreview.reset();
    }
}

std::optional<FrameViewState> TerminalView::captureFrameViewState()
{
    if (!terminal_)
        return std::nullopt;
    removeUrlPreviewIfLinksOff();
    return makeFrameViewState();
}

FrameViewState TerminalView::makeFrameViewState()
{
    requireMainThread("FrameViewState.init(view:)");
    KESTROVAN_ASSERT(cellDimension_.has_value() && caretView_ != nullptr,
                     "FrameViewState: the view is not set up (no cell size or caret)");
    FrameViewState state;
    state.linkHighlightRange = linkHighlightRange_;
    state.linkHighlightMode = linkHighlightMode_;
    state.commandActive = commandActive_;
    state.textBlinkVisible = textBlinkVisible_;
    state.notifyUpdateChanges = notifyUpdateChanges;
    // Fonts and colours come through the capture cache: a steady view converts nothing per tick.
    state.fonts = frameCaptureCache_.fonts(fontSet_);
    state.cellDimension = *cellDimension_;
    const platform::Size size = frameSize();
    state.viewBounds = platform::Rect{0, 0, size.width, size.height};
    state.viewFrameHeight = size.height;
    const double scale = backingScale();
    // The GPU may render at another scale than the window's, but never below one pixel a point.
    state.renderingScale = std::max(metalScaleFactorOverride.value_or(scale), 1.0);
    const auto [pixelWidth, pixelHeight] = cellPixelSize();
    state.cellPixelWidth = pixelWidth;
    state.cellPixelHeight = pixelHeight;
    state.imageScale = host_ && host_->hasWindow() ? scale : 1.0;
    state.metalBufferingMode = metalBufferingMode;
    state.fontSmoothing = fontSmoothing_;
    state.antiAliasCustomBlockGlyphs = antiAliasCustomBlockGlyphs_;
    state.cursorHasFocus = caretView_->tracksFocus() ? hasFocus() : true;
    FrameCaptureColors colors;
    colors.nativeForegroundColor = nativeFg_;
    colors.nativeBackgroundColor = nativeBg_;
    colors.selectedTextBackgroundColor = selectedTextBackgroundColor_;
    colors.selectedTextForegroundColor = selectedTextForegroundColor_;
    colors.caretColor = effectiveCaretColor();
    colors.caretTextColor = effectiveCaretTextColor();
    colors.linkColor = linkColor_;
    colors.linkUnderlineColor = linkUnderlineColor_;
    colors.reverseColorsActive = crossThreadState().reverseColorsActive;
    colors.appearanceName = appearance_.isDark ? "dark" : "light";
    state.appearance = frameCaptureCache_.appearance(colors);
    state.customBlockGlyphs = customBlockGlyphs_;
    state.useBrightColors = useBrightColors_;
    state.collapseBrightColorsToBase = collapseBrightColorsToBase_;
    state.minimumContrastRatio = minimumContrastRatio_;
    state.translucentCellBackgrounds = translucentCellBackgrounds_;
    state.bidiHostPolicy = bidiHostPolicy_;
    state.glyphFallbackProvider = glyphFallbackProvider_;
    return state;
}

// --- The tick ------------------------------------------------------------------------------------

void TerminalView::frameTick()
{
    requireMainThread("TerminalView.frameTick");
    const IntervalScope scope{Profiling::enabled() ? ProfilingInterval::begin(ProfilingEvent::frameTick)
                                                   : ProfilingInterval{}};
    std::optional<FrameViewState> state = captureFrameViewState();
    if (!state)
        return;

    // The path is chosen afresh each tick: a stopped loop sends the tick down the main-thread path.
    if (const std::shared_ptr<RenderLoop> loop = renderLoop(); loop && loop->isRunning()) {
        // Only the latest settings matter to the render thread: the slot holds one.
        renderOwner_->mailbox().state.withLock(
            [&state](TerminalRenderMailbox::State& box) { box.latestViewState = std::move(*state); });
        if (const std::shared_ptr<RenderLoop> again = renderLoop())
            again->signal();
        return;
    }

    // The requests the mailbox holds are taken exactly once per prepared frame.
    const FramePreparationRequest request = renderOwner_->mailbox().takeRequest(std::move(*state));
    const std::optional<PreparedFrame> frame = renderOwner_->prepareFrame(request);
    if (!frame)
        return;
    lastFramePreparedTime_ = std::chrono::steady_clock::now();
    applyFrameSideEffects(frame->mainEffects);
    updateCursorPosition(frame->cursor, frame->cursorRowCount);
    submitFrameDraw(*frame);
}

void TerminalView::applyFrameSideEffects(const MainFrameEffects& effects)
{
    const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate();
    // The order is part of the contract: a host hears of a new size before it hears of the rows
    // that size changed.
    if (effects.resizedTo) {
        if (delegate)
            delegate->sizeChanged(*this, effects.resizedTo->cols, effects.resizedTo->rows);
        requestScrollerUpdate();
    }
    if (effects.scroller)
        applyScrollerState(*effects.scroller);
    updateTextBlinkLifecycle(effects.blinkRows);
    if (effects.rangeChanged && delegate)
        delegate->rangeChanged(*this, effects.rangeChanged->start, effects.rangeChanged->end);
    if (effects.notifyAccessibility)
        postAccessibilityValueChanged();
    if (effects.selection != accessibilitySelection_) {
        accessibilitySelection_ = effects.selection;
        postAccessibilitySelectedTextChanged();
    }
    // Output scrolled the viewport since the last frame: the host hears the new position.
    const bool scrolled = crossThreadState_.withLock(
        [](TerminalViewCrossThreadState& state) { return std::exchange(state.scrolledDirty, false); });
    if (scrolled) {
        requestScrollerUpdate();
        if (delegate)
            delegate->scrolled(*this, effects.scrollPosition);
    }
    updateDebugView();
}

void TerminalView::updateCursorPosition(const std::optional<SnapshotCursor>& cursor, int rowCount)
{
    if (!caretView_)
        return;
    if (!cursor || cursor->screenRow < 0 || cursor->screenRow >= rowCount) {
        caretView_->removeFromSuperview();
        return;
    }
    if (cursor->hidden)
        caretView_->removeFromSuperview();
    else
        caretView_->addToSuperview();
    KESTROVAN_ASSERT(cellDimension_.has_value(),
                     "TerminalView.updateCursorPosition: the cell is not measured");
    // Double-width and double-height rows draw every cell twice as wide.
    const double factor = cursor->renderMode == BufferLine::RenderLineMode::single ? 1.0 : 2.0;
    const platform::Size cell = *cellDimension_;
    const double height = frameSize().height;
    // The view is y-up: screen row 0 is at the top, one cell below the view's height.
    caretView_->setFrame(platform::Rect{
        factor * cell.width * cursor->visualCol, height - cell.height * double(cursor->screenRow + 1),
        factor * cell.width * cursor->columnWidth, caretView_->frame().height});
    caretView_->setPowerlineRenderMode(cursor->renderMode);
    caretView_->setText(cursor->renderData);
    if (host_)
        host_->setInputMethodCursorRect(caretView_->frame());
}

void TerminalView::submitFrameDraw(const PreparedFrame& frame)
{
    if (frame.needsMetalDisplay) {
        if (!renderTarget)
            return;
        if (renderTarget->needsExternalDrawCall())
            renderOwner_->drawAttachedRenderer();
        else
            renderTarget->requestDisplay();
        return;
    }
    // The CPU path redraws only the rows the frame changed.
    if (frame.region && host_)
        host_->setNeedsDisplayInRect(*frame.region);
}

void TerminalView::draw(const platform::DrawRequest& request)
{
    diagnosticsState_->withLock([](Diagnostics& counters) { Diagnostics::add(counters.renders, 1); });
    if (!request.canvas)
        return;
    // The background the cells stand on, as a backing layer would paint it.
    request.canvas->setFillColor(backingLayerColor_);
    request.canvas->fillRect(request.dirtyRect);
    drawTerminalContents(request);
    terminalFramePresentedHandler().call();
}

// --- Outside a tick ------------------------------------------------------------------------------

void TerminalView::updateCursorPosition()
{
    if (!terminal_)
        return;
    removeUrlPreviewIfLinksOff();
    const FrameViewState state = makeFrameViewState();
    if (renderOwner_->hasMetalRenderer()) {
        // The GPU path places its caret with its next frame.
        requestRedraw();
        return;
    }
    renderOwner_->withRenderState([&] {
        const std::shared_ptr<TerminalSnapshot> snapshot = renderOwner_->snapshot();
        if (!snapshot) {
            if (caretView_)
                caretView_->removeFromSuperview();
            return;
        }
        {
            TerminalLockGuard guard(terminal_->terminalLock());
            const SnapshotSelectionState selection(selection_.get());
            snapshot->refresh(*terminal_, state, selection, false);
        }
        updateCursorPosition(snapshot->cursor, snapshot->rowCount);
    });
}

bool TerminalView::refreshSnapshotForMetal()
{
    if (!terminal_)
        return false;
    removeUrlPreviewIfLinksOff();
    return renderOwner_->refreshMetalSnapshot(makeFrameViewState());
}

} // namespace kestrovan
