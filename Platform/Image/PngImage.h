// PNG decoding into straight-alpha RGBA, for the inline-image code of the engine.
//
// Backed by libpng. Every colour type and depth becomes 8-bit red, green, blue and alpha, rows top
// first. The decoder refuses images wider or taller than the caller's limit from the header, before
// it takes memory for pixels, and it grows its output row by row as the data arrives, so a short
// or corrupt stream costs only the rows it really holds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

/// A decoded image: width x height pixels, four bytes each (R, G, B, straight alpha).
struct RgbaImage
{
    std::vector<uint8_t> rgba;
    int width = 0;
    int height = 0;
};

/// Decodes a PNG whose sides are at most `maximumSide` pixels; absent when the data is not a whole,
/// valid PNG within that limit.
std::optional<RgbaImage> decodePng(std::span<const uint8_t> data, int maximumSide);

/// Encodes straight-alpha RGBA as an 8-bit RGBA PNG (for tests, fixtures and benchmarks).
std::vector<uint8_t> encodePng(std::span<const uint8_t> rgba, int width, int height);

} // namespace platform
