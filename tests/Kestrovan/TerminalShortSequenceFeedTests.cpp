// The parse loop's word road: short CSI sequences (one or two parameters of up to four digits and
// a final byte) read from one eight-byte word, one after another and around the text after an
// SGR, and the short SGRs it hands to the terminal's table of parameter steps. Fed whole, a chunk
// takes that road; fed one byte per feed, or cut just before a sequence's end, every sequence
// goes the general way (the parameter fold and the SGR parameter switch). Both must leave the
// same terminal, down to every cell's look, the erase colour and the rows marked changed.
#include "tests/Kestrovan/TerminalStateDump.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace kestrovan;
using namespace kestrovan::testing;

namespace {

#define CSI "\x1b["

TerminalOptions smallScreen()
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 20;
    options.rows = 6;
    options.scrollback = 10;
    return options;
}

/// The dump after feeding `bytes` in chunks ending at `cuts` (ascending, inside the bytes).
std::string dumpAfter(const std::string& bytes, const std::vector<size_t>& cuts)
{
    DumpedTerminal session(smallScreen());
    size_t start = 0;
    for (size_t cut : cuts) {
        session.feed(std::string_view(bytes).substr(start, cut - start));
        start = cut;
    }
    session.feed(std::string_view(bytes).substr(start));
    return session.dump();
}

/// What differs between `bytes` fed whole and fed one byte per feed; empty when nothing does.
std::string differenceFromOneBytePerFeed(const std::string& bytes)
{
    std::vector<size_t> cuts;
    for (size_t cut = 1; cut < bytes.size(); ++cut)
        cuts.push_back(cut);
    return describeDumpDifference(dumpAfter(bytes, {}), dumpAfter(bytes, cuts));
}

/// The first split of `bytes` into two feeds that leaves another state than the whole feed, with
/// the difference; "" when every split leaves the same.
std::string differenceFromEverySplit(const std::string& bytes)
{
    const std::string whole = dumpAfter(bytes, {});
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        const std::string split = dumpAfter(bytes, {cut});
        if (split != whole)
            return "cut at " + std::to_string(cut) + "\n" + describeDumpDifference(whole, split);
    }
    return "";
}

/// A small deterministic generator, so that a failing mix is reproduced by its seed anywhere.
uint64_t nextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Every SGR parameter from 0 to 110 alone and beside the parameters that change each part of the
// look (styles on and off, each colour kind, the resets, the extended colours, which the table
// leaves to the switch, and unknown numbers), over looks that already have what the parameter
// sets or removes, then a word drawn in the result and an erase that takes its background.
TEST(TerminalShortSequenceFeedTests, ShortSgrsMatchTheParameterFold)
{
    // clang-format off
    const std::vector<std::string> startingLooks = {
        "", CSI "1;2;3;4;5;7;8;9m", CSI "38;5;200;48;5;100;58;5;3m", CSI "38;2;1;2;3;48;2;4;5;6m", CSI "21m",
        CSI "4:3m", CSI "7;41m"};
    const std::vector<int> partners = {0, 1, 4, 5, 21, 22, 24, 31, 38, 39, 44, 48, 49, 58, 59, 97, 107, 108, 6, 9999};
    // clang-format on
    // Two terminals, one fed each case whole and one fed it one byte per feed, compared after
    // every case: a case's look is then seen before the next case replaces it.
    for (const std::string& look : startingLooks) {
        DumpedTerminal whole(smallScreen());
        DumpedTerminal oneByOne(smallScreen());
        for (int value = 0; value <= 110; ++value) {
            for (const std::string& parameters :
                 {std::to_string(value), std::to_string(value) + ";" + std::to_string(partners[value % 20]),
                  std::to_string(partners[(value + 7) % 20]) + ";" + std::to_string(value)}) {
                const std::string bytes = look + CSI + parameters + "mab" CSI "K\r\n";
                whole.feed(bytes);
                for (char byte : bytes)
                    oneByOne.feed(std::string_view(&byte, 1));
                const std::string difference = describeDumpDifference(whole.dump(), oneByOne.dump());
                ASSERT_EQ(difference, "") << "from \"" << (look.empty() ? look : look.substr(2)) << "\", CSI "
                                          << parameters << " m";
            }
        }
    }
}

