// Scrolling through the terminal: line feeds at the bottom of the screen, fed as bytes.
//
// Workloads: a full-screen scroll into a full scrollback ring (the recycle path: one line object
// reused per line feed), the same while the user has scrolled back (the general path, which also
// keeps the view on its text), and a scroll region below the top (lines rotated in place). Each
// input is 64 KiB of short lines, made before the timed loop; the ratio of the general path to the
// recycle path is printed as a counter.
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

using namespace kestrovan;

std::string shortLines()
{
    std::string out;
    for (int line = 0; out.size() < (64u << 10); ++line)
        out += "line " + std::to_string(line) + "\r\n";
    return out;
}

std::shared_ptr<Terminal> makeTerminal()
{
    auto terminal = bench::makeTerminal(80, 24, 1000);
    // Fill the ring so that every line feed at the bottom recycles.
    for (int i = 0; i < 1100; ++i)
        terminal->feed("\n");
    return terminal;
}

double recycleSeconds = 0;

void BM_FullScreenScrollRecycle(benchmark::State& state)
{
    auto terminal = makeTerminal();
    const std::string input = shortLines();
    recycleSeconds = bench::feedEachIteration(state, *terminal, input);
}
BENCHMARK(BM_FullScreenScrollRecycle);

void BM_FullScreenScrollScrolledBack(benchmark::State& state)
{
    auto terminal = makeTerminal();
    // A user looking at the scrollback: every scroll takes the general path and moves the view.
    terminal->setUserScrolling(true);
    terminal->scrollViewportTo(500);
    const std::string input = shortLines();
    const double seconds = bench::feedEachIteration(state, *terminal, input);
    if (recycleSeconds > 0)
        state.counters["vs_recycle"] = seconds / recycleSeconds;
}
BENCHMARK(BM_FullScreenScrollScrolledBack);

void BM_RegionScrollInPlace(benchmark::State& state)
{
    auto terminal = makeTerminal();
    terminal->feed("\x1b[3;22r\x1b[22;1H"); // DECSTBM: rows 2 ... 21; the cursor on row 21
    const std::string input = shortLines();
    bench::feedEachIteration(state, *terminal, input);
}
BENCHMARK(BM_RegionScrollInPlace);

} // namespace
