// The escape-sequence parser alone, with a listener that does nothing: how fast bytes are cut into
// printable runs and control functions, before any cell is touched.
//
// Workloads: plain ASCII lines, SGR-heavy coloured output (256-colour and true-colour, with
// colon sub-parameters), and a mix of cursor motions with short text. Inputs are generated from a
// fixed seed before the timed loop and fed in 64 KiB chunks, as the reader threads deliver them.
#include "Kestrovan/EscapeSequenceParser.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>

namespace {

using namespace kestrovan;

class NullListener : public ParserListener
{
public:
    void handlePrintBorrowed(std::span<const uint8_t> bytes) override
    {
        benchmark::DoNotOptimize(bytes.data());
    }
    void dispatchExecute(uint8_t code) override { benchmark::DoNotOptimize(code); }
    void dispatchEsc(std::span<const uint8_t>, uint8_t code) override { benchmark::DoNotOptimize(code); }
    void dispatchCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t>) override
    {
        benchmark::DoNotOptimize(pars.base);
        benchmark::DoNotOptimize(code);
    }
    void dispatchOsc(int code, std::span<const uint8_t> data, uint8_t) override
    {
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(data.data());
    }
    void dispatchApc(uint8_t command, std::span<const uint8_t>) override
    {
        benchmark::DoNotOptimize(command);
    }
    std::shared_ptr<DcsHandler> makeDcsHandler(std::span<const uint8_t>, const CsiParameters&,
                                               uint8_t) override
    {
        return nullptr;
    }
    bool silentLog() const override { return true; }
};

constexpr size_t inputSize = 4 << 20;
constexpr size_t chunkSize = 64 << 10;

std::string asciiLines()
{
    std::mt19937 random(1);
    std::string out;
    while (out.size() < inputSize) {
        const size_t length = random() % 100;
        for (size_t k = 0; k < length; ++k)
            out += static_cast<char>(0x20 + random() % 0x5F);
        out += "\r\n";
    }
    return out;
}

std::string sgrHeavy()
{
    std::mt19937 random(2);
    std::string out;
    while (out.size() < inputSize) {
        switch (random() % 4) {
        case 0:
            out += "\x1b[38;5;" + std::to_string(random() % 256) + "m";
            break;
        case 1:
            out += "\x1b[38;2;" + std::to_string(random() % 256) + ";" + std::to_string(random() % 256) +
                   ";" + std::to_string(random() % 256) + "m";
            break;
        case 2:
            out += "\x1b[1;4:3;48:2::10:20:30m";
            break;
        default:
            out += "\x1b[0m";
            break;
        }
        const size_t length = 1 + random() % 8;
        for (size_t k = 0; k < length; ++k)
            out += static_cast<char>('a' + random() % 26);
        if (random() % 16 == 0)
            out += "\r\n";
    }
    return out;
}

std::string cursorMotion()
{
    std::mt19937 random(3);
    std::string out;
    while (out.size() < inputSize) {
        switch (random() % 6) {
        case 0:
            out +=
                "\x1b[" + std::to_string(1 + random() % 50) + ";" + std::to_string(1 + random() % 200) + "H";
            break;
        case 1:
            out += "\x1b[" + std::to_string(1 + random() % 10) + "A";
            break;
        case 2:
            out += "\x1b[" + std::to_string(1 + random() % 10) + "C";
            break;
        case 3:
            out += "\x1b[K";
            break;
        case 4:
            out += "\x1b[?25l\x1b[?25h";
            break;
        default:
            out += "\r\n";
            break;
        }
        const size_t length = random() % 12;
        for (size_t k = 0; k < length; ++k)
            out += static_cast<char>(0x20 + random() % 0x5F);
    }
    return out;
}

void parseInChunks(benchmark::State& state, const std::string& input)
{
    EscapeSequenceParser parser;
    NullListener listener;
    const auto* bytes = reinterpret_cast<const uint8_t*>(input.data());
    for (auto _ : state) {
        for (size_t at = 0; at < input.size(); at += chunkSize)
            parser.parseBorrowed({bytes + at, std::min(chunkSize, input.size() - at)}, listener);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_ParserAsciiLines(benchmark::State& state)
{
    static const std::string input = asciiLines();
    parseInChunks(state, input);
}
BENCHMARK(BM_ParserAsciiLines);

void BM_ParserSgrHeavy(benchmark::State& state)
{
    static const std::string input = sgrHeavy();
    parseInChunks(state, input);
}
BENCHMARK(BM_ParserSgrHeavy);

void BM_ParserCursorMotion(benchmark::State& state)
{
    static const std::string input = cursorMotion();
    parseInChunks(state, input);
}
BENCHMARK(BM_ParserCursorMotion);

} // namespace
