// The print path as programs see it: UTF-8 decoding and bytes carried between feeds, grapheme
// clusters joined into one cell, widths and presentation selectors, wide characters at the edge,
// character sets, insert mode, margins and the payload printed cells carry.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalLinks.h"
#include "Kestrovan/TerminalTextExtraction.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace kestrovan::testing {
namespace {

/// The UTF-8 text of one cell, "" for an empty cell.
std::string cellText(Terminal& t, int col, int row)
{
    const std::optional<CharData> data = t.getCharData(col, row);
    if (!data || (data->code == 0 && !data->graphemeScalarValues))
        return "";
    return data->getText();
}

/// The display width of one cell: 1, 2, or 0 for the right half of a wide character.
int cellWidth(Terminal& t, int col, int row)
{
    return packedAt(t, col, row).width();
}

/// DECAWM.
void setAutoWrap(Terminal& t, bool on)
{
    t.feed(on ? "\x1b[?7h" : "\x1b[?7l");
}

/// DECLRMM, then DECSLRM with the margins at columns `left`...`right`.
void setLeftRightMargins(Terminal& t, int left, int right)
{
    t.feed("\x1b[?69h\x1b[" + std::to_string(left + 1) + ";" + std::to_string(right + 1) + "s");
}

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int value : values)
        out.push_back(static_cast<char>(value));
    return out;
}

TEST(TerminalPrintTests, CombiningMarksJoinTheCellBeforeTheCursor)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();

    t.feed("e\u0301x");
    EXPECT_EQ(cellText(t, 0, 0), "e\u0301") << "e and U+0301 share one cell";
    EXPECT_EQ(cellWidth(t, 0, 0), 1);
    EXPECT_EQ(cellText(t, 1, 0), "x");
    EXPECT_EQ(t.buffer().x(), 2);

    t.feed("\r\ne");
    t.feed("\u0301\u0308");
    EXPECT_EQ(cellText(t, 0, 1), "e\u0301\u0308") << "marks in a later feed join what an earlier one printed";
    EXPECT_EQ(t.buffer().x(), 1);

    t.feed("\r\n\u0301a");
    EXPECT_EQ(cellText(t, 0, 2), "a") << "a mark at column 0 of an empty line prints nothing";

    TerminalFixture wide(10, 3);
    Terminal& w = wide.t();
    w.feed("\u4e2d\u0301");
    EXPECT_EQ(cellText(w, 0, 0), "\u4e2d\u0301") << "a mark after a wide character joins its left half";
    EXPECT_EQ(cellWidth(w, 0, 0), 2);
    EXPECT_EQ(cellWidth(w, 1, 0), 0);
    EXPECT_EQ(w.buffer().x(), 2);

    w.feed("\r\n123456789X\u0301");
    EXPECT_EQ(cellText(w, 9, 1), "X\u0301") << "a pending wrap still joins the last column";
    EXPECT_EQ(w.buffer().x(), 9);
    EXPECT_TRUE(w.buffer().wrapPending());
    EXPECT_EQ(cellText(w, 0, 2), "");

    moveCursor(w, 0, 2);
    w.feed("ab");
    moveCursor(w, 5, 2);
    w.feed("\u0301");
    EXPECT_EQ(rowText(w, 2), "ab") << "a mark after an empty cell prints nothing";
}

TEST(TerminalPrintTests, EmojiSequencesTakeOneCellPair)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();

    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    t.feed(family + "|");
    EXPECT_EQ(cellText(t, 0, 0), family) << "a ZWJ sequence is one cluster";
    EXPECT_EQ(cellWidth(t, 0, 0), 2);
    EXPECT_EQ(cellWidth(t, 1, 0), 0);
    EXPECT_EQ(cellText(t, 2, 0), "|");

    t.feed("\r\n\U0001F44B\U0001F3FB|a\U0001F3FB|");
    EXPECT_EQ(cellText(t, 0, 1), "\U0001F44B\U0001F3FB") << "a skin tone joins a waving hand";
    EXPECT_EQ(cellWidth(t, 0, 1), 2);
    EXPECT_EQ(cellText(t, 2, 1), "|");
    EXPECT_EQ(cellText(t, 3, 1), "a");
    EXPECT_EQ(cellText(t, 4, 1), "\U0001F3FB") << "after a letter a skin tone starts its own cell";
    EXPECT_EQ(cellWidth(t, 4, 1), 2);
    EXPECT_EQ(cellText(t, 6, 1), "|");

    t.feed("\r\na\u200Db");
    EXPECT_EQ(cellText(t, 0, 2), "a\u200D") << "a joiner is kept in the cell it follows";
    EXPECT_EQ(cellText(t, 1, 2), "b") << "a letter after a joiner is not part of an emoji sequence";
}

