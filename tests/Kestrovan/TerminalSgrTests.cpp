// SGR: every form folds into the attribute printed cells carry; the erase attribute follows the
// background only; unknown values are reported; a full arena degrades to the default look.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrovan::testing {
namespace {

using CellColor = Attribute::Color;

Attribute withStyle(CharacterStyle style, UnderlineStyle underline = UnderlineStyle::none)
{
    return Attribute(CellColor::defaultColor(), CellColor::defaultColor(), style, underline);
}

Attribute withForeground(CellColor color)
{
    return Attribute(color, CellColor::defaultColor());
}

Attribute withBackground(CellColor color)
{
    return Attribute(CellColor::defaultColor(), color);
}

Attribute withUnderlineColor(CellColor color)
{
    Attribute attribute;
    attribute.underlineColor = color;
    return attribute;
}

struct SgrCase
{
    const char* input;
    Attribute expected;
};

TEST(TerminalSgrTests, EveryFormSetsTheAttributeOfPrintedCells)
{
    const CharacterStyle underline = CharacterStyle::underline;
    const std::vector<SgrCase> cases = {
        {"\x1b[1m", withStyle(CharacterStyle::bold)},
        {"\x1b[2m", withStyle(CharacterStyle::dim)},
        {"\x1b[3m", withStyle(CharacterStyle::italic)},
        {"\x1b[4m", withStyle(underline, UnderlineStyle::single)},
        {"\x1b[5m", withStyle(CharacterStyle::blink)},
        {"\x1b[7m", withStyle(CharacterStyle::inverse)},
        {"\x1b[8m", withStyle(CharacterStyle::invisible)},
        {"\x1b[9m", withStyle(CharacterStyle::crossedOut)},
        {"\x1b[21m", withStyle(underline, UnderlineStyle::double_)},
        {"\x1b[1;21m", withStyle(CharacterStyle::bold | underline, UnderlineStyle::double_)},
        {"\x1b[4:1m", withStyle(underline, UnderlineStyle::single)},
        {"\x1b[4:2m", withStyle(underline, UnderlineStyle::double_)},
        {"\x1b[4:3m", withStyle(underline, UnderlineStyle::curly)},
        {"\x1b[4:4m", withStyle(underline, UnderlineStyle::dotted)},
        {"\x1b[4:5m", withStyle(underline, UnderlineStyle::dashed)},
        {"\x1b[4:9m", withStyle(underline, UnderlineStyle::single)},
        {"\x1b[4:3m\x1b[4:0m", Attribute()},
        {"\x1b[4;3m", withStyle(underline | CharacterStyle::italic, UnderlineStyle::single)},
        {"\x1b[30m", withForeground(CellColor::ansi256(0))},
        {"\x1b[37m", withForeground(CellColor::ansi256(7))},
        {"\x1b[40m", withBackground(CellColor::ansi256(0))},
        {"\x1b[47m", withBackground(CellColor::ansi256(7))},
        {"\x1b[90m", withForeground(CellColor::ansi256(8))},
        {"\x1b[97m", withForeground(CellColor::ansi256(15))},
        {"\x1b[100m", withBackground(CellColor::ansi256(8))},
        {"\x1b[107m", withBackground(CellColor::ansi256(15))},
        {"\x1b[38;5;200m", withForeground(CellColor::ansi256(200))},
        {"\x1b[38;5;300m", withForeground(CellColor::ansi256(255))},
        {"\x1b[48;5;17m", withBackground(CellColor::ansi256(17))},
        {"\x1b[38:5:123m", withForeground(CellColor::ansi256(123))},
        {"\x1b[48:5:999m", withBackground(CellColor::ansi256(255))},
        {"\x1b[38;2;10;20;30m", withForeground(CellColor::trueColor(10, 20, 30))},
        {"\x1b[38;2;300;20;30m", withForeground(CellColor::trueColor(255, 20, 30))},
        {"\x1b[48;2;1;2;3m", withBackground(CellColor::trueColor(1, 2, 3))},
        {"\x1b[38:2::10:20:30m", withForeground(CellColor::trueColor(10, 20, 30))},
        {"\x1b[38:2:10:20:30m", withForeground(CellColor::trueColor(10, 20, 30))},
        {"\x1b[38:2:7:10:20:30:99m", withForeground(CellColor::trueColor(10, 20, 30))},
        {"\x1b[58;5;9m", withUnderlineColor(CellColor::ansi256(9))},
        {"\x1b[58:2::1:2:3m", withUnderlineColor(CellColor::trueColor(1, 2, 3))},
        // Truncated and unknown extended forms leave the colour alone and resume after them.
        {"\x1b[38:2:10:20;1m", withStyle(CharacterStyle::bold)},
        {"\x1b[38;5m", Attribute()},
        // 38;2 without three components uses only the 2: the 1 and 2 after it are bold and dim.
        {"\x1b[38;2;1;2m", withStyle(CharacterStyle::bold | CharacterStyle::dim)},
        {"\x1b[38;7;1m", withStyle(CharacterStyle::bold)},
        {"\x1b[38:5m", Attribute()},
        {"\x1b[31m\x1b[38;5m", withForeground(CellColor::ansi256(1))},
        // Clearing.
        {"\x1b[1;2m\x1b[22m", Attribute()},
        {"\x1b[3m\x1b[23m", Attribute()},
        {"\x1b[4:3m\x1b[24m", Attribute()},
        {"\x1b[5m\x1b[25m", Attribute()},
        {"\x1b[7m\x1b[27m", Attribute()},
        {"\x1b[8m\x1b[28m", Attribute()},
        {"\x1b[9m\x1b[29m", Attribute()},
        {"\x1b[31m\x1b[39m", Attribute()},
        {"\x1b[41m\x1b[49m", Attribute()},
        {"\x1b[58;5;3m\x1b[59m", Attribute()},
        {"\x1b[1;31;44;4:3;58;5;2m\x1b[m", Attribute()},
        {"\x1b[1;31;0m", Attribute()},
        {"\x1b[0;1m", withStyle(CharacterStyle::bold)},
        // A combination in one sequence.
        {"\x1b[1;3;4:5;38;5;99;48:2::4:5:6;58:5:7m",
         Attribute(CellColor::ansi256(99), CellColor::trueColor(4, 5, 6),
                   CharacterStyle::bold | CharacterStyle::italic | underline, UnderlineStyle::dashed,
                   CellColor::ansi256(7))},
        // Any intermediate byte makes the sequence something else.
        {"\x1b[>1m", Attribute()},
        {"\x1b[?4m", Attribute()},
        {"\x1b[1 m", Attribute()},
    };
    for (const SgrCase& sgr : cases) {
        TerminalFixture fixture;
        Terminal& t = fixture.t();
        t.feed(sgr.input);
        t.feed("X");
        const std::string label = "after ESC" + std::string(sgr.input + 1);
        EXPECT_EQ(t.innerState().currentAttribute, sgr.expected) << label;
        const std::optional<CharData> cell = t.getCharData(0, 0);
        ASSERT_TRUE(cell.has_value());
        EXPECT_EQ(cell->attribute, sgr.expected) << label << ": the printed cell";
        EXPECT_EQ(t.cellArena()->attribute(t.innerState().curStyleID), sgr.expected)
            << label << ": the style id";
    }
}

TEST(TerminalSgrTests, AttributesApplyToWhatIsPrintedAfterThem)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed("a\x1b[1;31mb\x1b[22mc\x1b[0md");
    EXPECT_EQ(rowText(t, 0), "abcd");
    EXPECT_EQ(t.getCharData(0, 0)->attribute, Attribute());
    EXPECT_EQ(t.getCharData(1, 0)->attribute,
              Attribute(CellColor::ansi256(1), CellColor::defaultColor(), CharacterStyle::bold));
    EXPECT_EQ(t.getCharData(2, 0)->attribute, withForeground(CellColor::ansi256(1)));
    EXPECT_EQ(t.getCharData(3, 0)->attribute, Attribute());
}

