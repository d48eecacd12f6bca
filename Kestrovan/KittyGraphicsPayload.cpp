// The direct medium, the shared size rules and the pixel decoders of kitty graphics payloads.
#include "Kestrovan/KittyGraphicsPayload.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/KittyGraphicsMedia.h"
#include "Kestrovan/KittyGraphicsZlib.h"
#include "Platform/Image/PngImage.h"

#include <algorithm>
#include <array>

namespace kestrovan {

namespace {

constexpr const char* outOfMemory = "ENOMEM: out of memory";
constexpr const char* frameTooLarge = "EINVAL: frame dimensions exceed image";

bool isValidSide(int64_t side)
{
    return side >= 1 && side <= kittyMaximumImageSide;
}

/// Format 0 is read as 32.
int64_t effectiveFormat(const KittyGraphicsControl& control)
{
    return control.format == 0 ? 32 : control.format;
}

KittyGraphicsPayload makePayload(std::vector<uint8_t> bytes, int64_t width, int64_t height)
{
    return KittyGraphicsPayload{std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), width,
                                height};
}

} // namespace

const std::vector<uint8_t>& KittyGraphicsPayload::rgba() const
{
    static const std::vector<uint8_t> none;
    return bytes ? *bytes : none;
}

bool operator==(const KittyGraphicsPayload& a, const KittyGraphicsPayload& b)
{
    return a.width == b.width && a.height == b.height && (a.bytes == b.bytes || a.rgba() == b.rgba());
}

std::optional<std::vector<uint8_t>> decodeKittyBase64(std::span<const uint8_t> text)
{
    // The strict decoder refuses every byte outside the alphabet (white space included), a length
    // that is not a multiple of four and padding anywhere but at the end.
    if (text.empty())
        return std::nullopt;
    return base64DecodeStrict(text);
}

std::optional<int64_t> kittyExpectedDataSize(const KittyGraphicsControl& control)
{
    if (!isValidSide(control.width) || !isValidSide(control.height))
        return std::nullopt;
    switch (effectiveFormat(control)) {
    case 32:
        return control.width * control.height * 4;
    case 24:
        return control.width * control.height * 3;
    default:
        return std::nullopt;
    }
}

std::optional<int64_t> kittyExpectedImageBytes(const KittyGraphicsControl& control)
{
    // Raw RGB is stored as RGBA, so both raw formats cost four bytes a pixel in the store.
    if (!kittyExpectedDataSize(control))
        return std::nullopt;
    return control.width * control.height * 4;
}

int64_t kittyDecompressionLimit(const KittyGraphicsControl& control,
                                const KittyGraphicsConfiguration& configuration)
{
    const int64_t limit = std::min<int64_t>(configuration.storageLimitBytesPerScreen, kittyMaximumDataBytes);
    const std::optional<int64_t> expected = kittyExpectedDataSize(control);
    if (!expected)
        return limit;
    // An animation frame may carry more than its pixels; everything else needs no more.
    return control.action == 'f' ? std::max(*expected, limit) : std::min(*expected, limit);
}

std::optional<int64_t> kittyDecompressionKeep(const KittyGraphicsControl& control)
{
    if (control.action != 'f')
        return std::nullopt;
    return kittyExpectedDataSize(control);
}

int64_t kittyMediaReadLimit(const KittyGraphicsControl& control,
                            const KittyGraphicsConfiguration& configuration)
{
    if (!control.compression) {
        if (const std::optional<int64_t> expected = kittyExpectedDataSize(control))
            return *expected;
    }
    return std::min<int64_t>(configuration.storageLimitBytesPerScreen, kittyMaximumDataBytes);
}

const char* kittyRawSizeRefusal(const KittyGraphicsControl& control, std::optional<int64_t> maximumImageBytes,
                                std::optional<KittyImageSize> frameImageSize)
{
    const std::optional<int64_t> bytes = kittyExpectedImageBytes(control);
    if (!bytes)
        return nullptr;
    // A raw image larger than the whole quota can never be stored, and a frame larger than its
    // image is refused anyway: neither is inflated, copied or decoded.
    if (maximumImageBytes && *bytes > *maximumImageBytes)
        return outOfMemory;
    if (frameImageSize && (control.width > frameImageSize->width || control.height > frameImageSize->height))
        return frameTooLarge;
    return nullptr;
}

std::optional<std::vector<uint8_t>> decompressKittyData(std::vector<uint8_t> data,
                                                        const KittyGraphicsControl& control,
                                                        const KittyGraphicsConfiguration& configuration)
{
    if (!control.compression)
        return data;
    if (*control.compression != 'z')
        return std::nullopt;
    std::optional<std::vector<uint8_t>> inflated = decompressZlib(
        data, kittyDecompressionLimit(control, configuration), kittyDecompressionKeep(control));
    if (!inflated || static_cast<int64_t>(inflated->size()) > kittyMaximumDataBytes)
        return std::nullopt;
    return inflated;
}

