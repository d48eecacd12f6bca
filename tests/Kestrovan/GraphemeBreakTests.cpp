#include "Kestrovan/GraphemeBreak.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

// One line of the Unicode grapheme break test: the scalars and the lengths of the clusters they
// form, in order.
struct BreakCase
{
    int lineNumber = 0;
    std::string line;
    std::u32string text;
    std::vector<size_t> clusterLengths;
};

// Parses "÷ 0020 × 0308 ÷ 0020 ÷" (÷ is a boundary, × none). Returns false on a malformed line.
bool parseBreakCase(const std::string& line, BreakCase& out)
{
    std::istringstream words(line.substr(0, line.find('#')));
    std::string word;
    size_t clusterLength = 0;
    bool sawScalar = false;
    while (words >> word) {
        if (word == "÷") {
            if (clusterLength > 0)
                out.clusterLengths.push_back(clusterLength);
            clusterLength = 0;
        } else if (word == "×") {
            continue;
        } else {
            size_t consumed = 0;
            const unsigned long scalar = std::stoul(word, &consumed, 16);
            if (consumed != word.size())
                return false;
            out.text.push_back(static_cast<char32_t>(scalar));
            ++clusterLength;
            sawScalar = true;
        }
    }
    return sawScalar && clusterLength == 0;
}

std::string hexScalars(std::u32string_view text)
{
    std::string out;
    for (const char32_t scalar : text) {
        char buffer[12];
        std::snprintf(buffer, sizeof buffer, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(scalar));
        out += buffer;
    }
    return out;
}

std::vector<BreakCase> loadBreakTest()
{
    std::ifstream file(KESTROVAN_TEST_DATA_DIR "/unicode/GraphemeBreakTest.txt");
    std::vector<BreakCase> cases;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        BreakCase breakCase;
        breakCase.lineNumber = lineNumber;
        breakCase.line = line;
        EXPECT_TRUE(parseBreakCase(line, breakCase)) << "malformed line " << lineNumber << ": " << line;
        cases.push_back(std::move(breakCase));
    }
    return cases;
}

// The test file is the Unicode 16.0 one (no 17.0 copy is packaged), while the tables are Unicode
// 17.0. Where 17.0 changed a property of a character the file uses, the line's expectation is
// replaced here by the 17.0 answer. Each replacement must still match a line of the file, so a
// newer file makes its stale replacements fail instead of silently lingering.
struct Replacement
{
    const char* line;
    const char* unicode17;
    const char* why;
};
const Replacement unicode17Replacements[] = {
    {"÷ 2701 × 200D × 2701 ÷", "÷ 2701 × 200D ÷ 2701 ÷",
     "U+2701 UPPER BLADE SCISSORS is not Extended_Pictographic in Unicode 17.0, so GB11 does not join"},
};

TEST(GraphemeBreakTest, MatchesEveryLineOfTheUnicodeBreakTest)
{
    std::vector<BreakCase> cases = loadBreakTest();
    // The Unicode file has over a thousand cases; far fewer means it was not found or was cut short.
    ASSERT_GT(cases.size(), 1000u) << "GraphemeBreakTest.txt is missing or truncated";

    for (const Replacement& replacement : unicode17Replacements) {
        auto it = std::find_if(cases.begin(), cases.end(),
                               [&](const BreakCase& c) { return c.line == replacement.line; });
        ASSERT_NE(it, cases.end()) << "no line " << replacement.line << " to replace; remove the replacement";
        BreakCase updated;
        ASSERT_TRUE(parseBreakCase(replacement.unicode17, updated)) << replacement.unicode17;
        ASSERT_EQ(updated.text, it->text) << "a replacement changes expectations, not scalars";
        it->clusterLengths = updated.clusterLengths;
        it->line = std::string(replacement.unicode17) + " (" + replacement.why + ")";
    }

    for (const BreakCase& breakCase : cases) {
        const std::u32string_view text = breakCase.text;
        std::vector<size_t> actual;
        for (size_t position = 0; position < text.size();) {
            const size_t length = graphemeClusterLength(text, position);
            ASSERT_GT(length, 0u) << "line " << breakCase.lineNumber;
            actual.push_back(length);
            position += length;
        }
        EXPECT_EQ(actual, breakCase.clusterLengths)
            << "line " << breakCase.lineNumber << ": " << breakCase.line << " (scalars " << hexScalars(text)
            << ")";
        EXPECT_EQ(graphemeCount(text), breakCase.clusterLengths.size()) << "line " << breakCase.lineNumber;
        EXPECT_EQ(firstCharacter(text).scalars, text.substr(0, breakCase.clusterLengths.front()))
            << "line " << breakCase.lineNumber;
    }
}

