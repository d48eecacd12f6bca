#include "Kestrovan/LocalProcessProgramSearch.h"

#include <cerrno>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovan {

namespace {

// What one candidate path holds, as `execve` would see it.
enum class Candidate
{
    missing,
    notExecutable,
    program,
};

Candidate examine(const std::string& path)
{
    struct stat info
    {};
    if (stat(path.c_str(), &info) != 0)
        return Candidate::missing;
    // A directory or a device by the program's name is found but cannot be run, as `execve` says.
    if (!S_ISREG(info.st_mode) || access(path.c_str(), X_OK) != 0)
        return Candidate::notExecutable;
    return Candidate::program;
}

} // namespace

std::variant<std::string, int> findProgram(const std::string& program, const std::string& searchPath,
                                           const std::optional<std::string>& currentDirectory)
{
    if (program.empty())
        return ENOENT;
    if (program.find('/') != std::string::npos)
        return program;

    bool sawNotExecutable = false;
    std::string_view rest = searchPath;
    for (;;) {
        const size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        std::string candidate = entry.empty() ? program : std::string(entry) + "/" + program;
        if (candidate.front() != '/' && currentDirectory && !currentDirectory->empty())
            candidate = *currentDirectory + "/" + candidate;
        switch (examine(candidate)) {
        case Candidate::program:
            return candidate;
        case Candidate::notExecutable:
            sawNotExecutable = true;
            break;
        case Candidate::missing:
            break;
        }
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    return sawNotExecutable ? EACCES : ENOENT;
}

std::optional<std::string> searchPathOf(const std::vector<std::string>& environment)
{
    // The first PATH wins, as `getenv` in the child would find it.
    for (const std::string& entry : environment) {
        if (entry.rfind("PATH=", 0) == 0)
            return entry.substr(5);
    }
    return std::nullopt;
}

} // namespace kestrovan