TEST(TerminalPrintTests, RegionalIndicatorsPairIntoFlags)
{
    const std::string us = "\U0001F1FA\U0001F1F8";
    const std::string single = "\U0001F1EB";
    {
        TerminalFixture fixture(20, 3);
        Terminal& t = fixture.t();
        ASSERT_EQ(t.options().regionalIndicatorWidth, RegionalIndicatorWidth::wide);
        t.feed(single + "|\r\n" + us + "|\r\n" + us + single + "|");
        EXPECT_EQ(cellWidth(t, 0, 0), 2) << "wide: a lone indicator takes two columns";
        EXPECT_EQ(cellText(t, 2, 0), "|");
        EXPECT_EQ(cellText(t, 0, 1), us) << "two indicators are one flag cell";
        EXPECT_EQ(cellWidth(t, 0, 1), 2);
        EXPECT_EQ(cellText(t, 2, 1), "|");
        EXPECT_EQ(cellText(t, 0, 2), us);
        EXPECT_EQ(cellText(t, 2, 2), single) << "a third indicator starts a new cell";
        EXPECT_EQ(cellText(t, 4, 2), "|");
    }
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 20;
        options.rows = 3;
        options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
        TerminalFixture fixture(options);
        Terminal& t = fixture.t();
        t.feed(single + "|\r\n" + us + "|");
        EXPECT_EQ(cellWidth(t, 0, 0), 1) << "narrow: a lone indicator takes one column";
        EXPECT_EQ(cellText(t, 1, 0), "|");
        EXPECT_EQ(cellText(t, 0, 1), us) << "narrow: a pair still makes one flag";
        EXPECT_EQ(cellWidth(t, 0, 1), 2) << "narrow: the flag is widened to two columns";
        EXPECT_EQ(cellText(t, 2, 1), "|");
    }
}

TEST(TerminalPrintTests, PresentationSelectorsWidenAndNarrow)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();

    t.feed("\u2764\uFE0F|");
    EXPECT_EQ(cellText(t, 0, 0), "\u2764\uFE0F") << "VS16 asks for emoji presentation";
    EXPECT_EQ(cellWidth(t, 0, 0), 2);
    EXPECT_EQ(cellText(t, 2, 0), "|");

    t.feed("\r\n\u3030\uFE0E|");
    EXPECT_EQ(cellText(t, 0, 1), "\u3030\uFE0E") << "VS15 asks for text presentation";
    EXPECT_EQ(cellWidth(t, 0, 1), 1);
    EXPECT_EQ(cellWidth(t, 1, 1), 1) << "the right half became an ordinary cell";
    EXPECT_EQ(cellText(t, 1, 1), "|") << "the cursor stepped back onto the freed column";

    t.feed("\r\nA\uFE0F\u4e2d\uFE0E");
    EXPECT_EQ(cellText(t, 0, 2), "A") << "a selector after a character without two presentations is dropped";
    EXPECT_EQ(cellText(t, 1, 2), "\u4e2d");
    EXPECT_EQ(cellWidth(t, 1, 2), 2);
    EXPECT_EQ(t.buffer().x(), 3);

    t.feed("\r\n#\uFE0F\u20E3");
    EXPECT_EQ(cellText(t, 0, 3), "#\uFE0F\u20E3") << "a keycap sequence is one cell";
    EXPECT_EQ(cellWidth(t, 0, 3), 2);
}

