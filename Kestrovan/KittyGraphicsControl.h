// The control keys of one kitty graphics command (APC G), and the parser that takes an APC body
// apart into those keys and the still-encoded payload.
//
// The parser only reads keys: it decodes no payload and checks no key against another. Every key
// value is bounded to 32 bits here, so the sums and products the later steps make of them cannot
// overflow a 64-bit integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace kestrovan {

/// The keys of one command, each with its value when the key is absent.
struct KittyGraphicsControl
{
    /// a: t transmit, T transmit and display, q query, p put, d/D delete, f frame, a animate,
    /// c compose.
    uint8_t action = 't';
    /// q: 0 every reply, 1 errors only, 2 none.
    int suppressResponses = 0;
    /// f: 24 RGB, 32 RGBA (0 reads as 32), 100 PNG.
    int64_t format = 32;
    /// t: d direct, f file, t temporary file, s shared memory.
    uint8_t transmission = 'd';
    int64_t width = 0;                         // s
    int64_t height = 0;                        // v
    int64_t cropX = 0;                         // x
    int64_t cropY = 0;                         // y
    int64_t cropWidth = 0;                     // w
    int64_t cropHeight = 0;                    // h
    int64_t dataSize = 0;                      // S
    int64_t dataOffset = 0;                    // O
    std::optional<uint32_t> imageId;           // i
    std::optional<uint32_t> imageNumber;       // I
    std::optional<uint32_t> placementId;       // p
    std::optional<uint32_t> parentImageId;     // P
    std::optional<uint32_t> parentPlacementId; // Q
    int64_t offsetH = 0;                       // H, signed
    int64_t offsetV = 0;                       // V, signed
    int64_t pixelOffsetX = 0;                  // X
    int64_t pixelOffsetY = 0;                  // Y
    int64_t unicodePlaceholder = 0;            // U
    int64_t zIndex = 0;                        // z, signed
    /// m: 1 when more chunks follow (direct medium only).
    int more = 0;
    std::optional<uint8_t> compression; // o
    int64_t columns = 0;                // c
    int64_t rows = 0;                   // r
    int64_t cursorPolicy = 0;           // C
    std::optional<uint8_t> deleteMode;  // d
    /// N: bit 0 marks the image transient.
    uint32_t usage = 0;

    friend bool operator==(const KittyGraphicsControl&, const KittyGraphicsControl&) = default;
};

/// The largest APC body, and the largest payload a chunked transfer may gather.
inline constexpr size_t kittyGraphicsMaximumBodyBytes = 68'157'440;

/// A command's keys and its payload bytes, still encoded; the payload borrows from the body.
using KittyGraphicsParsedCommand = std::pair<KittyGraphicsControl, std::span<const uint8_t>>;

/// Splits an APC body (the bytes after "G") into keys and payload; absent when a key's value is
/// malformed, in which case the whole command is dropped without a reply.
std::optional<KittyGraphicsParsedCommand> parseKittyGraphicsControl(std::span<const uint8_t> body);

/// A chunked transfer in progress: the keys of its first chunk and the payload gathered so far.
struct KittyGraphicsPending
{
    KittyGraphicsControl control;
    std::vector<uint8_t> base64Payload;
};

} // namespace kestrovan
