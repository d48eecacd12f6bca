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
#include "BenchChild.h"
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

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

struct FloodFigures
{
    double baseMiB = 0;
    double peakMiB = 0;
    double cpuSeconds = 0;
};

// Runs the flood in a child; absent when the child did not finish.
std::optional<FloodFigures> measureInChild(const std::string& flood)
{
    return bench::runInChild<FloodFigures>([&] {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 80;
        options.rows = 24;
        options.scrollback = 10000;
        const auto& delegate = bench::quietDelegate();
        auto terminal = Terminal::create(delegate, options);
        terminal->feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("start\r\n"), 7));
        FloodFigures out;
        out.baseMiB = bench::peakResidentMiB();
        const double cpuBefore = bench::cpuSeconds();
        const auto* data = reinterpret_cast<const uint8_t*>(flood.data());
        for (size_t at = 0; at < flood.size(); at += chunkSize)
            terminal->feed(std::span<const uint8_t>(data + at, std::min(chunkSize, flood.size() - at)));
        out.cpuSeconds = bench::cpuSeconds() - cpuBefore;
        out.peakMiB = bench::peakResidentMiB();
        return out;
    });
}

void runFlood(benchmark::State& state, const std::string& flood)
{
    std::optional<FloodFigures> figures;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        figures = measureInChild(flood);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (!figures) {
        state.SkipWithError("the flood exhausted the child's memory or CPU limit");
        return;
    }
    state.counters["baseMiB"] = figures->baseMiB;
    state.counters["peakMiB"] = figures->peakMiB;
    state.counters["growthMiB"] = figures->peakMiB - figures->baseMiB;
    state.counters["cpuSeconds"] = figures->cpuSeconds;
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
