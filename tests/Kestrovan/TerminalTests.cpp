// The terminal's state: construction and setup, buffer switching, the palette and colour setters,
// the mode mirrors, focus and visibility reports, pointer press, the selection registry, the cell
// accessors, the view terminal and teardown.
#include "RecordingTerminalDelegate.h"
#include "ScreenEditTestSupport.h"

#include "Kestrovan/CharSets.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Kestrovan/TerminalTextExtraction.h"
#include "Kestrovan/TinyAtom.h"
#include "Kestrovan/ViewTerminal.h"

#include <gtest/gtest.h>
#include <thread>

namespace kestrovan::testing {
namespace {

/// A host that implements only what it must, so every other call takes its default.
class MinimalDelegate : public TerminalDelegate
{
public:
    std::vector<std::vector<uint8_t>> sends;
    void send(Terminal&, Bytes data) override { sends.emplace_back(data.begin(), data.end()); }
};

TEST(TerminalTests, ConstructionWithDefaultOptions)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = Terminal::create(delegate);
    Terminal& t = *terminal;

    EXPECT_EQ(t.getDims(), std::make_pair(80, 25));
    EXPECT_EQ(&t.buffer(), &t.buffer(Terminal::BufferKind::normal));
    EXPECT_EQ(t.buffer().lines().count(), 25) << "the normal viewport is filled";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).lines().count(), 0)
        << "the alternate buffer is filled only when activated";
    EXPECT_FALSE(t.buffer(Terminal::BufferKind::alt).hasScrollback());
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).lines().maxLength(), 25 + 500);
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).wraparound() &&
                t.buffer(Terminal::BufferKind::alt).wraparound())
        << "auto-wrap is mirrored";
    EXPECT_EQ(delegate->mouseModeChanges, 1) << "setup reports the mouse mode";

    const std::vector<bool>& stops = t.buffer().tabStops();
    for (int col = 0; col < 80; ++col)
        EXPECT_EQ(stops[static_cast<size_t>(col)], col % 8 == 0) << "tab stop at column " << col;

    EXPECT_FALSE(t.getUpdateRange());
    EXPECT_FALSE(t.getScrollInvariantUpdateRange());
    EXPECT_EQ(t.ansiColors(), t.palette().defaultAnsiColors());
    EXPECT_EQ(t.innerState().currentEraseBlankCell, PackedCell());
}

TEST(TerminalTests, SizeIsClampedToTheMinimum)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 0;
    options.rows = 0;
    TerminalFixture fixture(options);
    EXPECT_EQ(fixture.t().cols(), 2);
    EXPECT_EQ(fixture.t().rows(), 1);
    EXPECT_EQ(fixture.buffer().cols(), 2);
    EXPECT_EQ(fixture.buffer().rows(), 1);
    fixture.t().feed("abcdef");
    EXPECT_EQ(rowText(fixture.t(), 0), "ef") << "a 2 x 1 terminal still prints and scrolls";
}

TEST(TerminalTests, SetupFollowsTheOptions)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 40;
    options.rows = 10;
    options.convertEol = true;
    options.cursorStyle = CursorStyle::steadyBar;
    TerminalFixture fixture(options);
    Terminal& t = fixture.t();
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).cols(), 40) << "both buffers take the size";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).rows(), 10);
    EXPECT_TRUE(t.mode(TerminalMode::lineFeedMode)) << "convertEol gives the initial line-feed mode";
    EXPECT_EQ(t.innerState().defaultCursorStyle, CursorStyle::steadyBar);
    EXPECT_EQ(t.buffer().scrollBottom(), 9);
    EXPECT_EQ(t.buffer().marginRight(), 39);
}

