#include "Kestrovan/Apple/ColorContrast.h"

#include <cmath>
#include <gtest/gtest.h>
#include <ostream>

using kestrovan::ColorContrast;
using platform::NativeColor;
using RGB = ColorContrast::RGB;

namespace kestrovan {
void PrintTo(const ColorContrast::RGB& c, std::ostream* out)
{
    *out << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}
} // namespace kestrovan

namespace {

const RGB black{0, 0, 0};
const RGB white{1, 1, 1};

double ratio(const RGB& a, const RGB& b)
{
    return ColorContrast::contrastRatio(a, b);
}

} // namespace

TEST(ColorContrast, LuminanceAndRatio)
{
    EXPECT_DOUBLE_EQ(ColorContrast::relativeLuminance(black), 0.0);
    EXPECT_NEAR(ColorContrast::relativeLuminance(white), 1.0, 1e-12);
    EXPECT_NEAR(ColorContrast::relativeLuminance({1, 0, 0}), 0.2126, 1e-12);
    EXPECT_NEAR(ColorContrast::relativeLuminance({0.5, 0.5, 0.5}), 0.21404, 1e-5);
    EXPECT_NEAR(ColorContrast::relativeLuminance({0.04, 0.04, 0.04}), 0.04 / 12.92, 1e-12) << "linear toe";

    EXPECT_NEAR(ratio(black, white), 21.0, 1e-9);
    EXPECT_NEAR(ratio(white, black), 21.0, 1e-9) << "order does not matter";
    EXPECT_DOUBLE_EQ(ratio(white, white), 1.0);
    EXPECT_DOUBLE_EQ(ColorContrast::contrastRatio(0.0, 1.0), 21.0);
}

TEST(ColorContrast, ColoursThatAlreadyContrastStay)
{
    for (double required : {1.0, 4.5, 7.0, 21.0}) {
        EXPECT_EQ(ColorContrast::adjusted(black, required, white), black)
            << "black on white, ratio " << required;
        EXPECT_EQ(ColorContrast::adjusted(white, required, black), white)
            << "white on black, ratio " << required;
    }
    RGB grey{0.5, 0.5, 0.5};
    EXPECT_EQ(ColorContrast::adjusted(grey, 1.0, grey), grey) << "a ratio of 1 asks for nothing";
    EXPECT_EQ(ColorContrast::adjusted(grey, 0.5, grey), grey);
}

TEST(ColorContrast, MovesBySmallestFractionThatReachesTheRatio)
{
    RGB grey{0.5, 0.5, 0.5};
    RGB result = ColorContrast::adjusted(grey, 4.5, grey);
    EXPECT_GE(ratio(result, grey), 4.5);
    EXPECT_LT(result.red, 0.5) << "a colour not lighter than its background darkens first";
    EXPECT_EQ(result.red, result.green);
    EXPECT_EQ(result.red, result.blue);

    // The fraction moved toward black; one bisection step less no longer reaches the ratio.
    double fraction = (0.5 - result.red) / 0.5;
    double less = fraction - std::ldexp(1.0, -20);
    RGB shorter{0.5 - 0.5 * less, 0.5 - 0.5 * less, 0.5 - 0.5 * less};
    EXPECT_LT(ratio(shorter, grey), 4.5) << "the fraction is the smallest to within 2^-20";

    RGB lighter{0.6, 0.55, 0.5};
    RGB raised = ColorContrast::adjusted(lighter, 3.0, grey);
    EXPECT_GE(ratio(raised, grey), 3.0);
    EXPECT_GT(raised.red, lighter.red) << "a colour lighter than its background lightens first";
    EXPECT_GT(raised.blue, lighter.blue);
}

