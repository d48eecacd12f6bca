// The fully resolved colours, fonts and settings of one frame, and the native colours they are
// made from.
//
// A `SnapshotRenderContext` is made when a snapshot is refreshed (and by the CPU draw entry when a
// snapshot has none) from the frame's view state, the snapshot's style, the native colours and the
// column count. The row builders, the caret and the renderers read only this: they never map a
// terminal colour themselves. `identity` condenses everything that decides a colour or a font
// (fonts, fallback provider, colours, palette, bright-colour switches, contrast, translucency)
// into one number, so caches can tell in one comparison whether their entries still hold; the
// selection, link highlight and blink phase do not enter it, because they are applied per cell.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"
#include "Kestrovan/Apple/SnapshotSelectionResolver.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

/// The eight colours of a frame appearance and the terminal's palette as platform colours.
struct SnapshotNativeColors
{
    platform::NativeColor effectiveForegroundColor;
    platform::NativeColor effectiveBackgroundColor;
    platform::NativeColor selectedTextBackgroundColor;
    platform::NativeColor selectedTextForegroundColor;
    platform::NativeColor caretColor;
    platform::NativeColor caretTextColor;
    std::optional<platform::NativeColor> linkColor;
    std::optional<platform::NativeColor> linkUnderlineColor;
    /// One opaque sRGB colour per palette entry; shared, as every frame with the same palette
    /// reads the same list.
    std::shared_ptr<const std::vector<platform::NativeColor>> ansiColors;

    /// The appearance's colours and the palette's colours.
    static SnapshotNativeColors make(const FrameAppearance& appearance, const std::vector<Color>& palette);
};

struct SnapshotRenderContext
{
    FrameFontSet fonts;
    platform::Size cellDimension;
    platform::Rect viewBounds;
    double renderingScale = 1;
    double imageScale = 1;
    MetalBufferingMode metalBufferingMode = MetalBufferingMode::perRowPersistent;
    bool fontSmoothing = true;
    bool antiAliasCustomBlockGlyphs = true;
    bool cursorHasFocus = true;
    platform::NativeColor effectiveForegroundColor;
    platform::NativeColor effectiveBackgroundColor;
    platform::NativeColor selectedTextBackgroundColor;
    platform::NativeColor selectedTextForegroundColor;
    platform::NativeColor caretColor;
    platform::NativeColor caretTextColor;
    std::optional<platform::NativeColor> linkColor;
    std::optional<platform::NativeColor> linkUnderlineColor;
    std::shared_ptr<const std::vector<platform::NativeColor>> ansiColors;
    SnapshotSelectionResolver selection;
    bool textBlinkVisible = true;
    std::optional<std::vector<LinkMatch::RowRange>> linkHighlightRange;
    LinkHighlightMode linkHighlightMode = LinkHighlightMode::hover;
    bool commandActive = false;
    bool customBlockGlyphs = true;
    bool enableOsc8Hyperlinks = true;
    bool useBrightColors = true;
    bool collapseBrightColorsToBase = false;
    double minimumContrastRatio = 1;
    /// Present only with translucent cell backgrounds on and a translucent default background.
    std::optional<double> translucentCellBackgroundAlpha;
    /// The selection colour as drawn over a cell: composited over the background when cell
    /// backgrounds are translucent.
    platform::NativeColor selectionFillColor;
    BidiHostPolicy bidiHostPolicy = BidiHostPolicy::respectTerminal;
    std::shared_ptr<const TerminalGlyphFallbackProvider> glyphFallbackProvider;
    int cols = 0;
    uint64_t identity = 0;

    SnapshotRenderContext() = default;
    SnapshotRenderContext(const FrameViewState& viewState, const SnapshotStyle& style,
                          const SnapshotNativeColors& nativeColors, int cols);

    /// The palette colour of an index, absent past the palette's end.
    const platform::NativeColor* paletteColor(int index) const
    {
        return ansiColors && index >= 0 && size_t(index) < ansiColors->size() ? &(*ansiColors)[size_t(index)]
                                                                              : nullptr;
    }
};

} // namespace kestrovan