TEST(TerminalTests, FullResetClearsSavedPrivateModesButConstructionDoesNot)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[?2004h\x1b[?2004s"); // bracketed paste on, then saved
    ASSERT_EQ(t.innerState().savedPrivateModes.size(), 1u);
    t.setup(false);
    EXPECT_EQ(t.innerState().savedPrivateModes.size(), 1u) << "a construction-time setup keeps saved modes";
    t.setup(true);
    EXPECT_TRUE(t.innerState().savedPrivateModes.empty()) << "a full reset empties saved modes";
}

TEST(TerminalTests, FullResetRebuildsBuffersAndModes)
{
    TerminalFixture fixture(10, 3, 5);
    Terminal& t = fixture.t();
    t.feed("one\r\ntwo\r\nthree\r\nfour");
    t.feed("\x1b[?47h");
    moveCursor(t, 4, 2);
    t.feed("\x1b[?6h\x1b[4h"); // DECOM, IRM
    t.feed("\x1b[1\"q");       // DECSCA: protected
    t.feed("\x1b(0\x0f");      // DEC special graphics in G0, invoked
    t.feed("\x1b G");          // S8C1T
    t.feed("\x1b[31;44m");     // red on blue, erasing to blue
    t.feed("\x1b[?5h");        // DECSCNM
    t.feed("\x1b[?1003h");
    t.feed("\x1b[=16;1u");       // kitty keyboard: report text, on the alternate screen
    t.feed("\x1b]7;/tmp\x1b\\"); // the directory
    t.feed("\x1b]2;kept\x1b\\"); // the title
    t.feed("\x1b]7501;id=job:state=working\x1b\\");
    ASSERT_EQ(t.innerState().currentEraseAttribute,
              Attribute(Attribute::Color(), Attribute::Color::ansi256(4)));
    ASSERT_EQ(t.innerState().keyboardModeAlt.flags, KittyKeyboardFlags::reportText);
    ASSERT_EQ(t.hostCurrentDirectory(), "/tmp");
    ASSERT_EQ(t.programStatusRecords().size(), 1u);
    fixture.delegate->colorChanges.clear();
    fixture.delegate->mouseModeChanges = 0;
    fixture.delegate->programStatusChanges.clear();

    t.setup(true);

    EXPECT_FALSE(t.isCurrentBufferAlternate());
    EXPECT_EQ(screenText(t), "||") << "the normal buffer is rebuilt";
    EXPECT_EQ(t.buffer().lines().count(), 3) << "and its scrollback is gone";
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 0)) << "a full reset homes the cursor";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).lines().count(), 0) << "the alternate buffer is cleared";
    EXPECT_FALSE(t.mode(TerminalMode::originMode));
    EXPECT_FALSE(t.mode(TerminalMode::insertMode) || t.buffer(Terminal::BufferKind::normal).insertMode() ||
                 t.buffer(Terminal::BufferKind::alt).insertMode());
    EXPECT_FALSE(t.mode(TerminalMode::characterProtection) ||
                 t.buffer(Terminal::BufferKind::normal).bulkInsertBlocked() ||
                 t.buffer(Terminal::BufferKind::alt).bulkInsertBlocked());
    EXPECT_EQ(t.innerState().characterProtectionMode, Terminal::CharacterProtectionMode::off);
    EXPECT_EQ(t.innerState().charsets.charset(), nullptr);
    EXPECT_EQ(t.innerState().charsets.gCharsets()[0], nullptr);
    EXPECT_FALSE(t.cc().send8bit);
    EXPECT_EQ(t.innerState().currentAttribute, Attribute());
    EXPECT_EQ(t.innerState().curStyleID, 0);
    EXPECT_EQ(t.innerState().currentEraseBlankCell, PackedCell())
        << "the erase cell follows the default background again";
    EXPECT_FALSE(t.mode(TerminalMode::reverseColors));
    EXPECT_EQ(fixture.delegate->colorChanges, std::vector<std::optional<int>>{std::nullopt});
    EXPECT_EQ(t.mouseMode(), Terminal::MouseMode::off);
    EXPECT_EQ(fixture.delegate->mouseModeChanges, 1);
    EXPECT_TRUE(t.innerState().keyboardModeAlt.flags.isEmpty());
    EXPECT_FALSE(t.hostCurrentDirectory());
    EXPECT_EQ(t.titles().terminalTitle(), "kept") << "titles survive a reset";
    EXPECT_TRUE(t.programStatusRecords().empty());
    ASSERT_EQ(fixture.delegate->programStatusChanges.size(), 1u);
    EXPECT_TRUE(fixture.delegate->programStatusChanges[0].empty());
}

