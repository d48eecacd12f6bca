// The plain values that carry a view's fonts, colours and render settings to whichever thread
// prepares and draws a frame: `FrameColor`, `FrameFontSet`, `FrameAppearance`, `FrameViewState`,
// and the small shared pieces beside them (the view's cross-thread cache record, the link
// reporting kinds, the device-pixel index function and the process-wide frame-presented hook).
//
// Everything here is an immutable value once made, so a frame captured on the main thread can be
// read on the render thread without a lock. Fonts are the text layer's immutable fonts, shared by
// pointer; colours are sRGB components.
#pragma once

#include "Kestrovan/Apple/SnapshotStyle.h"
#include "Kestrovan/Apple/TerminalGlyphFallbackProvider.h"
#include "Kestrovan/BidiPresentationState.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/LockedVoidCallback.h"
#include "Platform/Graphics/Geometry.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/Text/Font.h"
#include "Platform/Text/FontSet.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kestrovan {

/// One sRGB colour, each component in 0...1.
struct FrameColor
{
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    /// The colour's sRGB components clamped into 0...1; a colour with no sRGB form is taken from
    /// its terminal colour (16-bit channels) with alpha 1.
    static FrameColor from(const platform::NativeColor& color);
    /// The colour as a platform colour.
    platform::NativeColor nativeColor() const { return platform::NativeColor::sRGB(red, green, blue, alpha); }

    /// Feeds the four components, +0 and -0 alike.
    size_t hash() const;

    friend bool operator==(const FrameColor&, const FrameColor&) = default;
};

/// A font that never changes after capture. The text layer's fonts are immutable already, so the
/// reference is the shared font itself, not a private copy.
struct ImmutableFontReference
{
    platform::FontRef storage;

    friend bool operator==(const ImmutableFontReference&, const ImmutableFontReference&) = default;
};

/// The four terminal fonts of a frame.
struct FrameFontSet
{
    ImmutableFontReference normalReference;
    ImmutableFontReference boldReference;
    ImmutableFontReference italicReference;
    ImmutableFontReference boldItalicReference;

    FrameFontSet() = default;
    /// The four fonts of a view's font set.
    explicit FrameFontSet(const platform::FontSet& fonts);
    FrameFontSet(platform::FontRef normal, platform::FontRef bold, platform::FontRef italic,
                 platform::FontRef boldItalic);

    const platform::FontRef& normal() const { return normalReference.storage; }
    const platform::FontRef& bold() const { return boldReference.storage; }
    const platform::FontRef& italic() const { return italicReference.storage; }
    const platform::FontRef& boldItalic() const { return boldItalicReference.storage; }
    /// The font of an index of the plain path: 1 bold, 2 italic, 3 bold italic, else normal.
    const platform::FontRef& font(int index) const;

    /// True when `font` is the same face and size as one of the four (normal, bold, italic and
    /// bold italic, in that order).
    bool contains(const platform::Font& font) const;

    friend bool operator==(const FrameFontSet&, const FrameFontSet&) = default;
};

/// The eight resolved colours of a view.
struct FrameAppearance
{
    FrameColor effectiveForegroundColor;
    FrameColor effectiveBackgroundColor;
    FrameColor selectedTextBackgroundColor;
    FrameColor selectedTextForegroundColor;
    FrameColor caretColor;
    FrameColor caretTextColor;
    std::optional<FrameColor> linkColor;
    std::optional<FrameColor> linkUnderlineColor;

    friend bool operator==(const FrameAppearance&, const FrameAppearance&) = default;
};

/// How the GPU renderer keeps its vertex buffers.
enum class MetalBufferingMode : uint8_t
{
    perRowPersistent,
    perFrameAggregated,
};

/// The view's render settings as captured on the main thread for one frame.
struct FrameViewState
{
    std::optional<std::vector<LinkMatch::RowRange>> linkHighlightRange;
    LinkHighlightMode linkHighlightMode = LinkHighlightMode::hover;
    bool commandActive = false;
    /// The phase of blinking text: true while it is shown.
    bool textBlinkVisible = true;
    /// The host wants to be told of changed row ranges.
    bool notifyUpdateChanges = false;
    FrameFontSet fonts;
    /// One cell in points.
    platform::Size cellDimension;
    platform::Rect viewBounds;
    double viewFrameHeight = 0;
    /// The GPU rendering scale, never below 1.
    double renderingScale = 1;
    /// The cell in device pixels, each at least 1.
    int cellPixelWidth = 1;
    int cellPixelHeight = 1;
    /// The window's backing scale, 1 without a window.
    double imageScale = 1;
    MetalBufferingMode metalBufferingMode = MetalBufferingMode::perRowPersistent;
    bool fontSmoothing = true;
    bool antiAliasCustomBlockGlyphs = true;
    bool cursorHasFocus = true;
    FrameAppearance appearance;
    bool customBlockGlyphs = true;
    bool useBrightColors = true;
    bool collapseBrightColorsToBase = false;
    double minimumContrastRatio = 1;
    bool translucentCellBackgrounds = false;
    BidiHostPolicy bidiHostPolicy = BidiHostPolicy::respectTerminal;
    /// The host's glyph fallback provider; the state keeps it alive.
    std::shared_ptr<const TerminalGlyphFallbackProvider> glyphFallbackProvider;
};

/// The part of a view's state that threads other than the main thread read, kept by the view
/// behind a lock.
struct TerminalViewCrossThreadState
{
    /// The terminal's reverse-video mode as last seen.
    bool reverseColorsActive = false;
    std::optional<platform::Size> cachedCellPointSize;
    std::optional<double> cachedImageScale;
    /// The cell in device pixels (width, height).
    std::optional<std::pair<int, int>> cachedCellPixelSize;
    /// The native foreground and background as terminal colours.
    std::optional<std::pair<Color, Color>> cachedNativeColors;
    bool scrolledDirty = false;
};

/// Which links a hover reports.
enum class LinkReporting : uint8_t
{
    none,
    explicit_,
    implicit,
};

/// The device pixel a point offset falls in, clamped into 0 ..< `pixelCount`: 0 for a
/// non-finite offset or scale, for fewer than two pixels and for offsets at or before the origin.
int terminalDevicePixelIndex(double pointOffset, double scale, int pixelCount);

/// The process-wide hook called after a frame has been drawn, by any renderer of any view. Empty
/// until a host sets it; for hosts and diagnostics that count or await presented frames.
LockedVoidCallback& terminalFramePresentedHandler();

} // namespace kestrovan