// SGR starts from the attribute in effect, whoever set it last: restoring the cursor (by DECRC or
// by leaving the alternate screen) or a reset between two SGRs must not let the second one build
// on the first.
TEST(TerminalSgrTests, SgrBuildsOnTheAttributeOtherPathsLeft)
{
    const Attribute redUnderlined(CellColor::ansi256(1), CellColor::defaultColor(), CharacterStyle::underline,
                                  UnderlineStyle::single);
    struct Case
    {
        const char* label;
        std::function<void(Terminal&)> between;
        Attribute expected;
    };
    const std::vector<Case> cases = {
        {"restore cursor",
         [](Terminal& t) {
             t.feed("\x1b[31m\x1b"
                    "7\x1b[1;44m\x1b"
                    "8");
         },
         redUnderlined},
        {"soft reset", [](Terminal& t) { t.feed("\x1b[1;44m\x1b[!p"); },
         withStyle(CharacterStyle::underline, UnderlineStyle::single)},
        {"full reset",
         [](Terminal& t) {
             t.feed("\x1b[1;44;58;5;3m\x1b"
                    "c");
         },
         withStyle(CharacterStyle::underline, UnderlineStyle::single)},
        {"leaving the alternate screen",
         [](Terminal& t) { t.feed("\x1b[31m\x1b[?1049h\x1b[1;44m\x1b[?1049l"); }, redUnderlined},
    };
    for (const Case& sgrCase : cases) {
        TerminalFixture fixture;
        Terminal& t = fixture.t();
        sgrCase.between(t);
        t.feed("\x1b[4mX");
        EXPECT_EQ(t.innerState().currentAttribute, sgrCase.expected) << sgrCase.label;
        EXPECT_EQ(t.cellArena()->attribute(t.innerState().curStyleID), sgrCase.expected)
            << sgrCase.label << ": the style id";
        EXPECT_EQ(t.getCharData(t.buffer().x() - 1, t.buffer().y())->attribute, sgrCase.expected)
            << sgrCase.label << ": the printed cell";
        // And back to the default, which must also undo what the other path set.
        t.feed("\x1b[0mY");
        EXPECT_EQ(t.innerState().currentAttribute, Attribute()) << sgrCase.label << " then SGR 0";
        EXPECT_EQ(t.innerState().curStyleID, 0) << sgrCase.label << " then SGR 0";
    }
}