TEST(TerminalPrintTests, EmojiPresentationAtTheRightEdge)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    moveCursor(t, 9, 0);
    t.feed("\u2764\uFE0F");
    EXPECT_EQ(cellText(t, 9, 0), "") << "with auto-wrap the last column is left blank";
    EXPECT_EQ(cellText(t, 0, 1), "\u2764\uFE0F") << "the widened character moves to the next line";
    EXPECT_EQ(cellWidth(t, 0, 1), 2);
    EXPECT_TRUE(t.getLine(1)->isWrapped());
    EXPECT_EQ(t.buffer().x(), 2);
    EXPECT_EQ(t.buffer().y(), 1);

    TerminalFixture noWrap(10, 3);
    Terminal& n = noWrap.t();
    setAutoWrap(n, false);
    moveCursor(n, 9, 0);
    n.feed("\u2764\uFE0F");
    EXPECT_EQ(cellText(n, 9, 0), "\u2764\uFE0F") << "without auto-wrap it stays in the last column";
    EXPECT_EQ(cellWidth(n, 9, 0), 1) << "and one column wide";
    EXPECT_EQ(n.buffer().y(), 0);

    TerminalFixture beforeWide(10, 3);
    Terminal& b = beforeWide.t();
    b.feed("\u2764\u4e2d");
    moveCursor(b, 1, 0);
    b.feed("\uFE0F");
    EXPECT_EQ(cellWidth(b, 0, 0), 2) << "widening over a wide character";
    EXPECT_EQ(cellText(b, 2, 0), "") << "the cut wide character loses its other half";
    EXPECT_EQ(cellWidth(b, 2, 0), 1);
}

TEST(TerminalPrintTests, IndicAndHangulClustersJoin)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();

    t.feed("\u0915\u093E|");
    EXPECT_EQ(cellText(t, 0, 0), "\u0915\u093E") << "a spacing vowel sign joins its consonant";
    EXPECT_EQ(cellWidth(t, 0, 0), 2) << "and makes it two columns";
    EXPECT_EQ(cellText(t, 2, 0), "|");

    t.feed("\r\n\u0915\u094D|");
    EXPECT_EQ(cellText(t, 0, 1), "\u0915\u094D") << "a virama joins";
    EXPECT_EQ(cellWidth(t, 0, 1), 1) << "but keeps one column";
    EXPECT_EQ(cellText(t, 1, 1), "|");

    t.feed("\r\n\u0915\u094D\u0937|");
    EXPECT_EQ(cellText(t, 0, 2), "\u0915\u094D\u0937") << "consonant, virama, consonant is one conjunct";
    EXPECT_EQ(cellText(t, 2, 2), "|");

    t.feed("\r\n\u1100\u1161\u11A8|");
    EXPECT_EQ(cellText(t, 0, 3), "\u1100\u1161\u11A8") << "Hangul jamo L V T are one syllable";
    EXPECT_EQ(cellWidth(t, 0, 3), 2);
    EXPECT_EQ(cellText(t, 2, 3), "|");
}

TEST(TerminalPrintTests, DecodesUtf8AndPrintsMalformedBytesAsLatin1)
{
    TerminalFixture fixture(20, 6);
    Terminal& t = fixture.t();

    t.feed(bytes({0xFF, '|', 0x85, '|', 0xC0, 0x80, '|', 0xF5}));
    EXPECT_EQ(rowText(t, 0), "\u00FF||\u00C0|\u00F5")
        << "bytes that cannot start a sequence print as U+0080-U+00FF, those without a width print nothing";

    // A byte that cannot continue a sequence ends it: only the lead is bad, and the byte itself
    // is decoded afresh. As a whole-sequence rule would have it, C3 41 printed only U+00C3.
    t.feed("\r\n" + bytes({0xC3, 0x41, '|', 0xE2, 0x82, 0x41, '|', 0xF0, 0x9F, 0xC3, 0xA9}));
    EXPECT_EQ(rowText(t, 1), "\u00C3A|\u00E2A|\u00F0\u00E9")
        << "no valid character after a broken sequence is lost";

    t.feed("\r\n" + bytes({0xE0, 0x80, 0x80, '|', 0xED, 0xA0, 0x80, '|', 0xF4, 0x90, 0x80, 0x80, '|'}));
    EXPECT_EQ(rowText(t, 2), "\u00E0|\u00ED|\u00F4|")
        << "overlong forms, surrogates and values past U+10FFFF are consumed whole";

    t.feed("\r\n\u00E9\u4e2d\U0001F600\x7F|");
    EXPECT_EQ(rowText(t, 3), "\u00E9\u4e2d\U0001F600|")
        << "valid sequences of two, three and four bytes; DEL prints nothing";
    EXPECT_EQ(cellWidth(t, 1, 3), 2);
    EXPECT_EQ(cellWidth(t, 3, 3), 2);

    t.feed("\r\nabc\x7f"
           "def");
    EXPECT_EQ(rowText(t, 4), "abcdef") << "DEL inside ASCII text prints nothing on the fast road either";
}

