// The portable render snapshot as a host sees it: which rows a snapshot delivers and how it
// calls them (clean, partial, full), the decoded cells, the cursor, and the screen-wide changes
// that force a full repaint. Whether a row was decoded again is read from the builder's per-row
// cache: a reused entry keeps its cell storage, a decoded one gets new storage.
#include "../RecordingTerminalDelegate.h"
#include "SnapshotText.h"

#include "Kestrovan/Portable/RenderSnapshotBuilder.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

std::string osc(std::string_view body)
{
    return "\x1b]" + std::string(body) + "\x1b\\";
}

/// The screen rows of the delivered lines, in order.
std::vector<int> deliveredRows(const TerminalRenderSnapshot& snapshot)
{
    std::vector<int> rows;
    for (const RenderSnapshotRow& row : snapshot.lines)
        rows.push_back(row.y);
    return rows;
}

/// Where each row's cached cells are stored; a row decoded again gets new storage.
std::vector<const RenderSnapshotCell*> cacheStorage(const RenderSnapshotBuilder& builder)
{
    std::vector<const RenderSnapshotCell*> out;
    for (const auto& entry : builder.portableRenderCells)
        out.push_back(entry ? entry->cells.data() : nullptr);
    return out;
}

/// A terminal whose first snapshot has been taken and whose changed rows are cleared, so the
/// next snapshot shows only what a test does.
struct SnapshotFixture : TerminalFixture
{
    explicit SnapshotFixture(int cols = 10, int rows = 3, int scrollback = 100)
        : TerminalFixture(cols, rows, scrollback), builder(terminal)
    {
        settle();
    }
    void settle()
    {
        builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
        terminal->clearUpdateRange();
    }
    TerminalRenderSnapshot dirty() { return builder.makeRenderSnapshot(RenderSnapshotScope::dirty); }

    RenderSnapshotBuilder builder;
};

