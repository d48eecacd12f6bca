// Routing of controls and sequences to the terminal's handlers, the unknown-sequence reports, the
// OSC observers and host handlers, and the built-in DCS and APC handling.
#include "RecordingTerminalDelegate.h"
#include "TerminalTestAccess.h"
#include "TestSupport.h"

#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/SixelDcsHandler.h"
#include "Kestrovan/TerminalInnerState.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace kestrovan::testing {
namespace {

/// A fixture whose terminal reports unknown sequences into a capture.
struct LoudFixture : TerminalFixture
{
    DiagnosticCapture capture;
    LoudFixture() : TerminalFixture(20, 4) { terminal->setSilentLog(false); }
};

TEST(TerminalDispatchTests, ExecuteControls)
{
    LoudFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x07\x07");
    EXPECT_EQ(fixture.delegate->bells, 2);

    t.feed("ab\tc");
    EXPECT_EQ(rowText(t, 0), "ab      c") << "HT goes to the next tab stop";
    // 8-bit C1 controls reach the terminal through the parser's execute action, never from UTF-8
    // text; the tests make that call through the listener interface (TerminalTestAccess).
    ParserListener& listener = TerminalTestAccess::parserListener(t);
    moveCursor(t, 1, 1);
    listener.dispatchExecute(0x88); // HTS: a stop at column 1
    moveCursor(t, 3, 1);
    t.feed("\x1bH"); // HTS: a stop at column 3
    t.feed("\r\t");
    EXPECT_EQ(t.buffer().x(), 1) << "the stop HTS set";
    t.feed("\tX");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(4, 1)) << "the new stop at column 3 is used";

    moveCursor(t, 5, 1);
    t.feed("\x0b");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(5, 2)) << "VT is a line feed";
    t.feed("\x0c");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(5, 3)) << "FF is a line feed";
    listener.dispatchExecute(0x85);
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 3)) << "NEL: index at the bottom scrolls, then CR";
    moveCursor(t, 2, 1);
    listener.dispatchExecute(0x84);
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(2, 2)) << "IND";

    t.feed(std::string_view("\x00", 1));
    ASSERT_EQ(fixture.capture.lines.size(), 1u);
    EXPECT_EQ(fixture.capture.lines[0].rfind("Info: Kestrovan: Unknown EXECUTE code", 0), 0u)
        << fixture.capture.lines[0];

    t.setSilentLog(true);
    t.feed(std::string_view("\x00", 1));
    EXPECT_EQ(fixture.capture.lines.size(), 1u) << "silentLog hides unknown sequences";
}

TEST(TerminalDispatchTests, EscSequences)
{
    LoudFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b=");
    EXPECT_TRUE(t.mode(TerminalMode::applicationKeypad));
    t.feed("\x1b>");
    EXPECT_FALSE(t.mode(TerminalMode::applicationKeypad));

    t.feed("\x1bV");
    EXPECT_EQ(t.innerState().characterProtectionMode, Terminal::CharacterProtectionMode::iso);
    EXPECT_TRUE(t.mode(TerminalMode::characterProtection));
    EXPECT_TRUE(t.buffer(Terminal::BufferKind::normal).bulkInsertBlocked());
    t.feed("\x1bW");
    EXPECT_EQ(t.innerState().characterProtectionMode, Terminal::CharacterProtectionMode::iso);
    EXPECT_FALSE(t.mode(TerminalMode::characterProtection));

    t.feed("\x1b G");
    EXPECT_TRUE(t.cc().send8bit);
    t.feed("\x1b[?1004h"); // focus reports: the current focus goes out at once
    EXPECT_EQ(fixture.delegate->sends.back(), (std::vector<uint8_t>{0x9B, 'I'}));
    t.feed("\x1b F");
    EXPECT_FALSE(t.cc().send8bit);

    moveCursor(t, 3, 2);
    t.feed("\x1b"
           "D");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(3, 3)) << "ESC D is IND";
    t.feed("\x1b"
           "E");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 3)) << "ESC E is NEL";
    t.feed("\x1bM");
    EXPECT_EQ(t.getCursorLocation(), std::make_pair(0, 2)) << "ESC M is RI";
    t.feed("\x1b\\");
    EXPECT_TRUE(fixture.capture.lines.empty()) << "a lone ST is no error";

    t.feed("\x1b,A");
    ASSERT_EQ(fixture.capture.lines.size(), 1u);
    EXPECT_EQ(fixture.capture.lines[0], "Info: Kestrovan: Unknown ESC Code: ESC + A txt=[44]")
        << "\",\" designates nothing";
    t.feed("\x1b#1\x1b%X\x1b Q\x1b"
           "5");
    EXPECT_EQ(fixture.capture.lines.size(), 5u) << "ESC # 1, ESC % X, ESC SP Q and ESC 5 are unknown";
    EXPECT_EQ(fixture.capture.lines.back(), "Info: Kestrovan: Unknown ESC Code: ESC + 5 txt=[]");
}

