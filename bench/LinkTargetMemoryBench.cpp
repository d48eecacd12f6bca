// Memory held by hyperlink targets: 512 MB of distinct OSC 8 link targets, each link on one cell,
// fed to one 80x24 terminal with 10,000 lines of scrollback, in a child process of its own.
//
// The targets are made as they are fed (64 KiB at a time), so the input itself takes no memory.
// Counters:
// - growthMiB: the child's peak resident size during the flood less its resident size before;
// - keptMiB: its resident size after the flood, less the same;
// - links: how many links the flood opened;
// - linkedCells: how many of the links that should still be on the screen or in the scrollback
//   carry a link;
// - cpuSeconds: the child's CPU time spent feeding.
// /65000 is targets of 65,000 bytes (past the length a target may have); /2000 targets of 2,000
// bytes (within it), which meet what one terminal may hold instead.
#include "BenchChild.h"
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <optional>
#include <span>
#include <string>

namespace {

using namespace kestrovan;

constexpr size_t targetBytesInAll = size_t(512) << 20;
constexpr size_t chunkSize = 64u << 10;

struct LinkFigures
{
    double growthMiB = 0;
    double keptMiB = 0;
    double links = 0;
    double linkedCells = 0;
    double cpuSeconds = 0;
};

std::optional<LinkFigures> measureInChild(size_t targetBytes)
{
    return bench::runInChild<LinkFigures>([targetBytes] {
        auto terminal = bench::makeTerminal(80, 24, 10000);
        terminal->feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("start\r\n"), 7));
        malloc_trim(0);
        const double base = bench::statusMiB("VmRSS");
        const bool peakReset = bench::resetPeakResident();
        const double cpuBefore = bench::cpuSeconds();

        LinkFigures out;
        const size_t links = targetBytesInAll / targetBytes;
        std::string chunk;
        for (size_t link = 0; link < links; ++link) {
            // A distinct target: its number, then padding up to the size.
            std::string target = "https://example.invalid/" + std::to_string(link) + "/";
            target.resize(targetBytes, 'p');
            chunk += "\x1b]8;;" + target + "\x1b\\x";
            if (chunk.size() >= chunkSize || link + 1 == links) {
                terminal->feed(
                    std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size()));
                chunk.clear();
            }
        }
        terminal->feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("\x1b]8;;\x1b\\"), 7));
        out.cpuSeconds = bench::cpuSeconds() - cpuBefore;
        out.links = double(links);
        out.growthMiB = (peakReset ? bench::statusMiB("VmHWM") : bench::peakResidentMiB()) - base;
        malloc_trim(0);
        out.keptMiB = bench::statusMiB("VmRSS") - base;

        // The last links printed are the ones still in the buffer: count those that carry a link.
        TerminalLockGuard guard(terminal->terminalLock());
        const Buffer& buffer = terminal->buffer();
        for (int row = 0; row < buffer.lines().count(); ++row) {
            const BufferLine& line = buffer.lines().lineOrEmpty(row);
            for (int col = 0; col < line.count(); ++col)
                out.linkedCells += line.packed(col).payloadCode() != 0 ? 1 : 0;
        }
        return out;
    });
}

void BM_DistinctLinkTargets(benchmark::State& state)
{
    std::optional<LinkFigures> figures;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        figures = measureInChild(size_t(state.range(0)));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (!figures) {
        state.SkipWithError("the flood exhausted the child's memory or CPU limit");
        return;
    }
    state.counters["growthMiB"] = figures->growthMiB;
    state.counters["keptMiB"] = figures->keptMiB;
    state.counters["links"] = figures->links;
    state.counters["linkedCells"] = figures->linkedCells;
    state.counters["cpuSeconds"] = figures->cpuSeconds;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(targetBytesInAll));
}
BENCHMARK(BM_DistinctLinkTargets)
    ->Arg(65000)
    ->Arg(2000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