TEST(TerminalPrintTests, SequencesSplitAcrossFeedsAreCarriedOver)
{
    TerminalFixture fixture(20, 6);
    Terminal& t = fixture.t();

    t.feed("a\xE9");
    EXPECT_EQ(rowText(t, 0), "a") << "a run ending in a lead byte prints nothing for it yet";
    EXPECT_EQ(t.innerState().readingBuffer, std::vector<uint8_t>{0xE9});
    t.feed("\x80");
    EXPECT_EQ(rowText(t, 0), "a");
    t.feed("\x80z");
    EXPECT_EQ(rowText(t, 0), "a\u9000z") << "three feeds complete one character";
    EXPECT_TRUE(t.innerState().readingBuffer.empty());

    t.feed("\r\n");
    for (char byte : std::string("\U0001F600"))
        t.feed(std::string(1, byte));
    t.feed("\xC3");
    t.feed("\xA9"
           "abc");
    EXPECT_EQ(rowText(t, 1), "\U0001F600\u00E9abc")
        << "a four-byte emoji fed byte by byte, then ASCII after a split";

    t.feed("\r\n\xE2");
    t.feed("A");
    t.feed("\xE2\x82");
    t.feed("B");
    EXPECT_EQ(rowText(t, 2), "\u00E2A\u00E2B") << "a put-back run broken by the next feed keeps the letter";

    t.feed("\r\n\xE0\x80");
    EXPECT_EQ(t.innerState().readingBuffer.size(), 2u)
        << "continuation bytes are put back even if overlong so far";
    t.feed("\x80|");
    EXPECT_EQ(rowText(t, 3), "\u00E0|");

    t.feed("\r\n\xE2");
    t.feed("\x1b[1m");
    t.feed("\x82\xAC!");
    EXPECT_EQ(rowText(t, 4), "\u20AC!") << "a control sequence between the halves does not lose them";
}

TEST(TerminalPrintTests, CharacterSetsTranslateOnTheSlowRoad)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b(0lq\u00e9\u4e2dqk");
    EXPECT_EQ(rowText(t, 0), "\u250C\u2500\u00E9\u4E2D\u2500\u2510")
        << "ASCII translated, other text untouched";
    EXPECT_EQ(cellWidth(t, 3, 0), 2);

    t.feed("\r\nq\u0301");
    EXPECT_EQ(cellText(t, 0, 1), "\u2500\u0301") << "a mark joins the translated character";

    t.feed("\r\n\x1b(Aa#b");
    EXPECT_EQ(rowText(t, 2), "a\u00A3b") << "bytes without an entry print unchanged";
}

TEST(TerminalPrintTests, WideCharactersAtTheRightEdge)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("123456789\u4e2d\u6587");
    EXPECT_EQ(rowText(t, 0), "123456789") << "the last column cannot hold a wide character";
    EXPECT_EQ(rowText(t, 1), "\u4e2d\u6587") << "so it wraps whole to the next line";
    EXPECT_TRUE(t.getLine(1)->isWrapped());
    EXPECT_EQ(t.buffer().x(), 4);

    TerminalFixture noWrap(10, 3);
    Terminal& n = noWrap.t();
    setAutoWrap(n, false);
    n.feed("123456789\u4e2d\u6587");
    EXPECT_EQ(rowText(n, 0), "123456789")
        << "without auto-wrap a wide character that does not fit is dropped";
    EXPECT_EQ(n.buffer().x(), 9);
    n.feed("xy\u00e9");
    EXPECT_EQ(rowText(n, 0), "123456789\u00e9") << "narrow characters overwrite the last column";
    EXPECT_EQ(rowText(n, 1), "");
    n.feed("\r12345678\u4e2d");
    EXPECT_EQ(rowText(n, 0), "12345678\u4e2d") << "a wide character that just fits is written";
}

TEST(TerminalPrintTests, InsertModeShiftsTheLine)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("abc\r");
    t.feed("\x1b[4h"); // IRM
    t.feed("\u4e2d\u00e9");
    EXPECT_EQ(rowText(t, 0), "\u4e2d\u00e9abc") << "wide and narrow characters are inserted";
    t.feed("e\u0301");
    EXPECT_EQ(rowText(t, 0), "\u4e2d\u00e9e\u0301abc") << "a mark joins without inserting a cell";

    t.feed("\r\nxy\r\u2764\uFE0F");
    EXPECT_EQ(rowText(t, 1), "\u2764\uFE0Fxy") << "widening inserts a column instead of overwriting";
    EXPECT_EQ(cellWidth(t, 0, 1), 2);
    EXPECT_EQ(cellText(t, 2, 1), "x");
    EXPECT_EQ(t.buffer().x(), 2);
}

