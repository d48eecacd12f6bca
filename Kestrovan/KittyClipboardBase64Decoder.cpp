#include "Kestrovan/KittyClipboardBase64Decoder.h"

#include <algorithm>
#include <array>

namespace kestrovan {

namespace {

// The value of every byte in the standard alphabet; -1 for every other byte.
constexpr std::array<int8_t, 256> makeDecodeTable()
{
    std::array<int8_t, 256> table{};
    table.fill(-1);
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        table[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    return table;
}

constexpr std::array<int8_t, 256> decodeTable = makeDecodeTable();

} // namespace

std::optional<KittyClipboardBase64Decoder::Failure>
KittyClipboardBase64Decoder::append(std::span<const uint8_t> bytes, int64_t remainingLimit)
{
    if (bytes.empty())
        return std::nullopt;
    const int64_t held = static_cast<int64_t>(decoded.size());
    if (held > remainingLimit)
        return Failure::tooLarge;
    const int64_t allowance = remainingLimit - held;

    // Room for this call's output, but never more than the limit lets it write. A write streamed
    // in thousands of small packets grows the buffer geometrically rather than by exact
    // reservations, which would copy the whole buffer on every packet.
    const int64_t expected = std::min<int64_t>(static_cast<int64_t>(bytes.size() / 4 * 3) + 3, allowance + 3);
    const size_t needed = decoded.size() + static_cast<size_t>(expected);
    if (needed > decoded.capacity()) {
        const size_t ceiling = decoded.size() + static_cast<size_t>(allowance) + 3;
        decoded.reserve(std::max(needed, std::min(decoded.capacity() * 2, ceiling)));
    }

    // Output counted against the allowance: only what this call adds.
    auto overLimit = [&] { return static_cast<int64_t>(decoded.size()) - held > allowance; };

    for (const uint8_t c : bytes) {
        if (c != '=') {
            // A data character after padding inside a group cannot be part of valid base64.
            if (padding > 0)
                return Failure::invalid;
            const int8_t value = decodeTable[c];
            if (value < 0)
                return Failure::invalid;
            accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
            if (++quartetCount == 4) {
                decoded.push_back(static_cast<uint8_t>(accumulator >> 16));
                decoded.push_back(static_cast<uint8_t>(accumulator >> 8));
                decoded.push_back(static_cast<uint8_t>(accumulator));
                accumulator = 0;
                quartetCount = 0;
            }
        } else {
            // Padding may only stand for the third and fourth character of a group.
            if (quartetCount < 2)
                return Failure::invalid;
            ++padding;
            ++quartetCount;
            accumulator <<= 6;
            if (quartetCount < 4)
                continue;
            if (padding == 2) {
                // "xx==": one byte; the second character's low four bits are not part of it and
                // must be zero, or the encoding is not the canonical one.
                if (((accumulator >> 12) & 0xF) != 0)
                    return Failure::invalid;
                decoded.push_back(static_cast<uint8_t>(accumulator >> 16));
            } else {
                // "xxx=": two bytes; the third character's low two bits must be zero.
                if (((accumulator >> 6) & 0x3) != 0)
                    return Failure::invalid;
                decoded.push_back(static_cast<uint8_t>(accumulator >> 16));
                decoded.push_back(static_cast<uint8_t>(accumulator >> 8));
            }
            // A new group may follow a padded one: separately padded pieces join.
            accumulator = 0;
            quartetCount = 0;
            padding = 0;
        }
        if (overLimit())
            return Failure::tooLarge;
    }
    return std::nullopt;
}

} // namespace kestrovan
