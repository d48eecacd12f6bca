// How a substitute glyph sits in its cell: the placement record a glyph fallback provider gives
// for the characters it handles.
//
// A policy is compared and hashed by value, as the renderers key glyph caches on it. Equality
// takes rectangles after standardizing (a negative width or height flipped to positive) and
// compares numbers as numbers, so -0.0 equals +0.0; the hash agrees by hashing standardized
// rectangles and every zero as +0.0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestrovan {

/// A rectangle in fractions of a glyph group's box.
struct TerminalGlyphRect
{
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    /// The same rectangle with a non-negative width and height.
    TerminalGlyphRect standardized() const;
    /// Equal after standardizing both.
    bool isEqualTo(const TerminalGlyphRect& other) const;
};

/// The part of the cell kept free around the glyph: top and bottom as fractions of the cell
/// height, left and right of the cell width.
struct TerminalGlyphPadding
{
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    static const TerminalGlyphPadding zero;

    friend bool operator==(const TerminalGlyphPadding&, const TerminalGlyphPadding&) = default;
};

inline constexpr TerminalGlyphPadding TerminalGlyphPadding::zero{};

struct TerminalGlyphPlacementPolicy
{
    enum class Placement : uint8_t
    {
        /// Fitted uniformly inside the padded cells, never enlarged.
        icon,
        /// Fitted uniformly to fill the padded cells, may be enlarged.
        cover,
        /// Scaled apart in width and height to fill the padded cells.
        stretch,
        /// Fitted like `icon` over the number of cells the glyph is given.
        explicitWidth,
        /// One glyph of a group drawn across several cells, placed by `relativeBounds`.
        grouped,
    };

    Placement placement = Placement::icon;
    /// The most cells the glyph may use; absent means no limit.
    std::optional<int> maximumCellWidth;
    /// For `grouped`: this glyph's bounds in fractions of the whole group's box.
    std::optional<TerminalGlyphRect> relativeBounds;
    TerminalGlyphPadding padding;

    friend bool operator==(const TerminalGlyphPlacementPolicy& a, const TerminalGlyphPlacementPolicy& b);

    /// The hash that agrees with equality.
    size_t hash() const;
};

} // namespace kestrovan

template <> struct std::hash<kestrovan::TerminalGlyphPlacementPolicy>
{
    size_t operator()(const kestrovan::TerminalGlyphPlacementPolicy& policy) const noexcept
    {
        return policy.hash();
    }
};
