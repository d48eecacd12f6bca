#include "Platform/UI/BackingStore.h"

#include <cairo.h>
#include <cmath>

namespace platform {

BackingStore::~BackingStore()
{
    if (surface_)
        cairo_surface_destroy(surface_);
}

bool BackingStore::update(UISize size, double scale)
{
    if (!(scale > 0) || !std::isfinite(scale))
        scale = 1;
    const int width = devicePixelsCovering(size.width, scale, maximumSide);
    const int height = devicePixelsCovering(size.height, scale, maximumSide);
    const bool sameSurface = width == pixelWidth_ && height == pixelHeight_ && scale == scale_;
    size_ = size;
    if (sameSurface && (surface_ || width == 0 || height == 0))
        return false;

    if (surface_)
        cairo_surface_destroy(surface_);
    surface_ = nullptr;
    pixelWidth_ = width;
    pixelHeight_ = height;
    scale_ = scale;
    dirty_ = UIRect{};
    if (width == 0 || height == 0)
        return true;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        // Out of memory: show nothing rather than draw into a broken surface.
        cairo_surface_destroy(surface);
        pixelWidth_ = pixelHeight_ = 0;
        return true;
    }
    // Drawing then speaks points; cairo turns them into device pixels.
    cairo_surface_set_device_scale(surface, scale, scale);
    surface_ = surface;
    invalidate();
    return true;
}

void BackingStore::invalidate()
{
    dirty_ = UIRect{0, 0, size_.width, size_.height};
}

void BackingStore::invalidate(const UIRect& rect)
{
    const UIRect visible = rect.intersection(UIRect{0, 0, size_.width, size_.height});
    dirty_ = dirty_.united(visible);
}

bool BackingStore::drawDirty(const std::function<void(const DrawRequest&)>& draw)
{
    if (!surface_ || !isDirty())
        return false;
    const UIRect dirty = dirty_;
    dirty_ = UIRect{};

    cairo_t* context = cairo_create(surface_);
    // The clip is the dirty rectangle widened to whole device pixels, in the surface's y-down
    // points, so antialiased edges at its border are redrawn whole.
    const UIRect flipped = flippedRect(dirty, size_.height);
    const double left = std::floor(flipped.x * scale_) / scale_;
    const double top = std::floor(flipped.y * scale_) / scale_;
    const double right = std::ceil(flipped.maxX() * scale_) / scale_;
    const double bottom = std::ceil(flipped.maxY() * scale_) / scale_;
    cairo_rectangle(context, left, top, right - left, bottom - top);
    cairo_clip(context);

    DrawRequest request;
    request.context = context;
    request.surface = surface_;
    request.dirtyRect = dirty;
    request.size = size_;
    request.scale = scale_;
    draw(request);

    cairo_destroy(context);
    cairo_surface_flush(surface_);
    return true;
}

} // namespace platform
