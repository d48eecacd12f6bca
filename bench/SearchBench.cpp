// Find-all over a 100,000-row scrollback, as the find bar's match count runs it, against grep
// counting the same text in the same run.
//
// Workload: 100,000 rows of plain ASCII words (40-90 columns on a 100-column terminal, no wraps),
// about 1% of them holding "needle" once. Our search runs plain, case-insensitive ("NEEDLE") and as
// a regular expression ("ne+dle"); grep runs `-c -F`, `-c -i -F` and `-c -E` over a file of the same
// rows, process start included. "cold" drops the line cache first (untimed, as a resize does), so
// the rows are read out of the buffer again; "warm" reuses it, as repeated next/previous steps and count
// updates do. Every benchmark reports rows per second; main prints the ratios and the cache counters of a
// find-next after one new line of output.
#include "BenchRatio.h"
#include "BenchTerminal.h"

#include "Kestrovan/SearchService.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace kestrovan;

constexpr int rowCount = 100000;

struct Corpus
{
    std::string text;
    std::string path;
    int hits = 0;
};

const Corpus& corpus()
{
    static const Corpus made = [] {
        static const char* const words[] = {"alpha", "beta", "gamma", "delta", "build",  "error",  "warning",
                                            "src",   "main", "value", "index", "thread", "render", "frame",
                                            "cache", "line", "token", "parse", "queue",  "scroll"};
        std::mt19937 random(11);
        Corpus corpus;
        for (int row = 0; row < rowCount; ++row) {
            const size_t width = 40 + random() % 51;
            std::string line;
            const bool hit = random() % 100 == 0;
            const size_t at = hit ? random() % (width - 10) : 0;
            while (line.size() < width) {
                if (hit && line.size() >= at && line.find("needle") == std::string::npos)
                    line += "needle ";
                line += words[random() % 20];
                line += ' ';
            }
            line.resize(width);
            if (hit && line.find("needle") == std::string::npos)
                line.replace(0, 6, "needle");
            corpus.hits += hit ? 1 : 0;
            corpus.text += line + "\n";
        }
        char path[] = "/tmp/vesk-search-bench-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0) {
            (void)!write(fd, corpus.text.data(), corpus.text.size());
            close(fd);
            corpus.path = path;
        }
        return corpus;
    }();
    return made;
}

/// A terminal holding the corpus in its scrollback, and a search service over it.
struct Scrollback
{
    std::shared_ptr<Terminal> terminal;
    std::unique_ptr<SearchService> search;
};

Scrollback& scrollback()
{
    static Scrollback made = [] {
        const auto& delegate = bench::quietDelegate();
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 100;
        options.rows = 50;
        options.scrollback = rowCount;
        Scrollback s;
        s.terminal = Terminal::create(delegate, options);
        std::string output;
        for (char c : corpus().text) {
            if (c == '\n')
                output += '\r';
            output += c;
        }
        s.terminal->feed(output);
        s.search = std::make_unique<SearchService>(s.terminal);
        return s;
    }();
    return made;
}

