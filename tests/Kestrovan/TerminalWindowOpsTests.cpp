// Window operations as programs send them: the commands handed to the host, the size reports with
// and without the host's answer and the pixel geometry, in 7-bit and 8-bit form, the empty title
// reports, the title stacks with their limit and shared storage, and the title-mode switches.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Command = WindowManipulationCommand;
using Kind = WindowManipulationCommand::Kind;

/// A host that may answer window commands and report a cell size.
class ScriptedDelegate : public RecordingTerminalDelegate
{
public:
    std::optional<std::vector<uint8_t>> answer;
    std::optional<CellPixelSize> cellSize;
    /// Set a new title from inside the next title callback, as a host reacting to it might.
    bool retitleInsideCallback = false;

    std::optional<std::vector<uint8_t>> windowCommand(Terminal& source, const Command& command) override
    {
        RecordingTerminalDelegate::windowCommand(source, command);
        return answer;
    }
    std::optional<CellPixelSize> cellSizeInPixels(Terminal&) override { return cellSize; }
    void setTerminalTitle(Terminal& source, const std::string& title) override
    {
        if (retitleInsideCallback) {
            retitleInsideCallback = false;
            source.feed("\x1b]2;" + std::string(64, 'n') + "\x07");
        }
        // Read only after the nested change: the text must still be the popped title.
        RecordingTerminalDelegate::setTerminalTitle(source, title);
    }
};

struct WindowFixture
{
    std::shared_ptr<ScriptedDelegate> delegate = std::make_shared<ScriptedDelegate>();
    std::shared_ptr<Terminal> terminal;
    DiagnosticCapture capture;

    WindowFixture(int cols = 80, int rows = 24)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        terminal = Terminal::create(delegate, options);
        terminal->setSilentLog(false);
    }
    Terminal& t() { return *terminal; }
    /// What the terminal sent for `sequence` alone.
    std::string reply(const std::string& sequence)
    {
        delegate->sends.clear();
        terminal->feed(sequence);
        return delegate->sent();
    }
};

TEST(TerminalWindowOpsTests, SizeReportsAnswerWithDefaultsWhenTheHostDoesNot)
{
    WindowFixture fixture;
    EXPECT_EQ(fixture.reply("\x1b[18t"), "\x1b[8;24;80t") << "text area in characters";
    EXPECT_EQ(fixture.reply("\x1b[19t"), "\x1b[9;24;80t") << "screen in characters";
    EXPECT_EQ(fixture.reply("\x1b[16t"), "\x1b[6;16;10t") << "a 10 x 16 cell when nobody knows better";
    EXPECT_EQ(fixture.reply("\x1b[14t"), "\x1b[4;384;800t") << "text area in pixels: rows x 16, cols x 10";
    EXPECT_EQ(fixture.reply("\x1b[14;2t"), "\x1b[4;384;800t") << "the window reports the text area";
    EXPECT_EQ(fixture.reply("\x1b[15t"), "\x1b[5;384;800t");
    const std::vector<Command> expected = {
        Command::make(Kind::reportTextAreaCharacters),
        Command::make(Kind::reportScreenSizeCharacters),
        Command::make(Kind::reportCellSizeInPixels),
        Command::make(Kind::reportTextAreaPixelDimension),
        Command::make(Kind::reportTerminalWindowPixelDimension),
        Command::make(Kind::reportSizeOfScreenInPixels),
    };
    EXPECT_EQ(fixture.delegate->windowCommands, expected) << "the host is asked first every time";

    fixture.t().feed("\x1b G"); // S8C1T
    EXPECT_EQ(fixture.reply("\x1b[18t"), "\x9b"
                                         "8;24;80t")
        << "8-bit CSI when switched on";
}

