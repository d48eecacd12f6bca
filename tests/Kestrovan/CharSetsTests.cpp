#include "Kestrovan/CharSets.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <utility>
#include <vector>

using kestrovan::CharacterMap;
using kestrovan::CharSets;

namespace {

using Table = std::vector<std::pair<char, char32_t>>;

// The tables written out by code point: a second spelling that checks the glyphs in the sources.
const Table decSpecialGraphics = {
    {'`', 0x25C6}, {'a', 0x2592}, {'b', 0x2409}, {'c', 0x240C}, {'d', 0x240D}, {'e', 0x240A}, {'f', 0x00B0},
    {'g', 0x00B1}, {'h', 0x2424}, {'i', 0x240B}, {'j', 0x2518}, {'k', 0x2510}, {'l', 0x250C}, {'m', 0x2514},
    {'n', 0x253C}, {'o', 0x23BA}, {'p', 0x23BB}, {'q', 0x2500}, {'r', 0x23BC}, {'s', 0x23BD}, {'t', 0x251C},
    {'u', 0x2524}, {'v', 0x2534}, {'w', 0x252C}, {'x', 0x2502}, {'y', 0x2264}, {'z', 0x2265}, {'{', 0x03C0},
    {'|', 0x2260}, {'}', 0x00A3}, {'~', 0x00B7},
};

const std::map<char, Table>& expectedSets()
{
    static const std::map<char, Table> sets = {
        {'0', decSpecialGraphics},
        {'2', decSpecialGraphics},
        {'A', {{'#', 0xA3}}},
        {'B', {}},
        {'4',
         {{'#', 0xA3},
          {'@', 0xBE},
          {'[', 0x133},
          {'\\', 0xBD},
          {']', '|'},
          {'{', 0xA8},
          {'|', 'f'},
          {'}', 0xBC},
          {'~', 0xB4}}},
        {'5',
         {{'[', 0xC4},
          {'\\', 0xD6},
          {']', 0xC5},
          {'^', 0xDC},
          {'`', 0xE9},
          {'{', 0xE4},
          {'|', 0xF6},
          {'}', 0xE5},
          {'~', 0xFC}}},
        {'R',
         {{'#', 0xA3},
          {'@', 0xE0},
          {'[', 0xB0},
          {'\\', 0xE7},
          {']', 0xA7},
          {'{', 0xE9},
          {'|', 0xF9},
          {'}', 0xE8},
          {'~', 0xA8}}},
        {'Q',
         {{'@', 0xE0},
          {'[', 0xE2},
          {'\\', 0xE7},
          {']', 0xEA},
          {'^', 0xEE},
          {'`', 0xF4},
          {'{', 0xE9},
          {'|', 0xF9},
          {'}', 0xE8},
          {'~', 0xFB}}},
        {'K',
         {{'@', 0xA7},
          {'[', 0xC4},
          {'\\', 0xD6},
          {']', 0xDC},
          {'{', 0xE4},
          {'|', 0xF6},
          {'}', 0xFC},
          {'~', 0xDF}}},
        {'Y',
         {{'#', 0xA3},
          {'@', 0xA7},
          {'[', 0xB0},
          {'\\', 0xE7},
          {']', 0xE9},
          {'`', 0xF9},
          {'{', 0xE0},
          {'|', 0xF2},
          {'}', 0xE8},
          {'~', 0xEC}}},
        {'6',
         {{'@', 0xC4},
          {'[', 0xC6},
          {'\\', 0xD8},
          {']', 0xC5},
          {'^', 0xDC},
          {'`', 0xE4},
          {'{', 0xE6},
          {'|', 0xF8},
          {'}', 0xE5},
          {'~', 0xFC}}},
        {'Z',
         {{'#', 0xA3},
          {'@', 0xA7},
          {'[', 0xA1},
          {'\\', 0xD1},
          {']', 0xBF},
          {'{', 0xB0},
          {'|', 0xF1},
          {'}', 0xE7}}},
        {'7',
         {{'@', 0xC9},
          {'[', 0xC4},
          {'\\', 0xD6},
          {']', 0xC5},
          {'^', 0xDC},
          {'`', 0xE9},
          {'{', 0xE4},
          {'|', 0xF6},
          {'}', 0xE5},
          {'~', 0xFC}}},
        {'=',
         {{'#', 0xF9},
          {'@', 0xE0},
          {'[', 0xE9},
          {'\\', 0xE7},
          {']', 0xEA},
          {'^', 0xEE},
          {'_', 0xE8},
          {'`', 0xF4},
          {'{', 0xE4},
          {'|', 0xF6},
          {'}', 0xFC},
          {'~', 0xFB}}},
    };
    return sets;
}

} // namespace

