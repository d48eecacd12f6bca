// Frames of a 200 x 50 screen: the snapshot refresh under the terminal lock, and turning rows into
// drawable text, for an unchanged screen, one line scrolled, a full repaint of coloured text and a
// screen of CJK and emoji. The plain ASCII path is measured against the attributed path on the
// same rows, and against the attributed path followed by shaping (what it saves a renderer); the
// ratios are printed at the end. Allocations per refresh are counted with a replaced allocator.
#include "../tests/CountingAllocator.h"
#include "BenchFrames.h"
#include "BenchRatio.h"
#include "BenchTerminal.h"

#include "Kestrovan/Apple/SnapshotTextBuilder.h"
#include "Kestrovan/Apple/TerminalSnapshot.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalLock.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

constexpr int cols = 200;
constexpr int rows = 50;

FrameViewState benchViewState()
{
    return bench::frameViewState({cols, rows, 8, 16, 1, 12});
}

/// One row of coloured ASCII: SGR changes every few cells, palette and true colours, bold and
/// underline, as a syntax-highlighted listing or a colourful prompt has them.
std::string colouredLine(std::mt19937& random)
{
    std::string line;
    for (int column = 0; column < cols;) {
        switch (random() % 4) {
        case 0:
            line += "\x1b[0;3" + std::to_string(random() % 8) + "m";
            break;
        case 1:
            line += "\x1b[1;38;5;" + std::to_string(random() % 256) + "m";
            break;
        case 2:
            line += "\x1b[0;4;38;2;" + std::to_string(random() % 256) + ";120;200m";
            break;
        default:
            line += "\x1b[0m";
        }
        const int length = 3 + int(random() % 8);
        for (int i = 0; i < length && column < cols; ++i, ++column)
            line.push_back(char('a' + random() % 26));
    }
    return line + "\x1b[0m";
}

/// One row of CJK ideographs with an emoji every tenth cell pair.
std::string cjkLine(int row)
{
    std::string line;
    for (int pair = 0; pair < cols / 2; ++pair)
        line += pair % 10 == 9 ? "\xf0\x9f\x98\x80" : (row + pair) % 2 ? "\xe4\xb8\xad" : "\xe6\x96\x87";
    return line;
}

struct Screen
{
    std::shared_ptr<Terminal> terminal = bench::makeTerminal(cols, rows, 1000);
    TerminalSnapshot snapshot;
    FrameViewState state = benchViewState();

    Screen() = default;
    /// A screen showing `lines`, its snapshot refreshed.
    explicit Screen(const std::vector<std::string>& lines)
    {
        fill(lines);
        refresh();
    }
    void feed(const std::string& bytes) { terminal->feed(std::string_view(bytes)); }
    void fill(const std::vector<std::string>& lines)
    {
        std::string all = "\x1b[H";
        for (size_t i = 0; i < lines.size(); ++i)
            all += lines[i] + (i + 1 < lines.size() ? "\r\n" : "");
        feed(all);
    }
    void refresh()
    {
        TerminalLockGuard guard(terminal->terminalLock());
        snapshot.refresh(*terminal, state, SnapshotSelectionState(), false);
    }
};

std::vector<std::string> colouredScreen(uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::string> lines;
    for (int row = 0; row < rows; ++row)
        lines.push_back(colouredLine(random));
    return lines;
}

/// Builds every row of the snapshot as attributed text.
size_t buildAll(SnapshotTextBuilder& builder, const TerminalSnapshot& snapshot)
{
    size_t segments = 0;
    for (size_t row = 0; row < snapshot.rows.size(); ++row)
        segments += builder
                        .buildAttributedString(*snapshot.rows[row], snapshot.firstRow + int64_t(row),
                                               *snapshot.renderContext)
                        .segments.size();
    return segments;
}

void refreshUnchanged(benchmark::State& state)
{
    Screen screen(colouredScreen(1));
    long allocations = 0;
    for (auto _ : state) {
        counting::startCounting();
        screen.refresh();
        allocations += counting::stopCounting();
    }
    state.counters["allocs/frame"] = double(allocations) / double(state.iterations());
    state.counters["rowsCopied"] = double(screen.snapshot.counters().rowsCopied);
}
BENCHMARK(refreshUnchanged)->UseRealTime()->Unit(benchmark::kMicrosecond);

