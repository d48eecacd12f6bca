// Keystroke to echo: the time from a key written for the child until its echo can be read back, with
// `cat` as the child and the terminal's line discipline doing the echo.
//
// Every benchmark drives two terminals in turns, a key to each every 10 ms, 5 ms apart, so that both
// meet the same load at the same moments:
// - the peer, a bare pseudo-terminal round trip: `forkpty` running `cat`, the key written to the
//   master and the master polled and read until the letter comes back. This is the kernel's part,
//   which no terminal can avoid;
// - the headless terminal: the key goes in through `HeadlessTerminal::send` (the process's writer)
//   and the host looks for the echo in the terminal. The process reports to a delegate of the
//   benchmark's that feeds the terminal and then tells the host, as a view does. The host either
//   waits for that news and then looks at a viewport snapshot (a waiting host, like a view's main
//   loop), or looks again and again without sleeping (a spinning host): at the cursor, read under
//   the terminal lock, or at whole viewport snapshots, which hold the lock for tens of
//   microseconds, so the parser often finds it taken and waits its turn.
//
// A spinning host keeps its processor busy. When no processor is idle, the kernel runs the
// terminal's echo work, and then the reader thread, on the processor of the thread that wrote the
// key, and there they wait behind the spinning host until the scheduler takes the processor from it
// (a tick, milliseconds). A waiting host sleeps as the bare peer does, and shows the engine's own
// cost. Both are measured: the first is what a host that polls pays on a loaded machine.
//
// Keys cycle through the letters; every 60 keys a line ends with Enter, which `cat` prints back,
// outside the measured time. Each benchmark reports the median, 90th and 99th percentile and the
// largest time in microseconds for both terminals, and where the headless terminal's time went:
// from the write until the batch holding the echo reached the delegate (the kernel and the reader),
// the parsing (the terminal lock included), and from then until the host saw it. The summary prints
// the engine's added time (headless minus bare) per percentile.
#include "BenchPseudoTerminal.h"

#include "Kestrovan/Buffer.h"
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/LocalProcess.h"
#include "Kestrovan/LocalProcessDelegate.h"
#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalOptions.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrovan;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// 2000 keys make the 99th percentile the 20th largest time: one stray stall moves it little.
constexpr int keysPerRun = 2000;
constexpr auto keyInterval = 10ms;
constexpr int keysPerLine = 60;
// A key whose echo has not come after this long is counted lost, and the run fails.
constexpr auto echoPatience = 2s;

// The letter of key `index`: the alphabet over and over, never the same twice in a row.
char letterOf(int index)
{
    return char('a' + index % 26);
}

double microsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// --- Percentiles ----------------------------------------------------------------------------------

struct Percentiles
{
    double median = 0;
    double p90 = 0;
    double p99 = 0;
    double max = 0;
};

Percentiles percentilesOf(std::vector<double> micros)
{
    if (micros.empty())
        return {};
    std::sort(micros.begin(), micros.end());
    auto at = [&](size_t percent) {
        return micros[std::min(micros.size() - 1, micros.size() * percent / 100)];
    };
    return {at(50), at(90), at(99), micros.back()};
}

// One run's figures, kept by benchmark name for the summary.
struct RunResult
{
    Percentiles bare;
    Percentiles headless;
    Percentiles readerStage;
    Percentiles parseStage;
    Percentiles hostStage;
};
std::map<std::string, RunResult> results;

void setCounters(benchmark::State& state, const std::string& prefix, const Percentiles& values)
{
    state.counters[prefix + "median_us"] = values.median;
    state.counters[prefix + "p99_us"] = values.p99;
    state.counters[prefix + "max_us"] = values.max;
}

// --- Peer: the bare round trip ----------------------------------------------------------------------

class BarePty
{
public:
    bool start()
    {
        pid_ = bench::startOnTerminal({"/bin/cat"}, 24, 80, master_);
        return pid_ > 0;
    }

