// The portable render snapshot of a full 200 x 60 screen of coloured text.
//
// Workloads: a dirty snapshot after a one-row change (what a host pays per frame while a program
// types), a full snapshot whose rows all come from the per-row cache, and a full snapshot that
// decodes every row (the cache emptied before each one). The dirty and the cached full snapshot
// print their time as a ratio to the decoding one.
#include "BenchRatio.h"

#include "Kestrovan/Portable/RenderSnapshotBuilder.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

class NullDelegate : public TerminalDelegate
{
public:
    void send(Terminal&, Bytes) override {}
};

constexpr int columns = 200;
constexpr int screenRows = 60;

/// Every row full of words in a few colours, from a fixed seed.
std::string screenContent()
{
    std::mt19937 random(20260601);
    std::string out;
    for (int row = 0; row < screenRows; ++row) {
        out += "\x1b[" + std::to_string(row + 1) + ";1H";
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
    }
    return out + "\x1b[0m";
}

/// A builder for a terminal showing the screen, whose first full snapshot has been taken.
RenderSnapshotBuilder makeBuilder(const std::shared_ptr<NullDelegate>& delegate)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = columns;
    options.rows = screenRows;
    auto terminal = Terminal::create(delegate, options);
    terminal->feed(screenContent());
    RenderSnapshotBuilder builder(terminal);
    builder.makeRenderSnapshot(RenderSnapshotScope::full);
    terminal->clearUpdateRange();
    return builder;
}

double decodingSeconds = 0;

void BM_FullSnapshotDecodingEveryRow(benchmark::State& state)
{
    auto delegate = std::make_shared<NullDelegate>();
    auto builder = makeBuilder(delegate);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // Forgetting the cache makes every row be decoded again.
        builder.portableRenderCells.clear();
        benchmark::DoNotOptimize(builder.makeRenderSnapshot(RenderSnapshotScope::full));
    }
    decodingSeconds = bench::secondsPerIteration(start, state);
    state.SetItemsProcessed(int64_t(state.iterations()) * columns * screenRows);
}
BENCHMARK(BM_FullSnapshotDecodingEveryRow);

void BM_FullSnapshotFromCache(benchmark::State& state)
{
    auto delegate = std::make_shared<NullDelegate>();
    auto builder = makeBuilder(delegate);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(builder.makeRenderSnapshot(RenderSnapshotScope::full));
    if (decodingSeconds > 0)
        state.counters["vs_decoding"] = bench::secondsPerIteration(start, state) / decodingSeconds;
    state.SetItemsProcessed(int64_t(state.iterations()) * columns * screenRows);
}
BENCHMARK(BM_FullSnapshotFromCache);

void BM_DirtySnapshotAfterOneRowChange(benchmark::State& state)
{
    auto delegate = std::make_shared<NullDelegate>();
    auto builder = makeBuilder(delegate);
    Terminal& terminal = *builder.terminal();
    // The cursor goes back to the same cell each time, so only row 29 is ever marked.
    const std::string change = "\x1b[30;100Hx";
    terminal.feed(change);
    builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    terminal.clearUpdateRange();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        terminal.feed(change);
        const TerminalRenderSnapshot snapshot = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
        if (snapshot.lines.size() != 1)
            state.SkipWithError("the change did not mark exactly one row");
        terminal.clearUpdateRange();
    }
    if (decodingSeconds > 0)
        state.counters["vs_decoding"] = bench::secondsPerIteration(start, state) / decodingSeconds;
}
BENCHMARK(BM_DirtySnapshotAfterOneRowChange);

} // namespace
