// Where the bundled fonts are found, and when a face found by name is taken as the terminal font.
#include "Vesk/TerminalFont.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(TerminalFontTests, TheBundleIsFoundBesideTheExecutableNeverInTheCurrentFolder)
{
    struct Case
    {
        const char* executable;
        std::optional<std::string> fonts;
    };
    const Case cases[] = {
        {"/opt/vesk/build/Vesk", "/opt/vesk/build/Vesk_Vesk.bundle/Fonts"},
        {"/Vesk", "/Vesk_Vesk.bundle/Fonts"},
        {"Vesk", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalFont::fontsDirectory(c.executable), c.fonts) << c.executable;
    const std::optional<std::string> self = TerminalFont::executablePath();
    ASSERT_TRUE(self.has_value());
    EXPECT_EQ(self->front(), '/') << "the path of the running executable, not a relative one";
}

TEST(TerminalFontTests, OnlyTheFaceWithThePostScriptNameIsTakenElseTheFallback)
{
    const platform::FontRef jetBrains =
        platform::Font::fromFile(VESK_BUNDLE_DIR "/Fonts/JetBrainsMono-Regular.ttf", 0, 16);
    const platform::FontRef bold =
        platform::Font::fromFile(VESK_BUNDLE_DIR "/Fonts/JetBrainsMono-Bold.ttf", 0, 16);
    const platform::FontRef dejaVu =
        platform::Font::fromFile("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", 0, 16);
    ASSERT_TRUE(jetBrains && bold && dejaVu);
    EXPECT_EQ(TerminalFont::verified(jetBrains, dejaVu), jetBrains);
    EXPECT_EQ(TerminalFont::verified(bold, dejaVu), dejaVu) << "another face of the family";
    EXPECT_EQ(TerminalFont::verified(nullptr, dejaVu), dejaVu) << "nothing found";
}

} // namespace
} // namespace vesk
