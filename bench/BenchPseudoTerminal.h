// A program on a new pseudo-terminal for the benchmarks' bare peers: `forkpty` and `execv`, with
// nothing of the engine between the program and the reader.
#pragma once

#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

/// Starts `argv` (the program's path first) on a new terminal of `rows` by `columns`. Returns the
/// child's process id, with the master side in `master`, or -1 when no terminal could be made.
inline pid_t startOnTerminal(const std::vector<std::string>& argv, int rows, int columns, int& master)
{
    // Built before the fork: the child only calls `execv`, or `_exit` when that fails.
    std::vector<char*> pointers;
    for (const std::string& argument : argv)
        pointers.push_back(const_cast<char*>(argument.c_str()));
    pointers.push_back(nullptr);
    winsize size{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return pid;
}

} // namespace bench
