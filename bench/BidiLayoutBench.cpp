// Bidirectional layout of a 200 x 50 screen of mixed Hebrew, Arabic and Latin text, against
// GNU FriBidi laying out the same paragraphs in the same run.
//
// Workload: 50 rows of words drawn from a fixed seed (Hebrew, Arabic, Latin, digits and bracketed
// words), written as paragraphs of one to three soft-wrapped rows, every row filled. "cold" empties
// the layout caches first, so every paragraph is collected under the terminal lock and typeset
// (bidirectional algorithm, Arabic shaping, mirroring, column maps); "cached" lays out the unchanged
// screen again, as every frame after the first does, which costs one cache lookup per row. The
// peer, `fribidi_log2vis`, reorders and shapes each paragraph as one line (no column maps, no row
// breaks), the core of what the cold path does. Each reports rows per second; main prints ratios.
#include "BenchRatio.h"
#include "BenchTerminal.h"

#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <fribidi.h>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrovan;

constexpr int columns = 200;
constexpr int rows = 50;

/// The screen's text as the terminal is fed it, and its paragraphs as scalars for the peer.
struct Screen
{
    std::string output;
    std::vector<std::u32string> paragraphs;
};

const Screen& screen()
{
    static const Screen made = [] {
        static const char32_t* const words[] = {U"\u05E9\u05DC\u05D5\u05DD",
                                                U"\u05E2\u05D5\u05DC\u05DD",
                                                U"\u05D8\u05E8\u05DE\u05D9\u05E0\u05DC",
                                                U"\u0645\u0631\u062D\u0628\u0627",
                                                U"\u0628\u0627\u0644\u0639\u0627\u0644\u0645",
                                                U"\u0644\u0627\u0645",
                                                U"hello",
                                                U"terminal",
                                                U"build",
                                                U"(main)",
                                                U"[src]",
                                                U"2024",
                                                U"3.14",
                                                U"\u05D0(\u05D1)",
                                                U"\u0634\u0627\u0634\u0629"};
        std::mt19937 random(7);
        Screen screen;
        int row = 0;
        while (row < rows) {
            const int paragraphRows = std::min<int>(1 + int(random() % 3), rows - row);
            // Exactly `paragraphRows` rows of cells: every word is one cell per scalar (no wide or
            // combining characters), so the paragraph wraps where its width runs out.
            std::u32string text;
            const size_t width = size_t(paragraphRows * columns);
            while (text.size() < width) {
                if (!text.empty())
                    text += U' ';
                text += words[random() % std::size(words)];
            }
            text.resize(width);
            screen.paragraphs.push_back(text);
            for (char32_t scalar : text) {
                Character character(scalar);
                screen.output += character.utf8();
            }
            row += paragraphRows;
            // A wrapped paragraph ends at the right margin: CR LF starts the next on a new row.
            if (row < rows)
                screen.output += "\r\n";
        }
        return screen;
    }();
    return made;
}

struct Fixture
{
    std::shared_ptr<Terminal> terminal;

    Fixture()
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = columns;
        options.rows = rows;
        terminal = Terminal::create(bench::quietDelegate(), options);
        terminal->feed(std::string_view(screen().output));
    }

    /// Lays out every visible row as a frame's snapshot does: collected under the lock, one
    /// deferred job per paragraph, typeset after the lock is released. Returns the rows laid out.
    int layOutScreen()
    {
        std::vector<std::shared_ptr<TerminalBidi::DeferredParagraph>> pending;
        int laidOut = 0;
        {
            TerminalLockGuard guard(terminal->terminalLock());
            const Buffer& buffer = terminal->buffer();
            const int top = buffer.yDisp();
            for (int row = 0; row < rows; ++row) {
                const int64_t absolute = top + row;
                if (!pending.empty() && pending.back()->firstRow <= absolute &&
                    absolute <= pending.back()->lastRow)
                    continue;
                TerminalBidi::LayoutOutcome outcome = TerminalBidi::collectLayout(
                    absolute, buffer, columns, *terminal, BidiHostPolicy::respectTerminal);
                if (auto* deferred = std::get_if<std::shared_ptr<TerminalBidi::DeferredParagraph>>(&outcome))
                    pending.push_back(*deferred);
                else
                    laidOut += std::get<std::optional<BidiRowLayout>>(outcome).has_value();
            }
        }
        TerminalBidi::finish(pending);
        for (const auto& paragraph : pending)
            laidOut += paragraph->result ? int(paragraph->result->rows.size()) : 0;
        return laidOut;
    }
};

void cold(benchmark::State& state)
{
    Fixture fixture;
    int laidOut = 0;
    for (auto _ : state) {
        // Emptying the caches frees the previous frame's results: not part of laying out.
        state.PauseTiming();
        TerminalBidi::clearCaches();
        state.ResumeTiming();
        laidOut = fixture.layOutScreen();
        benchmark::DoNotOptimize(laidOut);
    }
    state.counters["rowsLaidOut"] = laidOut;
    state.SetItemsProcessed(state.iterations() * rows);
}

void cached(benchmark::State& state)
{
    Fixture fixture;
    TerminalBidi::clearCaches();
    fixture.layOutScreen();
    const uint64_t missesBefore = TerminalBidi::cacheStatistics().contentCacheMisses;
    int laidOut = 0;
    for (auto _ : state) {
        laidOut = fixture.layOutScreen();
        benchmark::DoNotOptimize(laidOut);
    }
    state.counters["rowsLaidOut"] = laidOut;
    state.counters["typesetInLoop"] =
        double(TerminalBidi::cacheStatistics().contentCacheMisses - missesBefore);
    state.SetItemsProcessed(state.iterations() * rows);
}

void fribidi(benchmark::State& state)
{
    std::vector<std::vector<FriBidiChar>> paragraphs;
    for (const std::u32string& text : screen().paragraphs)
        paragraphs.emplace_back(text.begin(), text.end());
    std::vector<FriBidiChar> visual(size_t(columns * 3));
    std::vector<FriBidiStrIndex> logicalToVisual(visual.size());
    std::vector<FriBidiStrIndex> visualToLogical(visual.size());
    std::vector<FriBidiLevel> levels(visual.size());
    for (auto _ : state) {
        for (const auto& paragraph : paragraphs) {
            FriBidiParType base = FRIBIDI_PAR_ON;
            fribidi_log2vis(paragraph.data(), FriBidiStrIndex(paragraph.size()), &base, visual.data(),
                            logicalToVisual.data(), visualToLogical.data(), levels.data());
        }
        benchmark::DoNotOptimize(visual.data());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

BENCHMARK(cold)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(cached)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(fribidi)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    const std::string peer = "fribidi/real_time";
    for (const char* name : {"cold", "cached"}) {
        const std::string ours = std::string(name) + "/real_time";
        if (!times.count(ours) || !times.count(peer) || times[peer] <= 0)
            continue;
        std::printf("%-7s %8.1f us per 200x50 screen   fribidi %8.1f us   %.2fx fribidi's time\n", name,
                    times[ours], times[peer], times[ours] / times[peer]);
    }
    benchmark::Shutdown();
    return 0;
}