TEST(TerminalTests, InstallPaletteNeedsExactlySixteenColours)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b]4;1;rgb:0001/0002/0003\x1b\\");
    ASSERT_EQ(t.ansiColors()[1], Color(1, 2, 3));
    fixture.delegate->colorChanges.clear();
    const std::vector<Color> before = t.ansiColors();
    std::vector<Color> colors(15, Color(0x1000, 0x2000, 0x3000));
    t.installPalette(colors);
    EXPECT_EQ(t.ansiColors(), before) << "15 colours are ignored";
    colors.resize(17, Color(0, 0, 0));
    t.installPalette(colors);
    EXPECT_EQ(t.ansiColors(), before) << "17 colours are ignored";

    colors.erase(colors.begin() + 16, colors.end());
    t.installPalette(colors);
    EXPECT_EQ(t.palette().installedColors(), colors);
    EXPECT_EQ(t.ansiColors()[1], Color(0x1000, 0x2000, 0x3000)) << "the OSC 4 change is replaced";
    EXPECT_EQ(t.ansiColors(), t.palette().defaultAnsiColors());
    EXPECT_TRUE(fixture.delegate->colorChanges.empty()) << "installing does not notify";
    EXPECT_EQ(t.paletteColor(255), t.ansiColors()[255]);
    EXPECT_FALSE(t.paletteColor(256));
    EXPECT_FALSE(t.paletteColor(-1));
}

TEST(TerminalTests, ForegroundColourRebuildsOnlyLabPalettes)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.ansi256PaletteStrategy = Ansi256PaletteStrategy::xterm;
    TerminalFixture xterm(options);
    const std::vector<Color> xtermPalette = xterm.t().ansiColors();
    xterm.t().feed("\x1b]4;20;rgb:0009/0009/0009\x1b\\");
    ASSERT_EQ(xterm.t().ansiColors()[20], Color(9, 9, 9));
    xterm.delegate->colorChanges.clear();
    xterm.t().setForegroundColor(Color(0xFFFF, 0, 0));
    EXPECT_EQ(xterm.t().foregroundColor(), Color(0xFFFF, 0, 0));
    EXPECT_EQ(xterm.t().ansiColors()[20], Color(9, 9, 9)) << "the xterm palette is not rebuilt";
    EXPECT_TRUE(xterm.delegate->colorChanges.empty());
    EXPECT_EQ(xterm.delegate->foregroundColors.size(), 1u) << "the delegate hears the change once";

    TerminalFixture lab; // base16Lab by default
    lab.t().feed("\x1b]4;20;rgb:0009/0009/0009\x1b\\");
    ASSERT_EQ(lab.t().ansiColors()[20], Color(9, 9, 9));
    lab.delegate->colorChanges.clear();
    lab.t().setForegroundColor(Color(0xFFFF, 0, 0));
    EXPECT_NE(lab.t().ansiColors()[20], Color(9, 9, 9)) << "a Lab palette is rebuilt";
    EXPECT_EQ(lab.delegate->colorChanges, std::vector<std::optional<int>>{std::nullopt});
    EXPECT_EQ(lab.delegate->foregroundColors.size(), 1u);
    lab.t().setBackgroundColor(Color(0xFFFF, 0xFFFF, 0xFFFF));
    EXPECT_EQ(lab.t().backgroundColor(), Color(0xFFFF, 0xFFFF, 0xFFFF));
    EXPECT_EQ(lab.delegate->colorChanges.size(), 2u);

    // Switching the strategy rebuilds once; setting the same one again does nothing.
    lab.delegate->colorChanges.clear();
    lab.t().setAnsi256PaletteStrategy(Ansi256PaletteStrategy::xterm);
    lab.t().setAnsi256PaletteStrategy(Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(lab.delegate->colorChanges.size(), 1u);
    EXPECT_EQ(lab.t().ansiColors(), xtermPalette);
}