TEST(TerminalPrintTests, MarginsBoundWrappingAndWidening)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    setLeftRightMargins(t, 2, 5);
    moveCursor(t, 2, 0);
    t.feed("\u4e2d\u6587\u5b57");
    EXPECT_EQ(rowText(t, 0), "  \u4e2d\u6587") << "two wide characters fill the four margin columns";
    EXPECT_EQ(rowText(t, 1), "  \u5b57") << "the third wraps to the left margin";

    moveCursor(t, 5, 2);
    t.feed("\u2764\uFE0F");
    EXPECT_EQ(cellText(t, 5, 2), "") << "no room at the right margin";
    EXPECT_EQ(cellText(t, 2, 3), "\u2764\uFE0F") << "the widened character wraps to the left margin";
    EXPECT_EQ(cellWidth(t, 2, 3), 2);
}

TEST(TerminalPrintTests, PrintedCellsCarryStyleAndHyperlinkPayload)
{
    TerminalFixture fixture(20, 3);
    Terminal& t = fixture.t();
    // Bold red text under an OSC 8 link.
    t.feed("\x1b[1;31m\x1b]8;;https://example.com/first\x1b\\");
    t.feed("ab\u4e2d\u00e9e\u0301");
    const uint16_t style = t.innerState().curStyleID;
    ASSERT_NE(style, 0);
    const uint16_t first = packedAt(t, 0, 0).payloadCode();
    ASSERT_NE(first, 0) << "the link is registered by the first text printed under it";
    EXPECT_EQ(stringPayload(packedAt(t, 0, 0)), ";https://example.com/first");
    for (int col : {0, 1, 2, 3, 4, 5}) {
        EXPECT_EQ(packedAt(t, col, 0).payloadCode(), first) << "column " << col;
        EXPECT_EQ(packedAt(t, col, 0).attributeID(), style) << "column " << col;
    }

    // A second link announced by OSC 8 gets a code of its own on the text printed under it.
    t.feed("\x1b]8;;https://example.com\x1b\\");
    t.feed("\r\nx\u4e2d");
    const uint16_t code = packedAt(t, 0, 1).payloadCode();
    EXPECT_NE(code, 0) << "a pending link is resolved when text is printed under it";
    EXPECT_NE(code, first);
    EXPECT_EQ(packedAt(t, 1, 1).payloadCode(), code);
}

TEST(TerminalPrintTests, UpdateRangeCoversThePrintedRows)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    moveCursor(t, 0, 2);
    t.clearUpdateRange();
    t.feed("\u4e2d\u6587\u5b57\u4e2d\u6587\u5b57");
    EXPECT_EQ(t.getUpdateRange(), (std::pair<int, int>{2, 3})) << "the row printed on and the row wrapped to";

    moveCursor(t, 9, 0);
    t.feed("\u2764");
    t.clearUpdateRange();
    t.feed("\uFE0F");
    EXPECT_EQ(t.getUpdateRange(), (std::pair<int, int>{0, 1}))
        << "a widened character that wraps marks both rows";
}

TEST(TerminalPrintTests, WhatAMarkJoins)
{
    // A scalar that extends the cluster before it joins that cell; one that does not starts a
    // cell of its own. A mark joins the cell before the cursor, the lead of a wide character for
    // its right half, and nothing at column 0 or after an empty cell, where it is dropped.
    struct Case
    {
        std::string before;
        int cursor;
        std::string printed;
        std::vector<std::string> cells;
    };
    const Case cases[] = {
        {"a", -1, "\u0301", {"a\u0301", ""}},
        {"a", -1, "b", {"a", "b"}},
        {"\U0001F468\u200D", -1, "\U0001F469", {"\U0001F468\u200D\U0001F469", "", ""}},
        {"\U0001F468\u200D", -1, "x", {"\U0001F468\u200D", "", "x"}},
        {"ab", -1, "\u0301", {"a", "b\u0301", ""}},
        {"ab\u4e2d", -1, "\u0301", {"a", "b", "\u4e2d\u0301", "", ""}},
        {"ab", 0, "\u0301", {"a", "b", ""}},
        {"ab", 6, "\u0301", {"a", "b", "", "", "", "", "", ""}},
    };
    for (const Case& c : cases) {
        TerminalFixture fixture(10, 3);
        Terminal& t = fixture.t();
        t.feed(c.before);
        if (c.cursor >= 0)
            moveCursor(t, c.cursor, 0);
        t.feed(c.printed);
        std::vector<std::string> cells;
        for (size_t col = 0; col < c.cells.size(); ++col) {
            // An empty cell reads as U+0000.
            const std::string text = getText(t, int(col), 0).value_or("?");
            cells.push_back(text == std::string(1, '\0') ? "" : text);
        }
        EXPECT_EQ(cells, c.cells) << "after \"" << c.before << "\" with the cursor at " << c.cursor;
    }
}

