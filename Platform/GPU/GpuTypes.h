// The plain values of the GL layer: pixel formats, blend states, rectangles, vertex layouts.
//
// These describe what a caller asks of a device without naming any GL constant, so that the
// engine's renderer, the recording backend and the tests share one vocabulary and only the GL
// backend translates it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::gpu {

/// How the pixels of a texture are stored and uploaded. `bgra8` is stored as RGBA8 and uploaded
/// from blue-green-red-alpha bytes, so that the colour glyphs the rasterizer draws go in as they
/// are; reading it back in the same order gives the same bytes.
enum class TextureFormat : uint8_t
{
    r8,
    rgba8,
    bgra8,
};

/// Bytes per pixel of a format's uploads: 1 for `r8`, 4 otherwise.
int bytesPerPixel(TextureFormat format);

/// Blend factors of a pipeline; the operation is always addition.
enum class BlendFactor : uint8_t
{
    zero,
    one,
    sourceAlpha,
    oneMinusSourceAlpha,
};

/// Blending of a pipeline's colour output into the target. Off means the output replaces the
/// pixel, alpha included.
struct BlendState
{
    bool enabled = false;
    BlendFactor sourceColor = BlendFactor::one;
    BlendFactor destinationColor = BlendFactor::zero;
    BlendFactor sourceAlpha = BlendFactor::one;
    BlendFactor destinationAlpha = BlendFactor::zero;

    bool operator==(const BlendState&) const = default;
};

/// A rectangle of pixels or texels: x and y of its first pixel, width and height.
struct PixelRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PixelRect&) const = default;
};

/// A pixel size; both sides are positive for a usable target.
struct PixelSize
{
    int width = 0;
    int height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelSize&) const = default;
};

/// A colour of floats from 0 to 1, red, green, blue, alpha.
struct ClearColor
{
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 0;

    bool operator==(const ClearColor&) const = default;
};

/// One float attribute read from a vertex or instance record.
struct VertexAttribute
{
    uint32_t location = 0;
    uint32_t components = 0;
    uint32_t offset = 0;

    bool operator==(const VertexAttribute&) const = default;
};

/// How a draw reads its records: the record stride and its float attributes. With `perInstance`
/// every record is one instance of a six-vertex quad (the vertex shader places the corner from the
/// vertex index); otherwise every record is one vertex.
struct VertexLayout
{
    static constexpr size_t maxAttributes = 5;

    uint32_t stride = 0;
    bool perInstance = false;
    std::array<VertexAttribute, maxAttributes> attributes{};
    uint32_t attributeCount = 0;

    bool operator==(const VertexLayout&) const = default;
};

/// The two stages of a program.
enum class ShaderStage : uint8_t
{
    vertex,
    fragment,
};

} // namespace platform::gpu
