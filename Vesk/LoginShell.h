// Which shell a pane runs, and who the user is to it: the login shell from the password database,
// the user's name and home folder.
//
// The password database's shell is used only when it is an absolute path to an executable file;
// otherwise /bin/bash, and /bin/sh where bash is missing (every POSIX system has that one). The
// checks are passed in, so every case is tested without changing the machine.
#pragma once

#include <functional>
#include <string>

namespace vesk {

struct LoginShell
{
    /// Answers whether a path names an executable regular file.
    using ExecutableCheck = std::function<bool(const std::string& path)>;

    /// The shell for a password-database entry whose shell field is `recordShell` (null when there
    /// is no entry or no field).
    static std::string path(const char* recordShell, const ExecutableCheck& isExecutable = isExecutableFile);

    /// The shell of the real user, from the password database.
    static std::string path();

    /// The user's name: the password database's, else $USER, else the numeric user id.
    static std::string userName();

    /// The user's home folder (GLib's answer: $HOME, else the password database's).
    static std::string homeDirectory();

    /// True for a regular file this process may execute.
    static bool isExecutableFile(const std::string& path);
};

} // namespace vesk