TEST(TerminalTests, DefaultDelegateColoursAndClipboard)
{
    auto delegate = std::make_shared<MinimalDelegate>();
    auto terminal = Terminal::create(delegate);
    Terminal& t = *terminal;

    const auto [foreground, background] = delegate->getColors(t);
    EXPECT_EQ(foreground, Color(0x8A3D, 0x8A3D, 0x8A3D));
    EXPECT_EQ(background, Color(0, 0, 0));
    EXPECT_FALSE(delegate->clipboardRead(t));
    EXPECT_FALSE(delegate->clipboardReadRequest(t, "c"));
    EXPECT_TRUE(delegate->isProcessTrusted(t));
    EXPECT_FALSE(delegate->cellSizeInPixels(t));
    EXPECT_TRUE(delegate->kittyClipboardCapabilities(t).isEmpty());
    EXPECT_EQ(delegate->terminalControlBytesForPaste(t),
              TerminalPasteControls::approximateTerminalControlBytes());
    EXPECT_FALSE(delegate->windowCommand(t, WindowManipulationCommand::resizeTerminal(80, 24)));

    // The setter ends after one nested call: a loop would overflow the stack.
    t.setForegroundColor(Color(1, 2, 3));
    EXPECT_EQ(t.foregroundColor(), Color(1, 2, 3));
    // And it is over: the next change goes all the way again, rebuilding the Lab palette.
    const std::vector<Color> palette = t.ansiColors();
    t.setForegroundColor(Color(0xFFFF, 0, 0));
    EXPECT_NE(t.ansiColors(), palette) << "the re-entrancy guard was left set";
    delegate->setForegroundColor(t, Color(4, 5, 6));
    EXPECT_EQ(t.foregroundColor(), Color(4, 5, 6));
    delegate->setBackgroundColor(t, Color(7, 8, 9));
    EXPECT_EQ(t.backgroundColor(), Color(7, 8, 9));
    delegate->setCursorColor(t, Color(10, 11, 12));
    EXPECT_EQ(t.cursorColor(), Color(10, 11, 12));
    t.setCursorColor(std::nullopt);
    EXPECT_FALSE(t.cursorColor());

    const uint8_t event[] = {0x1B, '[', '5', '5', '2', '2'};
    EXPECT_TRUE(delegate->kittyClipboardSendPasteEvent(t, event));
    ASSERT_EQ(delegate->sends.size(), 1u);
    EXPECT_EQ(delegate->sends[0], std::vector<uint8_t>(std::begin(event), std::end(event)))
        << "the default paste event goes to the child through send";
    EXPECT_FALSE(
        delegate->kittyClipboardRead(t, KittyClipboardLocation::standard, "text/plain",
                                     [](KittyClipboardReadResult) { FAIL() << "no completion expected"; }));
}

