// The premultiplied bitmaps of images, converted once and kept for as long as their image lives.
//
// Images come as straight-alpha RGBA (`NativeImage`); cairo draws premultiplied ARGB32. Every
// canvas draws an image through this cache, so the conversion happens once per image however
// often and wherever it is drawn. The key is the image object itself: an entry holds the image
// weakly and is dropped once the image has died, at the next conversion or `purgeDeadImages`.
// Safe to use from any thread; conversions run outside the cache's lock.
#pragma once

#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/NativeImage.h"
#include "Platform/Sync/Mutex.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace platform {

class ImageBitmapCache
{
public:
    ImageBitmapCache() = default;
    ImageBitmapCache(const ImageBitmapCache&) = delete;
    ImageBitmapCache& operator=(const ImageBitmapCache&) = delete;

    /// The process's cache, which canvases use unless they are given another.
    static ImageBitmapCache& shared();

    /// The image as a premultiplied bitmap, converted on first use; null for a null image or one
    /// too large for a bitmap.
    std::shared_ptr<const Bitmap> bitmap(const std::shared_ptr<const NativeImage>& image) EXCLUDES(mutex_);

    /// Drops the bitmaps of images that have died.
    void purgeDeadImages() EXCLUDES(mutex_);

    /// How many bitmaps the cache holds, dead images' included until they are purged.
    size_t count() const EXCLUDES(mutex_);
    /// How many conversions the cache has made.
    uint64_t conversions() const EXCLUDES(mutex_);

private:
    struct Entry
    {
        std::weak_ptr<const NativeImage> image;
        std::shared_ptr<const Bitmap> bitmap;
    };

    void purgeDeadImagesLocked() REQUIRES(mutex_);

    mutable Mutex mutex_;
    std::unordered_map<const NativeImage*, Entry> entries_ GUARDED_BY(mutex_);
    uint64_t conversions_ GUARDED_BY(mutex_) = 0;
};

} // namespace platform
