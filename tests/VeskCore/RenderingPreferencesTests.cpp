// The rendering choice: its default, where it is stored, and who hears of a change.
#include "TemporaryFolder.h"

#include "Platform/Log/Log.h"
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
    preferences.setMetalEnabled(true);
    EXPECT_EQ(platform::Settings(path).boolean("Rendering", "gpu"), true);

    std::ofstream(path) << "[Rendering]\ngpu=1.5\n";
    platform::Settings odd(path);
    EXPECT_TRUE(RenderingPreferences(odd).metalEnabled()) << "a value of another type counts as on";
}

TEST(RenderingPreferencesTests, ListenersHearEveryChangeUntilTheirSubscriptionEnds)
{
    TemporaryFolder folder;
    platform::Settings settings(folder / "settings.ini");
    RenderingPreferences preferences(settings);
    std::string heard;
    RenderingPreferences::Subscription second;
    RenderingPreferences::Subscription first = preferences.observe([&] {
        heard += preferences.metalEnabled() ? "1+" : "1-";
        // A pane closing its neighbour while the news goes round.
        second.cancel();
    });
    second = preferences.observe([&] { heard += "2"; });
    auto third =
        std::make_unique<RenderingPreferences::Subscription>(preferences.observe([&] { heard += "3"; }));

    preferences.setMetalEnabled(false);
    EXPECT_EQ(heard, "1-3") << "the listener cancelled during the round is not called";
    third.reset();
    preferences.setMetalEnabled(true);
    EXPECT_EQ(heard, "1-31+");
    first.cancel();
    preferences.setMetalEnabled(false);
    EXPECT_EQ(heard, "1-31+");
}

TEST(RenderingPreferencesTests, AnUnwritableConfigFolderIsLoggedAndTheChoiceStillApplies)
{
    TemporaryFolder folder;
    std::ofstream(folder / "vesk") << "";
    std::vector<std::string> errors;
    platform::setLogSink([&](const platform::LogRecord& record) {
        if (record.level == platform::LogLevel::error)
            errors.emplace_back(record.message);
    });
    platform::Settings settings(folder / "vesk/settings.ini");
    RenderingPreferences preferences(settings);
    int notified = 0;
    const auto subscription = preferences.observe([&] { ++notified; });
    preferences.setMetalEnabled(false);
    platform::setLogSink({});
    EXPECT_FALSE(preferences.metalEnabled());
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(errors.size(), 1u);
}

} // namespace
} // namespace vesk