TEST(TerminalTests, AlternateBufferSwitchKeepsTheCursor)
{
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    t.feed("normal");
    moveCursor(t, 3, 2);
    t.feed("\x1b[?47h");
    EXPECT_TRUE(t.isCurrentBufferAlternate());
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 2)) << "the cursor follows to the alternate buffer";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).lines().count(), 4)
        << "activation fills the alternate viewport";
    EXPECT_EQ(screenText(t), "|||");
    EXPECT_TRUE((*t.innerState().kittyGraphics).activeIsAlternate);
    t.feed("\x1b[?47h"); // already active: nothing happens
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 2));

    t.feed("alt");
    moveCursor(t, 7, 1);
    t.feed("\x1b[?47l");
    EXPECT_FALSE(t.isCurrentBufferAlternate());
    EXPECT_FALSE((*t.innerState().kittyGraphics).activeIsAlternate);
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(7, 1)) << "and back to the normal buffer";
    EXPECT_EQ(rowText(t, 0), "normal");
    EXPECT_EQ(absoluteRowText(*fixture.terminal, 0), "normal");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).lines().count(), 4)
        << "without clearAlt the alternate screen keeps its text";

    t.feed("\x1b[?47h");
    EXPECT_EQ(rowText(t, 2), "   alt");
    t.feed("\x1b[?1047l");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).lines().count(), 0)
        << "clearAlt empties the alternate buffer";
}

TEST(TerminalTests, ResizeWhileAlternateLeavesTheNormalBufferUntilItReturns)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    t.feed("\x1b[?47h");
    t.resize(20, 4);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).cols(), 20);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::alt).rows(), 4);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).cols(), 10) << "the inactive normal buffer waits";
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).rows(), 5);
}

TEST(TerminalTests, ReturningNormalBufferIsBroughtToTheGrid)
{
    TerminalFixture fixture(10, 5);
    Terminal& t = fixture.t();
    t.feed("\x1b[3;1H\x1b"
           "7\x1b[5;1H"); // DECSC two rows above the cursor, on row 4
    t.feed("\x1b[?47h");
    // The normal buffer keeps its older size while the alternate screen is in use.
    t.resize(20, 4);
    ASSERT_EQ(t.buffer(Terminal::BufferKind::normal).cols(), 10);
    ASSERT_EQ(t.buffer(Terminal::BufferKind::normal).savedCursor().y, 2);
    t.feed("\x1b[?47l");
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).cols(), 20);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).rows(), 4);
    EXPECT_EQ(t.buffer(Terminal::BufferKind::normal).savedCursor().y, 1)
        << "the cursor row moved to 3; the saved row keeps its distance";
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).tabStops()[16])
        << "tab stops are laid out over the new columns";
}

TEST(TerminalTests, CellAccessors)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("ab");
    EXPECT_EQ(getCharacter(t, 0, 0), Character(U'a'));
    EXPECT_EQ(getText(t, 1, 0), "b");
    EXPECT_EQ(getCharacter(t, 5, 0), Character(U' ')) << "an empty cell reads as a space";
    EXPECT_FALSE(getCharacter(t, -1, 0));
    EXPECT_FALSE(getCharacter(t, 10, 0));
    EXPECT_FALSE(getCharacter(t, 0, 3));
    EXPECT_FALSE(t.getCharData(0, -1));
    EXPECT_EQ(t.getCharData(0, 0)->code, 'a');
    EXPECT_FALSE(t.getLine(3));
    ASSERT_TRUE(t.getLine(0));
    EXPECT_EQ(t.getScrollInvariantLine(0), t.getLine(0));
    EXPECT_FALSE(t.getScrollInvariantLine(3));
    EXPECT_FALSE(t.getScrollInvariantLine(-1));

    // Scroll a full ring so that lines are trimmed: absolute rows count from linesTop.
    TerminalFixture small(10, 2, 1);
    small.t().feed("1\r\n2\r\n3\r\n4");
    EXPECT_EQ(small.buffer().linesTop(), 1);
    EXPECT_FALSE(small.t().getScrollInvariantLine(0)) << "row 0 has been trimmed";
    ASSERT_TRUE(small.t().getScrollInvariantLine(1));
    EXPECT_EQ(lineText(*small.t().getScrollInvariantLine(1), 10), "2");
}

