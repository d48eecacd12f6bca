// The window's appearance: light or dark, and the system colours of text views in it.
//
// These are the colours a terminal view starts from before the user or a program sets its own:
// text and its background, the selection's accent (the caret's default colour) and the colour of
// secondary labels (the overlay scroller's knob). The toolkit adapter reads them from the theme;
// `fallbackAppearance` gives fixed values where a theme names none. With them come the user's wish
// for less motion (animations switched off), which makes fades immediate, and the desktop's style
// of scrollbars: overlaid on the content and shown while scrolling, or permanent beside it.
#pragma once

#include "Platform/Graphics/NativeColor.h"

namespace platform {

struct Appearance
{
    bool isDark = false;
    NativeColor textColor = NativeColor::sRGB(0, 0, 0);
    NativeColor textBackgroundColor = NativeColor::sRGB(1, 1, 1);
    NativeColor selectedControlColor = NativeColor::sRGB(0.7, 0.84, 1.0);
    NativeColor labelColor = NativeColor::sRGB(0, 0, 0, 0.85);
    bool reduceMotion = false;
    /// Scrollbars overlay the content and show only while it scrolls; false: they stay, beside it.
    bool overlayScrolling = true;

    friend bool operator==(const Appearance&, const Appearance&) = default;
};

/// Fixed colours for a light or dark appearance: black on white, or light grey on near black.
inline Appearance fallbackAppearance(bool dark)
{
    if (!dark)
        return Appearance{};
    Appearance appearance;
    appearance.isDark = true;
    appearance.textColor = NativeColor::sRGB(0.92, 0.92, 0.92);
    appearance.textBackgroundColor = NativeColor::sRGB(0.12, 0.12, 0.12);
    appearance.selectedControlColor = NativeColor::sRGB(0.25, 0.42, 0.68);
    appearance.labelColor = NativeColor::sRGB(1, 1, 1, 0.85);
    return appearance;
}

} // namespace platform
