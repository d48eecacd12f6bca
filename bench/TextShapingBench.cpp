// Shaping 200-column rows, as a renderer shapes each changed row of a wide terminal, and the
// fallback cascade's answer for one character, cached and not. The peer is HarfBuzz alone, shaping
// the same ASCII row in the same font with a reused buffer and no fallback or cluster analysis;
// main prints what the layer costs on top of it.
#include "BenchRatio.h"

#include "Platform/Text/FontFallback.h"
#include "Platform/Text/FontRegistry.h"
#include "Platform/Text/ShapedLine.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <hb.h>
#include <random>
#include <string>

namespace {

using namespace platform;

const FontRef& terminalFont()
{
    static const FontRef font = [] {
        FontRegistry::registerFile(std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-Regular.ttf");
        FontRef named = Font::named("JetBrainsMono-Regular", 16);
        return named ? named : Font::monospace(16);
    }();
    return font;
}

// Printable ASCII from a fixed seed: letters, digits, punctuation, and the operator pairs that
// the terminal font's contextual alternates look at.
std::u16string asciiRow()
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> printable(0x20, 0x7E);
    std::u16string row;
    while (row.size() < 200) {
        if (random() % 8 == 0)
            row += u"->";
        else
            row.push_back(char16_t(printable(random)));
    }
    row.resize(200);
    return row;
}

// 100 wide characters filling 200 columns: CJK ideographs with an emoji every fifth cell.
std::u16string cjkEmojiRow()
{
    std::mt19937 random(11);
    const std::u16string emoji[] = {u"😀", u"👍", u"🚀", u"🎉", u"❤️"};
    std::u16string row;
    for (int cell = 0; cell < 100; ++cell) {
        if (cell % 5 == 4)
            row += emoji[random() % std::size(emoji)];
        else
            row.push_back(char16_t(0x4E00 + random() % 2000));
    }
    return row;
}

ShapedLine shapeRow(const std::u16string& row)
{
    const FontRun run{uint32_t(row.size()), terminalFont()};
    return ShapedLine::shape(row, std::span(&run, 1));
}

void shapeAsciiRow(benchmark::State& state)
{
    const std::u16string row = asciiRow();
    for (auto _ : state)
        benchmark::DoNotOptimize(shapeRow(row));
    state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(shapeAsciiRow);

// The peer: bare HarfBuzz on the same row and font.
void shapeAsciiRowBareHarfBuzz(benchmark::State& state)
{
    const std::u16string row = asciiRow();
    hb_buffer_t* buffer = hb_buffer_create();
    for (auto _ : state) {
        hb_buffer_clear_contents(buffer);
        hb_buffer_add_utf16(buffer, reinterpret_cast<const uint16_t*>(row.data()), int(row.size()), 0, -1);
        hb_buffer_guess_segment_properties(buffer);
        hb_shape(terminalFont()->harfBuzzFont(), buffer, nullptr, 0);
        benchmark::DoNotOptimize(hb_buffer_get_glyph_positions(buffer, nullptr));
    }
    hb_buffer_destroy(buffer);
    state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(shapeAsciiRowBareHarfBuzz);

void shapeCjkEmojiRow(benchmark::State& state)
{
    const std::u16string row = cjkEmojiRow();
    shapeRow(row); // the fallback answers are found once, as in a running terminal
    for (auto _ : state)
        benchmark::DoNotOptimize(shapeRow(row));
    state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(shapeCjkEmojiRow);

void fallbackHit(benchmark::State& state)
{
    FontFallback fallback;
    const FontRef& base = terminalFont();
    fallback.fontFor(base, u"中");
    for (auto _ : state)
        benchmark::DoNotOptimize(fallback.fontFor(base, u"中"));
}
BENCHMARK(fallbackHit);

// Every lookup a character not asked for before: the sorted fallback list and the fallback font
// are warm, the answer is not. Cycling through more characters than the cache holds keeps every
// lookup a miss (the whole-cache clear every `capacity` misses is part of the cost).
void fallbackMiss(benchmark::State& state)
{
    FontFallback fallback;
    const FontRef& base = terminalFont();
    fallback.fontFor(base, u"中");
    char16_t next = 0x4E00;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fallback.fontFor(base, std::u16string_view(&next, 1)));
        next = next >= 0x4E00 + 2 * FontFallback::capacity ? 0x4E00 : char16_t(next + 1);
    }
}
BENCHMARK(fallbackMiss);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    if (times.count("shapeAsciiRow") && times.count("shapeAsciiRowBareHarfBuzz") &&
        times["shapeAsciiRowBareHarfBuzz"] > 0)
        std::printf("ASCII row: %.2fx the time of bare HarfBuzz\n",
                    times["shapeAsciiRow"] / times["shapeAsciiRowBareHarfBuzz"]);
    benchmark::Shutdown();
    return 0;
}
