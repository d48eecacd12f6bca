// The palette on its own: edits and their undoing, and which rebuilds the default colours cause.
// What the terminal tells its host about colour changes is tested in TerminalTests and
// TerminalOscTests.
#include "Kestrovan/TerminalPalette.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(TerminalPaletteTests, EditsResetsAndRebuilds)
{
    TerminalPalette palette(Ansi256PaletteStrategy::xterm);
    ASSERT_EQ(palette.ansiColors().size(), 256u);
    EXPECT_EQ(palette.ansiColors(), palette.defaultAnsiColors());
    const std::vector<Color> defaults = palette.defaultAnsiColors();

    const Color grey(0x1111, 0x2222, 0x3333);
    EXPECT_TRUE(palette.setAnsiColor(200, grey));
    EXPECT_FALSE(palette.setAnsiColor(256, grey)) << "past the palette";
    EXPECT_FALSE(palette.setAnsiColor(-1, grey));
    EXPECT_EQ(palette.color(200), grey);
    EXPECT_FALSE(palette.color(256));
    EXPECT_EQ(palette.defaultAnsiColors(), defaults) << "an edit leaves the defaults alone";
    EXPECT_TRUE(palette.resetAnsiColor(200));
    EXPECT_FALSE(palette.resetAnsiColor(300));
    EXPECT_EQ(palette.ansiColors(), defaults);

    palette.setAnsiColor(1, grey);
    palette.resetAnsiColors();
    EXPECT_EQ(palette.ansiColors(), defaults);

    // The xterm palette does not depend on the default colours; a rebuild drops edits only.
    palette.setForegroundColor(Color(0xFFFF, 0, 0));
    palette.setAnsiColor(3, grey);
    palette.rebuild(Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(palette.ansiColors(), defaults);

    // A Lab palette is spread between the background and the foreground.
    palette.rebuild(Ansi256PaletteStrategy::base16Lab);
    const std::vector<Color> lab = palette.ansiColors();
    EXPECT_NE(lab, defaults);
    palette.setForegroundColor(Color(0, 0xFFFF, 0));
    palette.rebuild(Ansi256PaletteStrategy::base16Lab);
    EXPECT_NE(palette.ansiColors(), lab) << "another foreground, another Lab palette";
    EXPECT_EQ(palette.installedColors(),
              std::vector<Color>(Color::terminalAppColors().begin(), Color::terminalAppColors().end()));

    // Only a full set of 16 base colours is taken.
    const std::vector<Color> sixteen(16, grey);
    EXPECT_FALSE(palette.install(std::vector<Color>(15, grey), Ansi256PaletteStrategy::xterm));
    EXPECT_NE(palette.installedColors(), sixteen);
    EXPECT_TRUE(palette.install(sixteen, Ansi256PaletteStrategy::xterm));
    EXPECT_EQ(palette.installedColors(), sixteen);
    EXPECT_EQ(palette.ansiColors()[15], grey);
}

} // namespace
} // namespace kestrovan
