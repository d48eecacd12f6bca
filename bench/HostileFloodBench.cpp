// What hostile output costs: floods a program can raise through ordinary sequences.
//
// - Column mode: with mode 40 enabled, 1,000 DECCOLM switches (80 and 132 columns in turn) on a
//   terminal whose scrollback is full of wrapped text, for scrollbacks of 1,000 and 10,000 lines,
//   one after the other or with output between them, also output that scrolls lines into a full
//   scrollback, and a scrollback filled by one line longer than the ring, cut into at every
//   switch; with other sequences between the switches, through the alternate screen, and with
//   kept screens. A switch should cost the same whatever the scrollback holds (a line that runs
//   from the scrollback onto a kept screen is resized with it, and costs what it holds).
// - Title stack: 500 distinct 1 MB titles, each set and pushed; the counter is the growth of the
//   process's resident memory at its peak.
// - Replies: a child in raw mode writes a million primary device-attribute queries and never
//   reads its input; the counter is the growth of the host's resident memory at its peak, while
//   the child is alive with every reply it was sent still unread.
// Memory is read from /proc/self/statm by a sampling thread, every 2 ms.
#include "BenchTerminal.h"

#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace kestrovan;

/// Resident memory of this process, in bytes.
int64_t residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(file);
    }
    return int64_t(resident) * sysconf(_SC_PAGESIZE);
}

