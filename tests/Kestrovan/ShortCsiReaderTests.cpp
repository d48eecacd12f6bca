// The parse loop's reader of short CSI sequences (one or two parameters of up to four digits and a
// final byte), which reads each parameter as one eight-byte word away from the chunk's end and
// byte by byte near it. Whatever follows the sequence and wherever the chunk ends, both roads
// must read the same sequence, and hand anything else to the general fold where it stopped.
#include "Kestrovan/EscapeSequenceParserLoop.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

using parserLoop::readShortCsi;
using parserLoop::ShortCsi;

struct Expected
{
    bool whole;
    int count;
    int64_t first;
    int64_t second;
    uint8_t finalByte;
    /// Where the reading ends, counted from the parameters' start.
    size_t end;
};

std::string describe(const ShortCsi& csi, bool whole)
{
    return std::string(whole ? "whole" : "partial") + " count " + std::to_string(csi.count) + " values " +
           std::to_string(csi.values[0]) + "," + (csi.count > 1 ? std::to_string(csi.values[1]) : "-") +
           " final " + std::to_string(csi.finalByte) + " end " + std::to_string(csi.end);
}

std::string describe(const Expected& expected, size_t at)
{
    ShortCsi csi;
    csi.count = expected.count;
    csi.values[0] = expected.first;
    csi.values[1] = expected.second;
    csi.finalByte = expected.whole ? expected.finalByte : 0;
    csi.end = at + expected.end;
    return describe(csi, expected.whole);
}

TEST(ShortCsiReaderTests, ReadsTheSameSequenceOnEitherRoadWhateverFollows)
{
    struct Case
    {
        const char* parameters;
        Expected expected;
    };
    const Case cases[] = {
        {"H", {true, 1, 0, 0, 'H', 1}},
        {"K", {true, 1, 0, 0, 'K', 1}},
        {"7H", {true, 1, 7, 0, 'H', 2}},
        {"24;72H", {true, 2, 24, 72, 'H', 6}},
        {"1;1H", {true, 2, 1, 1, 'H', 4}},
        {";5H", {true, 2, 0, 5, 'H', 3}},
        {"5;H", {true, 2, 5, 0, 'H', 3}},
        {";H", {true, 2, 0, 0, 'H', 2}},
        {"9999;9999H", {true, 2, 9999, 9999, 'H', 10}},
        {"1000;0001r", {true, 2, 1000, 1, 'r', 10}},
        {"0090;7H", {true, 2, 90, 7, 'H', 7}},
        {"3;12r", {true, 2, 3, 12, 'r', 5}},
        {"0K", {true, 1, 0, 0, 'K', 2}},
        {"123@", {true, 1, 123, 0, '@', 4}},
        {"42~", {true, 1, 42, 0, '~', 3}},
        {"8;9`", {true, 2, 8, 9, '`', 4}},
        // Anything longer or of another shape stops where the general fold goes on.
        {"12345H", {false, 1, 1234, 0, 0, 4}},
        {"1;23456H", {false, 2, 1, 2345, 0, 6}},
        {"1;2;3H", {false, 2, 1, 2, 0, 3}},
        {"4:3m", {false, 1, 4, 0, 0, 1}},
        {"2 q", {false, 1, 2, 0, 0, 1}},
        {"5\x1b", {false, 1, 5, 0, 0, 1}},
        {"5;\x7f", {false, 2, 5, 0, 0, 2}},
        {"6;7\x80", {false, 2, 6, 7, 0, 3}},
        {"3/", {false, 1, 3, 0, 0, 1}},
        {"?25h", {false, 1, 0, 0, 0, 0}},
        {"12345678901234567890H", {false, 1, 1234, 0, 0, 4}},
    };
    // Bytes a word read runs into past the sequence: more digits, separators, finals and text.
    const char* const followers[] = {"", "0123456789", ";;;;;;;;;;", "HHHHHHHHHH", "word\x1b[K", "\x1b[2;3H"};
    for (const Case& test : cases) {
        for (const char* follower : followers) {
            for (size_t at : {0u, 2u, 5u}) {
                const std::string bytes = std::string(at, 'x') + test.parameters + follower;
                const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
                const size_t sequenceEnd = at + std::string(test.parameters).size();
                // Every chunk end from the first parameter byte on: a chunk that ends before the
                // reading would stop leaves the sequence unfinished; any other reads the same.
                for (size_t length = at + 1; length <= bytes.size(); ++length) {
                    ShortCsi csi;
                    const bool whole = readShortCsi(data, at, length, csi);
                    const std::string where = std::string(test.parameters) + " + \"" + follower + "\" at " +
                                              std::to_string(at) + ", chunk of " + std::to_string(length);
                    if (length < std::min(sequenceEnd, at + test.expected.end + 1)) {
                        EXPECT_FALSE(whole) << where;
                        EXPECT_LE(csi.end, length) << where;
                        continue;
                    }
                    EXPECT_EQ(describe(csi, whole), describe(test.expected, at)) << where;
                }
            }
        }
    }
}

