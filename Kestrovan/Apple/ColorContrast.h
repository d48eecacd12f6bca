// Minimum-contrast adjustment of text colours, by the WCAG 2 definitions.
//
// A view may ask that text keep at least a given contrast ratio against its background.
// `ColorContrast` computes relative luminance and contrast ratios and moves a foreground colour
// toward black or white just far enough to reach the ratio; `withContrast` applies that to
// platform colours. Everything here is a pure function, safe from any thread.
#pragma once

#include "Platform/Graphics/NativeColor.h"

#include <optional>

namespace kestrovan {

struct ColorContrast
{
    ColorContrast() = delete;

    /// A colour as sRGB-encoded components, each 0-1.
    struct RGB
    {
        double red = 0;
        double green = 0;
        double blue = 0;

        friend bool operator==(const RGB&, const RGB&) = default;
    };

    /// The WCAG relative luminance: 0 for black, 1 for white.
    static double relativeLuminance(const RGB& color);

    /// The contrast ratio of two luminances, (lighter + 0.05) / (darker + 0.05): from 1 to 21.
    static double contrastRatio(double luminance1, double luminance2);
    /// The contrast ratio of two colours.
    static double contrastRatio(const RGB& color1, const RGB& color2);

    /// `color` moved toward black or white by the smallest fraction that reaches `ratio` against
    /// `background`: first away from the background's luminance, then the other way. When neither
    /// reaches it, the more contrasting of pure black and pure white. Unchanged when it already
    /// reaches the ratio.
    static RGB adjusted(const RGB& color, double ratio, const RGB& background);

    /// The mix of `color` toward `target` with the smallest fraction (found by bisection, to within
    /// 2^-20) that reaches `ratio` against `background`; `target` itself when even it falls short.
    static RGB nearestMix(const RGB& color, const RGB& target, double ratio, const RGB& background);
};

/// A platform colour's sRGB components and alpha, as the contrast functions use them.
struct ContrastComponents
{
    ColorContrast::RGB rgb;
    double alpha = 1;
};

/// The colour's sRGB components and alpha, or nothing when it has no sRGB form.
std::optional<ContrastComponents> contrastComponents(const platform::NativeColor& color);

/// The colour adjusted to a contrast of at least `ratio` against `background`, keeping its alpha.
/// The colour itself when `ratio` is not above 1, when either colour has no sRGB form, or when
/// it already reaches the ratio.
platform::NativeColor withContrast(const platform::NativeColor& color, double ratio,
                                   const platform::NativeColor& background);

} // namespace kestrovan
