// Rectangular area operations over a whole 200 x 60 screen of text, fed as sequences.
//
// Workloads: a copy shifted one row down onto itself (every row is read before any is written),
// a fill, an attribute reverse (each distinct attribute interned once per sequence) and the
// checksum report. Items are cells touched per sequence.
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

using namespace kestrovan;

constexpr int columns = 200;
constexpr int rows = 60;

std::shared_ptr<Terminal> makeTerminal()
{
    auto terminal = bench::makeTerminal(columns, rows);
    std::string text;
    for (int row = 0; row < rows; ++row) {
        text += "\x1b[" + std::to_string(row + 1) + ";1H";
        for (int col = 0; col < columns; ++col)
            text += char('a' + (row * 7 + col) % 26);
    }
    terminal->feed(text);
    terminal->feed("\x1b[2*x");
    return terminal;
}

void runSequence(benchmark::State& state, const std::string& sequence, int64_t cells)
{
    auto terminal = makeTerminal();
    for (auto _ : state) {
        terminal->feed(sequence);
        terminal->clearUpdateRange();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * cells);
}

void BM_CopyOverlappingOneRowDown(benchmark::State& state)
{
    runSequence(state, "\x1b[1;1;59;200;1;2;1;1$v", int64_t(rows - 1) * columns);
}
BENCHMARK(BM_CopyOverlappingOneRowDown);

void BM_FillScreen(benchmark::State& state)
{
    runSequence(state, "\x1b[88$x", int64_t(rows) * columns);
}
BENCHMARK(BM_FillScreen);

void BM_ReverseAttributesScreen(benchmark::State& state)
{
    runSequence(state, "\x1b[1;1;60;200;7$t", int64_t(rows) * columns);
}
BENCHMARK(BM_ReverseAttributesScreen);

void BM_ChecksumScreen(benchmark::State& state)
{
    runSequence(state, "\x1b[1;1;1;1;60;200*y", int64_t(rows) * columns);
}
BENCHMARK(BM_ChecksumScreen);

} // namespace
