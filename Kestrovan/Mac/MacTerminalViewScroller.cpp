// The scroller: the host's scrollbar along the view's right edge, in one of two styles that follow
// the desktop's setting. In the overlay style it lies over the text, hidden until the view scrolls
// or the user presses it, then shown and, 1.5 seconds after the last such moment, faded out over a
// quarter second (at once when the user wants less motion); while the user presses it no fade is
// scheduled, the release schedules it, and a state with nothing to scroll hides it at once; the
// text keeps the whole width. In the legacy style it stays shown beside the text, which gives up
// its width; switching styles resizes the grid once. A click in the track pages, the knob scrolls.
#include "Kestrovan/Mac/MacTerminalView.h"

#include <algorithm>
#include <cstdio>

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
    bar->onAction = [weak](platform::ScrollerPart part, double position) {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (auto* mac = static_cast<MacTerminalView*>(view.get()))
            mac->scrollerActivated(part, position);
    };
    applyScrollerStyleToBar();
}

void MacTerminalView::applyScrollerStyleToBar()
{
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    if (!bar)
        return;
    layoutScroller();
    // Overlay: invisible until the view scrolls. Legacy: always there, drawn by the toolkit.
    const bool legacy = scrollerStyle_ == ScrollerStyle::legacy;
    bar->setOpacity(legacy ? 1 : 0);
    bar->setHidden(!legacy);
}

void MacTerminalView::setScrollerStyle(ScrollerStyle style)
{
    scrollerStyleChosenByHost_ = true;
    applyScrollerStyle(style);
}

void MacTerminalView::applyScrollerStyle(ScrollerStyle style)
{
    if (style == scrollerStyle_)
        return;
    scrollerStyle_ = style;
    applyScrollerStyleToBar();
    stopOverlayScrollerTimers();
    ++overlayScrollerFadeGeneration_;
    refitGridToScroller();
}

void MacTerminalView::refitGridToScroller()
{
    // The text gains or loses the scroller's width: the grid is fitted to it at once.
    const platform::Size size = frameSize();
    if (cellDimension() && size.width > 0 && size.height > 0 && terminal())
        processSizeChange(size);
}

double MacTerminalView::reservedScrollerWidth() const
{
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    if (scrollerStyle_ != ScrollerStyle::legacy || !bar || bar->isHidden())
        return 0;
    return std::max(0.0, bar->preferredWidth());
}

double MacTerminalView::getEffectiveWidth(platform::Size size) const
{
    return std::max(TerminalView::getEffectiveWidth(size) - reservedScrollerWidth(), 0.0);
}

void MacTerminalView::appearanceChanged(const platform::Appearance& appearance)
{
    TerminalView::appearanceChanged(appearance);
    if (!scrollerStyleChosenByHost_)
        applyScrollerStyle(appearance.overlayScrolling ? ScrollerStyle::overlay : ScrollerStyle::legacy);
}

void MacTerminalView::scrollerActivated(platform::ScrollerPart part, double doubleValue)
{
    using platform::ScrollerPart;
    const std::shared_ptr<platform::Scroller>& bar = scroller();
    switch (part) {
    case ScrollerPart::knob:
        scroll(doubleValue);
        return;
    case ScrollerPart::decrementPage:
    case ScrollerPart::incrementPage: {
        part == ScrollerPart::decrementPage ? pageUp() : pageDown();
        // The knob shows where the page went, not where the click was.
        if (bar) {
            platform::ScrollerState state = bar->state();
            state.doubleValue = scrollPosition();
            bar->setState(state);
        }
        return;
    }
    case ScrollerPart::noPart:
        std::printf("Scroller .noPart clicked\n");
        break;
    case ScrollerPart::decrementLine:
        std::printf("Scroller .decrementLine clicked\n");
        break;
    case ScrollerPart::incrementLine:
        std::printf("Scroller .incrementLine clicked\n");
        break;
    case ScrollerPart::knobSlot:
        std::printf("Scroller .knobSlot clicked\n");
        break;
    }
    std::fflush(stdout);
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
    if (!bar || scrollerStyle_ != ScrollerStyle::overlay || !bar->state().isEnabled ||
        uiShutdownState() != UIShutdownState::active)
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
    // The legacy scroller never hides.
    if (!bar || scrollerStyle_ != ScrollerStyle::overlay)
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
    if (!state.isEnabled && scrollerStyle_ == ScrollerStyle::overlay)
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
