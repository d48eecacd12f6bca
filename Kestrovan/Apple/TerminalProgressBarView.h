// The progress bar a terminal view lays over its top edge while a program reports progress
// (OSC 9;4): its state, colours and motion, without the drawing.
//
// The bar shows the last report. A report with a percentage (or a paused one) draws a bar that
// wide, which grows or shrinks to a new percentage over 0.2 s; a report without one draws a
// quarter-width bar sweeping back and forth over a faint track every 1.2 s. Error reports are red,
// paused ones orange, the rest the tint (or the accent colour). The model answers, for a moment in
// time, what to draw where; the toolkit's widget draws that and asks again while `isAnimating`.
// Geometry is in the bar's own y-up points; times are seconds on any monotonic clock.
#pragma once

#include "Kestrovan/ProgressReport.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrovan {

class TerminalProgressBarView
{
public:
    /// The indeterminate bar's share of the width.
    static constexpr double barWidthRatio = 0.25;
    /// One sweep of the indeterminate bar, one way.
    static constexpr double indeterminateDuration = 1.2;
    /// One width change of a determinate bar.
    static constexpr double determinateDuration = 0.2;
    /// The track's opacity relative to the bar colour.
    static constexpr double trackAlpha = 0.3;

    static constexpr platform::NativeColor systemRed = platform::NativeColor::sRGB(1.0, 0.231, 0.188);
    static constexpr platform::NativeColor systemOrange = platform::NativeColor::sRGB(1.0, 0.584, 0.0);

    /// What to draw at one moment.
    struct Presentation
    {
        bool hidden = true;
        bool trackVisible = false;
        platform::Rect trackFrame;
        platform::NativeColor trackColor;
        platform::Rect barFrame;
        platform::NativeColor barColor;
    };

    /// A hidden bar of the given size; `accentColor` colours bars without a tint.
    explicit TerminalProgressBarView(platform::Size size = {},
                                     platform::NativeColor accentColor = platform::NativeColor::sRGB(0, 0.48,
                                                                                                     1));

    /// Shows a report (hides the bar for `remove`), animating a change of width from `now`.
    void apply(ProgressReportState state, std::optional<uint8_t> progress, double now);
    /// A new size of the bar: laid out again at once, without animation.
    void layout(platform::Size size, double now);
    void setTint(std::optional<platform::NativeColor> tint);
    void setAccentColor(platform::NativeColor accent) { accentColor_ = accent; }

    Presentation presentation(double now) const;
    /// True while a width change runs or the sweep goes on.
    bool isAnimating(double now) const;

    bool isHidden() const { return hidden_; }
    ProgressReportState state() const { return state_; }
    std::optional<uint8_t> progress() const { return progress_; }
    const std::optional<platform::NativeColor>& tint() const { return tint_; }
    platform::Size size() const { return size_; }
    /// The bar colour of the current state.
    platform::NativeColor barColor() const;
    /// The bounds the running sweep was built for; zero when none runs.
    platform::Rect animatedBounds() const { return animatedBounds_; }
    /// Width changes started and not yet finished at `now`.
    size_t runningWidthAnimations(double now) const;

private:
    struct WidthAnimation
    {
        double start = 0;
        /// Old width less the target width: added to the target and eased to 0.
        double delta = 0;
    };

    void update(bool animated, double now);
    void updateDeterminate(double percentage, bool animated, double now);
    void updateIndeterminate(double now);
    void stopSweep();

    platform::Size size_;
    platform::NativeColor accentColor_;
    std::optional<platform::NativeColor> tint_;
    ProgressReportState state_ = ProgressReportState::remove;
    std::optional<uint8_t> progress_;
    bool hidden_ = true;
    bool trackVisible_ = false;
    // The bar's model width (the animations' target) and the sweep.
    double barWidth_ = 0;
    std::vector<WidthAnimation> widthAnimations_;
    bool sweeping_ = false;
    double sweepStart_ = 0;
    platform::Rect animatedBounds_;
};

/// The ease-in-ease-out curve of a timed animation (the cubic 0.42, 0, 0.58, 1) at `t` in 0...1.
double easeInEaseOut(double t);

} // namespace kestrovan
