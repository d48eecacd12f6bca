// Link detection under the pointer, as the view runs it on hover and on every frame that
// underlines links, with the terminal lock held.
//
// Workloads: a typical 200 x 50 screen of compiler output (hover on a URL, on a path, on plain
// text, and a sweep over the screen as a moving pointer makes), a URL a program broke over three
// 80-column rows (the joining heuristic's seam checks), and hostile screens built to make the
// rule backtrack: soft-wrapped "a/a " rows, one long word ending in "/", and hard-broken path rows
// that join at every seam. The hostile times are what the search's bounds let one lookup spend.
// The reference is the bare rule run once over the hovered row; main prints how a lookup compares.
#include "BenchRatio.h"
#include "BenchTerminal.h"

#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalLinks.h"
#include "Platform/Regex/Regex.h"
#include "Platform/Regex/RegexText.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>

namespace {

using namespace kestrovan;

std::shared_ptr<Terminal> makeTerminal(int cols, int rows)
{
    const auto& delegate = bench::quietDelegate();
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = cols;
    options.rows = rows;
    options.scrollback = 0;
    return Terminal::create(delegate, options);
}

/// The first row of the typical screen; the hover benchmarks point into it.
const std::string typicalRow =
    "/home/user/project/src/render/Frame.cpp:214:17: warning: unused variable 'scale' "
    "[-Wunused-variable], see https://gcc.gnu.org/onlinedocs/gcc/Warning-Options.html "
    "and build/log.txt";

/// 50 rows of compiler output and listings on 200 columns, hard line ends between them.
std::shared_ptr<Terminal> typicalScreen()
{
    auto terminal = makeTerminal(200, 50);
    for (int row = 0; row < 50; ++row) {
        if (row % 3 == 0)
            terminal->feed(typicalRow);
        else if (row % 3 == 1)
            terminal->feed(
                "drwxr-xr-x  5 user  staff   160 Jan  1 12:00 assets    -rw-r--r--  1 user  staff  "
                "4096 Jan  1 12:00 notes");
        else
            terminal->feed("    at render (./src/render/Frame.cpp:88) in ~/project, took 12 ms");
        if (row < 49)
            terminal->feed("\r\n");
    }
    return terminal;
}

void hover(benchmark::State& state, Terminal& terminal, int col, int row, bool expectLink)
{
    const auto location = LinkLookupLocation::screen(Position(col, row));
    if (link(terminal, location, LinkLookupMode::explicitAndImplicit).has_value() != expectLink)
        state.SkipWithError("the hovered cell does not give the expected answer");
    for (auto _ : state)
        benchmark::DoNotOptimize(link(terminal, location, LinkLookupMode::explicitAndImplicit));
}

void hoverOnUrl(benchmark::State& state)
{
    auto terminal = typicalScreen();
    hover(state, *terminal, 120, 0, true);
}
BENCHMARK(hoverOnUrl)->Unit(benchmark::kMicrosecond);

void hoverOnPath(benchmark::State& state)
{
    auto terminal = typicalScreen();
    hover(state, *terminal, 10, 0, true);
}
BENCHMARK(hoverOnPath)->Unit(benchmark::kMicrosecond);

void hoverOnPlainText(benchmark::State& state)
{
    auto terminal = typicalScreen();
    hover(state, *terminal, 60, 0, false);
}
BENCHMARK(hoverOnPlainText)->Unit(benchmark::kMicrosecond);

// Every fourth cell of the screen, the way a pointer crossing it asks; items are lookups.
void hoverSweep(benchmark::State& state)
{
    auto terminal = typicalScreen();
    int64_t lookups = 0;
    for (auto _ : state) {
        for (int row = 0; row < 50; ++row) {
            for (int col = 0; col < 200; col += 4) {
                benchmark::DoNotOptimize(link(*terminal, LinkLookupLocation::screen(Position(col, row)),
                                              LinkLookupMode::explicitAndImplicit));
                ++lookups;
            }
        }
    }
    state.SetItemsProcessed(lookups);
}
BENCHMARK(hoverSweep)->Unit(benchmark::kMillisecond);

// A URL a program broke at the right edge of 80 columns, over three rows.
void hoverOnHardBrokenUrl(benchmark::State& state)
{
    auto terminal = makeTerminal(80, 24);
    const std::string url = "https://example.invalid/" + std::string(176, 'p');
    terminal->feed(url.substr(0, 80) + "\r\n" + url.substr(80, 80) + "\r\n" + url.substr(160) + " done");
    hover(state, *terminal, 40, 1, true);
}
BENCHMARK(hoverOnHardBrokenUrl)->Unit(benchmark::kMicrosecond);

void hoverHostileWrappedPathParts(benchmark::State& state)
{
    auto terminal = makeTerminal(200, 50);
    std::string line;
    while (line.size() < 200 * 50 - 1)
        line += "a/a ";
    line.resize(200 * 50 - 1);
    terminal->feed(line);
    hover(state, *terminal, 100, 25, false);
}
BENCHMARK(hoverHostileWrappedPathParts)->Unit(benchmark::kMillisecond);

void hoverHostileLongWord(benchmark::State& state)
{
    auto terminal = makeTerminal(200, 50);
    terminal->feed(std::string(200 * 50 - 2, 'a') + "/");
    hover(state, *terminal, 100, 25, false);
}
BENCHMARK(hoverHostileLongWord)->Unit(benchmark::kMillisecond);

void hoverHostileHardBrokenRows(benchmark::State& state)
{
    auto terminal = makeTerminal(80, 50);
    for (int row = 0; row < 50; ++row) {
        std::string part;
        while (part.size() < 80)
            part += "/seg.x";
        part.resize(80);
        terminal->feed(part + (row < 49 ? "\r\n" : ""));
    }
    hover(state, *terminal, 40, 25, false);
}
BENCHMARK(hoverHostileHardBrokenRows)->Unit(benchmark::kMillisecond);

// The reference: the bare rule over the hovered row, with nothing around it.
void bareRuleOverRow(benchmark::State& state)
{
    const platform::Regex* rule = implicitLinkRegex();
    const std::u16string row(platform::RegexText::fromUtf8(typicalRow).units());
    for (auto _ : state)
        benchmark::DoNotOptimize(rule->allMatches(row));
}
BENCHMARK(bareRuleOverRow)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("hoverOnUrl") && times.count("bareRuleOverRow") && times["bareRuleOverRow"] > 0)
        std::printf("hover on a URL: %.2fx the time of the bare rule over its row\n",
                    times["hoverOnUrl"] / times["bareRuleOverRow"]);
    benchmark::Shutdown();
    return 0;
}
