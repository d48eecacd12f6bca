#include "Platform/Image/PngImage.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <png.h>

namespace platform {

namespace {

/// The bytes libpng has still to read.
struct ReadSource
{
    std::span<const uint8_t> data;
    size_t offset = 0;
};

void readFromSpan(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<ReadSource*>(png_get_io_ptr(png));
    if (length > source->data.size() - source->offset) {
        png_error(png, "truncated PNG data");
        return;
    }
    std::memcpy(out, source->data.data() + source->offset, length);
    source->offset += length;
}

/// libpng reports errors by a long jump back into the decoder; warnings are dropped.
void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

/// The structures of one read, freed on every exit path.
struct ReadStructs
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    /// Row pointers of an interlaced image; owned here so that a long jump cannot leak them.
    std::vector<png_bytep> rows;
    ~ReadStructs() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

/// Decodes after the structures are set up. Kept apart so that no object with a destructor lives
/// in the frame that `setjmp` marks.
bool decodeInto(ReadStructs& structs, ReadSource& source, int maximumSide, RgbaImage& image)
{
    png_structp png = structs.png;
    png_infop info = structs.info;
    if (setjmp(png_jmpbuf(png)))
        return false;

    png_set_read_fn(png, &source, readFromSpan);
    // The header's sides are checked by libpng before any pixel memory is taken; ancillary chunks
    // are capped so that text or profile chunks cannot take memory of their own.
    png_set_user_limits(png, static_cast<png_uint_32>(maximumSide), static_cast<png_uint_32>(maximumSide));
    png_set_chunk_cache_max(png, 128);
    png_set_chunk_malloc_max(png, 8 << 20);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);

    // Every layout becomes 8-bit RGBA with straight alpha.
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (depth == 16)
        png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4)
        return false;

    const size_t rowBytes = static_cast<size_t>(width) * 4;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    if (passes == 1) {
        // Rows are appended as they decode: a stream cut short has only taken memory for the rows
        // it held when libpng gives up.
        image.rgba.reserve(rowBytes * height);
        for (png_uint_32 row = 0; row < height; ++row) {
            image.rgba.resize(image.rgba.size() + rowBytes);
            png_read_row(png, image.rgba.data() + image.rgba.size() - rowBytes, nullptr);
        }
    } else {
        // Interlaced passes revisit every row, so the whole image is needed from the start.
        image.rgba.assign(rowBytes * height, 0);
        structs.rows.resize(height);
        for (png_uint_32 row = 0; row < height; ++row)
            structs.rows[row] = image.rgba.data() + rowBytes * row;
        png_read_image(png, structs.rows.data());
    }
    png_read_end(png, nullptr);
    return true;
}

/// The bytes libpng writes, gathered.
void writeToVector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

} // namespace

std::optional<RgbaImage> decodePng(std::span<const uint8_t> data, int maximumSide)
{
    if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0)
        return std::nullopt;
    ReadStructs structs;
    structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!structs.png)
        return std::nullopt;
    structs.info = png_create_info_struct(structs.png);
    if (!structs.info)
        return std::nullopt;
    ReadSource source{data, 0};
    RgbaImage image;
    if (!decodeInto(structs, source, maximumSide, image))
        return std::nullopt;
    return image;
}

std::vector<uint8_t> encodePng(std::span<const uint8_t> rgba, int width, int height)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png)
        return out;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return {};
    }
    png_set_write_fn(png, &out, writeToVector, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = 0; row < height; ++row)
        png_write_row(png, const_cast<png_bytep>(rgba.data() + static_cast<size_t>(row) * width * 4));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace platform