TEST(TerminalDispatchTests, CsiRoutingThatNeedsNoHandlerFamily)
{
    LoudFixture fixture;
    Terminal& t = fixture.t();

    t.feed("\x1b[>1s");
    EXPECT_TRUE(t.mouseShiftCapture());
    t.feed("\x1b[>5s");
    EXPECT_TRUE(t.mouseShiftCapture()) << "values other than 0 and 1 are ignored";
    t.feed("\x1b[>s");
    EXPECT_FALSE(t.mouseShiftCapture());

    t.feed("\x1b[1\"q");
    EXPECT_EQ(t.innerState().characterProtectionMode, Terminal::CharacterProtectionMode::dec);
    EXPECT_TRUE(t.mode(TerminalMode::characterProtection));
    t.feed("\x1b[3\"q");
    EXPECT_TRUE(t.mode(TerminalMode::characterProtection)) << "DECSCA above 2 is ignored";
    t.feed("\x1b[2\"q");
    EXPECT_FALSE(t.mode(TerminalMode::characterProtection));

    // CHT and CBT walk the tab stops, clamped to the columns.
    t.feed("\x1b[2I");
    EXPECT_EQ(t.buffer().x(), 16);
    t.feed("\x1b[99I");
    EXPECT_EQ(t.buffer().x(), 19) << "no stop left: the last column";
    t.feed("\x1b[Z");
    EXPECT_EQ(t.buffer().x(), 16);
    t.feed("\x1b[99Z");
    EXPECT_EQ(t.buffer().x(), 0);

    t.feed("\x1b[30*|");
    ASSERT_EQ(fixture.delegate->windowCommands.size(), 1u);
    EXPECT_EQ(fixture.delegate->windowCommands[0], WindowManipulationCommand::resizeTerminal(20, 30));
    t.feed("\x1b[0*|\x1b[30|");
    EXPECT_EQ(fixture.delegate->windowCommands.size(), 1u) << "DECSNLS needs a count and the \"*\"";

    EXPECT_TRUE(fixture.capture.lines.empty());
    t.feed("\x1b[?1;2W");
    ASSERT_EQ(fixture.capture.lines.size(), 1u);
    EXPECT_EQ(fixture.capture.lines[0],
              "Info: Kestrovan: Unknown CSI Code (collect=[63] code=W pars=[1, 2])");
}

TEST(TerminalDispatchTests, KittyGraphicsAndQuietOscsAreAcceptedWithoutReplyOrReport)
{
    // Kitty graphics commands are accepted and ignored until inline images are built; an OSC 8
    // link and an OSC 1337 capability query without a feature report answer nothing.
    LoudFixture fixture;
    Terminal& t = fixture.t();
    t.feed("ab");
    const std::string before = screenText(t);
    t.feed("\x1b]8;;https://example.invalid\x07\x1b]1337;Capabilities\x07");
    t.feed("\x1b_Gf=100;AAAA\x1b\\");
    EXPECT_EQ(screenText(t), before);
    EXPECT_TRUE(fixture.delegate->sends.empty()) << "no replies";
    EXPECT_TRUE(fixture.capture.lines.empty()) << "and no unknown-sequence reports";
}

