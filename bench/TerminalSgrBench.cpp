// SGR through the whole terminal: dense coloured cells as ls, htop or a syntax highlighter emit.
//
// Workloads, each 64 KiB made before the timed loop from a fixed seed: every cell with its own
// 256-colour foreground and background (semicolon form); every cell with a true-colour foreground
// in the colon form plus an underline style; and a few attributes repeated cell after cell (what
// interning is expected to make cheap). Plain ASCII of the same size is the baseline; each SGR
// workload prints its time per byte relative to it as the "vsPlain" counter.
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

constexpr size_t inputSize = 64u << 10;

std::shared_ptr<Terminal> makeTerminal(const std::shared_ptr<bench::QuietDelegate>& delegate)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 80;
    options.rows = 24;
    options.scrollback = 1000;
    return Terminal::create(delegate, options);
}

std::string plainText()
{
    std::string out;
    while (out.size() < inputSize)
        out += "the quick brown fox jumps over the lazy dog 0123456789\r\n";
    return out;
}

std::string palette256Cells()
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> colour(0, 255);
    std::string out;
    for (int cell = 0; out.size() < inputSize; ++cell) {
        out +=
            "\x1b[38;5;" + std::to_string(colour(random)) + ";48;5;" + std::to_string(colour(random)) + "mx";
        if (cell % 80 == 79)
            out += "\r\n";
    }
    return out;
}

std::string trueColorColonCells()
{
    std::mt19937 random(2);
    std::uniform_int_distribution<int> channel(0, 255);
    std::uniform_int_distribution<int> underline(0, 5);
    std::string out;
    for (int cell = 0; out.size() < inputSize; ++cell) {
        out += "\x1b[38:2::" + std::to_string(channel(random)) + ":" + std::to_string(channel(random)) + ":" +
               std::to_string(channel(random)) + ";4:" + std::to_string(underline(random)) + "my";
        if (cell % 80 == 79)
            out += "\r\n";
    }
    return out;
}

std::string repeatedAttributes()
{
    static const char* const looks[] = {"\x1b[1;31m", "\x1b[0;32m", "\x1b[34;47m", "\x1b[0m"};
    std::string out;
    for (int cell = 0; out.size() < inputSize; ++cell) {
        out += looks[cell % 4];
        out += "word ";
        if (cell % 16 == 15)
            out += "\r\n";
    }
    return out;
}

double plainNanosecondsPerByte = 0;

/// Feeds `input` repeatedly; answers nanoseconds per byte.
double runFeed(benchmark::State& state, const std::string& input)
{
    const auto& delegate = bench::quietDelegate();
    auto terminal = makeTerminal(delegate);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        terminal->feed(input);
    const double elapsed =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
    return elapsed / (double(state.iterations()) * double(input.size()));
}

void reportRatio(benchmark::State& state, double nanosecondsPerByte)
{
    if (plainNanosecondsPerByte > 0)
        state.counters["vsPlain"] = nanosecondsPerByte / plainNanosecondsPerByte;
}

void BM_PlainAscii(benchmark::State& state)
{
    plainNanosecondsPerByte = runFeed(state, plainText());
}
BENCHMARK(BM_PlainAscii);

void BM_Sgr256ColourCells(benchmark::State& state)
{
    reportRatio(state, runFeed(state, palette256Cells()));
}
BENCHMARK(BM_Sgr256ColourCells);

void BM_SgrTrueColourColonCells(benchmark::State& state)
{
    reportRatio(state, runFeed(state, trueColorColonCells()));
}
BENCHMARK(BM_SgrTrueColourColonCells);

void BM_SgrRepeatedAttributes(benchmark::State& state)
{
    reportRatio(state, runFeed(state, repeatedAttributes()));
}
BENCHMARK(BM_SgrRepeatedAttributes);

} // namespace
