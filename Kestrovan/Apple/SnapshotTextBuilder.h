// Turns one row of a frame snapshot into what a renderer draws, with every colour, font,
// underline, selection, link, blink, concealment and fallback-glyph decision made.
//
// Two outputs: `buildAttributedString` gives segments of attributed text plus the cells a renderer
// paints itself (box drawing, block elements, Powerline, kitty placeholders); `plainRow` is the
// fast path for rows of printable ASCII in single cells, one byte per column and runs of resolved
// styles, with no text objects at all. Both resolve colours by the same rules from the frame's
// `SnapshotRenderContext`; the builder never touches the terminal and needs no lock.
//
// The builder keeps caches (attributes by packed attribute key, glyph coverage, the provider's
// fallback font, plain-path dim and contrast results) that are valid for one context identity
// and are emptied when it changes; bounded caches are emptied whole at their limit. One thread at
// a time uses a builder: the view's on the main thread, each GPU renderer's on its render thread.
//
// The work lives in three files: SnapshotTextBuilder.cpp (the attributed row walk),
// SnapshotTextBuilderColors.cpp (colour mapping, run attributes, glyph fallback) and
// SnapshotTextBuilderPlain.cpp (the plain path).
#pragma once

#include "Kestrovan/Apple/GlyphFallbackResolver.h"
#include "Kestrovan/Apple/SnapshotRenderContext.h"
#include "Kestrovan/Apple/SnapshotTextAttributes.h"
#include "Kestrovan/Apple/TerminalSnapshotRow.h"
#include "Kestrovan/Apple/ViewLineInfo.h"
#include "Kestrovan/PackedCell.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

/// The colour of a terminal colour in a frame, uncached: palette entries with bold brightening
/// (indexes 0-6 become 8-14 when bold and bright colours are on) or collapse (indexes 8-15 become
/// 0-7 when bright colours are off and collapse is on; 16-255 never change), true colours as sRGB,
/// and the two default colours by role.
platform::NativeColor mapColor(Attribute::Color color, bool isFg, bool isBold,
                               const SnapshotRenderContext& context);

/// The caret's text attributes for a cell: `foreground` and `background` (swapped for inverse),
/// the style's font, underline and strikethrough; no dim, contrast, link or explicit background.
SnapshotTextAttributes attributedValue(const Attribute& attribute, const platform::NativeColor& foreground,
                                       const platform::NativeColor& background,
                                       const SnapshotRenderContext& context);

/// True when a cell's text is not drawn: concealed (SGR 8), or blinking in the hidden phase.
inline bool isHiddenText(CharacterStyle style, bool textBlinkVisible)
{
    return style.contains(CharacterStyle::invisible) ||
           (!textBlinkVisible && style.contains(CharacterStyle::blink));
}

class SnapshotTextBuilder
{
public:
    /// The most entries the coverage, dim and contrast caches hold before they are emptied.
    static constexpr size_t boundedCacheLimit = 1024;

    /// `trueColorCacheCapacity` must be at least 1 (else the program stops). True colours are
    /// plain values here, cheaper to make than to look up, so it only bounds nothing and is kept
    /// for the callers' contract.
    explicit SnapshotTextBuilder(int trueColorCacheCapacity = 4096);

    SnapshotTextBuilder(const SnapshotTextBuilder&) = delete;
    SnapshotTextBuilder& operator=(const SnapshotTextBuilder&) = delete;

    /// The row as attributed segments and custom-drawn items.
    ViewLineInfo buildAttributedString(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                       const SnapshotRenderContext& context);

    /// The row as bytes and styled runs, or absent when it is not plain: it has a bidi layout, a
    /// wide cell, a cluster, or a scalar outside 0x20...0x7E.
    std::optional<PlainRow> plainRow(const TerminalSnapshotRow& row, int64_t absoluteRow,
                                     const SnapshotRenderContext& context);

    /// The run attributes of a cell attribute, with or without a link, for the context.
    SnapshotTextAttributes buildAttributes(const Attribute& attribute, bool withUrl,
                                           const SnapshotRenderContext& context) const;

    /// The plain path's style of a cell attribute.
    PlainRunStyle plainStyle(const Attribute& attribute, bool withUrl, const SnapshotRenderContext& context);

