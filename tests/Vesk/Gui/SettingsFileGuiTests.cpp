// The application starts whatever sits at its settings file's path: a FIFO (which held start-up
// for ever in open(2), and every later start with it), a directory, a symbolic link loop or a
// socket. It says so once, starts on the defaults, and a change of a setting still applies.
#include "SpecialFiles.h"
#include "VeskDriver.h"

#include <gtest/gtest.h>
#include <ostream>

namespace veskgui {
namespace {

struct Occupant
{
    const char* name;
    Thing thing;
    /// What the log says it is.
    const char* reason;
};

/// Names the case in test lists, where its bytes would show otherwise.
void PrintTo(const Occupant& occupant, std::ostream* out)
{
    *out << occupant.name;
}

class SettingsFileGuiTests : public testing::TestWithParam<Occupant>
{};

TEST_P(SettingsFileGuiTests, VeskStartsOnTheDefaultsAndSaysWhy)
{
    const Occupant& occupant = GetParam();
    TemporaryFolder config;
    const std::string settings = config.path() + "/vesk/settings.ini";
    std::filesystem::create_directory(config.path() + "/vesk");
    BoundSocket socket;
    plant(occupant.thing, settings, "", socket);

    // The driver waits a bounded time for the first window: a start that hangs fails here.
    Vesk vesk(LaunchOptions{"", {"XDG_CONFIG_HOME=" + config.path()}});
    ASSERT_TRUE(vesk.started()) << "no window\n" << readFile(vesk.errorLog());
    EXPECT_EQ(vesk.state().app()["gpu-preference"], "1") << "the default";
    const std::string line =
        "Couldn't read the settings file " + settings + " (" + occupant.reason + "); using the defaults\n";
    const std::string log = readFile(vesk.errorLog());
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line)) << "said once\n" << log;

    // The change is renamed into the place of what was there (a directory stays, and the failed
    // write is logged); either way it applies for the session.
    vesk.activate("app.use-gpu-rendering");
    vesk.expect([](const State& s) { return s.app()["gpu-preference"] == "0"; }, "the change applies");
}

const Occupant occupants[] = {
    {"Fifo", Thing::fifo, "a FIFO, not a regular file"},
    {"Directory", Thing::directory, "a directory, not a regular file"},
    {"SymlinkLoop", Thing::linkLoop, "Too many levels of symbolic links"},
    {"Socket", Thing::socket, "a socket, not a regular file"},
};

INSTANTIATE_TEST_SUITE_P(AtTheSettingsPath, SettingsFileGuiTests, testing::ValuesIn(occupants),
                         [](const testing::TestParamInfo<Occupant>& info) { return info.param.name; });

} // namespace
} // namespace veskgui