TEST(TerminalPrintTests, ScriptsOneAfterAnotherMakeTheseCells)
{
    // Text switching script from one character to the next, as one run: each character takes
    // the cells it takes alone, whatever came before it, and what joins a cell joins the one
    // before. A right half reads as "".
    struct Case
    {
        std::string printed;
        std::vector<std::string> cells;
    };
    const Case cases[] = {
        {"\u4E2D\u05D0\u05B8ab", {"\u4E2D", "", "\u05D0\u05B8", "a", "b"}},
        {"\u0915\u094D\u0937\u093F\u4E2D", {"\u0915\u094D\u0937\u093F", "", "\u4E2D", ""}},
        {"\u2500\u2510x\u2026", {"\u2500", "\u2510", "x", "\u2026"}},
        {"x\U0001F466\U0001F3FDx", {"x", "\U0001F466\U0001F3FD", "", "x"}},
        {"x\U0001F600\U0001F3FB", {"x", "\U0001F600", "", "\U0001F3FB", ""}},
        {"x\U0001F600a", {"x", "\U0001F600", "", "a"}},
        {"x\U0001F468\u200D\U0001F4BBa", {"x", "\U0001F468\u200D\U0001F4BB", "", "a"}},
        {"x\U0001F468\u200Dx", {"x", "\U0001F468\u200D", "", "x"}},
        {"x\U0001F468\u200D\U0001D400", {"x", "\U0001F468\u200D", "", "\U0001D400"}},
        {"x\U0001F1EF\U0001F1F5\U0001F1E6\U0001F1E7\U0001F1E8",
         {"x", "\U0001F1EF\U0001F1F5", "", "\U0001F1E6\U0001F1E7", "", "\U0001F1E8", ""}},
        {"x\U0001F1EF\U0001F600", {"x", "\U0001F1EF", "", "\U0001F600", ""}},
        {"\U0001F1E6\u05D0\U0001F1E6\U0001F1E7", {"\U0001F1E6", "", "\u05D0", "\U0001F1E6\U0001F1E7", ""}},
        {"\u4E2D\u0915\u093F\u0301", {"\u4E2D", "", "\u0915\u093F\u0301", ""}},
        {"\u4E2D\u093Fa", {"\u4E2D\u093F", "", "a"}},
        {"x\uD55C\uAD6D\uAC00\u11A8a", {"x", "\uD55C", "", "\uAD6D", "", "\uAC00\u11A8", "", "a"}},
        {"x\u1100\uAC00", {"x", "\u1100\uAC00", ""}},
        {"\U0001F1E6\U0001F1E7\U0001F1E8", {"\U0001F1E6\U0001F1E7", "", "\U0001F1E8", ""}},
        {"\U0001D400\u0301\U00017000", {"\U0001D400\u0301", "\U00017000", ""}},
        {"\u2764\uFE0Fa", {"\u2764\uFE0F", "", "a"}},
    };
    for (const Case& c : cases) {
        TerminalFixture fixture(20, 3);
        Terminal& t = fixture.t();
        t.feed(c.printed);
        std::vector<std::string> cells;
        for (size_t col = 0; col < c.cells.size(); ++col) {
            const std::string text = getText(t, int(col), 0).value_or("?");
            cells.push_back(text == std::string(1, '\0') ? "" : text);
        }
        EXPECT_EQ(cells, c.cells) << "printing \"" << c.printed << "\"";
    }
}

