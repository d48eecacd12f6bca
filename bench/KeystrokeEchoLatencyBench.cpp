// Keystroke to echo: the time from a key written for the child until its echo can be read back, with
// `cat` as the child and the terminal's line discipline doing the echo.
//
// Two consumers in the same run:
// - the headless terminal: the key goes in through `HeadlessTerminal::send` (the process's writer),
//   and the host polls for the echo in one of two ways. Polling the cursor, it reads the cursor
//   under the terminal lock (a few microseconds) until it moves, which is when the time is taken,
//   then checks in a viewport snapshot that the letter stands left of it; between two looks it
//   spins briefly without the lock. Polling snapshots, it takes viewport snapshots one after
//   another until one shows the letter left of the cursor: a snapshot of 80x24 holds the terminal
//   lock for tens of microseconds, so the parser mostly finds the lock taken and waits its turn,
//   which the times then include. Each runs with output parsed on the pipeline's threads (direct)
//   and on the delivery queue (queued);
// - the peer, a bare pseudo-terminal round trip: `forkpty` running `cat`, the key written to the
//   master and the master polled and read until the letter comes back. This is the kernel's part,
//   which no terminal can avoid.
//
// Keys go 10 ms apart, so that each one meets an idle terminal (the gather thread then treats it as
// interactive output), and cycle through the letters; every 60 keys a line ends with Enter, which
// `cat` prints back, outside the measured time. Each benchmark reports the median and the 99th
// percentile in microseconds; the summary prints the engine's added time (headless minus bare).
#include "BenchPseudoTerminal.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalOptions.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrovan;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int keysPerRun = 600;
constexpr auto keyInterval = 10ms;
constexpr int keysPerLine = 60;
// A key whose echo has not come after this long is counted lost, and the run fails.
constexpr auto echoPatience = 2s;

// The letter of key `index`: the alphabet over and over, never the same twice in a row.
char letterOf(int index)
{
    return char('a' + index % 26);
}

// Latencies of one run, in microseconds, kept by benchmark name for the summary.
std::map<std::string, std::pair<double, double>> results;

void report(benchmark::State& state, const std::string& name, std::vector<double> micros)
{
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    const double median = micros[micros.size() / 2];
    const double p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    state.counters["max_us"] = micros.back();
    results[name] = {median, p99};
}

// --- Peer: the bare round trip ----------------------------------------------------------------------

void BM_BarePty(benchmark::State& state)
{
    int master = -1;
    const pid_t pid = bench::startOnTerminal({"/bin/cat"}, 24, 80, master);
    if (pid < 0) {
        state.SkipWithError("forkpty failed");
        return;
    }
    std::vector<double> micros;
    char buffer[4096];
    // Reads whatever is there within `wait`; true once `letter` was among it.
    auto readUntil = [&](char letter, Clock::duration wait) {
        const auto giveUp = Clock::now() + wait;
        while (Clock::now() < giveUp) {
            pollfd entry{master, POLLIN, 0};
            if (poll(&entry, 1, 100) <= 0)
                continue;
            const ssize_t count = read(master, buffer, sizeof buffer);
            if (count > 0 && std::find(buffer, buffer + count, letter) != buffer + count)
                return true;
        }
        return false;
    };
    int index = 0;
    auto next = Clock::now();
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += keyInterval;
        const char letter = letterOf(index++);
        const auto start = Clock::now();
        if (write(master, &letter, 1) != 1 || !readUntil(letter, echoPatience)) {
            state.SkipWithError("no echo from the bare pseudo-terminal");
            break;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        micros.push_back(seconds * 1e6);
        if (index % keysPerLine == 0) {
            // The line's end and cat's copy of it, outside the measured time.
            const char enter = '\r';
            [[maybe_unused]] ssize_t ignored = write(master, &enter, 1);
            readUntil('\n', 50ms);
            readUntil('\n', 50ms);
        }
    }
    close(master);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    report(state, "bare pty", std::move(micros));
}

// --- The headless terminal ------------------------------------------------------------------------

// The text of the row `above` rows above the cursor's, and the cursor's column.
std::pair<std::string, int> rowAboveCursor(HeadlessTerminal& headless, int above)
{
    const TerminalContentSnapshot snapshot =
        headless.terminalContentSnapshot(TerminalContentRegion::viewport(), Terminal::BufferKind::normal);
    const int64_t row = snapshot.cursorRow - above - snapshot.capturedRange.lowerBound;
    if (row < 0 || row >= int64_t(snapshot.rows.size()))
        return {{}, snapshot.cursorColumn};
    return {snapshot.rows[size_t(row)].text(), snapshot.cursorColumn};
}

