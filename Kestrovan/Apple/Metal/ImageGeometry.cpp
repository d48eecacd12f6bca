#include "Kestrovan/Apple/Metal/ImageGeometry.h"

#include "Kestrovan/Apple/KittyPlacementDrawing.h"
#include "Kestrovan/Apple/Metal/QuadGeometry.h"

#include <algorithm>
#include <cstring>

namespace kestrovan {

std::vector<uint8_t> kittyPremultipliedRGBA(std::span<const uint8_t> rgba, std::optional<int64_t> width,
                                            std::optional<int64_t> height, bool flipVertically)
{
    std::vector<uint8_t> out(rgba.begin(), rgba.end());
    if (rgba.size() < 4)
        return out;
    // Rows are reversed only when the bytes are exactly the size says, so a row never reaches
    // past the array.
    size_t expected = 0;
    const bool flip = flipVertically && width && height && *width >= 1 && *height >= 2 &&
                      !__builtin_mul_overflow(size_t(*width), size_t(*height), &expected) &&
                      !__builtin_mul_overflow(expected, size_t(4), &expected) && expected == rgba.size();
    const size_t rowBytes = flip ? size_t(*width) * 4 : 0;
    const size_t rows = flip ? size_t(*height) : 0;
    for (size_t at = 0; at + 4 <= rgba.size(); at += 4) {
        const uint8_t* in = rgba.data() + at;
        const unsigned alpha = in[3];
        size_t to = at;
        if (flip) {
            const size_t row = at / rowBytes;
            to = (rows - 1 - row) * rowBytes + at % rowBytes;
        }
        uint8_t* pixel = out.data() + to;
        for (int channel = 0; channel < 3; ++channel)
            pixel[channel] = uint8_t((in[channel] * alpha + 127) / 255);
        pixel[3] = uint8_t(alpha);
    }
    return out;
}

std::optional<KittyVirtualImageGeometry>
kittyVirtualImageGeometry(const KittyGraphicsPixelRect& source, int64_t textureWidth, int64_t textureHeight,
                          const platform::Rect& placementRect, const platform::Rect& cellRect, double scale)
{
    if (source.width < 1 || source.height < 1 || textureWidth < 1 || textureHeight < 1 || !(scale > 0))
        return std::nullopt;
    const platform::Rect imageRect = kittyAspectFitRect(
        platform::Size{double(source.width) / scale, double(source.height) / scale}, placementRect);
    const platform::Rect visible = imageRect.intersection(cellRect);
    if (visible.isEmpty() || imageRect.isEmpty())
        return std::nullopt;
    const double fx0 = (visible.minX() - imageRect.minX()) / imageRect.width;
    const double fx1 = (visible.maxX() - imageRect.minX()) / imageRect.width;
    const double fy0 = (visible.minY() - imageRect.minY()) / imageRect.height;
    const double fy1 = (visible.maxY() - imageRect.minY()) / imageRect.height;
    const double tw = double(textureWidth), th = double(textureHeight);
    const double u0 = (double(source.x) + fx0 * double(source.width)) / tw;
    const double u1 = (double(source.x) + fx1 * double(source.width)) / tw;
    // The texture holds the image upside down (row 0 its bottom row): the source's distance from
    // the texture's bottom edge.
    const double bottom = th - double(source.y + source.height);
    const double v0 = (bottom + fy0 * double(source.height)) / th;
    const double v1 = (bottom + fy1 * double(source.height)) / th;
    return KittyVirtualImageGeometry{imageRect, visible, platform::Rect{u0, v0, u1 - u0, v1 - v0}};
}

std::array<GlyphVertex, 6> quadVertices(float x0, float y0, float x1, float y1, float u0, float v0, float u1,
                                        float v1, Float4 color)
{
    return {{
        {{x0, y0}, {u0, v0}, color},
        {{x1, y0}, {u1, v0}, color},
        {{x0, y1}, {u0, v1}, color},
        {{x1, y0}, {u1, v0}, color},
        {{x1, y1}, {u1, v1}, color},
        {{x0, y1}, {u0, v1}, color},
    }};
}

std::optional<ImageDraw> imageDraw(std::shared_ptr<platform::gpu::Texture> texture,
                                   const platform::Rect& rect, const platform::Rect& uvRect,
                                   BufferLine::RenderLineMode renderMode, const std::optional<ClipRect>& clip,
                                   double pivotY, double scale)
{
    Quad quad{rect.x * scale,
              rect.y * scale,
              (rect.x + rect.width) * scale,
              (rect.y + rect.height) * scale,
              uvRect.minX(),
              uvRect.minY(),
              uvRect.maxX(),
              uvRect.maxY()};
    quad = transformForLineMode(quad, renderMode, pivotY);
    const std::optional<Quad> cut = clipRect(quad, clip);
    if (!cut)
        return std::nullopt;
    return ImageDraw{std::move(texture),
                     quadVertices(float(cut->x0), float(cut->y0), float(cut->x1), float(cut->y1),
                                  float(cut->u0), float(cut->v0), float(cut->u1), float(cut->v1))};
}

} // namespace kestrovan
