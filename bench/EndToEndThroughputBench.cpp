// End-to-end throughput: `cat` of a 64 MiB file through a real pseudo-terminal into an 80x24
// terminal with 10,000 lines of scrollback, from starting `cat` until every byte has been consumed.
//
// Three consumers read the same file in the same run:
// - the headless terminal: a `HeadlessTerminal` whose `LocalProcess` runs `cat`; done when its end
//   handler fires, which the process does only after delivering the last of the output. It runs
//   twice: parsing on the pipeline's parse thread (direct delivery) and on the delivery queue;
// - tmux, as the peer: a detached session of the same size and scrollback on a private socket; each
//   run opens a window running `cat file; tmux wait-for -S done` and waits for that signal, so the
//   time covers tmux reading and parsing the output (nothing is subtracted). The signal can only
//   overtake what the kernel still buffers when `cat` exits, a few KiB of the 64 MiB;
// - a bare read loop: `forkpty` running `cat`, the master read in 64 KiB reads until EIO with the
//   bytes thrown away, the ceiling any pseudo-terminal consumer can reach on this machine.
//
// Seven files are generated, deterministically, in a temporary directory at start: plain text
// lines, coloured output as programs write it, Unicode-heavy text (combining marks, emoji
// sequences, 2- to 4-byte UTF-8), lines of short words each with its own SGR, lines mixing
// scripts, scattered cursor-addressed updates and scroll regions set and reset around line feeds
// (the parse-and-print benchmark's inputs, from BenchInputs.h, BenchProgramInputs.h and
// BenchShortRunInputs.h). Lines end in "\n" as in any text file; the terminal's line discipline makes them
// "\r\n" for every consumer alike. The two screen-update files end in a plain line written below
// the last row, for the check that every byte arrived. Results are megabytes (10^6 bytes) of the file per
// second; the ratios headless/tmux and headless/bare of each consumer's best round are printed at the end,
// with the median over the rounds of headless/bare taken within each round.
#include "BenchInputs.h"
#include "BenchProgramInputs.h"
#include "BenchPseudoTerminal.h"
#include "BenchRatio.h"
#include "BenchShortRunInputs.h"

#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalOptions.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace kestrovan;
using Clock = std::chrono::steady_clock;

constexpr size_t fileSize = 64u << 20;
constexpr uint32_t seed = 20240611;
constexpr int columns = 80;
constexpr int rows = 24;
constexpr int scrollback = 10000;
// Each run moves 64 MiB. A pseudo-terminal's speed drifts by a factor of two or more over a minute
// on a busy or virtual machine, so the consumers are measured in rounds: each round runs every
// consumer once on each file, one after another, and the summary keeps each consumer's best round.
// Eight rounds give each of the four consumers each place in the round twice (see `main`), in
// about ten minutes where the terminal moves 60 MB/s.
constexpr int defaultRounds = 8;

// --- Input files ---------------------------------------------------------------------------------

/// At least `fileSize` bytes of an input, cut after its last whole line below that size.
std::string inputFile(std::string (*make)(size_t, std::string_view, uint32_t))
{
    std::string out = make(fileSize, "\n", seed);
    out.resize(out.rfind('\n', fileSize - 1) + 1);
    return out;
}

/// An input ending in a line of plain ASCII: the check that every byte arrived compares the last
/// line's text column by column, which only plain text makes simple.
std::string endingInPlainLine(std::string (*make)(size_t, std::string_view, uint32_t), const char* name)
{
    std::string out = inputFile(make);
    out.resize(out.rfind('\n', out.size() - 256) + 1);
    out += std::string("the end of the ") + name + " file\n";
    return out;
}

/// A screen-update input of at least `fileSize` bytes, then the region reset and a plain line
/// written below the last row: the line the end-of-output check reads.
std::string endingBelowTheScreen(std::string (*make)(size_t, uint32_t), const char* name)
{
    std::string out = make(fileSize, seed);
    out += std::string("\x1b[r\x1b[24;1H\nthe end of the ") + name + " file\n";
    return out;
}

/// A workload: the file `cat` writes, made once at start in the temporary directory.
struct Workload
{
    const char* name;
    std::string (*make)();
    std::string path;
    size_t size = 0;
};

