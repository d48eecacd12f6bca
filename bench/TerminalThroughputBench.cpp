// Parse-and-print throughput: bytes fed through the parser into an 80x24 terminal with 10,000
// lines of scrollback, as a program's output reaches it.
//
// Workloads, each about 4 MiB made from a fixed seed before the timed loop:
// - AsciiLines: plain lines of words, like a build log without colour (the fast road).
// - SgrColoured: coloured output as real programs write it: a mix of syntax-highlighted source
//   (every token coloured, from 16 colours, a handful of 256-colour indexes and a theme of 16
//   true colours, keywords bold or italic), `ls --color` listings, `git log`/`git diff` output and
//   compiler diagnostics (bold, red, green, magenta, underline, inverse). Nearly every word
//   changes the style, so the parser's CSI path, SGR and style interning dominate; the set of
//   distinct styles stays small, as it does in practice.
// - SgrRandomTrueColour: the pathological case for the style table: nearly every word gets its
//   own style and one word in five a random 24-bit foreground (16.7 million possible colours), so
//   the 65,536 attribute ids run out early and most new colours then miss every cache.
// - CjkEmoji: CJK, kana, Hangul and emoji text (the slow road's batches and grapheme joining).
// - UnicodeHeavy: combining marks, emoji sequences and 2-, 3- and 4-byte UTF-8 (BenchProgramInputs.h
//   describes this and the next three).
// - CursorRepaint: a TUI's full and partial repaints by cursor addressing.
// - ScrollRegion: an editor's and a pager's scrolling inside margins with inserted and deleted lines.
// - TrueColorText: rainbow text, half-block pictures and true-colour themes: many distinct colours.
// - ColouredWords, CursorUpdates, ScrollRegions, MixedScript: short runs of text between controls
//   (BenchShortRunInputs.h describes them): a style per word, scattered position-word-erase
//   updates, scroll regions set and reset around two line feeds, and lines mixing scripts.
// - HyperlinkedListing: `ls --hyperlink` rows and `rg` matches whose names link to their files,
//   nearly every link a new target, so that links are registered, and room made for them, all along.
// - Recorded: real programs' output at 80x24, recorded with `script` and kept in bench/data:
//   `ls -l --color` of three large directories, `git log -p --color` of this repository, `vim`
//   scrolling a source file line by line and page by page, and `htop` refreshing. Each is fed
//   whole, as recorded (so shorter than 4 MiB).
// Inputs are fed in 64 KiB chunks, the size of one read from the pseudo-terminal. Results are
// bytes per second.
//
// Every workload is a function taking a `Sink`, whatever consumes the bytes, so a peer emulator
// can be fed exactly the same chunks in the same binary: libvterm is measured beside us and the
// ratios are printed at the end.
#include "BenchInputs.h"
#include "BenchProgramInputs.h"
#include "BenchRatio.h"
#include "BenchShortRunInputs.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>
#include <vterm.h>

namespace {

using namespace kestrovan;

constexpr size_t inputSize = 4u << 20;
constexpr size_t chunkSize = 64u << 10;
constexpr uint32_t seed = 20240611;

/// Takes one chunk of output bytes; a sink per emulator under test.
using Sink = std::function<void(std::span<const uint8_t>)>;

/// A recorded program's output from bench/data; stops the benchmark when the file is missing.
std::string recorded(const char* fileName)
{
    const std::string path = std::string(KESTROVAN_BENCH_DATA_DIR) + "/" + fileName;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    return std::move(contents).str();
}

/// A workload: its name and its input, made once on first use.
struct Workload
{
    const char* name;
    std::string (*make)();
};

const Workload workloads[] = {
    {"AsciiLines", [] { return bench::asciiLines(inputSize, "\r\n", seed); }},
    {"SgrColoured", [] { return bench::sgrColoured(inputSize, "\r\n", seed); }},
    {"SgrRandomTrueColour", [] { return bench::sgrRandomTrueColour(inputSize, "\r\n", seed); }},
    {"CjkEmoji", [] { return bench::cjkEmoji(inputSize, "\r\n", seed); }},
    {"UnicodeHeavy", [] { return bench::unicodeHeavy(inputSize, "\r\n", seed); }},
    {"CursorRepaint", [] { return bench::cursorRepaint(inputSize, seed); }},
    {"ScrollRegion", [] { return bench::scrollRegion(inputSize, seed); }},
    {"TrueColorText", [] { return bench::trueColorText(inputSize, "\r\n", seed); }},
    {"ColouredWords", [] { return bench::colouredWords(inputSize, "\r\n", seed); }},
    {"CursorUpdates", [] { return bench::cursorUpdates(inputSize, seed); }},
    {"ScrollRegions", [] { return bench::scrollRegions(inputSize, seed); }},
    {"MixedScript", [] { return bench::mixedScript(inputSize, "\r\n", seed); }},
    {"HyperlinkedListing", [] { return bench::hyperlinkedListing(inputSize, "\r\n", seed); }},
    {"RecordedLs", [] { return recorded("ls-l-color.out"); }},
    {"RecordedGitLog", [] { return recorded("git-log-p-color.out"); }},
    {"RecordedVim", [] { return recorded("vim-scroll.out"); }},
    {"RecordedHtop", [] { return recorded("htop-refresh.out"); }},
};

const std::string& inputOf(const Workload& workload)
{
    static std::map<const Workload*, std::string> inputs;
    auto found = inputs.find(&workload);
    if (found == inputs.end())
        found = inputs.emplace(&workload, workload.make()).first;
    return found->second;
}

void feedOnce(const std::string& input, const Sink& sink)
{
    const auto* data = reinterpret_cast<const uint8_t*>(input.data());
    for (size_t at = 0; at < input.size(); at += chunkSize)
        sink(std::span<const uint8_t>(data + at, std::min(chunkSize, input.size() - at)));
}

/// One timed pass, a function of its own so that an instruction count can be taken on it alone.
[[gnu::noinline]] void timedPass(const std::string& input, const Sink& sink)
{
    feedOnce(input, sink);
}

// Feeds the whole input in 64 KiB chunks per iteration and reports bytes per second. One untimed
// pass first fills the scrollback and the style tables, so that every timed pass meets the state
// of a terminal that has been running a while.
void feedInput(benchmark::State& state, const std::string& input, const Sink& sink)
{
    feedOnce(input, sink);
    for (auto _ : state)
        timedPass(input, sink);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

// --- Our terminal --------------------------------------------------------------------------------

class NullDelegate : public TerminalDelegate
{
public:
    void send(Terminal&, Bytes) override {}
};

/// An 80x24 terminal with 10,000 lines of scrollback, and the sink that feeds it.
struct KestrovanTarget
{
    std::shared_ptr<NullDelegate> delegate = std::make_shared<NullDelegate>();
    std::shared_ptr<Terminal> terminal;
    Sink sink;

    KestrovanTarget()
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 80;
        options.rows = 24;
        options.scrollback = 10000;
        terminal = Terminal::create(delegate, options);
        sink = [terminal = terminal.get()](std::span<const uint8_t> bytes) { terminal->feed(bytes); };
    }
};

void BM_Kestrovan(benchmark::State& state, const Workload& workload)
{
    const std::string& input = inputOf(workload);
    KestrovanTarget target;
    feedInput(state, input, target.sink);
}

// --- Peer: libvterm ------------------------------------------------------------------------------
//
// libvterm with its screen layer, UTF-8 input, the alternate screen enabled and 10,000 lines of
// scrollback kept by copying every line it pushes off the top into a preallocated ring, as a
// terminal that keeps history must.

struct LibvtermTarget
{
    static constexpr int columns = 80;
    static constexpr int rows = 24;
    static constexpr size_t scrollbackLines = 10000;

