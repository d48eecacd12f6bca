// The GPU surface binding of the window-system half: switching the GPU renderer on and off, the
// surface it draws into as a subview below the caret with the progress bar and visual bell in a
// subview above it, rebinding when the view moves to another
// window or its GL area gets a new context, falling back to the CPU path when that fails, the
// render loop that draws a texture surface off the main thread, drawing a frame at once, the
// scale override and the GPU's part of the UI shutdown.
//
// Lock order on these paths: the render loop's frame lock, then the render owner's render-state
// lock, then the terminal lock. Renderers are installed, replaced and removed on the main thread,
// which never holds the terminal lock here.

#include "Kestrovan/Apple/Metal/TerminalMetalLayerView.h"
#include "Kestrovan/Mac/MacOverlays.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Platform/Dispatch/MainQueue.h"
#include "Platform/Log/Log.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace kestrovan {

namespace {

const platform::Logger& gpuLog()
{
    static const platform::Logger logger("org.morvane.Kestrovan", "GPU");
    return logger;
}

/// The surface as the shared half's frame submission sees it.
class SurfaceFrameTarget final : public FrameRenderTarget
{
public:
    explicit SurfaceFrameTarget(std::shared_ptr<MetalRenderTarget> target) : target_(std::move(target)) {}
    bool needsExternalDrawCall() const override { return target_->needsExternalDrawCall(); }
    void requestDisplay() override { target_->requestDisplay(); }

private:
    std::shared_ptr<MetalRenderTarget> target_;
};

/// Lets a renderer go while its device's context can still be bound, so its GL objects are
/// deleted now rather than with the context. Its cursor blink stops first: the blink timer lives on
/// the view's timers, and a repeating timer that never fires again would keep it.
void releaseRenderer(std::shared_ptr<MetalTerminalRenderer>& renderer)
{
    if (!renderer)
        return;
    if (renderer->cursorBlinkController())
        renderer->cursorBlinkController()->shutdown();
    std::shared_ptr<platform::gpu::Device> device = renderer->device();
    renderer.reset();
    if (!device)
        return;
    const platform::gpu::ContextScope scope = device->bindCurrent();
    if (scope.isCurrent())
        device->collectReleased();
}

} // namespace

// --- Switching -------------------------------------------------------------------------------------

std::optional<MetalError> MacTerminalView::setUseMetal(bool enabled)
{
    if (enabled == useMetalRenderer_)
        return std::nullopt;
    if (enabled) {
        if (std::optional<MetalError> error = enableMetalRenderer())
            return error;
        useMetalRenderer_ = true;
        return std::nullopt;
    }
    if (std::optional<MetalError> error = removeMetalSurface())
        return error;
    useMetalRenderer_ = false;
    return std::nullopt;
}

std::optional<MetalError> MacTerminalView::removeMetalSurface()
{
    stopRenderLoop();
    if (!renderOwner().removeMetalRenderer()) {
        // The frame in flight did not complete: the GPU keeps drawing, with its loop back.
        startRenderLoopIfNeeded();
        return MetalError::rendererBusy;
    }
    detachMetalRendererUI();
    return std::nullopt;
}

std::optional<MetalError> MacTerminalView::enableMetalRenderer()
{
    if (metalView_)
        return std::nullopt;
    // A software rasterizer draws a full frame slower than the CPU path: it is no device.
    if (!metalSurfaceProvider_->systemDevice()) {
        metalSurfaceProvider_->reportNoDevice();
        return MetalError::deviceUnavailable;
    }
    std::optional<MetalSurface> surface =
        uiShutdownState_ == UIShutdownState::active && host() ? makeMetalView() : std::nullopt;
    if (!surface) {
        gpuLog().error("Kestrovan: the view cannot show a GPU surface; drawing on the CPU: " +
                       MetalError::metalKitUnavailable.description());
        return MetalError::metalKitUnavailable;
    }
    // A GL area that is not realized yet has no context: its renderer comes with the context.
    const bool waitsForContext = surface->setContextHandler && !surface->target->renderDevice();
    if (!waitsForContext) {
        auto made = makeMetalRenderer(*surface);
        if (const MetalError* error = std::get_if<MetalError>(&made)) {
            surface->view->removeFromSuperview();
            gpuLog().error("Kestrovan: the GPU renderer could not be set up; drawing on the CPU: " +
                           error->description());
            return *error;
        }
        auto renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(std::move(made));
        if (!renderOwner().replaceMetalRenderer(renderer, surface->target->needsExternalDrawCall())) {
            // A renderer of an earlier surface is still on the GPU; this one is not kept.
            surface->view->removeFromSuperview();
            releaseRenderer(renderer);
            return MetalError::rendererBusy;
        }
        metalRenderer_ = std::move(renderer);
    }
    bindSurface(*surface);
    insertMetalView(*surface, nullptr);
    metalView_ = std::move(surface);
    metalBoundWindow_ = host()->windowIdentity();
    renderTarget = std::make_shared<SurfaceFrameTarget>(metalView_->target);
    applyMetalScale();
    startRenderLoopIfNeeded();
    metalView_->target->requestDisplay();
    requestRedraw();
    return std::nullopt;
}