std::optional<KittyGraphicsPayload> decodeKittyPayloadData(const KittyGraphicsControl& control,
                                                           std::span<const uint8_t> rawData,
                                                           std::optional<int64_t> maximumImageBytes,
                                                           const char** refusal,
                                                           std::optional<KittyImageSize> frameImageSize)
{
    if (static_cast<int64_t>(rawData.size()) > kittyMaximumDataBytes)
        return std::nullopt;
    const int64_t format = effectiveFormat(control);
    if (format == 100) {
        // The header tells the image's size, so an image the store could never hold, or a frame
        // larger than its image, is refused before its pixels are inflated.
        if (const std::optional<KittyPngHeader> header = validateKittyPNGHeader(rawData)) {
            const char* refused = nullptr;
            if (maximumImageBytes && header->width * header->height * 4 > *maximumImageBytes)
                refused = outOfMemory;
            else if (frameImageSize &&
                     (header->width > frameImageSize->width || header->height > frameImageSize->height))
                refused = frameTooLarge;
            if (refused) {
                if (refusal)
                    *refusal = refused;
                return std::nullopt;
            }
        }
        return decodePngToRgba(rawData);
    }
    if (format != 24 && format != 32)
        return std::nullopt;
    if (!isValidSide(control.width) || !isValidSide(control.height))
        return std::nullopt;
    const int64_t pixels = control.width * control.height;
    if (format == 32) {
        if (static_cast<int64_t>(rawData.size()) < pixels * 4)
            return std::nullopt;
        return makePayload(std::vector<uint8_t>(rawData.begin(), rawData.begin() + pixels * 4), control.width,
                           control.height);
    }
    if (static_cast<int64_t>(rawData.size()) < pixels * 3)
        return std::nullopt;
    std::vector<uint8_t> rgba(static_cast<size_t>(pixels) * 4);
    const uint8_t* source = rawData.data();
    uint8_t* target = rgba.data();
    for (int64_t pixel = 0; pixel < pixels; ++pixel, source += 3, target += 4) {
        target[0] = source[0];
        target[1] = source[1];
        target[2] = source[2];
        target[3] = 255;
    }
    return makePayload(std::move(rgba), control.width, control.height);
}

KittyPayloadResult decodeKittyPayloadDetailed(const KittyGraphicsControl& control,
                                              std::span<const uint8_t> base64Payload,
                                              const KittyGraphicsConfiguration& configuration,
                                              std::optional<int64_t> maximumImageBytes,
                                              std::optional<KittyImageSize> frameImageSize)
{
    std::optional<std::vector<uint8_t>> decoded = decodeKittyBase64(base64Payload);
    if (!decoded || static_cast<int64_t>(decoded->size()) > kittyMaximumDataBytes)
        return KittyPayloadResult::failure("EINVAL: invalid data");

    const int64_t format = effectiveFormat(control);
    if (format != 24 && format != 32 && format != 100)
        return KittyPayloadResult::failure("EINVAL: unsupported format");
    if (format != 100) {
        if (control.width < 1 || control.height < 1)
            return KittyPayloadResult::failure("EINVAL: dimensions required");
        if (control.width > kittyMaximumImageSide || control.height > kittyMaximumImageSide)
            return KittyPayloadResult::failure("EINVAL: dimensions too large");
        if (const char* refused = kittyRawSizeRefusal(control, maximumImageBytes, frameImageSize))
            return KittyPayloadResult::failure(refused);
    }

    std::vector<uint8_t> data;
    if (!control.compression) {
        data = std::move(*decoded);
    } else if (*control.compression == 'z') {
        std::optional<std::vector<uint8_t>> inflated = decompressZlib(
            *decoded, kittyDecompressionLimit(control, configuration), kittyDecompressionKeep(control));
        if (!inflated || static_cast<int64_t>(inflated->size()) > kittyMaximumDataBytes)
            return KittyPayloadResult::failure("EINVAL: decompression failed");
        data = std::move(*inflated);
    } else {
        return KittyPayloadResult::failure("EINVAL: unsupported format");
    }

    if (format == 100) {
        const char* refused = nullptr;
        std::optional<KittyGraphicsPayload> image =
            decodeKittyPayloadData(control, data, maximumImageBytes, &refused, frameImageSize);
        if (refused)
            return KittyPayloadResult::failure(refused);
        if (!image)
            return KittyPayloadResult::failure("EINVAL: invalid data");
        return {std::move(image), std::nullopt};
    }

    const int64_t needed = control.width * control.height * (format == 24 ? 3 : 4);
    const int64_t have = static_cast<int64_t>(data.size());
    if (have < needed)
        return KittyPayloadResult::failure("ENODATA: insufficient data");
    // Extra bytes are tolerated only in an animation frame, which ignores them.
    if (have > needed && control.action != 'f')
        return KittyPayloadResult::failure("EINVAL: invalid data");
    // RGBA of exactly the right length is the image already: it is kept rather than copied.
    if (format == 32 && have == needed)
        return {makePayload(std::move(data), control.width, control.height), std::nullopt};
    std::optional<KittyGraphicsPayload> image = decodeKittyPayloadData(control, data);
    if (!image)
        return KittyPayloadResult::failure("EINVAL: invalid data");
    return {std::move(image), std::nullopt};
}

