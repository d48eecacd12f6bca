#include "Kestrovan/Apple/ColorBridge.h"

#include <cmath>
#include <gtest/gtest.h>

using kestrovan::Color;
using platform::NativeColor;

TEST(ColorBridge, PlatformColourToTerminalColour)
{
    EXPECT_EQ(kestrovan::getTerminalColor(NativeColor::sRGB(1, 0, 0.5)), Color(0xffff, 0, 0x7fff))
        << "components times 65535, truncated";
    EXPECT_EQ(kestrovan::getTerminalColor(NativeColor::sRGB(-0.25, 1.75, 0.999999)), Color(0, 0xffff, 0xfffe))
        << "extended-range components clamp to 0...1 before scaling";
    EXPECT_EQ(kestrovan::getTerminalColor(NativeColor::sRGB(0.2, 0.4, 0.6, 0.1)),
              kestrovan::getTerminalColor(NativeColor::sRGB(0.2, 0.4, 0.6, 1.0)))
        << "alpha is dropped";

    Color grey(0x8a3d, 0x8a3d, 0x8a3d);
    EXPECT_EQ(kestrovan::getTerminalColor(NativeColor::pattern()), grey)
        << "no sRGB form gives the fixed grey";
    EXPECT_EQ(kestrovan::colorFromNativeColor(NativeColor::pattern()), grey);

    EXPECT_EQ(kestrovan::getTerminalColor(NativeColor::sRGB(NAN, 0.5, 1)), Color(0, 0x7fff, 0xffff))
        << "a NaN component reads as 0 instead of failing";
    EXPECT_EQ(kestrovan::colorFromNativeColor(NativeColor::sRGB(0, 1, 0)), Color(0, 0xffff, 0));
}

TEST(ColorBridge, TerminalColourToPlatformColour)
{
    NativeColor made = kestrovan::makeNativeColor(Color(0xffff, 0, 0x8080));
    EXPECT_EQ(made.space, NativeColor::Space::sRGB);
    EXPECT_DOUBLE_EQ(made.red, 1.0);
    EXPECT_DOUBLE_EQ(made.green, 0.0);
    EXPECT_DOUBLE_EQ(made.blue, 0x8080 / 65535.0);
    EXPECT_DOUBLE_EQ(made.alpha, 1.0) << "always opaque";
    EXPECT_EQ(kestrovan::nativeColor(Color(1, 2, 3)), kestrovan::makeNativeColor(Color(1, 2, 3)));

    // Every channel value survives the trip to the platform and back.
    for (uint32_t v = 0; v <= 0xffff; ++v) {
        Color c(static_cast<uint16_t>(v), static_cast<uint16_t>(0xffff - v),
                static_cast<uint16_t>(v ^ 0x5a5a));
        ASSERT_EQ(kestrovan::colorFromNativeColor(kestrovan::nativeColor(c)), c) << "channel value " << v;
    }
}
