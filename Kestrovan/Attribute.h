// The look of one cell: foreground and background colour, style bits, underline style and an
// optional underline colour.
//
// These are small value types compared and hashed memberwise. The cell arena interns whole
// attributes to 16-bit ids, so the layout is kept compact (a colour is four bytes) and every
// colour is built through its factories, which keep unused payload bytes at zero so that the
// defaulted equality compares only what the case carries.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestrovan {

/// The style bits of a cell; the raw value is the byte stored with the attribute.
struct CharacterStyle : OptionSet<CharacterStyle, uint8_t>
{
    constexpr CharacterStyle() = default;
    constexpr explicit CharacterStyle(uint8_t raw) : OptionSet(raw) {}
    constexpr CharacterStyle(OptionSet set) : OptionSet(set) {}

    /// The style held in a 32-bit packed legacy attribute word (its bits 18-25).
    static constexpr CharacterStyle fromAttributeWord(uint32_t word)
    {
        return CharacterStyle(static_cast<uint8_t>((word >> 18) & 0xFF));
    }

    static const CharacterStyle none;
    static const CharacterStyle bold;
    static const CharacterStyle underline;
    static const CharacterStyle blink;
    static const CharacterStyle inverse;
    static const CharacterStyle invisible;
    static const CharacterStyle dim;
    static const CharacterStyle italic;
    static const CharacterStyle crossedOut;
};

inline constexpr CharacterStyle CharacterStyle::none{0x00};
inline constexpr CharacterStyle CharacterStyle::bold{0x01};
inline constexpr CharacterStyle CharacterStyle::underline{0x02};
inline constexpr CharacterStyle CharacterStyle::blink{0x04};
inline constexpr CharacterStyle CharacterStyle::inverse{0x08};
inline constexpr CharacterStyle CharacterStyle::invisible{0x10};
inline constexpr CharacterStyle CharacterStyle::dim{0x20};
inline constexpr CharacterStyle CharacterStyle::italic{0x40};
inline constexpr CharacterStyle CharacterStyle::crossedOut{0x80};

/// How a cell is underlined (SGR 4:n); raw values 0-5.
enum class UnderlineStyle : uint8_t
{
    none = 0,
    single = 1,
    double_ = 2,
    curly = 3,
    dotted = 4,
    dashed = 5
};

/// The underline style of a raw value, or nothing above 5.
constexpr std::optional<UnderlineStyle> underlineStyleFromRaw(uint8_t raw)
{
    if (raw > 5)
        return std::nullopt;
    return static_cast<UnderlineStyle>(raw);
}

struct Attribute
{
    /// A cell colour: a palette index, a 24-bit colour, or one of the two default colours.
    class Color
    {
    public:
        /// The cases in declaration order; the number is what hashing and interning feed.
        enum class Kind : uint8_t
        {
            ansi256 = 0,
            trueColor = 1,
            defaultColor = 2,
            defaultInvertedColor = 3
        };

        /// The default colour of the role the colour stands in.
        constexpr Color() = default;

        static constexpr Color ansi256(uint8_t code) { return Color(Kind::ansi256, code, 0, 0); }
        static constexpr Color trueColor(uint8_t red, uint8_t green, uint8_t blue)
        {
            return Color(Kind::trueColor, red, green, blue);
        }
        static constexpr Color defaultColor() { return Color(); }
        /// The default colour of the opposite role (default background used as a foreground).
        static constexpr Color defaultInvertedColor() { return Color(Kind::defaultInvertedColor, 0, 0, 0); }

        constexpr Kind kind() const { return kind_; }
        constexpr bool isAnsi256() const { return kind_ == Kind::ansi256; }
        constexpr bool isTrueColor() const { return kind_ == Kind::trueColor; }
        constexpr bool isDefault() const { return kind_ == Kind::defaultColor; }
        constexpr bool isDefaultInverted() const { return kind_ == Kind::defaultInvertedColor; }

        /// The palette index of an `ansi256` colour (0 for the other cases).
        constexpr uint8_t code() const { return kind_ == Kind::ansi256 ? a_ : 0; }
        /// The channels of a `trueColor` colour (0 for the other cases).
        constexpr uint8_t red() const { return kind_ == Kind::trueColor ? a_ : 0; }
        constexpr uint8_t green() const { return kind_ == Kind::trueColor ? b_ : 0; }
        constexpr uint8_t blue() const { return kind_ == Kind::trueColor ? c_ : 0; }

        /// A hash over the case number and the payload bytes.
        constexpr size_t hashValue() const
        {
            return (static_cast<size_t>(kind_) << 24) | (static_cast<size_t>(a_) << 16) |
                   (static_cast<size_t>(b_) << 8) | c_;
        }

        friend constexpr bool operator==(Color, Color) = default;

    private:
        constexpr Color(Kind kind, uint8_t a, uint8_t b, uint8_t c) : kind_(kind), a_(a), b_(b), c_(c) {}

        Kind kind_ = Kind::defaultColor;
        uint8_t a_ = 0;
        uint8_t b_ = 0;
        uint8_t c_ = 0;
    };

    Color fg;
    Color bg;
    CharacterStyle style;
    UnderlineStyle underlineStyle = UnderlineStyle::none;
    std::optional<Color> underlineColor;

    /// The attribute of a fresh cell: default colours for both roles, no style.
    constexpr Attribute() = default;
    constexpr Attribute(Color foreground, Color background,
                        CharacterStyle characterStyle = CharacterStyle::none,
                        UnderlineStyle underline = UnderlineStyle::none,
                        std::optional<Color> underlineColour = std::nullopt)
        : fg(foreground), bg(background), style(characterStyle), underlineStyle(underline),
          underlineColor(underlineColour)
    {}

    /// {default, default-inverted, no style}: note the background; this is not the attribute of
    /// a fresh cell, which `Attribute()` gives.
    static const Attribute empty;

    /// True when only the background colour could tell this attribute from a fresh cell's.
    constexpr bool hasPlainForeground() const
    {
        return fg.isDefault() && style.isEmpty() && underlineStyle == UnderlineStyle::none && !underlineColor;
    }

    /// The SGR parameters that reproduce this attribute from any state, ending in "m".
    std::string toSgr() const;

    /// A hash fed with the members in declaration order; equal attributes hash equally.
    size_t hashValue() const;

    friend constexpr bool operator==(const Attribute&, const Attribute&) = default;
};

inline constexpr Attribute Attribute::empty{Attribute::Color::defaultColor(),
                                            Attribute::Color::defaultInvertedColor()};

} // namespace kestrovan

template <> struct std::hash<kestrovan::CharacterStyle>
{
    size_t operator()(kestrovan::CharacterStyle style) const noexcept { return style.rawValue; }
};

template <> struct std::hash<kestrovan::Attribute::Color>
{
    size_t operator()(kestrovan::Attribute::Color color) const noexcept { return color.hashValue(); }
};

template <> struct std::hash<kestrovan::Attribute>
{
    size_t operator()(const kestrovan::Attribute& attribute) const noexcept { return attribute.hashValue(); }
};