TEST(RenderSnapshotTests, CleanPartialAndFull)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    RenderSnapshotBuilder builder(fixture.terminal);
    t.feed("ab\r\ncd");

    const TerminalRenderSnapshot first = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    EXPECT_EQ(first.dirtyKind, RenderSnapshotDirtyKind::full) << "nothing was kept: everything is new";
    EXPECT_EQ(first.dirtyRange, (RenderSnapshotRange{0, 2}));
    ASSERT_EQ(first.lines.size(), 3u);
    EXPECT_EQ(deliveredRows(first), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(snapshotRowText(first.lines[0]), "ab");
    EXPECT_EQ(snapshotRowText(first.lines[1]), "cd");
    for (const RenderSnapshotRow& row : first.lines)
        EXPECT_EQ(row.cells.size(), 10u) << "row " << row.y << " has exactly cols cells";
    EXPECT_EQ(first.scrollDirtyRange, (RenderSnapshotRange{0, 2}))
        << "a whole-screen mark ends at the last row, not one past it";

    const TerminalRenderSnapshot again = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    EXPECT_EQ(again.dirtyKind, RenderSnapshotDirtyKind::clean) << "a snapshot takes the rows it delivered";
    EXPECT_TRUE(again.lines.empty());

    t.clearUpdateRange();
    const TerminalRenderSnapshot clean = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    EXPECT_EQ(clean.dirtyKind, RenderSnapshotDirtyKind::clean);
    EXPECT_FALSE(clean.dirtyRange);
    EXPECT_FALSE(clean.scrollDirtyRange);
    EXPECT_TRUE(clean.lines.empty());
    EXPECT_EQ(t.getUpdateRange(), std::nullopt) << "a clean snapshot marks nothing";

    // One printed character on the cursor's row.
    t.feed("e");
    const TerminalRenderSnapshot partial = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    EXPECT_EQ(partial.dirtyKind, RenderSnapshotDirtyKind::partial);
    EXPECT_EQ(partial.dirtyRange, (RenderSnapshotRange{1, 1}));
    ASSERT_EQ(partial.lines.size(), 1u);
    EXPECT_EQ(snapshotRowText(partial.lines[0]), "cde");
    EXPECT_EQ(partial.scrollDirtyRange, (RenderSnapshotRange{1, 1}));

    t.clearUpdateRange();
    const TerminalRenderSnapshot full = builder.makeRenderSnapshot(RenderSnapshotScope::full);
    EXPECT_EQ(full.dirtyKind, RenderSnapshotDirtyKind::full) << "scope full delivers every row";
    EXPECT_EQ(deliveredRows(full), (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(full.scrollDirtyRange) << "but reports the terminal's own changes as they are";

    // Changes touching the first and the last row make a dirty snapshot full.
    t.feed("\x1b[1;1Hx\x1b[3;1Hy");
    EXPECT_EQ(builder.makeRenderSnapshot(RenderSnapshotScope::dirty).dirtyKind,
              RenderSnapshotDirtyKind::full);

    EXPECT_EQ(renderSnapshotDirtyKindFromRaw(2), RenderSnapshotDirtyKind::full);
    EXPECT_EQ(renderSnapshotDirtyKindFromRaw(3), std::nullopt);
    EXPECT_EQ(renderSnapshotDirtyKindFromRaw(0xFFFFFFFF), std::nullopt);
}

TEST(RenderSnapshotTests, OnlyChangedRowsAreDecoded)
{
    SnapshotFixture fixture(20, 6);
    Terminal& t = fixture.t();
    RenderSnapshotBuilder& builder = fixture.builder;
    t.feed("one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\x1b[3;6H");
    builder.makeRenderSnapshot(RenderSnapshotScope::full);
    t.clearUpdateRange();
    const std::vector<const RenderSnapshotCell*> before = cacheStorage(builder);
    ASSERT_EQ(before.size(), 6u);
    for (const RenderSnapshotCell* storage : before)
        EXPECT_NE(storage, nullptr) << "every row is cached after a full snapshot";

    const TerminalRenderSnapshot unchanged = builder.makeRenderSnapshot(RenderSnapshotScope::full);
    EXPECT_EQ(snapshotRowText(unchanged.lines[2]), "three");
    EXPECT_EQ(cacheStorage(builder), before) << "a full snapshot of unchanged lines decodes nothing";

    // Change row 2 only; the cursor moves along that row, so nothing else is marked.
    t.feed("!");
    const TerminalRenderSnapshot dirty = builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    EXPECT_EQ(dirty.dirtyKind, RenderSnapshotDirtyKind::partial);
    EXPECT_EQ(deliveredRows(dirty), std::vector<int>{2});
    EXPECT_EQ(snapshotRowText(dirty.lines[0]), "three!");
    std::vector<const RenderSnapshotCell*> after = cacheStorage(builder);
    for (int row = 0; row < 6; ++row) {
        if (row == 2)
            EXPECT_NE(after[row], before[row]) << "the changed row is decoded again";
        else
            EXPECT_EQ(after[row], before[row]) << "row " << row << " is left alone";
    }
    const std::shared_ptr<const BufferLine> line = t.getLine(2);
    ASSERT_TRUE(builder.portableRenderCells[2]);
    EXPECT_EQ(builder.portableRenderCells[2]->generation, line->generation());
    EXPECT_EQ(builder.portableRenderCells[2]->identity, line->renderIdentity());

    // A full snapshot now decodes nothing new either.
    const TerminalRenderSnapshot full = builder.makeRenderSnapshot(RenderSnapshotScope::full);
    EXPECT_EQ(cacheStorage(builder), after);
    EXPECT_EQ(snapshotRowText(full.lines[2]), "three!");
    EXPECT_EQ(snapshotRowText(full.lines[5]), "six");
}

TEST(RenderSnapshotTests, Cells)
{
    SnapshotFixture fixture(10, 4);
    Terminal& t = fixture.t();
    RenderSnapshotBuilder& builder = fixture.builder;
    // A wide character, a combining sequence, bold text, a protected character and a link.
    t.feed("\xe4\xb8\x80"
           "e\xcc\x81\x1b[1mB\x1b[0m\x1b[1\"qP\x1b[0\"q" +
           osc("8;;https://example.invalid") + "L" + osc("8;;"));
    // An erase with a palette background leaves inline blanks.
    t.feed("\r\n\x1b[41m\x1b[K\x1b[0m");
    // A soft-wrapped line on rows 2 and 3.
    t.feed("\r\n0123456789ab");

    const TerminalRenderSnapshot s = builder.makeRenderSnapshot(RenderSnapshotScope::full);
    ASSERT_EQ(s.lines.size(), 4u);
    const std::vector<RenderSnapshotCell>& cells = s.lines[0].cells;

    EXPECT_EQ(cells[0].text, "\xe4\xb8\x80");
    EXPECT_EQ(cells[0].width, 2);
    EXPECT_EQ(cells[0].widthState, RenderSnapshotWidthState::wide);
    EXPECT_EQ(cells[1].text, "") << "the right half of a wide character has no text";
    EXPECT_EQ(cells[1].width, 0);
    EXPECT_EQ(cells[1].widthState, RenderSnapshotWidthState::spacerTail);

    EXPECT_EQ(cells[2].text, "e\xcc\x81") << "a cluster keeps all its scalars";
    EXPECT_EQ(cells[2].width, 1);

    EXPECT_EQ(cells[3].text, "B");
    EXPECT_TRUE(cells[3].attribute.style.contains(CharacterStyle::bold));
    EXPECT_FALSE(cells[3].isProtected);
    EXPECT_EQ(cells[4].text, "P");
    EXPECT_TRUE(cells[4].isProtected);
    EXPECT_EQ(cells[4].attribute, Attribute());

    EXPECT_EQ(cells[5].text, "L");
    ASSERT_TRUE(cells[5].payloadID) << "a linked cell names its payload";
    EXPECT_EQ(*cells[5].payloadID, t.getLine(0)->packed(5).payloadCode());
    EXPECT_EQ(cells[4].payloadID, std::nullopt) << "code 0 is no payload";

    EXPECT_EQ(cells[9], blankRenderSnapshotCell());

    const RenderSnapshotCell erased = s.lines[1].cells[0];
    EXPECT_EQ(erased.text, "");
    EXPECT_EQ(erased.attribute.bg, Attribute::Color::ansi256(1)) << "the inline background is decoded";
    EXPECT_EQ(erased.attribute.fg, Attribute::Color::defaultColor());

    EXPECT_FALSE(s.lines[1].wrapsToNext);
    EXPECT_EQ(snapshotRowText(s.lines[2]), "0123456789");
    EXPECT_FALSE(s.lines[2].isWrapped);
    EXPECT_TRUE(s.lines[2].wrapsToNext);
    EXPECT_EQ(snapshotRowText(s.lines[3]), "ab");
    EXPECT_TRUE(s.lines[3].isWrapped);
    EXPECT_FALSE(s.lines[3].wrapsToNext) << "the last line of the ring continues into nothing";

    // Lines longer or shorter than the grid are cut or padded.
    BufferLine longLine(14, CharData::Null());
    EXPECT_EQ(decodeRenderSnapshotCells(&longLine, 10).size(), 10u);
    BufferLine shortLine(4);
    const std::vector<RenderSnapshotCell> padded = decodeRenderSnapshotCells(&shortLine, 10);
    ASSERT_EQ(padded.size(), 10u);
    EXPECT_EQ(padded[9], blankRenderSnapshotCell());
    EXPECT_EQ(decodeRenderSnapshotCells(nullptr, 3), std::vector<RenderSnapshotCell>(3));
}

TEST(RenderSnapshotTests, Cursor)
{
    SnapshotFixture fixture(10, 8);
    Terminal& t = fixture.t();
    t.feed("\x1b[4;3H");
    fixture.settle();

    // Moving the cursor marks its old and its new row.
    t.feed("\x1b[8;5H");
    TerminalRenderSnapshot s = fixture.dirty();
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::partial);
    EXPECT_EQ(s.dirtyRange, (RenderSnapshotRange{3, 7}));
    EXPECT_EQ(s.cursor.x, 4);
    EXPECT_EQ(s.cursor.y, 7);
    EXPECT_FALSE(s.cursor.hidden);
    EXPECT_EQ(s.cursor.style, CursorStyle::blinkBlock);
    EXPECT_TRUE(s.cursor.blink) << "a blinking style blinks";
    fixture.settle();

    EXPECT_EQ(fixture.dirty().dirtyKind, RenderSnapshotDirtyKind::clean) << "an unmoved cursor marks nothing";

    // Hiding the cursor changes only its own row.
    t.feed("\x1b[?25l");
    s = fixture.dirty();
    EXPECT_TRUE(s.cursor.hidden);
    EXPECT_EQ(s.dirtyRange, (RenderSnapshotRange{7, 7}));
    t.feed("\x1b[?25h");
    fixture.settle();

    // A steady style follows the blink mode.
    t.feed("\x1b[2 q");
    s = fixture.dirty();
    EXPECT_EQ(s.cursor.style, CursorStyle::steadyBlock);
    EXPECT_FALSE(s.cursor.blink);
    EXPECT_EQ(s.dirtyRange, (RenderSnapshotRange{7, 7})) << "a restyled cursor repaints its row";
    t.feed("\x1b[?12h");
    EXPECT_TRUE(fixture.dirty().cursor.blink);

    // Printing into the last column leaves the cursor there, waiting to wrap.
    t.feed("\x1b[2;1H0123456789");
    s = fixture.dirty();
    EXPECT_EQ(s.cursor.x, 9) << "a cursor waiting to wrap is drawn on the last column";
    EXPECT_EQ(s.cursor.y, 1);
}

TEST(RenderSnapshotTests, ScreenWideChangesRepaintEverything)
{
    SnapshotFixture fixture(10, 4);
    Terminal& t = fixture.t();
    auto expectFull = [&](std::string_view what) {
        const TerminalRenderSnapshot s = fixture.dirty();
        EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full) << what;
        EXPECT_EQ(s.lines.size(), 4u) << what;
        fixture.settle();
        return s;
    };

    TerminalRenderSnapshot s = fixture.dirty();
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::clean);
    EXPECT_EQ(s.palette, t.ansiColors());
    ASSERT_EQ(s.palette.size(), 256u);

    t.feed(osc("4;1;rgb:12/34/56"));
    s = expectFull("one palette entry");
    EXPECT_EQ(s.palette[1], Color::fromRed8(0x12, 0x34, 0x56));

    t.feed(osc("10;rgb:ff/ff/00"));
    s = expectFull("the default foreground");
    EXPECT_EQ(s.foregroundColor, Color::fromRed8(0xff, 0xff, 0));

    t.feed(osc("11;rgb:00/00/40"));
    s = expectFull("the default background");
    EXPECT_EQ(s.backgroundColor, Color::fromRed8(0, 0, 0x40));

    t.feed(osc("12;rgb:ff/00/00"));
    s = expectFull("the cursor colour");
    EXPECT_EQ(s.cursorColor, Color::fromRed8(0xff, 0, 0));

    t.feed("\x1b[?5h");
    s = expectFull("reverse video");
    EXPECT_TRUE(s.reverseVideo);
    t.feed("\x1b[?5l");
    EXPECT_FALSE(expectFull("reverse video off").reverseVideo);

    t.feed("\x1b#6");
    s = expectFull("a double-width line");
    EXPECT_EQ(s.lines[0].renderMode, BufferLine::RenderLineMode::doubleWidth);
    EXPECT_EQ(s.lines[1].renderMode, BufferLine::RenderLineMode::single);
}

