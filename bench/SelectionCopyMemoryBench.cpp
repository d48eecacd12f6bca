// Memory and time of copying a large selection: select-all over a scrollback of 1,000,000 lines of
// 76 characters, then the view's Copy, from the selection's text through the view to the
// clipboard, in a child process of its own.
//
// The view runs on the recording host with its memory clipboard, which keeps the string it is
// given as the display's clipboard does. Counters:
// - textMiB: the size of the copied text;
// - peakGrowthMiB: the child's peak resident size during the copy less its resident size before;
// - peakToText: the two divided, what the copy held at most for each byte it copied;
// - copySeconds: the wall time of the copy.
// BM_SelectedText reads the same text straight from a terminal, with the selected-text reader
// copy uses and, beside it, the selected-lines reader joined line by line as copy read it before.
#include "BenchChild.h"
#include "BenchTerminal.h"

#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/Line.h"
#include "Kestrovan/TerminalTextExtraction.h"
#include "Platform/Dispatch/DisplayLink.h"
#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/Dispatch/ManualMainLoop.h"
#include "Platform/UI/RecordingViewHost.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <optional>
#include <string>

namespace {

using namespace kestrovan;

constexpr size_t chunkSize = 64u << 10;

/// Hands `lines` lines of 76 characters ("line N " and a letter repeated), each ended by CR LF, to
/// `feed` in chunks of about `chunkSize` bytes.
template <typename Feed> void feedNumberedLines(int lines, Feed&& feed)
{
    std::string chunk;
    for (int line = 0; line < lines; ++line) {
        std::string text = "line " + std::to_string(line) + " ";
        text.resize(76, char('a' + line % 26));
        chunk += text + "\r\n";
        if (chunk.size() >= chunkSize || line + 1 == lines) {
            feed(chunk);
            chunk.clear();
        }
    }
}

struct CopyFigures
{
    double textMiB = 0;
    double peakGrowthMiB = 0;
    double copySeconds = 0;
    bool peakReset = false;
};

std::optional<CopyFigures> measureInChild(int lines)
{
    bench::ChildLimits limits;
    limits.addressSpaceBytes = 8ull << 30;
    limits.cpuSeconds = 600;
    return bench::runInChild<CopyFigures>(
        [lines] {
            auto loop = std::make_shared<platform::ManualMainLoop>();
            platform::MainQueue::install(loop);
            TerminalView::Configuration configuration;
            configuration.options.scrollback = lines;
            configuration.timers = std::make_shared<platform::ManualMainThreadTimers>();
            configuration.makeDisplayLink = [] { return std::make_shared<platform::ManualDisplayLink>(); };
            const platform::Size size{640, 480};
            auto view = TerminalView::create(size, configuration);
            auto host = std::make_unique<platform::RecordingViewHost>();
            host->resize(size);
            host->attach(view);
            loop->runUntilIdle();

            feedNumberedLines(lines, [&](const std::string& chunk) {
                view->feed(chunk);
                loop->runUntilIdle();
            });
            view->selectAll();
            loop->runUntilIdle();

            CopyFigures out;
            malloc_trim(0);
            const double base = bench::statusMiB("VmRSS");
            out.peakReset = bench::resetPeakResident();
            const auto start = std::chrono::steady_clock::now();
            view->copy();
            out.copySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            out.peakGrowthMiB = (out.peakReset ? bench::statusMiB("VmHWM") : bench::peakResidentMiB()) - base;
            const auto copied = host->standardClipboard.contents("text/plain;charset=utf-8");
            out.textMiB = copied ? double(copied->size()) / (1 << 20) : 0;
            return out;
        },
        limits);
}

void BM_CopySelectAll(benchmark::State& state)
{
    std::optional<CopyFigures> figures;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        figures = measureInChild(int(state.range(0)));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (!figures || figures->textMiB == 0) {
        state.SkipWithError("the child did not finish, or copied nothing");
        return;
    }
    if (!figures->peakReset)
        state.SetLabel("peak from the whole child's life: the kernel would not reset it");
    state.counters["textMiB"] = figures->textMiB;
    state.counters["peakGrowthMiB"] = figures->peakGrowthMiB;
    state.counters["peakToText"] = figures->peakGrowthMiB / figures->textMiB;
    state.counters["copySeconds"] = figures->copySeconds;
}
BENCHMARK(BM_CopySelectAll)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

struct ExtractionFigures
{
    double textMiB = 0;
    double peakGrowthMiB = 0;
    double seconds = 0;
};

/// The text of every line of a terminal of `lines` lines of scrollback, read as copy reads it
/// (`joinedLines` false) or as the lines of the selected-lines reader joined one after another,
/// the way copy read it before.
std::optional<ExtractionFigures> measureExtractionInChild(int lines, bool joinedLines)
{
    bench::ChildLimits limits;
    limits.addressSpaceBytes = 8ull << 30;
    limits.cpuSeconds = 600;
    return bench::runInChild<ExtractionFigures>(
        [lines, joinedLines] {
            TerminalOptions options = TerminalOptions::defaults();
            options.scrollback = lines;
            auto terminal = Terminal::create(bench::quietDelegate(), options);
            feedNumberedLines(lines, [&](const std::string& chunk) { terminal->feed(chunk); });
            TerminalLockGuard guard(terminal->terminalLock());
            const Buffer& buffer = terminal->buffer();
            const Position first(0, 0);
            const Position last(terminal->cols(), buffer.lines().count() - 1);

            ExtractionFigures out;
            malloc_trim(0);
            const double base = bench::statusMiB("VmRSS");
            const bool peakReset = bench::resetPeakResident();
            const auto start = std::chrono::steady_clock::now();
            std::string text;
            if (joinedLines) {
                for (const Line& line : getSelectedLines(first, last, buffer))
                    text += line.toString();
            } else {
                text = getSelectedText(first, last, buffer);
            }
            out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            out.peakGrowthMiB = (peakReset ? bench::statusMiB("VmHWM") : bench::peakResidentMiB()) - base;
            out.textMiB = double(text.size()) / (1 << 20);
            return out;
        },
        limits);
}

void BM_SelectedText(benchmark::State& state)
{
    std::optional<ExtractionFigures> figures;
    for (auto _ : state) {
        figures = measureExtractionInChild(int(state.range(0)), state.range(1) != 0);
        if (figures)
            state.SetIterationTime(figures->seconds);
    }
    if (!figures || figures->textMiB == 0) {
        state.SkipWithError("the child did not finish, or read nothing");
        return;
    }
    state.SetLabel(state.range(1) != 0 ? "selected lines joined" : "selected text");
    state.counters["textMiB"] = figures->textMiB;
    state.counters["peakGrowthMiB"] = figures->peakGrowthMiB;
    state.counters["peakToText"] = figures->peakGrowthMiB / figures->textMiB;
}
BENCHMARK(BM_SelectedText)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
