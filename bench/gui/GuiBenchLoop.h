// What the GUI benchmarks share: running the GTK main loop until something happened, the
// percentiles of a run's samples, and a large text file in a folder of its own for a neighbouring
// view to `cat`.
#pragma once

#include "../BenchInputs.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <glib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

/// Runs the main loop until `done` returns true or `limit` seconds pass; false on the time limit.
inline bool runUntil(const std::function<bool()>& done, double limit)
{
    using Clock = std::chrono::steady_clock;
    const auto end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
    while (!done()) {
        if (Clock::now() > end)
            return false;
        g_main_context_iteration(nullptr, true);
    }
    return true;
}

/// The median, 90th and 99th percentiles and the largest of a run's samples, and how many.
struct Percentiles
{
    double median = 0;
    double p90 = 0;
    double p99 = 0;
    double max = 0;
    size_t count = 0;
};

inline Percentiles percentiles(std::vector<double> values)
{
    Percentiles result;
    result.count = values.size();
    if (values.empty())
        return result;
    std::sort(values.begin(), values.end());
    result.median = values[values.size() / 2];
    result.p90 = values[std::min(values.size() - 1, (values.size() * 90 + 99) / 100 - 1)];
    result.p99 = values[std::min(values.size() - 1, (values.size() * 99 + 99) / 100 - 1)];
    result.max = values.back();
    return result;
}

/// Lines of words (`asciiLines`, cut to whole lines) of at most `size` bytes in a file of a fresh
/// folder under /tmp; `remove` deletes both (call it before `_exit`, which runs no destructors).
class ScratchTextFile
{
public:
    ScratchTextFile(size_t size, uint32_t seed)
    {
        char pattern[] = "/tmp/kestrovan-gui-bench-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        directory_ = pattern;
        std::string contents = asciiLines(size, "\n", seed);
        contents.resize(contents.rfind('\n', size - 1) + 1);
        const std::string path = directory_ + "/plain.txt";
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file)
            return;
        if (std::fwrite(contents.data(), 1, contents.size(), file) == contents.size())
            path_ = path;
        std::fclose(file);
    }
    ~ScratchTextFile() { remove(); }
    ScratchTextFile(const ScratchTextFile&) = delete;
    ScratchTextFile& operator=(const ScratchTextFile&) = delete;

    /// The file's path; empty when it could not be written.
    const std::string& path() const { return path_; }
    void remove()
    {
        if (!path_.empty())
            unlink(path_.c_str());
        if (!directory_.empty())
            rmdir(directory_.c_str());
        path_.clear();
        directory_.clear();
    }

private:
    std::string directory_;
    std::string path_;
};

} // namespace bench