/// Calls `check(data, at, length, where)` for `parameters` after no text and after three bytes
/// of it, followed by each of the bytes the word readers may meet after a sequence, with the
/// chunk ending at every byte.
template <typename Check> void forEveryReading(const char* parameters, Check&& check)
{
    const char* const followers[] = {"", "0123456789", ";;;;;;;;;;", "HHHHHHHHHH", "word\x1b[K", "\x1b[2;3H"};
    for (const char* follower : followers) {
        for (size_t at : {0u, 3u}) {
            const std::string bytes = std::string(at, 'x') + parameters + follower;
            const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
            for (size_t length = at + 1; length <= bytes.size(); ++length) {
                check(data, at, length,
                      std::string(parameters) + " + \"" + follower + "\" at " + std::to_string(at) +
                          ", chunk of " + std::to_string(length));
            }
        }
    }
}

// The field run's reader of "row;colH" from one word takes the shapes a redraw sends, leaves every
// other one to the short reader, and whatever it takes, the short reader reads the same: every
// shape, whatever follows it, wherever the chunk ends.
TEST(ShortCsiReaderTests, CursorPositionWordReadsWhatTheShortReaderReads)
{
    struct Case
    {
        const char* parameters;
        /// The bytes the word reader takes with enough bytes after them, 0 when it leaves them.
        size_t taken;
    };
    // clang-format off
    const Case cases[] = {
        {"1;1H", 4}, {"24;72H", 6}, {"1234;5H", 7}, {"1;2345H", 7}, {";5H", 3}, {"5;H", 3}, {";H", 2},
        {"0090;7H", 7}, {"007;0H", 6}, {"12;34H", 6}, {"99;9H", 5}, {"1234;56H", 8},
        // Past the word, another final, one parameter, more digits or parameters: left alone.
        {"1234;567H", 0}, {"12;345678H", 0}, {"3;12r", 0}, {"2;3f", 0}, {"7H", 0}, {"H", 0}, {"12345;1H", 0},
        {"1;23456H", 0}, {"1;2;3H", 0}, {"4:3H", 0}, {"4;3:2H", 0}, {"2;3 H", 0}, {"?2;3H", 0}, {"5;\x7fH", 0},
        {"6;7\x80", 0}, {"1;\x1b[H", 0}, {"\xb0;1H", 0}, {"1\xba;2H", 0}, {"2;3\x18H", 0},
    };
    // clang-format on
    for (const Case& test : cases) {
        forEveryReading(test.parameters, [&](const uint8_t* data, size_t at, size_t length,
                                             const std::string& where) {
            int64_t row = -1;
            int64_t col = -1;
            const size_t taken = parserLoop::readCursorPositionWord(data, at, length, row, col);
            if (length - at >= sizeof(uint64_t))
                EXPECT_EQ(taken, test.taken) << where;
            else
                EXPECT_EQ(taken, 0u) << where;
            if (taken == 0)
                return;
            ShortCsi csi;
            ASSERT_TRUE(readShortCsi(data, at, length, csi)) << where;
            EXPECT_EQ(describe(csi, true), describe(Expected{true, 2, row, col, 'H', taken}, at)) << where;
        });
    }
}

