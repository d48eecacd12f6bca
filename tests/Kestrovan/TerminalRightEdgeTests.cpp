// The cursor at the right edge: after a character is printed into the last column (or the right
// margin) the cursor stays on that column and only a flag says the next printable character
// wraps first. Every other operation sees the cursor on the last column.
//
// The table is what xterm shows for each input on an 80 x 24 screen: the non-blank rows as
// "row:first column:text" (1-based, trailing blanks dropped) and the replies to CPR and DECXCPR
// that follow the input. tools/xterm/right-edge-table runs the same cases in xterm and compares,
// or rewrites the expected fields. Inputs use caret notation: ^[ ESC, ^H BS, ^I HT, ^M CR, ^J LF.
#include "RecordingTerminalDelegate.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan::testing {
namespace {

struct RightEdgeCase
{
    const char* name;
    const char* input;
    const char* cpr;
    const char* xcpr;
    std::vector<std::string> rows;
};

// clang-format off
const std::vector<RightEdgeCase> rightEdgeCases = {
    {"cub after the edge", "^[[9;79Hab^[[DZ", "9;80", "9;80;1", {"9:79:Zb"}},
    {"margins no autowrap cpr", "^[[?69h^[[5;9s^[[?7l^[[9;8Habcdef", "9;9", "9;9;1", {"9:8:af"}},
    {"margins no autowrap cub", "^[[?69h^[[5;9s^[[?7l^[[9;8Habcdef^[[DZ", "9;9", "9;9;1", {"9:8:Zf"}},
    {"decfi at the edge", "^[[1;80Hx^[9", "1;80", "1;80;1", {"1:79:x"}},
    {"cpr at the edge", "^[[3;79Hab", "3;80", "3;80;1", {"3:79:ab"}},
    {"wrap at the edge", "^[[3;79Habc", "4;2", "4;2;1", {"3:79:ab", "4:1:c"}},
    {"wrap at the bottom", "^[[24;79Habc", "24;2", "24;2;1", {"23:79:ab", "24:1:c"}},
    {"cuf at the edge", "^[[3;79Hab^[[CZ", "3;80", "3;80;1", {"3:79:aZ"}},
    {"cub 3 at the edge", "^[[3;75Habcdef^[[3DZ", "3;78", "3;78;1", {"3:75:abZdef"}},
    {"cuu at the edge", "^[[3;79Hab^[[AZ", "2;80", "2;80;1", {"2:80:Z", "3:79:ab"}},
    {"cud at the edge", "^[[3;79Hab^[[BZ", "4;80", "4;80;1", {"3:79:ab", "4:80:Z"}},
    {"cr at the edge", "^[[3;79Hab^MZ", "3;2", "3;2;1", {"3:1:Z                                                                             ab"}},
    {"lf at the edge", "^[[3;79Hab^JZ", "4;80", "4;80;1", {"3:79:ab", "4:80:Z"}},
    {"bs at the edge", "^[[3;79Hab^HZ", "3;80", "3;80;1", {"3:79:Zb"}},
    {"bs twice at the edge", "^[[3;79Hab^H^HZ", "3;79", "3;79;1", {"3:78:Zab"}},
    {"reverse wrap bs at the edge", "^[[?45h^[[3;79Hab^HZ", "3;80", "3;80;1", {"3:79:aZ"}},
    {"reverse wrap bs over the wrap", "^[[?45h^[[3;79Habc^H^HZ", "3;80", "3;80;1", {"3:79:aZ", "4:1:c"}},
    {"ht at the edge", "^[[3;79Hab^IZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"cht at the edge", "^[[3;79Hab^[[IZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"cbt at the edge", "^[[3;79Hab^[[ZZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"el 0 at the edge", "^[[3;77Habcd^[[K", "3;80", "3;80;1", {"3:77:abc"}},
    {"el 1 at the edge", "^[[3;77Habcd^[[1K", "3;80", "3;80;1", {}},
    {"el 0 then print", "^[[3;77Habcd^[[KZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"ech at the edge", "^[[3;77Habcd^[[X", "3;80", "3;80;1", {"3:77:abc"}},
    {"decsel at the edge", "^[[3;77Habcd^[[?K", "3;80", "3;80;1", {"3:77:abc"}},
    {"ed 0 at the edge", "^[[3;77Habcd^[[J", "3;80", "3;80;1", {"3:77:abc"}},
    {"ich at the edge", "^[[3;77Habcd^[[@Z", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"dch at the edge", "^[[3;77Habcd^[[PZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"il at the edge", "^[[3;77Habcd^[[L^MZ", "3;2", "3;2;1", {"3:1:Z", "4:77:abcd"}},
    {"dl at the edge", "^[[3;77Habcd^[[M^MZ", "3;2", "3;2;1", {"3:1:Z"}},
    {"sgr keeps the wrap", "^[[3;77Habcd^[[1mZ", "4;2", "4;2;1", {"3:77:abcd", "4:1:Z"}},
    {"decsc decrc keep the wrap", "^[[3;77Habcd^[7^[[10;10H^[8Z", "4;2", "4;2;1", {"3:77:abcd", "4:1:Z"}},
    {"decrc of a plain save", "^[[3;77H^[7abcd^[8Z", "3;78", "3;78;1", {"3:77:Zbcd"}},
    {"cup ends the wrap", "^[[3;77Habcd^[[3;80HZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"autowrap off overwrites", "^[[?7l^[[3;77HabcdefZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"autowrap turned on at the edge", "^[[?7l^[[3;77Habcd^[[?7hZ", "4;2", "4;2;1", {"3:77:abcd", "4:1:Z"}},
    {"autowrap turned off at the edge", "^[[3;77Habcd^[[?7lZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"decbi at the edge", "^[[1;79Hxy^[6Z", "1;80", "1;80;1", {"1:79:Zy"}},
    {"decfi then print", "^[[1;79Hxy^[9Z", "2;2", "2;2;1", {"1:78:xy", "2:1:Z"}},
    {"margins cpr at the edge", "^[[?69h^[[5;9s^[[3;8Hab", "3;9", "3;9;1", {"3:8:ab"}},
    {"margins wrap", "^[[?69h^[[5;9s^[[3;8Habc", "4;6", "4;6;1", {"3:8:ab", "4:5:c"}},
    {"margins cub", "^[[?69h^[[5;9s^[[3;8Hab^[[DZ", "3;9", "3;9;1", {"3:8:Zb"}},
    {"margins cuf", "^[[?69h^[[5;9s^[[3;8Hab^[[CZ", "3;9", "3;9;1", {"3:8:aZ"}},
    {"margins cr", "^[[?69h^[[5;9s^[[3;8Hab^MZ", "3;6", "3;6;1", {"3:5:Z  ab"}},
    {"margins bs", "^[[?69h^[[5;9s^[[3;8Hab^HZ", "3;9", "3;9;1", {"3:8:Zb"}},
    {"margins ht", "^[[?69h^[[5;9s^[[3;8Hab^IZ", "4;6", "4;6;1", {"3:8:ab", "4:5:Z"}},
    {"margins cbt", "^[[?69h^[[5;9s^[[3;8Hab^[[ZZ", "4;6", "4;6;1", {"3:8:ab", "4:5:Z"}},
    {"margins el", "^[[?69h^[[5;9s^[[3;6Habcd^[[K", "3;9", "3;9;1", {"3:6:abc"}},
    {"margins ech", "^[[?69h^[[5;9s^[[3;6Habcd^[[X", "3;9", "3;9;1", {"3:6:abc"}},
    {"margins ich", "^[[?69h^[[5;9s^[[3;6Habcd^[[@Z", "3;9", "3;9;1", {"3:6:abcZ"}},
    {"margins dch", "^[[?69h^[[5;9s^[[3;6Habcd^[[PZ", "3;9", "3;9;1", {"3:6:abcZ"}},
    {"margins decfi", "^[[?69h^[[5;9s^[[3;5Habcde^[9", "3;9", "3;9;1", {"3:5:bcde"}},
    {"margins decbi", "^[[?69h^[[5;9s^[[3;5Habcde^[6Z", "3;9", "3;9;1", {"3:5:abcZe"}},
    {"margins decsc decrc", "^[[?69h^[[5;9s^[[3;8Hab^[7^[[1;1H^[8Z", "4;6", "4;6;1", {"3:8:ab", "4:5:Z"}},
    {"margins origin cpr", "^[[?69h^[[5;9s^[[2;20r^[[?6h^[[3;4Hab", "3;5", "3;5;1", {"4:8:ab"}},
    {"margins origin cub", "^[[?69h^[[5;9s^[[2;20r^[[?6h^[[3;4Hab^[[DZ", "3;5", "3;5;1", {"4:8:Zb"}},
    {"margins origin wrap", "^[[?69h^[[5;9s^[[2;20r^[[?6h^[[3;4Habc", "4;2", "4;2;1", {"4:8:ab", "5:5:c"}},
    {"cbt cpr at the edge", "^[[3;79Hab^[[Z", "3;73", "3;73;1", {"3:79:ab"}},
    {"ht cpr at the edge", "^[[3;79Hab^I", "3;80", "3;80;1", {"3:79:ab"}},
    {"cbt autowrap off", "^[[?7l^[[3;79Hab^[[ZZ", "3;74", "3;74;1", {"3:73:Z     ab"}},
    {"ed 0 then print", "^[[3;77Habcd^[[JZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"ech then print", "^[[3;77Habcd^[[XZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"decsel then print", "^[[3;77Habcd^[[?KZ", "3;80", "3;80;1", {"3:77:abcZ"}},
    {"el 2 then print", "^[[3;79Hab^[[2KZ", "3;80", "3;80;1", {"3:80:Z"}},
    {"su keeps the wrap", "^[[3;79Hab^[[SZ", "4;2", "4;2;1", {"2:79:ab", "4:1:Z"}},
    {"sd keeps the wrap", "^[[3;79Hab^[[TZ", "4;2", "4;2;1", {"4:1:Z                                                                             ab"}},
    {"ind at the edge", "^[[3;79Hab^[DZ", "4;80", "4;80;1", {"3:79:ab", "4:80:Z"}},
    {"ri at the edge", "^[[3;79Hab^[MZ", "2;80", "2;80;1", {"2:80:Z", "3:79:ab"}},
    {"nel at the edge", "^[[3;79Hab^[EZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"hpa at the edge", "^[[3;79Hab^[[80`Z", "3;80", "3;80;1", {"3:79:aZ"}},
    {"hpr at the edge", "^[[3;79Hab^[[aZ", "3;80", "3;80;1", {"3:79:aZ"}},
    {"vpa at the edge", "^[[3;79Hab^[[5dZ", "5;80", "5;80;1", {"3:79:ab", "5:80:Z"}},
    {"vpr at the edge", "^[[3;79Hab^[[eZ", "4;80", "4;80;1", {"3:79:ab", "4:80:Z"}},
    {"cha at the edge", "^[[3;79Hab^[[80GZ", "3;80", "3;80;1", {"3:79:aZ"}},
    {"decic keeps the wrap", "^[[3;77Habcd^[['}Z", "4;2", "4;2;1", {"3:77:abc", "4:1:Z"}},
    {"decdc keeps the wrap", "^[[3;77Habcd^[['~Z", "4;2", "4;2;1", {"3:77:abc", "4:1:Z"}},
    {"hts keeps the wrap", "^[[3;79Hab^[HZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"scosc scorc keep the wrap", "^[[3;79Hab^[[s^[[3;4H^[[uZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"rep wraps", "^[[3;79Hab^[[bZ", "4;3", "4;3;1", {"3:79:ab", "4:1:bZ"}},
    {"insert mode at the edge", "^[[3;77Habcd^[[4h^[[DZ", "3;80", "3;80;1", {"3:77:abZc"}},
    {"insert mode wrap", "^[[4h^[[3;79HabZ", "4;2", "4;2;1", {"3:79:ab", "4:1:Z"}},
    {"reverse wrap bs autowrap off", "^[[3;79Hab^[[?45h^[[?7l^HZ", "3;80", "3;80;1", {"3:79:Zb"}},
    {"reverse wrap cub at the edge", "^[[?45h^[[3;77Habcd^[[2DZ", "3;80", "3;80;1", {"3:77:abZd"}},
    {"margins autowrap off at the edge", "^[[?69h^[[5;9s^[[3;8Hab^[[?7lZ", "3;9", "3;9;1", {"3:8:aZ"}},
    {"margins il", "^[[?69h^[[5;9s^[[3;6Habcd^[[L^MZ", "3;6", "3;6;1", {"3:5:Z", "4:6:abcd"}},
    {"margins dl", "^[[4;5Hvwxyz^[[?69h^[[5;9s^[[3;6Habcd^[[M^MZ", "3;6", "3;6;1", {"3:5:Zwxyz"}},
    {"margins decdc", "^[[?69h^[[5;9s^[[3;6Habcd^[['~Z", "4;6", "4;6;1", {"3:6:abc", "4:5:Z"}},
    {"margins cursor right of the margin", "^[[?69h^[[5;9s^[[3;15Hab", "3;17", "3;17;1", {"3:15:ab"}},
    {"alternate screen keeps the wrap", "^[[3;79Hab^[[?47hZ", "4;2", "4;2;1", {"4:1:Z"}},
    {"wide at the edge", "^[[3;79H中^[[DZ", "3;80", "3;80;1", {"3:79:Z"}},
    {"wide wraps from the edge", "^[[3;80H中", "4;3", "4;3;1", {"4:1:中"}},
};
// clang-format on

/// The input with the table's caret notation turned into control characters.
std::string expandCarets(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '^' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == '[' ? '\x1b' : static_cast<char>(next - '@');
            continue;
        }
        out += text[i];
    }
    return out;
}

/// The screen in the table's form: each non-blank row as "row:first column:text".
std::vector<std::string> nonBlankRows(Terminal& terminal)
{
    std::vector<std::string> rows;
    for (int row = 0; row < terminal.rows(); ++row) {
        const std::string text = rowText(terminal, row);
        const size_t start = text.find_first_not_of(' ');
        if (start == std::string::npos)
            continue;
        rows.push_back(std::to_string(row + 1) + ":" + std::to_string(start + 1) + ":" + text.substr(start));
    }
    return rows;
}

TEST(TerminalRightEdgeTests, MatchesXtermAfterPrintingIntoTheLastColumn)
{
    for (const RightEdgeCase& edge : rightEdgeCases) {
        SCOPED_TRACE(edge.name);
        TerminalFixture fixture(80, 24);
        Terminal& t = fixture.t();
        t.feed(expandCarets(edge.input));
        fixture.delegate->sends.clear();
        t.feed("\x1b[6n");
        EXPECT_EQ(fixture.delegate->sent(), std::string("\x1b[") + edge.cpr + "R");
        fixture.delegate->sends.clear();
        t.feed("\x1b[?6n");
        EXPECT_EQ(fixture.delegate->sent(), std::string("\x1b[?") + edge.xcpr + "R");
        EXPECT_EQ(nonBlankRows(t), edge.rows);
    }
}

// A pending wrap left short of the limit (the margins switched off, a back tab) wraps the next
// character with a width whichever print path takes it: ASCII runs and single non-ASCII
// characters alike, fed whole or a byte at a time.
TEST(TerminalRightEdgeTests, AWrapPendingShortOfTheLimitWrapsEveryPrintPath)
{
    const std::string setUp = "\x1b[?69h\x1b[4;5s\x1b[1;4Hab\x1b[?69l";
    for (const std::string printed : {"x", "\xc3\xa9", "\xe0\xa4\xa8", "\xf0\x9f\x98\x80"}) {
        SCOPED_TRACE(printed);
        TerminalFixture whole(10, 4), bytes(10, 4);
        whole.t().feed(setUp + printed);
        for (const char byte : setUp + printed)
            bytes.t().feed(std::string(1, byte));
        for (TerminalFixture* fixture : {&whole, &bytes}) {
            EXPECT_EQ(rowText(fixture->t(), 0), "   ab");
            EXPECT_EQ(rowText(fixture->t(), 1), printed);
        }
    }
}

// A cursor right of the right margin prints on to the screen's edge; a wide character there is
// kept whether it arrives whole or a byte at a time.
TEST(TerminalRightEdgeTests, AWideCharacterRightOfTheMarginsIsKeptOnEveryPrintPath)
{
    const std::string setUp = "\x1b[?69h\x1b[1;2s\x1b[?7l\x1b[1;6H";
    const std::string wide = "\xe6\xbc\xa2";
    TerminalFixture whole(20, 3), bytes(20, 3);
    whole.t().feed(setUp + wide);
    for (const char byte : setUp + wide)
        bytes.t().feed(std::string(1, byte));
    for (TerminalFixture* fixture : {&whole, &bytes}) {
        EXPECT_EQ(rowText(fixture->t(), 0), "     " + wide);
        EXPECT_EQ(fixture->t().buffer().x(), 7);
    }
}

} // namespace
} // namespace kestrovan::testing
