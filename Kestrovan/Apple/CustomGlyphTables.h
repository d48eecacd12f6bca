// The tables that route a cell to custom drawing: the 32 block elements as rectangles in eighths
// of a cell, and the Powerline code points the renderers draw as paths.
//
// The row builders read these to decide which cells they hand to the renderer as items instead
// of text; painting the rectangles and building the paths belongs to the renderers. Both tables
// are fixed data, built at compile time, safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kestrovan {

/// The opacity of a block rectangle.
enum class BlockAlpha : uint8_t
{
    full,
    dark,
    medium,
    light,
};

/// The opacity a block alpha stands for: 1, 0.75, 0.5, 0.25.
double blockAlphaValue(BlockAlpha alpha);

/// One rectangle of a block element in eighths of the cell; y counts from the top of the cell.
struct BlockElementRect
{
    uint8_t x0 = 0;
    uint8_t x1 = 0;
    uint8_t y0 = 0;
    uint8_t y1 = 0;
    BlockAlpha alpha = BlockAlpha::full;

    friend bool operator==(BlockElementRect, BlockElementRect) = default;
};

struct BlockElementMapping
{
    /// The rectangles of a block element U+2580...U+259F in painting order; absent elsewhere.
    static std::optional<std::span<const BlockElementRect>> rects(uint32_t codePoint);
};

/// A Powerline glyph: the side its flat edge is on (1 left, pointing right; 0 right) and its
/// shape number 0...10.
struct PowerlineGlyph
{
    uint8_t side = 2;
    uint8_t shape = 0;

    friend bool operator==(PowerlineGlyph, PowerlineGlyph) = default;
};

struct PowerlineRenderer
{
    /// The glyph the renderers draw for a code point of U+E0B0...U+E0D7; absent for the code
    /// points of that range they leave to the font (U+E0C4...U+E0D5) and everywhere else.
    static std::optional<PowerlineGlyph> glyph(uint32_t codePoint);
};

} // namespace kestrovan