// The word road's sequences and the shapes beside them that it must leave to the longer
// reading: more digits, more parameters, colons, private markers and intermediates, controls
// inside, an ESC c that resets the terminal between two sequences of a run, a column-switch run,
// colours of every road, and text of every kind after an SGR. Mixed at random, fed whole and one
// byte per feed, and whole against every cut into two chunks.
TEST(TerminalShortSequenceFeedTests, SequenceRunsMatchOneByteAtATimeAndEverySplit)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        CSI "31m", CSI "1;32m", CSI "22;33m", CSI "4;34m", CSI "24;35m", CSI "49m", CSI "0m", CSI "m", CSI "00m",
        CSI "0;0m", CSI "9999;9999m", CSI "38;5;9m", CSI "48;5;200m", CSI "38;2;1;2;3m", CSI "48;2;9;8;7m",
        CSI "18;0;1m", CSI "38;5m", CSI "1;2;3m", CSI "4:3m", CSI "?25l", CSI "?25h", CSI "2 q", CSI "3;5r",
        CSI "r", CSI "2;4H", CSI "12345;1H", CSI "0003;0004H", CSI "5;H", CSI ";7H", CSI "H", CSI "K", CSI "1K",
        CSI "2J", CSI "3@", CSI "2P", CSI "4;\x18" "5H", CSI "5\r;6H", "\x1b" "c", CSI "?40h" CSI "?3h",
        CSI "?3l", "word", "ab ", " ", "\u00e9t\u00e9", "\u597d", "x\x7f", "\n\n", "\r\n", "\t"};
    // clang-format on
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        uint64_t state = seed;
        std::string bytes;
        for (int i = 0; i < 120; ++i)
            bytes += pieces[nextRandom(state) % pieces.size()];
        EXPECT_EQ(differenceFromOneBytePerFeed(bytes), "") << "seed " << seed;
        if (seed > 4)
            continue;
        EXPECT_EQ(differenceFromEverySplit(bytes), "") << "seed " << seed;
    }
}

// A pager's scroll inside a region and coloured words, the traffic the road is for, with the
// region's bounds, positions and colours drawn afresh: whole against one byte per feed.
TEST(TerminalShortSequenceFeedTests, RegionScrollsAndColouredWordsMatchOneByteAtATime)
{
    for (uint64_t seed = 1; seed <= 8; ++seed) {
        uint64_t state = seed * 7919;
        std::string bytes;
        for (int i = 0; i < 60; ++i) {
            const uint64_t top = 1 + nextRandom(state) % 4;
            const uint64_t bottom = top + 1 + nextRandom(state) % (6 - top);
            bytes += CSI + std::to_string(top) + ";" + std::to_string(bottom) + "r" CSI +
                     std::to_string(top + nextRandom(state) % (bottom - top + 1)) + ";" +
                     std::to_string(1 + nextRandom(state) % 20) + "Hsome words \n\n" CSI "r";
            static const char* const looks[] = {"31",     "1;32",    "22;37",  "4;90",
                                                "24;107", "38;5;42", "48;5;1", "38;2;9;9;9"};
            for (int word = 0; word < 3; ++word)
                bytes += std::string(CSI) + looks[nextRandom(state) % 8] + "mw" + std::to_string(word) +
                         CSI "49m ";
            bytes += CSI "0m\r\n";
        }
        EXPECT_EQ(differenceFromOneBytePerFeed(bytes), "") << "seed " << seed;
    }
}

// Rows of coloured words, which the terminal takes word after word once the loop has printed the
// first: every SGR shape it reads, words up to the right edge and past it, lines ended by CR LF,
// LF alone or nothing, and what must send a word back to the loop's roads (text beyond ASCII, a
// control inside a word, a cursor position, a wide character the word would cut, and settings
// the row is checked for once: insert mode, protection, left and right margins, a hyperlink, a
// translating set, a column-switch run). Each setting with random rows, fed whole against one
// byte per feed, and for some against every cut into two chunks.
TEST(TerminalShortSequenceFeedTests, ColouredWordRowsMatchOneByteAtATimeAndEverySplit)
{
    // clang-format off
    const std::vector<std::string> settings = {
        "", CSI "4h", CSI "1\"q", CSI "?69h" CSI "3;14s", CSI "?69h" CSI "3;14s" CSI "1;16H",
        "\x1b]8;;https://example.org/\x1b\\", "\x1b(0", CSI "?40h" CSI "?3h",
        "\u597d\u597d\u597d\u597d\u597d\u597d\u597d\r\n\u597d\u597d\u597d\u597d\u597d\x1b[A\r"};
    const std::vector<std::string> looks = {
        "31", "1;32", "22;33", "4;34", "24;35", "38;5;7", "38;5;255", "38;5;1000", "48;5;42", "38;2;1;2;3",
        "48;2;200;100;0", "38;2;9;8;7;48;2;1;1;1", "0", "", "49", "39;49", "1;2;3", "38;5", "38:5:9", "4:3"};
    const std::vector<std::string> oddWords = {"\u00e9t\u00e9", "a\tb", CSI "3;4H", CSI "K", "x\x7f", "\u597d"};
    const std::vector<std::string> lineEnds = {CSI "0m\r\n", CSI "m\r\n", "\r\n", "\n", "", "\r\n\r\n", "\r"};
    // clang-format on
    for (size_t setting = 0; setting < settings.size(); ++setting) {
        for (uint64_t seed = 1; seed <= 3; ++seed) {
            uint64_t state = seed * 104729 + setting;
            std::string bytes = settings[setting];
            for (int line = 0; line < 14; ++line) {
                for (int word = 0, words = 2 + static_cast<int>(nextRandom(state) % 6); word < words;
                     ++word) {
                    bytes += CSI + looks[nextRandom(state) % looks.size()] + "m";
                    if (nextRandom(state) % 12 == 0) {
                        bytes += oddWords[nextRandom(state) % oddWords.size()];
                        continue;
                    }
                    for (uint64_t letters = 1 + nextRandom(state) % 9; letters > 0; --letters)
                        bytes += static_cast<char>('a' + nextRandom(state) % 26);
                    if (nextRandom(state) % 4 != 0)
                        bytes += ' ';
                }
                bytes += lineEnds[nextRandom(state) % lineEnds.size()];
            }
            EXPECT_EQ(differenceFromOneBytePerFeed(bytes), "") << "setting " << setting << ", seed " << seed;
            if (seed > 1)
                continue;
            EXPECT_EQ(differenceFromEverySplit(bytes), "") << "setting " << setting;
        }
    }
}

