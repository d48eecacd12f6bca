// The terminal's RGB colour with 16 bits per channel, its built-in palettes and colour strings.
//
// A `Color` never changes after it is made, so it is a plain value: copies are as good as shared
// references and compare by their three channels. This file also owns the five built-in 16-colour
// palettes, the two ways of growing 16 base colours into a 256-colour palette (the xterm cube and
// greys, or an interpolation in CIELAB space), the parser of X11-style colour strings used by the colour
// OSC sequences and the rgb:rrrr/gggg/bbbb formatter of their replies. Conversion to and from the
// platform's colour type lives in `Kestrovan/Apple/ColorBridge.h`, outside the engine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

/// How palette entries 16-255 are made from the 16 base colours.
enum class Ansi256PaletteStrategy : uint8_t
{
    /// The xterm 6x6x6 cube and 24 greys, independent of the base colours.
    xterm,
    /// A CIELAB interpolation between the base colours, always running from dark to light.
    base16Lab,
    /// A CIELAB interpolation that keeps the theme's order (light themes start from the light end).
    base16LabHarmonious,
};

class Color
{
public:
    /// A colour in CIE L*a*b* (D65 white point).
    struct LabColor
    {
        double l = 0;
        double a = 0;
        double b = 0;

        friend bool operator==(const LabColor&, const LabColor&) = default;
    };

    /// A colour with the 16-bit channels as given.
    constexpr Color(uint16_t red, uint16_t green, uint16_t blue) : red_(red), green_(green), blue_(blue) {}

    /// A colour from 8-bit channels: each value (clamped to 255) is widened as v x 257, so ab becomes abab.
    static constexpr Color fromRed8(uint16_t red8, uint16_t green8, uint16_t blue8)
    {
        return Color(widen8(red8), widen8(green8), widen8(blue8));
    }

    uint16_t red() const { return red_; }
    uint16_t green() const { return green_; }
    uint16_t blue() const { return blue_; }

    friend bool operator==(const Color&, const Color&) = default;

    /// The xterm defaults, in ANSI order (black, red, green, yellow, blue, magenta, cyan, white, then
    /// bright).
    static const std::array<Color, 16>& xtermColors();
    /// The IBM VGA text-mode colours.
    static const std::array<Color, 16>& vgaColors();
    /// A soft palette with muted primaries.
    static const std::array<Color, 16>& paleColors();
    /// The palette the terminal starts from.
    static const std::array<Color, 16>& terminalAppColors();
    /// A saturated palette of darker primaries.
    static const std::array<Color, 16>& defaultInstalledColors();

    /// The initial colours followed by the 216 xterm cube colours and the 24 xterm greys.
    static std::vector<Color> generateXtermPalette(std::span<const Color> initialColors);

    /// The initial colours followed by a 216-colour cube and 24 greys interpolated in CIELAB between
    /// the first eight initial colours, with the background and foreground (when given) in place of
    /// colours 0 and 7. With fewer than eight initial colours this is the xterm palette.
    static std::vector<Color> generateBase16LabPalette(std::span<const Color> initialColors,
                                                       std::optional<Color> backgroundColor,
                                                       std::optional<Color> foregroundColor, bool harmonious);

    /// Parses an X11-style colour string ("#rgb" with 3, 6, 9 or 12 digits, or "rgb:r/g/b" with up to
    /// four digits a component). Lenient, as befits bytes from a program: a stray character ends a
    /// number early instead of rejecting the string. Nothing for a form it does not know.
    static std::optional<Color> parseColor(std::span<const uint8_t> bytes);

    /// Parses a colour string held as text, first checking that it is well formed: "#" and exactly
    /// 3, 6, 9 or 12 hex digits, or "rgb:" and exactly three "/"-separated parts of 1-4 hex digits.
    static std::optional<Color> parse(std::string_view text);

    /// The colour as "rgb:rrrr/gggg/bbbb" in lowercase hexadecimal.
    std::string formatAsXcolor() const;
    /// The same as `formatAsXcolor()`.
    std::string formatted() const { return formatAsXcolor(); }

    /// The colour in CIELAB, after reducing each channel to 8 bits.
    LabColor toLab() const;
    /// The nearest 8-bit sRGB colour (widened to 16 bits) of a CIELAB colour; out-of-gamut
    /// channels are clamped.
    static Color fromLab(const LabColor& lab);

private:
    static constexpr uint16_t widen8(uint16_t value)
    {
        // 255 x 257 = 65535, so the clamp keeps the product within 16 bits.
        return static_cast<uint16_t>((value > 255 ? 255 : value) * 257);
    }

    uint16_t red_;
    uint16_t green_;
    uint16_t blue_;
};

} // namespace kestrovan

template <> struct std::hash<kestrovan::Color>
{
    size_t operator()(const kestrovan::Color& color) const noexcept
    {
        // Combines red, green and blue in that order into one 48-bit key, so distinct colours never
        // share a key before the integer hash.
        uint64_t key = (uint64_t{color.red()} << 32) | (uint64_t{color.green()} << 16) | color.blue();
        return std::hash<uint64_t>{}(key);
    }
};
