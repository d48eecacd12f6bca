// The default environment of a child process started without one: enough for a program to know
// which terminal it runs in, a UTF-8 locale, who and where the user is, and where programs are.
// Nothing else of the host process is passed on; the application builds a fuller environment of
// its own.
#include "Kestrovan/TerminalEnvironment.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace kestrovan {

namespace {

/// "en_US.UTF-8" where that locale is installed, else "C.UTF-8", which the C library always has.
/// Many Linux systems carry no en_US locale at all; a child told to use one would fall back to
/// plain ASCII, and every program in the terminal would then mangle UTF-8.
const char* utf8LocaleName()
{
    static const char* const name = [] {
        if (locale_t probe = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", nullptr)) {
            freelocale(probe);
            return "en_US.UTF-8";
        }
        return "C.UTF-8";
    }();
    return name;
}

} // namespace

std::string inheritedSearchPath()
{
    // Without a PATH of its own, a shell falls back to a built-in list that may end in ".", so a
    // program in whatever directory the user is in could stand in for `ls`. The host's own list
    // goes on as it is, never with an entry added; a host without one (or with an empty one, which
    // would mean only the current directory) gives the usual system directories.
    const char* path = std::getenv("PATH");
    if (!path || !*path)
        return defaultSearchPath;
    return path;
}

std::vector<std::string> getEnvironmentVariables(const std::optional<std::string>& termName, bool trueColor)
{
    std::vector<std::string> environment;
    environment.push_back("TERM=" + termName.value_or("xterm-256color"));
    if (trueColor)
        environment.push_back("COLORTERM=truecolor");
    // The terminal speaks UTF-8 whatever the host's locale, so the child is told so.
    environment.push_back(std::string("LANG=") + utf8LocaleName());

    // LC_TYPE is copied under that name; LC_CTYPE is not copied, so the host's character locale
    // cannot override the UTF-8 LANG above. A variable the host lacks is left out, not passed
    // on empty.
    for (const char* name : {"LOGNAME", "USER", "DISPLAY", "LC_TYPE", "HOME"}) {
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    }
    environment.push_back("PATH=" + inheritedSearchPath());
    return environment;
}

} // namespace kestrovan