// The words after the first on a row are stored by the terminal's own loop over the row, which
// marks the row once and hands a word back where the row's cells or the cursor need more: each
// case fed whole must leave the screen, the cursor and the rows marked changed (on the screen and
// in absolute rows) that it leaves fed one byte per feed.
TEST(TerminalShortSequenceFeedTests, ColouredWordRowsMarkAndStoreWhatTheyDoOneByOne)
{
    struct Case
    {
        const char* name;
        const char* setup;
        const char* words;
    };
    // clang-format off
    const Case cases[] = {
        {"words on two rows", "", CSI "31mab " CSI "32mcd\r\n" CSI "33mef " CSI "48;5;3mgh" CSI "49m "},
        {"words on rows after lines went to the scrollback", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\x1b[3;1H",
         CSI "31mab\r\n" CSI "38;2;1;2;3mcd\r\n" CSI "38;5;9mef" CSI "0m\r\n"},
        {"a word filling the row, then one letter", "",
         CSI "31mabcdefghij" CSI "32mklmnopqrst" CSI "33mu" CSI "34mv"},
        {"a word too long for the rest of the row", "", CSI "31mabcdefghij" CSI "32mklmnopqrstuvwxyz"},
        {"a word ending on a wide character's right half", "\u597d\u597d\u597d\u597d\u597d\r",
         CSI "31ma" CSI "32mbc" CSI "0m\r\n"},
        {"a row starting on a wide character's right half",
         "\u597d\u597d\u597d\u597d\u597d\r\n\u597d\u597d\u597d\u597d\u597d" CSI "?69h" CSI "2;12s" CSI "1;2H",
         CSI "31mab" CSI "32mcd\r\n" CSI "33me" CSI "34mfg" CSI "0m\r\n"},
        {"words after a line feed alone", "", CSI "31mab\n" CSI "32mcd " CSI "33mef"},
        {"words inside left and right margins", CSI "?69h" CSI "3;12s" CSI "1;3H",
         CSI "31mabc " CSI "32mdefg " CSI "33mhij" CSI "34mk"},
    };
    // clang-format on
    for (const Case& test : cases) {
        std::string dumps[2];
        std::optional<std::pair<int, int>> screen[2];
        std::optional<std::pair<int, int>> absolute[2];
        for (int oneByOne = 0; oneByOne < 2; ++oneByOne) {
            DumpedTerminal session(smallScreen());
            session.feed(test.setup);
            {
                const TerminalUnsharedScope unshared(session.terminal().terminalLock());
                session.terminal().clearUpdateRange();
            }
            const std::string_view words = test.words;
            for (size_t at = 0; at < words.size(); at += oneByOne ? 1 : words.size())
                session.feed(words.substr(at, oneByOne ? 1 : words.size()));
            const TerminalUnsharedScope unshared(session.terminal().terminalLock());
            screen[oneByOne] = session.terminal().getUpdateRange();
            absolute[oneByOne] = session.terminal().getScrollInvariantUpdateRange();
            dumps[oneByOne] = dumpTerminalState(session.terminal());
        }
        EXPECT_EQ(describeDumpDifference(dumps[0], dumps[1]), "") << test.name;
        EXPECT_EQ(screen[0], screen[1]) << test.name;
        EXPECT_EQ(absolute[0], absolute[1]) << test.name;
    }
}

} // namespace