// Plain lines, coloured output, Unicode-heavy text, and short runs of text between controls
// (BenchShortRunInputs.h): a style per word, lines mixing scripts, position-word-erase updates and
// scroll regions.
Workload workloads[] = {
    {"PlainText", [] { return inputFile(bench::asciiLines); }, {}, 0},
    {"SgrColoured", [] { return inputFile(bench::sgrColoured); }, {}, 0},
    {"UnicodeHeavy", [] { return endingInPlainLine(bench::unicodeHeavy, "Unicode-heavy"); }, {}, 0},
    {"ColouredWords", [] { return endingInPlainLine(bench::colouredWords, "coloured words"); }, {}, 0},
    {"MixedScript", [] { return endingInPlainLine(bench::mixedScript, "mixed-script"); }, {}, 0},
    {"CursorUpdates", [] { return endingBelowTheScreen(bench::cursorUpdates, "cursor-updates"); }, {}, 0},
    {"ScrollRegions", [] { return endingBelowTheScreen(bench::scrollRegions, "scroll-regions"); }, {}, 0},
};

/// The temporary directory with the files; removed at exit.
struct InputFiles
{
    std::string directory;

    bool make()
    {
        char pattern[] = "/tmp/kestrovan-e2e-XXXXXX";
        if (!mkdtemp(pattern))
            return false;
        directory = pattern;
        for (Workload& workload : workloads) {
            workload.path = directory + "/" + workload.name + ".txt";
            const std::string contents = workload.make();
            workload.size = contents.size();
            if (!write(workload.path, contents))
                return false;
        }
        return true;
    }

    void remove() const
    {
        for (const Workload& workload : workloads)
            unlink(workload.path.c_str());
        rmdir(directory.c_str());
    }

    static bool write(const std::string& path, const std::string& contents)
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file)
            return false;
        const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
        return std::fclose(file) == 0 && written;
    }
};

InputFiles inputs;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- Our headless terminal -----------------------------------------------------------------------