TEST(TerminalPrintTests, MixedWidthRunsOverTextKeepWhatFollows)
{
    // A run of narrow and wide characters written over a row of text from column `at`: the cells
    // it takes change, the cells after it keep their text, and a wide character whose left half
    // the run overwrote loses its right half (read as a blank), the other half of a cut one too.
    // The runs of four and more mix widths in every order, as the run writer takes four cells at
    // once; each ends a column short of, at, or past the end of a wide character already there.
    struct Case
    {
        std::string printed;
        int at;
        std::string row;
    };
    const std::string before = "0123\u4E00"
                               "6789abcdefgh";
    const Case cases[] = {
        {"\u00E9\u4E2D\u00E9\u00E9", 0, "\u00E9\u4E2D\u00E9\u00E9 6789abcdefgh"},
        {"\u00E9\u00E9\u4E2D\u00E9", 7, "0123\u4E006\u00E9\u00E9\u4E2D\u00E9cdefgh"},
        {"\u4E2D\u00E9\u00E9\u00E9x", 0, "\u4E2D\u00E9\u00E9\u00E9x6789abcdefgh"},
        {"\u4E2D\u4E2D\u00E9\u4E2D", 0, "\u4E2D\u4E2D\u00E9\u4E2D789abcdefgh"},
        {"\u00E9\u4E2D\u4E2D\u00E9", 1, "0\u00E9\u4E2D\u4E2D\u00E9789abcdefgh"},
        {"\u00E9\u00E9\u00E9\u4E2D", 0, "\u00E9\u00E9\u00E9\u4E2D 6789abcdefgh"},
        {"\u00E9\u00E9\u00E9\u00E9\u4E2D\u00E9", 2, "01\u00E9\u00E9\u00E9\u00E9\u4E2D\u00E99abcdefgh"},
        {"\u05D0\u4E2D\u05D0", 5, "0123 \u05D0\u4E2D\u05D09abcdefgh"},
        {"\u4E2D\u05D0\u05D0\u05D0\u05D0", 3, "012\u4E2D\u05D0\u05D0\u05D0\u05D09abcdefgh"},
    };
    for (const Case& c : cases) {
        TerminalFixture fixture(20, 3);
        Terminal& t = fixture.t();
        t.feed(before);
        t.feed("\x1b[1;" + std::to_string(c.at + 1) + "H");
        t.feed(c.printed);
        EXPECT_EQ(rowText(t, 0), c.row) << "printing \"" << c.printed << "\" at column " << c.at;
    }
}

TEST(TerminalPrintTests, CharDataConveniences)
{
    const Attribute attribute;
    CharData wide(attribute, 0, 1);
    wide.setValue(0x4e2d, 2);
    EXPECT_EQ(wide.code, 0x4e2d);
    EXPECT_EQ(wide.width, 2);
    EXPECT_EQ(wide.widthStateCode, 1);

    CharData data(attribute, 0, 1);
    data.setCharacter(Character(std::u32string(U"e\u0301")), 1);
    EXPECT_EQ(data.getText(), "e\u0301");
    data.setValue(int32_t('x'), 1);
    EXPECT_EQ(data.getText(), "x");
    EXPECT_FALSE(data.graphemeScalarValues);
}

