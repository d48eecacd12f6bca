// ImageBitmapCache: lookups by image identity, conversion outside the lock, pruning of the dead.
#include "Platform/Graphics/ImageBitmapCache.h"

namespace platform {

namespace {

/// True when the weak reference names this very image object: the same control block, which the
/// weak reference keeps alive, so a new image at a reused address never matches.
bool refersTo(const std::weak_ptr<const NativeImage>& weak, const std::shared_ptr<const NativeImage>& image)
{
    return !weak.expired() && !weak.owner_before(image) && !image.owner_before(weak);
}

} // namespace

ImageBitmapCache& ImageBitmapCache::shared()
{
    static ImageBitmapCache* cache = new ImageBitmapCache;
    return *cache;
}

std::shared_ptr<const Bitmap> ImageBitmapCache::bitmap(const std::shared_ptr<const NativeImage>& image)
{
    if (!image)
        return nullptr;
    {
        MutexLock lock(mutex_);
        auto found = entries_.find(image.get());
        if (found != entries_.end() && refersTo(found->second.image, image))
            return found->second.bitmap;
    }

    // Converting a large picture takes a while; other threads keep using the cache meanwhile. Two
    // threads converting the same image at once both succeed and the first stored result wins.
    std::optional<Bitmap> converted = Bitmap::fromImage(*image);
    if (!converted)
        return nullptr;
    auto made = std::make_shared<const Bitmap>(std::move(*converted));

    MutexLock lock(mutex_);
    ++conversions_;
    auto found = entries_.find(image.get());
    if (found != entries_.end() && refersTo(found->second.image, image))
        return found->second.bitmap;
    // A new entry is the moment to let go of the pictures of images that have died since.
    purgeDeadImagesLocked();
    entries_[image.get()] = Entry{image, made};
    return made;
}

void ImageBitmapCache::purgeDeadImages()
{
    MutexLock lock(mutex_);
    purgeDeadImagesLocked();
}

void ImageBitmapCache::purgeDeadImagesLocked()
{
    std::erase_if(entries_, [](const auto& entry) { return entry.second.image.expired(); });
}

size_t ImageBitmapCache::count() const
{
    MutexLock lock(mutex_);
    return entries_.size();
}

uint64_t ImageBitmapCache::conversions() const
{
    MutexLock lock(mutex_);
    return conversions_;
}

} // namespace platform