// The cursor's place, read under the terminal lock: it moves once the echo has been parsed.
int64_t cursorOf(Terminal& terminal)
{
    return terminal.terminalLock().withLock([&] {
        const Buffer& buffer = terminal.buffer();
        return (int64_t(buffer.yBase()) + buffer.y()) * 65536 + buffer.x();
    });
}

// A few microseconds of spinning, without any lock.
void spinBriefly()
{
    for (int i = 0; i < 64; ++i)
        __builtin_ia32_pause();
}

// True once the viewport shows `letter` just left of the cursor.
bool echoShown(HeadlessTerminal& headless, char letter)
{
    const auto [text, column] = rowAboveCursor(headless, 0);
    return column >= 1 && size_t(column - 1) < text.size() && text[size_t(column - 1)] == letter;
}

// Checks `condition` every 100 µs, sleeping between, until it holds or the patience runs out; for
// what is not timed.
template <typename Condition> bool waitPolling(Condition condition)
{
    const auto giveUp = Clock::now() + echoPatience;
    while (!condition()) {
        if (Clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

enum class Poll
{
    cursor,
    snapshot,
};

std::string resultName(bool directDelivery, Poll poll)
{
    return std::string("headless ") + (directDelivery ? "direct" : "queued") +
           (poll == Poll::cursor ? ", cursor" : ", snapshots");
}

void BM_Headless(benchmark::State& state, bool directDelivery, Poll poll)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 80;
    options.rows = 24;
    auto headless = HeadlessTerminal::create(nullptr, options, directDelivery, nullptr, nullptr);
    headless->process()->startProcess("/bin/cat", {});
    std::vector<double> micros;
    int index = 0;
    // The first key also waits for cat to be running.
    auto next = Clock::now() + 100ms;
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += keyInterval;
        const char letter = letterOf(index++);
        Terminal& terminal = *headless->terminal();
        const int64_t cursorBefore = cursorOf(terminal);
        const auto start = Clock::now();
        headless->send(std::string_view(&letter, 1));
        const auto giveUp = start + echoPatience;
        bool seen = false;
        if (poll == Poll::cursor) {
            while (!(seen = cursorOf(terminal) != cursorBefore) && Clock::now() < giveUp)
                spinBriefly();
        } else {
            while (!(seen = echoShown(*headless, letter)) && Clock::now() < giveUp) {
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!seen || !waitPolling([&] { return echoShown(*headless, letter); })) {
            state.SkipWithError("no echo in the headless terminal");
            break;
        }
        state.SetIterationTime(seconds);
        micros.push_back(seconds * 1e6);
        if (index % keysPerLine == 0) {
            // The line's end and cat's copy of it, outside the measured time: the cursor starts a
            // new row under two copies of the line.
            headless->send("\r");
            const bool copied = waitPolling([&] {
                const auto [copy, column] = rowAboveCursor(*headless, 1);
                return column == 0 && !copy.empty() && rowAboveCursor(*headless, 2).first == copy;
            });
            if (!copied) {
                state.SkipWithError("cat did not copy the line");
                break;
            }
        }
    }
    headless->process()->terminate();
    report(state, resultName(directDelivery, poll), std::move(micros));
}

BENCHMARK(BM_BarePty)->Iterations(keysPerRun)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Headless, DirectCursorPoll, true, Poll::cursor)
    ->Iterations(keysPerRun)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Headless, QueuedCursorPoll, false, Poll::cursor)
    ->Iterations(keysPerRun)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Headless, DirectSnapshotPoll, true, Poll::snapshot)
    ->Iterations(keysPerRun)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Headless, QueuedSnapshotPoll, false, Poll::snapshot)
    ->Iterations(keysPerRun)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    auto bare = results.find("bare pty");
    if (bare != results.end()) {
        std::printf("\n%-26s %10s %10s %18s %18s\n", "keystroke to echo", "median us", "p99 us",
                    "added median us", "added p99 us");
        std::printf("%-26s %10.0f %10.0f\n", bare->first.c_str(), bare->second.first, bare->second.second);
        for (bool direct : {true, false}) {
            for (Poll poll : {Poll::cursor, Poll::snapshot}) {
                const std::string name = resultName(direct, poll);
                auto ours = results.find(name);
                if (ours == results.end())
                    continue;
                std::printf("%-26s %10.0f %10.0f %18.0f %18.0f\n", name.c_str(), ours->second.first,
                            ours->second.second, ours->second.first - bare->second.first,
                            ours->second.second - bare->second.second);
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
