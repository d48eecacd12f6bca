// Standard base64 (RFC 4648 alphabet, with padding) for the OSC payloads that carry binary data:
// clipboard contents (OSC 52) and inline files (OSC 1337).
//
// Decoding is strict because the input comes from programs: any byte outside the alphabet, white
// space included, a length that is not a multiple of four, or padding anywhere but at the end
// rejects the whole text rather than decoding part of it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrovan {

/// The base64 text of `bytes`, padded with "=" to a multiple of four characters.
std::string base64Encode(std::span<const uint8_t> bytes);

/// The bytes of strict base64 text; absent when the text is not well formed. The empty text
/// decodes to no bytes.
std::optional<std::vector<uint8_t>> base64DecodeStrict(std::span<const uint8_t> text);

} // namespace kestrovan