TEST(RenderSnapshotTests, AlternateScreen)
{
    SnapshotFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("normal");
    fixture.settle();

    t.feed("\x1b[?1049halt");
    TerminalRenderSnapshot s = fixture.dirty();
    EXPECT_TRUE(s.isAlternateScreen);
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full);
    EXPECT_EQ(snapshotRowText(s.lines[0]), "      alt") << "the alternate screen keeps the cursor column";
    fixture.settle();

    t.feed("\x1b[?1049l");
    s = fixture.dirty();
    EXPECT_FALSE(s.isAlternateScreen);
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full);
    EXPECT_EQ(snapshotRowText(s.lines[0]), "normal") << "no row of the alternate screen is reused";
}

TEST(RenderSnapshotTests, ResizeAndSynchronizedOutput)
{
    SnapshotFixture fixture(10, 3);
    Terminal& t = fixture.t();
    RenderSnapshotBuilder& builder = fixture.builder;
    t.setSynchronizedOutputTimeoutSeconds(3600);
    t.feed("abc\x1b[?2026h");
    TerminalRenderSnapshot s = fixture.dirty();
    EXPECT_TRUE(s.synchronizedOutputActive);
    fixture.settle();

    t.resize(12, 4);
    s = fixture.dirty();
    EXPECT_FALSE(s.synchronizedOutputActive) << "a resize ends synchronized output";
    EXPECT_EQ(fixture.delegate->synchronizedOutputChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(s.cols, 12);
    EXPECT_EQ(s.rows, 4);
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full);
    ASSERT_EQ(s.lines.size(), 4u);
    for (const RenderSnapshotRow& row : s.lines)
        EXPECT_EQ(row.cells.size(), 12u) << "row " << row.y;
    EXPECT_EQ(snapshotRowText(s.lines[0]), "abc");
    EXPECT_EQ(builder.portableRenderCells.size(), 4u) << "the cache follows the row count";
    fixture.settle();

    // Ending synchronized output repaints the held frame whole.
    t.feed("\x1b[?2026hxyz");
    fixture.settle();
    t.feed("\x1b[?2026l");
    s = fixture.dirty();
    EXPECT_FALSE(s.synchronizedOutputActive);
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full);

    // A narrower grid cuts cached rows to the new width.
    fixture.settle();
    t.resize(5, 4);
    s = fixture.dirty();
    EXPECT_EQ(s.lines[0].cells.size(), 5u);
}