KittyPayloadResult loadKittyPayload(const KittyGraphicsControl& control,
                                    std::span<const uint8_t> base64Payload,
                                    const KittyGraphicsConfiguration& configuration,
                                    std::optional<int64_t> maximumImageBytes,
                                    std::optional<KittyImageSize> frameImageSize)
{
    using Policy = KittyGraphicsConfiguration::LocalMediaPolicy;
    const Policy policy = configuration.localMediaPolicy;
    switch (control.transmission) {
    case 'd':
        return decodeKittyPayloadDetailed(control, base64Payload, configuration, maximumImageBytes,
                                          frameImageSize);
    case 'f':
        if (policy.contains(Policy::regularFiles))
            return loadKittyFilePayload(control, base64Payload, configuration, false, maximumImageBytes,
                                        frameImageSize);
        break;
    case 't':
        if (policy.contains(Policy::temporaryFiles) && configuration.trustedTemporaryDirectory)
            return loadKittyFilePayload(control, base64Payload, configuration, true, maximumImageBytes,
                                        frameImageSize);
        break;
    case 's':
        if (policy.contains(Policy::sharedMemory))
            return loadKittySharedMemoryPayload(control, base64Payload, configuration, maximumImageBytes,
                                                frameImageSize);
        break;
    default:
        break;
    }
    return KittyPayloadResult::failure("EINVAL: unsupported medium");
}

std::optional<KittyPngHeader> validateKittyPNGHeader(std::span<const uint8_t> data)
{
    static constexpr std::array<uint8_t, 16> start{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A,
                                                   0x00, 0x00, 0x00, 0x0D, 'I',  'H',  'D',  'R'};
    if (data.size() < 33 || !std::equal(start.begin(), start.end(), data.begin()))
        return std::nullopt;
    auto bigEndian = [&](size_t at) {
        return (int64_t{data[at]} << 24) | (int64_t{data[at + 1]} << 16) | (int64_t{data[at + 2]} << 8) |
               int64_t{data[at + 3]};
    };
    const int64_t width = bigEndian(16);
    const int64_t height = bigEndian(20);
    const int depth = data[24];
    const int colorType = data[25];

    int channels = 0;
    bool depthAllowed = false;
    switch (colorType) {
    case 0: // grey
        channels = 1;
        depthAllowed = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        break;
    case 2: // RGB
        channels = 3;
        depthAllowed = depth == 8 || depth == 16;
        break;
    case 3: // palette
        channels = 1;
        depthAllowed = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        break;
    case 4: // grey and alpha
        channels = 2;
        depthAllowed = depth == 8 || depth == 16;
        break;
    case 6: // RGB and alpha
        channels = 4;
        depthAllowed = depth == 8 || depth == 16;
        break;
    default:
        return std::nullopt;
    }
    if (!depthAllowed || !isValidSide(width) || !isValidSide(height))
        return std::nullopt;
    // The decoder's own working size per pixel: at least the four bytes of the RGBA it yields.
    const int bits = channels * depth;
    const int64_t bytesPerPixel = bits <= 24 ? 4 : (bits + 7) / 8;
    if (width * height > kittyMaximumDataBytes / bytesPerPixel)
        return std::nullopt;
    return KittyPngHeader{width, height};
}

std::optional<KittyGraphicsPayload> decodePngToRgba(std::span<const uint8_t> data)
{
    // Only PNG is decoded: data that does not start with its signature is no image here.
    if (!validateKittyPNGHeader(data))
        return std::nullopt;
    std::optional<platform::RgbaImage> image = platform::decodePng(data, kittyMaximumImageSide);
    if (!image)
        return std::nullopt;
    return makePayload(std::move(image->rgba), image->width, image->height);
}

} // namespace kestrovan
