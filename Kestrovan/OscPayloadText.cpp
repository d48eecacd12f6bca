#include "Kestrovan/OscPayloadText.h"

namespace kestrovan {

bool isAsciiPayload(std::span<const uint8_t> bytes)
{
    for (uint8_t byte : bytes) {
        if (byte >= 0x80)
            return false;
    }
    return true;
}

std::vector<std::string_view> splitPayload(std::string_view text, char separator, EmptyPieces empty)
{
    std::vector<std::string_view> pieces;
    size_t start = 0;
    // Each separator ends one piece; the text after the last one is a piece too.
    while (true) {
        const size_t end = text.find(separator, start);
        const std::string_view piece = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (!piece.empty() || empty == EmptyPieces::keep)
            pieces.push_back(piece);
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

std::optional<int> parseDecimalDigits(std::string_view text)
{
    // The parser's own reading of numbers: a sign or a space makes the text no number at all.
    if (text.empty())
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, c - '0', &value))
            return std::nullopt;
    }
    return value;
}

std::optional<int64_t> parseSignedInteger(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    // Accumulated towards the negative side, which has room for the most negative value.
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, c - '0', &value))
            return std::nullopt;
    }
    if (negative)
        return value;
    if (value == INT64_MIN)
        return std::nullopt;
    return -value;
}

std::string clipboardSelection(std::string_view named)
{
    static constexpr std::string_view defined = "cpqs01234567";
    std::string kept;
    for (const char c : named) {
        if (defined.find(c) != std::string_view::npos && kept.find(c) == std::string::npos)
            kept.push_back(c);
    }
    return kept.empty() ? std::string("c") : kept;
}

} // namespace kestrovan
