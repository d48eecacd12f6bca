#include "Kestrovan/Mac/LinkFileSystem.h"

#include "Platform/UI/ContentType.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovan {

const LinkFileSystem& LinkFileSystem::system()
{
    static const LinkFileSystem machine;
    return machine;
}

bool LinkFileSystem::exists(const std::string& path) const
{
    struct stat info
    {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::optional<std::string> LinkFileSystem::resolvedPath(const std::string& path) const
{
    if (path.empty())
        return std::nullopt;
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::optional<LinkFileSystem::Entry> LinkFileSystem::entry(const std::string& path) const
{
    struct stat info
    {};
    if (path.empty() || stat(path.c_str(), &info) != 0)
        return std::nullopt;
    Entry entry;
    entry.kind = S_ISREG(info.st_mode)   ? Entry::Kind::regularFile
                 : S_ISDIR(info.st_mode) ? Entry::Kind::directory
                                         : Entry::Kind::special;
    entry.executable = (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    return entry;
}

std::optional<std::string> LinkFileSystem::contentType(const std::string& path) const
{
    return platform::contentTypeOfRegularFile(path);
}

bool LinkFileSystem::contentTypeIsA(const std::string& type, const std::string& supertype) const
{
    return platform::contentTypeIsA(type, supertype);
}

std::string LinkFileSystem::hostName() const
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

std::optional<std::string> LinkFileSystem::homeDirectory() const
{
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home);
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && *entry->pw_dir == '/')
        return std::string(entry->pw_dir);
    return std::nullopt;
}

std::optional<std::string> LinkFileSystem::workingDirectory(int32_t pid) const
{
    if (pid <= 0)
        return std::nullopt;
    const std::string link = "/proc/" + std::to_string(pid) + "/cwd";
    char target[PATH_MAX + 1] = {};
    const ssize_t length = readlink(link.c_str(), target, PATH_MAX);
    if (length <= 0 || target[0] != '/')
        return std::nullopt;
    const std::string path(target, size_t(length));
    // The link itself leads into the process's directory whatever its name has become; the name
    // stands only when it leads to the same place.
    struct stat byLink
    {};
    struct stat byName
    {};
    if (stat(link.c_str(), &byLink) != 0 || stat(path.c_str(), &byName) != 0)
        return std::nullopt;
    if (byLink.st_dev != byName.st_dev || byLink.st_ino != byName.st_ino || !S_ISDIR(byName.st_mode))
        return std::nullopt;
    return path;
}

} // namespace kestrovan
