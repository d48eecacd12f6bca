// The fixed key and paste sequences.
#include "Kestrovan/EscapeSequences.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrovan::testing {
namespace {

std::string text(const EscapeSequences::Sequence& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

TEST(EscapeSequencesTests, EveryMemberHasItsBytes)
{
    using E = EscapeSequences;
    const std::pair<const E::Sequence&, const char*> members[] = {
        {E::cmdNewLine(), "\n"},
        {E::cmdRet(), "\r"},
        {E::cmdEsc(), "\x1b"},
        {E::cmdDel(), "\x7f"},
        {E::cmdDelKey(), "\x1b[3~"},
        {E::cmdTab(), "\t"},
        {E::cmdBackTab(), "\x1b[Z"},
        {E::cmdPageUp(), "\x1b[5~"},
        {E::cmdPageDown(), "\x1b[6~"},
        {E::cmdInsert(), "\x1b[2~"},
        {E::moveUpNormal(), "\x1b[A"},
        {E::moveUpApp(), "\x1bOA"},
        {E::moveDownNormal(), "\x1b[B"},
        {E::moveDownApp(), "\x1bOB"},
        {E::moveRightNormal(), "\x1b[C"},
        {E::moveRightApp(), "\x1bOC"},
        {E::moveLeftNormal(), "\x1b[D"},
        {E::moveLeftApp(), "\x1bOD"},
        {E::moveHomeNormal(), "\x1b[H"},
        {E::moveHomeApp(), "\x1bOH"},
        {E::moveEndNormal(), "\x1b[F"},
        {E::moveEndApp(), "\x1bOF"},
        {E::emacsBack(), "\033b"},
        {E::emacsForward(), "\033f"},
        {E::controlLeft(), "\x1b[1;5D"},
        {E::controlRight(), "\x1b[1;5C"},
        {E::bracketedPasteStart(), "\x1b[200~"},
        {E::bracketedPasteEnd(), "\x1b[201~"},
    };
    for (const auto& [bytes, expected] : members)
        EXPECT_EQ(text(bytes), expected);

    EXPECT_NE(text(E::cmdDel()), text(E::cmdDelKey())) << "Backspace's DEL is not the forward-delete key";
    EXPECT_EQ(&E::cmdRet(), &E::cmdRet()) << "each sequence is built once and shared";
}

TEST(EscapeSequencesTests, FunctionKeys)
{
    const auto& keys = EscapeSequences::cmdF();
    ASSERT_EQ(keys.size(), 12u);
    const char* expected[] = {"\x1bOP",   "\x1bOQ",   "\x1bOR",   "\x1bOS",   "\x1b[15~", "\x1b[17~",
                              "\x1b[18~", "\x1b[19~", "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~"};
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(text(keys[i]), expected[i]) << "F" << i + 1;
}

} // namespace
} // namespace kestrovan::testing
