// The view's colour mapping: bold as bright, the collapse of only the bright colours onto the
// base eight, the lazily filled palette, the bounded true-colour cache, reverse video for the
// default colours, and the lock and set-up it requires.
#include "Kestrovan/Apple/ColorBridge.h"
#include "Kestrovan/Apple/ViewColorMapper.h"
#include "Kestrovan/RecordingTerminalDelegate.h"

#include <gtest/gtest.h>

using namespace kestrovan;
using kestrovan::testing::RecordingTerminalDelegate;
using platform::NativeColor;

namespace {

const NativeColor foreground = NativeColor::sRGB(0.9, 0.9, 0.85);
const NativeColor background = NativeColor::sRGB(0.1, 0.1, 0.12, 0.6);

struct Fixture
{
    std::shared_ptr<RecordingTerminalDelegate> delegate = std::make_shared<RecordingTerminalDelegate>();
    std::shared_ptr<Terminal> terminal = Terminal::create(delegate);
    ViewColorMapper mapper;

    Fixture() { mapper.setNativeColors(foreground, background); }

    NativeColor palette(int index) const { return makeNativeColor(*terminal->paletteColor(index)); }
};

} // namespace

TEST(ViewColorMapper, BoldBrightensTheBaseColoursAndOnlyBrightColoursCollapse)
{
    // (index, bold, bright colours, collapse) -> the palette index shown.
    struct Case
    {
        uint8_t index;
        bool bold, bright, collapse;
        uint8_t shown;
    };
    const Case cases[] = {
        {3, true, true, false, 11},     {7, true, true, false, 7},    {3, false, true, false, 3},
        {9, true, true, true, 9},       {9, false, false, true, 1},   {15, true, false, true, 7},
        {200, false, false, true, 200}, {16, false, false, true, 16}, {9, false, false, false, 9},
        {200, true, true, false, 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ViewColorMapper::paletteIndex(c.index, c.bold, c.bright, c.collapse), c.shown)
            << int(c.index) << " bold " << c.bold << " bright " << c.bright << " collapse " << c.collapse;

    // Regression: with collapse on and bright colours off, index 200 (a pink) was lowered to 192
    // (a green), as if every index above 7 had a base twin eight below. It is shown as itself.
    Fixture f;
    f.mapper.setCollapseBrightColorsToBase(true);
    TerminalLockGuard guard(f.terminal->terminalLock());
    EXPECT_EQ(f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(200), true, false, false),
              f.palette(200));
    EXPECT_EQ(f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(9), true, false, false), f.palette(1));
    EXPECT_EQ(f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(3), true, true, true), f.palette(11));
}

TEST(ViewColorMapper, PaletteEntriesAreKeptUntilTheCachesAreReset)
{
    Fixture f;
    TerminalLockGuard guard(f.terminal->terminalLock());
    const NativeColor before =
        f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(1), true, false, false);
    EXPECT_EQ(before, f.palette(1));
    f.terminal->feed("\x1b]4;1;rgb:12/34/56\x1b\\");
    ASSERT_NE(f.palette(1), before);
    EXPECT_EQ(f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(1), true, false, false), before)
        << "the view empties its caches when told the palette changed";
    f.mapper.resetCaches();
    EXPECT_EQ(f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(1), true, false, false), f.palette(1));
}

TEST(ViewColorMapper, TrueColoursAreCachedUpToTheirCapacity)
{
    Fixture f;
    TerminalLockGuard guard(f.terminal->terminalLock());
    EXPECT_EQ(f.mapper.mapColor(*f.terminal, Attribute::Color::trueColor(255, 128, 0), true, false, false),
              NativeColor::sRGB(1, 128 / 255.0, 0));
    for (uint32_t i = 1; f.mapper.cachedTrueColorCount() < ViewColorMapper::trueColorCacheCapacity; ++i)
        f.mapper.mapColor(*f.terminal, Attribute::Color::trueColor(uint8_t(i >> 8), uint8_t(i), 7), false,
                          false, false);
    EXPECT_EQ(f.mapper.cachedTrueColorCount(), 4096u);
    f.mapper.mapColor(*f.terminal, Attribute::Color::trueColor(1, 2, 3), true, false, false);
    EXPECT_EQ(f.mapper.cachedTrueColorCount(), 1u) << "the 4,097th colour empties the cache first";
}

TEST(ViewColorMapper, ReverseVideoSwapsTheDefaultColoursButNotThePalette)
{
    Fixture f;
    TerminalLockGuard guard(f.terminal->terminalLock());
    const auto map = [&](Attribute::Color color, bool isFg) {
        return f.mapper.mapColor(*f.terminal, color, isFg, false, false);
    };
    NativeColor opaqueBackground = background;
    opaqueBackground.alpha = 1;
    EXPECT_EQ(map(Attribute::Color::defaultColor(), true), foreground);
    EXPECT_EQ(map(Attribute::Color::defaultColor(), false), background);
    EXPECT_EQ(map(Attribute::Color::defaultInvertedColor(), true), opaqueBackground)
        << "the background as text colour, made opaque";
    EXPECT_EQ(map(Attribute::Color::defaultInvertedColor(), false), foreground);

    f.mapper.setReverseColorsActive(true);
    EXPECT_EQ(map(Attribute::Color::defaultColor(), true), background);
    EXPECT_EQ(map(Attribute::Color::defaultColor(), false), foreground);
    EXPECT_EQ(map(Attribute::Color::defaultInvertedColor(), true), foreground);
    EXPECT_EQ(map(Attribute::Color::ansi256(4), true), f.palette(4));
}

TEST(ViewColorMapperDeathTest, MappingWithoutTheTerminalLockOrDefaultColoursStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Fixture f;
            f.mapper.mapColor(*f.terminal, Attribute::Color::ansi256(1), true, false, false);
        },
        "");
    EXPECT_DEATH(
        {
            Fixture f;
            ViewColorMapper unset;
            TerminalLockGuard guard(f.terminal->terminalLock());
            unset.mapColor(*f.terminal, Attribute::Color::defaultColor(), true, false, false);
        },
        "default colours are not set up");
}
