#include "Kestrovan/Apple/CustomGlyphTables.h"

#include <array>

namespace kestrovan {

namespace {

using R = BlockElementRect;
constexpr BlockAlpha F = BlockAlpha::full;

/// Up to three rectangles per block element, U+2580 first; `count` says how many are used.
struct BlockEntry
{
    uint8_t count;
    std::array<BlockElementRect, 3> rects;
};

constexpr std::array<BlockEntry, 32> blockTable = {{
    {1, {R{0, 8, 0, 4, F}}},                                     // U+2580 upper half
    {1, {R{0, 8, 7, 8, F}}},                                     // U+2581 lower one eighth
    {1, {R{0, 8, 6, 8, F}}},                                     // U+2582
    {1, {R{0, 8, 5, 8, F}}},                                     // U+2583
    {1, {R{0, 8, 4, 8, F}}},                                     // U+2584 lower half
    {1, {R{0, 8, 3, 8, F}}},                                     // U+2585
    {1, {R{0, 8, 2, 8, F}}},                                     // U+2586
    {1, {R{0, 8, 1, 8, F}}},                                     // U+2587
    {1, {R{0, 8, 0, 8, F}}},                                     // U+2588 full block
    {1, {R{0, 7, 0, 8, F}}},                                     // U+2589 left seven eighths
    {1, {R{0, 6, 0, 8, F}}},                                     // U+258A
    {1, {R{0, 5, 0, 8, F}}},                                     // U+258B
    {1, {R{0, 4, 0, 8, F}}},                                     // U+258C left half
    {1, {R{0, 3, 0, 8, F}}},                                     // U+258D
    {1, {R{0, 2, 0, 8, F}}},                                     // U+258E
    {1, {R{0, 1, 0, 8, F}}},                                     // U+258F
    {1, {R{4, 8, 0, 8, F}}},                                     // U+2590 right half
    {1, {R{0, 8, 0, 8, BlockAlpha::light}}},                     // U+2591 light shade
    {1, {R{0, 8, 0, 8, BlockAlpha::medium}}},                    // U+2592 medium shade
    {1, {R{0, 8, 0, 8, BlockAlpha::dark}}},                      // U+2593 dark shade
    {1, {R{0, 8, 0, 1, F}}},                                     // U+2594 upper one eighth
    {1, {R{7, 8, 0, 8, F}}},                                     // U+2595 right one eighth
    {1, {R{0, 4, 4, 8, F}}},                                     // U+2596 quadrant lower left
    {1, {R{4, 8, 4, 8, F}}},                                     // U+2597 quadrant lower right
    {1, {R{0, 4, 0, 4, F}}},                                     // U+2598 quadrant upper left
    {3, {R{0, 4, 0, 4, F}, R{0, 4, 4, 8, F}, R{4, 8, 4, 8, F}}}, // U+2599
    {2, {R{0, 4, 0, 4, F}, R{4, 8, 4, 8, F}}},                   // U+259A
    {3, {R{0, 4, 0, 4, F}, R{4, 8, 0, 4, F}, R{0, 4, 4, 8, F}}}, // U+259B
    {3, {R{0, 4, 0, 4, F}, R{4, 8, 0, 4, F}, R{4, 8, 4, 8, F}}}, // U+259C
    {1, {R{4, 8, 0, 4, F}}},                                     // U+259D quadrant upper right
    {2, {R{4, 8, 0, 4, F}, R{0, 4, 4, 8, F}}},                   // U+259E
    {3, {R{4, 8, 0, 4, F}, R{0, 4, 4, 8, F}, R{4, 8, 4, 8, F}}}, // U+259F
}};

/// U+E0B0...U+E0D7 as (side, shape); side 2 is left to the font.
constexpr std::array<PowerlineGlyph, 40> powerlineTable = {{
    {1, 0}, {1, 1}, {0, 0},  {0, 1},  {1, 2}, {1, 3}, {0, 2}, {0, 3}, // U+E0B0 ...
    {1, 4}, {1, 6}, {0, 4},  {0, 7},  {1, 5}, {0, 7}, {0, 5}, {1, 6}, // U+E0B8 ...
    {1, 8}, {1, 9}, {0, 8},  {0, 9},                                  // U+E0C0 flames
    {2, 0}, {2, 0}, {2, 0},  {2, 0},  {2, 0}, {2, 0}, {2, 0}, {2, 0}, // U+E0C4 ...
    {2, 0}, {2, 0}, {2, 0},  {2, 0},  {2, 0}, {2, 0}, {2, 0}, {2, 0}, // ... U+E0D3
    {2, 0}, {2, 0}, {0, 10}, {1, 10},                                 // U+E0D4 ... U+E0D7
}};

} // namespace

double blockAlphaValue(BlockAlpha alpha)
{
    switch (alpha) {
    case BlockAlpha::dark:
        return 0.75;
    case BlockAlpha::medium:
        return 0.5;
    case BlockAlpha::light:
        return 0.25;
    case BlockAlpha::full:
        break;
    }
    return 1.0;
}

std::optional<std::span<const BlockElementRect>> BlockElementMapping::rects(uint32_t codePoint)
{
    if (codePoint < 0x2580 || codePoint > 0x259F)
        return std::nullopt;
    const BlockEntry& entry = blockTable[codePoint - 0x2580];
    return std::span<const BlockElementRect>(entry.rects.data(), entry.count);
}

std::optional<PowerlineGlyph> PowerlineRenderer::glyph(uint32_t codePoint)
{
    if (codePoint < 0xE0B0 || codePoint > 0xE0D7)
        return std::nullopt;
    const PowerlineGlyph glyph = powerlineTable[codePoint - 0xE0B0];
    if (glyph.side == 2)
        return std::nullopt;
    return glyph;
}

} // namespace kestrovan
