// The settings file: where it is, what an absent or broken file reads as, and how it is written.
#include "TemporaryFolder.h"

#include "Platform/Log/Log.h"
#include "Platform/Settings/Settings.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace platform {
namespace {

std::string contents(std::istream&& file)
{
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(SettingsTests, TheFileIsUnderXdgConfigHomeWhenThatIsAbsolute)
{
    EXPECT_EQ(Settings::applicationPath("/cfg", "/home/me"), "/cfg/vesk/settings.ini");
    for (const char* unusable : {static_cast<const char*>(nullptr), "", "relative/cfg"})
        EXPECT_EQ(Settings::applicationPath(unusable, "/home/me"), "/home/me/.config/vesk/settings.ini");
}

TEST(SettingsTests, AbsentBrokenAndOtherTypedValuesReadAsNone)
{
    TemporaryFolder folder;
    const struct
    {
        std::optional<std::string> file;
        std::optional<bool> value;
        int errorsLogged;
    } cases[] = {
        {std::nullopt, std::nullopt, 0},
        {"\x01\x02 [[[ not = a key file\n\xff", std::nullopt, 1},
        {"[Rendering]\ngpu=false\nnot a key file\n", std::nullopt, 1},
        {"[Rendering]\ngpu=maybe\n", std::nullopt, 0},
        {"# mine\n[Rendering]\ngpu=false\n", false, 0},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string path = folder / std::to_string(index++);
        if (c.file)
            std::ofstream(path) << *c.file;
        int errors = 0;
        setLogSink([&](const LogRecord& record) { errors += record.level == LogLevel::error; });
        EXPECT_EQ(Settings(path).boolean("Rendering", "gpu"), c.value) << c.file.value_or("(no file)");
        setLogSink({});
        EXPECT_EQ(errors, c.errorsLogged) << c.file.value_or("(no file)");
    }
}

TEST(SettingsTests, AChangeReplacesTheFileWholeAndKeepsWhatItDoesNotKnow)
{
    TemporaryFolder folder;
    const std::string path = folder / "config/vesk/settings.ini";
    EXPECT_TRUE(Settings(path).setBoolean("Rendering", "gpu", true)) << "the missing folders are made";
    EXPECT_EQ(std::filesystem::status(folder / "config/vesk").permissions(),
              std::filesystem::perms::owner_all);

    std::ofstream(path) << "# kept\n[Window]\nwidth=960\n[Rendering]\ngpu=true\n";
    // A reader that opened the file before the change reads the old one whole: the new file is
    // renamed over it, never written into it.
    std::ifstream before(path);
    Settings settings(path);
    EXPECT_TRUE(settings.setBoolean("Rendering", "gpu", false));
    EXPECT_EQ(contents(std::move(before)), "# kept\n[Window]\nwidth=960\n[Rendering]\ngpu=true\n");
    const std::string written = contents(std::ifstream(path));
    EXPECT_NE(written.find("# kept\n"), std::string::npos) << written;
    EXPECT_NE(written.find("[Window]\nwidth=960\n"), std::string::npos) << written;
    EXPECT_EQ(Settings(path).boolean("Rendering", "gpu"), false);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "config/vesk"), {}), 1)
        << "no temporary file is left behind";
}

TEST(SettingsTests, AFailedWriteIsLoggedAndTheChangeStillHolds)
{
    TemporaryFolder folder;
    std::ofstream(folder / "vesk") << ""; // a file where the folder belongs: unwritable even for root
    std::vector<std::string> errors;
    setLogSink([&](const LogRecord& record) { errors.emplace_back(record.message); });
    Settings settings(folder / "vesk/settings.ini");
    EXPECT_FALSE(settings.setBoolean("Rendering", "gpu", false));
    setLogSink({});
    EXPECT_EQ(settings.boolean("Rendering", "gpu"), false);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("the change holds for this session"), std::string::npos) << errors[0];
}

} // namespace
} // namespace platform
