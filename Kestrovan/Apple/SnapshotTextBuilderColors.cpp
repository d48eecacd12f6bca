// Colour mapping, run attributes and glyph fallback of the row builder.
#include "Kestrovan/Apple/ColorBlending.h"
#include "Kestrovan/Apple/ColorContrast.h"
#include "Kestrovan/Apple/FrameHasher.h"
#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Fatal.h"
#include "Platform/Text/FontFallback.h"

namespace kestrovan {

namespace {

/// The colour made fully opaque.
platform::NativeColor opaque(platform::NativeColor color)
{
    color.alpha = 1.0;
    return color;
}

bool isPaletteOrTrueColor(Attribute::Color color)
{
    return color.isAnsi256() || color.isTrueColor();
}

} // namespace

// --- Colour mapping ------------------------------------------------------------------------------

platform::NativeColor mapColor(Attribute::Color color, bool isFg, bool isBold,
                               const SnapshotRenderContext& context)
{
    switch (color.kind()) {
    case Attribute::Color::Kind::ansi256: {
        int index = color.code();
        if (context.useBrightColors) {
            // Bold brightens the seven base colours; white (7) stays as it is.
            if (isBold && index <= 6)
                index += 8;
        } else if (context.collapseBrightColorsToBase && index >= 8 && index <= 15) {
            // Only the eight bright colours have a base colour to collapse onto: the cube and
            // grey ramp (16-255) are colours of their own and are drawn as they are.
            index -= 8;
        }
        if (const platform::NativeColor* entry = context.paletteColor(index))
            return *entry;
        return isFg ? context.effectiveForegroundColor : context.effectiveBackgroundColor;
    }
    case Attribute::Color::Kind::trueColor:
        return platform::NativeColor::sRGB(color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0,
                                           1.0);
    case Attribute::Color::Kind::defaultColor:
        return isFg ? context.effectiveForegroundColor : context.effectiveBackgroundColor;
    case Attribute::Color::Kind::defaultInvertedColor:
        return opaque(isFg ? context.effectiveBackgroundColor : context.effectiveForegroundColor);
    }
    return context.effectiveForegroundColor;
}

namespace {

/// The colours and font choice shared by both paths: inverse swapped, bold decided, the font index
/// picked (with the collapse rule's bold font).
struct ResolvedStyle
{
    Attribute::Color fg;
    Attribute::Color bg;
    bool isBold = false;
    int fontIndex = 0;
};

ResolvedStyle resolveStyle(const Attribute& attribute, const SnapshotRenderContext& context)
{
    ResolvedStyle resolved{attribute.fg, attribute.bg};
    if (attribute.style.contains(CharacterStyle::inverse)) {
        resolved.bg =
            isPaletteOrTrueColor(attribute.fg) ? attribute.fg : Attribute::Color::defaultInvertedColor();
        resolved.fg =
            isPaletteOrTrueColor(attribute.bg) ? attribute.bg : Attribute::Color::defaultInvertedColor();
    }
    resolved.isBold = attribute.style.contains(CharacterStyle::bold);
    bool boldFont = resolved.isBold;
    // A collapsed bright colour keeps its brightness as weight: drawn in its base colour with the
    // bold font. Only the bright colours 8-15 collapse, so only they get the bold font.
    if (resolved.fg.isAnsi256() && resolved.fg.code() >= 8 && resolved.fg.code() <= 15 &&
        !context.useBrightColors && !resolved.isBold && context.collapseBrightColorsToBase)
        boldFont = true;
    const bool italic = attribute.style.contains(CharacterStyle::italic);
    resolved.fontIndex = (boldFont ? 1 : 0) + (italic ? 2 : 0);
    return resolved;
}

} // namespace

// --- Run attributes --------------------------------------------------------------------------------

SnapshotTextAttributes SnapshotTextBuilder::buildAttributes(const Attribute& attribute, bool withUrl,
                                                            const SnapshotRenderContext& context) const
{
    const ResolvedStyle resolved = resolveStyle(attribute, context);
    platform::NativeColor foreground = mapColor(resolved.fg, true, resolved.isBold, context);
    const platform::NativeColor background = mapColor(resolved.bg, false, false, context);
    if (attribute.style.contains(CharacterStyle::dim))
        foreground = kestrovan::dimmedColor(foreground, background);
    // After dimming, so that a dim link shows the plain link colour.
    if (withUrl && context.linkColor)
        foreground = *context.linkColor;
    const platform::NativeColor contrasted =
        withContrast(foreground, context.minimumContrastRatio, background);

    SnapshotTextAttributes attributes;
    attributes.font = context.fonts.font(resolved.fontIndex);
    attributes.foregroundColor = contrasted;
    attributes.backgroundColor = background;
    // Default and default-inverted backgrounds are the view's own and never become translucent.
    if (context.translucentCellBackgroundAlpha && isPaletteOrTrueColor(resolved.bg))
        attributes.backgroundColor.alpha = *context.translucentCellBackgroundAlpha;
    attributes.shapeColor = foreground;
    attributes.explicitBackground = !resolved.bg.isDefault();
    if (attribute.style.contains(CharacterStyle::underline)) {
        attributes.underlineColor = attribute.underlineColor
                                        ? mapColor(*attribute.underlineColor, true, resolved.isBold, context)
                                        : contrasted;
        attributes.underlineStyle = underlineStyleNumber(attribute.underlineStyle);
        attributes.kestrovanUnderlineStyle = attribute.underlineStyle == UnderlineStyle::none
                                                 ? UnderlineStyle::single
                                                 : attribute.underlineStyle;
    }
    if (attribute.style.contains(CharacterStyle::crossedOut)) {
        attributes.strikethroughColor = contrasted;
        attributes.strikethroughStyle = 1;
    }
    if (withUrl) {
        // A link is underlined dashed whatever its own underline says.
        attributes.underlineStyle = UnderlineStyleNumber::single;
        attributes.underlineColor = context.linkUnderlineColor ? *context.linkUnderlineColor : contrasted;
        attributes.kestrovanUnderlineStyle = UnderlineStyle::dashed;
    }
    return attributes;
}

SnapshotTextAttributes attributedValue(const Attribute& attribute, const platform::NativeColor& foreground,
                                       const platform::NativeColor& background,
                                       const SnapshotRenderContext& context)
{
    const bool inverse = attribute.style.contains(CharacterStyle::inverse);
    const bool bold = attribute.style.contains(CharacterStyle::bold);
    const bool italic = attribute.style.contains(CharacterStyle::italic);
    SnapshotTextAttributes attributes;
    attributes.font = context.fonts.font((bold ? 1 : 0) + (italic ? 2 : 0));
    attributes.foregroundColor = inverse ? background : foreground;
    attributes.backgroundColor = inverse ? foreground : background;
    attributes.shapeColor = attributes.foregroundColor;
    if (attribute.style.contains(CharacterStyle::underline)) {
        attributes.underlineColor = attribute.underlineColor
                                        ? mapColor(*attribute.underlineColor, true, bold, context)
                                        : attributes.foregroundColor;
        attributes.underlineStyle = underlineStyleNumber(attribute.underlineStyle);
        attributes.kestrovanUnderlineStyle = attribute.underlineStyle == UnderlineStyle::none
                                                 ? UnderlineStyle::single
                                                 : attribute.underlineStyle;
    }
    if (attribute.style.contains(CharacterStyle::crossedOut)) {
        attributes.strikethroughColor = attributes.foregroundColor;
        attributes.strikethroughStyle = 1;
    }
    return attributes;
}

// --- Plain styles ----------------------------------------------------------------------------------

void SnapshotTextBuilder::preparePlainInvertedColors(const SnapshotRenderContext& context)
{
    if (plainInvertedColorsContextID_ == context.identity)
        return;
    plainInvertedForeground_ = opaque(context.effectiveBackgroundColor);
    plainInvertedBackground_ = opaque(context.effectiveForegroundColor);
    plainInvertedColorsContextID_ = context.identity;
}

PlainColor SnapshotTextBuilder::plainColor(Attribute::Color color, bool isFg, bool isBold,
                                           const SnapshotRenderContext& context) const
{
    switch (color.kind()) {
    case Attribute::Color::Kind::trueColor:
        return PlainColor::packed(uint32_t(color.red()) | uint32_t(color.green()) << 8 |
                                  uint32_t(color.blue()) << 16);
    case Attribute::Color::Kind::defaultInvertedColor:
        return PlainColor::native(isFg ? plainInvertedForeground_ : plainInvertedBackground_);
    case Attribute::Color::Kind::ansi256:
    case Attribute::Color::Kind::defaultColor:
        break;
    }
    return PlainColor::native(kestrovan::mapColor(color, isFg, isBold, context));
}

PlainRunStyle SnapshotTextBuilder::plainStyle(const Attribute& attribute, bool withUrl,
                                              const SnapshotRenderContext& context)
{
    preparePlainInvertedColors(context);
    const ResolvedStyle resolved = resolveStyle(attribute, context);
    PlainRunStyle style;
    style.fontIndex = resolved.fontIndex;
    PlainColor foreground = plainColor(resolved.fg, true, resolved.isBold, context);
    const PlainColor background = plainColor(resolved.bg, false, false, context);
    if (attribute.style.contains(CharacterStyle::dim))
        foreground = PlainColor::native(dimmedColor(foreground, background, context));
    const PlainColor contrasted = contrastedColor(foreground, background, context);
    style.background = background;
    if (context.translucentCellBackgroundAlpha && isPaletteOrTrueColor(resolved.bg)) {
        platform::NativeColor translucent = platformColor(background, context);
        translucent.alpha = *context.translucentCellBackgroundAlpha;
        style.background = PlainColor::native(translucent);
    }
    style.explicitBackground = !resolved.bg.isDefault();
    if (attribute.style.contains(CharacterStyle::underline)) {
        const UnderlineStyle kind = attribute.underlineStyle == UnderlineStyle::none
                                        ? UnderlineStyle::single
                                        : attribute.underlineStyle;
        style.underline = PlainUnderline{
            attribute.underlineColor ? plainColor(*attribute.underlineColor, true, resolved.isBold, context)
                                     : contrasted,
            underlineStyleNumber(attribute.underlineStyle), kind};
    }
    // The plain path leaves a link's text in its own colour and marks it by its underline only.
    if (withUrl) {
        style.underline = PlainUnderline{
            context.linkUnderlineColor ? PlainColor::native(*context.linkUnderlineColor) : contrasted,
            UnderlineStyleNumber::single, UnderlineStyle::dashed};
    }
    if (attribute.style.contains(CharacterStyle::crossedOut))
        style.strikethrough = contrasted;
    style.foreground = contrasted;
    style.shapeColor = foreground;
    return style;
}

platform::NativeColor SnapshotTextBuilder::platformColor(const PlainColor& color,
                                                         const SnapshotRenderContext& /*context*/) const
{
    if (color.kind == PlainColor::Kind::color)
        return color.color;
    return platform::NativeColor::sRGB((color.rgb & 0xFF) / 255.0, ((color.rgb >> 8) & 0xFF) / 255.0,
                                       ((color.rgb >> 16) & 0xFF) / 255.0, 1.0);
}

size_t SnapshotTextBuilder::ColorPairKeyHash::operator()(const ColorPairKey& key) const
{
    FrameHasher hasher;
    for (const PlainColor* color : {&key.foreground, &key.background}) {
        hasher.feedByte(static_cast<uint8_t>(color->kind));
        if (color->kind == PlainColor::Kind::rgb)
            hasher.feed(uint64_t(color->rgb));
        else
            hasher.feed(color->color);
    }
    return static_cast<size_t>(hasher.finish());
}

platform::NativeColor SnapshotTextBuilder::dimmedColor(const PlainColor& color, const PlainColor& target,
                                                       const SnapshotRenderContext& context)
{
    const ColorPairKey key{color, target};
    if (const auto found = dimmedColors_.find(key); found != dimmedColors_.end())
        return found->second;
    const platform::NativeColor dimmed =
        kestrovan::dimmedColor(platformColor(color, context), platformColor(target, context));
    if (dimmedColors_.size() >= boundedCacheLimit)
        dimmedColors_.clear();
    dimmedColors_.emplace(key, dimmed);
    return dimmed;
}

PlainColor SnapshotTextBuilder::contrastedColor(const PlainColor& color, const PlainColor& background,
                                                const SnapshotRenderContext& context)
{
    const double ratio = context.minimumContrastRatio;
    if (!(ratio > 1.0))
        return color;
    if (ratio != contrastRatio_) {
        contrastedColors_.clear();
        contrastRatio_ = ratio;
    }
    const ColorPairKey key{color, background};
    if (const auto found = contrastedColors_.find(key); found != contrastedColors_.end())
        return found->second;
    const platform::NativeColor source = platformColor(color, context);
    const platform::NativeColor adjusted = withContrast(source, ratio, platformColor(background, context));
    // A colour that already reaches the ratio stays what it was, so a true colour stays packed.
    const PlainColor result = adjusted == source ? color : PlainColor::native(adjusted);
    if (contrastedColors_.size() >= boundedCacheLimit)
        contrastedColors_.clear();
    contrastedColors_.emplace(key, result);
    return result;
}

bool SnapshotTextBuilder::sameColor(const PlainColor& a, const PlainColor& b,
                                    const SnapshotRenderContext& context) const
{
    if (a.kind == PlainColor::Kind::rgb && b.kind == PlainColor::Kind::rgb)
        return a.rgb == b.rgb;
    if (a.kind == PlainColor::Kind::color && b.kind == PlainColor::Kind::color)
        return a.color == b.color;
    return platformColor(a, context) == platformColor(b, context);
}

bool SnapshotTextBuilder::sameAttributes(const PlainRunStyle& a, const PlainRunStyle& b,
                                         const SnapshotRenderContext& context) const
{
    if (a.explicitBackground != b.explicitBackground ||
        a.selectionBackground.has_value() != b.selectionBackground.has_value() ||
        a.underline.has_value() != b.underline.has_value() ||
        a.strikethrough.has_value() != b.strikethrough.has_value())
        return false;
    // Two indexes draw alike when the context holds the same font in both slots (a family
    // without a bold face, say).
    if (a.fontIndex != b.fontIndex && context.fonts.font(a.fontIndex) != context.fonts.font(b.fontIndex))
        return false;
    if (!sameColor(a.foreground, b.foreground, context) || !sameColor(a.shapeColor, b.shapeColor, context) ||
        !sameColor(a.background, b.background, context))
        return false;
    if (a.selectionBackground && *a.selectionBackground != *b.selectionBackground)
        return false;
    if (a.underline &&
        (a.underline->nsStyle != b.underline->nsStyle || a.underline->style != b.underline->style ||
         !sameColor(a.underline->color, b.underline->color, context)))
        return false;
    if (a.strikethrough && !sameColor(*a.strikethrough, *b.strikethrough, context))
        return false;
    return true;
}

// --- Caches and glyph fallback ---------------------------------------------------------------------

void SnapshotTextBuilder::prepareAttributeCache(const SnapshotRenderContext& context)
{
    if (context.identity == attributeCacheContextID_)
        return;
    // Every cached colour and font belongs to the old context: a new identity resolves afresh.
    packedAttributeCache_.clear();
    plainStyleCache_.clear();
    glyphCoverageCache_.clear();
    dimmedColors_.clear();
    cachedGlyphFallbackFont_.reset();
    attributeCacheContextID_ = context.identity;
}

void SnapshotTextBuilder::prepareAttributeCache(const SnapshotRenderContext& context, const CellArena& arena)
{
    prepareAttributeCache(context);
    if (arena.encodingIdentity() == attributeCacheArenaID_)
        return;
    packedAttributeCache_.clear();
    plainStyleCache_.clear();
    attributeCacheArenaID_ = arena.encodingIdentity();
}

std::optional<GlyphFallbackSelection>
SnapshotTextBuilder::resolveGlyphFallback(const Character& character, const platform::FontRef& styleFont,
                                          const SnapshotRenderContext& context)
{
    const TerminalGlyphFallbackProvider* provider = context.glyphFallbackProvider.get();
    if (!provider)
        return std::nullopt;
    const std::optional<char32_t> base = GlyphFallbackResolver::baseScalar(character);
    if (!base)
        return std::nullopt;
    const std::optional<TerminalGlyphPlacementPolicy> policy = provider->placementPolicy(*base);
    if (!policy)
        return std::nullopt;
    const uint8_t styleIndex = styleFont == context.fonts.normal()   ? 0
                               : styleFont == context.fonts.bold()   ? 1
                               : styleFont == context.fonts.italic() ? 2
                                                                     : 3;
    const CoverageKey key{styleIndex, uint32_t(*base)};
    bool covered = false;
    if (const auto found = glyphCoverageCache_.find(key); found != glyphCoverageCache_.end()) {
        covered = found->second;
    } else {
        covered = styleFont && GlyphFallbackResolver::fontHasGlyph(TextGlyphFallbackFont(styleFont), *base);
        if (glyphCoverageCache_.size() >= boundedCacheLimit)
            glyphCoverageCache_.clear();
        glyphCoverageCache_.emplace(key, covered);
    }
    if (covered)
        return std::nullopt;
    if (!cachedGlyphFallbackFont_) {
        const platform::FontRef& normal = context.fonts.normal();
        cachedGlyphFallbackFont_ = provider->fallbackFont(normal ? normal->pointSize() : 0);
    }
    if (!*cachedGlyphFallbackFont_)
        return std::nullopt;
    return GlyphFallbackSelection{*cachedGlyphFallbackFont_, *policy};
}

platform::FontRef SnapshotTextBuilder::resolvedFont(const Character& character, const platform::FontRef& base)
{
    if (!base)
        return base;
    // The text layer's fallback cascade caches its answers by font and cluster itself.
    std::u16string cluster;
    for (const char32_t scalar : character.scalars) {
        if (scalar >= 0x10000) {
            cluster.push_back(char16_t(0xD800 + ((scalar - 0x10000) >> 10)));
            cluster.push_back(char16_t(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
        } else {
            cluster.push_back(char16_t(scalar));
        }
    }
    return platform::FontFallback::shared().fontFor(base, cluster);
}

SnapshotTextBuilder::CacheSizes SnapshotTextBuilder::cacheSizes() const
{
    return CacheSizes{packedAttributeCache_.size(), plainStyleCache_.size(), glyphCoverageCache_.size(),
                      dimmedColors_.size(), contrastedColors_.size()};
}

} // namespace kestrovan
