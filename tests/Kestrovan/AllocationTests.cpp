// Feeding a warmed-up terminal allocates nothing per printed run or per control sequence.
//
// The binary's global allocation functions are the counting ones of CountingAllocator.h; they
// count only on a thread between `startCounting()` and `stopCounting()`, so every other test (and
// every other thread) runs as before.
#include "CountingAllocator.h"
#include "RecordingTerminalDelegate.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

using counting::startCounting;
using counting::stopCounting;

namespace kestrovan::testing {
namespace {

std::string asciiLines(int count)
{
    std::string out;
    for (int line = 0; line < count; ++line)
        out +=
            "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog 0123456789\r\n";
    return out;
}

std::string colouredLines(int count)
{
    std::string out;
    for (int line = 0; line < count; ++line) {
        out += "\x1b[1;31merror\x1b[0m: \x1b[38;5;" + std::to_string(line % 256) + "mindexed\x1b[m ";
        out += "\x1b[38;2;10;" + std::to_string(line % 8) +
               ";30mtrue colour\x1b[39;49m \x1b[4;7mdone\x1b[0m\r\n";
    }
    return out;
}

std::string wideLines(int count)
{
    std::string out;
    for (int line = 0; line < count; ++line) {
        out +=
            "\u4e2d\u6587\u5b57\u7b26 \u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8 \ud55c\uad6d\uc5b4 ";
        out += "\U0001F600\U0001F680 caf\u00e9 e\u0301 \u2764\uFE0F \U0001F44B\U0001F3FD ";
        out += "\U0001F468\u200D\U0001F469\u200D\U0001F467 \U0001F1FA\U0001F1F8\r\n";
    }
    return out;
}

std::string cursorMotion(int count)
{
    std::string out;
    for (int step = 0; step < count; ++step) {
        out += "\x1b[" + std::to_string(step % 24 + 1) + ";" + std::to_string(step % 80 + 1) + "H";
        out += "\x1b[2A\x1b[3B\x1b[4C\x1b[5D\x1b[10G\x1b[7d\x1b"
               "7x\x1b"
               "8\x1b[H";
    }
    return out;
}

// Feeds `text` in pieces of `chunk` bytes, so sequences are cut at arbitrary points.
void feedInChunks(Terminal& terminal, const std::string& text, size_t chunk)
{
    for (size_t at = 0; at < text.size(); at += chunk)
        terminal.feed(std::string_view(text).substr(at, std::min(chunk, text.size() - at)));
}

TEST(AllocationTests, TheCounterSeesAllocations)
{
    startCounting();
    auto value = std::make_unique<int>(7);
    const long counted = stopCounting();
    EXPECT_EQ(*value, 7);
    EXPECT_GE(counted, 1);
}

TEST(AllocationTests, WarmTerminalFeedsWithoutAllocating)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 80;
    options.rows = 24;
    options.scrollback = 200;
    TerminalFixture fixture(options);
    Terminal& t = fixture.t();

    struct Workload
    {
        const char* name;
        std::string text;
    };
    const Workload workloads[] = {
        {"ASCII lines", asciiLines(600)},
        {"SGR-coloured lines", colouredLines(600)},
        {"CJK and emoji lines", wideLines(600)},
        {"cursor-motion sequences", cursorMotion(600)},
    };

    // Warming up: the first use of each style and cluster interns it, the first scrolls fill the
    // line ring, and the first split sequence sizes the put-back buffer. All of that happens once.
    for (const Workload& workload : workloads)
        feedInChunks(t, workload.text, 4093);
    ASSERT_EQ(t.buffer().lines().count(), 24 + 200) << "the ring is full, so scrolling recycles lines";

    for (const Workload& workload : workloads) {
        startCounting();
        feedInChunks(t, workload.text, 4093);
        const long counted = stopCounting();
        EXPECT_EQ(counted, 0) << workload.name << " allocated " << counted << " times";
    }
}

} // namespace
} // namespace kestrovan::testing
