// Helpers for tests that run real children: waiting with a generous deadline, and asking the
// system whether a child is gone or left as a zombie.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrovan::testing {

/// Long enough for a loaded machine under a sanitizer; only a hang ever waits this long.
inline constexpr std::chrono::seconds childDeadline{10};

/// Polls `condition` every few milliseconds until it holds or the deadline passes.
inline bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + childDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

/// The state letter of a process from /proc ('Z' for a zombie); absent once it has been reaped.
inline std::optional<char> processState(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return std::nullopt;
    // "pid (comm) S ...": the command may contain blanks and parentheses, so look after the last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return std::nullopt;
    return line[close + 2];
}

/// The children of this process that have ended but were never reaped.
inline std::vector<pid_t> zombieChildren()
{
    std::vector<pid_t> zombies;
    DIR* directory = opendir("/proc");
    if (!directory)
        return zombies;
    while (dirent* entry = readdir(directory)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        const size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (state == 'Z' && parent == getpid())
            zombies.push_back(pid);
    }
    closedir(directory);
    return zombies;
}

} // namespace kestrovan::testing
