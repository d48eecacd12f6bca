#include "Platform/Image/Pixbuf/ImageDecoding.h"

#include <algorithm>
#include <cstring>
#include <gdk-pixbuf/gdk-pixbuf.h>

namespace platform {

namespace {

bool withinLimits(int64_t width, int64_t height, const ImageDecodingLimits& limits)
{
    return width >= 1 && height >= 1 && width <= limits.maximumSide && height <= limits.maximumSide &&
           width * height <= limits.maximumPixels;
}

bool isPng(std::span<const uint8_t> data)
{
    static constexpr uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return data.size() >= sizeof signature &&
           std::equal(std::begin(signature), std::end(signature), data.begin());
}

/// A PNG within the limits by its header (the first chunk, IHDR, holds the size), decoded.
std::optional<RgbaImage> decodeLimitedPng(std::span<const uint8_t> data, const ImageDecodingLimits& limits)
{
    if (data.size() < 24 || std::memcmp(data.data() + 12, "IHDR", 4) != 0)
        return std::nullopt;
    const auto bigEndian = [&](size_t at) {
        return (int64_t{data[at]} << 24) | (int64_t{data[at + 1]} << 16) | (int64_t{data[at + 2]} << 8) |
               int64_t{data[at + 3]};
    };
    if (!withinLimits(bigEndian(16), bigEndian(20), limits))
        return std::nullopt;
    return decodePng(data, limits.maximumSide);
}

/// What the loader's size report found.
struct SizeCheck
{
    ImageDecodingLimits limits;
    bool refused = false;
};

/// The loader reports the picture's size from its header, before it takes memory for pixels. A
/// size of 0 x 0 asked back tells it to stop there: the load then fails.
void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data)
{
    auto* check = static_cast<SizeCheck*>(data);
    if (withinLimits(width, height, check->limits))
        return;
    check->refused = true;
    gdk_pixbuf_loader_set_size(loader, 0, 0);
}

/// The pixbuf's pixels as straight-alpha RGBA (gdk-pixbuf keeps alpha straight, and a picture
/// without alpha gets an opaque one).
RgbaImage rgbaOf(GdkPixbuf* pixbuf)
{
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const size_t stride = size_t(gdk_pixbuf_get_rowstride(pixbuf));
    const uint8_t* pixels = gdk_pixbuf_read_pixels(pixbuf);
    RgbaImage image;
    image.width = width;
    image.height = height;
    image.rgba.resize(size_t(width) * size_t(height) * 4);
    uint8_t* out = image.rgba.data();
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = pixels + size_t(y) * stride;
        for (int x = 0; x < width; ++x, in += channels, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = alpha ? in[3] : 255;
        }
    }
    return image;
}

std::optional<RgbaImage> decodeWithLoader(std::span<const uint8_t> data, const ImageDecodingLimits& limits)
{
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    SizeCheck check{limits};
    g_signal_connect(loader, "size-prepared", G_CALLBACK(onSizePrepared), &check);
    // Fed in pieces, so that a refused size stops the loader before it reads the rest.
    constexpr size_t piece = 64 * 1024;
    bool written = true;
    for (size_t at = 0; written && !check.refused && at < data.size(); at += piece) {
        const size_t length = std::min(piece, data.size() - at);
        written = gdk_pixbuf_loader_write(loader, data.data() + at, length, nullptr);
    }
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    std::optional<RgbaImage> image;
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    // A loader that read past an error may hold part of a picture: only a whole one counts.
    if (written && closed && !check.refused && pixbuf && gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 &&
        gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
        gdk_pixbuf_get_n_channels(pixbuf) == (gdk_pixbuf_get_has_alpha(pixbuf) ? 4 : 3) &&
        withinLimits(gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf), limits))
        image = rgbaOf(pixbuf);
    g_object_unref(loader);
    return image;
}

} // namespace

std::optional<RgbaImage> decodeImage(std::span<const uint8_t> data, const ImageDecodingLimits& limits)
{
    if (data.empty())
        return std::nullopt;
    // A broken PNG is not handed on: no other decoder would read it better.
    if (isPng(data))
        return decodeLimitedPng(data, limits);
    return decodeWithLoader(data, limits);
}

} // namespace platform
