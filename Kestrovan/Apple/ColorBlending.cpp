#include "Kestrovan/Apple/ColorBlending.h"

#include <optional>

namespace kestrovan {

platform::NativeColor dimmedColor(const platform::NativeColor& color, const platform::NativeColor& target)
{
    const std::optional<platform::NativeColor> a = color.usingSRGB();
    const std::optional<platform::NativeColor> b = target.usingSRGB();
    if (!a || !b)
        return color;
    return platform::NativeColor::sRGB((a->red + b->red) / 2, (a->green + b->green) / 2,
                                       (a->blue + b->blue) / 2, a->alpha);
}

platform::NativeColor compositedColor(const platform::NativeColor& top, const platform::NativeColor& bottom)
{
    const std::optional<platform::NativeColor> t = top.usingSRGB();
    const std::optional<platform::NativeColor> b = bottom.usingSRGB();
    if (!t || !b || t->alpha >= 1)
        return top;
    const double a = t->alpha;
    const double out = a + (1 - a) * b->alpha;
    if (!(out > 0))
        return top;
    const auto channel = [&](double over, double under) {
        return (over * a + under * (1 - a) * b->alpha) / out;
    };
    return platform::NativeColor::sRGB(channel(t->red, b->red), channel(t->green, b->green),
                                       channel(t->blue, b->blue), out);
}

} // namespace kestrovan