TEST(ColorContrast, TurnsAroundWhenTheFirstDirectionFallsShort)
{
    // Background luminance about 0.16: black reaches 4.2, white 5.0. A dark red on it must go
    // toward white to reach 4.5.
    RGB background{0.44, 0.44, 0.44};
    RGB darkRed{0.3, 0.1, 0.1};
    RGB result = ColorContrast::adjusted(darkRed, 4.5, background);
    EXPECT_GE(ratio(result, background), 4.5);
    EXPECT_GT(result.red, darkRed.red) << "moved toward white";

    // Neither extreme reaches 10 against mid grey: the more contrasting extreme wins.
    RGB mid{0.5, 0.5, 0.5};
    EXPECT_EQ(ColorContrast::adjusted({0.4, 0.4, 0.4}, 10, mid), black) << "black gives 5.3, white 3.9";
    EXPECT_EQ(ColorContrast::adjusted({0.6, 0.6, 0.6}, 10, mid), black) << "even after trying white first";
    RGB darkGrey{0.3, 0.3, 0.3};
    EXPECT_EQ(ColorContrast::adjusted({0.2, 0.2, 0.2}, 10, darkGrey), white) << "black gives 2.5, white 8.5";

    EXPECT_EQ(ColorContrast::nearestMix(darkRed, black, 10, mid), black)
        << "a target that falls short is returned";
}

TEST(ColorContrast, ReachesTheRatioWheneverAnExtremeDoes)
{
    const double levels[] = {0.0, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 1.0};
    const double ratios[] = {1.5, 3.0, 4.5, 7.0, 12.0, 21.0};
    for (double fg : levels)
        for (double tint : levels)
            for (double bg : levels)
                for (double required : ratios) {
                    RGB colour{fg, tint, 1.0 - fg};
                    RGB background{bg, bg * 0.8, bg};
                    RGB result = ColorContrast::adjusted(colour, required, background);
                    double best = std::max(ratio(black, background), ratio(white, background));
                    if (best >= required)
                        EXPECT_GE(ratio(result, background), required)
                            << "fg " << fg << "/" << tint << " bg " << bg << " ratio " << required;
                    else
                        EXPECT_DOUBLE_EQ(ratio(result, background), best)
                            << "unreachable: the best extreme, fg " << fg << " bg " << bg << " ratio "
                            << required;
                }
}

TEST(ColorContrast, PlatformColours)
{
    NativeColor grey = NativeColor::sRGB(0.5, 0.5, 0.5, 0.75);
    NativeColor background = NativeColor::sRGB(0.5, 0.5, 0.5);

    auto components = kestrovan::contrastComponents(grey);
    ASSERT_TRUE(components);
    EXPECT_EQ(components->rgb, (RGB{0.5, 0.5, 0.5}));
    EXPECT_EQ(components->alpha, 0.75);
    EXPECT_FALSE(kestrovan::contrastComponents(NativeColor::pattern())) << "no sRGB form";

    NativeColor adjusted = kestrovan::withContrast(grey, 4.5, background);
    EXPECT_EQ(adjusted.space, NativeColor::Space::sRGB);
    EXPECT_GE(ratio({adjusted.red, adjusted.green, adjusted.blue}, {0.5, 0.5, 0.5}), 4.5);
    EXPECT_EQ(adjusted.alpha, 0.75) << "alpha is kept";

    EXPECT_EQ(kestrovan::withContrast(grey, 1.0, background), grey) << "a ratio of 1 changes nothing";
    EXPECT_EQ(kestrovan::withContrast(grey, 0.2, background), grey);
    EXPECT_EQ(kestrovan::withContrast(grey, NAN, background), grey);
    NativeColor black = NativeColor::sRGB(0, 0, 0, 0.5);
    EXPECT_EQ(kestrovan::withContrast(black, 21, NativeColor::sRGB(1, 1, 1)), black) << "already enough";

    NativeColor pattern = NativeColor::pattern();
    EXPECT_EQ(kestrovan::withContrast(pattern, 4.5, background), pattern);
    EXPECT_EQ(kestrovan::withContrast(grey, 4.5, NativeColor::pattern()), grey)
        << "background without sRGB form";
}
