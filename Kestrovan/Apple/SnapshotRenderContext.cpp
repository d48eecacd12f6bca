#include "Kestrovan/Apple/SnapshotRenderContext.h"

#include "Kestrovan/Apple/ColorBlending.h"
#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Apple/FrameHasher.h"

namespace kestrovan {

SnapshotNativeColors SnapshotNativeColors::make(const FrameAppearance& appearance,
                                                const std::vector<Color>& palette)
{
    SnapshotNativeColors colors;
    colors.effectiveForegroundColor = appearance.effectiveForegroundColor.nativeColor();
    colors.effectiveBackgroundColor = appearance.effectiveBackgroundColor.nativeColor();
    colors.selectedTextBackgroundColor = appearance.selectedTextBackgroundColor.nativeColor();
    colors.selectedTextForegroundColor = appearance.selectedTextForegroundColor.nativeColor();
    colors.caretColor = appearance.caretColor.nativeColor();
    colors.caretTextColor = appearance.caretTextColor.nativeColor();
    if (appearance.linkColor)
        colors.linkColor = appearance.linkColor->nativeColor();
    if (appearance.linkUnderlineColor)
        colors.linkUnderlineColor = appearance.linkUnderlineColor->nativeColor();
    auto ansi = std::make_shared<std::vector<platform::NativeColor>>();
    ansi->reserve(palette.size());
    for (const Color& color : palette)
        ansi->push_back(makeNativeColor(color));
    colors.ansiColors = std::move(ansi);
    return colors;
}

SnapshotRenderContext::SnapshotRenderContext(const FrameViewState& viewState, const SnapshotStyle& style,
                                             const SnapshotNativeColors& nativeColors, int columns)
    : fonts(viewState.fonts), cellDimension(viewState.cellDimension), viewBounds(viewState.viewBounds),
      renderingScale(viewState.renderingScale), imageScale(viewState.imageScale),
      metalBufferingMode(viewState.metalBufferingMode), fontSmoothing(viewState.fontSmoothing),
      antiAliasCustomBlockGlyphs(viewState.antiAliasCustomBlockGlyphs),
      cursorHasFocus(viewState.cursorHasFocus),
      effectiveForegroundColor(nativeColors.effectiveForegroundColor),
      effectiveBackgroundColor(nativeColors.effectiveBackgroundColor),
      selectedTextBackgroundColor(nativeColors.selectedTextBackgroundColor),
      selectedTextForegroundColor(nativeColors.selectedTextForegroundColor),
      caretColor(nativeColors.caretColor), caretTextColor(nativeColors.caretTextColor),
      linkColor(nativeColors.linkColor), linkUnderlineColor(nativeColors.linkUnderlineColor),
      ansiColors(nativeColors.ansiColors), selection{style, columns},
      textBlinkVisible(style.textBlinkVisible), linkHighlightRange(style.linkHighlightRange),
      linkHighlightMode(style.linkHighlightMode), commandActive(style.commandActive),
      customBlockGlyphs(viewState.customBlockGlyphs), enableOsc8Hyperlinks(style.enableOsc8Hyperlinks),
      useBrightColors(viewState.useBrightColors),
      collapseBrightColorsToBase(viewState.collapseBrightColorsToBase),
      minimumContrastRatio(viewState.minimumContrastRatio), bidiHostPolicy(viewState.bidiHostPolicy),
      glyphFallbackProvider(viewState.glyphFallbackProvider), cols(columns)
{
    // Translucent cell backgrounds keep the default background's alpha; the selection is then
    // drawn composited over that background so that it does not show what lies behind the view.
    const std::optional<platform::NativeColor> background = effectiveBackgroundColor.usingSRGB();
    const double alpha = background ? background->alpha : 1.0;
    if (viewState.translucentCellBackgrounds && alpha < 1) {
        translucentCellBackgroundAlpha = alpha;
        selectionFillColor = compositedColor(selectedTextBackgroundColor, effectiveBackgroundColor);
    } else {
        selectionFillColor = selectedTextBackgroundColor;
    }

    FrameHasher hasher;
    // Fonts by value: a font made again from the same face and size keeps the identity.
    for (const platform::FontRef* font :
         {&fonts.normal(), &fonts.bold(), &fonts.italic(), &fonts.boldItalic()})
        hasher.feed(uint64_t(*font ? (*font)->valueHash() : 0));
    hasher.feed(glyphFallbackProvider ? glyphFallbackProvider->cacheIdentity() : uint64_t(0));
    for (const platform::NativeColor* color :
         {&effectiveForegroundColor, &effectiveBackgroundColor, &selectedTextBackgroundColor,
          &selectedTextForegroundColor, &caretColor, &caretTextColor})
        hasher.feed(*color);
    hasher.feed(linkColor);
    hasher.feed(linkUnderlineColor);
    if (ansiColors) {
        for (const platform::NativeColor& color : *ansiColors)
            hasher.feed(color);
    }
    hasher.feedByte(useBrightColors ? 1 : 0);
    hasher.feedByte(collapseBrightColorsToBase ? 1 : 0);
    hasher.feed(minimumContrastRatio);
    if (translucentCellBackgroundAlpha) {
        hasher.feedByte(1);
        hasher.feed(*translucentCellBackgroundAlpha);
    } else {
        hasher.feedByte(0);
    }
    identity = hasher.finish();
}

} // namespace kestrovan
