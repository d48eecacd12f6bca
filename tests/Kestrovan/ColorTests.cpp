#include "Kestrovan/Color.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <unordered_set>

using kestrovan::Color;

namespace {

/// A colour from 8-bit channels written as 0xrrggbb, for comparisons against palette tables.
Color rgb8(uint32_t value)
{
    return Color::fromRed8((value >> 16) & 0xff, (value >> 8) & 0xff, value & 0xff);
}

std::optional<Color> parseBytes(std::string_view text)
{
    return Color::parseColor(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

} // namespace

namespace kestrovan {
// Lets failing expectations print colours readably.
void PrintTo(const Color& color, std::ostream* out)
{
    *out << color.formatAsXcolor();
}
} // namespace kestrovan

TEST(Color, EightBitValuesWidenAndEqualColoursHashAlike)
{
    EXPECT_EQ(Color::fromRed8(0xab, 0x00, 0xff), Color(0xabab, 0x0000, 0xffff))
        << "8-bit v widens to v x 257";
    EXPECT_EQ(Color::fromRed8(256, 1000, 65535), Color(0xffff, 0xffff, 0xffff))
        << "8-bit values clamp at 255";
    std::unordered_set<Color> set = {Color(1, 2, 3), Color(1, 2, 3), Color(3, 2, 1), Color(0, 0, 0)};
    EXPECT_EQ(set.size(), 3u) << "equal colours hash alike and dedupe";

    // The built-in palettes are 8-bit tables: every channel is a widened byte.
    for (const auto* palette : {&Color::xtermColors(), &Color::vgaColors(), &Color::paleColors(),
                                &Color::terminalAppColors(), &Color::defaultInstalledColors()}) {
        for (const Color& c : *palette)
            EXPECT_TRUE(c.red() % 257 == 0 && c.green() % 257 == 0 && c.blue() % 257 == 0)
                << c.formatAsXcolor();
    }
}

TEST(Color, XtermPalette)
{
    auto palette = Color::generateXtermPalette(Color::terminalAppColors());
    ASSERT_EQ(palette.size(), 256u);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(palette[i], Color::terminalAppColors()[i]) << "initial colour " << i << " is kept";
    EXPECT_EQ(palette[16], Color(0, 0, 0)) << "cube starts black";
    EXPECT_EQ(palette[231], Color(0xffff, 0xffff, 0xffff)) << "cube ends white";
    EXPECT_EQ(palette[16 + 36 * 1 + 6 * 2 + 3], rgb8(0x5f87af))
        << "16 + 36r + 6g + b with levels 95, 135, 175";
    EXPECT_EQ(palette[232], rgb8(0x080808)) << "first grey";
    EXPECT_EQ(palette[255], rgb8(0xeeeeee)) << "last grey";

    auto fromThree = Color::generateXtermPalette(std::span(Color::xtermColors()).first(3));
    ASSERT_EQ(fromThree.size(), 243u) << "the initial colours plus 240";
    EXPECT_EQ(fromThree[3], Color(0, 0, 0)) << "the cube follows the initial colours directly";
}

TEST(Color, LabConversionRoundTripsEightBitColours)
{
    for (const auto* palette : {&Color::xtermColors(), &Color::paleColors(), &Color::terminalAppColors()})
        for (const Color& c : *palette)
            EXPECT_EQ(Color::fromLab(c.toLab()), c) << "8-bit colour round trip";

    Color::LabColor white = Color(0xffff, 0xffff, 0xffff).toLab();
    EXPECT_NEAR(white.l, 100.0, 1e-3);
    EXPECT_NEAR(white.a, 0.0, 1e-3);
    EXPECT_NEAR(white.b, 0.0, 1e-3);
    EXPECT_NEAR(Color(0, 0, 0).toLab().l, 0.0, 1e-9);
    EXPECT_EQ(Color::fromLab({150, 0, 0}), Color(0xffff, 0xffff, 0xffff)) << "out of gamut clamps";
    EXPECT_EQ(Color::fromLab({50, 200, 0}).green(), 0) << "negative channel clamps to 0";
}

TEST(ColorDeathTest, NonFiniteLabStops)
{
    EXPECT_DEATH(Color::fromLab({std::numeric_limits<double>::quiet_NaN(), 0, 0}), "non-finite");
}

TEST(Color, LabPalettes)
{
    const auto& base = Color::terminalAppColors();
    const Color white(0xffff, 0xffff, 0xffff);
    const Color black(0, 0, 0);
    const auto expectEntries = [](const std::vector<Color>& palette,
                                  std::vector<std::pair<size_t, uint32_t>> entries, const char* name) {
        for (const auto& [index, value] : entries)
            EXPECT_EQ(palette[index], rgb8(value)) << name << " entry " << index;
    };

    auto dark = Color::generateBase16LabPalette(base, std::nullopt, std::nullopt, false);
    ASSERT_EQ(dark.size(), 256u);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(dark[i], base[i]) << "initial colour " << i << " is kept";
    // The cube's corners are the eight base colours themselves (r, g, b each 0 or 5).
    const size_t corners[] = {16, 196, 46, 226, 21, 201, 51, 231};
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(dark[corners[i]], base[i]) << "corner " << corners[i];
    // Inner entries, worked out by hand from the CIELAB formulas.
    expectEntries(dark, {{17, 0x19112c}, {102, 0x7d6466}, {232, 0x0c0c0c}, {243, 0x5c5d5d}, {255, 0xc2c3c4}},
                  "dark");

    auto ordered = Color::generateBase16LabPalette(base, white, black, false);
    EXPECT_EQ(ordered[16], black) << "base16Lab keeps the cube dark to light on a light background";
    EXPECT_EQ(ordered[231], white);
    expectEntries(ordered,
                  {{17, 0x19112c}, {102, 0x806769}, {232, 0x0e0e0e}, {243, 0x727272}, {255, 0xf3f3f3}},
                  "light");
    for (size_t i = 233; i < 256; ++i)
        EXPECT_GT(ordered[i].red(), ordered[i - 1].red()) << "greys brighten step by step at " << i;

    auto harmonious = Color::generateBase16LabPalette(base, white, black, true);
    ASSERT_EQ(harmonious.size(), 256u);
    EXPECT_EQ(harmonious[16], white) << "base16LabHarmonious starts from the background";
    EXPECT_EQ(harmonious[231], black) << "and ends at the foreground";
    expectEntries(harmonious, {{17, 0xe3d4fb}, {102, 0xa88d8f}, {232, 0xf3f3f3}, {255, 0x0e0e0e}},
                  "harmonious");
    for (size_t i = 233; i < 256; ++i)
        EXPECT_LT(harmonious[i].red(), harmonious[i - 1].red())
            << "greys darken toward the foreground at " << i;

    // A tinted light theme: the ends are the given colours, not the palette's.
    auto tinted = Color::generateBase16LabPalette(base, rgb8(0xfdf6e3), rgb8(0x657b83), true);
    expectEntries(tinted, {{16, 0xfdf6e3}, {231, 0x657b83}, {232, 0xf7f1df}, {243, 0xb2b9b4}}, "tinted");

    auto seven = std::span(Color::xtermColors()).first(7);
    auto lab = Color::generateBase16LabPalette(seven, white, std::nullopt, true);
    EXPECT_EQ(lab, Color::generateXtermPalette(seven)) << "fewer than 8 colours fall back to xterm";
}

TEST(Color, ParseHashForms)
{
    EXPECT_EQ(parseBytes("#fff"), Color(0xf0f0, 0xf0f0, 0xf0f0)) << "one digit widens as v x 0x1010";
    EXPECT_EQ(parseBytes("#123"), Color(0x1010, 0x2020, 0x3030));
    EXPECT_EQ(parseBytes("#12AbcD"), Color(0x1212, 0xabab, 0xcdcd)) << "either case";
    // Three digits: the top twelve bits as given, the lowest four repeat the top four.
    EXPECT_EQ(parseBytes("#fff000800"), Color(0xffff, 0x0000, 0x8008));
    EXPECT_EQ(parseBytes("#123456789abc"), Color(0x1234, 0x5678, 0x9abc));

    EXPECT_EQ(parseBytes("#12g"), Color(0x1010, 0x2020, 0)) << "a stray byte ends its group early";
    EXPECT_EQ(parseBytes("#1x2233"), Color(0x0101, 0x2222, 0x3333));
    EXPECT_EQ(parseBytes("#12345"), std::nullopt) << "five digits";
    EXPECT_EQ(parseBytes("#"), std::nullopt);
    EXPECT_EQ(parseBytes("#1234567890123"), std::nullopt) << "thirteen digits";
    EXPECT_EQ(parseBytes(""), std::nullopt);
    EXPECT_EQ(parseBytes("red"), std::nullopt) << "colour names are not known";
    EXPECT_EQ(parseBytes(" #fff"), std::nullopt);
}

TEST(Color, ParseRgbForms)
{
    EXPECT_EQ(parseBytes("rgb:f/f/f"), Color(0xf0f0, 0xf0f0, 0xf0f0));
    EXPECT_EQ(parseBytes("rgb:ff/ff/ff"), Color(0xffff, 0xffff, 0xffff));
    EXPECT_EQ(parseBytes("rgb:ff/f/0"), Color(0xffff, 0x0f0f, 0x0000))
        << "the longest component sets the widening";
    EXPECT_EQ(parseBytes("rgb:fff/0/800"), Color(0xffff, 0x0000, 0x8008));
    EXPECT_EQ(parseBytes("rgb:1234/abcd/0"), Color(0x1234, 0xabcd, 0x0000));
    EXPECT_EQ(parseBytes("rgb:12345/6/7"), Color(0x1234, 0x0005, 0x0006))
        << "a fifth digit starts the next part";
    EXPECT_EQ(parseBytes("rgb:ff/ff"), Color(0xffff, 0xffff, 0)) << "a missing part reads as 0";
    EXPECT_EQ(parseBytes("rgb:"), std::nullopt) << "no digits";
    EXPECT_EQ(parseBytes("rgb://"), std::nullopt) << "no digits";
    EXPECT_EQ(parseBytes("rgb"), std::nullopt);
    EXPECT_EQ(parseBytes("rgba:ff/ff/ff/ff"), std::nullopt);
}

TEST(Color, ParseStringsIsStrict)
{
    EXPECT_EQ(Color::parse("#fff"), Color(0xf0f0, 0xf0f0, 0xf0f0));
    EXPECT_EQ(Color::parse("rgb:ff/f/0"), Color(0xffff, 0x0f0f, 0));
    EXPECT_EQ(Color::parse("rgb:1/22/333"), Color(0x0010, 0x0220, 0x3333)) << "three-digit widening for all";

    // Fullwidth letters look like hex digits but are not ASCII; "#" plus nine bytes would otherwise
    // slip through to the bytes parser as three garbage groups.
    const char* rejected[] = {
        "#12g",        "#12345",        "#",         "",
        "fff",         "rgb:12345/6/7", "rgb:f//f",  "rgb:1/2",
        "rgb:1/2/3/4", "rgb:1/2/3/",    "rgb:/1/2",  "rgb:1/2/g",
        " #fff",       "#fff ",         "RGB:1/2/3", "#\xef\xbd\x86\xef\xbd\x86\xef\xbd\x86"};
    for (const char* text : rejected)
        EXPECT_EQ(Color::parse(text), std::nullopt) << "should reject \"" << text << "\"";
}

TEST(Color, FormatsAsXcolor)
{
    EXPECT_EQ(Color(0xffff, 0, 0x8080).formatAsXcolor(), "rgb:ffff/0000/8080");
    EXPECT_EQ(Color(0xABCD, 1, 0x10).formatted(), "rgb:abcd/0001/0010");
    for (Color c : {Color(0, 0, 0), Color(0xffff, 0xffff, 0xffff), Color(0x1234, 0xfedc, 0x0a0b)})
        EXPECT_EQ(Color::parse(c.formatAsXcolor()), c) << "a reply parses back to the same colour";
}
