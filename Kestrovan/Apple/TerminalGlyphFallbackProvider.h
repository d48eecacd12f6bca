// The contract between the terminal and a host that supplies glyphs the terminal font lacks.
//
// A provider says, per scalar, whether it handles it and how the substitute glyph is to be placed,
// and gives the substitute font at a size. It is called from whichever thread prepares rows and
// from the snapshot refresh while that holds the terminal lock, so it must answer on any thread
// and must never take the terminal lock itself. The system never makes a provider; hosts do.
//
// Fonts reach the resolver through `GlyphFallbackFont`, the little glyph fallback asks of a font:
// `TextGlyphFallbackFont` adapts the text layer's fonts to it, and tests give fakes.
#pragma once

#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"
#include "Platform/Text/Font.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace kestrovan {

/// What glyph fallback asks of a font.
class GlyphFallbackFont
{
public:
    virtual ~GlyphFallbackFont() = default;
    /// True when the font's character map has a glyph for the scalar.
    virtual bool hasGlyph(char32_t scalar) const = 0;
    virtual double pointSize() const = 0;
    /// The text-layer font that draws the glyphs; null for a font that only answers questions
    /// (a run given one keeps its style font for drawing).
    virtual platform::FontRef drawingFont() const { return nullptr; }
};

/// A text-layer font seen as a glyph fallback font: what providers hand out and what the row
/// builder tests style fonts through.
class TextGlyphFallbackFont final : public GlyphFallbackFont
{
public:
    explicit TextGlyphFallbackFont(platform::FontRef font) : font_(std::move(font)) {}
    bool hasGlyph(char32_t scalar) const override { return font_ && font_->hasGlyph(scalar); }
    double pointSize() const override { return font_ ? font_->pointSize() : 0; }
    platform::FontRef drawingFont() const override { return font_; }

private:
    platform::FontRef font_;
};

using GlyphFallbackFontRef = std::shared_ptr<const GlyphFallbackFont>;

class TerminalGlyphFallbackProvider
{
public:
    TerminalGlyphFallbackProvider();
    virtual ~TerminalGlyphFallbackProvider() = default;

    TerminalGlyphFallbackProvider(const TerminalGlyphFallbackProvider&) = delete;
    TerminalGlyphFallbackProvider& operator=(const TerminalGlyphFallbackProvider&) = delete;

    /// The placement for `scalar`, or absent when the provider does not handle it.
    virtual std::optional<TerminalGlyphPlacementPolicy> placementPolicy(char32_t scalar) const = 0;
    /// The substitute font at `pointSize`, or absent.
    virtual GlyphFallbackFontRef fallbackFont(double pointSize) const = 0;
    /// A value of the provider's own that changes when what it supplies changes.
    virtual uint64_t fallbackIdentity() const = 0;

    /// What caches depending on fallback results key on: the hash of this object's identity plus
    /// `fallbackIdentity`, with wrap-around. Another provider object, or a changed identity value,
    /// gives another key.
    uint64_t cacheIdentity() const;

private:
    // From one process-wide counter: addresses of released providers are reused, ids are not.
    const uint64_t objectIdentity_;
};

} // namespace kestrovan