std::optional<MetalError> MacTerminalView::setUsesMetalLayerSurface(bool value)
{
    if (value == usesMetalLayerSurface_)
        return std::nullopt;
    usesMetalLayerSurface_ = value;
    if (!useMetalRenderer_)
        return std::nullopt;
    // A busy renderer keeps its surface; the new kind comes with the next one.
    if (std::optional<MetalError> error = removeMetalSurface())
        return error;
    // The GPU stays chosen: a surface of the new kind that cannot be made leaves the CPU drawing
    // until the host asks again.
    std::optional<MetalError> error = enableMetalRenderer();
    useMetalRenderer_ = !error;
    return error;
}

bool MacTerminalView::defaultUsesMetalLayerSurface()
{
    // Read once for the process; only exactly "0" turns the render-loop surface off.
    static const bool value = [] {
        const char* setting = std::getenv("KESTROVAN_METAL_LAYER");
        return !(setting && std::string_view(setting) == "0");
    }();
    return value;
}

// --- Surfaces and renderers ------------------------------------------------------------------------

std::optional<MetalSurface> MacTerminalView::makeMetalView()
{
    const platform::Size size = frameSize();
    return metalSurfaceProvider_->makeSurface(*host(), usesMetalLayerSurface_,
                                              platform::Rect{0, 0, size.width, size.height});
}

std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
MacTerminalView::makeMetalRenderer(const MetalSurface& surface)
{
    // The renderer's cursor blink and the completions of frames drawn on the main thread run on
    // the view's own timers, as everything else the view schedules.
    MetalRendererOptions options;
    options.blinkTimers = sharedTimers();
    auto made = metalSurfaceProvider_->makeRenderer(surface.target, options);
    if (auto* renderer = std::get_if<std::shared_ptr<MetalTerminalRenderer>>(&made)) {
        if (!surface.target->needsExternalDrawCall())
            (*renderer)->setCompletionTimers(sharedTimers());
        // Set once per renderer: a frame that could not be drawn, or one asked for while another
        // was on the GPU, comes back as a frame request.
        (*renderer)->setRedrawCallback(
            [signal = frameSignal()] { signal->publish(FrameDriverSignal::Events::needsFrame); });
    }
    return made;
}

void MacTerminalView::bindSurface(const MetalSurface& surface)
{
    std::weak_ptr<TerminalView> weak = weak_from_this();
    if (surface.setDrawHandler)
        surface.setDrawHandler([weak] {
            if (const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock()))
                view->drawGLAreaFrame();
        });
    if (surface.setContextHandler)
        surface.setContextHandler([weak](bool available) {
            if (const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock()))
                view->metalContextChanged(available);
        });
    if (surface.setNeedsDisplayHandler)
        surface.setNeedsDisplayHandler(
            [signal = frameSignal()] { signal->publish(FrameDriverSignal::Events::needsFrame); });
}

void MacTerminalView::unbindSurface(const MetalSurface& surface)
{
    if (surface.setDrawHandler)
        surface.setDrawHandler({});
    if (surface.setContextHandler)
        surface.setContextHandler({});
    if (surface.setNeedsDisplayHandler)
        surface.setNeedsDisplayHandler({});
}

