#include "Kestrovan/Attribute.h"

#include <cstdio>

namespace kestrovan {

namespace {

// Appends the parameters of one colour role. `base` is 3 (foreground) or 4 (background): the
// eight base colours use base·10 + n, the bright ones (base + 6)·10 + n (90-97 and 100-107), and
// the rest go through the extended form base·10 + 8 (38 or 48).
void appendColor(std::string& out, Attribute::Color color, int base)
{
    char text[32];
    int length = 0;
    const int extended = base * 10 + 8;
    if (color.isTrueColor()) {
        length = std::snprintf(text, sizeof text, ";%d;2;%u;%u;%u", extended, unsigned(color.red()),
                               unsigned(color.green()), unsigned(color.blue()));
    } else if (color.isAnsi256()) {
        const unsigned code = color.code();
        if (code < 8)
            length = std::snprintf(text, sizeof text, ";%d%u", base, code);
        else if (code < 16)
            length = std::snprintf(text, sizeof text, ";%d%u", base == 3 ? 9 : 10, code - 8);
        else
            length = std::snprintf(text, sizeof text, ";%d;5;%u", extended, code);
    }
    // The two default colours write nothing: the leading reset already restored them.
    out.append(text, length > 0 ? static_cast<size_t>(length) : 0);
}

// A 64-bit FNV-1a step; cheap, and good enough for the hash tables attributes land in.
constexpr uint64_t fnvPrime = 0x100000001B3ull;
constexpr uint64_t fnvOffset = 0xCBF29CE484222325ull;

inline void feed(uint64_t& hash, uint8_t byte)
{
    hash = (hash ^ byte) * fnvPrime;
}

inline void feedColor(uint64_t& hash, Attribute::Color color)
{
    feed(hash, static_cast<uint8_t>(color.kind()));
    if (color.isAnsi256()) {
        feed(hash, color.code());
    } else if (color.isTrueColor()) {
        feed(hash, color.red());
        feed(hash, color.green());
        feed(hash, color.blue());
    }
}

} // namespace

std::string Attribute::toSgr() const
{
    std::string out = "0";
    // Only these five bits have a reply form; dim, italic, crossed-out and the underline
    // style and colour are not written.
    if (style.contains(CharacterStyle::bold))
        out += ";1";
    if (style.contains(CharacterStyle::underline))
        out += ";4";
    if (style.contains(CharacterStyle::blink))
        out += ";5";
    if (style.contains(CharacterStyle::inverse))
        out += ";7";
    if (style.contains(CharacterStyle::invisible))
        out += ";8";
    appendColor(out, fg, 3);
    appendColor(out, bg, 4);
    out += 'm';
    return out;
}

size_t Attribute::hashValue() const
{
    uint64_t hash = fnvOffset;
    feedColor(hash, fg);
    feedColor(hash, bg);
    feed(hash, style.rawValue);
    feed(hash, static_cast<uint8_t>(underlineStyle));
    feed(hash, underlineColor ? 1 : 0);
    if (underlineColor)
        feedColor(hash, *underlineColor);
    return static_cast<size_t>(hash);
}

} // namespace kestrovan