/// Waits for the end handler, which may run on any thread.
class EndSignal
{
public:
    void notify()
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        condition_.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(mutex_);
        condition_.wait(lock, [&] { return ended_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool ended_ = false;
};

/// The visible text of the file's last line: SGR sequences left out, trailing blanks trimmed.
std::string expectedLastLine(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    std::string tail(4096, '\0');
    std::fseek(file, -static_cast<long>(tail.size()), SEEK_END);
    tail.resize(std::fread(tail.data(), 1, tail.size(), file));
    std::fclose(file);
    tail.pop_back(); // the final "\n"
    std::string line = tail.substr(tail.rfind('\n') + 1);
    std::string text;
    for (size_t at = 0; at < line.size(); ++at) {
        if (line[at] == '\x1b') {
            at = line.find('m', at);
            continue;
        }
        text.push_back(line[at]);
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

/// The text of the logical line just above the cursor, joined across soft wraps, trailing blanks
/// trimmed: after `cat`, the file's last line.
std::string lastLineOnScreen(HeadlessTerminal& headless)
{
    const TerminalContentSnapshot snapshot =
        headless.terminalContentSnapshot(TerminalContentRegion::viewport(), Terminal::BufferKind::normal);
    int64_t index = snapshot.cursorRow - 1 - snapshot.capturedRange.lowerBound;
    if (index < 0 || index >= static_cast<int64_t>(snapshot.rows.size()))
        return {};
    std::string text;
    for (;;) {
        const TerminalContentRowSnapshot& row = snapshot.rows[size_t(index)];
        std::string rowText = row.text();
        rowText.resize(size_t(columns), ' ');
        text.insert(0, rowText);
        if (!row.isWrapped || index == 0)
            break;
        --index;
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

enum class Delivery
{
    /// Output is parsed on the pipeline's parse thread.
    direct,
    /// Output is handed to the process's delivery queue and parsed there.
    queued,
};

void BM_Headless(benchmark::State& state, const Workload& workload, Delivery delivery)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = columns;
    options.rows = rows;
    options.scrollback = scrollback;
    const std::string expected = expectedLastLine(workload.path);
    for (auto _ : state) {
        // A fresh terminal for each run, as tmux gets a fresh window; made before the clock starts.
        EndSignal ended;
        auto headless = HeadlessTerminal::create(nullptr, options, delivery == Delivery::direct, nullptr,
                                                 [&ended](std::optional<int32_t>) { ended.notify(); });
        const auto start = Clock::now();
        headless->process()->startProcess("/bin/cat", {workload.path});
        ended.wait();
        state.SetIterationTime(secondsSince(start));

        // A run that lost output would look fast: check that the file's end reached the screen.
        const std::string shown = lastLineOnScreen(*headless);
        if (shown != expected) {
            state.SkipWithError(
                ("the last line on screen is \"" + shown + "\", not \"" + expected + "\"").c_str());
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workload.size));
}

void BM_HeadlessDirect(benchmark::State& state, const Workload& workload)
{
    BM_Headless(state, workload, Delivery::direct);
}

void BM_HeadlessQueued(benchmark::State& state, const Workload& workload)
{
    BM_Headless(state, workload, Delivery::queued);
}

// --- Bare read loop ------------------------------------------------------------------------------

void BM_Bare(benchmark::State& state, const Workload& workload)
{
    std::vector<uint8_t> buffer(64u << 10);
    for (auto _ : state) {
        const auto start = Clock::now();
        int master = -1;
        const pid_t pid = bench::startOnTerminal({"/bin/cat", workload.path}, rows, columns, master);
        if (pid < 0) {
            state.SkipWithError("forkpty failed");
            return;
        }
        // The master reads EIO once the child side is closed and drained.
        for (;;) {
            const ssize_t count = read(master, buffer.data(), buffer.size());
            if (count > 0 || (count < 0 && errno == EINTR))
                continue;
            break;
        }
        close(master);
        int status = 0;
        waitpid(pid, &status, 0);
        state.SetIterationTime(secondsSince(start));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workload.size));
}

// --- Peer: tmux ----------------------------------------------------------------------------------

/// Runs a program to its end, its output discarded; its exit status, or -1 when it did not run.
int run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

/// A tmux server on its own socket with one detached 80x24 session; killed when it goes.
class TmuxServer
{
public:
    TmuxServer() : socket_("kestrovan-bench-" + std::to_string(getpid()))
    {
        // Options are set before the session exists so its windows are made with them: the same
        // size and scrollback as our terminal, and a plain shell to run each window's command.
        const std::string size = std::to_string(columns) + "x" + std::to_string(rows);
        started_ = run({"tmux",
                        "-L",
                        socket_,
                        "-f",
                        "/dev/null",
                        "start-server",
                        ";",
                        "set-option",
                        "-g",
                        "history-limit",
                        std::to_string(scrollback),
                        ";",
                        "set-option",
                        "-g",
                        "default-size",
                        size,
                        ";",
                        "set-option",
                        "-g",
                        "default-shell",
                        "/bin/sh",
                        ";",
                        "new-session",
                        "-d",
                        "-s",
                        "bench",
                        "-x",
                        std::to_string(columns),
                        "-y",
                        std::to_string(rows),
                        "/bin/sh"}) == 0;
    }
    ~TmuxServer() { run({"tmux", "-L", socket_, "kill-server"}); }

    TmuxServer(const TmuxServer&) = delete;
    TmuxServer& operator=(const TmuxServer&) = delete;

    bool started() const { return started_; }

    /// Runs `cat path` in a new window and returns once the window's shell, after `cat` exits,
    /// has signalled a channel; by then tmux has read all but what the kernel still buffers.
    bool catFile(const std::string& path)
    {
        const std::string command = "cat '" + path + "'; tmux -L " + socket_ + " wait-for -S done";
        if (run({"tmux", "-L", socket_, "new-window", "-d", "-t", "bench:", command}) != 0)
            return false;
        return run({"tmux", "-L", socket_, "wait-for", "done"}) == 0;
    }

private:
    std::string socket_;
    bool started_ = false;
};

void BM_Tmux(benchmark::State& state, const Workload& workload)
{
    TmuxServer server;
    if (!server.started()) {
        state.SkipWithError("tmux could not be started (is it installed?)");
        return;
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!server.catFile(workload.path)) {
            state.SkipWithError("tmux did not run the window");
            return;
        }
        state.SetIterationTime(secondsSince(start));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workload.size));
}

// --- Report --------------------------------------------------------------------------------------

/// The best bytes per second over the rounds of the runs whose names start with `prefix`, if any ran.
std::optional<double> rateOf(const bench::RatioReporter& reporter, const std::string& prefix)
{
    std::optional<double> best;
    for (const auto& [name, rate] : reporter.bytesPerSecond) {
        if (name.rfind(prefix + "/", 0) == 0 && (!best || rate > *best))
            best = rate;
    }
    return best;
}

/// The bytes per second of the run of `prefix` in round `round`, if it ran.
std::optional<double> rateInRound(const bench::RatioReporter& reporter, const std::string& prefix, int round)
{
    const std::string start = prefix + "/round:" + std::to_string(round) + "/";
    for (const auto& [name, rate] : reporter.bytesPerSecond) {
        if (name.rfind(start, 0) == 0)
            return rate;
    }
    return std::nullopt;
}

/// The median over the rounds of `ours / peer` taken within each round, whose runs follow one
/// another within seconds: the pseudo-terminal's drift between rounds cancels out, which it does
/// not between two best rounds taken minutes apart. 0 when no round has both.
double medianRoundRatio(const bench::RatioReporter& reporter, const std::string& ours,
                        const std::string& peer, int rounds)
{
    std::vector<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        const auto our = rateInRound(reporter, ours, round);
        const auto their = rateInRound(reporter, peer, round);
        if (our && their && *their > 0)
            ratios.push_back(*our / *their);
    }
    if (ratios.empty())
        return 0;
    std::sort(ratios.begin(), ratios.end());
    const size_t middle = ratios.size() / 2;
    return ratios.size() % 2 ? ratios[middle] : (ratios[middle - 1] + ratios[middle]) / 2;
}

void printSummary(const bench::RatioReporter& reporter, int rounds)
{
    std::printf("\nBest of %d round%s, and the median of the rounds' own ratios:\n", rounds,
                rounds == 1 ? "" : "s");
    std::printf("%-22s %11s %11s %11s %14s %14s %14s\n", "workload (delivery)", "ours MB/s", "tmux MB/s",
                "bare MB/s", "ours/tmux", "ours/bare", "median o/b");
    for (const Workload& workload : workloads) {
        const std::string name = workload.name;
        const auto tmux = rateOf(reporter, "BM_Tmux_" + name);
        const auto bare = rateOf(reporter, "BM_Bare_" + name);
        for (const char* delivery : {"Direct", "Queued"}) {
            const std::string oursName = "BM_Headless" + std::string(delivery) + "_" + name;
            const auto ours = rateOf(reporter, oursName);
            if (!ours)
                continue;
            auto megabytes = [](std::optional<double> rate) { return rate ? *rate / 1e6 : 0.0; };
            auto ratio = [&](std::optional<double> peer) { return peer && *peer > 0 ? *ours / *peer : 0.0; };
            const std::string label = name + " (" + delivery + ")";
            std::printf("%-22s %11.1f %11.1f %11.1f %13.2fx %13.0f%% %13.0f%%\n", label.c_str(),
                        megabytes(ours), megabytes(tmux), megabytes(bare), ratio(tmux), 100 * ratio(bare),
                        100 * medianRoundRatio(reporter, oursName, "BM_Bare_" + name, rounds));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!inputs.make()) {
        std::fprintf(stderr, "could not write the input files to a temporary directory\n");
        return 1;
    }
    // KESTROVAN_E2E_ROUNDS overrides the number of rounds (at least one).
    int rounds = defaultRounds;
    if (const char* value = std::getenv("KESTROVAN_E2E_ROUNDS"))
        rounds = std::max(1, std::atoi(value));
    using Consumer = std::pair<const char*, void (*)(benchmark::State&, const Workload&)>;
    const Consumer consumers[] = {{"BM_HeadlessDirect_", &BM_HeadlessDirect},
                                  {"BM_HeadlessQueued_", &BM_HeadlessQueued},
                                  {"BM_Tmux_", &BM_Tmux},
                                  {"BM_Bare_", &BM_Bare}};
    constexpr int consumerCount = int(std::size(consumers));
    // Registered round by round, so that the consumers of one round run close together in time.
    // A run's place in the round moves its speed by more than the differences measured (what ran
    // just before it leaves the machine's memory and caches in another state), so each round
    // starts with the next consumer in turn, and over the rounds every consumer takes every place.
    for (int round = 1; round <= rounds; ++round) {
        for (const Workload& workload : workloads) {
            const std::string name = workload.name;
            for (int place = 0; place < consumerCount; ++place) {
                const auto& [kind, function] = consumers[(place + round - 1) % consumerCount];
                benchmark::RegisterBenchmark((kind + name + "/round:" + std::to_string(round)).c_str(),
                                             function, workload)
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter, rounds);
    inputs.remove();
    benchmark::Shutdown();
    return 0;
}