void MacTerminalView::insertMetalView(const MetalSurface& surface, const MetalSurface* replacing)
{
    const std::shared_ptr<CaretView>& caret = caretView();
    const std::shared_ptr<platform::View> caretPresentation = caret ? caret->presentation() : nullptr;
    if (caretPresentation)
        surface.view->orderBelow(caretPresentation.get());
    else if (replacing)
        surface.view->orderAbove(replacing->view.get());
    else
        surface.view->orderBelow(nullptr);
    // The renderer draws the cursor: the caret stays hidden, fully opaque for when it returns.
    if (caret) {
        if (caretPresentation)
            caretPresentation->setOpacity(1);
        caret->setHiddenByRenderer(true);
    }
    // The progress bar and the visual bell, drawn on the canvas the surface covers, move to a
    // subview just above it; the scroller stays above both, as on the CPU path.
    if (!statusOverlayView_ && host()) {
        std::weak_ptr<TerminalView> weak = weak_from_this();
        statusOverlay_ = std::make_shared<StatusOverlay>([weak](platform::Canvas& canvas) {
            if (const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock()))
                view->drawStatusOverlays(canvas);
        });
        statusOverlayView_ = host()->addSubview(statusOverlay_);
        const platform::Size size = frameSize();
        statusOverlayView_->setFrame(platform::Rect{0, 0, size.width, size.height});
        updateStatusOverlayVisibility();
    }
    const platform::View* topOfSurface = surface.view.get();
    if (statusOverlayView_) {
        statusOverlayView_->orderAbove(topOfSurface);
        statusOverlayView_->setNeedsDisplay();
        topOfSurface = statusOverlayView_.get();
    }
    if (scroller())
        scroller()->orderAbove(topOfSurface);
}

void MacTerminalView::removeStatusOverlay(bool fromHost)
{
    if (statusOverlayView_ && fromHost)
        statusOverlayView_->removeFromSuperview();
    statusOverlayView_.reset();
    statusOverlay_.reset();
}

void MacTerminalView::detachMetalRendererUI()
{
    // The renderer goes first, while its surface is still in place: a GL area loses its context
    // when it leaves its parent, and objects made on that context could not be deleted after.
    releaseRenderer(metalRenderer_);
    if (metalView_) {
        unbindSurface(*metalView_);
        metalView_->view->removeFromSuperview();
    }
    metalView_.reset();
    // The view's own canvas draws the progress bar and the visual bell again.
    removeStatusOverlay(true);
    metalBoundWindow_ = 0;
    renderTarget.reset();
    if (caretView()) {
        caretView()->setHiddenByRenderer(false);
        caretView()->updateCursorStyle();
    }
    // From now on the CPU path draws every frame, from a full one.
    if (host())
        host()->setNeedsDisplay();
    requestRedraw();
}

void MacTerminalView::dropMetalSurfaceWithHost()
{
    stopRenderLoop();
    if (!useMetalRenderer_ || !renderOwner().removeMetalRenderer())
        return;
    releaseRenderer(metalRenderer_);
    if (metalView_)
        unbindSurface(*metalView_);
    metalView_.reset();
    removeStatusOverlay(false);
    renderTarget.reset();
    useMetalRenderer_ = false;
    if (caretView())
        caretView()->setHiddenByRenderer(false);
}

// --- Rebinding -------------------------------------------------------------------------------------

void MacTerminalView::rebindMetalRendererToWindow(uintptr_t window)
{
    withRenderLoopSuspended([&] { rebindMetalRendererToWindowLocked(window); });
    if (!metalView_)
        stopRenderLoop();
}

void MacTerminalView::rebindMetalRendererToWindowLocked(uintptr_t window)
{
    if (!useMetalRenderer_ || !metalView_)
        return;
    // A GL area gets a new context when it is realized in the new window and rebinds then.
    if (metalView_->setContextHandler) {
        metalBoundWindow_ = window;
        return;
    }
    if (!metalView_->target->renderDevice() && !metalSurfaceProvider_->systemDevice()) {
        disableMetalRendererAfterRebindFailure(MetalError::deviceUnavailable);
        return;
    }
    std::optional<MetalSurface> surface = makeMetalView();
    if (!surface) {
        disableMetalRendererAfterRebindFailure(MetalError::metalKitUnavailable);
        return;
    }
    auto made = makeMetalRenderer(*surface);
    if (const MetalError* error = std::get_if<MetalError>(&made)) {
        surface->view->removeFromSuperview();
        disableMetalRendererAfterRebindFailure(*error);
        return;
    }
    auto renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(std::move(made));
    if (!renderOwner().replaceMetalRenderer(renderer, surface->target->needsExternalDrawCall())) {
        gpuLog().error("Kestrovan: kept the current GPU surface because its renderer is busy");
        surface->view->removeFromSuperview();
        releaseRenderer(renderer);
        return;
    }
    bindSurface(*surface);
    insertMetalView(*surface, &*metalView_);
    MetalSurface old = std::move(*metalView_);
    metalView_ = std::move(surface);
    std::shared_ptr<MetalTerminalRenderer> oldRenderer = std::exchange(metalRenderer_, std::move(renderer));
    renderTarget = std::make_shared<SurfaceFrameTarget>(metalView_->target);
    applyMetalScale();
    // The new surface shows a frame before the old one goes.
    drawMetalFrameNowLocked();
    metalView_->target->requestDisplay();
    unbindSurface(old);
    old.view->removeFromSuperview();
    releaseRenderer(oldRenderer);
    metalBoundWindow_ = window;
}

