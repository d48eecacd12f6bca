// The arguments Vesk is started with: --help lists the options and exits, --version prints the
// version and exits, and an option or argument Vesk does not take (a command to run, a folder, a
// file to open, whether it exists or not) ends it with a plain error instead of opening a window.
//
// Regression: Vesk ignored every argument and opened a window for each of them; later a file or
// folder argument ended it with GLib's critical warning that the application cannot open files.
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
        /// Text standard output holds.
        std::vector<std::string> prints;
        /// Text standard error holds.
        std::vector<std::string> complains;
    };
    const Case cases[] = {
        {"--help", 0, {"Usage:", "--version", "Show the version and exit"}, {}},
        {"--version", 0, {"Vesk 0.1.1\n"}, {}},
        {"-e htop", 1, {}, {"Unknown option -e"}},
        {"/tmp", 1, {}, {"Unknown argument /tmp: Vesk does not open files\n"}},
        {"notes.txt", 1, {}, {"Unknown argument notes.txt: Vesk does not open files\n"}},
        {"missing.txt", 1, {}, {"Unknown argument missing.txt: Vesk does not open files\n"}},
        {"--version notes.txt", 1, {}, {"Unknown argument notes.txt"}},
    };
    TemporaryFolder folder;
    writeFile(folder.path() + "/notes.txt", "a note\n");
    const std::string errors = folder.path() + "/stderr";
    for (const Case& c : cases) {
        // A window opened instead would keep the program running: the time limit ends it then.
        int status = -1;
        const std::string output = run("cd '" + folder.path() + "' && HOME='" + folder.path() +
                                           "' XDG_CONFIG_HOME='" + folder.path() + "' timeout 30 " +
                                           VESK_EXECUTABLE + " " + c.arguments + " 2>'" + errors + "'",
                                       &status);
        const std::string error = readFile(errors);
        EXPECT_EQ(status, c.status) << c.arguments << ": " << output << error;
        for (const std::string& text : c.prints)
            EXPECT_NE(output.find(text), std::string::npos)
                << c.arguments << " prints " << text << ": " << output;
        for (const std::string& text : c.complains)
            EXPECT_NE(error.find(text), std::string::npos)
                << c.arguments << " complains " << text << ": " << error;
        if (c.complains.empty())
            EXPECT_EQ(error, "") << c.arguments;
        else
            EXPECT_EQ(output, "") << c.arguments << ": an error prints nothing else";
        EXPECT_EQ(error.find("CRITICAL"), std::string::npos) << c.arguments << ": " << error;
    }
}

} // namespace
} // namespace veskgui
