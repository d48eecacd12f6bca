#include "Kestrovan/Apple/FrameCaptureCache.h"

#include <functional>

namespace kestrovan {

FrameFontSet FrameCaptureCache::fonts(const platform::FontSet& fontSet)
{
    const platform::FontRef current[] = {fontSet.normal, fontSet.bold, fontSet.italic, fontSet.boldItalic};
    bool same = cachedFonts_.has_value() && sourceFonts_.size() == 4;
    for (size_t i = 0; same && i < 4; ++i)
        same = sourceFonts_[i] == current[i];
    if (same)
        return *cachedFonts_;
    cachedFonts_ = FrameFontSet(fontSet);
    sourceFonts_.assign(std::begin(current), std::end(current));
    return *cachedFonts_;
}

FrameAppearance FrameCaptureCache::appearance(const FrameCaptureColors& colors)
{
    // Reverse video swaps the two defaults the renderers use for text and background.
    const platform::NativeColor& foreground =
        colors.reverseColorsActive ? colors.nativeBackgroundColor : colors.nativeForegroundColor;
    const platform::NativeColor& background =
        colors.reverseColorsActive ? colors.nativeForegroundColor : colors.nativeBackgroundColor;
    const platform::NativeColor sources[] = {foreground,
                                             background,
                                             colors.selectedTextBackgroundColor,
                                             colors.selectedTextForegroundColor,
                                             colors.caretColor,
                                             colors.caretTextColor};
    const size_t signature = std::hash<std::string>()(colors.appearanceName);

    bool same = cachedAppearance_.has_value() && signature == appearanceSignature_ &&
                sourceColors_.size() == std::size(sources) && sourceLinkColor_ == colors.linkColor &&
                sourceLinkUnderlineColor_ == colors.linkUnderlineColor;
    for (size_t i = 0; same && i < std::size(sources); ++i)
        same = sourceColors_[i] == sources[i];
    if (same)
        return *cachedAppearance_;

    FrameAppearance made;
    made.effectiveForegroundColor = FrameColor::from(sources[0]);
    made.effectiveBackgroundColor = FrameColor::from(sources[1]);
    made.selectedTextBackgroundColor = FrameColor::from(sources[2]);
    made.selectedTextForegroundColor = FrameColor::from(sources[3]);
    made.caretColor = FrameColor::from(sources[4]);
    made.caretTextColor = FrameColor::from(sources[5]);
    if (colors.linkColor)
        made.linkColor = FrameColor::from(*colors.linkColor);
    if (colors.linkUnderlineColor)
        made.linkUnderlineColor = FrameColor::from(*colors.linkUnderlineColor);
    cachedAppearance_ = made;
    sourceColors_.assign(std::begin(sources), std::end(sources));
    sourceLinkColor_ = colors.linkColor;
    sourceLinkUnderlineColor_ = colors.linkUnderlineColor;
    appearanceSignature_ = signature;
    return made;
}

} // namespace kestrovan
