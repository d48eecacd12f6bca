#include "Kestrovan/Apple/Metal/MetalImageTextures.h"

#include "Kestrovan/Apple/Metal/ImageGeometry.h"
#include "Platform/Graphics/Bitmap.h"

#include <cstring>
#include <vector>

namespace kestrovan {

MetalImageTextures::MetalImageTextures(std::shared_ptr<platform::gpu::Device> device)
    : device_(std::move(device))
{}

std::shared_ptr<platform::gpu::Texture> MetalImageTextures::upload(platform::gpu::TextureFormat format,
                                                                   int64_t width, int64_t height,
                                                                   const uint8_t* bytes)
{
    const int64_t largest = device_->info().maxTextureSize;
    if (width < 1 || height < 1 || width > largest || height > largest)
        return nullptr;
    const platform::gpu::PixelSize size{int(width), int(height)};
    std::shared_ptr<platform::gpu::Texture> texture = device_->makeTexture(format, size);
    if (!texture ||
        !device_->replaceRegion(*texture, {0, 0, size.width, size.height}, bytes, size_t(width) * 4))
        return nullptr;
    return texture;
}

std::shared_ptr<platform::gpu::Texture>
MetalImageTextures::kittyTexture(uint32_t imageId, const KittyGraphicsRenderSnapshot& snapshot)
{
    const auto image = snapshot.imagesById.find(imageId);
    if (image == snapshot.imagesById.end())
        return nullptr;
    const KittyGraphicsRenderImage& found = image->second;
    const std::vector<uint8_t>& rgba = found.pixels();
    const KittyImageSignature signature{2, found.width, found.height, int64_t(rgba.size()),
                                        found.contentGeneration};
    if (const auto cached = kittyTextures_.find(imageId);
        cached != kittyTextures_.end() && cached->second.signature == signature)
        return cached->second.texture;

    // Exactly width x height x 4 bytes, or no texture: a shorter array would be read past its end
    // and a longer one shows pixels of some other shape.
    const int64_t largest = device_->info().maxTextureSize;
    size_t expected = 0;
    if (found.width < 1 || found.height < 1 || found.width > largest || found.height > largest ||
        __builtin_mul_overflow(size_t(found.width), size_t(found.height), &expected) ||
        __builtin_mul_overflow(expected, size_t(4), &expected) || expected != rgba.size()) {
        kittyTextures_.erase(imageId);
        return nullptr;
    }
    const std::vector<uint8_t> premultiplied =
        kittyPremultipliedRGBA(rgba, found.width, found.height, /*flipVertically=*/true);
    std::shared_ptr<platform::gpu::Texture> texture =
        upload(platform::gpu::TextureFormat::rgba8, found.width, found.height, premultiplied.data());
    if (!texture) {
        kittyTextures_.erase(imageId);
        return nullptr;
    }
    kittyTextures_[imageId] = KittyEntry{signature, texture};
    return texture;
}

void MetalImageTextures::pruneKittyTextureCache(const KittyGraphicsRenderSnapshot& snapshot)
{
    std::erase_if(kittyTextures_,
                  [&](const auto& entry) { return !snapshot.imagesById.contains(entry.first); });
}

std::shared_ptr<platform::gpu::Texture>
MetalImageTextures::texture(const std::shared_ptr<const platform::NativeImage>& image)
{
    if (!image)
        return nullptr;
    // An entry whose picture died may share its address with a new one: it counts only while its
    // weak reference still leads to this very picture.
    if (const auto cached = lineImageTextures_.find(image.get());
        cached != lineImageTextures_.end() && cached->second.image.lock() == image)
        return cached->second.texture;
    const int64_t largest = device_->info().maxTextureSize;
    if (image->width() > largest || image->height() > largest)
        return nullptr;
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::fromImage(*image);
    if (!bitmap)
        return nullptr;
    // The bitmap's premultiplied blue-green-red-alpha rows, bottom row first, so that texture
    // row 0 is the picture's bottom row as the quads expect.
    const size_t rowBytes = size_t(bitmap->width()) * 4;
    std::vector<uint8_t> rows(rowBytes * size_t(bitmap->height()));
    for (int y = 0; y < bitmap->height(); ++y)
        std::memcpy(rows.data() + size_t(y) * rowBytes, bitmap->row(y).data(), rowBytes);
    std::shared_ptr<platform::gpu::Texture> texture =
        upload(platform::gpu::TextureFormat::bgra8, bitmap->width(), bitmap->height(), rows.data());
    if (texture)
        lineImageTextures_[image.get()] = LineImageEntry{image, texture};
    return texture;
}

void MetalImageTextures::pruneLineImageTextures()
{
    std::erase_if(lineImageTextures_, [](const auto& entry) { return entry.second.image.expired(); });
}

} // namespace kestrovan
