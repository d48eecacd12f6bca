#include "Kestrovan/Color.h"

#include "Kestrovan/Fatal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrovan {

namespace {

/// A palette entry from its 8-bit red, green and blue written as one 0xrrggbb number.
constexpr Color hex(uint32_t rgb)
{
    return Color::fromRed8((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
}

/// The value of an ASCII hexadecimal digit, or nothing for any other byte.
std::optional<uint32_t> hexDigitValue(uint8_t byte)
{
    if (byte >= '0' && byte <= '9')
        return byte - '0';
    if (byte >= 'a' && byte <= 'f')
        return byte - 'a' + 10;
    if (byte >= 'A' && byte <= 'F')
        return byte - 'A' + 10;
    return std::nullopt;
}

bool isHexDigit(char c)
{
    return hexDigitValue(static_cast<uint8_t>(c)).has_value();
}

/// Widens a component read from `digits` hexadecimal digits to 16 bits.
uint16_t widenComponent(uint32_t value, size_t digits)
{
    switch (digits) {
    case 1: {
        // One digit repeats in both bytes' high nibbles: f becomes f0f0, as X11 does, not ffff.
        uint32_t widened = value * 0x1010;
        KESTROVAN_ASSERT(widened <= 0xffff, "Color: a one-digit component does not fit 16 bits");
        return static_cast<uint16_t>(widened);
    }
    case 2:
        return static_cast<uint16_t>(std::min<uint32_t>(value, 255) * 257);
    case 3:
        // The twelve bits given are the channel's top twelve; the lowest four repeat the top four,
        // so 000 stays 0000 and fff reaches ffff, spreading the 4096 values over the whole range
        // the way v x 257 does for two digits.
        return static_cast<uint16_t>(((value & 0xfff) << 4) | ((value & 0xfff) >> 8));
    default:
        return static_cast<uint16_t>(value & 0xffff);
    }
}

// The sRGB transfer function and its inverse, on values in 0-1.
double linearise(double c)
{
    return c > 0.04045 ? std::pow((c + 0.055) / 1.055, 2.4) : c / 12.92;
}

double encode(double c)
{
    return c > 0.0031308 ? 1.055 * std::pow(c, 1.0 / 2.4) - 0.055 : 12.92 * c;
}

// D65 reference white, by which X and Z are normalised.
constexpr double whiteX = 0.95047;
constexpr double whiteZ = 1.08883;

// The CIELAB companding function and its inverse: a cube root with a linear toe near black.
double labF(double t)
{
    return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0;
}

double labFInverse(double f)
{
    double cube = f * f * f;
    return cube > 0.008856 ? cube : (f - 16.0 / 116.0) / 7.787;
}

/// One channel from linear light back to a 16-bit value on the 8-bit grid.
uint16_t channelFromLinear(double linear)
{
    double c = std::clamp(encode(linear), 0.0, 1.0);
    // Infinities clamp to an end of the range; only a NaN gets through, and finite Lab input
    // never makes one.
    KESTROVAN_ASSERT(!std::isnan(c), "Color: a CIELAB conversion gave a non-finite value");
    auto value8 = std::min(static_cast<unsigned>(c * 255.0 + 0.5), 255u);
    return static_cast<uint16_t>(value8 * 257);
}

Color::LabColor mix(const Color::LabColor& p, const Color::LabColor& q, double t)
{
    return {p.l + (q.l - p.l) * t, p.a + (q.a - p.a) * t, p.b + (q.b - p.b) * t};
}

// The six intensity levels of each axis of the xterm colour cube.
constexpr std::array<uint16_t, 6> cubeLevels = {0, 95, 135, 175, 215, 255};

} // namespace

const std::array<Color, 16>& Color::xtermColors()
{
    static const std::array<Color, 16> colors = {
        hex(0x000000), hex(0xcd0000), hex(0x00cd00), hex(0xcdcd00), hex(0x0000ee), hex(0xcd00cd),
        hex(0x00cdcd), hex(0xe5e5e5), hex(0x7f7f7f), hex(0xff0000), hex(0x00ff00), hex(0xffff00),
        hex(0x5c5cff), hex(0xff00ff), hex(0x00ffff), hex(0xffffff),
    };
    return colors;
}

const std::array<Color, 16>& Color::vgaColors()
{
    static const std::array<Color, 16> colors = {
        hex(0x000000), hex(0xaa0000), hex(0x00aa00), hex(0xaa5500), hex(0x0000aa), hex(0xaa00aa),
        hex(0x00aaaa), hex(0xaaaaaa), hex(0x555555), hex(0xff5555), hex(0x55ff55), hex(0xffff55),
        hex(0x5555ff), hex(0xff55ff), hex(0x55ffff), hex(0xffffff),
    };
    return colors;
}

const std::array<Color, 16>& Color::paleColors()
{
    static const std::array<Color, 16> colors = {
        hex(0x2e3436), hex(0xcc0000), hex(0x4e9a06), hex(0xc4a000), hex(0x3465a4), hex(0x75507b),
        hex(0x06989a), hex(0xd3d7cf), hex(0x555753), hex(0xef2929), hex(0x8ae234), hex(0xfce94f),
        hex(0x729fcf), hex(0xad7fa8), hex(0x34e2e2), hex(0xeeeeec),
    };
    return colors;
}

const std::array<Color, 16>& Color::terminalAppColors()
{
    static const std::array<Color, 16> colors = {
        hex(0x000000), hex(0xc23621), hex(0x25bc24), hex(0xadad27), hex(0x492ee1), hex(0xd338d3),
        hex(0x33bbc8), hex(0xcbcccd), hex(0x818383), hex(0xfc391f), hex(0x31e722), hex(0xeaec23),
        hex(0x5833ff), hex(0xf935f8), hex(0x14f0f0), hex(0xe9ebeb),
    };
    return colors;
}

const std::array<Color, 16>& Color::defaultInstalledColors()
{
    static const std::array<Color, 16> colors = {
        hex(0x000000), hex(0x990001), hex(0x00a603), hex(0x999900), hex(0x0300b2), hex(0xb200b2),
        hex(0x00a5b2), hex(0xbfbfbf), hex(0x8a898a), hex(0xe50001), hex(0x00d800), hex(0xe5e500),
        hex(0x0700fe), hex(0xe500e5), hex(0x00e5e5), hex(0xe5e5e5),
    };
    return colors;
}

std::vector<Color> Color::generateXtermPalette(std::span<const Color> initialColors)
{
    std::vector<Color> palette(initialColors.begin(), initialColors.end());
    palette.reserve(initialColors.size() + 240);
    // Entry 16 + 36r + 6g + b of the cube.
    for (int i = 0; i < 216; ++i)
        palette.push_back(Color::fromRed8(cubeLevels[i / 36 % 6], cubeLevels[i / 6 % 6], cubeLevels[i % 6]));
    // The greys skip black and white, which the cube already has: 8, 18, ..., 238.
    for (int i = 0; i < 24; ++i) {
        auto level = static_cast<uint16_t>(10 * i + 8);
        palette.push_back(Color::fromRed8(level, level, level));
    }
    return palette;
}

std::vector<Color> Color::generateBase16LabPalette(std::span<const Color> initialColors,
                                                   std::optional<Color> backgroundColor,
                                                   std::optional<Color> foregroundColor, bool harmonious)
{
    // The interpolation needs the eight normal colours as the cube's corners.
    if (initialColors.size() < 8)
        return generateXtermPalette(initialColors);

    std::array<LabColor, 8> base;
    for (size_t i = 0; i < 8; ++i)
        base[i] = initialColors[i].toLab();
    if (backgroundColor)
        base[0] = backgroundColor->toLab();
    if (foregroundColor)
        base[7] = foregroundColor->toLab();
    // Programs that use the 256-colour cube expect it to run from dark (16) to light (231). A light
    // theme inverts that unless the caller asked for colours that follow the theme.
    if (!harmonious && base[7].l < base[0].l)
        std::swap(base[0], base[7]);

    std::vector<Color> palette(initialColors.begin(), initialColors.end());
    palette.reserve(initialColors.size() + 240);
    // Trilinear interpolation over the cube whose corners are the eight base colours: red picks
    // between the pairs (0,1), (2,3), (4,5), (6,7), green between the first two and the last two
    // results, blue between those.
    for (int r = 0; r < 6; ++r) {
        double tr = r / 5.0;
        LabColor c0 = mix(base[0], base[1], tr);
        LabColor c1 = mix(base[2], base[3], tr);
        LabColor c2 = mix(base[4], base[5], tr);
        LabColor c3 = mix(base[6], base[7], tr);
        for (int g = 0; g < 6; ++g) {
            double tg = g / 5.0;
            LabColor c4 = mix(c0, c1, tg);
            LabColor c5 = mix(c2, c3, tg);
            for (int b = 0; b < 6; ++b)
                palette.push_back(fromLab(mix(c4, c5, b / 5.0)));
        }
    }
    // 24 greys strictly between the ends, the ends themselves being cube entries.
    for (int k = 1; k <= 24; ++k)
        palette.push_back(fromLab(mix(base[0], base[7], k / 25.0)));
    return palette;
}

Color::LabColor Color::toLab() const
{
    // Each channel goes through the 8-bit grid first, so the Lab values match what an 8-bit colour
    // picker shows and a round trip of an 8-bit colour comes back exactly.
    auto unit = [](uint16_t channel) {
        double value8 = std::min(std::round(channel / 65535.0 * 255.0), 255.0);
        return linearise(value8 / 255.0);
    };
    double r = unit(red_);
    double g = unit(green_);
    double b = unit(blue_);

    double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / whiteX;
    double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / whiteZ;

    double fx = labF(x);
    double fy = labF(y);
    double fz = labF(z);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

Color Color::fromLab(const LabColor& lab)
{
    double fy = (lab.l + 16.0) / 116.0;
    double fx = fy + lab.a / 500.0;
    double fz = fy - lab.b / 200.0;

    double x = labFInverse(fx) * whiteX;
    double y = labFInverse(fy);
    double z = labFInverse(fz) * whiteZ;

    double r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
    double g = -0.9692660 * x + 1.8760108 * y + 0.0415560 * z;
    double b = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
    return Color(channelFromLinear(r), channelFromLinear(g), channelFromLinear(b));
}

std::optional<Color> Color::parseColor(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return std::nullopt;

    if (bytes[0] == '#') {
        // "#" and three equal groups of 1-4 digits: #rgb, #rrggbb, #rrrgggbbb, #rrrrggggbbbb.
        size_t digitCount = bytes.size() - 1;
        if (digitCount != 3 && digitCount != 6 && digitCount != 9 && digitCount != 12)
            return std::nullopt;
        size_t groupSize = digitCount / 3;
        std::array<uint16_t, 3> channels{};
        for (size_t group = 0; group < 3; ++group) {
            // A byte that is not a hex digit ends the group's number; what was read so far stands.
            uint32_t value = 0;
            for (size_t i = 0; i < groupSize; ++i) {
                auto digit = hexDigitValue(bytes[1 + group * groupSize + i]);
                if (!digit)
                    break;
                value = value * 16 + *digit;
            }
            channels[group] = widenComponent(value, groupSize);
        }
        return Color(channels[0], channels[1], channels[2]);
    }

    static constexpr std::string_view rgbPrefix = "rgb:";
    if (bytes.size() >= rgbPrefix.size() && std::equal(rgbPrefix.begin(), rgbPrefix.end(), bytes.begin())) {
        // Three components of up to four digits each. A component ends at its first non-digit or
        // after four digits, so a fifth digit starts the next component; one "/" after a
        // component is skipped.
        size_t position = rgbPrefix.size();
        std::array<uint32_t, 3> values{};
        size_t widestDigits = 0;
        for (size_t component = 0; component < 3; ++component) {
            size_t digits = 0;
            while (position < bytes.size() && digits < 4) {
                auto digit = hexDigitValue(bytes[position]);
                if (!digit)
                    break;
                values[component] = values[component] * 16 + *digit;
                ++position;
                ++digits;
            }
            if (position < bytes.size() && bytes[position] == '/')
                ++position;
            widestDigits = std::max(widestDigits, digits);
        }
        if (widestDigits == 0)
            return std::nullopt;
        // All three are widened as if they had as many digits as the longest one, as X11 does.
        return Color(widenComponent(values[0], widestDigits), widenComponent(values[1], widestDigits),
                     widenComponent(values[2], widestDigits));
    }

    return std::nullopt;
}

std::optional<Color> Color::parse(std::string_view text)
{
    auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (text.starts_with('#')) {
        std::string_view digits = text.substr(1);
        if (digits.size() != 3 && digits.size() != 6 && digits.size() != 9 && digits.size() != 12)
            return std::nullopt;
        if (!std::all_of(digits.begin(), digits.end(), isHexDigit))
            return std::nullopt;
        return parseColor(bytes);
    }
    if (text.starts_with("rgb:")) {
        // Exactly three parts between the slashes; an empty part is still a part, and is rejected.
        std::string_view rest = text.substr(4);
        for (int part = 0; part < 3; ++part) {
            size_t slash = rest.find('/');
            bool last = part == 2;
            if (last != (slash == std::string_view::npos))
                return std::nullopt;
            std::string_view digits = last ? rest : rest.substr(0, slash);
            if (digits.empty() || digits.size() > 4 || !std::all_of(digits.begin(), digits.end(), isHexDigit))
                return std::nullopt;
            if (!last)
                rest = rest.substr(slash + 1);
        }
        return parseColor(bytes);
    }
    return std::nullopt;
}

std::string Color::formatAsXcolor() const
{
    char text[32];
    std::snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", red_, green_, blue_);
    return text;
}

} // namespace kestrovan
