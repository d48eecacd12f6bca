// The default environment of a child process: TERM, COLORTERM, a UTF-8 LANG, the few host
// variables passed on and PATH, in order. Host variables are changed for each case and put back after.
#include "Kestrovan/TerminalEnvironment.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan::testing {
namespace {

/// Sets or unsets host variables for its lifetime and restores their earlier state after.
class HostEnvironment
{
public:
    ~HostEnvironment()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    void set(const std::string& name, const std::string& value)
    {
        save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name)
    {
        save(name);
        unsetenv(name.c_str());
    }

private:
    void save(const std::string& name)
    {
        if (saved_.count(name))
            return;
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }

    std::map<std::string, std::optional<std::string>> saved_;
};

const char* const passedOn[] = {"LOGNAME", "USER", "DISPLAY", "LC_TYPE", "HOME"};

/// The LANG entry the child gets: en_US.UTF-8 where this machine has it, else C.UTF-8.
const std::string lang = [] {
    locale_t probe = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", nullptr);
    if (probe)
        freelocale(probe);
    return std::string(probe ? "LANG=en_US.UTF-8" : "LANG=C.UTF-8");
}();

TEST(TerminalEnvironmentTests, TheLocaleGivenToTheChildExistsAndIsUtf8)
{
    const auto environment = getEnvironmentVariables(std::nullopt, false);
    ASSERT_GE(environment.size(), 2u);
    ASSERT_EQ(environment[1].rfind("LANG=", 0), 0u);
    const std::string name = environment[1].substr(5);
    locale_t locale = newlocale(LC_CTYPE_MASK, name.c_str(), nullptr);
    ASSERT_NE(locale, nullptr) << name << " is not a locale this machine has";
    EXPECT_STREQ(nl_langinfo_l(CODESET, locale), "UTF-8") << name;
    freelocale(locale);
}

TEST(TerminalEnvironmentTests, AllPassedVariablesInOrder)
{
    HostEnvironment host;
    host.set("LOGNAME", "ada");
    host.set("USER", "ada.l");
    host.set("DISPLAY", ":1");
    host.set("LC_TYPE", "fr_FR.UTF-8");
    host.set("HOME", "/home/ada");
    host.set("LANG", "de_DE.ISO-8859-1");
    host.set("LC_CTYPE", "de_DE");
    host.set("PATH", "/usr/bin");
    host.set("SHELL", "/bin/zsh");
    host.set("COLORTERM", "24bit");

    EXPECT_EQ(getEnvironmentVariables(std::string("xterm-256color"), true),
              (std::vector<std::string>{"TERM=xterm-256color", "COLORTERM=truecolor", lang, "LOGNAME=ada",
                                        "USER=ada.l", "DISPLAY=:1", "LC_TYPE=fr_FR.UTF-8", "HOME=/home/ada",
                                        "PATH=/usr/bin"}))
        << "the host's LANG, LC_CTYPE, SHELL and COLORTERM are not passed on";

    EXPECT_EQ(getEnvironmentVariables(std::string("vt220"), false),
              (std::vector<std::string>{"TERM=vt220", lang, "LOGNAME=ada", "USER=ada.l", "DISPLAY=:1",
                                        "LC_TYPE=fr_FR.UTF-8", "HOME=/home/ada", "PATH=/usr/bin"}))
        << "a given terminal name, and no COLORTERM without true colour";
}

TEST(TerminalEnvironmentTests, MissingHostVariablesAreLeftOut)
{
    HostEnvironment host;
    for (const char* name : passedOn)
        host.unset(name);
    host.set("PATH", "/bin");
    EXPECT_EQ(getEnvironmentVariables(std::nullopt, false),
              (std::vector<std::string>{"TERM=xterm-256color", lang, "PATH=/bin"}))
        << "no terminal name gives xterm-256color";

    host.set("HOME", "/root");
    host.set("DISPLAY", "");
    EXPECT_EQ(getEnvironmentVariables(std::nullopt, true),
              (std::vector<std::string>{"TERM=xterm-256color", "COLORTERM=truecolor", lang,
                                        "DISPLAY=", "HOME=/root", "PATH=/bin"}))
        << "a variable set empty is passed on empty; one that is missing is left out";
}

TEST(TerminalEnvironmentTests, TheChildSearchesTheHostsPathOrTheSystemDirectories)
{
    struct Case
    {
        std::optional<std::string> host;
        std::string child;
    };
    const Case cases[] = {
        {"/home/ada/bin:/usr/bin:/bin", "PATH=/home/ada/bin:/usr/bin:/bin"},
        // A host without a search path: the system's directories, never a list with "." in it.
        {std::nullopt, "PATH=/usr/local/bin:/usr/bin:/bin"},
        {"", "PATH=/usr/local/bin:/usr/bin:/bin"},
        // The host's own list goes on as it is, odd entries and all: nothing is added or taken.
        {"/opt/tools::/usr/bin:.", "PATH=/opt/tools::/usr/bin:."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.host.value_or("(no PATH)"));
        HostEnvironment host;
        if (test.host)
            host.set("PATH", *test.host);
        else
            host.unset("PATH");
        const auto environment = getEnvironmentVariables(std::nullopt, true);
        EXPECT_EQ(std::count(environment.begin(), environment.end(), test.child), 1);
        EXPECT_EQ(std::count_if(environment.begin(), environment.end(),
                                [](const std::string& entry) { return entry.rfind("PATH=", 0) == 0; }),
                  1);
    }
}

} // namespace
} // namespace kestrovan::testing