void findAll(benchmark::State& state, const char* term, SearchOptions options, bool cold)
{
    Scrollback& s = scrollback();
    size_t found = 0;
    for (auto _ : state) {
        if (cold) {
            // Dropping the cache is the resize's cost, not the search's: untimed.
            state.PauseTiming();
            s.search->invalidate();
            state.ResumeTiming();
        }
        s.terminal->terminalLock().withLock(
            [&] { found = s.search->engine.findAll(term, options, 1 << 30).size(); });
    }
    if (found != static_cast<size_t>(corpus().hits))
        state.SkipWithError("the search did not find every needle");
    state.counters["rows/s"] =
        benchmark::Counter(double(rowCount) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void grep(benchmark::State& state, std::vector<const char*> flags)
{
    const Corpus& text = corpus();
    std::vector<char*> argv{const_cast<char*>("grep")};
    for (const char* flag : flags)
        argv.push_back(const_cast<char*>(flag));
    argv.push_back(const_cast<char*>(text.path.c_str()));
    argv.push_back(nullptr);
    int count = -1;
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        pid_t child = 0;
        const int failed = posix_spawnp(&child, "grep", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (failed != 0) {
            close(out[0]);
            state.SkipWithError("grep could not be started");
            return;
        }
        char reply[32] = {};
        const ssize_t got = read(out[0], reply, sizeof reply - 1);
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        count = got > 0 ? std::atoi(reply) : -1;
    }
    if (count != text.hits)
        state.SkipWithError("grep counted another number of rows");
    state.counters["rows/s"] =
        benchmark::Counter(double(rowCount) * double(state.iterations()), benchmark::Counter::kIsRate);
}

constexpr SearchOptions plain{true, false, false};
constexpr SearchOptions caseless{false, false, false};
constexpr SearchOptions regex{true, true, false};

void plainCold(benchmark::State& state)
{
    findAll(state, "needle", plain, true);
}
void plainWarm(benchmark::State& state)
{
    findAll(state, "needle", plain, false);
}
void caselessCold(benchmark::State& state)
{
    findAll(state, "NEEDLE", caseless, true);
}
void caselessWarm(benchmark::State& state)
{
    findAll(state, "NEEDLE", caseless, false);
}
void regexCold(benchmark::State& state)
{
    findAll(state, "ne+dle", regex, true);
}
void regexWarm(benchmark::State& state)
{
    findAll(state, "ne+dle", regex, false);
}
void grepPlain(benchmark::State& state)
{
    grep(state, {"-c", "-F", "needle"});
}
void grepCaseless(benchmark::State& state)
{
    grep(state, {"-c", "-i", "-F", "NEEDLE"});
}
void grepRegex(benchmark::State& state)
{
    grep(state, {"-c", "-E", "ne+dle"});
}

BENCHMARK(plainCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(plainWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(grepPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(caselessCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(caselessWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(grepCaseless)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(regexCold)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(regexWarm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(grepRegex)->Unit(benchmark::kMillisecond)->UseRealTime();

/// What a find-next costs after one new line of output, by the line cache's counters.
void printFindNextAfterOneLine()
{
    Scrollback& s = scrollback();
    Terminal& t = *s.terminal;
    t.terminalLock().withLock([&] { s.search->engine.findAll("needle", plain, 1 << 30); });
    const SearchLineCacheCounters before = s.search->lineCache.counters();
    t.feed("one more line with a needle\r\n");
    t.terminalLock().withLock([&] {
        s.search->findNext("needle", plain);
        s.search->matchSummary("needle", plain, 1 << 30);
    });
    const SearchLineCacheCounters after = s.search->lineCache.counters();
    std::printf("find-next and summary after one new line: %llu rows read (of %d), %llu entries reused, "
                "%llu stale, %llu drops\n",
                static_cast<unsigned long long>(after.rowsExtracted - before.rowsExtracted),
                t.buffer().lines().count(),
                static_cast<unsigned long long>(after.entriesReused - before.entriesReused),
                static_cast<unsigned long long>(after.entriesStale - before.entriesStale),
                static_cast<unsigned long long>(after.drops - before.drops));
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    const auto ratio = [&](const std::string& name, const std::string& peerName) {
        // Benchmarks timed by the wall clock carry this suffix in their names.
        const std::string ours = name + "/real_time";
        const std::string peer = peerName + "/real_time";
        if (!times.count(ours) || !times.count(peer) || times[peer] <= 0)
            return;
        std::printf("%-13s %10.0f rows/s   grep %10.0f rows/s   %.2fx grep's time\n", name.c_str(),
                    rowCount / (times[ours] / 1000.0), rowCount / (times[peer] / 1000.0),
                    times[ours] / times[peer]);
    };
    ratio("plainCold", "grepPlain");
    ratio("plainWarm", "grepPlain");
    ratio("caselessCold", "grepCaseless");
    ratio("caselessWarm", "grepCaseless");
    ratio("regexCold", "grepRegex");
    ratio("regexWarm", "grepRegex");
    printFindNextAfterOneLine();
    if (!corpus().path.empty())
        unlink(corpus().path.c_str());
    benchmark::Shutdown();
    return 0;
}