TEST(TerminalSgrTests, EraseAttributeFollowsTheBackgroundOnly)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    const auto eraseAttribute = [&] {
        return t.cellArena()->attribute(t.innerState().currentEraseBlankCell.attributeID());
    };

    t.feed("\x1b[31;1;44m");
    const Attribute blueErase = withBackground(CellColor::ansi256(4));
    EXPECT_EQ(t.innerState().currentEraseAttribute, blueErase)
        << "default foreground, no style, the new background";
    EXPECT_EQ(eraseAttribute(), blueErase);
    EXPECT_EQ(t.innerState().currentEraseBlankCell.scalar(), 0u);
    EXPECT_EQ(t.innerState().currentEraseSpaceCell.scalar(), U' ');
    EXPECT_EQ(t.innerState().currentEraseSpaceCell.attributeID(),
              t.innerState().currentEraseBlankCell.attributeID());

    // Lines scrolled in at the bottom are filled with the erase cell.
    t.feed("\n\n\n");
    EXPECT_EQ(t.getCharData(5, 2)->attribute.bg, CellColor::ansi256(4)) << "new line has the background";
    EXPECT_EQ(t.getCharData(5, 2)->attribute.fg, CellColor::defaultColor()) << "but not the foreground";

    // Changing anything but the background leaves the erase cells alone.
    const uint64_t blank = t.innerState().currentEraseBlankCell.rawValue;
    const int interned = t.cellArena()->attributeCount();
    t.feed("\x1b[22;3;32m");
    EXPECT_EQ(t.innerState().currentEraseBlankCell.rawValue, blank);
    EXPECT_EQ(t.cellArena()->attributeCount(), interned + 1) << "only the new current attribute is interned";
    t.feed("\x1b[44m");
    EXPECT_EQ(t.innerState().currentEraseBlankCell.rawValue, blank)
        << "the same background counts as unchanged";

    // When the erase attribute equals the current one it shares its id.
    t.feed("\x1b[0;48;2;1;2;3m");
    EXPECT_EQ(t.innerState().currentEraseAttribute, withBackground(CellColor::trueColor(1, 2, 3)));
    EXPECT_EQ(t.innerState().currentEraseBlankCell.attributeID(), t.innerState().curStyleID);

    // Back to the default background: erase cells go back to style 0.
    t.feed("\x1b[m");
    EXPECT_EQ(t.innerState().currentEraseAttribute, Attribute());
    EXPECT_EQ(t.innerState().currentEraseBlankCell.attributeID(), 0);
    EXPECT_EQ(t.innerState().curStyleID, 0);

    t.feed("\x1b[45m\x1b[49m");
    EXPECT_EQ(t.innerState().currentEraseAttribute, Attribute()) << "SGR 49 resets the erase background too";

    // The background dropped while a foreground stays (a word on a colour of its own among coloured
    // words, after an erase that used that colour): the erase look is the default again, though the
    // current look is not.
    t.feed("\x1b[31;45m\x1b[K\x1b[49m\n\n\n");
    EXPECT_EQ(t.innerState().currentEraseAttribute, Attribute()) << "SGR 49 with a foreground";
    EXPECT_EQ(t.innerState().currentEraseBlankCell.attributeID(), 0);
    EXPECT_NE(t.innerState().curStyleID, 0);
    EXPECT_EQ(t.getCharData(5, 2)->attribute, Attribute()) << "a line scrolled in after it is plain";
}