    VTerm* vt = nullptr;
    VTermScreen* screen = nullptr;
    std::vector<VTermScreenCell> scrollback;
    size_t nextScrollbackLine = 0;
    VTermScreenCallbacks callbacks{};
    Sink sink;

    static int pushLine(int cols, const VTermScreenCell* cells, void* user)
    {
        auto* self = static_cast<LibvtermTarget*>(user);
        VTermScreenCell* slot = &self->scrollback[self->nextScrollbackLine * columns];
        std::copy(cells, cells + std::min(cols, columns), slot);
        self->nextScrollbackLine = (self->nextScrollbackLine + 1) % scrollbackLines;
        return 1;
    }

    LibvtermTarget() : scrollback(scrollbackLines * columns)
    {
        vt = vterm_new(rows, columns);
        vterm_set_utf8(vt, 1);
        screen = vterm_obtain_screen(vt);
        callbacks.sb_pushline = &LibvtermTarget::pushLine;
        vterm_screen_set_callbacks(screen, &callbacks, this);
        vterm_screen_enable_altscreen(screen, 1);
        vterm_screen_reset(screen, 1);
        sink = [vt = vt](std::span<const uint8_t> bytes) {
            vterm_input_write(vt, reinterpret_cast<const char*>(bytes.data()), bytes.size());
        };
    }
    ~LibvtermTarget() { vterm_free(vt); }
    LibvtermTarget(const LibvtermTarget&) = delete;
    LibvtermTarget& operator=(const LibvtermTarget&) = delete;
};

void BM_Libvterm(benchmark::State& state, const Workload& workload)
{
    const std::string& input = inputOf(workload);
    LibvtermTarget target;
    feedInput(state, input, target.sink);
}

/// The bytes per second of a run: the median of its repetitions when it was repeated.
std::optional<double> rateOf(const bench::RatioReporter& reporter, const std::string& name)
{
    for (const std::string& key : {name + "_median", name}) {
        auto found = reporter.bytesPerSecond.find(key);
        if (found != reporter.bytesPerSecond.end())
            return found->second;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // Each workload's two runs sit side by side, so that both meet the same load on the machine.
    for (const Workload& workload : workloads) {
        benchmark::RegisterBenchmark((std::string("BM_") + workload.name + "_Kestrovan").c_str(),
                                     BM_Kestrovan, workload)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_") + workload.name + "_Libvterm").c_str(), BM_Libvterm,
                                     workload)
            ->Unit(benchmark::kMillisecond);
    }
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-20s %14s %14s %8s\n", "workload", "Kestrovan MB/s", "libvterm MB/s", "ratio");
    for (const Workload& workload : workloads) {
        const auto ours = rateOf(reporter, std::string("BM_") + workload.name + "_Kestrovan");
        const auto peer = rateOf(reporter, std::string("BM_") + workload.name + "_Libvterm");
        if (!ours || !peer)
            continue;
        std::printf("%-20s %14.1f %14.1f %7.1fx\n", workload.name, *ours / 1e6, *peer / 1e6, *ours / *peer);
    }
    benchmark::Shutdown();
    return 0;
}
