#include "Vesk/LoginShell.h"

#include <cstdlib>
#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

std::string LoginShell::path(const char* recordShell, const ExecutableCheck& isExecutable)
{
    if (recordShell && recordShell[0] == '/' && isExecutable(recordShell))
        return recordShell;
    for (const char* fallback : {"/bin/bash", "/bin/sh"})
        if (isExecutable(fallback))
            return fallback;
    return "/bin/sh";
}

std::string LoginShell::path()
{
    const passwd* entry = getpwuid(getuid());
    return path(entry ? entry->pw_shell : nullptr);
}

std::string LoginShell::userName()
{
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name && entry->pw_name[0])
        return entry->pw_name;
    if (const char* user = std::getenv("USER"); user && user[0])
        return user;
    return std::to_string(getuid());
}

std::string LoginShell::homeDirectory()
{
    return g_get_home_dir();
}

bool LoginShell::isExecutableFile(const std::string& path)
{
    struct stat info
    {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace vesk
