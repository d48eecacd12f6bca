// Which shell a pane runs for a password-database entry.
#include "Vesk/LoginShell.h"

#include <gtest/gtest.h>
#include <set>

namespace vesk {
namespace {

TEST(LoginShellTests, TheRecordsShellWhenItIsAnAbsoluteExecutableElseBashElseSh)
{
    struct Case
    {
        const char* name;
        const char* record;
        std::set<std::string> executables;
        std::string expected;
    };
    const Case cases[] = {
        {"the record's shell", "/usr/bin/fish", {"/usr/bin/fish", "/bin/bash", "/bin/sh"}, "/usr/bin/fish"},
        {"no record", nullptr, {"/bin/bash", "/bin/sh"}, "/bin/bash"},
        {"a relative path", "bin/zsh", {"bin/zsh", "/bin/bash", "/bin/sh"}, "/bin/bash"},
        {"an empty field", "", {"/bin/bash", "/bin/sh"}, "/bin/bash"},
        {"a missing file", "/usr/bin/zsh", {"/bin/bash", "/bin/sh"}, "/bin/bash"},
        {"no bash either", "/usr/bin/zsh", {"/bin/sh"}, "/bin/sh"},
        {"nothing executable at all", nullptr, {}, "/bin/sh"},
    };
    for (const Case& c : cases) {
        const auto executable = [&c](const std::string& path) { return c.executables.count(path) != 0; };
        EXPECT_EQ(LoginShell::path(c.record, executable), c.expected) << c.name;
    }
}

TEST(LoginShellTests, OnlyRegularExecutableFilesCount)
{
    EXPECT_TRUE(LoginShell::isExecutableFile("/bin/sh"));
    EXPECT_FALSE(LoginShell::isExecutableFile("/bin")) << "a directory";
    EXPECT_FALSE(LoginShell::isExecutableFile("/etc/hostname-that-is-not-there"));
    EXPECT_FALSE(LoginShell::userName().empty());
}

} // namespace
} // namespace vesk
