#include "Kestrovan/Apple/Metal/GlyphAtlas.h"

#include "Platform/Log/Log.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kestrovan {

namespace {

const platform::Logger& atlasLog()
{
    static const platform::Logger logger("org.morvane.Kestrovan", "GPUAtlas");
    return logger;
}

platform::gpu::TextureFormat textureFormat(GlyphAtlasFormat format)
{
    return format == GlyphAtlasFormat::grayscale ? platform::gpu::TextureFormat::r8
                                                 : platform::gpu::TextureFormat::bgra8;
}

/// An optional "+" or "-" and decimal digits only, fitting 64 bits.
std::optional<int64_t> parseDecimal(std::string_view text)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

const char* formatName(GlyphAtlasFormat format)
{
    return format == GlyphAtlasFormat::grayscale ? "grayscale" : "bgra";
}

std::shared_ptr<GlyphAtlas> GlyphAtlas::make(std::shared_ptr<platform::gpu::Device> device, int64_t size,
                                             int64_t maxSize, GlyphAtlasFormat format)
{
    const int64_t start = std::max(std::min(size, maxSize), minimumSize);
    auto texture = device->makeTexture(textureFormat(format), {int(start), int(start)});
    if (!texture)
        return nullptr;
    return std::shared_ptr<GlyphAtlas>(
        new GlyphAtlas(std::move(device), format, start, std::max(start, maxSize), std::move(texture)));
}

GlyphAtlas::GlyphAtlas(std::shared_ptr<platform::gpu::Device> device, GlyphAtlasFormat format, int64_t size,
                       int64_t maxSize, std::shared_ptr<platform::gpu::Texture> texture)
    : device_(std::move(device)), format_(format),
      bytesPerPixel_(format == GlyphAtlasFormat::grayscale ? 1 : 4), maxSize_(maxSize), size_(size),
      texture_(std::move(texture)), data_(size_t(size * size * bytesPerPixel_), 0)
{}

int64_t GlyphAtlas::recommendedMaxSize(const platform::gpu::Device& device, GlyphAtlasFormat format)
{
    return recommendedMaxSize(device.info(), format, std::getenv("KESTROVAN_ATLAS_MAX"));
}

int64_t GlyphAtlas::recommendedMaxSize(const platform::gpu::Device::Info& device, GlyphAtlasFormat format,
                                       const char* atlasMaxVariable)
{
    int64_t result = format == GlyphAtlasFormat::bgra ? 4096 : 8192;
    if (atlasMaxVariable) {
        if (auto value = parseDecimal(atlasMaxVariable)) {
            // A device whose textures reach 16384 texels a side may use that much; others 8192.
            const int64_t ceiling = device.maxTextureSize >= 16384 ? 16384 : 8192;
            result = std::min(std::max(*value, minimumSize), ceiling);
        }
    }
    // No texture can be larger than the device's largest.
    if (device.maxTextureSize > 0)
        result = std::min<int64_t>(result, device.maxTextureSize);
    return result;
}

std::optional<AtlasRegion> GlyphAtlas::reserve(int64_t width, int64_t height)
{
    if (width > size_ || height > size_)
        return std::nullopt;
    if (nextX_ + width > size_) {
        // A new shelf above the current one.
        nextY_ += rowHeight_;
        nextX_ = 0;
        rowHeight_ = 0;
    }
    if (nextY_ + height > size_)
        return std::nullopt;
    const AtlasRegion region{nextX_, nextY_, width, height};
    nextX_ += width;
    rowHeight_ = std::max(rowHeight_, height);
    return region;
}

std::optional<AtlasRegion> GlyphAtlas::ensureRegion(int64_t width, int64_t height)
{
    didReset_ = false;
    if (width < 1 || height < 1)
        return std::nullopt;
    // One texel of gutter on every side.
    const int64_t paddedWidth = width + 2;
    const int64_t paddedHeight = height + 2;
    const auto inner = [&](const AtlasRegion& padded) {
        return AtlasRegion{padded.x + 1, padded.y + 1, width, height};
    };
    if (auto padded = reserve(paddedWidth, paddedHeight))
        return inner(*padded);
    if (frozen) {
        if (!loggedFrozenMiss_) {
            loggedFrozenMiss_ = true;
            atlasLog().logf(platform::LogLevel::error,
                            "glyph atlas (%s) frozen and full; glyphs will be skipped this frame",
                            formatName(format_));
        }
        return std::nullopt;
    }
    if (paddedWidth > maxSize_ || paddedHeight > maxSize_)
        return std::nullopt;
    // The smallest doubling that holds the glyph and the shelves already used, within the maximum.
    int64_t target = size_;
    while (target < maxSize_) {
        if (target >= std::max(paddedWidth, paddedHeight) && target >= nextY_ + paddedHeight)
            break;
        target *= 2;
    }
    target = std::min(target, maxSize_);
    if (target > size_) {
        grow(target);
        if (auto padded = reserve(paddedWidth, paddedHeight))
            return inner(*padded);
    }
    if (!loggedResetOverflow_) {
        loggedResetOverflow_ = true;
        atlasLog().logf(platform::LogLevel::error,
                        "glyph atlas (%s) reset at size %ld: glyph working set exceeds capacity",
                        formatName(format_), long(size_));
    }
    reset();
    didReset_ = true;
    if (auto padded = reserve(paddedWidth, paddedHeight))
        return inner(*padded);
    return std::nullopt;
}

void GlyphAtlas::grow(int64_t newSize)
{
    if (newSize <= size_)
        return;
    auto texture = device_->makeTexture(textureFormat(format_), {int(newSize), int(newSize)});
    std::vector<uint8_t> data;
    if (texture) {
        data.assign(size_t(newSize * newSize * bytesPerPixel_), 0);
        const size_t oldRow = size_t(size_ * bytesPerPixel_);
        const size_t newRow = size_t(newSize * bytesPerPixel_);
        for (int64_t row = 0; row < size_; ++row)
            std::memcpy(data.data() + size_t(row) * newRow, data_.data() + size_t(row) * oldRow, oldRow);
        // The whole texture goes up before the atlas switches to it: a texture whose upload failed
        // would lose every glyph, so it counts as not made.
        if (!device_->replaceRegion(*texture, {0, 0, int(newSize), int(newSize)}, data.data(), newRow))
            texture.reset();
    }
    if (!texture) {
        atlasLog().logf(platform::LogLevel::error, "glyph atlas (%s) grow to %ld failed: texture allocation",
                        formatName(format_), long(newSize));
        return;
    }
    atlasLog().logf(platform::LogLevel::info, "glyph atlas (%s) grow: %ld -> %ld", formatName(format_),
                    long(size_), long(newSize));
    size_ = newSize;
    data_ = std::move(data);
    texture_ = std::move(texture);
    loggedFrozenMiss_ = false;
    loggedResetOverflow_ = false;
}

void GlyphAtlas::reset()
{
    nextX_ = 0;
    nextY_ = 0;
    rowHeight_ = 0;
    std::fill(data_.begin(), data_.end(), uint8_t(0));
    upload(0, 0, size_, size_);
}

void GlyphAtlas::write(const AtlasRegion& region, const std::vector<uint8_t>& pixels, int64_t width,
                       int64_t height)
{
    if (width != region.width || height != region.height || width < 1 || height < 1)
        return;
    if (int64_t(pixels.size()) / 4 / width < height)
        return;
    if (region.x < 0 || region.y < 0 || region.x + width > size_ || region.y + height > size_)
        return;
    const size_t rowBytes = size_t(size_ * bytesPerPixel_);
    const auto texel = [&](int64_t x, int64_t y) {
        return data_.data() + size_t(y) * rowBytes + size_t(x * bytesPerPixel_);
    };
    // The bitmap is bottom row first; the atlas is top row first.
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* source = pixels.data() + size_t((height - 1 - row) * width * 4);
        uint8_t* destination = texel(region.x, region.y + row);
        if (format_ == GlyphAtlasFormat::bgra) {
            std::memcpy(destination, source, size_t(width * 4));
        } else {
            // Alpha is the coverage of a glyph drawn in white.
            for (int64_t x = 0; x < width; ++x)
                destination[x] = source[x * 4 + 3];
        }
    }
    // The gutter repeats the edge pixels, clamped to the atlas.
    const int64_t x = region.x;
    const int64_t y = region.y;
    const int64_t x0 = std::max<int64_t>(x - 1, 0);
    const int64_t x1 = std::min(x + width + 1, size_);
    const int64_t y0 = std::max<int64_t>(y - 1, 0);
    const int64_t y1 = std::min(y + height + 1, size_);
    const size_t glyphRowBytes = size_t(width * bytesPerPixel_);
    if (y0 < y)
        std::memcpy(texel(x, y0), texel(x, y), glyphRowBytes);
    for (int64_t row = y + height; row < y1; ++row)
        std::memcpy(texel(x, row), texel(x, y + height - 1), glyphRowBytes);
    for (int64_t row = y0; row < y1; ++row) {
        for (int64_t column = x0; column < x; ++column)
            std::memcpy(texel(column, row), texel(x, row), size_t(bytesPerPixel_));
        for (int64_t column = x + width; column < x1; ++column)
            std::memcpy(texel(column, row), texel(x + width - 1, row), size_t(bytesPerPixel_));
    }
    upload(x0, y0, x1, y1);
}

bool GlyphAtlas::upload(int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    const size_t rowBytes = size_t(size_ * bytesPerPixel_);
    const uint8_t* first = data_.data() + size_t(y0) * rowBytes + size_t(x0 * bytesPerPixel_);
    return device_->replaceRegion(*texture_, {int(x0), int(y0), int(x1 - x0), int(y1 - y0)}, first, rowBytes);
}

} // namespace kestrovan