// The region run's reader of two parameters from one word takes them before any final byte, or
// before the one final it is given, leaves every other shape to the other readers, and whatever it
// takes, the short reader reads the same: every shape, whatever follows it, wherever the chunk ends.
TEST(ShortCsiReaderTests, TwoParameterWordReadsWhatTheShortReaderReads)
{
    struct Case
    {
        const char* parameters;
        /// The bytes taken with enough bytes after them, before any final and before "r" only.
        size_t takenBeforeAnyFinal;
        size_t takenBeforeR;
    };
    // clang-format off
    const Case cases[] = {
        {"3;12r", 5, 5}, {"18;24r", 6, 6}, {"1;1H", 4, 0}, {"1234;5678r", 0, 0}, {"1234;56r", 8, 8}, {"1234;567r", 0, 0},
        {";r", 2, 2}, {"5;r", 3, 3}, {";5r", 3, 3}, {"2;3f", 4, 0}, {"8;9`", 4, 0}, {"8;9~", 4, 0},
        {"38;5m", 5, 0}, {"0090;0007r", 0, 0},
        // One parameter, three, more digits, intermediates, colons, controls and bytes past a
        // final: left alone.
        {"r", 0, 0}, {"7r", 0, 0}, {"1;2;3r", 0, 0}, {"12345;1r", 0, 0}, {"1;23456r", 0, 0}, {"4:3r", 0, 0},
        {"2;3 q", 0, 0}, {"?2;3r", 0, 0}, {"5;\x7fr", 0, 0}, {"6;7\x7f", 0, 0}, {"6;7\x80", 0, 0},
        {"2;3\x18r", 0, 0}, {"1;\x1b[r", 0, 0}, {"\xb0;1r", 0, 0}, {"1\xba;2r", 0, 0}, {"3;4/r", 0, 0},
    };
    // clang-format on
    for (const Case& test : cases) {
        for (const uint8_t finalByte : {uint8_t(0), uint8_t('r')}) {
            const size_t expected = finalByte == 0 ? test.takenBeforeAnyFinal : test.takenBeforeR;
            forEveryReading(test.parameters, [&](const uint8_t* data, size_t at, size_t length,
                                                 const std::string& where) {
                int64_t first = -1;
                int64_t second = -1;
                const size_t taken =
                    parserLoop::readTwoParameterWord(data, at, length, finalByte, first, second);
                EXPECT_EQ(taken, length - at >= sizeof(uint64_t) ? expected : 0u)
                    << where << ", final " << int(finalByte);
                if (taken == 0)
                    return;
                ShortCsi csi;
                ASSERT_TRUE(readShortCsi(data, at, length, csi)) << where;
                EXPECT_EQ(describe(csi, true),
                          describe(Expected{true, 2, first, second, data[at + taken - 1], taken}, at))
                    << where;
            });
        }
    }
}

