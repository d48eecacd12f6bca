// Turns a cell colour (palette index, true colour, default, default inverted) into a platform
// colour the way the view shows it: bold as bright, the collapse of the bright colours onto the
// base eight, reverse video for the default colours, a palette filled lazily slot by slot, and a
// bounded cache of true colours.
//
// The view keeps one mapper. Its caches are not locked themselves: every call is serialised by the
// terminal's lock, which `mapColor` requires the caller to hold (the palette it reads is the
// terminal's). Only the sixteen bright colours collapse: indexes 16-255 name colours of their own
// (the cube and the greys), and lowering them by 8 would turn a pink into a green.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Platform/Graphics/NativeColor.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace kestrovan {

class Terminal;

class ViewColorMapper
{
public:
    /// The most true colours kept; the cache is emptied whole when it is full.
    static constexpr size_t trueColorCacheCapacity = 4096;

    /// The palette index a cell shows for `index`: with bright colours on, bold 0-6 become their
    /// bright twins 8-14 (7 stays, it is already the brightest of the base); with them off and
    /// collapse on, the bright colours 8-15 become 0-7. Everything else is unchanged.
    static uint8_t paletteIndex(uint8_t index, bool isBold, bool useBrightColors,
                                bool collapseBrightColorsToBase);

    /// The default foreground and background. They must be set before a default colour is mapped.
    void setNativeColors(const platform::NativeColor& foreground, const platform::NativeColor& background);
    void setCollapseBrightColorsToBase(bool collapse) { collapseBrightColorsToBase_ = collapse; }
    bool collapseBrightColorsToBase() const { return collapseBrightColorsToBase_; }
    /// Reverse video (DECSCNM): the default colours trade places.
    void setReverseColorsActive(bool active) { reverseColorsActive_ = active; }

    /// Empties both caches, after the palette or the default colours change.
    void resetCaches();
    /// Drops one palette entry, after a program changed that entry alone (OSC 4).
    void resetPaletteColor(uint8_t index) { colors_[index].reset(); }
    /// True when palette entry `index` is cached.
    bool hasCachedPaletteColor(uint8_t index) const { return colors_[index].has_value(); }

    /// The colour of `color` as a foreground (`isFg`) or background. `isBold` and
    /// `useBrightColors` matter only for palette colours. The calling thread must hold the
    /// terminal's lock, and the default colours must have been set; either missing stops the
    /// program.
    platform::NativeColor mapColor(const Terminal& terminal, Attribute::Color color, bool isFg, bool isBold,
                                   bool useBrightColors);

    /// How many true colours are cached.
    size_t cachedTrueColorCount() const { return trueColors_.size(); }

private:
    /// The default colour of a role, swapped while reverse video is on.
    const platform::NativeColor& defaultColor(bool foreground) const;

    std::array<std::optional<platform::NativeColor>, 256> colors_;
    std::unordered_map<uint32_t, platform::NativeColor> trueColors_;
    std::optional<platform::NativeColor> nativeFg_;
    std::optional<platform::NativeColor> nativeBg_;
    bool collapseBrightColorsToBase_ = false;
    bool reverseColorsActive_ = false;
};

} // namespace kestrovan
