#include "Kestrovan/Attribute.h"

#include <gtest/gtest.h>
#include <tuple>
#include <unordered_set>

using kestrovan::Attribute;
using kestrovan::CharacterStyle;
using kestrovan::UnderlineStyle;
using Color = kestrovan::Attribute::Color;

namespace {

Attribute withFg(Color fg)
{
    return Attribute(fg, Color::defaultColor());
}

Attribute withBg(Color bg)
{
    return Attribute(Color::defaultColor(), bg);
}

} // namespace

TEST(Attribute, ToSgrWritesEachColourInItsShortestForm)
{
    EXPECT_EQ(Attribute::empty.toSgr(), "0m");
    EXPECT_EQ(Attribute(Color::ansi256(1), Color::defaultColor(), CharacterStyle::bold).toSgr(), "0;1;31m");
    EXPECT_EQ(Attribute(Color::ansi256(12), Color::ansi256(200)).toSgr(), "0;94;48;5;200m");
    EXPECT_EQ(withFg(Color::trueColor(255, 128, 0)).toSgr(), "0;38;2;255;128;0m");
    EXPECT_EQ(withBg(Color::trueColor(1, 2, 3)).toSgr(), "0;48;2;1;2;3m");

    // Each side of the boundaries between the 8 colours, the bright 8 and the rest.
    const std::tuple<uint8_t, const char*, const char*> cases[] = {{0, "0;30m", "0;40m"},
                                                                   {7, "0;37m", "0;47m"},
                                                                   {8, "0;90m", "0;100m"},
                                                                   {15, "0;97m", "0;107m"},
                                                                   {16, "0;38;5;16m", "0;48;5;16m"},
                                                                   {255, "0;38;5;255m", "0;48;5;255m"}};
    for (const auto& [index, foreground, background] : cases) {
        EXPECT_EQ(withFg(Color::ansi256(index)).toSgr(), foreground);
        EXPECT_EQ(withBg(Color::ansi256(index)).toSgr(), background);
    }
}

TEST(Attribute, ToSgrWritesOnlyTheStylesItHasAFormFor)
{
    Attribute all(Color::defaultInvertedColor(), Color::defaultInvertedColor(), CharacterStyle(0xFF),
                  UnderlineStyle::curly, Color::ansi256(3));
    EXPECT_EQ(all.toSgr(), "0;1;4;5;7;8m")
        << "dim, italic, crossed-out and underline details are not written";

    const Attribute quiet(Color::defaultColor(), Color::defaultColor(),
                          CharacterStyle::dim | CharacterStyle::italic | CharacterStyle::crossedOut,
                          UnderlineStyle::double_, Color::trueColor(9, 9, 9));
    EXPECT_EQ(quiet.toSgr(), "0m");
}

TEST(Attribute, UnderlineStyleRawValues)
{
    for (uint8_t raw = 0; raw <= 5; ++raw)
        EXPECT_EQ(static_cast<uint8_t>(*kestrovan::underlineStyleFromRaw(raw)), raw) << "raw " << int(raw);
    EXPECT_FALSE(kestrovan::underlineStyleFromRaw(6).has_value());
}

TEST(Attribute, EqualityAndHashingAreMemberwise)
{
    EXPECT_NE(Color::defaultColor(), Color::defaultInvertedColor());
    EXPECT_NE(Color::defaultColor(), Color::ansi256(0));
    EXPECT_NE(Color::ansi256(1), Color::trueColor(1, 0, 0)) << "same payload byte, different case";
    EXPECT_NE(Attribute::empty, Attribute()) << "the empty constant has a default-inverted background";
    EXPECT_EQ(Attribute(), withBg(Color::defaultColor()));

    Attribute underlined = Attribute();
    underlined.underlineColor = Color::defaultColor();
    EXPECT_NE(underlined, Attribute()) << "an absent underline colour equals only an absent one";

    std::unordered_set<Attribute> set;
    set.insert(Attribute());
    set.insert(Attribute::empty);
    set.insert(underlined);
    set.insert(withFg(Color::ansi256(1)));
    set.insert(withFg(Color::ansi256(1)));
    EXPECT_EQ(set.size(), 4u);
    EXPECT_EQ(std::hash<Attribute>()(withFg(Color::trueColor(4, 5, 6))),
              std::hash<Attribute>()(withFg(Color::trueColor(4, 5, 6))));
}

TEST(Attribute, CharacterStyleFromLegacyAttributeWord)
{
    EXPECT_EQ(CharacterStyle::fromAttributeWord(0x01u << 18), CharacterStyle::bold);
    EXPECT_EQ(CharacterStyle::fromAttributeWord(0xFFu << 18 | 0x3FFFF), CharacterStyle(0xFF));
    EXPECT_EQ(CharacterStyle::fromAttributeWord(0x3FFFF), CharacterStyle::none);
    CharacterStyle style = CharacterStyle::bold | CharacterStyle::italic;
    EXPECT_TRUE(style.contains(CharacterStyle::italic));
    style.remove(CharacterStyle::bold);
    EXPECT_EQ(style, CharacterStyle::italic);
}
