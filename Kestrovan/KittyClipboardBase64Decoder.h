// The streaming base64 decoder every OSC 5522 payload goes through.
//
// A clipboard write arrives as any number of packets, each cut wherever the program liked, so the
// decoder keeps an unfinished group of four characters from one call to the next and appends to
// one growing buffer; nothing is decoded twice. Each call is given how many bytes it may hold in
// all and fails as soon as a group takes it past that, so a payload far over the limit costs at
// most the limit in memory. The alphabet is strict (RFC 4648, "=" padding, no white space), but
// separately padded pieces may follow each other.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrovan {

struct KittyClipboardBase64Decoder
{
    enum class Failure : uint8_t
    {
        /// A byte outside the alphabet, data after padding, padding too early, or set bits left
        /// over in a padded group.
        invalid,
        /// The output would pass the limit.
        tooLarge,
    };

    /// The bits of the group being read.
    uint32_t accumulator = 0;
    /// Characters taken in the current group of four.
    int quartetCount = 0;
    /// "=" characters taken in the current group.
    int padding = 0;
    /// Everything decoded so far.
    std::vector<uint8_t> decoded;

    /// Decodes `bytes`, continuing an unfinished group. `remainingLimit` is the most `decoded` may
    /// hold; a group that passes it fails with `tooLarge`. On failure the bytes decoded by this call
    /// up to the failing character are kept. An unfinished group at the end is not a failure; the
    /// caller checks `quartetCount` when the stream has ended.
    std::optional<Failure> append(std::span<const uint8_t> bytes, int64_t remainingLimit);

    /// True when the input ended on a group boundary.
    bool isComplete() const { return quartetCount == 0; }
};

} // namespace kestrovan
