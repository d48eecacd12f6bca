// The platform's image type: a picture the views draw and hosts hand the engine, as NativeColor is
// its colour type. An image never changes once made, so it is shared by pointer to const.
//
// Pixels are 8-bit red, green, blue and alpha with straight (not premultiplied) alpha, rows top
// first: the form the image decoders and the Sixel decoder produce. The drawing layer converts to
// its surface format (cairo's premultiplied ARGB32) at its own edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace platform {

class NativeImage
{
public:
    /// An image of `width` x `height` pixels; null unless both are positive and `rgba` holds
    /// exactly width x height x 4 bytes.
    static std::shared_ptr<const NativeImage> fromRGBA(int width, int height, std::vector<uint8_t> rgba)
    {
        size_t bytes = 0;
        if (width < 1 || height < 1 || __builtin_mul_overflow(size_t(width), size_t(height), &bytes) ||
            __builtin_mul_overflow(bytes, size_t(4), &bytes) || rgba.size() != bytes)
            return nullptr;
        return std::shared_ptr<const NativeImage>(new NativeImage(width, height, std::move(rgba)));
    }

    int width() const { return width_; }
    int height() const { return height_; }
    std::span<const uint8_t> rgba() const { return rgba_; }

private:
    NativeImage(int width, int height, std::vector<uint8_t> rgba)
        : width_(width), height_(height), rgba_(std::move(rgba))
    {}

    int width_;
    int height_;
    std::vector<uint8_t> rgba_;
};

} // namespace platform