TEST(RenderSnapshotTests, ScrollbackViewOffset)
{
    SnapshotFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("l0\r\nl1\r\nl2\r\nl3\r\nl4");
    const Buffer& buffer = fixture.buffer();
    ASSERT_EQ(buffer.yBase(), 2);
    fixture.settle();

    // The user scrolls back one line: the cursor's row is now below the view.
    t.scrollViewportTo(1);
    TerminalRenderSnapshot s = fixture.dirty();
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full) << "a new view offset repaints everything";
    EXPECT_EQ(snapshotRowText(s.lines[0]), "l1");
    EXPECT_EQ(snapshotRowText(s.lines[2]), "l3");
    EXPECT_TRUE(s.cursor.hidden) << "the cursor's row is outside the view";
    EXPECT_EQ(s.cursor.y, 2) << "clamped to the last row";
    EXPECT_EQ(s.scrollDirtyRange, (RenderSnapshotRange{1, 3})) << "absolute rows of the view";
    fixture.settle();

    // Output while scrolled back marks screen rows against the view.
    t.feed("X");
    s = fixture.dirty();
    EXPECT_EQ(s.scrollDirtyRange, (RenderSnapshotRange{3, 3}));

    t.scrollViewportTo(buffer.yBase());
    s = fixture.dirty();
    EXPECT_EQ(s.dirtyKind, RenderSnapshotDirtyKind::full);
    EXPECT_FALSE(s.cursor.hidden);
    EXPECT_EQ(s.cursor.y, 2);
    EXPECT_EQ(snapshotRowText(s.lines[2]), "l4X");
}

TEST(RenderSnapshotTests, SnapshotsTakeTheLockThemselves)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RenderSnapshotBuilder builder(fixture.terminal);
    EXPECT_DEATH(t.terminalLock().withLock([&] { builder.makeRenderSnapshot(RenderSnapshotScope::dirty); }),
                 "already holds the terminal lock");
    builder.makeRenderSnapshot(RenderSnapshotScope::dirty);
    EXPECT_FALSE(t.terminalLock().isHeldByCurrentThread()) << "and give it back";
}

} // namespace
} // namespace kestrovan::testing