// Random text of every kind the print path distinguishes, with line breaks and some malformed
// bytes, printed once whole and once cut into random pieces: the screens must agree.
TEST(TerminalPrintTests, SplitFeedsPrintLikeOneFeed)
{
    const std::vector<std::string> pieces = {
        "a",      "Hello ",     "\u00e9",     "\u4e2d\u6587", "\U0001F600", "e\u0301",  "\u0301",
        "\u200D", "\U0001F469", "\U0001F1FA", "\U0001F1F8",   "\uFE0F",     "\uFE0E",   "\u2764",
        "\u3030", "\U0001F44B", "\U0001F3FD", "\u0915",       "\u094D",     "\u0937",   "\u093E",
        "\u1100", "\u1161",     "\u11A8",     "\xC3",         "\xE2\x82",   "\x80",     "\xFF",
        "\r\n",   "\x1b[1m",    "#",          "\t",           "\x7f",       "\xF0\x9F",
    };
    for (uint32_t seed = 1; seed <= 100; ++seed) {
        std::mt19937 random(seed);
        std::string text;
        for (int i = 0; i < 400; ++i)
            text += pieces[random() % pieces.size()];

        // Each seed also picks a mode: plain, narrow regional indicators, insert mode, auto-wrap
        // off, or left and right margins.
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 17;
        options.rows = 6;
        options.scrollback = 50;
        const uint32_t mode = seed % 5;
        if (mode == 1)
            options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
        TerminalFixture whole(options);
        TerminalFixture split(options);
        for (Terminal* terminal : {&whole.t(), &split.t()}) {
            if (mode == 2)
                terminal->feed("\x1b[4h"); // IRM
            if (mode == 3)
                setAutoWrap(*terminal, false);
            if (mode == 4) {
                setLeftRightMargins(*terminal, 3, 12);
                moveCursor(*terminal, 3, 0);
            }
        }
        whole.t().feed(text);

        size_t at = 0;
        while (at < text.size()) {
            const size_t length = std::min<size_t>(text.size() - at, 1 + random() % 9);
            split.t().feed(std::string_view(text).substr(at, length));
            at += length;
        }

        Terminal& a = whole.t();
        Terminal& b = split.t();
        ASSERT_EQ(a.buffer().lines().count(), b.buffer().lines().count()) << "seed " << seed;
        for (int row = 0; row < a.buffer().lines().count(); ++row) {
            const BufferLine& lineA = a.buffer().lines().lineOrEmpty(row);
            const BufferLine& lineB = b.buffer().lines().lineOrEmpty(row);
            for (int col = 0; col < lineA.count(); ++col) {
                const PackedCell cellA = lineA.packed(col);
                const PackedCell cellB = lineB.packed(col);
                ASSERT_EQ(a.cellArena()->text(cellA), b.cellArena()->text(cellB))
                    << "seed " << seed << " row " << row << " col " << col;
                ASSERT_EQ(cellA.widthState(), cellB.widthState())
                    << "seed " << seed << " row " << row << " col " << col;
            }
            ASSERT_EQ(lineA.isWrapped(), lineB.isWrapped()) << "seed " << seed << " row " << row;
        }
        ASSERT_EQ(a.buffer().x(), b.buffer().x()) << "seed " << seed;
        ASSERT_EQ(a.buffer().y(), b.buffer().y()) << "seed " << seed;
    }
}

// Random bytes of every value (controls and escape sequences aside) in every mode: printing never
// leaves half of a wide character, and the cursor stays on the screen.
TEST(TerminalPrintTests, RandomBytesKeepWideCharactersWhole)
{
    const std::vector<std::string> pieces = {"\u4e2d", "\u2764",     "\uFE0F",     "\uFE0E",
                                             "\u3030", "\U0001F1FA", "\u0301",     "\u093E",
                                             "\u0915", "\u200D",     "\U0001F468", "\r\n"};
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        std::string text;
        while (text.size() < 3000) {
            if (random() % 3 == 0) {
                text += pieces[random() % pieces.size()];
            } else {
                const auto byte = static_cast<char>(random() % 256);
                if (static_cast<uint8_t>(byte) >= 0x20)
                    text.push_back(byte);
            }
        }
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = 7 + static_cast<int>(seed % 5);
        options.rows = 4;
        options.scrollback = 10;
        if (seed % 2)
            options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
        TerminalFixture fixture(options);
        Terminal& t = fixture.t();
        switch (seed % 4) {
        case 1:
            t.feed("\x1b[4h"); // IRM
            break;
        case 2:
            setAutoWrap(t, false);
            break;
        case 3:
            setLeftRightMargins(t, 1, options.cols - 2);
            break;
        default:
            break;
        }
        t.feed(text);

        for (int row = 0; row < t.buffer().lines().count(); ++row) {
            const BufferLine& line = t.buffer().lines().lineOrEmpty(row);
            for (int col = 0; col < line.count(); ++col) {
                const PackedCell cell = line.packed(col);
                if (cell.isLead()) {
                    ASSERT_TRUE(col + 1 < line.count() && line.packed(col + 1).isContinuation())
                        << "seed " << seed << " row " << row << " col " << col
                        << ": a lead without its right half";
                }
                if (cell.isContinuation()) {
                    ASSERT_TRUE(col > 0 && line.packed(col - 1).isLead())
                        << "seed " << seed << " row " << row << " col " << col
                        << ": a right half without its lead";
                }
            }
        }
        ASSERT_LE(t.buffer().x(), t.cols()) << "seed " << seed;
        ASSERT_LT(t.buffer().y(), t.rows()) << "seed " << seed;
    }
}

} // namespace
} // namespace kestrovan::testing
