// Random true-colour text, far more distinct colours than the style table holds, through our
// terminal and libvterm: both end with the same screen, every visible cell in the colour it was
// printed with.
//
// The stream (64 MiB by default, from a fixed seed) is lines of 80 letters, each letter with its
// own random 24-bit foreground and, one in four, its own random background; lines end in CR LF.
// Each emulator is an 80x24 screen (ours with 10,000 lines of scrollback) fed in 64 KiB chunks.
// Counters: the seconds each emulator took, the visible cells holding a character compared and
// those whose character, foreground or background differ (`mismatches`, which must be 0), and the cells of
// our screen whose colour fell back to the default (`defaultLooks`, also 0).
// `--benchmark_filter=.../1` runs a 1 MiB stream for a quick look.
#include "BenchTerminal.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vterm.h>

namespace {

using namespace kestrovan;

constexpr size_t chunkSize = 64u << 10;
constexpr int columns = 80;
constexpr int rows = 24;

std::string randomTrueColourText(size_t size)
{
    std::mt19937 random(20261207);
    std::string out;
    out.reserve(size + 64);
    const auto colour = [&](int selector) {
        const uint32_t rgb = random() & 0xFFFFFF;
        out += "\x1b[" + std::to_string(selector) + ";2;" + std::to_string(rgb >> 16) + ";" +
               std::to_string((rgb >> 8) & 0xFF) + ";" + std::to_string(rgb & 0xFF) + "m";
    };
    while (out.size() < size) {
        for (int col = 0; col < columns; ++col) {
            colour(38);
            if (random() % 4 == 0)
                colour(48);
            else
                out += "\x1b[49m";
            out.push_back(char('!' + random() % 94));
        }
        out += "\r\n";
    }
    return out;
}

template <typename Feed> double feedTimed(const std::string& input, Feed&& feed)
{
    const auto start = std::chrono::steady_clock::now();
    const auto* data = reinterpret_cast<const uint8_t*>(input.data());
    for (size_t at = 0; at < input.size(); at += chunkSize)
        feed(std::span<const uint8_t>(data + at, std::min(chunkSize, input.size() - at)));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool sameColour(const Attribute::Color& ours, VTermColor theirs)
{
    if (VTERM_COLOR_IS_DEFAULT_FG(&theirs) || VTERM_COLOR_IS_DEFAULT_BG(&theirs))
        return ours.isDefault();
    if (!VTERM_COLOR_IS_RGB(&theirs))
        return false;
    return ours.isTrueColor() && ours.red() == theirs.rgb.red && ours.green() == theirs.rgb.green &&
           ours.blue() == theirs.rgb.blue;
}

void BM_RandomTrueColourScreenMatchesLibvterm(benchmark::State& state)
{
    const std::string input = randomTrueColourText(size_t(state.range(0)) << 20);
    double oursSeconds = 0;
    double theirsSeconds = 0;
    int64_t compared = 0;
    int64_t mismatches = 0;
    int64_t defaultLooks = 0;
    for (auto _ : state) {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = columns;
        options.rows = rows;
        options.scrollback = 10000;
        const auto& delegate = bench::quietDelegate();
        auto terminal = Terminal::create(delegate, options);
        oursSeconds = feedTimed(input, [&](std::span<const uint8_t> bytes) { terminal->feed(bytes); });

        VTerm* vt = vterm_new(rows, columns);
        vterm_set_utf8(vt, 1);
        VTermScreen* screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
        theirsSeconds = feedTimed(input, [&](std::span<const uint8_t> bytes) {
            vterm_input_write(vt, reinterpret_cast<const char*>(bytes.data()), bytes.size());
        });

        compared = mismatches = defaultLooks = 0;
        for (int row = 0; row < rows; ++row) {
            for (int col = 0; col < columns; ++col) {
                VTermScreenCell theirs{};
                vterm_screen_get_cell(screen, VTermPos{row, col}, &theirs);
                const CharData ours = *terminal->getCharData(col, row);
                // Blank cells are left out: a line scrolled in takes the current background here
                // (as in xterm) and the default one in libvterm.
                if (ours.code == 0 && theirs.chars[0] == 0)
                    continue;
                ++compared;
                if (uint32_t(ours.code) != theirs.chars[0] || !sameColour(ours.attribute.fg, theirs.fg) ||
                    !sameColour(ours.attribute.bg, theirs.bg))
                    ++mismatches;
                if (ours.code != 0 && ours.attribute.fg.isDefault())
                    ++defaultLooks;
            }
        }
        vterm_free(vt);
    }
    state.counters["kestrovanSeconds"] = oursSeconds;
    state.counters["libvtermSeconds"] = theirsSeconds;
    state.counters["ratio"] = theirsSeconds / oursSeconds;
    state.counters["compared"] = double(compared);
    state.counters["mismatches"] = double(mismatches);
    state.counters["defaultLooks"] = double(defaultLooks);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}
BENCHMARK(BM_RandomTrueColourScreenMatchesLibvterm)->Arg(64)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
