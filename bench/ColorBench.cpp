// Palette building runs whenever a terminal is made or its palette is rebuilt; colour strings are
// parsed for every OSC 4/10/11/12 a program sends.
#include "Kestrovan/Color.h"

#include <benchmark/benchmark.h>
#include <string_view>

using kestrovan::Color;

static void XtermPalette(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Color::generateXtermPalette(Color::terminalAppColors()));
}
BENCHMARK(XtermPalette);

static void LabPalette(benchmark::State& state)
{
    Color background(0xfdfd, 0xf6f6, 0xe3e3);
    Color foreground(0x6565, 0x7b7b, 0x8383);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Color::generateBase16LabPalette(Color::terminalAppColors(), background, foreground, true));
}
BENCHMARK(LabPalette);

static void ParseColorStrings(benchmark::State& state)
{
    constexpr std::string_view samples[] = {"#fff", "#0080ff", "#123456789abc", "rgb:ffff/8080/0000",
                                            "rgb:f/80/123"};
    size_t bytes = 0;
    for (auto _ : state) {
        for (std::string_view text : samples) {
            benchmark::DoNotOptimize(Color::parse(text));
            bytes += text.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(ParseColorStrings);
