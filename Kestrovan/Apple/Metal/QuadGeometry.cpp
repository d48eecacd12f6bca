#include "Kestrovan/Apple/Metal/QuadGeometry.h"

#include <algorithm>
#include <utility>

namespace kestrovan {

bool isDoubleHeight(BufferLine::RenderLineMode mode)
{
    return mode == BufferLine::RenderLineMode::doubledTop || mode == BufferLine::RenderLineMode::doubledDown;
}

Quad transformForLineMode(Quad quad, BufferLine::RenderLineMode mode, double pivotY)
{
    if (mode != BufferLine::RenderLineMode::single) {
        quad.x0 *= 2;
        quad.x1 *= 2;
    }
    if (isDoubleHeight(mode)) {
        quad.y0 = pivotY + 2 * (quad.y0 - pivotY);
        quad.y1 = pivotY + 2 * (quad.y1 - pivotY);
    }
    if (quad.x0 > quad.x1) {
        std::swap(quad.x0, quad.x1);
        std::swap(quad.u0, quad.u1);
    }
    if (quad.y0 > quad.y1) {
        std::swap(quad.y0, quad.y1);
        std::swap(quad.v0, quad.v1);
    }
    return quad;
}

std::optional<Quad> clipRect(const Quad& quad, const std::optional<ClipRect>& clip)
{
    if (!clip)
        return quad;
    const double width = quad.x1 - quad.x0;
    const double height = quad.y1 - quad.y0;
    // Written so that a NaN fails every test and the quad is dropped.
    if (!(width > 0 && height > 0))
        return std::nullopt;
    Quad cut = quad;
    cut.x0 = std::max(quad.x0, double(clip->x0));
    cut.y0 = std::max(quad.y0, double(clip->y0));
    cut.x1 = std::min(quad.x1, double(clip->x1));
    cut.y1 = std::min(quad.y1, double(clip->y1));
    if (!(cut.x1 - cut.x0 > 0 && cut.y1 - cut.y0 > 0))
        return std::nullopt;
    const double du = quad.u1 - quad.u0;
    const double dv = quad.v1 - quad.v0;
    cut.u0 = quad.u0 + du * (cut.x0 - quad.x0) / width;
    cut.u1 = quad.u0 + du * (cut.x1 - quad.x0) / width;
    cut.v0 = quad.v0 + dv * (cut.y0 - quad.y0) / height;
    cut.v1 = quad.v0 + dv * (cut.y1 - quad.y0) / height;
    return cut;
}

} // namespace kestrovan
