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
// Inputs are fed in 64 KiB chunks, the size of one read from the pseudo-terminal. Results are
// bytes per second.
//
// Every workload is a function taking a `Sink`, whatever consumes the bytes, so a peer emulator
// can be fed exactly the same chunks in the same binary: libvterm is measured beside us and the
// ratios are printed at the end.
#include "BenchRatio.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <span>
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

// --- Inputs --------------------------------------------------------------------------------------

void appendUtf8(std::string& out, char32_t scalar)
{
    if (scalar < 0x80) {
        out.push_back(static_cast<char>(scalar));
    } else if (scalar < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else if (scalar < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    }
}

std::string randomWord(std::mt19937& random)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=";
    std::string word;
    const int length = 1 + static_cast<int>(random() % 10);
    for (int i = 0; i < length; ++i)
        word.push_back(letters[random() % (sizeof(letters) - 1)]);
    return word;
}

/// Lines of 10-79 columns of words and spaces, like a build log or a directory listing.
std::string asciiLinesInput()
{
    std::mt19937 random(seed);
    std::string out;
    out.reserve(inputSize + 128);
    while (out.size() < inputSize) {
        const size_t width = 10 + random() % 70;
        std::string line;
        while (line.size() < width)
            line += randomWord(random) + ' ';
        line.resize(width);
        out += line;
        out += "\r\n";
    }
    return out;
}

/// Lines where nearly every word has its own style: 16-colour, 256-colour and random true-colour
/// foregrounds and backgrounds, bold, underline and inverse, each word reset after it.
std::string sgrRandomTrueColourInput()
{
    std::mt19937 random(seed + 1);
    std::string out;
    out.reserve(inputSize + 256);
    while (out.size() < inputSize) {
        int column = 0;
        const int width = 20 + static_cast<int>(random() % 60);
        while (column < width) {
            switch (random() % 5) {
            case 0:
                out += "\x1b[" + std::to_string(30 + random() % 8) + "m";
                break;
            case 1:
                out += "\x1b[1;" + std::to_string(90 + random() % 8) + ";" +
                       std::to_string(40 + random() % 8) + "m";
                break;
            case 2:
                out += "\x1b[38;5;" + std::to_string(random() % 256) + "m";
                break;
            case 3:
                out += "\x1b[38;2;" + std::to_string(random() % 256) + ";" + std::to_string(random() % 256) +
                       ";" + std::to_string(random() % 256) + "m";
                break;
            default:
                out += random() % 2 ? "\x1b[4m" : "\x1b[7m";
                break;
            }
            const std::string word = randomWord(random);
            out += word;
            out += "\x1b[0m ";
            column += static_cast<int>(word.size()) + 1;
        }
        out += "\r\n";
    }
    return out;
}

/// One line of syntax-highlighted source: every token in its theme colour, from the 16 colours,
/// a few 256-colour indexes or the theme's true colours; keywords bold or italic; comments dim.
void appendHighlightedLine(std::string& out, std::mt19937& random)
{
    // A theme's own colours, as an editor or a pager with a true-colour theme writes them.
    static constexpr const char* theme[] = {
        "38;2;248;248;242", "38;2;249;38;114",  "38;2;166;226;46",  "38;2;253;151;31",
        "38;2;174;129;255", "38;2;230;219;116", "38;2;102;217;239", "38;2;117;113;94",
        "38;2;204;204;204", "38;2;255;121;198", "38;2;80;250;123",  "38;2;139;233;253",
        "38;2;241;250;140", "38;2;189;147;249", "38;2;255;184;108", "38;2;98;114;164"};
    static constexpr const char* indexed[] = {"38;5;81",  "38;5;148", "38;5;186", "38;5;208",
                                              "38;5;197", "38;5;141", "38;5;59",  "38;5;231"};
    const int indent = 4 * static_cast<int>(random() % 4);
    out.append(static_cast<size_t>(indent), ' ');
    int column = indent;
    const int width = 20 + static_cast<int>(random() % 56);
    const uint32_t palette = random() % 3;
    while (column < width) {
        const uint32_t pick = random() % 8;
        out += "\x1b[";
        if (pick == 0)
            out += random() % 2 ? "1;" : "3;";
        if (palette == 0)
            out += std::to_string(30 + random() % 8);
        else if (palette == 1)
            out += indexed[random() % 8];
        else
            out += theme[random() % 16];
        out += 'm';
        const std::string word = randomWord(random);
        out += word;
        // Punctuation between tokens goes back to the default colour.
        out += random() % 2 ? "\x1b[39m" : "\x1b[0m";
        out += random() % 3 ? " " : "(";
        column += static_cast<int>(word.size()) + 1;
    }
}