TEST(TerminalWindowOpsTests, PixelReportsUseTheGeometryThenTheHostsCellSize)
{
    WindowFixture fixture(100, 30);
    Terminal& t = fixture.t();
    fixture.delegate->cellSize = CellPixelSize{7, 14};
    EXPECT_EQ(fixture.reply("\x1b[16t"), "\x1b[6;14;7t") << "without geometry the host's cell size";
    EXPECT_EQ(fixture.reply("\x1b[14t"), "\x1b[4;420;700t");

    t.updatePixelGeometry(9, 18);
    ASSERT_EQ(t.innerState().pixelGeometry, (TerminalPixelGeometry{30, 100, 9, 18}));
    EXPECT_EQ(fixture.reply("\x1b[16t"), "\x1b[6;18;9t") << "the committed geometry wins";
    EXPECT_EQ(fixture.reply("\x1b[14t"), "\x1b[4;540;900t");
    EXPECT_EQ(fixture.reply("\x1b[14;2t"), "\x1b[4;540;900t");
    EXPECT_EQ(fixture.reply("\x1b[15t"), "\x1b[5;420;700t")
        << "the screen report asks the host, not the geometry";
    fixture.delegate->cellSize.reset();
    EXPECT_EQ(fixture.reply("\x1b[15t"), "\x1b[5;480;1000t") << "and falls back to 10 x 16";

    // A host cell size large enough to overflow 32 bits when multiplied out, on a terminal the
    // host never gave a geometry.
    WindowFixture fresh(100, 30);
    fresh.delegate->cellSize = CellPixelSize{100000000, 100000000};
    EXPECT_EQ(fresh.reply("\x1b[14t"), "\x1b[4;3000000000;10000000000t");
}

TEST(TerminalWindowOpsTests, TheHostsAnswerReplacesTheDefaultAndIsSentForAnyCommand)
{
    WindowFixture fixture;
    const std::string answer = "\x1b[8;1;2t";
    fixture.delegate->answer = std::vector<uint8_t>(answer.begin(), answer.end());
    EXPECT_EQ(fixture.reply("\x1b[18t"), answer);
    EXPECT_EQ(fixture.reply("\x1b[2t"), answer) << "any command's answer goes back";
    fixture.delegate->answer = std::vector<uint8_t>();
    EXPECT_EQ(fixture.reply("\x1b[18t"), "") << "an empty answer suppresses the default report";
    EXPECT_TRUE(std::all_of(fixture.delegate->sends.begin(), fixture.delegate->sends.end(),
                            [](const auto& bytes) { return !bytes.empty(); }))
        << "and nothing empty is sent";
}

TEST(TerminalWindowOpsTests, TitleReportsAreEmptySoATitleCannotBecomeInput)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    // A title a program could plant to be typed back: a command and a carriage return.
    t.feed("\x1b]2;rm -rf ~\r\x07\x1b]1;\x1b[A\x07");
    EXPECT_EQ(fixture.reply("\x1b[21t"), "\x1b]l\x1b\\");
    EXPECT_EQ(fixture.reply("\x1b[20t"), "\x1b]L\x1b\\");
    EXPECT_TRUE(fixture.delegate->windowCommands.empty()) << "the title reports never reach the host";
    t.feed("\x1b G"); // S8C1T
    EXPECT_EQ(fixture.reply("\x1b[21t"), "\x9dl\x9c");
    EXPECT_EQ(fixture.reply("\x1b[20t"), "\x9dL\x9c");
}

