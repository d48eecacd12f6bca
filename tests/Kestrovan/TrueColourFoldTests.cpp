// The parse loop's reader of whole true-colour SGR sequences, against a table of the shapes it
// takes and the near misses it must leave to the general fold.
#include "Kestrovan/TrueColourFold.h"

#include <cstdint>
#include <gtest/gtest.h>
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

TrueColourSgr read(const std::string& parameters, size_t padding)
{
    const std::string bytes = "\x1b[" + parameters + std::string(padding, 'x');
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const int kind = bytes.size() >= 10 ? trueColourIntroducer(data, 2) : 0;
    return kind != 0 ? readTrueColourSgr(data, 2, bytes.size(), kind) : TrueColourSgr{};
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