void MacTerminalView::metalContextChanged(bool available)
{
    if (!useMetalRenderer_ || !metalView_)
        return;
    if (available) {
        if (uiShutdownState_ == UIShutdownState::active)
            rebindGLAreaRenderer();
        return;
    }
    // The area is unrealized (a split moves it, or its window goes): its context and every object
    // made on it are about to go. The renderer goes first, deleting its objects while it can, also
    // while the view is shutting down; a busy one stays until the new context replaces it.
    if (metalRenderer_ && renderOwner().removeMetalRenderer())
        releaseRenderer(metalRenderer_);
}

void MacTerminalView::rebindGLAreaRenderer()
{
    auto made = makeMetalRenderer(*metalView_);
    if (const MetalError* error = std::get_if<MetalError>(&made)) {
        disableMetalRendererAfterRebindFailure(*error);
        return;
    }
    auto renderer = std::get<std::shared_ptr<MetalTerminalRenderer>>(std::move(made));
    if (!renderOwner().replaceMetalRenderer(renderer, metalView_->target->needsExternalDrawCall())) {
        gpuLog().error("Kestrovan: kept the current GPU surface because its renderer is busy");
        releaseRenderer(renderer);
        return;
    }
    std::shared_ptr<MetalTerminalRenderer> old = std::exchange(metalRenderer_, std::move(renderer));
    releaseRenderer(old);
    if (host())
        metalBoundWindow_ = host()->windowIdentity();
    metalView_->target->requestDisplay();
    requestRedraw();
}

void MacTerminalView::disableMetalRendererAfterRebindFailure(const MetalError& error)
{
    if (!renderOwner().removeMetalRenderer()) {
        gpuLog().error("Kestrovan: could not replace or remove the busy GPU renderer: " +
                       error.description());
        return;
    }
    gpuLog().error("Kestrovan: GPU renderer rebind failed; falling back to CPU drawing: " +
                   error.description());
    detachMetalRendererUI();
    useMetalRenderer_ = false;
}

// --- The render loop -------------------------------------------------------------------------------

bool MacTerminalView::isUsingRenderLoop() const
{
    const std::shared_ptr<RenderLoop> loop = renderLoop();
    return loop && loop->isRunning();
}

void MacTerminalView::startRenderLoopIfNeeded()
{
    // Only a surface the view draws itself gets a loop, and only while the view is in a window.
    if (!usesMetalLayerSurface_ || !metalView_ || !metalView_->target->needsExternalDrawCall())
        return;
    if (!host() || !host()->hasWindow() || uiShutdownState_ != UIShutdownState::active)
        return;
    if (isUsingRenderLoop())
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    auto loop = std::make_shared<RenderLoop>([owner = sharedRenderOwner(), weak] {
        std::optional<PreparedFrame> frame = owner->renderPublishedFrame();
        if (!frame)
            return;
        // The main thread's part of the frame, in the order a main-thread frame has it. The caret
        // stays hidden, but its place is where an input method shows its candidate window.
        platform::MainQueue::shared()->async([weak, frame = std::move(*frame)] {
            if (const std::shared_ptr<TerminalView> view = weak.lock()) {
                view->applyFrameSideEffects(frame.mainEffects);
                view->updateCursorPosition(frame.cursor, frame.cursorRowCount);
            }
        });
    });
    const std::shared_ptr<RenderLoop> previous = renderLoop();
    setRenderLoop(loop);
    if (previous)
        previous->invalidate();
    loop->start();
}

void MacTerminalView::stopRenderLoop()
{
    const std::shared_ptr<RenderLoop> loop = renderLoop();
    setRenderLoop(nullptr);
    if (loop)
        loop->invalidate();
}

void MacTerminalView::withRenderLoopSuspended(const std::function<void()>& body)
{
    if (const std::shared_ptr<RenderLoop> loop = renderLoop(); loop && loop->isRunning())
        loop->withFrameLock(body);
    else
        body();
}

// --- Drawing ---------------------------------------------------------------------------------------

void MacTerminalView::drawMetalFrameNow()
{
    if (!useMetalRenderer_ || !metalView_ || !renderOwner().hasMetalRenderer())
        return;
    withRenderLoopSuspended([this] { drawMetalFrameNowLocked(); });
}

