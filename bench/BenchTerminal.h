// Terminals for the benchmarks: a delegate that drops what the terminal sends back, terminals of
// a given size made with it, the timed loop that feeds one a fixed input, screens of coloured
// words to fill them with, and the full render snapshot that decodes every row, the baseline
// other ways of reading a screen are compared with.
#pragma once

#include "BenchRatio.h"

#include "Kestrovan/Portable/RenderSnapshotBuilder.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <random>
#include <string>

namespace bench {

class QuietDelegate final : public kestrovan::TerminalDelegate
{
public:
    void send(kestrovan::Terminal&, Bytes) override {}
};

/// One delegate for every benchmark terminal; it lives as long as the process, so replies always
/// reach it (a terminal holds its delegate weakly).
inline const std::shared_ptr<QuietDelegate>& quietDelegate()
{
    static const auto delegate = std::make_shared<QuietDelegate>();
    return delegate;
}

/// A terminal of `cols` x `rows` with `scrollback` lines of history.
inline std::shared_ptr<kestrovan::Terminal>
makeTerminal(int cols, int rows, int scrollback = kestrovan::TerminalOptions::defaults().scrollback)
{
    kestrovan::TerminalOptions options = kestrovan::TerminalOptions::defaults();
    options.cols = cols;
    options.rows = rows;
    options.scrollback = scrollback;
    return kestrovan::Terminal::create(quietDelegate(), options);
}

/// Feeds `input` to the terminal once an iteration, counting its bytes; answers the wall-clock
/// seconds an iteration took.
inline double feedEachIteration(benchmark::State& state, kestrovan::Terminal& terminal,
                                const std::string& input)
{
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        terminal.feed(input);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
    return secondsPerIteration(start, state);
}

/// One row of `columns` cells of words of 1-9 letters, each word in one of seven colours.
inline std::string colouredWordRow(std::mt19937& random, int columns)
{
    std::string out;
    int col = 0;
    while (col < columns) {
        const int length = std::min<int>(int(random() % 9) + 1, columns - col);
        out += "\x1b[" + std::to_string(31 + random() % 7) + "m";
        for (int i = 0; i < length; ++i)
            out += char('a' + random() % 26);
        col += length;
        if (col < columns) {
            out += ' ';
            ++col;
        }
    }
    return out;
}

/// Full render snapshots of `cells` cells, each decoding every row (the row cache is forgotten
/// before each); answers the wall-clock seconds one took.
inline double measureSnapshotsDecodingEveryRow(benchmark::State& state,
                                               kestrovan::RenderSnapshotBuilder& builder, int64_t cells)
{
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        builder.portableRenderCells.clear();
        benchmark::DoNotOptimize(builder.makeRenderSnapshot(kestrovan::RenderSnapshotScope::full));
    }
    const double seconds = secondsPerIteration(start, state);
    state.SetItemsProcessed(int64_t(state.iterations()) * cells);
    return seconds;
}

} // namespace bench