TEST(GraphemeBreakTest, EmptyTextAndPositionsPastTheEnd)
{
    EXPECT_EQ(graphemeClusterLength(U""), 0u);
    EXPECT_EQ(graphemeCount(U""), 0u);
    EXPECT_TRUE(firstCharacter(U"").isEmpty());

    const std::u32string_view text = U"ab";
    EXPECT_EQ(graphemeClusterLength(text, 1), 1u);
    EXPECT_EQ(graphemeClusterLength(text, 2), 0u) << "at the end";
    EXPECT_EQ(graphemeClusterLength(text, 7), 0u) << "past the end";
}

// The print path asks whether a cell's cluster plus one more scalar is still one cluster; these
// are the joins it depends on.
TEST(GraphemeBreakTest, ClusterPlusOneScalar)
{
    struct Case
    {
        const char* what;
        std::u32string text;
        bool oneCluster;
    };
    const Case cases[] = {
        {"e + combining acute", U"e\u0301", true},
        {"heart + emoji selector", U"\u2764\uFE0F", true},
        {"waving hand + skin tone", U"\U0001F44B\U0001F3FD", true},
        {"letter + skin tone (GB9 keeps Extend attached)", U"a\U0001F3FD", true},
        {"man + ZWJ + woman", U"\U0001F468\u200D\U0001F469", true},
        {"man + ZWJ + woman + ZWJ + girl", U"\U0001F468\u200D\U0001F469\u200D\U0001F467", true},
        {"ZWJ after a letter does not join the next pictograph", U"a\u200D\U0001F469", false},
        {"scissors + ZWJ + scissors", U"\u2702\u200D\u2702", true},
        {"upper blade scissors are no pictograph in Unicode 17.0", U"\u2701\u200D\u2701", false},
        {"pictograph + skin tone + ZWJ + pictograph", U"\U0001F469\U0001F3FD\u200D\U0001F4BB", true},
        {"two regional indicators make a flag", U"\U0001F1E9\U0001F1EA", true},
        {"a third regional indicator starts a new flag", U"\U0001F1E9\U0001F1EA\U0001F1EB", false},
        {"ka + virama + ssa (conjunct)", U"\u0915\u094D\u0937", true},
        {"ka + nukta + virama + ZWJ + ssa", U"\u0915\u093C\u094D\u200D\u0937", true},
        {"ka + ssa without virama", U"\u0915\u0937", false},
        {"ka + spacing vowel sign aa", U"\u0915\u093E", true},
        {"Hangul L + V + T", U"\u1100\u1161\u11A8", true},
        {"prepend + letter", U"\u0600a", true},
    };
    for (const Case& c : cases) {
        const size_t length = graphemeClusterLength(c.text);
        EXPECT_EQ(length == c.text.size(), c.oneCluster)
            << c.what << ": first cluster has " << length << " of " << c.text.size() << " scalars";
    }
}

TEST(GraphemeBreakTest, CountsAndFirstCharacterOfMixedText)
{
    // "a", e + acute, a family, a flag, a conjunct, CR LF, "z".
    const std::u32string text = U"ae\u0301\U0001F468\u200D\U0001F469\u200D\U0001F467\U0001F1E9\U0001F1EA"
                                U"\u0915\u094D\u0937\r\nz";
    EXPECT_EQ(graphemeCount(text), 7u);
    EXPECT_EQ(firstCharacter(text), Character(U'a'));
    EXPECT_EQ(firstCharacter(std::u32string_view(text).substr(1)), Character(std::u32string(U"e\u0301")));

    std::vector<size_t> lengths;
    for (size_t position = 0; position < text.size(); position += lengths.back())
        lengths.push_back(graphemeClusterLength(text, position));
    EXPECT_EQ(lengths, (std::vector<size_t>{1, 2, 5, 2, 3, 2, 1}));
}

TEST(GraphemeBreakTest, ScalarsOutsideUnicodeAreClustersOfTheirOwn)
{
    // Values above U+10FFFF have no properties; they must not read past the tables.
    const std::u32string text = {U'a', char32_t{0x110000}, U'\u0301', char32_t{0xFFFFFFFF}};
    EXPECT_EQ(graphemeClusterLength(text, 0), 1u);
    EXPECT_EQ(graphemeClusterLength(text, 1), 2u) << "a combining mark still joins";
    EXPECT_EQ(graphemeCount(text), 3u);
}

} // namespace
} // namespace kestrovan
