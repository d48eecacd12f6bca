#include "Kestrovan/Apple/FrameValues.h"

#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Apple/FrameHasher.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

/// A component clamped into 0...1; NaN counts as 0 so that a broken colour still gives a value.
double clampedComponent(double component)
{
    return std::isnan(component) ? 0.0 : std::clamp(component, 0.0, 1.0);
}

} // namespace

FrameColor FrameColor::from(const platform::NativeColor& color)
{
    FrameColor result;
    if (const std::optional<platform::NativeColor> srgb = color.usingSRGB()) {
        result = FrameColor{srgb->red, srgb->green, srgb->blue, srgb->alpha};
    } else {
        // A paint without one sRGB value is captured from its terminal colour, opaque.
        const Color terminal = getTerminalColor(color);
        result =
            FrameColor{terminal.red() / 65535.0, terminal.green() / 65535.0, terminal.blue() / 65535.0, 1.0};
    }
    result.red = clampedComponent(result.red);
    result.green = clampedComponent(result.green);
    result.blue = clampedComponent(result.blue);
    result.alpha = clampedComponent(result.alpha);
    return result;
}

size_t FrameColor::hash() const
{
    FrameHasher hasher;
    hasher.feed(red);
    hasher.feed(green);
    hasher.feed(blue);
    hasher.feed(alpha);
    return static_cast<size_t>(hasher.finish());
}

FrameFontSet::FrameFontSet(const platform::FontSet& fonts)
    : FrameFontSet(fonts.normal, fonts.bold, fonts.italic, fonts.boldItalic)
{}

FrameFontSet::FrameFontSet(platform::FontRef normal, platform::FontRef bold, platform::FontRef italic,
                           platform::FontRef boldItalic)
    : normalReference{std::move(normal)}, boldReference{std::move(bold)}, italicReference{std::move(italic)},
      boldItalicReference{std::move(boldItalic)}
{}

const platform::FontRef& FrameFontSet::font(int index) const
{
    switch (index) {
    case 1:
        return bold();
    case 2:
        return italic();
    case 3:
        return boldItalic();
    default:
        return normal();
    }
}

bool FrameFontSet::contains(const platform::Font& font) const
{
    for (const platform::FontRef* candidate : {&normal(), &bold(), &italic(), &boldItalic()}) {
        if (*candidate && (*candidate)->isSameFont(font))
            return true;
    }
    return false;
}

int terminalDevicePixelIndex(double pointOffset, double scale, int pixelCount)
{
    if (!std::isfinite(pointOffset) || !std::isfinite(scale) || pixelCount < 2)
        return 0;
    const double pixel = std::floor(pointOffset * scale);
    if (!(pixel > 0))
        return 0;
    if (pixel >= double(pixelCount))
        return pixelCount - 1;
    return static_cast<int>(pixel);
}

LockedVoidCallback& terminalFramePresentedHandler()
{
    // Made on first use and never destroyed, so a renderer finishing during exit still finds it.
    static LockedVoidCallback* handler = new LockedVoidCallback();
    return *handler;
}

} // namespace kestrovan
