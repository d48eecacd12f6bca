// Decoding a picture of any format the desktop reads into straight-alpha RGBA, for pictures a
// program sends inline.
//
// PNG goes to libpng (`PngImage.h`); every other format to the desktop's image loader, gdk-pixbuf,
// with whatever loaders are installed (JPEG, GIF, BMP, TIFF and more; WebP where its loader is).
// Of an animation only the first frame is decoded. The picture's size is read from its header and
// checked against the limits before the loader takes memory for its pixels, so a small file that
// claims a huge picture costs nothing.
#pragma once

#include "Platform/Image/PngImage.h"

#include <cstdint>
#include <optional>
#include <span>

namespace platform {

/// How large a decoded picture may be.
struct ImageDecodingLimits
{
    /// The longest side, in pixels.
    int maximumSide = 0;
    /// The most pixels, width times height.
    int64_t maximumPixels = 0;
};

/// The picture in `data`; absent when no decoder reads it whole, or when it is larger than
/// `limits`.
std::optional<RgbaImage> decodeImage(std::span<const uint8_t> data, const ImageDecodingLimits& limits);

} // namespace platform