void refreshOneLineScrolled(benchmark::State& state)
{
    Screen screen(colouredScreen(2));
    std::mt19937 random(3);
    std::vector<std::string> next;
    for (int i = 0; i < 64; ++i)
        next.push_back("\r\n" + colouredLine(random));
    size_t index = 0;
    for (auto _ : state) {
        state.PauseTiming();
        screen.feed(next[index++ % next.size()]);
        state.ResumeTiming();
        screen.refresh();
    }
    state.counters["rowsCopied/frame"] =
        double(screen.snapshot.counters().rowsCopied) / double(screen.snapshot.counters().refreshes);
}
BENCHMARK(refreshOneLineScrolled)->UseRealTime()->Unit(benchmark::kMicrosecond);

/// Full repaints: every row rewritten, refreshed and built as attributed text, the two screens in
/// turn.
void repaintInTurn(benchmark::State& state, const std::vector<std::string> (&screens)[2])
{
    Screen screen;
    SnapshotTextBuilder builder;
    size_t frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        screen.fill(screens[frame++ % 2]);
        state.ResumeTiming();
        screen.refresh();
        benchmark::DoNotOptimize(buildAll(builder, screen.snapshot));
    }
}

void fullRepaintColoured(benchmark::State& state)
{
    const std::vector<std::string> screens[2] = {colouredScreen(4), colouredScreen(5)};
    repaintInTurn(state, screens);
}
BENCHMARK(fullRepaintColoured)->UseRealTime()->Unit(benchmark::kMicrosecond);

void fullRepaintCjkEmoji(benchmark::State& state)
{
    std::vector<std::string> screens[2];
    for (int row = 0; row < rows; ++row) {
        screens[0].push_back(cjkLine(row));
        screens[1].push_back(cjkLine(row + 1));
    }
    repaintInTurn(state, screens);
}
BENCHMARK(fullRepaintCjkEmoji)->UseRealTime()->Unit(benchmark::kMicrosecond);

/// Row building alone over an unchanged coloured screen, by the two paths.
void rowsAttributed(benchmark::State& state)
{
    Screen screen(colouredScreen(6));
    SnapshotTextBuilder builder;
    for (auto _ : state)
        benchmark::DoNotOptimize(buildAll(builder, screen.snapshot));
}
BENCHMARK(rowsAttributed)->UseRealTime()->Unit(benchmark::kMicrosecond);

void rowsAttributedShaped(benchmark::State& state)
{
    Screen screen(colouredScreen(6));
    SnapshotTextBuilder builder;
    for (auto _ : state) {
        for (size_t row = 0; row < screen.snapshot.rows.size(); ++row) {
            const ViewLineInfo info = builder.buildAttributedString(*screen.snapshot.rows[row], int64_t(row),
                                                                    *screen.snapshot.renderContext);
            for (const ViewLineSegment& segment : info.segments)
                benchmark::DoNotOptimize(segment.attributedString.shape().glyphs().size());
        }
    }
}
BENCHMARK(rowsAttributedShaped)->UseRealTime()->Unit(benchmark::kMicrosecond);

void rowsPlain(benchmark::State& state)
{
    Screen screen(colouredScreen(6));
    SnapshotTextBuilder builder;
    long allocations = 0;
    for (auto _ : state) {
        counting::startCounting();
        for (size_t row = 0; row < screen.snapshot.rows.size(); ++row) {
            const std::optional<PlainRow> plain =
                builder.plainRow(*screen.snapshot.rows[row], int64_t(row), *screen.snapshot.renderContext);
            benchmark::DoNotOptimize(plain->runs.size());
        }
        allocations += counting::stopCounting();
    }
    state.counters["allocs/row"] = double(allocations) / double(state.iterations()) / rows;
}
BENCHMARK(rowsPlain)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    const std::string plain = "rowsPlain/real_time";
    if (times.count(plain) && times[plain] > 0) {
        for (const char* peer : {"rowsAttributed/real_time", "rowsAttributedShaped/real_time"}) {
            if (times.count(peer))
                std::printf("plain rows %8.1f us per screen   %-32s %9.1f us   plain path %.1fx faster\n",
                            times[plain], peer, times[peer], times[peer] / times[plain]);
        }
    }
    benchmark::Shutdown();
    return 0;
}
