// The parse loop's readers of whole true-colour SGR sequences, against a table of the shapes they
// take and the near misses they must leave to the general fold, and against each other.
#include "Kestrovan/TrueColourShuffle.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace kestrovan::parserLoop;

namespace {

struct Case
{
    const char* parameters;
    // The colours as 0xRRGGBB, -1 when not set; both -1 and `taken` false for a near miss.
    int64_t foreground;
    int64_t background;
    bool taken;
};

using Reader = TrueColourSgr (*)(const uint8_t*, size_t, size_t, int);

TrueColourSgr read(const std::string& parameters, size_t padding, Reader reader = readTrueColourSgr)
{
    const std::string bytes = "\x1b[" + parameters + std::string(padding, 'x');
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const int kind = bytes.size() >= 10 ? trueColourIntroducer(data, 2) : 0;
    return kind != 0 ? reader(data, 2, bytes.size(), kind) : TrueColourSgr{};
}

bool operator==(const TrueColourSgr& a, const TrueColourSgr& b)
{
    return a.end == b.end && a.foreground == b.foreground && a.background == b.background;
}

} // namespace

TEST(TrueColourFold, WholeSequencesAndNearMisses)
{
    const Case cases[] = {
        {"38;2;1;2;3m", 0x010203, -1, true},
        {"48;2;10;20;30m", -1, 0x0A141E, true},
        {"38;2;255;128;0;48;2;0;64;255m", 0xFF8000, 0x0040FF, true},
        {"48;2;4;5;6;38;2;1;2;3m", 0x010203, 0x040506, true},
        // A later group of the same kind wins.
        {"38;2;1;2;3;38;2;7;8;9m", 0x070809, -1, true},
        {"48;2;1;2;3;48;2;7;8;9m", -1, 0x070809, true},
        // Empty numbers read as 0, larger ones as 255.
        {"38;2;;;m", 0x000000, -1, true},
        {"38;2;999;256;255m", 0xFFFFFF, -1, true},
        {"38;2;0;09;009m", 0x000909, -1, true},
        {"38;2;300;7;;48;2;;400;1m", 0xFF0700, 0x00FF01, true},
        // Near misses: the general fold takes these.
        {"38;2;1000;2;3m", -1, -1, false},
        {"38;2;1;2;0003m", -1, -1, false},
        {"38;2;1;2m", -1, -1, false},
        {"38;2;1;2;3;1m", -1, -1, false},
        {"38;2;1;2;3;48;5;9m", -1, -1, false},
        {"38;2;1;2;3;48;2;4;5;6;1m", -1, -1, false},
        {"38;2;1;2;3;48;2;4;5;6;38;2;7;8;9m", -1, -1, false},
        {"38;2;1:2;3m", -1, -1, false},
        {"38;2;1;2;3:m", -1, -1, false},
        {"38;2;1;2;3H", -1, -1, false},
        {"38;2;1;2;3;48;2;4;5;6H", -1, -1, false},
        {"38;2;1;2;3 m", -1, -1, false},
        {"38;2;1;2;3;58;2;4;5;6m", -1, -1, false},
        {"38;2;1;2;3\x1bm", -1, -1, false},
        // Digits up to the window's end.
        {"38;2;1;2;3;48;2;999999999999999999999999999999999999", -1, -1, false},
        {"38;2;11111111111111111111111111111111111111111111111", -1, -1, false},
    };
    for (const Case& test : cases) {
        const TrueColourSgr sgr = read(test.parameters, 48);
        const std::string label = test.parameters;
        EXPECT_TRUE(sgr == read(test.parameters, 48, readTrueColourSgrScalar)) << label;
        ASSERT_EQ(sgr.end != 0, test.taken) << label;
        if (!test.taken)
            continue;
        // The sequence ends at its "m", two bytes after the introducer.
        EXPECT_EQ(sgr.end, 2 + label.size()) << label;
        const auto expected = [](int64_t colour) {
            return colour < 0 ? 0u : TrueColourSgr::present | static_cast<uint32_t>(colour);
        };
        EXPECT_EQ(sgr.foreground, expected(test.foreground)) << label;
        EXPECT_EQ(sgr.background, expected(test.background)) << label;
        // Without a whole window after it the sequence is left to the general fold.
        EXPECT_EQ(read(test.parameters, 0).end, 0u) << label;
    }
}

#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)
// The shuffling reader against the scalar one on sequences of one to three groups with numbers of
// zero to four digits, a final byte, and often one byte changed to a digit, a separator, a colon, a
// space, ESC or another final byte: whole sequences of both shapes and near misses of every kind.
TEST(TrueColourFold, ShuffledReaderMatchesScalarReader)
{
    if (!hasShuffledTrueColourReader())
        GTEST_SKIP() << "the processor lacks SSSE3";
    std::mt19937 random(7);
    const char strays[] = "0123456789;;:m H\x1b";
    int taken = 0;
    const int rounds = 200000;
    for (int round = 0; round < rounds; ++round) {
        std::string bytes = "\x1b[";
        for (int groups = 1 + static_cast<int>(random() % 5 / 2); groups > 0; --groups) {
            bytes += random() % 2 ? "38;2;" : "48;2;";
            for (int component = 0; component < 3; ++component) {
                for (int digits = static_cast<int>(random() % 9 / 2); digits > 0; --digits)
                    bytes += static_cast<char>('0' + random() % 10);
                bytes += component < 2 ? ";" : "";
            }
            bytes += groups > 1 ? ";" : "m";
        }
        if (random() % 3 == 0)
            bytes[2 + random() % (bytes.size() - 2)] = strays[random() % (sizeof strays - 1)];
        bytes += std::string(random() % 50, random() % 2 ? '7' : 'x');
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        const int kind = trueColourIntroducer(data, 2);
        const TrueColourSgr scalar = readTrueColourSgrScalar(data, 2, bytes.size(), kind);
        ASSERT_TRUE(readTrueColourSgrShuffled(data, 2, bytes.size(), kind) == scalar) << bytes;
        taken += scalar.end != 0;
    }
    // Whole sequences and near misses are both common among the inputs.
    EXPECT_GT(taken, rounds / 10);
    EXPECT_LT(taken, rounds * 9 / 10);
}
#endif
