// Editing the scroll region in place, as full-screen editors do: insert and delete lines (IL, DL),
// scroll up and down (SU, SD) and insert and delete characters (ICH, DCH), fed as bytes.
//
// Workloads: whole-width line edits inside a region of an 80 x 24 screen whose scrollback ring is
// full (line references rotate, no cells are copied); the same edits with left and right margins
// set (cells between the margins are copied row by row); and character edits on the cursor line.
// Each input is 64 KiB of sequences made before the timed loop. The margin workload prints its
// time relative to the whole-width one as a counter.
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

using namespace kestrovan;

/// `unit` repeated to 64 KiB.
std::string repeated(const std::string& unit)
{
    std::string out;
    while (out.size() < (64u << 10))
        out += unit;
    return out;
}

/// An 80 x 24 terminal with a full ring of 1000 lines of history, every row holding text, the
/// region set to rows 2 ... 21 and the cursor inside it.
std::shared_ptr<Terminal> makeTerminal()
{
    auto terminal = bench::makeTerminal(80, 24, 1000);
    const std::string row(79, 'x');
    for (int i = 0; i < 1100; ++i)
        terminal->feed(row + "\r\n");
    terminal->feed("\x1b[3;22r\x1b[9;11H"); // DECSTBM: rows 2 ... 21; the cursor at (10, 8)
    return terminal;
}

// Lines inserted and deleted at the cursor, and the region scrolled both ways: the content
// returns to its start state after each unit, so every iteration does the same work.
const char* const lineEdits = "\x1b[3L\x1b[3M\x1b[2S\x1b[2T\x1bM\x1b[L\x1b[M";

double wholeWidthSeconds = 0;

void BM_RegionLineEditsWholeWidth(benchmark::State& state)
{
    auto terminal = makeTerminal();
    wholeWidthSeconds = bench::feedEachIteration(state, *terminal, repeated(lineEdits));
}
BENCHMARK(BM_RegionLineEditsWholeWidth);

void BM_RegionLineEditsWithMargins(benchmark::State& state)
{
    auto terminal = makeTerminal();
    terminal->feed("\x1b[?69h\x1b[6;75s"); // DECLRMM, margins at columns 5...74
    const double seconds = bench::feedEachIteration(state, *terminal, repeated(lineEdits));
    if (wholeWidthSeconds > 0)
        state.counters["vs_whole_width"] = seconds / wholeWidthSeconds;
}
BENCHMARK(BM_RegionLineEditsWithMargins);

void BM_CharacterEdits(benchmark::State& state)
{
    auto terminal = makeTerminal();
    bench::feedEachIteration(state, *terminal, repeated("\x1b[4@\x1b[4P\x1b[@\x1b[P\x1b[8X"));
}
BENCHMARK(BM_CharacterEdits);

} // namespace