TEST(TerminalDispatchTests, OscTitles)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b]0;zero\x07\x1b]2;two\x1b\\\x1b]1;icon\x07");
    EXPECT_EQ(t.titles().terminalTitle(), "two");
    EXPECT_EQ(t.titles().iconTitle(), "icon");
    EXPECT_EQ(fixture.delegate->titles, (std::vector<std::string>{"zero", "two"}))
        << "OSC 0 sets only the window title";
    EXPECT_EQ(fixture.delegate->iconTitles, std::vector<std::string>{"icon"});

    t.feed("\x1b]2;caf\xc3\xa9\x07");
    EXPECT_EQ(t.titles().terminalTitle(), "caf\xc3\xa9");
    t.feed("\x1b]2;bad\xc3\x28\x07");
    EXPECT_EQ(t.titles().terminalTitle(), "") << "invalid UTF-8 gives the empty title";
    t.feed("\x1b]2;\xed\xa0\x80\x07");
    EXPECT_EQ(t.titles().terminalTitle(), "") << "an encoded surrogate is not valid UTF-8";
    t.feed("\x1b]2;\x07");
    EXPECT_EQ(fixture.delegate->titles.back(), "");

    // Controls never reach the window system: C0 bytes and DEL alike are left out of the title.
    const std::pair<std::string, std::string> controls[] = {
        {"\x1b]2;a\x7f"
         "b\x1b\\",
         "ab"},
        {"\x1b]0;\x7f\x7f\x07", ""},
        {"\x1b]2;a\x01\tb\x7f\x1b\\", "ab"},
        {"\x1b]2;caf\xc3\xa9\x7f\x07", "caf\xc3\xa9"},
    };
    for (const auto& [sequence, title] : controls) {
        t.feed(sequence);
        EXPECT_EQ(fixture.delegate->titles.back(), title) << "from " << ::testing::PrintToString(sequence);
        EXPECT_EQ(t.titles().terminalTitle(), title);
    }
    t.feed("\x1b]1;i\x7f"
           "con\x07");
    EXPECT_EQ(fixture.delegate->iconTitles.back(), "icon") << "the icon title too";
}

TEST(TerminalDispatchTests, NoC1ControlReachesTheHostInATitle)
{
    // Every C1 control, as the character U+0080 ... U+009F and as the raw byte (0x9C, the string
    // terminator, ends the title instead), in OSC 0, 1 and 2 and in the titles the two stacks give
    // back. Characters that merely share those bytes in UTF-8 stay.
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    const RecordingTerminalDelegate& host = *fixture.delegate;
    const std::string kept = "\xc4\x80\xe2\x80\x9c\xf0\x9f\x98\x80"; // U+0100, U+201C, U+1F600
    for (int control = 0x80; control <= 0x9F; ++control) {
        std::vector<std::pair<std::string, std::string>> titles = {
            {"a\xc2" + std::string(1, char(control)) + "b" + kept, "ab" + kept},
            {"\xc2" + std::string(1, char(control)), ""},
        };
        if (control != 0x9C)
            titles.push_back({"c" + std::string(1, char(control)) + "d" + kept, "cd" + kept});
        for (const auto& [payload, shown] : titles) {
            const std::string context =
                "control " + std::to_string(control) + " in " + ::testing::PrintToString(payload);
            t.feed("\x1b]0;" + payload + "\x07");
            EXPECT_EQ(host.titles.back(), shown) << context;
            t.feed("\x1b]1;" + payload + "\x1b\\");
            EXPECT_EQ(host.iconTitles.back(), shown) << context;
            t.feed("\x1b[22;0t\x1b]2;x\x07\x1b]1;y\x07\x1b[23;0t");
            EXPECT_EQ(host.titles.back(), shown) << "popped: " << context;
            EXPECT_EQ(host.iconTitles.back(), shown) << "popped: " << context;
            t.feed("\x1b]2;" + payload + "\x07");
            EXPECT_EQ(t.titles().terminalTitle(), shown) << context;
        }
    }
    t.feed("\x1b]2;a\xa0"
           "b\x07");
    EXPECT_EQ(host.titles.back(), "") << "a byte past the C1 range that starts no character is invalid UTF-8";
}

TEST(TerminalDispatchTests, OscCursorColourResetAndUnknownNumbers)
{
    LoudFixture fixture;
    Terminal& t = fixture.t();
    t.setCursorColor(Color(1, 2, 3));
    fixture.delegate->cursorColors.clear();
    t.feed("\x1b]112\x07");
    // The host hears the reset, and once more when its default writes the colour back.
    EXPECT_EQ(fixture.delegate->cursorColors,
              (std::vector<std::optional<Color>>{std::nullopt, std::nullopt}));
    EXPECT_FALSE(t.cursorColor());

    t.feed("\x1b]110\x07\x1b]9;1;50\x07");
    ASSERT_EQ(fixture.capture.lines.size(), 2u);
    EXPECT_EQ(fixture.capture.lines[0], "Info: Kestrovan: Unknown OSC code: 110");
    EXPECT_EQ(fixture.capture.lines[1], "Info: Kestrovan: Unknown OSC code: 9")
        << "an OSC 9 that is no progress report is unknown";

    EXPECT_FALSE(t.innerState().kittyClipboard);
    t.feed("\x1b]5522;type=read\x07");
    EXPECT_TRUE(t.innerState().kittyClipboard) << "the first OSC 5522 makes the clipboard protocol object";
}