// The loop's word road reads a whole sequence of one or two short parameters from one word and
// leaves every other shape, colours first among them, to the longer reading; whatever it takes,
// the short reader reads the same: every shape, whatever follows it, wherever the chunk ends.
TEST(ShortCsiReaderTests, CsiWordReadsWhatTheShortReaderReads)
{
    struct Case
    {
        const char* parameters;
        /// The bytes the word reader takes with enough bytes after them, 0 when it leaves them.
        size_t taken;
    };
    // clang-format off
    const Case cases[] = {
        {"m", 1}, {"0m", 2}, {"31m", 3}, {"1;32m", 5}, {"22;37m", 6}, {"49m", 3}, {"107m", 4}, {"r", 1},
        {"3;12r", 5}, {"24;72H", 6}, {"1234;5H", 7}, {"1;2345H", 7}, {";5H", 3}, {"5;H", 3}, {";H", 2}, {"K", 1},
        {"0K", 2}, {"9999@", 5}, {"0090;7H", 7}, {"42~", 3}, {"8;9`", 4}, {"1234;56H", 8}, {"8;1m", 4},
        {"28;1m", 5}, {"18;24r", 6}, {"38m", 3}, {"3;8m", 4},
        // Colours, longer numbers and other shapes: left alone; 38 or 48 before a ";" is left at
        // once, as a colour's opener, even before what is not one.
        {"38;1m", 0}, {"48;24r", 0},
        {"38;5;9m", 0}, {"48;5;200m", 0}, {"38;2;1;2;3m", 0}, {"38;5m", 0}, {"18;0;1m", 0}, {"12345m", 0},
        {"1234;567H", 0}, {"1;23456H", 0}, {"1;2;3H", 0}, {"4:3m", 0}, {"2 q", 0}, {"?25h", 0}, {"5;\x7fH", 0},
        {"6;7\x80", 0}, {"1;\x1b[H", 0}, {"\xb0;1H", 0}, {"1\xba;2H", 0}, {"2;3\x18H", 0}, {"5\x1b", 0},
        {"12345678", 0},
    };
    // clang-format on
    for (const Case& test : cases) {
        forEveryReading(
            test.parameters, [&](const uint8_t* data, size_t at, size_t length, const std::string& where) {
                // Filled with what no reading gives, so that a field the reading leaves shows.
                parserLoop::CsiWord word{{-1, -1}, -1, 0};
                const size_t taken = parserLoop::readCsiWord(data, at, length, word);
                if (length - at >= sizeof(uint64_t) && at + std::string(test.parameters).size() <= length) {
                    EXPECT_EQ(taken, test.taken) << where;
                } else if (length - at < sizeof(uint64_t)) {
                    EXPECT_EQ(taken, 0u) << where;
                }
                if (taken == 0)
                    return;
                ShortCsi csi;
                ASSERT_TRUE(readShortCsi(data, at, length, csi)) << where;
                EXPECT_EQ(describe(csi, true),
                          describe(Expected{true, word.count, word.values[0],
                                            word.count > 1 ? word.values[1] : 0, word.finalByte, taken},
                                   at))
                    << where;
                if (word.count == 1) {
                    EXPECT_EQ(word.values[1], 0) << where;
                }
            });
    }
}

TEST(ShortCsiReaderTests, WordsOfDigitsGiveTheirLengthAndValue)
{
    struct Case
    {
        const char* bytes;
        unsigned digits;
        uint32_t value;
    };
    const Case cases[] = {
        {"H1234567", 0, 0},   {"0;345678", 1, 0},    {"9;345678", 1, 9},          {"42H45678", 2, 42},
        {"999;5678", 3, 999}, {"1000H678", 4, 1000}, {"9876;678", 4, 9876},       {"0007;xyz", 4, 7},
        {"12/45678", 2, 12},  {"12:45678", 2, 12},   {"3\x7f\x80\xff\x00", 1, 3}, {"5\xb0\xb9;", 1, 5},
    };
    for (const Case& test : cases) {
        uint8_t bytes[8] = {};
        std::memcpy(bytes, test.bytes, std::min<size_t>(8, std::strlen(test.bytes)));
        const uint64_t values = csiNumberWord::digitValues(csiNumberWord::load(bytes));
        EXPECT_EQ(csiNumberWord::leadingDigits(values), test.digits) << test.bytes;
        EXPECT_EQ(csiNumberWord::fourDigitValue(values, test.digits), test.value) << test.bytes;
    }
    // Eight digits answer 7 (the caller reads at most four); any longer run is its own case.
    const uint8_t eight[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
    EXPECT_EQ(csiNumberWord::leadingDigits(csiNumberWord::digitValues(csiNumberWord::load(eight))), 7u);
}

} // namespace
} // namespace kestrovan
