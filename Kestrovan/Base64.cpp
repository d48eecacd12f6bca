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

    // Whole groups of four characters make three bytes each, written into storage sized up front;
    // a byte outside the alphabet (a "=" before the padding among them) sets the table's 0x80 bit,
    // which one test per group catches.
    std::vector<uint8_t> out(dataLength / 4 * 3 + (dataLength % 4 == 0 ? 0 : dataLength % 4 - 1));
    const uint8_t* in = text.data();
    uint8_t* to = out.data();
    const size_t groups = dataLength / 4;
    for (size_t group = 0; group < groups; ++group, in += 4, to += 3) {
        const uint8_t a = decodeTable[in[0]];
        const uint8_t b = decodeTable[in[1]];
        const uint8_t c = decodeTable[in[2]];
        const uint8_t d = decodeTable[in[3]];
        if ((a | b | c | d) & 0x80)
            return std::nullopt;
        const uint32_t bits = (uint32_t{a} << 18) | (uint32_t{b} << 12) | (uint32_t{c} << 6) | d;
        to[0] = static_cast<uint8_t>(bits >> 16);
        to[1] = static_cast<uint8_t>(bits >> 8);
        to[2] = static_cast<uint8_t>(bits);
    }
    // A padded last group holds two or three characters: one or two bytes. The bits it leaves
    // over are not checked: encoders differ there and the bytes are unaffected.
    const size_t rest = dataLength % 4;
    if (rest != 0) {
        uint32_t bits = 0;
        for (size_t index = 0; index < rest; ++index) {
            const uint8_t value = decodeTable[in[index]];
            if (value == 0xFF)
                return std::nullopt;
            bits = (bits << 6) | value;
        }
        if (rest == 1)
            return std::nullopt;
        bits <<= 6 * (4 - rest);
        to[0] = static_cast<uint8_t>(bits >> 16);
        if (rest == 3)
            to[1] = static_cast<uint8_t>(bits >> 8);
    }
    return out;
}

} // namespace kestrovan
