// The application starts whatever sits at its settings file's path: a FIFO (which held start-up
// for ever in open(2), and every later start with it), a directory, a symbolic link loop or a
// socket. It says so once, starts on the defaults, and a change of a setting still applies.
#include "VeskDriver.h"

#include <gtest/gtest.h>
#include <ostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace veskgui {
namespace {

struct Occupant
{
    const char* name;
    /// What the log says it is.
    const char* reason;
    /// Puts it at `path`; a socket's descriptor goes to `socket`.
    bool (*plant)(const std::string& path, int& socket);
};

/// Names the case in test lists, where its bytes would show otherwise.
void PrintTo(const Occupant& occupant, std::ostream* out)
{
    *out << occupant.name;
}

bool plantSocket(const std::string& path, int& socket)
{
    socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket < 0 || path.size() >= sizeof address.sun_path)
        return false;
    path.copy(address.sun_path, path.size());
    return bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(socket, 1) == 0;
}

const Occupant occupants[] = {
    {"Fifo", "a FIFO, not a regular file",
     [](const std::string& path, int&) { return mkfifo(path.c_str(), 0600) == 0; }},
    {"Directory", "a directory, not a regular file",
     [](const std::string& path, int&) { return mkdir(path.c_str(), 0700) == 0; }},
    {"SymlinkLoop", "Too many levels of symbolic links",
     [](const std::string& path, int&) {
         return symlink((path + ".loop").c_str(), path.c_str()) == 0 &&
                symlink(path.c_str(), (path + ".loop").c_str()) == 0;
     }},
    {"Socket", "a socket, not a regular file", plantSocket},
};

class SettingsFileGuiTests : public testing::TestWithParam<Occupant>
{};

TEST_P(SettingsFileGuiTests, VeskStartsOnTheDefaultsAndSaysWhy)
{
    const Occupant& occupant = GetParam();
    TemporaryFolder config;
    const std::string settings = config.path() + "/vesk/settings.ini";
    ASSERT_EQ(mkdir((config.path() + "/vesk").c_str(), 0700), 0);
    int socket = -1;
    ASSERT_TRUE(occupant.plant(settings, socket));

    {
        // The driver waits a bounded time for the first window: a start that hangs fails here.
        Vesk vesk(LaunchOptions{"", {"XDG_CONFIG_HOME=" + config.path()}});
        ASSERT_TRUE(vesk.started()) << "no window\n" << readFile(vesk.errorLog());
        EXPECT_EQ(vesk.state().app()["gpu-preference"], "1") << "the default";
        const std::string line = "Couldn't read the settings file " + settings + " (" + occupant.reason +
                                 "); using the defaults\n";
        const std::string log = readFile(vesk.errorLog());
        EXPECT_NE(log.find(line), std::string::npos) << log;
        EXPECT_EQ(log.find(line), log.rfind(line)) << "said once\n" << log;

        // The change is written in place of what was there (a directory stays, and the write is
        // logged); either way it applies for the session.
        vesk.activate("app.use-gpu-rendering");
        vesk.expect([](const State& s) { return s.app()["gpu-preference"] == "0"; }, "the change applies");
    }
    if (socket >= 0)
        close(socket);
}

INSTANTIATE_TEST_SUITE_P(AtTheSettingsPath, SettingsFileGuiTests, testing::ValuesIn(occupants),
                         [](const testing::TestParamInfo<Occupant>& info) { return info.param.name; });

} // namespace
} // namespace veskgui
