// The bell policy's rate rule and style names, and the progress bar's states, colours and motion.
#include "Kestrovan/Apple/BellPolicy.h"
#include "Kestrovan/Apple/BellStyle.h"
#include "Kestrovan/Apple/TerminalProgressBarView.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

constexpr uint64_t ms = 1'000'000;

TEST(BellPolicyTests, AtMostOneBellPer100MillisecondsFromTheLastDeliveredOne)
{
    BellPolicy policy;
    const uint64_t start = 5'000 * ms;
    EXPECT_TRUE(policy.shouldDeliver(start)) << "the first bell passes";
    EXPECT_FALSE(policy.shouldDeliver(start + 60 * ms));
    EXPECT_TRUE(policy.shouldDeliver(start + 120 * ms)) << "measured from the delivered bell";
    EXPECT_FALSE(policy.shouldDeliver(start + 120 * ms + 99'999'999));
    EXPECT_TRUE(policy.shouldDeliver(start + 120 * ms + 100'000'000)) << "exactly 100 ms passes";
    EXPECT_EQ(policy.state().suppressedCount, 2);

    // A steady stream 50 ms apart delivers every second bell.
    int delivered = 0;
    for (int i = 1; i <= 10; ++i)
        delivered += policy.shouldDeliver(start + 220 * ms + uint64_t(i) * 50 * ms);
    EXPECT_EQ(delivered, 5);

    policy.setStyle(BellStyle::visual);
    EXPECT_TRUE(policy.shouldDeliver(start + 721 * ms)) << "a change of style forgets the last delivery";
    policy.setStyle(BellStyle::none);
    const int64_t suppressed = policy.state().suppressedCount;
    EXPECT_FALSE(policy.shouldDeliver(start + 10'000 * ms));
    EXPECT_FALSE(policy.shouldDeliver(start + 20'000 * ms));
    EXPECT_EQ(policy.state().suppressedCount, suppressed + 2) << "with none every bell is counted";
}

TEST(BellPolicyTests, StyleNames)
{
    for (BellStyle style : allBellStyles)
        EXPECT_EQ(bellStyleFromTagName(tagName(style)), style);
    EXPECT_EQ(bellStyleFromTagName("Sound"), std::nullopt) << "matched exactly";
    EXPECT_EQ(bellStyleFromTagName("soundAndVisual"), BellStyle::soundAndVisual);
    EXPECT_EQ(displayName(BellStyle::soundAndVisual), "Sound and Visual");
    EXPECT_TRUE(playsSound(BellStyle::soundAndVisual) && flashesView(BellStyle::soundAndVisual));
    EXPECT_FALSE(playsSound(BellStyle::visual) || flashesView(BellStyle::sound));
}

TEST(TerminalProgressBarTests, StatesColoursAndTheirMotion)
{
    const platform::NativeColor accent = platform::NativeColor::sRGB(0.1, 0.2, 0.3);
    TerminalProgressBarView bar(platform::Size{200, 3}, accent);
    EXPECT_TRUE(bar.presentation(0).hidden);

    // 40 % then 60 %: the width eases from 80 to 120 points over 0.2 s.
    bar.apply(ProgressReportState::set, 40, 10.0);
    bar.apply(ProgressReportState::set, 60, 20.0);
    EXPECT_DOUBLE_EQ(bar.presentation(20.0).barFrame.width, 80);
    EXPECT_NEAR(bar.presentation(20.1).barFrame.width, 100, 1e-6) << "half way at half time (symmetric ease)";
    EXPECT_DOUBLE_EQ(bar.presentation(20.2).barFrame.width, 120);
    EXPECT_FALSE(bar.isAnimating(20.3));
    EXPECT_FALSE(bar.presentation(20.2).trackVisible);
    EXPECT_EQ(bar.presentation(20.2).barColor, accent);
    // A layout jumps to the new size without an animation of its own.
    bar.layout(platform::Size{100, 3}, 30.0);
    EXPECT_DOUBLE_EQ(bar.presentation(30.0).barFrame.width, 60);

    bar.setTint(platform::NativeColor::sRGB(0, 1, 0));
    EXPECT_EQ(bar.barColor(), platform::NativeColor::sRGB(0, 1, 0));
    bar.apply(ProgressReportState::error, 10, 31.0);
    EXPECT_EQ(bar.barColor(), TerminalProgressBarView::systemRed);
    bar.apply(ProgressReportState::pause, std::nullopt, 32.0);
    EXPECT_EQ(bar.barColor(), TerminalProgressBarView::systemOrange);
    EXPECT_DOUBLE_EQ(bar.presentation(33.0).barFrame.width, 100) << "a pause without a percentage is full";

    // Indeterminate: a quarter-width bar sweeps back and forth over a faint track.
    bar.apply(ProgressReportState::indeterminate, std::nullopt, 40.0);
    const TerminalProgressBarView::Presentation start = bar.presentation(40.0);
    EXPECT_TRUE(start.trackVisible);
    EXPECT_DOUBLE_EQ(start.trackColor.alpha, 0.3);
    EXPECT_DOUBLE_EQ(start.barFrame.width, 25);
    EXPECT_DOUBLE_EQ(start.barFrame.x, 0);
    EXPECT_NEAR(bar.presentation(40.6).barFrame.x, 37.5, 1e-6);
    EXPECT_NEAR(bar.presentation(41.2).barFrame.x, 75, 1e-6) << "the far end after one sweep";
    EXPECT_NEAR(bar.presentation(42.4).barFrame.x, 0, 1e-6) << "and back";
    bar.apply(ProgressReportState::indeterminate, std::nullopt, 41.0);
    EXPECT_NEAR(bar.presentation(41.2).barFrame.x, 75, 1e-6) << "the same size keeps the running sweep";
    bar.layout(platform::Size{300, 3}, 50.0);
    EXPECT_DOUBLE_EQ(bar.presentation(50.0).barFrame.x, 0) << "a new size restarts the sweep";
    EXPECT_EQ(bar.animatedBounds(), (platform::Rect{0, 0, 300, 3}));

    bar.layout(platform::Size{0, 3}, 60.0);
    EXPECT_FALSE(bar.isAnimating(61.0)) << "no width, no sweep";
    bar.apply(ProgressReportState::remove, std::nullopt, 62.0);
    EXPECT_TRUE(bar.presentation(62.0).hidden);
    EXPECT_EQ(bar.animatedBounds(), platform::Rect{});
}

TEST(TerminalProgressBarTests, EaseInEaseOut)
{
    EXPECT_EQ(easeInEaseOut(0), 0);
    EXPECT_EQ(easeInEaseOut(1), 1);
    EXPECT_NEAR(easeInEaseOut(0.5), 0.5, 1e-9);
    EXPECT_LT(easeInEaseOut(0.1), 0.1) << "slow start";
    EXPECT_GT(easeInEaseOut(0.9), 0.9) << "slow end";
    double previous = 0;
    for (int i = 1; i <= 100; ++i) {
        const double value = easeInEaseOut(i / 100.0);
        EXPECT_GE(value, previous);
        previous = value;
    }
}

} // namespace
} // namespace kestrovan
