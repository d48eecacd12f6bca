// A block of pixels a `Canvas` draws into: a cairo image surface that keeps its pixels until
// they are drawn over or cleared.
//
// Two formats: `argb32`, premultiplied alpha with each pixel one native-endian 32-bit word
// (alpha in the top byte, so the bytes are B, G, R, A on this little-endian machine), and `a8`,
// one coverage byte a pixel, for glyph masks. Pixel addresses here follow the canvas: y-up, so
// `pixel(x, 0)` and `row(0)` are the bottom row. The bytes themselves are stored top row first
// (cairo's order), which is what `data` and `stride` describe. PNG reading and writing are for
// tests and golden images.
#pragma once

#include "Platform/Graphics/NativeImage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

typedef struct _cairo_surface cairo_surface_t;

namespace platform {

enum class PixelFormat
{
    /// Premultiplied alpha, 8 bits each of alpha, red, green and blue in one 32-bit word.
    argb32,
    /// 8 bits of alpha (coverage) only.
    a8,
};

/// One pixel's components as stored: premultiplied, so no component exceeds alpha.
struct PremultipliedPixel
{
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;

    friend bool operator==(const PremultipliedPixel&, const PremultipliedPixel&) = default;
};

class Bitmap
{
public:
    /// The largest side a bitmap may have, cairo's own limit for image surfaces.
    static constexpr int maximumSide = 32767;

    /// A bitmap of `width` x `height` pixels, all transparent; nothing when a side is not between
    /// 1 and `maximumSide` or the memory cannot be had.
    static std::optional<Bitmap> create(int width, int height, PixelFormat format = PixelFormat::argb32);

    /// The image converted to premultiplied `argb32` (its straight-alpha RGBA rows, top first,
    /// become the bitmap's rows with the same picture upright); nothing when it is too large.
    static std::optional<Bitmap> fromImage(const NativeImage& image);

    /// The PNG file at `path` as an `argb32` bitmap; nothing when it cannot be read.
    static std::optional<Bitmap> readPNG(const std::string& path);

    ~Bitmap();
    Bitmap(Bitmap&& other) noexcept;
    Bitmap& operator=(Bitmap&& other) noexcept;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    PixelFormat format() const { return format_; }

    /// The pixel at column `x` of row `y` (0 is the bottom row); transparent outside the bitmap.
    /// An `a8` pixel reads as black with its coverage as alpha.
    PremultipliedPixel pixel(int x, int y) const;

    /// The bytes of row `y` (0 is the bottom row), 4 a pixel for `argb32` and 1 for `a8`; empty
    /// outside the bitmap.
    std::span<const uint8_t> row(int y) const;

    /// Every row, top row first, `stride` bytes apart.
    const uint8_t* data() const;
    int stride() const;

    /// Makes every pixel transparent.
    void clear();

    /// The pixels as a straight-alpha RGBA image (alpha divided back out), for handing a drawn
    /// picture to code that takes images.
    std::shared_ptr<const NativeImage> makeImage() const;

    /// Writes the bitmap as a PNG file; false when it cannot be written.
    bool writePNG(const std::string& path) const;

    /// The cairo surface, for the canvas and the image cache of this layer.
    cairo_surface_t* cairoSurface() const { return surface_; }

private:
    Bitmap(cairo_surface_t* surface, PixelFormat format);

    cairo_surface_t* surface_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    PixelFormat format_ = PixelFormat::argb32;
};

} // namespace platform
