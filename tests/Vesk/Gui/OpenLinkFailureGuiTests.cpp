// "Open Link" when the desktop cannot open the link: with no browser installed, and with a browser
// whose launch fails, the confirmed link beeps and the launcher's error is logged, instead of
// nothing happening at all.
//
// Regression: with no browser installed, "Open Link" did nothing that the user could see.
#include "VeskDriver.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace veskgui {
namespace {

/// Desktop entries of the test's own: none for web links, or one that fails to start (a D-Bus
/// activated application whose bus name no service provides).
struct Desktop
{
    explicit Desktop(bool failingBrowser)
    {
        const std::string applications = folder.path() + "/data/applications";
        mkdir((folder.path() + "/data").c_str(), 0700);
        mkdir(applications.c_str(), 0700);
        mkdir((folder.path() + "/config-dirs").c_str(), 0700);
        if (!failingBrowser)
            return;
        writeFile(applications + "/org.example.VeskTestBrowser.desktop",
                  "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=true %u\nDBusActivatable=true\n"
                  "MimeType=x-scheme-handler/https;\n");
        writeFile(applications + "/mimeapps.list",
                  "[Default Applications]\nx-scheme-handler/https=org.example.VeskTestBrowser.desktop\n");
    }
    /// The environment that makes these the only desktop entries Vesk sees; links are opened by
    /// the desktop, not recorded by the test hook.
    std::vector<std::string> environment() const
    {
        return {"VESK_TEST_OPEN_URL_LOG", "XDG_DATA_HOME=" + folder.path() + "/data",
                "XDG_DATA_DIRS=" + folder.path() + "/data",
                "XDG_CONFIG_DIRS=" + folder.path() + "/config-dirs"};
    }

    TemporaryFolder folder;
};

TEST(OpenLinkFailureGuiTests, ALinkTheDesktopCannotOpenBeepsAndLogsTheLaunchersError)
{
    struct Case
    {
        const char* what;
        bool failingBrowser;
        std::string error;
    };
    const Case cases[] = {
        // GIO's own words for each; with no browser they depend on its modules.
        {"no browser", false, ""},
        {"a browser that does not start", true, "org.example.VeskTestBrowser"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Desktop desktop(c.failingBrowser);
        Vesk vesk(LaunchOptions{"", desktop.environment()});
        ASSERT_TRUE(vesk.started());
        vesk.focus();
        vesk.typeLine("clear; printf 'https://example.com/vesk\\n'");
        // The printed line, not the typed command that holds the link too.
        State state = vesk.expect(
            [](const State& s) {
                const std::vector<std::string> lines = s.lines(0, 0, 0);
                return std::find(lines.begin(), lines.end(), "https://example.com/vesk") != lines.end();
            },
            "the link");
        const Record pane = state.activePane();
        const std::vector<std::string> lines = state.lines(0, 0, 0);
        const long long row =
            std::find(lines.begin(), lines.end(), "https://example.com/vesk") - lines.begin();
        const int x = int(pane.number("terminal-x") + std::stod(pane["cell-width"]) * 5.5);
        const int y = int(pane.number("terminal-y") + std::stod(pane["cell-height"]) * (double(row) + 0.5));
        execute({"xdotool", "mousemove", "--sync", "--window", std::to_string(vesk.xid()), std::to_string(x),
                 std::to_string(y), "keydown", "ctrl", "click", "1", "keyup", "ctrl"});
        vesk.expect([](const State& s) { return !s.alerts().empty(); }, "the link question");
        const long long beeps = vesk.state().app().number("beeps");
        vesk.answerAlert("Open this link in your browser?", true);

        state = vesk.expect([&](const State& s) { return s.app().number("beeps") > beeps; },
                            "the failed launch beeps");
        EXPECT_TRUE(state.alerts().empty());
        bool logged = false;
        const std::string expected = "could not open https://example.com/vesk: ";
        vesk.waitFor(
            [&](const State&) {
                const std::string log = readFile(vesk.errorLog());
                const size_t at = log.find(expected);
                return logged = at != std::string::npos && log.find(c.error, at) != std::string::npos;
            },
            &logged);
        EXPECT_TRUE(logged) << "the launcher's error in the log: " << readFile(vesk.errorLog());
    }
}

} // namespace
} // namespace veskgui
