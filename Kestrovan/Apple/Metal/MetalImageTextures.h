// The GPU textures of pictures: kitty images by image id, and the pictures attached to lines by
// picture object.
//
// A kitty image is premultiplied and flipped (texture row 0 is its bottom row) into an RGBA8
// texture once per content generation and size; a line picture is uploaded from its premultiplied
// bitmap, bottom row first. Either becomes no texture at all, and the picture is left out of the
// frame, when it could not be drawn right: a size of 0 or above the device's largest texture, a
// kitty pixel array whose length is not exactly width x height x 4 (it would be read past its end),
// or an upload GL reports failed (an incomplete texture would show as a black rectangle). Kitty
// textures are dropped once their image leaves the frame; line-picture textures are keyed weakly
// and dropped once per frame when their picture has died. Used by the thread that builds the
// renderer's draw data, with the device's context current.
#pragma once

#include "Kestrovan/KittyGraphicsRenderSnapshot.h"
#include "Platform/GPU/Device.h"
#include "Platform/Graphics/NativeImage.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace kestrovan {

/// What a kitty texture was made from: kind 2 (RGBA), size, byte count and content generation.
struct KittyImageSignature
{
    uint8_t kind = 2;
    int64_t width = 0;
    int64_t height = 0;
    int64_t byteCount = 0;
    uint64_t headHash = 0;

    friend bool operator==(const KittyImageSignature&, const KittyImageSignature&) = default;
};

class MetalImageTextures
{
public:
    explicit MetalImageTextures(std::shared_ptr<platform::gpu::Device> device);

    /// The texture of the snapshot's image `imageId`, made on first use and kept while its
    /// signature holds; none when the image is missing or cannot be drawn right (see above).
    std::shared_ptr<platform::gpu::Texture> kittyTexture(uint32_t imageId,
                                                         const KittyGraphicsRenderSnapshot& snapshot);
    /// Drops the textures of images the snapshot no longer has.
    void pruneKittyTextureCache(const KittyGraphicsRenderSnapshot& snapshot);

    /// The texture of a line picture, made on first use and kept while the picture lives.
    std::shared_ptr<platform::gpu::Texture>
    texture(const std::shared_ptr<const platform::NativeImage>& image);
    /// Drops the textures of pictures that have died.
    void pruneLineImageTextures();

    size_t kittyTextureCount() const { return kittyTextures_.size(); }
    size_t lineImageTextureCount() const { return lineImageTextures_.size(); }

private:
    struct KittyEntry
    {
        KittyImageSignature signature;
        std::shared_ptr<platform::gpu::Texture> texture;
    };
    struct LineImageEntry
    {
        std::weak_ptr<const platform::NativeImage> image;
        std::shared_ptr<platform::gpu::Texture> texture;
    };

    /// A texture of `format` filled from `bytes` (rows `width` pixels apart, first row first);
    /// none for a size the device cannot hold or a failed upload.
    std::shared_ptr<platform::gpu::Texture> upload(platform::gpu::TextureFormat format, int64_t width,
                                                   int64_t height, const uint8_t* bytes);

    std::shared_ptr<platform::gpu::Device> device_;
    std::unordered_map<uint32_t, KittyEntry> kittyTextures_;
    std::unordered_map<const platform::NativeImage*, LineImageEntry> lineImageTextures_;
};

} // namespace kestrovan