TEST(TerminalTests, InsertModeAndProtectionAreMirrored)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[4h"); // IRM
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).insertMode() &&
                t.buffer(Terminal::BufferKind::alt).insertMode());
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).bulkInsertBlocked() &&
                t.buffer(Terminal::BufferKind::alt).bulkInsertBlocked());
    t.feed("\x1b[1\"q\x1b[4l"); // DECSCA on, IRM off
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).bulkInsertBlocked())
        << "protection alone still blocks the fast paths";
    t.feed("\x1b[0\"q");
    EXPECT_FALSE(t.buffer(Terminal::BufferKind::normal).bulkInsertBlocked() ||
                 t.buffer(Terminal::BufferKind::alt).bulkInsertBlocked());
    EXPECT_FALSE(t.buffer(Terminal::BufferKind::normal).characterProtection());
}

TEST(TerminalTests, FocusAndVisibilityReports)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.setTerminalFocus(false);
    EXPECT_TRUE(fixture.delegate->sends.empty()) << "no report unless focus reporting is on";
    EXPECT_FALSE(t.reportedFocusState());

    t.feed("\x1b[?1004h");
    EXPECT_EQ(fixture.delegate->sent(), "\x1b[O") << "switching focus reports on reports the focus at once";
    fixture.delegate->sends.clear();
    t.setTerminalFocus(true);
    t.setTerminalFocus(false);
    EXPECT_EQ(fixture.delegate->sent(), "\x1b[I\x1b[O");

    fixture.delegate->sends.clear();
    t.feed("\x1b G"); // S8C1T
    t.setTerminalFocus(true);
    ASSERT_EQ(fixture.delegate->sends.size(), 1u);
    EXPECT_EQ(fixture.delegate->sends[0], (std::vector<uint8_t>{0x9B, 'I'}));

    fixture.delegate->sends.clear();
    t.feed("\x1b F"); // S7C1T
    t.setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_TRUE(fixture.delegate->sends.empty()) << "visibility reports are off";
    t.feed("\x1b[?2033h");
    EXPECT_EQ(fixture.delegate->sent(), "\x1b[?999;2n") << "switching them on reports at once";
    fixture.delegate->sends.clear();
    t.setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_TRUE(fixture.delegate->sends.empty()) << "no report without a change";
    t.setTerminalVisibility(TerminalVisibility::potentiallyVisible);
    t.setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_EQ(fixture.delegate->sent(), "\x1b[?999;1n\x1b[?999;2n");
}

TEST(TerminalTests, PointerPressAndPressure)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.terminalLock().withLock([&] {
        t.beginPrimaryPointerPress(Position(3, 4));
        EXPECT_FALSE(t.updatePressure(1, 0.5f));
        EXPECT_EQ(t.updatePressure(2, 0.9f), Position(3, 4)) << "a force click acts where the press began";
        EXPECT_EQ(t.innerState().pressureStage, 2);
        EXPECT_FLOAT_EQ(t.innerState().pressure, 0.9f);
        t.endPrimaryPointerPress();
        EXPECT_FALSE(t.updatePressure(2, 1.0f));
    });
}

TEST(TerminalDeathTest, PointerPressWithoutTheLockStops)
{
    TerminalFixture fixture;
    EXPECT_DEATH(fixture.t().beginPrimaryPointerPress(Position(0, 0)), "must hold the terminal lock");
    EXPECT_DEATH(fixture.t().updatePressure(2, 1), "must hold the terminal lock");
}

