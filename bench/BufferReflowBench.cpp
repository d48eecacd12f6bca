// Reflow of a full scrollback: a 120-column screen whose ring of 1,000, 10,000 or 100,000 lines
// holds a shell session's text (mostly short lines, a fifth of them wrapping once or twice, one
// line in ten with two-column characters), narrowed to 80 columns and widened back per iteration.
// Items are lines reflowed; a constant time per line across the three sizes shows that both
// directions stay linear in the number of lines. There is no peer on the machine to compare with.
#include "tests/Kestrovan/ScrollingTerminalDouble.h"

#include "Kestrovan/Buffer.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <random>
#include <string>

using namespace kestrovan;

namespace {

constexpr int wideCols = 120;
constexpr int narrowCols = 80;
constexpr int rows = 40;

struct Session
{
    ScrollingTerminalDouble terminal;
    std::unique_ptr<Buffer> buffer;
};

// Fills the ring of a buffer with `scrollback` lines of history, made from a fixed seed.
std::unique_ptr<Session> makeSession(int scrollback)
{
    auto session = std::make_unique<Session>();
    session->buffer = std::make_unique<Buffer>(wideCols, rows, 8, scrollback, BidiPresentationState());
    Buffer& buffer = *session->buffer;
    buffer.fillViewportRows();
    buffer.setModeMirror(BufferModeMirror{.wraparound = true}); // DECAWM, as a terminal sets it
    buffer.setTerminal(&session->terminal);
    std::mt19937 random(7);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    while (buffer.lines().count() < buffer.lines().maxLength()) {
        const int kind = pick(0, 99);
        const int length = kind < 80 ? pick(0, 100) : pick(121, 300);
        if (kind % 10 == 0) {
            const std::u32string text(size_t(length / 2), U'\u4e2d');
            buffer.insertScalarRun(std::span(text.data(), text.size()), 2, 0, 0);
        } else {
            const std::string text(size_t(length), 'x');
            buffer.insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0,
                                  0);
        }
        buffer.setX(0);
        session->terminal.lineFeed(buffer);
    }
    return session;
}

void BM_ReflowNarrowAndWiden(benchmark::State& state)
{
    auto session = makeSession(static_cast<int>(state.range(0)));
    Buffer& buffer = *session->buffer;
    for (auto _ : state) {
        buffer.resize(narrowCols, rows);
        buffer.resize(wideCols, rows);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 2 * buffer.lines().count());
}
BENCHMARK(BM_ReflowNarrowAndWiden)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
