#include "Kestrovan/Utf8.h"

namespace kestrovan {

void appendUtf8(std::string& out, char32_t scalar)
{
    if (scalar > 0x10FFFF)
        scalar = 0xFFFD;
    if (scalar < 0x80) {
        out.push_back(static_cast<char>(scalar));
    } else if (scalar < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else if (scalar < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    }
}

std::string utf8String(std::u32string_view scalars)
{
    std::string out;
    out.reserve(scalars.size());
    for (char32_t scalar : scalars)
        appendUtf8(out, isValidScalar(scalar) ? scalar : U'\uFFFD');
    return out;
}

std::u32string decodeUtf8(std::string_view bytes)
{
    std::u32string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t value = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, value = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, value = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, value = lead & 0x07, minimum = 0x10000;
        } else {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        // Consume continuation bytes while they are valid; stop at the first one that is not, so
        // that it starts the next sequence.
        size_t consumed = 1;
        while (consumed < length && i + consumed < bytes.size()) {
            auto next = static_cast<unsigned char>(bytes[i + consumed]);
            if ((next & 0xC0) != 0x80)
                break;
            value = (value << 6) | (next & 0x3F);
            ++consumed;
        }
        if (consumed == length && value >= minimum && isValidScalar(value))
            out.push_back(value);
        else
            out.push_back(U'\uFFFD');
        i += consumed;
    }
    return out;
}

bool isValidUtf8(std::span<const uint8_t> bytes)
{
    size_t index = 0;
    while (index < bytes.size()) {
        const uint8_t lead = bytes[index];
        if (lead < 0x80) {
            ++index;
            continue;
        }
        size_t length;
        char32_t value;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - index < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = bytes[index + k];
            if ((next & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3F);
        }
        const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (value < minimum || !isValidScalar(value))
            return false;
        index += length;
    }
    return true;
}

} // namespace kestrovan