TEST(TerminalTests, SelectionRegistryCountsActiveSelections)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    auto first = std::make_shared<SelectionService>(fixture.terminal);
    auto second = std::make_shared<SelectionService>(fixture.terminal);
    first->setActive(true);
    EXPECT_EQ(t.innerState().activeSelectionCount, 0) << "an unregistered selection does not count";

    t.registerSelection(first);                                     // without the lock: takes it itself
    t.terminalLock().withLock([&] { t.registerSelection(first); }); // with the lock held: no deadlock
    EXPECT_EQ(t.innerState().registeredSelections, 1) << "registering twice keeps one entry";
    EXPECT_EQ(t.innerState().activeSelectionCount, 1);

    t.registerSelection(second);
    second->setActive(true);
    EXPECT_EQ(t.innerState().activeSelectionCount, 2) << "becoming active counts";
    second->setActive(false);
    EXPECT_EQ(t.innerState().activeSelectionCount, 1);

    t.unregisterSelection(first);
    EXPECT_EQ(t.innerState().activeSelectionCount, 0);
    EXPECT_EQ(t.innerState().registeredSelections, 1);
    t.unregisterSelection(first); // not registered any more: nothing happens
    EXPECT_EQ(t.innerState().activeSelectionCount, 0);

    // The registry holds selections weakly.
    second.reset();
    auto third = std::make_shared<SelectionService>(fixture.terminal);
    t.registerSelection(third);
    EXPECT_EQ(t.innerState().registeredSelections, 1) << "a selection that has gone is dropped";

    // From another thread while nobody holds the lock.
    std::thread other([&] { t.unregisterSelection(third); });
    other.join();
    EXPECT_EQ(t.innerState().registeredSelections, 0);
}

TEST(TerminalTests, ColumnRestrictedScrollInvalidatesOverlappingSelections)
{
    TerminalFixture fixture(20, 10);
    Terminal& t = fixture.t();
    const auto makeSelection = [&](Position start, Position end) {
        auto selection = std::make_shared<SelectionService>(fixture.terminal);
        selection->setSelection(start, end);
        t.registerSelection(selection);
        return selection;
    };
    auto inside = makeSelection(Position(8, 4), Position(2, 3)); // ends given in reverse order
    auto leftOfMargin = makeSelection(Position(0, 3), Position(2, 3));
    auto rightOfMargin = makeSelection(Position(15, 4), Position(19, 4));
    auto belowRows = makeSelection(Position(5, 8), Position(6, 9));
    auto spanningRows = makeSelection(Position(0, 1), Position(1, 3));
    fixture.delegate->selectionChanges = 0;

    // A scroll of rows 2...5 between the margins at columns 4 and 12: DECSTBM, DECLRMM and
    // DECSLRM, then IND on the region's last row inside the margins.
    t.feed("\x1b[3;6r\x1b[?69h\x1b[5;13s\x1b[6;5H\x1b"
           "D");
    EXPECT_FALSE(inside->active());
    EXPECT_EQ(inside->start(), Position());
    EXPECT_EQ(inside->end(), Position());
    EXPECT_TRUE(leftOfMargin->active()) << "one row, wholly left of the margin";
    EXPECT_TRUE(rightOfMargin->active()) << "one row, wholly right of the margin";
    EXPECT_TRUE(belowRows->active()) << "rows outside the range";
    EXPECT_FALSE(spanningRows->active()) << "several rows reaching into the range";
    EXPECT_EQ(t.innerState().activeSelectionCount, 3);
    EXPECT_EQ(fixture.delegate->selectionChanges, 2);
}

TEST(TerminalTests, RepairWideCellsAtTheMargins)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    putWide(t, 1, 1); // straddles the left margin at column 2
    putWide(t, 1, 6); // straddles the seam after the right margin at column 6
    // DL on row 1 between the margins at columns 2 and 6 shifts only the columns between them;
    // the halves outside them must not be left alone.
    t.feed("\x1b[?69h\x1b[3;7s\x1b[2;3H\x1b[M");
    const BufferLine& line = t.buffer().lines().lineOrEmpty(1);
    EXPECT_EQ(line[1].code, 0) << "the lead left of the margin is blanked";
    EXPECT_EQ(line[2].widthStateCode, 0) << "its continuation is blanked too";
    EXPECT_EQ(line[6].code, 0);
    EXPECT_EQ(line[7].widthStateCode, 0);
}

