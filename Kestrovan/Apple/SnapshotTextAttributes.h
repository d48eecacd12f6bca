// The attributes of one run of row text: every colour, font and decoration decision the row
// builder made, as one fixed immutable struct shared by every run (and row) that looks the same.
//
// This takes the place of a string-keyed attribute dictionary: each attribute is a member, an
// absent decoration is an empty optional, and a run shares its attributes by pointer, so building
// a row copies nothing unless a cell overrides something (selection, blink, glyph fallback).
// Text is always laid out left to right in the order given, so no direction attribute is needed.
#pragma once

#include "Kestrovan/Apple/TerminalGlyphFallbackProvider.h"
#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"
#include "Kestrovan/Attribute.h"
#include "Platform/Graphics/NativeColor.h"
#include "Platform/Text/Font.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace kestrovan {

/// The raw values of the underline styles drawing understands: single 1, double 9, dotted 0x101,
/// dashed 0x201 (curly is drawn from the terminal style and counts as single here).
namespace UnderlineStyleNumber {
inline constexpr int none = 0;
inline constexpr int single = 0x01;
inline constexpr int double_ = 0x09;
inline constexpr int dotted = 0x101;
inline constexpr int dashed = 0x201;
} // namespace UnderlineStyleNumber

/// The underline style number of a terminal underline style (none counts as single).
int underlineStyleNumber(UnderlineStyle style);

struct SnapshotTextAttributes
{
    platform::FontRef font;
    /// The text colour after dim, link colour and minimum-contrast adjustment.
    platform::NativeColor foregroundColor;
    platform::NativeColor backgroundColor;
    /// The text colour before contrast adjustment: what custom-drawn cells (box drawing, blocks,
    /// Powerline) and decorations that keep the cell's hue are painted in.
    platform::NativeColor shapeColor;
    /// The run has a background of its own (palette, true colour or default-inverted).
    bool explicitBackground = false;
    std::optional<platform::NativeColor> underlineColor;
    /// An `UnderlineStyleNumber`; 0 without an underline.
    int underlineStyle = UnderlineStyleNumber::none;
    /// The terminal's underline style (5, dashed, for links), which renderers use to draw curly,
    /// dotted and dashed lines themselves; absent without an underline.
    std::optional<UnderlineStyle> kestrovanUnderlineStyle;
    std::optional<platform::NativeColor> strikethroughColor;
    /// 1 with a strikethrough, else 0.
    int strikethroughStyle = 0;
    /// The selection fill under a selected cell.
    std::optional<platform::NativeColor> selectionBackgroundColor;
    /// How a fallback provider's glyph sits in its cell; present with `glyphFallbackFont`.
    std::optional<TerminalGlyphPlacementPolicy> glyphPolicy;
    /// The provider's font that replaced the style font (its drawing font is `font` when it has
    /// one); runs with other fallback font objects never merge.
    GlyphFallbackFontRef glyphFallbackFont;

    friend bool operator==(const SnapshotTextAttributes&, const SnapshotTextAttributes&) = default;

    /// A hash that agrees with equality (fonts by object).
    size_t hash() const;
};

using SnapshotTextAttributesRef = std::shared_ptr<const SnapshotTextAttributes>;

} // namespace kestrovan