TEST(TerminalWindowOpsTests, RequestsBecomeCommandsForTheHost)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[1t\x1b[2t\x1b[5t\x1b[6t\x1b[7t");
    t.feed("\x1b[3;11;22t\x1b[4;300;400t\x1b[8;30;100t\x1b[30t\x1b[24t");
    t.feed("\x1b[9;0t\x1b[9;1t\x1b[9;2t\x1b[9;3t\x1b[10;0t\x1b[10;1t\x1b[10;2t");
    const std::vector<Command> expected = {
        Command::make(Kind::deiconifyWindow),
        Command::make(Kind::iconifyWindow),
        Command::make(Kind::bringToFront),
        Command::make(Kind::sendToBack),
        Command::make(Kind::refreshWindow),
        Command::moveWindowTo(11, 22),
        Command::resizeWindowTo(400, 300),
        Command::resizeTerminal(100, 30),
        Command::resizeTerminal(80, 30),
        Command::resizeTerminal(80, 24),
        Command::make(Kind::restoreMaximizedWindow),
        Command::make(Kind::maximizeWindow),
        Command::make(Kind::maximizeWindowVertically),
        Command::make(Kind::maximizeWindowHorizontally),
        Command::make(Kind::undoFullScreen),
        Command::make(Kind::switchToFullScreen),
        Command::make(Kind::toggleFullScreen),
    };
    EXPECT_EQ(fixture.delegate->windowCommands, expected);
    EXPECT_TRUE(fixture.delegate->sends.empty()) << "commands other than reports have no default answer";
    EXPECT_TRUE(fixture.capture.lines.empty());
    EXPECT_EQ(Command::resizeWindowTo(400, 300).description(), "resizeWindowTo(width: 400, height: 300)");
    EXPECT_EQ(Command::make(Kind::toggleFullScreen).description(), "toggleFullScreen");
}

TEST(TerminalWindowOpsTests, RequestsOfTheWrongShapeAreReportedAndIgnored)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    t.feed(
        "\x1b[9t\x1b[11t\x1b[13;2t\x1b[22t\x1b[23t\x1b[9;4t\x1b[1;1t\x1b[3;1t\x1b[t\x1b[18;1;1;1t\x1b[22;3t");
    const std::vector<std::string> expected = {
        "Info: Unhandled Window command: [9]",     "Info: Unhandled Window command: [11]",
        "Info: Unhandled Window command: [13, 2]", "Info: Unhandled Window command: [22]",
        "Info: Unhandled Window command: [23]",    "Info: Unhandled Window command: [9, 4]",
        "Info: Unhandled Window command: [1, 1]",  "Info: Unhandled Window command: [3, 1]",
        "Info: Unhandled Window command: [0]",     "Info: Unhandled Window command: [18, 1, 1, 1]",
        "Info: Unhandled Window command: [22, 3]",
    };
    EXPECT_EQ(fixture.capture.lines, expected);
    EXPECT_TRUE(fixture.delegate->windowCommands.empty());
    EXPECT_TRUE(fixture.delegate->sends.empty());

    fixture.capture.lines.clear();
    t.setSilentLog(true);
    t.feed("\x1b[9t");
    EXPECT_TRUE(fixture.capture.lines.empty()) << "silentLog quiets the report";
}

TEST(TerminalWindowOpsTests, TitleStacksPushAndPopTitlesAndTellTheHost)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    ScriptedDelegate& host = *fixture.delegate;
    t.feed("\x1b]2;first\x07\x1b]1;icon\x07");
    t.feed("\x1b[22;0t\x1b]2;second\x07\x1b]1;icon2\x07");
    host.titles.clear();
    host.iconTitles.clear();
    t.feed("\x1b[23;0t");
    EXPECT_EQ(t.titles().terminalTitle(), "first");
    EXPECT_EQ(t.titles().iconTitle(), "icon");
    EXPECT_EQ(host.titles, std::vector<std::string>{"first"}) << "the host hears of each title restored";
    EXPECT_EQ(host.iconTitles, std::vector<std::string>{"icon"});

    t.feed("\x1b[23;2t\x1b[23;1t\x1b[23;0;0t");
    EXPECT_EQ(t.titles().terminalTitle(), "first") << "popping empty stacks changes nothing";
    EXPECT_EQ(host.titles.size(), 1u);
    EXPECT_EQ(host.iconTitles.size(), 1u);

    // One stack at a time.
    t.feed("\x1b[22;2t\x1b]2;A\x07\x1b]1;B\x07\x1b[22;1t\x1b]1;C\x07");
    EXPECT_EQ(t.titles().terminalTitleStack().size(), 1u);
    EXPECT_EQ(t.titles().terminalIconStack().size(), 1u);
    t.feed("\x1b[23;1t");
    EXPECT_EQ(t.titles().iconTitle(), "B");
    EXPECT_EQ(t.titles().terminalTitle(), "A") << "the icon pop leaves the title";
    t.feed("\x1b[22;0;0t\x1b]2;D\x07\x1b[23;2t");
    EXPECT_EQ(t.titles().terminalTitle(), "A") << "22;0;0 pushes like 22;0";
    t.feed("\x1b[23;2t");
    EXPECT_EQ(t.titles().terminalTitle(), "first");

    // The host may set a title from inside the callback of a pop.
    t.feed("\x1b]2;popped\x07\x1b[22;2t\x1b]2;later\x07");
    host.titles.clear();
    host.retitleInsideCallback = true;
    t.feed("\x1b[23;2t");
    ASSERT_EQ(host.titles.size(), 2u);
    EXPECT_EQ(host.titles[1], "popped") << "the popped text outlives the nested title change";
}

TEST(TerminalWindowOpsTests, TitleStacksShareTheirTextAndKeepOnlyTheNewestEntries)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    // A one-MiB title pushed far past the limit costs a pointer per push, never a copy.
    t.feed("\x1b]2;" + std::string(1 << 20, 'x') + "\x07");
    std::string pushes;
    for (size_t i = 0; i < TitleStack::maximumDepth + 100; ++i)
        pushes += "\x1b[22;2t";
    t.feed(pushes);
    ASSERT_EQ(t.titles().terminalTitleStack().size(), TitleStack::maximumDepth)
        << "the stack stops at its limit";
    EXPECT_TRUE(t.titles().terminalTitleStack()[0].sharesStorageWith(t.titles().terminalTitle()));
    EXPECT_TRUE(t.titles().terminalTitleStack()[TitleStack::maximumDepth - 1].sharesStorageWith(
        t.titles().terminalTitle()));
    EXPECT_EQ(fixture.capture.lines,
              std::vector<std::string>{
                  "Info: Kestrovan: title stack holds 4096 titles or 1048576 bytes; dropping the oldest"})
        << "one warning per overflow, not one per push";

    // Distinct titles are bounded by their bytes as well: 500 distinct 1 MB titles keep only the
    // newest, while short titles still fill the stack to its depth.
    WindowFixture large;
    Terminal& l = large.t();
    for (int i = 0; i < 500; ++i)
        l.feed("\x1b]2;" + std::to_string(i) + std::string(1000000, 'x') + "\x07\x1b[22;2t");
    EXPECT_EQ(l.titles().terminalTitleStack().size(), 1u);
    EXPECT_LE(l.titles().terminalTitleStack().countedBytes(), TitleStack::maximumBytes + 1000000);
    EXPECT_EQ(l.titles().terminalTitleStack()[0].str().substr(0, 3), "499");
    l.feed("\x1b]2;" + std::string(200, 'y') + "\x07");
    for (int i = 0; i < 10; ++i)
        l.feed("\x1b[22;2t");
    EXPECT_EQ(l.titles().terminalTitleStack().size(), 11u) << "one shared text counts once";
    for (int i = 0; i < 11; ++i)
        l.feed("\x1b[23;2t");
    EXPECT_EQ(l.titles().terminalTitle().str().substr(0, 3), "499");
    EXPECT_EQ(l.titles().terminalTitleStack().countedBytes(), 0u);

    // Numbered titles: the oldest ones drop out, the newest pop first.
    WindowFixture numbered;
    Terminal& n = numbered.t();
    for (size_t i = 0; i < TitleStack::maximumDepth + 3; ++i)
        n.feed("\x1b]2;" + std::to_string(i) + "\x07\x1b[22;2t");
    n.feed("\x1b[23;2t");
    EXPECT_EQ(n.titles().terminalTitle(), std::to_string(TitleStack::maximumDepth + 2));
    for (size_t i = 1; i < TitleStack::maximumDepth; ++i)
        n.feed("\x1b[23;2t");
    EXPECT_EQ(n.titles().terminalTitle(), "3") << "titles 0, 1 and 2 were dropped";
    EXPECT_TRUE(n.titles().terminalTitleStack().empty());
    n.feed("\x1b[23;2t");
    EXPECT_EQ(n.titles().terminalTitle(), "3");
}

TEST(TerminalWindowOpsTests, WithoutAHostNothingHappens)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b]2;kept\x07");
    fixture.delegate.reset();
    t.feed("\x1b[22;0t\x1b[18t\x1b[99t");
    EXPECT_TRUE(t.titles().terminalTitleStack().empty()) << "no stack operation without a host";
    EXPECT_TRUE(fixture.capture.lines.empty()) << "and no report either";
}

TEST(TerminalWindowOpsTests, TitleModesAreSetAndResetPerParameter)
{
    WindowFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b[>0;2t");
    EXPECT_TRUE(t.titles().xtermTitleSetHex() && t.titles().xtermTitleSetUtf());
    EXPECT_FALSE(t.titles().xtermTitleQueryHex() || t.titles().xtermTitleQueryUtf());
    t.feed("\x1b[>1;3;7t");
    EXPECT_TRUE(t.titles().xtermTitleQueryHex() && t.titles().xtermTitleQueryUtf())
        << "unknown modes are skipped";
    t.feed("\x1b[>0;3T");
    EXPECT_FALSE(t.titles().xtermTitleSetHex() || t.titles().xtermTitleQueryUtf());
    EXPECT_TRUE(t.titles().xtermTitleSetUtf() && t.titles().xtermTitleQueryHex());
    EXPECT_TRUE(fixture.delegate->windowCommands.empty());
    EXPECT_TRUE(fixture.capture.lines.empty());
}

} // namespace
} // namespace kestrovan::testing
