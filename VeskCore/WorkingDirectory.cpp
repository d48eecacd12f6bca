// A process's directory by pid, and the directory formats of titles and tool tips.
#include "VeskCore/WorkingDirectory.h"

#include "VeskCore/ControlCharacters.h"
#include "VeskCore/ProcessDirectory.h"

namespace vesk {

namespace {

/// `path` without one trailing "/", unless it is the root itself.
std::string_view withoutTrailingSlash(std::string_view path)
{
    if (path.size() >= 2 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

} // namespace

std::optional<std::string> WorkingDirectory::path(int pid)
{
    const std::optional<ProcessDirectory> directory = ProcessDirectory::open(pid);
    if (!directory)
        return std::nullopt;
    return directory->currentDirectory();
}

std::string WorkingDirectory::label(std::string_view path)
{
    while (path.size() >= 2 && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    std::string_view component = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (component.empty())
        component = "/";
    return displayText(component);
}

std::string WorkingDirectory::abbreviatedPath(std::string_view path, std::string_view home)
{
    path = withoutTrailingSlash(path);
    home = withoutTrailingSlash(home);
    // Without a home folder nothing is abbreviated: an empty one would otherwise turn every
    // absolute path into "~/…".
    if (home.empty())
        return displayText(path);
    if (path == home)
        return "~";
    if (path.size() > home.size() && path.substr(0, home.size()) == home && path[home.size()] == '/')
        return displayText("~" + std::string(path.substr(home.size())));
    return displayText(path);
}

std::string WorkingDirectory::displayText(std::string_view text)
{
    return escapedForDisplay(text, LineFeeds::escape);
}

} // namespace vesk
