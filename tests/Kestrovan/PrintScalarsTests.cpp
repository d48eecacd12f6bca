// The print path's shortcut answers about joining, checked against the general answers they stand
// in for over every scalar the tables know.
#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/PrintScalars.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan::printing {
namespace {

using GraphemeJoin = UnicodeUtil::GraphemeJoin;

// Printable ASCII after any scalar joins exactly when the pairwise test says it does.
TEST(PrintScalarsTest, AsciiJoinsAgreesWithTheGeneralJoinTest)
{
    for (char32_t previous = 0; previous <= 0x10FFFF; ++previous) {
        const uint8_t before = unicode::graphemeProperties(previous);
        for (const char32_t ascii : {U' ', U'a', U'~'}) {
            const bool general = graphemeJoin(previous, before, ascii, 0, 1) != GraphemeJoin::newCell;
            ASSERT_EQ(asciiJoins(previous, before), general)
                << std::hex << "U+" << static_cast<uint32_t>(previous) << " then '" << char(ascii) << "'";
        }
    }
}

// Whether `text` ends in Consonant (Extend | Linker)* with a Linker among them.
bool endsInLinkedConsonant(std::u32string_view text)
{
    bool linker = false;
    for (size_t index = text.size(); index-- > 0;) {
        const uint8_t kind = unicode::graphemeProperties(text[index]) & bits::conjunctMask;
        if (kind == bits::conjunctConsonant)
            return linker;
        if (kind == bits::conjunctLinker)
            linker = true;
        else if (kind != bits::conjunctExtend)
            return false;
    }
    return false;
}

// A consonant appended to a cell stays in it when it continues a conjunct or the whole is one
// cluster; the answer for a consonant skips segmenting, so every consonant is tried after cells
// that end in each kind of scalar a conjunct, a prepend or a cluster boundary involves.
TEST(PrintScalarsTest, ConsonantAfterACellAgreesWithTheSegmenter)
{
    std::vector<char32_t> consonants;
    for (char32_t scalar = 0; scalar <= 0x10FFFF; ++scalar) {
        if ((unicode::graphemeProperties(scalar) & bits::conjunctMask) == bits::conjunctConsonant)
            consonants.push_back(scalar);
    }
    ASSERT_GT(consonants.size(), 100u);
    const std::u32string cells[] = {
        U"",
        U"a",
        U"\u0915",                   // ka
        U"\u0915\u094D",             // ka, virama
        U"\u0915\u0941",             // ka, vowel sign u (Extend)
        U"\u0915\u093E",             // ka, vowel sign aa (spacing)
        U"\u0915\u093C\u094D\u200D", // ka, nukta, virama, joiner
        U"\u0915\u094D\u0937\u0941", // a conjunct, then a vowel sign
        U"\u0600",                   // a prepend
        U"\u0915\u0600",
        U"\u200D",
        U"\U0001F468\u200D",
        U"a\u094D",
        U"\u0995\u09CD", // Bengali ka, virama
        U"\u1100",       // Hangul L
        U"\r",
    };
    for (const std::u32string& cell : cells) {
        for (const char32_t consonant : consonants) {
            const std::u32string joined = cell + consonant;
            const bool expected = endsInLinkedConsonant(cell) || graphemeCount(joined) == 1;
            ASSERT_EQ(staysOneCell(joined), expected)
                << std::hex << "consonant U+" << static_cast<uint32_t>(consonant) << " after cell of "
                << std::dec << cell.size() << " scalars starting U+" << std::hex
                << (cell.empty() ? 0u : static_cast<uint32_t>(cell[0]));
        }
    }
}

// Flags: a regional indicator or a letter appended to cells of none to three regional indicators
// (and to other cells) stays in the cell exactly when the segmenter makes the whole one cluster;
// a lone pair is answered without segmenting. (Marks and joiners after a cell that is already
// more than one cluster stay by another rule.)
TEST(PrintScalarsTest, RegionalIndicatorAfterACellAgreesWithTheSegmenter)
{
    std::vector<char32_t> appended = {U'a', 0x1F600, 0x0915};
    for (char32_t indicator = 0x1F1E6; indicator <= 0x1F1FF; ++indicator)
        appended.push_back(indicator);
    const std::u32string cells[] = {
        U"",
        U"a",
        U"\U0001F1E6",
        U"\U0001F1EF\U0001F1F5",
        U"\U0001F1EF\U0001F1F5\U0001F1FA",
        U"\U0001F1E6\u0301",
        U"\U0001F1E6\u200D",
        U"\u0600",
        U"\U0001F468\u200D",
    };
    for (const std::u32string& cell : cells) {
        for (const char32_t scalar : appended) {
            const std::u32string joined = cell + scalar;
            EXPECT_EQ(staysOneCell(joined), graphemeCount(joined) == 1)
                << std::hex << "U+" << static_cast<uint32_t>(scalar) << " after cell of " << std::dec
                << cell.size() << " scalars";
        }
    }
}

} // namespace
} // namespace kestrovan::printing