/// One `ls --color` row of four names: directories bold blue, executables bold green, links
/// cyan, archives red, plain files uncoloured.
void appendListingLine(std::string& out, std::mt19937& random)
{
    static constexpr const char* kinds[] = {"01;34", "01;32", "01;36", "01;31", "00"};
    for (int name = 0; name < 4; ++name) {
        const char* kind = kinds[random() % 5];
        std::string word = randomWord(random);
        word.resize(std::min<size_t>(word.size(), 16));
        out += "\x1b[0m\x1b[";
        out += kind;
        out += 'm';
        out += word;
        out += "\x1b[0m";
        out.append(18 - word.size(), ' ');
    }
}

/// One line of `git log --oneline --decorate` or `git diff`: a yellow hash and decorated refs,
/// or a coloured hunk header, addition or removal, with trailing whitespace shown inverse.
void appendGitLine(std::string& out, std::mt19937& random)
{
    switch (random() % 4) {
    case 0:
        out += "\x1b[33m" + randomWord(random) + randomWord(random) +
               "\x1b[m \x1b[33m(\x1b[m\x1b[1;36mHEAD -> "
               "\x1b[m\x1b[1;32m" +
               randomWord(random) + "\x1b[m\x1b[33m, \x1b[m\x1b[1;31morigin/" + randomWord(random) +
               "\x1b[m\x1b[33m)\x1b[m ";
        break;
    case 1:
        out += "\x1b[36m@@ -" + std::to_string(random() % 900) + ",7 +" + std::to_string(random() % 900) +
               ",8 @@\x1b[m \x1b[1m" + randomWord(random) + "\x1b[m";
        break;
    default:
        out += random() % 2 ? "\x1b[32m+" : "\x1b[31m-";
        break;
    }
    for (int word = static_cast<int>(random() % 8); word > 0; --word)
        out += randomWord(random) + ' ';
    out += "\x1b[m";
    if (random() % 8 == 0)
        out += "\x1b[7m  \x1b[m";
}

/// One compiler diagnostic: a bold location, a bold red error or bold magenta warning, a bold
/// message with quoted names, or a source line with a green caret and underlined range.
void appendDiagnosticLine(std::string& out, std::mt19937& random)
{
    switch (random() % 3) {
    case 0:
        out += "\x1b[1m" + randomWord(random) + ".cpp:" + std::to_string(random() % 2000) + ":" +
               std::to_string(random() % 80) + ":\x1b[0m ";
        out += random() % 2 ? "\x1b[1;31merror:\x1b[0m " : "\x1b[1;35mwarning:\x1b[0m ";
        out += "\x1b[1m" + randomWord(random) + " \x1b[0m\x1b[1m'" + randomWord(random) + "'\x1b[0m\x1b[1m " +
               randomWord(random) + "\x1b[0m";
        break;
    case 1:
        out += "  " + randomWord(random) + " \x1b[4m" + randomWord(random) + "\x1b[24m " + randomWord(random);
        break;
    default:
        out += "      \x1b[1;32m^~~~~~\x1b[0m \x1b[32m" + randomWord(random) + "\x1b[0m";
        break;
    }
}

/// Coloured output as programs write it: highlighted source, listings, git and diagnostics, in
/// runs of a few lines of each.
std::string sgrColouredInput()
{
    std::mt19937 random(seed + 3);
    std::string out;
    out.reserve(inputSize + 512);
    while (out.size() < inputSize) {
        const uint32_t kind = random() % 4;
        for (int lines = 1 + static_cast<int>(random() % 6); lines > 0; --lines) {
            switch (kind) {
            case 0:
                appendHighlightedLine(out, random);
                break;
            case 1:
                appendListingLine(out, random);
                break;
            case 2:
                appendGitLine(out, random);
                break;
            default:
                appendDiagnosticLine(out, random);
                break;
            }
            out += "\r\n";
        }
    }
    return out;
}

/// Lines of CJK ideographs, kana, Hangul syllables and emoji (some with a presentation selector,
/// a skin tone or a joiner, some flags), with Latin words between them.
std::string cjkEmojiInput()
{
    std::mt19937 random(seed + 2);
    std::string out;
    out.reserve(inputSize + 256);
    while (out.size() < inputSize) {
        int column = 0;
        const int width = 20 + static_cast<int>(random() % 56);
        while (column < width) {
            const uint32_t pick = random() % 100;
            if (pick < 45) {
                appendUtf8(out, 0x4E00 + random() % 0x5200);
                column += 2;
            } else if (pick < 60) {
                appendUtf8(out, 0x3041 + random() % 0x56);
                column += 2;
            } else if (pick < 70) {
                appendUtf8(out, 0xAC00 + random() % 11172);
                column += 2;
            } else if (pick < 78) {
                appendUtf8(out, 0x1F600 + random() % 0x50);
                column += 2;
            } else if (pick < 81) {
                appendUtf8(out, 0x1F44B);
                appendUtf8(out, 0x1F3FB + random() % 5);
                column += 2;
            } else if (pick < 83) {
                appendUtf8(out, 0x2764);
                appendUtf8(out, 0xFE0F);
                column += 2;
            } else if (pick < 85) {
                for (char32_t scalar : {0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467})
                    appendUtf8(out, scalar);
                column += 2;
            } else if (pick < 87) {
                appendUtf8(out, 0x1F1E6 + random() % 26);
                appendUtf8(out, 0x1F1E6 + random() % 26);
                column += 2;
            } else {
                const std::string word = randomWord(random);
                out += ' ' + word + ' ';
                column += static_cast<int>(word.size()) + 2;
            }
        }
        out += "\r\n";
    }
    return out;
}