TEST(TerminalSgrTests, RepeatingAnAttributeDoesNotInternAgain)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[1m");
    const uint16_t id = t.innerState().curStyleID;
    const int interned = t.cellArena()->attributeCount();
    const uint64_t erase = t.innerState().currentEraseBlankCell.rawValue;
    t.feed("\x1b[1m\x1b[1;1m");
    EXPECT_EQ(t.innerState().curStyleID, id);
    EXPECT_EQ(t.cellArena()->attributeCount(), interned);
    EXPECT_EQ(t.innerState().currentEraseBlankCell.rawValue, erase);

    t.feed("\x1b[0m\x1b[m\x1b[0m");
    EXPECT_EQ(t.innerState().curStyleID, 0);
    EXPECT_EQ(t.innerState().currentAttribute, Attribute());
}

// Leading true colours are folded ahead of the general parameter walk, and a whole sequence of
// one or two colour groups is read in one go when the chunk holds enough bytes after it (the
// padding). A "59" in front (no underline colour, which none of the starting looks has) sends the
// same parameters through the general walk alone: both must give the same look, from several
// starting looks.
TEST(TerminalSgrTests, LeadingTrueColoursFoldAsTheGeneralWalkDoes)
{
    const std::vector<std::string> starts = {"", "1;4:3;31;44", "38;2;9;9;9;48;5;3;7"};
    const std::vector<std::string> forms = {
        "38;2;1;2;3",
        "48;2;4;5;6",
        "38;2;1;2;3;48;2;4;5;6",
        "48;2;4;5;6;38;2;1;2;3",
        "38;2;1;2;3;38;2;7;8;9",
        "38;2;300;65535;0",
        "38;2;;;",
        "38;2;1;2",
        "38;2;1;2;3;48;2",
        "38;2;1;2;3;1;48;2;4;5;6",
        "38;2;1;2;3;48;5;9",
        "48;2;1;2;3;58;2;4;5;6",
        "38;5;2;3;4;5",
        "38;2;1;2;3;0",
        "38;2;1;2;3;4:3",
        "38:2:1:2:3;48;2;4;5;6",
        "1;2;3;4;5;6",
        "38;2;255;0;9;48;2;10;200;7",
        "48;2;1;2;3;48;2;7;8;9",
        "38;2;999;256;1000",
        "38;2;1;2;3;48;2;4;5;6;38;2;7;8;9",
        "38;2;1;2;3;48;2;4;5;6;1",
        "38;2;1;2:3",
        "38;2;1;2;3;48:2:4:5:6",
        "38;2;0001;2;3",
        "48;2;;7;",
    };
    const std::string padding(60, ' ');
    for (const std::string& start : starts) {
        for (const std::string& form : forms) {
            for (const std::string& after : {std::string(), padding}) {
                TerminalFixture folded;
                TerminalFixture walked;
                folded.t().feed("\x1b[" + start + "m\x1b[" + form + "m" + after);
                walked.t().feed("\x1b[" + start + "m\x1b[59;" + form + "m" + after);
                const std::string label = start + " then " + form + (after.empty() ? "" : " padded");
                EXPECT_EQ(folded.t().innerState().currentAttribute, walked.t().innerState().currentAttribute)
                    << label;
                EXPECT_EQ(folded.t().cellArena()->attribute(folded.t().innerState().curStyleID),
                          walked.t().innerState().currentAttribute)
                    << label;
                EXPECT_EQ(folded.t().innerState().currentEraseAttribute,
                          walked.t().innerState().currentEraseAttribute)
                    << label;
            }
        }
    }
}

