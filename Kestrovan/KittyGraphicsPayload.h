// Decoded kitty graphics image data, and the loader that turns a command's still-encoded payload
// into it: the medium (direct, file, temporary file, shared memory), the compression and the pixel
// format, with every size bounded before memory is taken for it.
//
// Nothing here touches a terminal: the loader reads the command's keys and the terminal's kitty
// graphics configuration and gives back either an image or the error text of the reply. The file
// and shared-memory media live in KittyGraphicsMedia.cpp, the zlib framing in KittyGraphicsZlib.cpp.
#pragma once

#include "Kestrovan/KittyGraphicsControl.h"
#include "Kestrovan/TerminalOptions.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrovan {

/// Pixel bytes shared between the image store and render snapshots. The store replaces them and
/// never writes into bytes it has handed out, so a snapshot may read them without the lock.
using KittyPixelBytes = std::shared_ptr<const std::vector<uint8_t>>;

/// An image: width x height pixels of red, green, blue and straight alpha, rows top first.
struct KittyGraphicsPayload
{
    KittyPixelBytes bytes;
    int64_t width = 0;
    int64_t height = 0;

    /// The RGBA bytes (an empty list when none are held).
    const std::vector<uint8_t>& rgba() const;
    /// Compares the pixel bytes, not their identity.
    friend bool operator==(const KittyGraphicsPayload& a, const KittyGraphicsPayload& b);
};

/// The outcome of loading a payload: exactly one of the two is set, except that a loader that
/// found nothing to say leaves both empty and the caller picks its own text.
struct KittyPayloadResult
{
    std::optional<KittyGraphicsPayload> payload;
    std::optional<std::string> error;

    static KittyPayloadResult failure(const char* text) { return {std::nullopt, std::string(text)}; }
};

/// The size of the image an animation frame is for: a frame wider or taller is refused with
/// "EINVAL: frame dimensions exceed image" as soon as its size is known, before its data is
/// inflated or decoded.
struct KittyImageSize
{
    int64_t width = 0;
    int64_t height = 0;
};

/// The bound on decoded base64, decompressed data, data handed to a pixel decoder, and file and
/// shared-memory sizes: 400 MiB.
inline constexpr int64_t kittyMaximumDataBytes = 419'430'400;
/// Image sides run from 1 to this many pixels.
inline constexpr int64_t kittyMaximumImageSide = 10'000;

/// Loads the payload of a transmission, query or animation frame by its medium. A transmission
/// passes the screen's quota as `maximumImageBytes`: an image whose RGBA size is known to exceed it
/// is refused with "ENOMEM: out of memory" before its pixels are decoded. An animation frame passes
/// the size of its image as `frameImageSize` (see `KittyImageSize`).
KittyPayloadResult loadKittyPayload(const KittyGraphicsControl& control,
                                    std::span<const uint8_t> base64Payload,
                                    const KittyGraphicsConfiguration& configuration,
                                    std::optional<int64_t> maximumImageBytes = std::nullopt,
                                    std::optional<KittyImageSize> frameImageSize = std::nullopt);

/// The direct medium: the payload is the base64 of the (possibly compressed) image data.
KittyPayloadResult decodeKittyPayloadDetailed(const KittyGraphicsControl& control,
                                              std::span<const uint8_t> base64Payload,
                                              const KittyGraphicsConfiguration& configuration,
                                              std::optional<int64_t> maximumImageBytes = std::nullopt,
                                              std::optional<KittyImageSize> frameImageSize = std::nullopt);

/// Base64 as the protocol allows it: non-empty, only the alphabet and "=", padded; absent otherwise.
std::optional<std::vector<uint8_t>> decodeKittyBase64(std::span<const uint8_t> text);

/// The byte count of raw pixels of the command's format and size; absent for PNG and when either
/// side is outside 1 ... 10000.
std::optional<int64_t> kittyExpectedDataSize(const KittyGraphicsControl& control);

/// The RGBA byte count of the image the command describes, when its keys tell it (raw formats).
std::optional<int64_t> kittyExpectedImageBytes(const KittyGraphicsControl& control);

/// The output limit of decompression for this command under the configuration.
int64_t kittyDecompressionLimit(const KittyGraphicsControl& control,
                                const KittyGraphicsConfiguration& configuration);

/// How much of the decompressed output the command can use: an animation frame uses only the
/// pixels its keys describe and ignores the rest, which is then checked but not kept.
std::optional<int64_t> kittyDecompressionKeep(const KittyGraphicsControl& control);

/// The most bytes a file or shared-memory medium is read for: raw pixels need exactly their size
/// (more is ignored); compressed data and PNG never more than the quota (and 400 MiB).
int64_t kittyMediaReadLimit(const KittyGraphicsControl& control,
                            const KittyGraphicsConfiguration& configuration);

/// Refusals known from the size alone, before data is inflated or decoded: "ENOMEM: out of memory"
/// when a raw image's RGBA would exceed `maximumImageBytes`, "EINVAL: frame dimensions exceed image"
/// when a raw frame is larger than its image. Null when neither applies (or the format is PNG,
/// whose size is known only from its header: see `decodeKittyPayloadData`).
const char* kittyRawSizeRefusal(const KittyGraphicsControl& control, std::optional<int64_t> maximumImageBytes,
                                std::optional<KittyImageSize> frameImageSize);

/// Decompresses by the command's `compression` key (none or "z"); absent on any failure.
std::optional<std::vector<uint8_t>> decompressKittyData(std::vector<uint8_t> data,
                                                        const KittyGraphicsControl& control,
                                                        const KittyGraphicsConfiguration& configuration);

/// Raw RGB or RGBA, or PNG, into an image; absent when the data does not make one. With
/// `maximumImageBytes`, a PNG whose RGBA size would exceed it is refused before it is decoded and
/// `refusal` (when given) is set to "ENOMEM: out of memory"; with `frameImageSize`, a PNG frame
/// larger than its image likewise, with "EINVAL: frame dimensions exceed image".
std::optional<KittyGraphicsPayload>
decodeKittyPayloadData(const KittyGraphicsControl& control, std::span<const uint8_t> rawData,
                       std::optional<int64_t> maximumImageBytes = std::nullopt,
                       const char** refusal = nullptr,
                       std::optional<KittyImageSize> frameImageSize = std::nullopt);

/// The header facts of a PNG that passed `validateKittyPNGHeader`.
struct KittyPngHeader
{
    int64_t width = 0;
    int64_t height = 0;
};

/// Checks the signature, the IHDR chunk, the colour type and depth, and the pixel count.
std::optional<KittyPngHeader> validateKittyPNGHeader(std::span<const uint8_t> data);

/// An encoded image into straight-alpha RGBA (PNG only); absent when it does not decode.
std::optional<KittyGraphicsPayload> decodePngToRgba(std::span<const uint8_t> data);

/// The same decoder under the name the rest of the engine uses for inline images.
inline std::optional<KittyGraphicsPayload> decodeTerminalImage(std::span<const uint8_t> data)
{
    return decodePngToRgba(data);
}

} // namespace kestrovan
