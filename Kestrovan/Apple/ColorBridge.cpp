#include "Kestrovan/Apple/ColorBridge.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

/// One component as a 16-bit channel. A NaN component (possible in a platform colour built from
/// bad arithmetic) counts as 0 so that the conversion keeps its promise never to fail.
uint16_t channelFromComponent(double component)
{
    if (std::isnan(component))
        return 0;
    return static_cast<uint16_t>(std::clamp(component, 0.0, 1.0) * 65535.0);
}

} // namespace

Color getTerminalColor(const platform::NativeColor& color)
{
    std::optional<platform::NativeColor> srgb = color.usingSRGB();
    if (!srgb)
        return Color(terminalColorFallbackChannel, terminalColorFallbackChannel,
                     terminalColorFallbackChannel);
    return Color(channelFromComponent(srgb->red), channelFromComponent(srgb->green),
                 channelFromComponent(srgb->blue));
}

platform::NativeColor makeNativeColor(const Color& color)
{
    return platform::NativeColor::sRGB(color.red() / 65535.0, color.green() / 65535.0, color.blue() / 65535.0,
                                       1.0);
}

Color colorFromNativeColor(const platform::NativeColor& color)
{
    return getTerminalColor(color);
}

platform::NativeColor nativeColor(const Color& color)
{
    return makeNativeColor(color);
}

} // namespace kestrovan
