// The overlay scroller: the host's scrollbar along the view's right edge, over the text. It is
// hidden until the view scrolls or the user presses it, then shown and, 1.5 seconds after the last
// such moment, faded out over a quarter second (at once when the user wants less motion). While the
// user presses it no fade is scheduled; the release schedules it. A state with nothing to scroll
// hides it at once. The text keeps the whole width, as the scroller only overlays it.
#include "Kestrovan/Mac/MacTerminalView.h"

#include <algorithm>

namespace kestrovan {

namespace {

using Duration = platform::MainThreadTimers::Clock::duration;

Duration secondsDuration(double seconds)
{
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

} // namespace

void MacTerminalView::setupScroller()
{
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    if (!bar)
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    bar->onTrackingChanged = [weak](bool tracking) {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (auto* mac = static_cast<MacTerminalView*>(view.get())) {
            mac->overlayScrollerIsTracking_ = tracking;
            mac->showOverlayScroller();
        }
    };
    layoutScroller();
    bar->setOpacity(0);
    bar->setHidden(true);
}

void MacTerminalView::layoutScroller()
{
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    if (!bar)
        return;
    const platform::Size size = frameSize();
    const double width = std::max(0.0, bar->preferredWidth());
    bar->setFrame(platform::Rect{std::max(0.0, size.width - width), 0, width, size.height});
}

void MacTerminalView::showOverlayScroller()
{
    TerminalView::showOverlayScroller();
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    if (!bar || !bar->state().isEnabled || uiShutdownState() != UIShutdownState::active)
        return;
    stopOverlayScrollerTimers();
    ++overlayScrollerFadeGeneration_;
    bar->setHidden(false);
    bar->setOpacity(1);
    bar->setNeedsDisplay();
    if (overlayScrollerIsTracking_)
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    overlayScrollerHideTimer_ = timers().schedule(secondsDuration(overlayScrollerHideDelay), false, [weak] {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (auto* mac = static_cast<MacTerminalView*>(view.get()))
            mac->hideOverlayScroller(true);
    });
}

void MacTerminalView::hideOverlayScroller(bool animated)
{
    stopOverlayScrollerTimers();
    const uint64_t generation = ++overlayScrollerFadeGeneration_;
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    if (!bar)
        return;
    if (animated && !appearance().reduceMotion && !bar->isHidden()) {
        overlayScrollerFadeStart_ = timers().now();
        std::weak_ptr<TerminalView> weak = weak_from_this();
        overlayScrollerFadeTimer_ = timers().schedule(secondsDuration(1.0 / 60), true, [weak, generation] {
            const std::shared_ptr<TerminalView> view = weak.lock();
            if (auto* mac = static_cast<MacTerminalView*>(view.get()))
                mac->stepOverlayScrollerFade(generation);
        });
        return;
    }
    bar->setOpacity(0);
    bar->setHidden(true);
}

void MacTerminalView::stepOverlayScrollerFade(uint64_t generation)
{
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    // A show since the fade began owns the scroller now.
    if (!bar || generation != overlayScrollerFadeGeneration_) {
        if (overlayScrollerFadeTimer_)
            overlayScrollerFadeTimer_->invalidate();
        return;
    }
    const double elapsed = std::chrono::duration<double>(timers().now() - overlayScrollerFadeStart_).count();
    const double progress = elapsed / overlayScrollerFadeDuration;
    if (progress < 1) {
        bar->setOpacity(1 - progress);
        return;
    }
    overlayScrollerFadeTimer_->invalidate();
    bar->setOpacity(0);
    bar->setHidden(true);
}

void MacTerminalView::applyScrollerState(const ScrollerState& state)
{
    TerminalView::applyScrollerState(state);
    if (!state.isEnabled)
        hideOverlayScroller(false);
}

void MacTerminalView::stopOverlayScrollerTimers()
{
    if (overlayScrollerHideTimer_)
        overlayScrollerHideTimer_->invalidate();
    if (overlayScrollerFadeTimer_)
        overlayScrollerFadeTimer_->invalidate();
    overlayScrollerHideTimer_.reset();
    overlayScrollerFadeTimer_.reset();
}

} // namespace kestrovan
