#include "Kestrovan/Apple/ColorContrast.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

constexpr ColorContrast::RGB black{0, 0, 0};
constexpr ColorContrast::RGB white{1, 1, 1};

// Enough halvings that the fraction found is within 2^-20 of the smallest one that works, far
// below what an 8-bit or even 16-bit channel can show.
constexpr int bisectionSteps = 20;

double linearise(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

ColorContrast::RGB mix(const ColorContrast::RGB& from, const ColorContrast::RGB& to, double fraction)
{
    return {from.red + (to.red - from.red) * fraction, from.green + (to.green - from.green) * fraction,
            from.blue + (to.blue - from.blue) * fraction};
}

} // namespace

double ColorContrast::relativeLuminance(const RGB& color)
{
    return 0.2126 * linearise(color.red) + 0.7152 * linearise(color.green) + 0.0722 * linearise(color.blue);
}

double ColorContrast::contrastRatio(double luminance1, double luminance2)
{
    double lighter = std::max(luminance1, luminance2);
    double darker = std::min(luminance1, luminance2);
    return (lighter + 0.05) / (darker + 0.05);
}

double ColorContrast::contrastRatio(const RGB& color1, const RGB& color2)
{
    return contrastRatio(relativeLuminance(color1), relativeLuminance(color2));
}

ColorContrast::RGB ColorContrast::nearestMix(const RGB& color, const RGB& target, double ratio,
                                             const RGB& background)
{
    if (contrastRatio(target, background) < ratio)
        return target;
    // Invariant: the mix at `high` reaches the ratio (true at 1, the target itself), so the result
    // always does, even where the contrast does not grow steadily along the way.
    double low = 0;
    double high = 1;
    for (int step = 0; step < bisectionSteps; ++step) {
        double middle = (low + high) / 2;
        if (contrastRatio(mix(color, target, middle), background) < ratio)
            low = middle;
        else
            high = middle;
    }
    return mix(color, target, high);
}

ColorContrast::RGB ColorContrast::adjusted(const RGB& color, double ratio, const RGB& background)
{
    double colorLuminance = relativeLuminance(color);
    double backgroundLuminance = relativeLuminance(background);
    if (contrastRatio(colorLuminance, backgroundLuminance) >= ratio)
        return color;

    // Moving away from the background's luminance is the short way; it fails only when the
    // background is close to that extreme itself.
    const RGB& firstTarget = colorLuminance <= backgroundLuminance ? black : white;
    const RGB& secondTarget = colorLuminance <= backgroundLuminance ? white : black;
    RGB first = nearestMix(color, firstTarget, ratio, background);
    double firstRatio = contrastRatio(first, background);
    if (firstRatio >= ratio)
        return first;
    RGB second = nearestMix(color, secondTarget, ratio, background);
    return contrastRatio(second, background) > firstRatio ? second : first;
}

std::optional<ContrastComponents> contrastComponents(const platform::NativeColor& color)
{
    std::optional<platform::NativeColor> srgb = color.usingSRGB();
    if (!srgb)
        return std::nullopt;
    return ContrastComponents{{srgb->red, srgb->green, srgb->blue}, srgb->alpha};
}

platform::NativeColor withContrast(const platform::NativeColor& color, double ratio,
                                   const platform::NativeColor& background)
{
    // Written so that a NaN ratio also leaves the colour alone.
    if (!(ratio > 1.0))
        return color;
    std::optional<ContrastComponents> own = contrastComponents(color);
    std::optional<ContrastComponents> against = contrastComponents(background);
    if (!own || !against)
        return color;
    ColorContrast::RGB adjustedRGB = ColorContrast::adjusted(own->rgb, ratio, against->rgb);
    if (adjustedRGB == own->rgb)
        return color;
    return platform::NativeColor::sRGB(adjustedRGB.red, adjustedRGB.green, adjustedRGB.blue, own->alpha);
}

} // namespace kestrovan