/// Samples resident memory while it lives; `peakGrowth` is the largest rise over the start.
class PeakMemory
{
public:
    PeakMemory() : start_(residentBytes()), peak_(start_)
    {
        sampler_ = std::thread([this] {
            while (!stop_.load()) {
                const int64_t now = residentBytes();
                int64_t seen = peak_.load();
                while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~PeakMemory()
    {
        stop_ = true;
        sampler_.join();
    }
    double peakGrowthMB() const { return double(std::max<int64_t>(0, peak_.load() - start_)) / 1e6; }

private:
    int64_t start_;
    std::atomic<int64_t> peak_;
    std::atomic<bool> stop_{false};
    std::thread sampler_;
};

/// An 80x24 terminal with mode 40 allowed and `scrollback` lines of history, fed `lines` lines of
/// the lengths `lineLength` gives.
template <typename LineLength>
std::shared_ptr<Terminal> switchingTerminal(int scrollback, int lines, LineLength lineLength)
{
    auto terminal = bench::makeTerminal(80, 24, scrollback);
    std::string text;
    for (int line = 0; line < lines; ++line)
        text += std::string(lineLength(line), char('a' + line % 26)) + "\r\n";
    terminal->feed(text);
    terminal->feed("\x1b[?40h");
    return terminal;
}

/// Feeds the 1,000 switches in `switches` once an iteration; the counter is the time per switch.
void feedSwitches(benchmark::State& state, Terminal& terminal, const std::string& switches)
{
    for (auto _ : state)
        terminal.feed(switches);
    state.counters["perSwitch"] = benchmark::Counter(
        1000.0 * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

/// Scrollback lines that fit both widths (10 to 69 characters), or with `longLines` lines of 200
/// to 399 that wrap at both.
size_t scrollbackLineLength(bool longLines, int line)
{
    return longLines ? size_t(200 + (line * 37) % 200) : size_t(10 + (line * 37) % 60);
}

void BM_ColumnModeSwitches(benchmark::State& state)
{
    const int scrollback = int(state.range(0));
    // Lines of 20 to 200 characters: most wrap at 80 columns and join at 132.
    auto terminal = switchingTerminal(scrollback, scrollback + 100,
                                      [](int line) { return size_t(20 + (line * 37) % 180); });
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?3h\x1b[?3l";
    for (auto _ : state)
        terminal->feed(switches);
    state.counters["switches"] = 1000;
}
BENCHMARK(BM_ColumnModeSwitches)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The same with output between the switches, so no two switches follow one another: a character
// after each one, or with the third argument 1 thirty short lines, more than the 24-row screen
// holds, so that lines keep scrolling into the full scrollback. The second argument picks the
// scrollback's text: 0 short lines that fit both widths, 1 lines of 200 to 400 characters that
// wrap at both. The counter is the time per switch.
void BM_ColumnModeSwitchesWithOutput(benchmark::State& state)
{
    const int scrollback = int(state.range(0));
    const bool longLines = state.range(1) != 0;
    const bool scrolls = state.range(2) != 0;
    auto terminal = switchingTerminal(scrollback, scrollback + 100, [longLines](int line) {
        return scrollbackLineLength(longLines, line);
    });
    std::string between = "x";
    if (scrolls) {
        between.clear();
        for (int line = 0; line < 30; ++line)
            between += "line " + std::to_string(line) + "\r\n";
    }
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?3h" + between + "\x1b[?3l" + between;
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesWithOutput)
    ->ArgsProduct({{10000}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// Switches with output that scrolls into a full scrollback between them: `scrolled` short lines
// (1 or 30) from the bottom row after each switch, so every switch meets a scrollback whose
// oldest lines keep falling off the ring. The scrollback holds 1,000 or 10,000 lines, short (0)
// or long and wrapped (1). The counter is the time per switch, which must not grow with the
// scrollback.
void BM_ColumnModeSwitchesScrollingFullScrollback(benchmark::State& state)
{
    const int scrollback = int(state.range(0));
    const bool longLines = state.range(1) != 0;
    const int scrolled = int(state.range(2));
    auto terminal = switchingTerminal(
        scrollback, 2 * scrollback, [longLines](int line) { return scrollbackLineLength(longLines, line); });
    terminal->feed("\x1b[24H");
    std::string between;
    for (int line = 0; line < scrolled; ++line)
        between += "line " + std::to_string(line) + "\r\n";
    // The cursor is left on the bottom row, where the next line feed scrolls.
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?3h\x1b[24H" + between + "\x1b[?3l\x1b[24H" + between;
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesScrollingFullScrollback)
    ->ArgsProduct({{1000, 10000}, {0, 1}, {1, 30}})
    ->Unit(benchmark::kMillisecond);

// A scrollback filled by one logical line longer than the whole ring (800,000 cells at 80
// columns, 10,000 rows with a 10,000-line scrollback), then switches with one line feed from the
// bottom row between them: each scroll makes a full ring drop a row of that line, so every
// switch cuts into it. The argument picks its text: 0 narrow letters, 1 letters with a
// two-column character every ninth cell or so, which wrap whole and leave gaps at row ends.
void BM_ColumnModeSwitchesCuttingOneLongLine(benchmark::State& state)
{
    const bool wide = state.range(0) != 0;
    auto terminal = switchingTerminal(10000, 0, [](int) { return size_t(0); });
    std::string line;
    for (int cells = 0; cells < 800000;) {
        if (wide && cells % 9 == 4) {
            line += "\xe4\xb8\x80";
            cells += 2;
        } else {
            line += char('a' + cells % 26);
            cells += 1;
        }
    }
    terminal->feed(line + "\r\n");
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?3h\x1b[24H\n\x1b[?3l\x1b[24H\n";
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesCuttingOneLongLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Switches over a full 10,000-line scrollback of wrapped lines with one sequence between them,
// picked by the argument: an erase in line, a title, a saved and restored cursor, a scroll region
// set and reset, a scroll up, a line long enough to wrap on the screen, and a trip through the
// alternate screen. None of them reads the scrollback, so none may make a switch reflow it.
void BM_ColumnModeSwitchesWithSequenceBetween(benchmark::State& state)
{
    static const char* const between[] = {
        "\x1b[K",
        "\x1b]2;title\x07",
        "\x1b"
        "7\x1b"
        "8",
        "\x1b[2;20r\x1b[r",
        "\x1b[24H\x1b[S",
        "\x1b["
        "24H0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456"
        "789"
        "0123456789012345678901234567890123456789\r\n",
        "\x1b[?1049h\x1b[?1049l",
    };
    const char* sequence = between[state.range(0)];
    auto terminal = switchingTerminal(10000, 10100, [](int line) { return size_t(20 + (line * 37) % 180); });
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += std::string("\x1b[?3h") + sequence + "\x1b[?3l" + sequence;
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesWithSequenceBetween)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

// Column switches made on the alternate screen, the normal screen shown between them: each
// return resizes the normal buffer, over a full 10,000-line scrollback of wrapped lines.
void BM_ColumnModeSwitchesThroughAlternateScreen(benchmark::State& state)
{
    auto terminal = switchingTerminal(10000, 10100, [](int line) { return size_t(20 + (line * 37) % 180); });
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?1049h\x1b[?3h\x1b[?1049lx\x1b[?1049h\x1b[?3l\x1b[?1049ly";
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesThroughAlternateScreen)->Unit(benchmark::kMillisecond);

// Switches that keep the screen (DECNCSM) when its rows continue one line longer than the whole
// ring (800,000 cells): every switch resizes that line with the screen, with the cursor on it
// (argument 0) or on the row below (1).
void BM_ColumnModeSwitchesKeepingAScreenOfOneLongLine(benchmark::State& state)
{
    auto terminal = switchingTerminal(10000, 0, [](int) { return size_t(0); });
    std::string line;
    for (int cells = 0; cells < 800000; ++cells)
        line += char('a' + cells % 26);
    terminal->feed("\x1b[?95h" + line + (state.range(0) != 0 ? "\r\n" : ""));
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?3h\x1b[?3l";
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesKeepingAScreenOfOneLongLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Switches with a line feed from the bottom row between them, over a full 10,000-line scrollback
// with an image placed every 1,000 lines: the placements' rows move with every row that falls
// off the ring, which must not end the run of deferred switches.
void BM_ColumnModeSwitchesScrollingPastImages(benchmark::State& state)
{
    auto terminal = bench::makeTerminal(80, 24, 10000);
    std::string text;
    for (int line = 0; line < 10100; ++line) {
        text += std::string(20 + (line * 37) % 180, char('a' + line % 26)) + "\r\n";
        if (line % 1000 == 0)
            text += "\x1b_Ga=T,f=24,s=1,v=1,C=1,c=2,r=1;AAAA\x1b\\";
    }
    terminal->feed(text + "\x1b[?40h");
    std::string switches;
    for (int i = 0; i < 500; ++i)
        switches += "\x1b[?3h\x1b[24H\n\x1b[?3l\x1b[24H\n";
    feedSwitches(state, *terminal, switches);
}
BENCHMARK(BM_ColumnModeSwitchesScrollingPastImages)->Unit(benchmark::kMillisecond);

void BM_TitleStackFlood(benchmark::State& state)
{
    double growth = 0;
    for (auto _ : state) {
        auto terminal = Terminal::create(bench::quietDelegate(), TerminalOptions::defaults());
        const std::string title(1000000, 't');
        PeakMemory memory;
        for (int i = 0; i < 500; ++i)
            terminal->feed("\x1b]2;" + std::to_string(i) + title + "\x07\x1b[22;2t");
        growth = memory.peakGrowthMB();
    }
    state.counters["peakGrowthMB"] = growth;
}
BENCHMARK(BM_TitleStackFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_UnreadReplyFlood(benchmark::State& state)
{
    double growth = 0;
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        auto headless = HeadlessTerminal::create(nullptr, TerminalOptions::defaults(), false, nullptr,
                                                 [&](std::optional<int32_t>) {
                                                     std::lock_guard guard(mutex);
                                                     done = true;
                                                     ended.notify_all();
                                                 });
        PeakMemory memory;
        // A million DA queries in raw mode, then a pause with every reply unread.
        headless->process()->startProcess(
            "/bin/sh", {"-c", "stty raw -echo; yes \"$(printf '\\033[c')\" | head -n 1000000 | tr -d '\\n'; "
                              "sleep 1"});
        std::unique_lock lock(mutex);
        ended.wait_for(lock, std::chrono::seconds(120), [&] { return done; });
        growth = memory.peakGrowthMB();
    }
    state.counters["peakGrowthMB"] = growth;
}
BENCHMARK(BM_UnreadReplyFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
