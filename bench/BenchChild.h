// Workloads measured in a child process of their own: the child's peak resident size is then the
// workload's alone, and a runaway workload runs into the child's address-space and CPU limits
// instead of taking the machine down.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <type_traits>
#include <unistd.h>

namespace bench {

/// The peak resident size of this process so far, in MiB.
inline double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

/// A field of /proc/self/status in MiB (VmRSS, VmHWM); 0 when it cannot be read.
inline double statusMiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stod(line.substr(prefix.size())) / 1024.0;
    }
    return 0;
}

/// Starts the peak resident size afresh from the current one; false where the kernel cannot.
inline bool resetPeakResident()
{
    std::FILE* file = std::fopen("/proc/self/clear_refs", "w");
    if (!file)
        return false;
    const bool written = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && written;
}

/// The CPU time this process has used so far, user and system, in seconds.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// What a child may use before it is stopped.
struct ChildLimits
{
    uint64_t addressSpaceBytes = 4ull << 30;
    int cpuSeconds = 120;
};

/// Runs `work` in a forked child and hands back the value it returns (a trivially copyable
/// struct, sent through a pipe); absent when the child did not finish: it crashed, ran out of
/// address space or used up its CPU time.
template <typename Figures, typename Work>
std::optional<Figures> runInChild(Work&& work, ChildLimits limits = {})
{
    static_assert(std::is_trivially_copyable_v<Figures>);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const rlimit addressSpace{limits.addressSpaceBytes, limits.addressSpaceBytes};
        setrlimit(RLIMIT_AS, &addressSpace);
        const rlimit cpu{rlim_t(limits.cpuSeconds), rlim_t(limits.cpuSeconds)};
        setrlimit(RLIMIT_CPU, &cpu);
        const Figures figures = work();
        const bool written = write(pipeEnds[1], &figures, sizeof figures) == ssize_t(sizeof figures);
        _exit(written ? 0 : 1);
    }
    close(pipeEnds[1]);
    Figures figures{};
    const bool received = child > 0 && read(pipeEnds[0], &figures, sizeof figures) == ssize_t(sizeof figures);
    close(pipeEnds[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return figures;
}

} // namespace bench
