// The draw data of one frame: per visible row the cell and vertex records of every layer, either
// as the row's own GPU buffers (kept with the row from frame to frame) or as arrays gathered for
// the whole frame and uploaded once per layer, plus the cursor's vertices.
//
// `RowDrawData` is what placing a row gives (CPU arrays), `RowDrawBuffers` the same in GPU buffers.
// A `DrawData` carries `rows` in the per-row buffering mode and `frame` in the per-frame one.
#pragma once

#include "Kestrovan/Apple/Metal/MetalVertexTypes.h"
#include "Platform/GPU/GpuObjects.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

/// A clip rectangle in pixels: left, bottom, right and top edges (y-up).
struct ClipRect
{
    float x0 = 0;
    float y0 = 0;
    float x1 = 0;
    float y1 = 0;

    friend bool operator==(const ClipRect&, const ClipRect&) = default;
};

/// One textured quad of a picture: its texture and two triangles in the shaders' corner order, in
/// opaque white.
struct ImageDraw
{
    std::shared_ptr<platform::gpu::Texture> texture;
    std::array<GlyphVertex, 6> vertices{};
};

/// An `ImageDraw` in a GPU buffer.
struct ImageDrawBuffer
{
    std::shared_ptr<platform::gpu::Texture> texture;
    std::shared_ptr<platform::gpu::Buffer> buffer;
    int vertexCount = 0;
};

/// The draw lists of one placed row (or, as `FrameDrawData`, of a whole frame), in layer order.
struct RowDrawData
{
    std::vector<ColorCell> backgroundCells;
    std::vector<ColorCell> powerlineJoinCells;
    std::vector<TextCell> glyphCellsGray;
    std::vector<TextCell> glyphCellsColor;
    std::vector<ColorCell> decorationCells;
    /// Kitty placements below the backgrounds, below the text, Unicode placeholder pictures,
    /// placements over the text, and the pictures attached to lines.
    std::vector<ImageDraw> belowBackgroundImageDraws;
    std::vector<ImageDraw> underImageDraws;
    std::vector<ImageDraw> placeholderImageDraws;
    std::vector<ImageDraw> overImageDraws;
    std::vector<ImageDraw> otherImageDraws;

    /// Appends every list of `other` to the matching list.
    void append(const RowDrawData& other);
};

using FrameDrawData = RowDrawData;

/// A placed row in GPU buffers; counts are numbers of cell records.
struct RowDrawBuffers
{
    std::shared_ptr<platform::gpu::Buffer> backgroundBuffer;
    size_t backgroundCount = 0;
    std::shared_ptr<platform::gpu::Buffer> powerlineJoinBuffer;
    size_t powerlineJoinCount = 0;
    std::shared_ptr<platform::gpu::Buffer> glyphGrayBuffer;
    size_t glyphGrayCount = 0;
    std::shared_ptr<platform::gpu::Buffer> glyphColorBuffer;
    size_t glyphColorCount = 0;
    std::shared_ptr<platform::gpu::Buffer> decorationBuffer;
    size_t decorationCount = 0;
    std::vector<ImageDrawBuffer> belowBackgroundImageBuffers;
    std::vector<ImageDrawBuffer> underImageBuffers;
    std::vector<ImageDrawBuffer> placeholderImageBuffers;
    std::vector<ImageDrawBuffer> overImageBuffers;
    std::vector<ImageDrawBuffer> otherImageBuffers;
};

struct DrawData
{
    /// The visible rows, top first (per-row mode only).
    std::vector<RowDrawBuffers> rows;
    /// The frame's arrays (per-frame mode only).
    std::optional<FrameDrawData> frame;
    std::vector<ColorVertex> cursorColorVertices;
    std::vector<GlyphVertex> cursorGlyphVerticesGray;
    std::vector<GlyphVertex> cursorGlyphVerticesColor;
};

} // namespace kestrovan
