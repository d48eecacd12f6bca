// The pure geometry of pictures on the GPU path: kitty pixels premultiplied for upload, a virtual
// (Unicode placeholder) placement cut to one cell with its texture coordinates, and one picture
// quad scaled to pixels, transformed for its line and clipped.
//
// Texture coordinates follow the textures the renderer makes: row 0 of a picture's texture is the
// picture's bottom row, so v grows upwards with y.
#pragma once

#include "Kestrovan/Apple/Metal/DrawData.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/KittyGraphicsRenderSnapshot.h"
#include "Platform/Graphics/Geometry.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrovan {

/// The picture of a virtual placement inside one cell: the whole image's rectangle and the part
/// of it the cell shows (points), and that part's texture rectangle.
struct KittyVirtualImageGeometry
{
    platform::Rect imageRect;
    platform::Rect visibleRect;
    platform::Rect uvRect;
};

/// Straight RGBA premultiplied (each colour channel c becomes (c x alpha + 127) / 255), and with
/// `flipVertically` the rows reversed: only when both sizes are given, the width is at least 1, the
/// height at least 2 and the bytes are exactly width x height x 4; a trailing partial pixel is
/// copied as it is.
std::vector<uint8_t> kittyPremultipliedRGBA(std::span<const uint8_t> rgba, std::optional<int64_t> width,
                                            std::optional<int64_t> height, bool flipVertically);

/// The part of `source` (image pixels, rows from the top) an image of `textureWidth` x
/// `textureHeight` shows in `cellRect`, the source aspect-fitted into `placementRect` at `scale`
/// pixels per point; none when a size is not positive or nothing of the picture is in the cell.
std::optional<KittyVirtualImageGeometry>
kittyVirtualImageGeometry(const KittyGraphicsPixelRect& source, int64_t textureWidth, int64_t textureHeight,
                          const platform::Rect& placementRect, const platform::Rect& cellRect, double scale);

/// One picture quad: `rect` (points) scaled to pixels, transformed for the line's `renderMode`
/// about `pivotY` (pixels), showing `uvRect` of `texture`, clipped to `clip`; none when nothing is
/// left.
std::optional<ImageDraw> imageDraw(std::shared_ptr<platform::gpu::Texture> texture,
                                   const platform::Rect& rect, const platform::Rect& uvRect,
                                   BufferLine::RenderLineMode renderMode, const std::optional<ClipRect>& clip,
                                   double pivotY, double scale);

/// The six vertices of a textured quad in opaque white, in the shaders' corner order.
std::array<GlyphVertex, 6> quadVertices(float x0, float y0, float x1, float y1, float u0, float v0, float u1,
                                        float v1, Float4 color = {1, 1, 1, 1});

} // namespace kestrovan
