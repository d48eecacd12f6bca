// The arguments Vesk is started with: --help lists the options and exits, --version prints the
// version and exits, and an option or argument Vesk does not take (a command to run, a folder)
// ends it with an error instead of opening a window.
//
// Regression: Vesk ignored every argument and opened a window for each of them.
#include "VeskDriver.h"

#include <gtest/gtest.h>

namespace veskgui {
namespace {

TEST(CommandLineGuiTests, HelpAndVersionAnswerAndOtherArgumentsAreRefused)
{
    struct Case
    {
        const char* arguments;
        int status;
        /// Text the output (standard output and error together) holds.
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"--help", 0, {"Usage:", "--version", "Show the version and exit"}},
        {"--version", 0, {"Vesk 0.1.1\n"}},
        {"-e htop", 1, {"Unknown option -e"}},
        {"/tmp", 1, {"can not open files"}},
    };
    TemporaryFolder folder;
    for (const Case& c : cases) {
        // A window opened instead would keep the program running: the time limit ends it then.
        int status = -1;
        const std::string output =
            run("cd '" + folder.path() + "' && HOME='" + folder.path() + "' XDG_CONFIG_HOME='" +
                    folder.path() + "' timeout 30 " + VESK_EXECUTABLE + " " + c.arguments + " 2>&1",
                &status);
        EXPECT_EQ(status, c.status) << c.arguments << ": " << output;
        for (const std::string& text : c.says)
            EXPECT_NE(output.find(text), std::string::npos)
                << c.arguments << " says " << text << ": " << output;
    }
}

} // namespace
} // namespace veskgui
