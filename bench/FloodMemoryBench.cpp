// Memory and time of hostile output floods: streams a program can write to make a terminal grow
// its cell tables without bound.
//
// Each flood is fed in 64 KiB chunks into a fresh 80x24 terminal with 10,000 lines of scrollback,
// inside a child process of its own, so that the child's peak resident size is the terminal's and
// the flood's alone. Counters per benchmark:
// - baseMiB: peak resident size of the child once the terminal is made, before the flood;
// - peakMiB: peak resident size after the flood;
// - growthMiB: the difference, what the flood cost;
// - cpuSeconds: the child's CPU time spent feeding the flood.
// A child that runs out of its 4 GiB address-space limit or its 120 s of CPU time is reported as
// failed rather than taking the machine down.
//
// The floods:
// - MarksOnOneBase/16000 and /1000000: "e" followed by that many U+0301 COMBINING ACUTE ACCENT;
// - ZwjEmoji/200000: that many emoji joined by U+200D ZERO WIDTH JOINER into one sequence;
// - DistinctTrueColours/70000: that many distinct 24-bit foregrounds, one character each
//   (about 1.1 MB, more styles than the style table holds at once).
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace kestrovan;

constexpr size_t chunkSize = 64u << 10;

std::string marksOnOneBase(int64_t marks)
{
    std::string out = "e";
    for (int64_t i = 0; i < marks; ++i)
        appendUtf8(out, U'\u0301');
    return out;
}

std::string zwjEmoji(int64_t count)
{
    std::string out;
    for (int64_t i = 0; i < count; ++i) {
        if (i > 0)
            appendUtf8(out, U'\u200D');
        appendUtf8(out, i % 2 ? U'\U0001F469' : U'\U0001F468');
    }
    return out;
}

std::string distinctTrueColours(int64_t count)
{
    std::string out;
    for (int64_t i = 0; i < count; ++i) {
        out += "\x1b[38;2;" + std::to_string((i >> 16) & 0xFF) + ";" + std::to_string((i >> 8) & 0xFF) + ";" +
               std::to_string(i & 0xFF) + "mx";
    }
    return out;
}

double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct FloodFigures
{
    double baseMiB = 0;
    double peakMiB = 0;
    double cpuSeconds = 0;
};

// Runs the flood in a child; false when the child did not finish.
bool measureInChild(const std::string& flood, FloodFigures& figures)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const rlimit addressSpace{4ull << 30, 4ull << 30};
        setrlimit(RLIMIT_AS, &addressSpace);
        const rlimit cpu{120, 120};
        setrlimit(RLIMIT_CPU, &cpu);
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 80;
        options.rows = 24;
        options.scrollback = 10000;
        const auto& delegate = bench::quietDelegate();
        auto terminal = Terminal::create(delegate, options);
        terminal->feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("start\r\n"), 7));
        FloodFigures out;
        out.baseMiB = peakMiB();
        const double cpuBefore = cpuSeconds();
        const auto* data = reinterpret_cast<const uint8_t*>(flood.data());
        for (size_t at = 0; at < flood.size(); at += chunkSize)
            terminal->feed(std::span<const uint8_t>(data + at, std::min(chunkSize, flood.size() - at)));
        out.cpuSeconds = cpuSeconds() - cpuBefore;
        out.peakMiB = peakMiB();
        const bool written = write(pipeEnds[1], &out, sizeof out) == ssize_t(sizeof out);
        _exit(written ? 0 : 1);
    }
    close(pipeEnds[1]);
    const bool read_ = child > 0 && read(pipeEnds[0], &figures, sizeof figures) == ssize_t(sizeof figures);
    close(pipeEnds[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    return read_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void runFlood(benchmark::State& state, const std::string& flood)
{
    FloodFigures figures;
    bool finished = true;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        finished = measureInChild(flood, figures);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (!finished) {
        state.SkipWithError("the flood exhausted the child's memory or CPU limit");
        return;
    }
    state.counters["baseMiB"] = figures.baseMiB;
    state.counters["peakMiB"] = figures.peakMiB;
    state.counters["growthMiB"] = figures.peakMiB - figures.baseMiB;
    state.counters["cpuSeconds"] = figures.cpuSeconds;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(flood.size()));
}

void BM_MarksOnOneBase(benchmark::State& state)
{
    runFlood(state, marksOnOneBase(state.range(0)));
}
BENCHMARK(BM_MarksOnOneBase)
    ->Arg(16000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ZwjEmoji(benchmark::State& state)
{
    runFlood(state, zwjEmoji(state.range(0)));
}
BENCHMARK(BM_ZwjEmoji)
    ->Arg(20000)
    ->Arg(200000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_DistinctTrueColours(benchmark::State& state)
{
    runFlood(state, distinctTrueColours(state.range(0)));
}
BENCHMARK(BM_DistinctTrueColours)
    ->Arg(70000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
