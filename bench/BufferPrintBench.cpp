// The buffer's print fast paths: a megabyte of printable ASCII, and of two-column CJK text, in
// lines of varied length written into an 80x24 screen with 10,000 lines of scrollback, each line
// followed by a carriage return and line feed. Scrolling goes through the terminal double, which
// recycles the oldest line once the ring is full, as the terminal does. The peer is the same
// input written one cell at a time with `insertCharacter`; main prints the ratio.
#include "BenchRatio.h"
#include "tests/Kestrovan/ScrollingTerminalDouble.h"

#include "Kestrovan/Buffer.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace kestrovan;

namespace {

constexpr size_t inputBytes = 1 << 20;
constexpr int cols = 80;
constexpr int rows = 24;
constexpr int scrollback = 10000;

// Line lengths as a shell session has them: mostly short to medium, some blank, some long
// enough to wrap once or twice.
int lineLength(std::mt19937& random)
{
    const int pick = std::uniform_int_distribution<int>(0, 99)(random);
    if (pick < 5)
        return 0;
    if (pick < 80)
        return std::uniform_int_distribution<int>(1, 79)(random);
    return std::uniform_int_distribution<int>(80, 200)(random);
}

const std::vector<std::vector<uint8_t>>& asciiLines()
{
    static const std::vector<std::vector<uint8_t>> lines = [] {
        std::mt19937 random(20240611);
        std::uniform_int_distribution<int> printable(0x20, 0x7E);
        std::vector<std::vector<uint8_t>> made;
        size_t total = 0;
        while (total < inputBytes) {
            std::vector<uint8_t> line(static_cast<size_t>(lineLength(random)));
            for (uint8_t& byte : line)
                byte = uint8_t(printable(random));
            total += line.size();
            made.push_back(std::move(line));
        }
        return made;
    }();
    return lines;
}

// CJK ideographs take three UTF-8 bytes each; lines hold as many as the ASCII lines have columns.
const std::vector<std::u32string>& wideLines()
{
    static const std::vector<std::u32string> lines = [] {
        std::mt19937 random(20240612);
        std::uniform_int_distribution<int> ideograph(0x4E00, 0x9FFF);
        std::vector<std::u32string> made;
        size_t total = 0;
        while (total < inputBytes) {
            std::u32string line(static_cast<size_t>(lineLength(random) / 2), U' ');
            for (char32_t& scalar : line)
                scalar = char32_t(ideograph(random));
            total += line.size() * 3;
            made.push_back(std::move(line));
        }
        return made;
    }();
    return lines;
}

template <typename Lines> int64_t utf8Bytes(const Lines& lines, int bytesPerElement)
{
    int64_t total = 0;
    for (const auto& line : lines)
        total += static_cast<int64_t>(line.size()) * bytesPerElement;
    return total;
}

struct Screen
{
    ScrollingTerminalDouble terminal;
    std::unique_ptr<Buffer> buffer =
        std::make_unique<Buffer>(cols, rows, 8, scrollback, BidiPresentationState());

    Screen()
    {
        buffer->fillViewportRows();
        buffer->setModeMirror(BufferModeMirror{.wraparound = true}); // DECAWM, as a terminal sets it
        buffer->setTerminal(&terminal);
    }

    void newLine()
    {
        buffer->setX(0);
        terminal.lineFeed(*buffer);
    }
};

void printAsciiRuns(benchmark::State& state)
{
    Screen screen;
    const auto& lines = asciiLines();
    for (auto _ : state) {
        for (const auto& line : lines) {
            benchmark::DoNotOptimize(screen.buffer->insertAsciiRun(line, 1, 0));
            screen.newLine();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * utf8Bytes(lines, 1));
}
BENCHMARK(printAsciiRuns)->Unit(benchmark::kMillisecond);

void printAsciiCellByCell(benchmark::State& state)
{
    Screen screen;
    const auto& lines = asciiLines();
    for (auto _ : state) {
        for (const auto& line : lines) {
            for (uint8_t byte : line)
                screen.buffer->insertCharacter(
                    PackedCell::makeScalar(byte, 1, PackedCell::WidthState::single, false, 0, 0));
            screen.newLine();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * utf8Bytes(lines, 1));
}
BENCHMARK(printAsciiCellByCell)->Unit(benchmark::kMillisecond);

void printWideRuns(benchmark::State& state)
{
    Screen screen;
    const auto& lines = wideLines();
    for (auto _ : state) {
        for (const auto& line : lines) {
            benchmark::DoNotOptimize(screen.buffer->insertScalarRun(line, 2, 1, 0));
            screen.newLine();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * utf8Bytes(lines, 3));
}
BENCHMARK(printWideRuns)->Unit(benchmark::kMillisecond);

void printWideCellByCell(benchmark::State& state)
{
    Screen screen;
    const auto& lines = wideLines();
    for (auto _ : state) {
        for (const auto& line : lines) {
            for (char32_t scalar : line)
                screen.buffer->insertCharacter(
                    PackedCell::makeScalar(scalar, 1, PackedCell::WidthState::lead, false, 0, 0));
            screen.newLine();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * utf8Bytes(lines, 3));
}
BENCHMARK(printWideCellByCell)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& times = reporter.timePerIteration;
    const auto ratio = [&](const char* label, const char* fast, const char* peer) {
        if (times.count(fast) && times.count(peer) && times[fast] > 0)
            std::printf("%s: run path %.2fx faster than cell by cell\n", label, times[peer] / times[fast]);
    };
    ratio("ASCII", "printAsciiRuns", "printAsciiCellByCell");
    ratio("CJK", "printWideRuns", "printWideCellByCell");
    benchmark::Shutdown();
    return 0;
}
