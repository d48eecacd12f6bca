// The four records the GPU renderer hands its shaders, and how the shaders read them.
//
// Arrays of these records are copied byte for byte into GPU buffers, so their layout is fixed
// here and checked at compile time: pairs of floats on 8-byte boundaries, colours (four floats)
// on 16-byte boundaries. Positions and sizes are drawable pixels with the origin at the bottom
// left and y growing upwards; texture coordinates are normalised; colours are red, green, blue,
// alpha from 0 to 1. A cell record (`TextCell`, `ColorCell`) is one quad, drawn as an instance of
// six vertices; a vertex record (`GlyphVertex`, `ColorVertex`) is one corner of a triangle.
#pragma once

#include "Platform/GPU/GpuTypes.h"

#include <cstddef>

namespace kestrovan {

struct alignas(8) Float2
{
    float x = 0;
    float y = 0;

    bool operator==(const Float2&) const = default;
};

struct alignas(16) Float4
{
    float x = 0;
    float y = 0;
    float z = 0;
    float w = 0;

    bool operator==(const Float4&) const = default;
};

/// One corner of a textured triangle: cursor glyphs and images.
struct GlyphVertex
{
    Float2 position;
    Float2 texCoord;
    Float4 color;
};

/// One corner of a flat-coloured triangle: cursor shapes.
struct ColorVertex
{
    Float2 position;
    Float4 color;
};

/// One textured quad: a glyph or a custom glyph.
struct TextCell
{
    Float2 position;
    Float2 size;
    Float2 texOrigin;
    Float2 texSize;
    Float4 color;
};

/// One flat-coloured quad: a cell background, a Powerline join, a decoration.
struct ColorCell
{
    Float2 position;
    Float2 size;
    Float4 color;
};

static_assert(sizeof(GlyphVertex) == 32 && offsetof(GlyphVertex, texCoord) == 8 &&
              offsetof(GlyphVertex, color) == 16);
static_assert(sizeof(ColorVertex) == 32 && offsetof(ColorVertex, color) == 16);
static_assert(sizeof(TextCell) == 48 && offsetof(TextCell, size) == 8 &&
              offsetof(TextCell, texOrigin) == 16 && offsetof(TextCell, texSize) == 24 &&
              offsetof(TextCell, color) == 32);
static_assert(sizeof(ColorCell) == 32 && offsetof(ColorCell, size) == 8 && offsetof(ColorCell, color) == 16);

/// How the shaders read each record: attribute locations 0 to 4 in field order.
template <typename Record> platform::gpu::VertexLayout vertexLayout();

template <> inline platform::gpu::VertexLayout vertexLayout<GlyphVertex>()
{
    return {sizeof(GlyphVertex), false, {{{0, 2, 0}, {1, 2, 8}, {2, 4, 16}}}, 3};
}

template <> inline platform::gpu::VertexLayout vertexLayout<ColorVertex>()
{
    return {sizeof(ColorVertex), false, {{{0, 2, 0}, {1, 4, 16}}}, 2};
}

template <> inline platform::gpu::VertexLayout vertexLayout<TextCell>()
{
    return {sizeof(TextCell), true, {{{0, 2, 0}, {1, 2, 8}, {2, 2, 16}, {3, 2, 24}, {4, 4, 32}}}, 5};
}

template <> inline platform::gpu::VertexLayout vertexLayout<ColorCell>()
{
    return {sizeof(ColorCell), true, {{{0, 2, 0}, {1, 2, 8}, {2, 4, 16}}}, 3};
}

} // namespace kestrovan
