// The rendering choice: its default, where it is stored, and who hears of a change.
#include "TemporaryFolder.h"

#include "Platform/Settings/Settings.h"
#include "VeskCore/RenderingPreferences.h"

#include <fstream>
#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(RenderingPreferencesTests, TheChoiceDefaultsToOnAndIsStoredAsRenderingGpu)
{
    TemporaryFolder folder;
    const std::string path = folder / "vesk/settings.ini";
    platform::Settings settings(path);
    RenderingPreferences preferences(settings);
    EXPECT_TRUE(preferences.metalEnabled()) << "never written";
    preferences.setMetalEnabled(false);
    EXPECT_FALSE(preferences.metalEnabled());
    EXPECT_EQ(platform::Settings(path).boolean("Rendering", "gpu"), false) << "written to the file";
}

TEST(RenderingPreferencesTests, ListenersHearEveryChangeUntilTheirSubscriptionEnds)
{
    TemporaryFolder folder;
    std::ofstream(folder / "vesk") << ""; // the choice cannot be written: it still applies
    platform::Settings settings(folder / "vesk/settings.ini");
    RenderingPreferences preferences(settings);
    std::string heard;
    RenderingPreferences::Subscription second;
    RenderingPreferences::Subscription first = preferences.observe([&] {
        heard += preferences.metalEnabled() ? "1+" : "1-";
        second.cancel(); // a pane closing its neighbour while the news goes round
    });
    second = preferences.observe([&] { heard += "2"; });
    std::optional<RenderingPreferences::Subscription> third = preferences.observe([&] { heard += "3"; });

    preferences.setMetalEnabled(false);
    EXPECT_EQ(heard, "1-3") << "a listener cancelled during the round is not called";
    third.reset();
    preferences.setMetalEnabled(true);
    first.cancel();
    preferences.setMetalEnabled(false);
    EXPECT_EQ(heard, "1-31+");
}

} // namespace
} // namespace vesk
