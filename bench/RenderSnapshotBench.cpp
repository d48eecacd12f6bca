// The portable render snapshot of a full 200 x 60 screen of coloured text.
//
// Workloads: a dirty snapshot after a one-row change (what a host pays per frame while a program
// types), a full snapshot whose rows all come from the per-row cache, and a full snapshot that
// decodes every row (the cache emptied before each one). The dirty and the cached full snapshot
// print their time as a ratio to the decoding one.
#include "BenchTerminal.h"

#include "Kestrovan/Portable/RenderSnapshotBuilder.h"
#include "Kestrovan/Terminal.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

constexpr int columns = 200;
constexpr int screenRows = 60;

/// A builder for a terminal whose every row is full of words in a few colours, from a fixed seed,
/// and whose first full snapshot has been taken.
RenderSnapshotBuilder makeBuilder()
{
    auto terminal = bench::makeTerminal(columns, screenRows);
    std::mt19937 random(20260601);
    std::string text;
    for (int row = 0; row < screenRows; ++row)
        text += "\x1b[" + std::to_string(row + 1) + ";1H" + bench::colouredWordRow(random, columns);
    terminal->feed(text + "\x1b[0m");
    RenderSnapshotBuilder builder(terminal);
    builder.makeRenderSnapshot(RenderSnapshotScope::full);
    terminal->clearUpdateRange();
    return builder;
}

double decodingSeconds = 0;

void BM_FullSnapshotDecodingEveryRow(benchmark::State& state)
{
    auto builder = makeBuilder();
    decodingSeconds = bench::measureSnapshotsDecodingEveryRow(state, builder, columns * screenRows);
}
BENCHMARK(BM_FullSnapshotDecodingEveryRow);

void BM_FullSnapshotFromCache(benchmark::State& state)
{
    auto builder = makeBuilder();
    bench::timeAgainstPeer(state, decodingSeconds, "vs_decoding", [&] {
        benchmark::DoNotOptimize(builder.makeRenderSnapshot(RenderSnapshotScope::full));
    });
    state.SetItemsProcessed(int64_t(state.iterations()) * columns * screenRows);
}
BENCHMARK(BM_FullSnapshotFromCache);

void BM_DirtySnapshotAfterOneRowChange(benchmark::State& state)
{
    auto builder = makeBuilder();
    Terminal& terminal = *builder.terminal();
    // The cursor goes back to the same cell each time, so only row 29 is ever marked.
    const std::string change = "\x1b[30;100Hx";
    terminal.feed(change);
    builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    terminal.clearUpdateRange();
    bench::timeAgainstPeer(state, decodingSeconds, "vs_decoding", [&] {
        terminal.feed(change);
        const TerminalRenderSnapshot snapshot = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
        if (snapshot.lines.size() != 1)
            state.SkipWithError("the change did not mark exactly one row");
        terminal.clearUpdateRange();
    });
}
BENCHMARK(BM_DirtySnapshotAfterOneRowChange);

} // namespace
