// Bitmap: cairo image surfaces, the straight-to-premultiplied conversion of images and back, and
// PNG files for tests.
#include "Platform/Graphics/Bitmap.h"

#include <cairo.h>
#include <cstring>
#include <utility>
#include <vector>

namespace platform {

namespace {

cairo_format_t cairoFormat(PixelFormat format)
{
    return format == PixelFormat::a8 ? CAIRO_FORMAT_A8 : CAIRO_FORMAT_ARGB32;
}

/// x * alpha / 255, rounded to nearest: the premultiplication cairo and pixman use.
uint8_t multiply(uint8_t x, uint8_t alpha)
{
    const unsigned t = unsigned(x) * alpha + 128;
    return uint8_t((t + (t >> 8)) >> 8);
}

/// x * 255 / alpha, rounded to nearest and limited to 255; 0 when alpha is 0.
uint8_t divide(uint8_t x, uint8_t alpha)
{
    if (alpha == 0)
        return 0;
    const unsigned value = (unsigned(x) * 255 + alpha / 2) / alpha;
    return uint8_t(value > 255 ? 255 : value);
}

/// A surface copied onto a new ARGB32 surface, for sources of other formats (RGB24 from an opaque
/// PNG, A8 masks on their way to a PNG).
cairo_surface_t* copyToARGB32(cairo_surface_t* source)
{
    const int width = cairo_image_surface_get_width(source);
    const int height = cairo_image_surface_get_height(source);
    cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS)
        return copy;
    cairo_t* cr = cairo_create(copy);
    if (cairo_image_surface_get_format(source) == CAIRO_FORMAT_A8) {
        // A mask has no colour of its own: show its coverage as black of that alpha.
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_mask_surface(cr, source, 0, 0);
    } else {
        cairo_set_source_surface(cr, source, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(copy);
    return copy;
}

} // namespace

Bitmap::Bitmap(cairo_surface_t* surface, PixelFormat format)
    : surface_(surface), width_(cairo_image_surface_get_width(surface)),
      height_(cairo_image_surface_get_height(surface)), format_(format)
{}

Bitmap::~Bitmap()
{
    if (surface_)
        cairo_surface_destroy(surface_);
}

Bitmap::Bitmap(Bitmap&& other) noexcept
    : surface_(std::exchange(other.surface_, nullptr)), width_(other.width_), height_(other.height_),
      format_(other.format_)
{}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept
{
    if (this != &other) {
        if (surface_)
            cairo_surface_destroy(surface_);
        surface_ = std::exchange(other.surface_, nullptr);
        width_ = other.width_;
        height_ = other.height_;
        format_ = other.format_;
    }
    return *this;
}

std::optional<Bitmap> Bitmap::create(int width, int height, PixelFormat format)
{
    if (width < 1 || height < 1 || width > maximumSide || height > maximumSide)
        return std::nullopt;
    // cairo zero-fills new image surfaces, which is the transparent start a bitmap promises.
    cairo_surface_t* surface = cairo_image_surface_create(cairoFormat(format), width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return std::nullopt;
    }
    return Bitmap(surface, format);
}

std::optional<Bitmap> Bitmap::fromImage(const NativeImage& image)
{
    std::optional<Bitmap> bitmap = create(image.width(), image.height());
    if (!bitmap)
        return std::nullopt;
    cairo_surface_t* surface = bitmap->surface_;
    cairo_surface_flush(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const std::span<const uint8_t> rgba = image.rgba();
    const size_t rowBytes = size_t(image.width()) * 4;
    // Both are stored top row first, so rows copy across in order; only the pixel layout changes.
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* source = rgba.data() + size_t(y) * rowBytes;
        auto* target = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = 0; x < image.width(); ++x, source += 4) {
            const uint8_t alpha = source[3];
            target[x] = uint32_t(alpha) << 24 | uint32_t(multiply(source[0], alpha)) << 16 |
                        uint32_t(multiply(source[1], alpha)) << 8 | multiply(source[2], alpha);
        }
    }
    cairo_surface_mark_dirty(surface);
    return bitmap;
}

std::optional<Bitmap> Bitmap::readPNG(const std::string& path)
{
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return std::nullopt;
    }
    if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
        cairo_surface_t* copy = copyToARGB32(surface);
        cairo_surface_destroy(surface);
        surface = copy;
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return std::nullopt;
        }
    }
    return Bitmap(surface, PixelFormat::argb32);
}

PremultipliedPixel Bitmap::pixel(int x, int y) const
{
    const std::span<const uint8_t> bytes = row(y);
    if (bytes.empty() || x < 0 || x >= width_)
        return {};
    if (format_ == PixelFormat::a8)
        return PremultipliedPixel{0, 0, 0, bytes[size_t(x)]};
    uint32_t word;
    std::memcpy(&word, bytes.data() + size_t(x) * 4, 4);
    return PremultipliedPixel{uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word), uint8_t(word >> 24)};
}

std::span<const uint8_t> Bitmap::row(int y) const
{
    if (!surface_ || y < 0 || y >= height_)
        return {};
    // Pending drawing must reach the pixels before they are read.
    cairo_surface_flush(surface_);
    const size_t bytesPerPixel = format_ == PixelFormat::a8 ? 1 : 4;
    // Row 0 is the bottom row; the surface stores the top row first.
    const size_t storedRow = size_t(height_ - 1 - y);
    return std::span<const uint8_t>(data() + storedRow * size_t(stride()), size_t(width_) * bytesPerPixel);
}

const uint8_t* Bitmap::data() const
{
    cairo_surface_flush(surface_);
    return cairo_image_surface_get_data(surface_);
}

int Bitmap::stride() const
{
    return cairo_image_surface_get_stride(surface_);
}

void Bitmap::clear()
{
    cairo_t* cr = cairo_create(surface_);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_destroy(cr);
}

std::shared_ptr<const NativeImage> Bitmap::makeImage() const
{
    std::vector<uint8_t> rgba(size_t(width_) * size_t(height_) * 4);
    const uint8_t* bytes = data();
    uint8_t* target = rgba.data();
    // Both are stored top row first.
    for (int y = 0; y < height_; ++y) {
        const uint8_t* source = bytes + size_t(y) * size_t(stride());
        for (int x = 0; x < width_; ++x, target += 4) {
            if (format_ == PixelFormat::a8) {
                target[3] = source[x];
                continue;
            }
            uint32_t word;
            std::memcpy(&word, source + size_t(x) * 4, 4);
            const uint8_t alpha = uint8_t(word >> 24);
            target[0] = divide(uint8_t(word >> 16), alpha);
            target[1] = divide(uint8_t(word >> 8), alpha);
            target[2] = divide(uint8_t(word), alpha);
            target[3] = alpha;
        }
    }
    return NativeImage::fromRGBA(width_, height_, std::move(rgba));
}

bool Bitmap::writePNG(const std::string& path) const
{
    if (format_ == PixelFormat::argb32)
        return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_t* copy = copyToARGB32(surface_);
    const bool written = cairo_surface_status(copy) == CAIRO_STATUS_SUCCESS &&
                         cairo_surface_write_to_png(copy, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(copy);
    return written;
}

} // namespace platform