void MacTerminalView::drawMetalFrameNowLocked()
{
    if (!metalView_)
        return;
    // The GL area has a drawable only inside its render signal, which draws the current content.
    if (!metalView_->target->needsExternalDrawCall()) {
        metalView_->target->requestDisplay();
        return;
    }
    if (!refreshSnapshotForMetal())
        return;
    renderOwner().drawAttachedRenderer();
    renderOwner().discardPreparedMetalSnapshot();
}

void MacTerminalView::drawGLAreaFrame()
{
    const std::shared_ptr<MetalTerminalRenderer> renderer = metalRenderer_;
    if (!renderer || !metalView_ || uiShutdownState_ != UIShutdownState::active)
        return;
    // The area's framebuffer is drawn afresh on every render signal: the frame before must be off
    // the GPU, so that this one is drawn rather than left as a pending redraw.
    if (renderer->acquireFrameSlot(std::chrono::seconds(1)))
        renderer->releaseFrameSlot();
    // GTK draws the area whenever it draws the window; with no frame prepared the current content
    // is drawn again.
    if (!renderOwner().metalHasPreparedSnapshot() && !refreshSnapshotForMetal())
        return;
    lastFrameDrawnTime_ = std::chrono::steady_clock::now();
    const std::shared_ptr<MetalRenderTarget> target = metalView_->target;
    renderOwner().withRenderState([&] { renderer->render(target->acquireDrawableFrame()); });
}

void MacTerminalView::visibilityChanged(bool windowVisible)
{
    // A driver that was suspended while the window could not be seen ticks by itself on return.
    const bool wasSuspended = frameDriver() && frameDriver()->isVisibilitySuspended();
    TerminalView::visibilityChanged(windowVisible);
    if (!windowVisible || wasSuspended || uiShutdownState_ != UIShutdownState::active || !host() ||
        !host()->hasWindow())
        return;
    drawFrameOnUnhide();
}

void MacTerminalView::drawFrameOnUnhide()
{
    if (!terminal())
        return;
    std::optional<FrameViewState> state = captureFrameViewState();
    if (!state)
        return;
    if (isUsingRenderLoop()) {
        renderOwner().mailbox().state.withLock(
            [&state](TerminalRenderMailbox::State& box) { box.latestViewState = std::move(*state); });
        if (const std::shared_ptr<RenderLoop> loop = renderLoop())
            loop->signal();
        return;
    }
    const FramePreparationRequest request = renderOwner().mailbox().takeRequest(std::move(*state));
    const std::optional<PreparedFrame> frame = renderOwner().prepareFrame(request);
    if (!frame)
        return;
    updateCursorPosition(frame->cursor, frame->cursorRowCount);
    submitFrameDraw(*frame);
    // The side effects follow the draw in a later turn, brought up to date first: a resize that no
    // longer matches the terminal is dropped, the blinking rows are the latest.
    std::weak_ptr<TerminalView> weak = weak_from_this();
    platform::MainQueue::shared()->async([weak, effects = frame->mainEffects]() mutable {
        const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock());
        if (!view || view->uiShutdownState_ != UIShutdownState::active || !view->terminal())
            return;
        const TerminalDimensions now = view->renderOwner().dimensions();
        if (effects.resizedTo && (effects.resizedTo->cols != now.cols || effects.resizedTo->rows != now.rows))
            effects.resizedTo.reset();
        effects.blinkRows = view->renderOwner().mailbox().state.withLock(
            [](const TerminalRenderMailbox::State& box) { return box.blinkRows; });
        view->applyFrameSideEffects(effects);
    });
}

// --- Scale -----------------------------------------------------------------------------------------

void MacTerminalView::setMetalScaleFactorOverride(std::optional<double> scale)
{
    if (scale == metalScaleFactorOverride)
        return;
    metalScaleFactorOverride = scale;
    if (!useMetalRenderer_)
        return;
    applyMetalScale();
    requestRedraw();
}

void MacTerminalView::applyMetalScale()
{
    if (!metalView_)
        return;
    const double windowScale = host() ? host()->scaleFactor() : 1.0;
    const double scale =
        std::max(metalScaleFactorOverride.value_or(windowScale > 0 ? windowScale : 1.0), 1.0);
    auto* layer = dynamic_cast<TerminalMetalLayerView*>(metalView_->target.get());
    if (layer)
        layer->setContentsScaleOverride(metalScaleFactorOverride ? std::optional<double>(scale)
                                                                 : std::nullopt);
    const platform::Size size = frameSize();
    metalView_->target->setRenderContentsScale(scale);
    metalView_->target->setRenderDrawableSize(platform::Size{size.width * scale, size.height * scale});
}

} // namespace kestrovan
