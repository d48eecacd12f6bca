#include "Kestrovan/Apple/TerminalProgressBarView.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

double easeInEaseOut(double t)
{
    if (!(t > 0))
        return 0;
    if (t >= 1)
        return 1;
    // The curve is a cubic Bézier from (0,0) to (1,1) with control points (0.42,0) and (0.58,1);
    // x(s) is solved for s by bisection (x is monotonic), then y(s) is the eased value.
    constexpr double x1 = 0.42, x2 = 0.58;
    const auto bezier = [](double a, double b, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * a + 3 * u * s * s * b + s * s * s;
    };
    double low = 0, high = 1, s = t;
    for (int step = 0; step < 40; ++step) {
        s = (low + high) / 2;
        if (bezier(x1, x2, s) < t)
            low = s;
        else
            high = s;
    }
    return bezier(0, 1, s);
}

TerminalProgressBarView::TerminalProgressBarView(platform::Size size, platform::NativeColor accentColor)
    : size_(size), accentColor_(accentColor)
{}

platform::NativeColor TerminalProgressBarView::barColor() const
{
    if (state_ == ProgressReportState::error)
        return systemRed;
    if (state_ == ProgressReportState::pause)
        return systemOrange;
    return tint_.value_or(accentColor_);
}

void TerminalProgressBarView::setTint(std::optional<platform::NativeColor> tint)
{
    // Colours are read afresh by every presentation, so storing is all a new tint needs.
    tint_ = tint;
}

void TerminalProgressBarView::apply(ProgressReportState state, std::optional<uint8_t> progress, double now)
{
    // A removed bar forgets its motion, so the next report starts from a still bar.
    state_ = state;
    progress_ = progress;
    hidden_ = state == ProgressReportState::remove;
    if (hidden_) {
        stopSweep();
        widthAnimations_.clear();
        return;
    }
    update(true, now);
}

void TerminalProgressBarView::layout(platform::Size size, double now)
{
    size_ = size;
    update(false, now);
}

void TerminalProgressBarView::stopSweep()
{
    sweeping_ = false;
    animatedBounds_ = platform::Rect{};
}

void TerminalProgressBarView::update(bool animated, double now)
{
    if (hidden_)
        return;
    // A report without a percentage sweeps, except a pause, which shows a full bar.
    if (!progress_ && state_ != ProgressReportState::pause) {
        updateIndeterminate(now);
        return;
    }
    updateDeterminate(progress_ ? double(*progress_) : 100.0, animated, now);
}

void TerminalProgressBarView::updateDeterminate(double percentage, bool animated, double now)
{
    const double oldWidth = barWidth_;
    trackVisible_ = false;
    stopSweep();
    const double target = size_.width * percentage / 100.0;
    barWidth_ = target;
    std::erase_if(widthAnimations_, [now](const WidthAnimation& animation) {
        return now - animation.start >= determinateDuration;
    });
    // Each change is additive and eases its own difference to zero, so quick reports blend. A
    // layout pass moves the bar without an animation of its own.
    if (animated && oldWidth != target)
        widthAnimations_.push_back(WidthAnimation{now, oldWidth - target});
}

void TerminalProgressBarView::updateIndeterminate(double now)
{
    trackVisible_ = true;
    widthAnimations_.clear();
    barWidth_ = size_.width * barWidthRatio;
    if (!(barWidth_ > 0) || barWidth_ >= size_.width) {
        // Too narrow to sweep: the bar rests at the left edge.
        stopSweep();
        return;
    }
    const platform::Rect bounds{0, 0, size_.width, size_.height};
    // A sweep built for these bounds keeps running; new bounds restart it for the new width.
    if (sweeping_ && animatedBounds_ == bounds)
        return;
    sweeping_ = true;
    sweepStart_ = now;
    animatedBounds_ = bounds;
}

TerminalProgressBarView::Presentation TerminalProgressBarView::presentation(double now) const
{
    Presentation shown;
    shown.hidden = hidden_;
    if (hidden_)
        return shown;
    shown.barColor = barColor();
    shown.trackColor = shown.barColor;
    shown.trackColor.alpha = shown.barColor.alpha * trackAlpha;
    shown.trackVisible = trackVisible_;
    shown.trackFrame = platform::Rect{0, 0, size_.width, size_.height};
    double x = 0;
    double width = barWidth_;
    if (sweeping_) {
        // Autoreversing: out in one duration, back in the next, for ever.
        const double travel = size_.width - barWidth_;
        const double cycle = std::fmod(std::max(now - sweepStart_, 0.0), 2 * indeterminateDuration);
        const double phase =
            cycle < indeterminateDuration ? cycle / indeterminateDuration : 2 - cycle / indeterminateDuration;
        x = travel * easeInEaseOut(phase);
    } else {
        for (const WidthAnimation& animation : widthAnimations_) {
            const double elapsed = now - animation.start;
            if (elapsed < determinateDuration)
                width += animation.delta * (1 - easeInEaseOut(elapsed / determinateDuration));
        }
    }
    shown.barFrame = platform::Rect{x, 0, std::max(width, 0.0), size_.height};
    return shown;
}

bool TerminalProgressBarView::isAnimating(double now) const
{
    return !hidden_ && (sweeping_ || runningWidthAnimations(now) > 0);
}

size_t TerminalProgressBarView::runningWidthAnimations(double now) const
{
    if (hidden_ || sweeping_)
        return 0;
    return static_cast<size_t>(std::count_if(
        widthAnimations_.begin(), widthAnimations_.end(),
        [now](const WidthAnimation& animation) { return now - animation.start < determinateDuration; }));
}

} // namespace kestrovan