const std::string& asciiLines()
{
    static const std::string input = asciiLinesInput();
    return input;
}

const std::string& sgrColoured()
{
    static const std::string input = sgrColouredInput();
    return input;
}

const std::string& sgrRandomTrueColour()
{
    static const std::string input = sgrRandomTrueColourInput();
    return input;
}

const std::string& cjkEmoji()
{
    static const std::string input = cjkEmojiInput();
    return input;
}

// --- Workloads -----------------------------------------------------------------------------------

// Feeds the whole input in 64 KiB chunks per iteration and reports bytes per second.
void feedInput(benchmark::State& state, const std::string& input, const Sink& sink)
{
    const auto* data = reinterpret_cast<const uint8_t*>(input.data());
    for (auto _ : state) {
        for (size_t at = 0; at < input.size(); at += chunkSize)
            sink(std::span<const uint8_t>(data + at, std::min(chunkSize, input.size() - at)));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

void runAsciiLines(benchmark::State& state, const Sink& sink)
{
    feedInput(state, asciiLines(), sink);
}

void runSgrColoured(benchmark::State& state, const Sink& sink)
{
    feedInput(state, sgrColoured(), sink);
}

void runSgrRandomTrueColour(benchmark::State& state, const Sink& sink)
{
    feedInput(state, sgrRandomTrueColour(), sink);
}

void runCjkEmoji(benchmark::State& state, const Sink& sink)
{
    feedInput(state, cjkEmoji(), sink);
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

void BM_AsciiLines_Kestrovan(benchmark::State& state)
{
    KestrovanTarget target;
    runAsciiLines(state, target.sink);
}
BENCHMARK(BM_AsciiLines_Kestrovan)->Unit(benchmark::kMillisecond);

void BM_SgrColoured_Kestrovan(benchmark::State& state)
{
    KestrovanTarget target;
    runSgrColoured(state, target.sink);
}
BENCHMARK(BM_SgrColoured_Kestrovan)->Unit(benchmark::kMillisecond);

void BM_SgrRandomTrueColour_Kestrovan(benchmark::State& state)
{
    KestrovanTarget target;
    runSgrRandomTrueColour(state, target.sink);
}
BENCHMARK(BM_SgrRandomTrueColour_Kestrovan)->Unit(benchmark::kMillisecond);

void BM_CjkEmoji_Kestrovan(benchmark::State& state)
{
    KestrovanTarget target;
    runCjkEmoji(state, target.sink);
}
BENCHMARK(BM_CjkEmoji_Kestrovan)->Unit(benchmark::kMillisecond);

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

void BM_AsciiLines_Libvterm(benchmark::State& state)
{
    LibvtermTarget target;
    runAsciiLines(state, target.sink);
}
BENCHMARK(BM_AsciiLines_Libvterm)->Unit(benchmark::kMillisecond);

void BM_SgrColoured_Libvterm(benchmark::State& state)
{
    LibvtermTarget target;
    runSgrColoured(state, target.sink);
}
BENCHMARK(BM_SgrColoured_Libvterm)->Unit(benchmark::kMillisecond);

void BM_SgrRandomTrueColour_Libvterm(benchmark::State& state)
{
    LibvtermTarget target;
    runSgrRandomTrueColour(state, target.sink);
}
BENCHMARK(BM_SgrRandomTrueColour_Libvterm)->Unit(benchmark::kMillisecond);

void BM_CjkEmoji_Libvterm(benchmark::State& state)
{
    LibvtermTarget target;
    runCjkEmoji(state, target.sink);
}
BENCHMARK(BM_CjkEmoji_Libvterm)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-20s %14s %14s %8s\n", "workload", "Kestrovan MB/s", "libvterm MB/s", "ratio");
    for (const char* workload : {"AsciiLines", "SgrColoured", "SgrRandomTrueColour", "CjkEmoji"}) {
        const std::string ours = std::string("BM_") + workload + "_Kestrovan";
        const std::string peer = std::string("BM_") + workload + "_Libvterm";
        if (!reporter.bytesPerSecond.count(ours) || !reporter.bytesPerSecond.count(peer))
            continue;
        const double oursMB = reporter.bytesPerSecond[ours] / 1e6;
        const double peerMB = reporter.bytesPerSecond[peer] / 1e6;
        std::printf("%-20s %14.1f %14.1f %7.1fx\n", workload, oursMB, peerMB, oursMB / peerMB);
    }
    benchmark::Shutdown();
    return 0;
}
