// A square GPU texture into which rasterized glyphs are packed, with a CPU copy of its texels.
//
// Glyphs are packed on shelves, each with a one-texel gutter copied from its edge pixels so that
// bilinear sampling never bleeds into a neighbour. The atlas starts small, doubles up to a maximum
// that depends on the device, and when even the maximum is full it clears itself and says so
// (`didReset`), so that the renderer drops everything that pointed into it. The CPU copy lets a
// growth keep every glyph at its texel position without reading the GPU back, and every upload is
// a rectangle of it (rows one texture width apart). The texture's row 0 is the copy's first row,
// so a texel row r is sampled at v = (r + 0.5) / size.
//
// Not thread-safe: the thread that builds the renderer's draw data uses it, with the device's
// context current.
#pragma once

#include "Kestrovan/Apple/Metal/AtlasRegion.h"
#include "Platform/GPU/Device.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrovan {

enum class GlyphAtlasFormat : uint8_t
{
    /// One byte of coverage per texel.
    grayscale,
    /// Four bytes per texel, blue, green, red, alpha, premultiplied.
    bgra,
};

/// "grayscale" or "bgra", as the log messages name the atlases.
const char* formatName(GlyphAtlasFormat format);

class GlyphAtlas
{
public:
    /// Sides never below this.
    static constexpr int64_t minimumSize = 256;

    /// An atlas starting at max(min(size, maxSize), 256) texels a side that may grow to
    /// max(starting side, maxSize); null when its texture cannot be made.
    static std::shared_ptr<GlyphAtlas> make(std::shared_ptr<platform::gpu::Device> device, int64_t size,
                                            int64_t maxSize, GlyphAtlasFormat format);

    /// The largest side an atlas of `format` should grow to on `device`: `KESTROVAN_ATLAS_MAX`
    /// when it is a decimal integer (at least 256, at most 16384 on a device whose textures reach
    /// 16384 and 8192 on others), otherwise 8192 for grey and 4096 for colour; never above the
    /// device's largest texture.
    static int64_t recommendedMaxSize(const platform::gpu::Device& device, GlyphAtlasFormat format);
    /// The same with the variable's value given (null when unset).
    static int64_t recommendedMaxSize(const platform::gpu::Device::Info& device, GlyphAtlasFormat format,
                                      const char* atlasMaxVariable);

    /// Reserves room for a glyph of `width` x `height` texels, growing or resetting the atlas as
    /// needed; none when the glyph cannot be placed. Sets `didReset` when it had to clear the atlas.
    std::optional<AtlasRegion> ensureRegion(int64_t width, int64_t height);
    /// Enlarges the texture to `newSize` a side, keeping every texel where it was; nothing when it
    /// would not grow, and nothing but a log line when the texture cannot be made.
    void grow(int64_t newSize);
    /// Empties the atlas at its current size.
    void reset();
    /// Copies a bitmap of 4 bytes a pixel (bottom row first, as rasterized) into a region given by
    /// `ensureRegion` for the same size, fills its gutter and uploads the changed rectangle.
    /// Nothing when the sizes differ or `pixels` is shorter than `width` x `height` x 4.
    void write(const AtlasRegion& region, const std::vector<uint8_t>& pixels, int64_t width, int64_t height);

    GlyphAtlasFormat format() const { return format_; }
    int64_t bytesPerPixel() const { return bytesPerPixel_; }
    int64_t maxSize() const { return maxSize_; }
    /// The current side in texels: texture coordinates are texel positions divided by it.
    int64_t size() const { return size_; }
    const std::shared_ptr<platform::gpu::Texture>& texture() const { return texture_; }
    /// The CPU copy of every texel, `size` x `size` x `bytesPerPixel`, first row first.
    const std::vector<uint8_t>& data() const { return data_; }
    bool didReset() const { return didReset_; }
    /// While frozen the atlas never grows or resets; set by the renderer for a frame's last pass.
    bool frozen = false;

private:
    GlyphAtlas(std::shared_ptr<platform::gpu::Device> device, GlyphAtlasFormat format, int64_t size,
               int64_t maxSize, std::shared_ptr<platform::gpu::Texture> texture);

    /// The shelf packer: a region of exactly `width` x `height`, or none.
    std::optional<AtlasRegion> reserve(int64_t width, int64_t height);
    /// Uploads a rectangle of the CPU copy.
    bool upload(int64_t x0, int64_t y0, int64_t x1, int64_t y1);

    std::shared_ptr<platform::gpu::Device> device_;
    GlyphAtlasFormat format_;
    int64_t bytesPerPixel_;
    int64_t maxSize_;
    int64_t size_;
    std::shared_ptr<platform::gpu::Texture> texture_;
    std::vector<uint8_t> data_;
    int64_t nextX_ = 0;
    int64_t nextY_ = 0;
    int64_t rowHeight_ = 0;
    bool didReset_ = false;
    bool loggedFrozenMiss_ = false;
    bool loggedResetOverflow_ = false;
};

} // namespace kestrovan
