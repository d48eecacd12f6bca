// The zlib framing (RFC 1950) of compressed kitty graphics payloads around raw DEFLATE (RFC 1951).
//
// The header and the Adler-32 trailer are checked here; zlib inflates the raw stream. The output
// buffer starts small and doubles up to the caller's limit, so a short stream that claims to hold
// a huge image costs only what it really inflates to, and never more than the limit. A caller that
// uses only the first bytes of the output says so, and the rest is checked in a small scratch
// buffer instead of being kept.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrovan {

/// Inflates a zlib stream into at most `limit` bytes (clamped to 400 MiB); absent when the header,
/// the stream or the checksum is bad, when the output would pass the limit, or when it is empty.
/// With `keep`, only the first `keep` bytes of the output are returned, and only they take memory;
/// the whole stream is still checked against the limit and the checksum.
std::optional<std::vector<uint8_t>> decompressZlib(std::span<const uint8_t> data, int64_t limit,
                                                   std::optional<int64_t> keep = std::nullopt);

} // namespace kestrovan
