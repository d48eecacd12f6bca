// The settings file: where it is, what an absent or broken file reads as, and how it is written.
#include "TemporaryFolder.h"

#include "Platform/Log/Log.h"
#include "Platform/Settings/Settings.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace platform {
namespace {

std::string contents(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

/// Collects the error lines logged while it lives.
struct LoggedErrors
{
    LoggedErrors()
    {
        setLogSink([this](const LogRecord& record) {
            if (record.level == LogLevel::error)
                lines.emplace_back(record.message);
        });
    }
    ~LoggedErrors() { setLogSink({}); }
    std::vector<std::string> lines;
};

TEST(SettingsTests, TheFileFollowsXdgConfigHomeWhenItIsAbsolute)
{
    const struct
    {
        const char* xdgConfigHome;
        std::string expected;
    } cases[] = {
        {"/cfg", "/cfg/vesk/settings.ini"},
        {nullptr, "/home/me/.config/vesk/settings.ini"},
        {"", "/home/me/.config/vesk/settings.ini"},
        {"relative/cfg", "/home/me/.config/vesk/settings.ini"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Settings::applicationPath(c.xdgConfigHome, "/home/me"), c.expected)
            << (c.xdgConfigHome ? c.xdgConfigHome : "(unset)");
}

TEST(SettingsTests, AbsentBrokenAndOtherTypedValuesReadAsNone)
{
    TemporaryFolder folder;
    const struct
    {
        std::string name;
        std::optional<std::string> file;
        std::optional<bool> value;
        bool logged;
    } cases[] = {
        {"no file", std::nullopt, std::nullopt, false},
        {"garbage", std::string("\x01\x02 [[[ not = a key file\n\xff"), std::nullopt, true},
        {"garbage after a good group", std::string("[Rendering]\ngpu=false\nnot a key file\n"), std::nullopt, true},
        {"another group", std::string("[Other]\ngpu=false\n"), std::nullopt, false},
        {"not a boolean", std::string("[Rendering]\ngpu=maybe\n"), std::nullopt, false},
        {"off", std::string("# mine\n[Rendering]\ngpu=false\n"), false, false},
        {"on", std::string("[Rendering]\ngpu=true\n"), true, false},
    };
    for (const auto& c : cases) {
        const std::string path = folder / (c.name + ".ini");
        if (c.file)
            writeFile(path, *c.file);
        LoggedErrors errors;
        const Settings settings(path);
        EXPECT_EQ(settings.boolean("Rendering", "gpu"), c.value) << c.name;
        EXPECT_EQ(errors.lines.size(), c.logged ? 1u : 0u) << c.name;
    }
}

TEST(SettingsTests, AChangeReplacesTheFileWholeAndKeepsWhatItDoesNotKnow)
{
    TemporaryFolder folder;
    const std::string path = folder / "config/vesk/settings.ini";
    {
        Settings settings(path);
        EXPECT_TRUE(settings.setBoolean("Rendering", "gpu", true)) << "the missing folders are made";
    }
    struct stat info
    {};
    ASSERT_EQ(stat((folder / "config/vesk").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    writeFile(path, "# kept\n[Window]\nwidth=960\n[Rendering]\ngpu=true\n");
    // A reader that opened the file before the change keeps reading the old one whole: the new
    // file is renamed over it, never written into it.
    std::ifstream before(path);
    Settings settings(path);
    EXPECT_TRUE(settings.setBoolean("Rendering", "gpu", false));
    EXPECT_EQ(settings.boolean("Rendering", "gpu"), false);
    std::stringstream old;
    old << before.rdbuf();
    EXPECT_EQ(old.str(), "# kept\n[Window]\nwidth=960\n[Rendering]\ngpu=true\n");
    const std::string written = contents(path);
    EXPECT_NE(written.find("# kept\n"), std::string::npos) << written;
    EXPECT_NE(written.find("[Window]\nwidth=960\n"), std::string::npos) << written;
    EXPECT_EQ(Settings(path).boolean("Rendering", "gpu"), false);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder / "config/vesk"))
        ++files;
    EXPECT_EQ(files, 1u) << "no temporary file is left behind";
}

TEST(SettingsTests, AFailedWriteIsLoggedAndTheChangeStillHolds)
{
    TemporaryFolder folder;
    // A file where the settings folder should be: no user, root included, can write below it.
    writeFile(folder / "vesk", "");
    LoggedErrors errors;
    Settings settings(folder / "vesk/settings.ini");
    EXPECT_FALSE(settings.setBoolean("Rendering", "gpu", false));
    EXPECT_EQ(settings.boolean("Rendering", "gpu"), false);
    ASSERT_EQ(errors.lines.size(), 1u);
    EXPECT_NE(errors.lines[0].find("the change holds for this session"), std::string::npos)
        << errors.lines[0];
}

} // namespace
} // namespace platform