// More looks than the arena's cache has slots, seen twice over in a different order, with
// underline colours among them: every look found again must come back with its own id, however
// the cache slots collide.
TEST(TerminalSgrTests, ManyLooksSeenAgainKeepTheirIds)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    const auto look = [](int n) {
        return "\x1b[38;2;" + std::to_string(n % 256) + ";" + std::to_string(n / 256) + ";7" +
               (n % 3 == 0 ? ";58;2;1;2;" + std::to_string(n % 200) : std::string(";59")) + "m";
    };
    constexpr int looks = 12000;
    std::vector<uint16_t> ids(looks);
    for (int n = 0; n < looks; ++n) {
        t.feed(look(n));
        ids[n] = t.innerState().curStyleID;
    }
    for (int n = looks; n-- > 0;) {
        t.feed(look(n));
        ASSERT_EQ(t.innerState().curStyleID, ids[n]) << look(n).substr(1);
        Attribute expected(
            CellColor::trueColor(static_cast<uint8_t>(n % 256), static_cast<uint8_t>(n / 256), 7),
            CellColor::defaultColor());
        if (n % 3 == 0)
            expected.underlineColor = CellColor::trueColor(1, 2, static_cast<uint8_t>(n % 200));
        ASSERT_EQ(t.innerState().currentAttribute, expected) << look(n).substr(1);
        ASSERT_EQ(t.cellArena()->attribute(ids[n]), expected) << look(n).substr(1);
    }
}

TEST(TerminalSgrTests, UnknownValuesAreReportedUnlessSilent)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    DiagnosticCapture capture;
    t.feed("\x1b[6m");
    EXPECT_TRUE(capture.lines.empty()) << "silentLog is on by default";
    EXPECT_EQ(t.innerState().currentAttribute, Attribute());

    t.setSilentLog(false);
    t.feed("\x1b[6m");
    t.feed("\x1b[1;6;31;200m");
    ASSERT_EQ(capture.lines.size(), 3u);
    EXPECT_EQ(capture.lines[0], "Info: Unknown SGR attribute: 6 [6]");
    EXPECT_EQ(capture.lines[1], "Info: Unknown SGR attribute: 6 [1, 6, 31, 200]");
    EXPECT_EQ(capture.lines[2], "Info: Unknown SGR attribute: 200 [1, 6, 31, 200]");
    EXPECT_EQ(t.innerState().currentAttribute,
              Attribute(CellColor::ansi256(1), CellColor::defaultColor(), CharacterStyle::bold))
        << "the known values around an unknown one still apply";

    t.feed("\x1b[>6m");
    EXPECT_EQ(capture.lines.size(), 3u) << "a sequence with intermediates is not SGR at all";
}

TEST(TerminalSgrTests, AFullArenaFallsBackToTheDefaultAttribute)
{
    // A screen large enough to show more distinct looks than the arena has ids, and no
    // scrollback whose lines could give theirs up: the ids stay in use.
    TerminalFixture fixture(300, 220, 0);
    Terminal& t = fixture.t();
    t.feed("\x1b[44m");
    // Every foreground true colour with blue 0 on that background is a new attribute, each shown
    // by a cell: more than the 65535 ids the arena has.
    std::string fill;
    for (int red = 0; red < 256; ++red) {
        for (int green = 0; green < 256; ++green)
            fill += "\x1b[38;2;" + std::to_string(red) + ";" + std::to_string(green) + ";0mx";
    }
    t.feed(fill);
    EXPECT_EQ(t.cellArena()->attributeCount(), t.cellArena()->attributeCapacity() + 1);

    const int x = t.buffer().x();
    const int y = t.buffer().y();
    t.feed("\x1b[1;38;2;9;9;9mZ");
    EXPECT_EQ(t.innerState().currentAttribute, Attribute()) << "the arena could not name the new look";
    EXPECT_EQ(t.innerState().curStyleID, 0);
    EXPECT_EQ(t.getCharData(x, y)->code, U'Z') << "printing goes on";
    EXPECT_EQ(t.getCharData(x, y)->attribute, Attribute());
    EXPECT_EQ(t.innerState().currentEraseAttribute, Attribute()) << "the background fell back with it";
    EXPECT_EQ(t.innerState().currentEraseBlankCell.attributeID(), 0);
}

} // namespace
} // namespace kestrovan::testing