    ~BarePty()
    {
        if (pid_ <= 0)
            return;
        close(master_);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

    // Writes `letter` and reads until it comes back; the round trip in microseconds, or a negative
    // value when it never came.
    double roundTrip(char letter)
    {
        const auto start = Clock::now();
        if (write(master_, &letter, 1) != 1 || !readUntil(letter, echoPatience))
            return -1;
        return microsBetween(start, Clock::now());
    }

    // The line's end and cat's copy of it.
    void endLine()
    {
        const char enter = '\r';
        [[maybe_unused]] ssize_t ignored = write(master_, &enter, 1);
        readUntil('\n', 50ms);
        readUntil('\n', 50ms);
    }

private:
    // Reads whatever is there within `wait`; true once `letter` was among it.
    bool readUntil(char letter, Clock::duration wait)
    {
        const auto giveUp = Clock::now() + wait;
        while (Clock::now() < giveUp) {
            pollfd entry{master_, POLLIN, 0};
            if (poll(&entry, 1, 100) <= 0)
                continue;
            const ssize_t count = read(master_, buffer_, sizeof buffer_);
            if (count > 0 && std::find(buffer_, buffer_ + count, letter) != buffer_ + count)
                return true;
        }
        return false;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    char buffer_[4096];
};

// --- The headless terminal ------------------------------------------------------------------------

// The process's delegate: hands each batch to the terminal, stamps it, and tells the host.
class EchoWatcher : public LocalProcessDelegate, public LocalProcessBorrowedDataDelegate
{
public:
    explicit EchoWatcher(std::weak_ptr<HeadlessTerminal> terminal) : terminal_(std::move(terminal)) {}

    void dataReceived(std::span<const uint8_t> slice) override
    {
        auto terminal = terminal_.lock();
        if (!terminal)
            return;
        const int64_t received = Clock::now().time_since_epoch().count();
        int64_t none = 0;
        firstReceived_.compare_exchange_strong(none, received);
        terminal->dataReceived(slice);
        lastParsed_.store(Clock::now().time_since_epoch().count());
        {
            std::lock_guard lock(mutex_);
            ++batches_;
        }
        batchArrived_.notify_all();
    }
    void dataReceivedBorrowed(std::span<const uint8_t> bytes) override { dataReceived(bytes); }
    void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) override
    {
        if (auto terminal = terminal_.lock())
            terminal->processTerminated(source, exitCode);
    }
    winsize getWindowSize() override
    {
        auto terminal = terminal_.lock();
        return terminal ? terminal->getWindowSize() : winsize{24, 80, 16, 16};
    }

    // Forgets the stamps, before a key.
    void resetStamps()
    {
        firstReceived_.store(0);
        lastParsed_.store(0);
    }
    // When the first batch since the reset reached this delegate, and when the last one was parsed;
    // `fallback` for either that has not happened.
    Clock::time_point firstReceived(Clock::time_point fallback) const
    {
        return stamp(firstReceived_, fallback);
    }
    Clock::time_point lastParsed(Clock::time_point fallback) const { return stamp(lastParsed_, fallback); }

    uint64_t batches()
    {
        std::lock_guard lock(mutex_);
        return batches_;
    }
    // Sleeps until a batch after the `seen`th has been parsed; false at `giveUp`.
    bool waitForBatchAfter(uint64_t seen, Clock::time_point giveUp)
    {
        std::unique_lock lock(mutex_);
        return batchArrived_.wait_until(lock, giveUp, [&] { return batches_ != seen; });
    }

private:
    static Clock::time_point stamp(const std::atomic<int64_t>& value, Clock::time_point fallback)
    {
        const int64_t ticks = value.load();
        return ticks == 0 ? fallback : Clock::time_point(Clock::duration(ticks));
    }

    const std::weak_ptr<HeadlessTerminal> terminal_;
    std::atomic<int64_t> firstReceived_{0};
    std::atomic<int64_t> lastParsed_{0};
    std::mutex mutex_;
    std::condition_variable batchArrived_;
    uint64_t batches_ = 0;
};

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

enum class Host
{
    waiting,
    spinningOnCursor,
    spinningOnSnapshots,
};

std::string resultName(bool directDelivery, Host host)
{
    static const char* const hosts[] = {"waiting", "spin cursor", "spin snapshots"};
    return std::string(directDelivery ? "direct, " : "queued, ") + hosts[int(host)];
}

// Sends `letter` and looks for its echo as `host` does; true with the times the key went and its
// echo was seen.
bool sendAndSeeEcho(HeadlessTerminal& headless, EchoWatcher& watcher, Host host, char letter,
                    Clock::time_point& start, Clock::time_point& seenAt)
{
    Terminal& terminal = *headless.terminal();
    const int64_t cursorBefore = host == Host::spinningOnCursor ? cursorOf(terminal) : 0;
    // Counted before the key goes and before each look, so that no batch is slept through.
    uint64_t batches = watcher.batches();
    start = Clock::now();
    const auto giveUp = start + echoPatience;
    headless.send(std::string_view(&letter, 1));
    bool seen = false;
    switch (host) {
    case Host::waiting:
        // Like a view's main loop, it sleeps until output has been parsed, and only then looks.
        while (watcher.waitForBatchAfter(batches, giveUp)) {
            batches = watcher.batches();
            if ((seen = echoShown(headless, letter)))
                break;
        }
        break;
    case Host::spinningOnCursor:
        while (!(seen = cursorOf(terminal) != cursorBefore) && Clock::now() < giveUp)
            spinBriefly();
        break;
    case Host::spinningOnSnapshots:
        while (!(seen = echoShown(headless, letter)) && Clock::now() < giveUp) {
        }
        break;
    }
    seenAt = Clock::now();
    // The cursor moving is checked to have been the letter.
    return seen && waitPolling([&] { return echoShown(headless, letter); });
}

void BM_Echo(benchmark::State& state, bool directDelivery, Host host)
{
    BarePty bare;
    if (!bare.start()) {
        state.SkipWithError("forkpty failed");
        return;
    }
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 80;
    options.rows = 24;
    auto headless = HeadlessTerminal::create(nullptr, options, directDelivery, nullptr, nullptr);
    auto watcher = std::make_shared<EchoWatcher>(headless);
    headless->setProcess(LocalProcess::create(watcher, nullptr, directDelivery));
    headless->process()->startProcess("/bin/cat", {});

    std::vector<double> bareMicros, headlessMicros, readerMicros, parseMicros, hostMicros;
    int index = 0;
    // The first keys also wait for both cats to be running.
    auto next = Clock::now() + 100ms;
    for (auto _ : state) {
        const char letter = letterOf(index++);

        std::this_thread::sleep_until(next);
        const double bareTime = bare.roundTrip(letter);
        if (bareTime < 0) {
            state.SkipWithError("no echo from the bare pseudo-terminal");
            break;
        }
        bareMicros.push_back(bareTime);

        std::this_thread::sleep_until(next + keyInterval / 2);
        next += keyInterval;
        watcher->resetStamps();
        Clock::time_point start;
        Clock::time_point seenAt;
        if (!sendAndSeeEcho(*headless, *watcher, host, letter, start, seenAt)) {
            state.SkipWithError("no echo in the headless terminal");
            break;
        }
        // A stage whose stamp is missing (a spinning host can see the echo before the delegate
        // has stamped the batch's end) counts as over when the host saw the echo.
        const auto received = std::min(watcher->firstReceived(seenAt), seenAt);
        const auto parsed = std::clamp(watcher->lastParsed(seenAt), received, seenAt);
        state.SetIterationTime(microsBetween(start, seenAt) / 1e6);
        headlessMicros.push_back(microsBetween(start, seenAt));
        readerMicros.push_back(microsBetween(start, received));
        parseMicros.push_back(microsBetween(received, parsed));
        hostMicros.push_back(microsBetween(parsed, seenAt));

        if (index % keysPerLine == 0) {
            // The line's end and cat's copy of it, outside the measured time: the cursor starts a
            // new row under two copies of the line.
            bare.endLine();
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

    RunResult result{percentilesOf(bareMicros), percentilesOf(headlessMicros), percentilesOf(readerMicros),
                     percentilesOf(parseMicros), percentilesOf(hostMicros)};
    setCounters(state, "", result.headless);
    setCounters(state, "bare_", result.bare);
    state.counters["reader_p99_us"] = result.readerStage.p99;
    state.counters["parse_p99_us"] = result.parseStage.p99;
    state.counters["host_p99_us"] = result.hostStage.p99;
    results[resultName(directDelivery, host)] = result;
}

void registerEcho(const char* name, bool directDelivery, Host host)
{
    benchmark::RegisterBenchmark(name, BM_Echo, directDelivery, host)
        ->Iterations(keysPerRun)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
}

void printSummary()
{
    if (results.empty())
        return;
    // Latency on a shared machine means little without the load it was measured under, and the
    // processors the run was allowed.
    double load[3] = {0, 0, 0};
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    if (getloadavg(load, 3) == 3)
        std::printf("\nload average at the end: %.2f %.2f %.2f; this run may use %d processors\n", load[0],
                    load[1], load[2], CPU_COUNT(&allowed));
    std::printf("\nkeystroke to echo, %d keys 10 ms apart, microseconds (bare: the pty round trip in the "
                "same run)\n",
                keysPerRun);
    std::printf("%-24s %8s %8s %8s %8s | %8s %8s | %9s %9s\n", "headless", "median", "p90", "p99", "max",
                "bare med", "bare p99", "added med", "added p99");
    for (const auto& [name, result] : results) {
        std::printf("%-24s %8.0f %8.0f %8.0f %8.0f | %8.0f %8.0f | %9.0f %9.0f\n", name.c_str(),
                    result.headless.median, result.headless.p90, result.headless.p99, result.headless.max,
                    result.bare.median, result.bare.p99, result.headless.median - result.bare.median,
                    result.headless.p99 - result.bare.p99);
    }
    std::printf("\nwhere the headless time went, median / p99: write to delegate (kernel and reader), "
                "parsing, delegate to host\n");
    for (const auto& [name, result] : results) {
        std::printf("%-24s %8.0f / %-8.0f %8.0f / %-8.0f %8.0f / %-8.0f\n", name.c_str(),
                    result.readerStage.median, result.readerStage.p99, result.parseStage.median,
                    result.parseStage.p99, result.hostStage.median, result.hostStage.p99);
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerEcho("BM_Echo/Direct/WaitingHost", true, Host::waiting);
    registerEcho("BM_Echo/Queued/WaitingHost", false, Host::waiting);
    registerEcho("BM_Echo/Direct/SpinningOnCursor", true, Host::spinningOnCursor);
    registerEcho("BM_Echo/Direct/SpinningOnSnapshots", true, Host::spinningOnSnapshots);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printSummary();
    benchmark::Shutdown();
    return 0;
}
