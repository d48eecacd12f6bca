// Content snapshots of a 200 x 60 screen of coloured text, and host keys.
//
// Workloads: a viewport snapshot (what an automation host pays to read the screen), a history
// snapshot of the screen with 1000 scrollback lines, the display text of every screen row, and
// one host key (a named key and a ctrl chord) encoded, scanned and sent. The snapshots print their
// time as a ratio to a full render snapshot that decodes every row, the engine's other way of
// reading the whole screen as values.
#include "BenchTerminal.h"

#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/Portable/RenderSnapshotBuilder.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalHostInput.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

constexpr int columns = 200;
constexpr int screenRows = 60;
constexpr int scrollbackLines = 1000;

/// A terminal whose history and screen are full of words in a few colours, from a fixed seed.
std::shared_ptr<Terminal> makeTerminal()
{
    auto terminal = bench::makeTerminal(columns, screenRows, scrollbackLines);
    std::mt19937 random(20260607);
    std::string text;
    for (int row = 0; row < scrollbackLines + screenRows; ++row)
        text += bench::colouredWordRow(random, columns) + "\x1b[0m\r\n";
    terminal->feed(text);
    return terminal;
}

double renderSeconds = 0;

void BM_RenderSnapshotDecodingEveryRow(benchmark::State& state)
{
    RenderSnapshotBuilder builder(makeTerminal());
    renderSeconds = bench::measureSnapshotsDecodingEveryRow(state, builder, columns * screenRows);
}
BENCHMARK(BM_RenderSnapshotDecodingEveryRow);

void BM_ContentSnapshotViewport(benchmark::State& state)
{
    auto terminal = makeTerminal();
    bench::timeAgainstPeer(state, renderSeconds, "vs_render", [&] {
        benchmark::DoNotOptimize(
            terminal->contentSnapshot(TerminalContentRegion::viewport(), Terminal::BufferKind::active));
    });
    state.SetItemsProcessed(int64_t(state.iterations()) * columns * screenRows);
}
BENCHMARK(BM_ContentSnapshotViewport);

void BM_ContentSnapshotHistory(benchmark::State& state)
{
    auto terminal = makeTerminal();
    bench::timeAgainstPeer(state, renderSeconds, "vs_render", [&] {
        benchmark::DoNotOptimize(terminal->contentSnapshot(TerminalContentRegion::history(scrollbackLines),
                                                           Terminal::BufferKind::active));
    });
    state.SetItemsProcessed(int64_t(state.iterations()) * columns * (screenRows + scrollbackLines));
}
BENCHMARK(BM_ContentSnapshotHistory);

void BM_DisplayTextOfEveryScreenRow(benchmark::State& state)
{
    auto terminal = makeTerminal();
    const Buffer& buffer = terminal->buffer();
    bench::timeAgainstPeer(state, renderSeconds, "vs_render", [&] {
        for (int row = 0; row < screenRows; ++row)
            benchmark::DoNotOptimize(displayText(buffer, buffer.yBase() + row, columns));
    });
    state.SetItemsProcessed(int64_t(state.iterations()) * columns * screenRows);
}
BENCHMARK(BM_DisplayTextOfEveryScreenRow);

void BM_HostKeys(benchmark::State& state)
{
    auto terminal = makeTerminal();
    for (auto _ : state) {
        benchmark::DoNotOptimize(sendHostKey(*terminal, "ArrowUp", "ArrowUp", 0, 1, std::nullopt, 0, 0));
        benchmark::DoNotOptimize(sendHostKey(*terminal, "c", "KeyC", 4, 1, std::nullopt, 0, 0));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 2);
}
BENCHMARK(BM_HostKeys);

} // namespace
