// ViewColorMapper: palette, true and default colours to platform colours, with their caches.
#include "Kestrovan/Apple/ViewColorMapper.h"

#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Fatal.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

uint8_t ViewColorMapper::paletteIndex(uint8_t index, bool isBold, bool useBrightColors,
                                      bool collapseBrightColorsToBase)
{
    if (useBrightColors)
        return isBold && index < 7 ? uint8_t(index + 8) : index;
    // Only the bright colours have a base twin eight below; 16-255 are the cube and the greys.
    if (collapseBrightColorsToBase && index >= 8 && index <= 15)
        return uint8_t(index - 8);
    return index;
}

void ViewColorMapper::setNativeColors(const platform::NativeColor& foreground,
                                      const platform::NativeColor& background)
{
    nativeFg_ = foreground;
    nativeBg_ = background;
}

void ViewColorMapper::resetCaches()
{
    colors_.fill(std::nullopt);
    trueColors_.clear();
}

const platform::NativeColor& ViewColorMapper::defaultColor(bool foreground) const
{
    KESTROVAN_ASSERT(nativeFg_ && nativeBg_, "ViewColorMapper: the default colours are not set up");
    return foreground != reverseColorsActive_ ? *nativeFg_ : *nativeBg_;
}

platform::NativeColor ViewColorMapper::mapColor(const Terminal& terminal, Attribute::Color color, bool isFg,
                                                bool isBold, bool useBrightColors)
{
    // The caches are shared by everything that maps colours for this view; the terminal lock
    // is what keeps two threads from filling them at once.
    terminal.terminalLock().preconditionLocked();
    switch (color.kind()) {
    case Attribute::Color::Kind::ansi256: {
        const uint8_t index =
            paletteIndex(color.code(), isBold, useBrightColors, collapseBrightColorsToBase_);
        std::optional<platform::NativeColor>& slot = colors_[index];
        if (!slot) {
            const std::optional<Color> entry = terminal.paletteColor(index);
            // A palette shorter than 256 entries leaves the role's default colour, uncached.
            if (!entry)
                return defaultColor(isFg);
            slot = makeNativeColor(*entry);
        }
        return *slot;
    }
    case Attribute::Color::Kind::trueColor: {
        const uint32_t key = uint32_t(color.red()) << 16 | uint32_t(color.green()) << 8 | color.blue();
        if (auto found = trueColors_.find(key); found != trueColors_.end())
            return found->second;
        if (trueColors_.size() >= trueColorCacheCapacity)
            trueColors_.clear();
        const platform::NativeColor made = platform::NativeColor::sRGB(
            color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0, 1.0);
        trueColors_.emplace(key, made);
        return made;
    }
    case Attribute::Color::Kind::defaultColor:
        return defaultColor(isFg);
    case Attribute::Color::Kind::defaultInvertedColor: {
        // The other role's default, made opaque: a translucent background used as text colour
        // would show what is behind the glyphs.
        platform::NativeColor inverted = defaultColor(!isFg);
        inverted.alpha = 1.0;
        return inverted;
    }
    }
    return defaultColor(isFg);
}

} // namespace kestrovan