    /// Whether two plain styles draw alike (fonts compared by face, colours by value).
    bool sameAttributes(const PlainRunStyle& a, const PlainRunStyle& b,
                        const SnapshotRenderContext& context) const;
    bool sameColor(const PlainColor& a, const PlainColor& b, const SnapshotRenderContext& context) const;
    /// A plain colour as a platform colour.
    platform::NativeColor platformColor(const PlainColor& color, const SnapshotRenderContext& context) const;
    /// `color` dimmed toward `target`, through the dim cache.
    platform::NativeColor dimmedColor(const PlainColor& color, const PlainColor& target,
                                      const SnapshotRenderContext& context);
    /// `color` adjusted to the context's minimum contrast against `background`, through the
    /// contrast cache; the colour itself (an `rgb` staying `rgb`) when it needs no change.
    PlainColor contrastedColor(const PlainColor& color, const PlainColor& background,
                               const SnapshotRenderContext& context);

    /// The fallback font and placement for a character in `styleFont`, or absent.
    std::optional<GlyphFallbackSelection> resolveGlyphFallback(const Character& character,
                                                               const platform::FontRef& styleFont,
                                                               const SnapshotRenderContext& context);
    /// The font that draws an isolated complex cell set in `base`: `base` or a fallback face.
    static platform::FontRef resolvedFont(const Character& character, const platform::FontRef& base);

    /// Empties the context-bound caches when the context's identity is not the one they were
    /// filled for.
    void prepareAttributeCache(const SnapshotRenderContext& context);
    /// Also empties the caches found by style id when `arena` encodes ids under another identity
    /// than the one they were filled under: the terminal gives the ids of looks no cell shows any
    /// more to new looks when its style table fills.
    void prepareAttributeCache(const SnapshotRenderContext& context, const CellArena& arena);

    /// Cache sizes, for tests.
    struct CacheSizes
    {
        size_t attributes = 0;
        size_t plainStyles = 0;
        size_t glyphCoverage = 0;
        size_t dimmed = 0;
        size_t contrasted = 0;
    };
    CacheSizes cacheSizes() const;

private:
    struct AttributeCacheKey
    {
        PackedAttributeKey attribute;
        bool withUrl = false;
        friend bool operator==(const AttributeCacheKey&, const AttributeCacheKey&) = default;
    };
    struct AttributeCacheKeyHash
    {
        size_t operator()(const AttributeCacheKey& key) const
        {
            return (size_t(key.attribute.rawValue) << 1) | (key.withUrl ? 1 : 0);
        }
    };
    struct ColorPairKey
    {
        PlainColor foreground;
        PlainColor background;
        friend bool operator==(const ColorPairKey&, const ColorPairKey&) = default;
    };
    struct ColorPairKeyHash
    {
        size_t operator()(const ColorPairKey& key) const;
    };
    struct CoverageKey
    {
        uint8_t styleIndex = 0;
        uint32_t scalar = 0;
        friend bool operator==(const CoverageKey&, const CoverageKey&) = default;
    };
    struct CoverageKeyHash
    {
        size_t operator()(const CoverageKey& key) const { return (size_t(key.scalar) << 2) ^ key.styleIndex; }
    };

    /// The cached run attributes of a key, built on a miss.
    const SnapshotTextAttributesRef& cellAttributes(PackedAttributeKey key, const Attribute& attribute,
                                                    bool withUrl, const SnapshotRenderContext& context);
    /// The default-inverted pair of the plain path for the context.
    void preparePlainInvertedColors(const SnapshotRenderContext& context);
    /// A terminal colour of a cell as a plain colour.
    PlainColor plainColor(Attribute::Color color, bool isFg, bool isBold,
                          const SnapshotRenderContext& context) const;

    uint64_t plainInvertedColorsContextID_ = UINT64_MAX;
    platform::NativeColor plainInvertedForeground_;
    platform::NativeColor plainInvertedBackground_;
    std::unordered_map<ColorPairKey, platform::NativeColor, ColorPairKeyHash> dimmedColors_;
    std::unordered_map<ColorPairKey, PlainColor, ColorPairKeyHash> contrastedColors_;
    double contrastRatio_ = 1.0;
    std::unordered_map<AttributeCacheKey, SnapshotTextAttributesRef, AttributeCacheKeyHash>
        packedAttributeCache_;
    // The plain path's styles by the same key: a style depends only on the attribute, the link
    // state and the context, so within one context identity it is worked out once.
    std::unordered_map<AttributeCacheKey, PlainRunStyle, AttributeCacheKeyHash> plainStyleCache_;
    uint64_t attributeCacheContextID_ = UINT64_MAX;
    uint64_t attributeCacheArenaID_ = UINT64_MAX;
    std::unordered_map<CoverageKey, bool, CoverageKeyHash> glyphCoverageCache_;
    /// The provider's fallback font: not asked yet, or asked with its answer (possibly none).
    std::optional<GlyphFallbackFontRef> cachedGlyphFallbackFont_;

    // Scratch of the row walk, kept between rows so that a row reuses their storage.
    std::u16string pendingText_;
    std::vector<int> pendingLengths_;
};

} // namespace kestrovan
