// BackingStore: a kept bitmap, the accumulated dirty rectangle and the clipped frame canvas.
#include "Platform/Graphics/BackingStore.h"

#include "Platform/Graphics/DevicePixels.h"

#include <cmath>

namespace platform {

namespace {

/// Pixels along one side: the points at the scale rounded up, at least 1 and within a bitmap's
/// limit (a larger view is not drawable at all, and `Bitmap::create` refuses it).
int pixelsFor(double points, double scale)
{
    const double pixels = std::ceil(points * scale);
    if (!(pixels >= 1))
        return 1;
    return pixels > Bitmap::maximumSide ? Bitmap::maximumSide + 1 : int(pixels);
}

} // namespace

bool BackingStore::resize(Size size, double scale)
{
    if (!isUsableScale(scale))
        scale = 1;
    const int width = pixelsFor(size.width, scale);
    const int height = pixelsFor(size.height, scale);
    size_ = size;
    if (bitmap_ && scale == scale_ && bitmap_->width() == width && bitmap_->height() == height)
        return true;
    scale_ = scale;
    bitmap_ = Bitmap::create(width, height);
    invalidateAll();
    return false;
}

void BackingStore::invalidate(const Rect& rect)
{
    if (rect.isFinite())
        dirty_ = dirty_.united(rect);
}

void BackingStore::invalidateAll()
{
    dirty_ = Rect{0, 0, size_.width, size_.height};
}

Rect BackingStore::dirtyRect() const
{
    if (!bitmap_)
        return Rect{};
    // Whole device pixels: a clip edge through the middle of a pixel would blend the new frame
    // into the old one there.
    const Rect bounds{0, 0, bitmap_->width() / scale_, bitmap_->height() / scale_};
    return snapOutward(dirty_, scale_).intersection(bounds);
}

std::optional<Canvas> BackingStore::beginFrame()
{
    if (!bitmap_)
        return std::nullopt;
    const Rect dirty = dirtyRect();
    dirty_ = Rect{};
    Canvas canvas(*bitmap_, scale_);
    canvas.clip(dirty);
    return canvas;
}

} // namespace platform