TEST(TerminalTests, EnableOsc8HyperlinksRefreshesOnChange)
{
    TerminalFixture fixture(10, 3);
    Terminal& t = fixture.t();
    t.feed("\x1b]8;id=1;https://example.invalid\x1b\\");
    ASSERT_TRUE(t.innerState().activeHyperlink);
    t.clearUpdateRange();
    t.setEnableOsc8Hyperlinks(true);
    EXPECT_FALSE(t.getUpdateRange()) << "no change, no refresh";
    t.setEnableOsc8Hyperlinks(false);
    EXPECT_FALSE(t.options().enableOsc8Hyperlinks);
    EXPECT_FALSE(t.innerState().activeHyperlink);
    EXPECT_EQ(t.getUpdateRange(), std::make_pair(0, 3));
    EXPECT_EQ(t.getScrollInvariantUpdateRange(), std::make_pair(0, 3));
}

TEST(TerminalTests, TeardownReleasesHeldPayloadAtoms)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = Terminal::create(delegate);
    // The same link printed twice: the terminal holds its atom once.
    terminal->feed("\x1b]8;;https://example.invalid\x1b\\a\x1b]8;;\x1b\\");
    terminal->feed("\x1b]8;;https://example.invalid\x1b\\b\x1b]8;;\x1b\\");
    const TinyAtom atom = terminal->buffer().getCharAt(Position(1, 0)).payload;
    ASSERT_NE(atom.code, 0);
    ASSERT_TRUE(atom.target());
    EXPECT_EQ((*terminal->innerState().payloads).count, 1);
    terminal->refreshKittyClipboardCapabilities(); // makes the clipboard protocol object
    const KittyClipboardProtocol* clipboard = terminal->innerState().kittyClipboard;
    ASSERT_TRUE(clipboard);
    std::shared_ptr<const KittyClipboardProtocol> keep = clipboard->shared_from_this();
    terminal.reset();
    EXPECT_FALSE(atom.target()) << "the atom went back to the table";
    EXPECT_TRUE(keep->capabilities().isEmpty()) << "the protocol object forgot its terminal";
}

TEST(TerminalTests, DelegateMayGoFirst)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = Terminal::create(delegate);
    delegate.reset();
    terminal->feed("text\x07\x1b]0;title\x07");
    terminal->feed("\x1b[?1004h");
    terminal->setTerminalFocus(true);
    terminal->setForegroundColor(Color(1, 1, 1));
    EXPECT_EQ(rowText(*terminal, 0), "text") << "parsing goes on without a host";
    EXPECT_EQ(terminal->titles().terminalTitle(), "title");
}

TEST(TerminalTests, ViewTerminalForwardsItsNotifications)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    int scrolls = 0;
    std::vector<std::pair<bool, uint64_t>> watchdog;
    auto terminal = ViewTerminal::create(
        delegate, TerminalOptions::defaults(),
        [&](bool active, uint64_t generation) { watchdog.emplace_back(active, generation); },
        [&](Terminal&) { ++scrolls; });
    terminal->scrollPositionChanged();
    EXPECT_EQ(scrolls, 1);
    // Erasing the history changes the scroll range, by a program (ED 3) or by the host.
    terminal->feed(std::string(30, '\n'));
    const int afterOutput = scrolls;
    terminal->feed("\x1b[3J");
    EXPECT_EQ(scrolls, afterOutput + 1);
    terminal->clearScrollback();
    EXPECT_EQ(scrolls, afterOutput + 2);
    terminal->feed("\x1b[?2026h");
    EXPECT_EQ(watchdog, (std::vector<std::pair<bool, uint64_t>>{{true, 1}}));
}

TEST(TerminalDeathTest, ViewTerminalWithoutHandlersStops)
{
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    EXPECT_DEATH(ViewTerminal(delegate, TerminalOptions::defaults()),
                 "init\\(delegate:options:\\) has not been");
}

} // namespace
} // namespace kestrovan::testing