TEST(TerminalDispatchTests, RegisteredOscHandlerWinsButObserversSeeTheEventFirst)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<TerminalOscEvent> events;
    auto observation = t.observeOscEvents([&](const TerminalOscEvent& event) {
        std::lock_guard guard(mutex);
        events.push_back(event);
        arrived.notify_all();
    });

    std::vector<std::string> handled;
    t.registerOscHandler(
        0, [&](std::span<const uint8_t> payload) { handled.emplace_back(payload.begin(), payload.end()); });
    moveCursor(t, 4, 1);
    t.feed("\x1b]0;mine\x07\x1b]2;builtin\x07");
    EXPECT_EQ(handled, std::vector<std::string>{"mine"});
    EXPECT_EQ(fixture.delegate->titles, std::vector<std::string>{"builtin"})
        << "OSC 0 no longer sets the title";

    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(5), [&] { return events.size() == 2; }))
            << "both events reach the observer";
        EXPECT_EQ(events[0].code, 0);
        EXPECT_EQ(std::string(events[0].payload.begin(), events[0].payload.end()), "mine");
        EXPECT_EQ(events[0].cursor, Position(4, 1));
        EXPECT_EQ(events[1].code, 2) << "in order";
    }

    observation->cancel();
    t.feed("\x1b]2;after\x07");
    // A second observer, registered after the cancel, sees the next event; the cancelled one not.
    std::vector<int> later;
    auto second = t.observeOscEvents([&](const TerminalOscEvent& event) {
        std::lock_guard guard(mutex);
        later.push_back(event.code);
        arrived.notify_all();
    });
    t.feed("\x1b]1;x\x07");
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(5), [&] { return later.size() == 1; }));
    EXPECT_EQ(events.size(), 2u) << "the cancelled observer hears nothing more";
    EXPECT_EQ(later, std::vector<int>{1});
}

TEST(TerminalDispatchTests, DcsHookBuildsTheBuiltInHandlers)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    // A factory that declines: DCS q falls back to Sixel.
    int asked = 0;
    t.setDcsHandlerFactory([&](std::span<const uint8_t>, const CsiParameters&) {
        ++asked;
        return std::shared_ptr<DcsHandler>();
    });
    t.feed("\x1bPq#0;2;0;0;0");
    EXPECT_EQ(asked, 1);
    auto sixel = std::dynamic_pointer_cast<SixelDcsHandler>((*t.innerState().parser).dcsHandler());
    ASSERT_TRUE(sixel) << "Sixel is the handler of DCS q";
    EXPECT_EQ(sixel->limits().maximumInputBytes, 67'108'864u);
    EXPECT_EQ(sixel->limits().maximumPixels, 16'777'216u);
    EXPECT_EQ(sixel->limits().maximumPixelWrites, 67'108'864u);
    t.feed("~~~~\x1b\\");
    ASSERT_EQ(fixture.delegate->bitmaps.size(), 1u) << "the payload was taken and decoded";
    EXPECT_EQ(fixture.delegate->bitmaps[0].width, 4);

    t.feed("\x1bP1zabc");
    EXPECT_FALSE((*t.innerState().parser).dcsHandler()) << "other finals have no handler";
    t.feed("\x1b\\");

    // A factory that supplies a handler wins.
    auto mine =
        std::make_shared<SixelDcsHandler>(std::weak_ptr<Terminal>(), SixelDcsHandler::Limits{4, 1, 1});
    t.setDcsHandlerFactory([&](std::span<const uint8_t>, const CsiParameters&) { return mine; });
    t.feed("\x1bPq123456\x1b\\");
    EXPECT_TRUE(mine->invalid()) << "the handler stops taking input past its limit";
    EXPECT_EQ(fixture.delegate->bitmaps.size(), 1u);
}

TEST(TerminalDispatchTests, ApcRouting)
{
    LoudFixture fixture;
    Terminal& t = fixture.t();
    t.feed("\x1b_Ga=q,i=1;AAAA\x1b\\");
    EXPECT_TRUE(fixture.capture.lines.empty()) << "kitty graphics are accepted";
    EXPECT_FALSE(t.innerState().hasKittyPlacements);
    t.feed("\x1b_Xpayload\x1b\\");
    ASSERT_EQ(fixture.capture.lines.size(), 1u);
    EXPECT_EQ(fixture.capture.lines[0], "Info: Kestrovan: Unknown APC code: X");
}

TEST(TerminalDispatchTests, ResetThroughEscCRestartsTheParser)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    // RIS arrives in the middle of a chunk; what follows it is parsed from the ground state.
    t.feed("\x1b"
           "c"
           "after");
    EXPECT_EQ(rowText(t, 0), "after");
}

} // namespace
} // namespace kestrovan::testing
