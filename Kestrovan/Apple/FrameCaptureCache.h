// The main-thread cache that lets a frame tick reuse the previous frame's fonts and colours.
//
// Capturing a `FrameFontSet` and a `FrameAppearance` converts fonts and colours; a steady view
// asks for the same ones every tick, so the cache keeps the last sources and results and answers
// with a handful of comparisons while nothing changed. Fonts are compared as objects (the view
// replaces its font objects when its font changes); colours as values, since platform colours
// are values here. One cache per view, used on the main thread only.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrovan {

/// The view's colours a frame's appearance is made from, as the view holds them.
struct FrameCaptureColors
{
    platform::NativeColor nativeForegroundColor;
    platform::NativeColor nativeBackgroundColor;
    platform::NativeColor selectedTextBackgroundColor;
    platform::NativeColor selectedTextForegroundColor;
    /// The effective caret and caret-text colours, as the view works them out.
    platform::NativeColor caretColor;
    platform::NativeColor caretTextColor;
    std::optional<platform::NativeColor> linkColor;
    std::optional<platform::NativeColor> linkUnderlineColor;
    /// The terminal's reverse-video mode, from the view's cross-thread state.
    bool reverseColorsActive = false;
    /// The name of the view's effective appearance (light or dark); a change alone rebuilds.
    std::string appearanceName;
};

class FrameCaptureCache
{
public:
    /// The frame font set of the view's fonts, reused while the four font objects are the same.
    FrameFontSet fonts(const platform::FontSet& fontSet);
    /// The frame appearance of the view's colours, reused while the six colours, the link colours
    /// and the appearance name are unchanged.
    FrameAppearance appearance(const FrameCaptureColors& colors);

private:
    std::vector<platform::FontRef> sourceFonts_;
    std::optional<FrameFontSet> cachedFonts_;
    std::vector<platform::NativeColor> sourceColors_;
    std::optional<platform::NativeColor> sourceLinkColor_;
    std::optional<platform::NativeColor> sourceLinkUnderlineColor_;
    size_t appearanceSignature_ = 0;
    std::optional<FrameAppearance> cachedAppearance_;
};

} // namespace kestrovan
