#include "Kestrovan/Base64.h"

#include <array>

namespace kestrovan {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/// The 6-bit value of each byte, or 0xFF for a byte outside the alphabet.
constexpr std::array<uint8_t, 256> makeDecodeTable()
{
    std::array<uint8_t, 256> table{};
    table.fill(0xFF);
    for (uint8_t value = 0; value < 64; ++value)
        table[static_cast<uint8_t>(alphabet[value])] = value;
    return table;
}

constexpr std::array<uint8_t, 256> decodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(std::span<const uint8_t> bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t index = 0;
    // Three bytes make four characters; a short last group is padded.
    for (; index + 3 <= bytes.size(); index += 3) {
        const uint32_t group =
            (uint32_t{bytes[index]} << 16) | (uint32_t{bytes[index + 1]} << 8) | bytes[index + 2];
        out += alphabet[(group >> 18) & 0x3F];
        out += alphabet[(group >> 12) & 0x3F];
        out += alphabet[(group >> 6) & 0x3F];
        out += alphabet[group & 0x3F];
    }
    const size_t rest = bytes.size() - index;
    if (rest > 0) {
        uint32_t group = uint32_t{bytes[index]} << 16;
        if (rest == 2)
            group |= uint32_t{bytes[index + 1]} << 8;
        out += alphabet[(group >> 18) & 0x3F];
        out += alphabet[(group >> 12) & 0x3F];
        out += rest == 2 ? alphabet[(group >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64DecodeStrict(std::span<const uint8_t> text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    // Up to two "=" may close the last group; nowhere else.
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    const size_t dataLength = text.size() - padding;

    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    // Sextets are collected and a byte is emitted whenever eight bits are ready. The bits a short
    // last group leaves over are not checked: encoders differ there and the bytes are unaffected.
    uint32_t bits = 0;
    int bitCount = 0;
    for (size_t index = 0; index < dataLength; ++index) {
        // A "=" before the padding lands here too: it is not in the alphabet.
        const uint8_t value = decodeTable[text[index]];
        if (value == 0xFF)
            return std::nullopt;
        bits = (bits << 6) | value;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out.push_back(static_cast<uint8_t>(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    return out;
}

} // namespace kestrovan