TEST(CharSets, EverySetReplacesExactlyItsTableAndNothingElse)
{
    for (const auto& [designator, table] : expectedSets()) {
        const CharacterMap* set = CharSets::find(static_cast<uint8_t>(designator));
        ASSERT_NE(set, nullptr) << "designator " << designator << " names no set";
        std::map<uint32_t, char32_t> expected;
        for (auto [byte, scalar] : table)
            expected[static_cast<uint8_t>(byte)] = scalar;
        for (uint32_t byte = 0; byte < 256; ++byte) {
            char32_t want = expected.count(byte) ? expected[byte] : 0;
            EXPECT_EQ(uint32_t(set->lookup(byte)), uint32_t(want))
                << "set " << designator << ", byte 0x" << std::hex << byte;
        }
        EXPECT_EQ(set->isEmpty(), table.empty()) << "set " << designator;
    }
}

TEST(CharSets, DesignatorsOfOneSetShareItAndOthersNameNothing)
{
    EXPECT_EQ(CharSets::find('0'), CharSets::find('2'));
    EXPECT_EQ(CharSets::find('5'), CharSets::find('C')) << "Finnish";
    EXPECT_EQ(CharSets::find('6'), CharSets::find('E')) << "Norwegian/Danish";
    EXPECT_EQ(CharSets::find('7'), CharSets::find('H')) << "Swedish";

    const std::string known = "02AB45CRQKY6EZ7H=";
    for (int designator = 0; designator < 256; ++designator) {
        bool isKnown = designator < 128 && known.find(char(designator)) != std::string::npos;
        EXPECT_EQ(CharSets::find(uint8_t(designator)) != nullptr, isKnown) << "designator " << designator;
        EXPECT_EQ(CharSets::all()[designator], CharSets::find(uint8_t(designator)));
    }
    // ESC ( B restores ASCII: its set is known but replaces nothing.
    EXPECT_TRUE(CharSets::find('B')->isEmpty());
    EXPECT_FALSE(CharSets::find('A')->isEmpty());
}

TEST(CharSets, TheTranslationOfADesignatorIsItsSetUnlessThatReplacesNothing)
{
    for (int designator = 0; designator < 256; ++designator) {
        const CharacterMap* set = CharSets::find(uint8_t(designator));
        EXPECT_EQ(CharSets::translation(uint8_t(designator)), set && !set->isEmpty() ? set : nullptr)
            << "designator " << designator;
    }
    EXPECT_EQ(CharSets::translation('B'), nullptr) << "United States ASCII";
    EXPECT_EQ(CharSets::translation('0'), CharSets::find('0')) << "line drawing";
}

TEST(CharSets, LineDrawingTurnsLettersIntoABox)
{
    const CharacterMap& graphics = *CharSets::find('0');
    std::u32string drawn;
    for (char byte : std::string("lqqk"))
        drawn += graphics.lookup(uint8_t(byte));
    EXPECT_EQ(drawn, U"┌──┐");
    // Upper-case letters, digits and the high half print unchanged.
    EXPECT_EQ(graphics.lookup('A'), 0u);
    EXPECT_EQ(graphics.lookup('5'), 0u);
    EXPECT_EQ(graphics.lookup(0x7F), 0u);
    EXPECT_EQ(graphics.lookup(0xE9), 0u);
    EXPECT_EQ(graphics.lookup(0x10000), 0u);
}
