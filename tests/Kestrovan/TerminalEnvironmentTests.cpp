// The default environment of a child process: TERM, COLORTERM, a UTF-8 LANG and the few host
// variables passed on, in order. Host variables are changed for each case and put back after.
#include "Kestrovan/Terminal.h"

#include <cstdlib>
#include <gtest/gtest.h>
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

    EXPECT_EQ(Terminal::getEnvironmentVariables(std::string("xterm-256color"), true),
              (std::vector<std::string>{"TERM=xterm-256color", "COLORTERM=truecolor", "LANG=en_US.UTF-8",
                                        "LOGNAME=ada", "USER=ada.l", "DISPLAY=:1", "LC_TYPE=fr_FR.UTF-8",
                                        "HOME=/home/ada"}))
        << "the host's LANG, LC_CTYPE, PATH, SHELL and COLORTERM are not passed on";

    EXPECT_EQ(Terminal::getEnvironmentVariables(std::string("vt220"), false),
              (std::vector<std::string>{"TERM=vt220", "LANG=en_US.UTF-8", "LOGNAME=ada", "USER=ada.l",
                                        "DISPLAY=:1", "LC_TYPE=fr_FR.UTF-8", "HOME=/home/ada"}))
        << "a given terminal name, and no COLORTERM without true colour";
}

TEST(TerminalEnvironmentTests, MissingHostVariablesAreLeftOut)
{
    HostEnvironment host;
    for (const char* name : passedOn)
        host.unset(name);
    EXPECT_EQ(Terminal::getEnvironmentVariables(std::nullopt, false),
              (std::vector<std::string>{"TERM=xterm-256color", "LANG=en_US.UTF-8"}))
        << "no terminal name gives xterm-256color";

    host.set("HOME", "/root");
    host.set("DISPLAY", "");
    EXPECT_EQ(Terminal::getEnvironmentVariables(std::nullopt, true),
              (std::vector<std::string>{"TERM=xterm-256color", "COLORTERM=truecolor", "LANG=en_US.UTF-8",
                                        "DISPLAY=", "HOME=/root"}))
        << "a variable set empty is passed on empty; one that is missing is left out";
}

} // namespace
} // namespace kestrovan::testing
