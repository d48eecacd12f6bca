// Small readers the OSC handlers share: viewing payload bytes as text, splitting on a separator
// and the two integer forms payloads use.
//
// Payloads come from programs and are read as they are, without copying: a view returned here is
// valid only as long as the payload it was taken from.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

/// The payload bytes as text, byte for byte.
inline std::string_view payloadText(std::span<const uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

/// The bytes of a piece of text, for the colour and base64 readers that take bytes.
inline std::span<const uint8_t> payloadBytes(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

/// True when every byte is 7-bit ASCII.
bool isAsciiPayload(std::span<const uint8_t> bytes);

/// The OSC 52 selection a program named, as the clipboards terminals define it: the letters c, p,
/// q, s and the digits 0-7, each kept once, in the order they first appear; every other byte is
/// dropped. Nothing left (or nothing named) reads as "c". The result is echoed in read replies, so
/// it can never carry a control or grow with what the program sent.
std::string clipboardSelection(std::string_view named);

/// Whether `splitPayload` keeps the empty pieces between adjacent separators.
enum class EmptyPieces : uint8_t
{
    keep,
    drop,
};

/// The pieces of `text` between the separators; the empty text gives one empty piece when
/// empty pieces are kept and none when they are dropped.
std::vector<std::string_view> splitPayload(std::string_view text, char separator, EmptyPieces empty);

/// A non-empty run of decimal digits that fits an `int`; no sign, nothing else.
std::optional<int> parseDecimalDigits(std::string_view text);

/// A decimal integer with an optional "+" or "-" sign that fits 64 bits; nothing else.
std::optional<int64_t> parseSignedInteger(std::string_view text);

} // namespace kestrovan
