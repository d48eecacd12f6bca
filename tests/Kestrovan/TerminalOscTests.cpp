// The OSC handlers for the palette, the default colours, the directory and document, the
// clipboard, notifications and progress, and the colour-scheme report, fed as a program sends
// them and checked through the host's calls and the replies.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

/// An OSC ended by ESC \.
std::string osc(std::string_view body)
{
    return "\x1b]" + std::string(body) + "\x1b\\";
}

/// A 7-bit OSC reply.
std::string reply(std::string_view body)
{
    return "\x1b]" + std::string(body) + "\x1b\\";
}

/// The same reply with the 8-bit introducer and terminator.
std::string reply8(std::string_view body)
{
    return "\x9d" + std::string(body) + "\x9c";
}

std::string xcolor(const Color& color)
{
    return color.formatAsXcolor();
}

TEST(TerminalOscTests, PaletteEntriesAreSetAndReported)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    const std::vector<Color> initial = t.ansiColors();

    t.feed(osc("4;1;?"));
    EXPECT_EQ(host.sent(), reply("4;1;" + xcolor(initial[1])));

    host.sends.clear();
    t.feed("\x1b G"); // 8-bit controls in replies
    t.feed(osc("4;1;?"));
    EXPECT_EQ(host.sent(), reply8("4;1;" + xcolor(initial[1]))) << "OSC 0x9D ... ST 0x9C";
    t.feed("\x1b F");

    host.sends.clear();
    t.feed(osc("4;1;#ff0000;2;?"));
    EXPECT_EQ(t.ansiColors()[1], Color(0xFFFF, 0, 0));
    EXPECT_EQ(host.colorChanges, std::vector<std::optional<int>>{1});
    EXPECT_EQ(host.sent(), reply("4;2;" + xcolor(initial[2]))) << "a set followed by a query";

    host.sends.clear();
    t.feed(osc("4;3;?;4;?"));
    EXPECT_EQ(host.sent(), reply("4;3;" + xcolor(initial[3])) + reply("4;4;" + xcolor(initial[4])))
        << "a query skips its own \";\" before the next pair";

    host.sends.clear();
    t.feed(osc("4;007;?"));
    EXPECT_EQ(host.sent(), reply("4;7;" + xcolor(initial[7]))) << "the reply names the parsed index";

    host.colorChanges.clear();
    t.feed(osc("4;300;red"));
    t.feed(osc("4;+5;#00ff00"));
    t.feed(osc("4;x;#00ff00;6;#00ff00"));
    EXPECT_TRUE(host.colorChanges.empty()) << "an index over 255, signed or not a number stops the walk";
    EXPECT_EQ(t.ansiColors()[5], initial[5]);
    EXPECT_EQ(t.ansiColors()[6], initial[6]);

    t.feed(osc("4;8;nonsense;9;rgb:12/34/56;10;#0000ff;x;#ffffff"));
    EXPECT_EQ(t.ansiColors()[8], initial[8]) << "an invalid colour changes nothing";
    EXPECT_EQ(t.ansiColors()[9], Color(0x1212, 0x3434, 0x5656)) << "and the walk goes on";
    EXPECT_EQ(t.ansiColors()[10], Color(0, 0, 0xFFFF))
        << "earlier pairs keep their change when a later one stops";
    EXPECT_EQ(host.colorChanges, (std::vector<std::optional<int>>{9, 10}));

    host.sends.clear();
    t.feed(osc("4;255;?"));
    EXPECT_EQ(host.sent(), reply("4;255;" + xcolor(initial[255])));
}

TEST(TerminalOscTests, PaletteResetRestoresTheDefaults)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    const std::vector<Color> defaults = t.palette().defaultAnsiColors();
    t.feed(osc("4;1;#010101;2;#020202;3;#030303;200;#040404"));
    host.colorChanges.clear();

    t.feed(osc("104;1;x;2"));
    EXPECT_EQ(t.ansiColors()[1], defaults[1]);
    EXPECT_EQ(t.ansiColors()[2], defaults[2]);
    EXPECT_EQ(t.ansiColors()[3], Color::fromRed8(3, 3, 3)) << "only the named entries are reset";
    EXPECT_EQ(host.colorChanges, (std::vector<std::optional<int>>{1, 2}));

    host.colorChanges.clear();
    t.feed(osc("104;-3;256;99999999999999999999;;"));
    t.feed(osc("104;3\xc3\xa9"));
    EXPECT_TRUE(host.colorChanges.empty())
        << "out-of-range, overflowing and non-ASCII payloads reset nothing";
    EXPECT_EQ(t.ansiColors()[3], Color::fromRed8(3, 3, 3));

    t.feed(osc("104;+3"));
    EXPECT_EQ(t.ansiColors()[3], defaults[3]) << "a signed index is a number";

    host.colorChanges.clear();
    t.feed(osc("104"));
    EXPECT_EQ(t.ansiColors(), defaults) << "an empty payload restores all 256 entries";
    EXPECT_EQ(host.colorChanges, std::vector<std::optional<int>>{std::nullopt})
        << "with one change without index";
}

TEST(TerminalOscTests, DefaultColoursAreSetAndReported)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    const Color foreground = t.foregroundColor();
    const Color background = t.backgroundColor();

    t.feed(osc("10;?;?"));
    EXPECT_EQ(host.sent(), reply("10;" + xcolor(foreground)) + reply("11;" + xcolor(background)))
        << "OSC 10;?;? asks for foreground and background, each answered under its own number";

    host.sends.clear();
    t.feed(osc("12;?"));
    EXPECT_EQ(host.sent(), reply("12;" + xcolor(foreground))) << "no cursor colour: the foreground";

    host.sends.clear();
    t.feed("\x1b G");
    t.feed(osc("11;?"));
    EXPECT_EQ(host.sent(), reply8("11;" + xcolor(background)));
    t.feed("\x1b F");

    t.feed(osc("11;#000080"));
    EXPECT_EQ(t.backgroundColor(), Color::fromRed8(0, 0, 0x80));
    EXPECT_EQ(t.foregroundColor(), foreground) << "OSC 11 sets only the background";
    ASSERT_FALSE(host.backgroundColors.empty());
    EXPECT_EQ(host.backgroundColors.back(), Color::fromRed8(0, 0, 0x80)) << "the host is told";

    t.feed(osc("10;nonsense;#ffffff;#ff0000;#00ff00"));
    EXPECT_EQ(t.foregroundColor(), foreground) << "an invalid piece is skipped";
    EXPECT_EQ(t.backgroundColor(), Color(0xFFFF, 0xFFFF, 0xFFFF)) << "piece 1 of OSC 10 is the background";
    EXPECT_EQ(t.cursorColor(), Color(0xFFFF, 0, 0)) << "piece 2 the cursor; a fourth piece is ignored";

    host.sends.clear();
    t.feed(osc("12;?"));
    EXPECT_EQ(host.sent(), reply("12;" + xcolor(Color(0xFFFF, 0, 0))));

    host.sends.clear();
    t.feed(osc("12;?;?"));
    EXPECT_EQ(host.sent(), reply("12;" + xcolor(Color(0xFFFF, 0, 0))))
        << "nothing lies above the cursor colour";

    host.sends.clear();
    host.colorsAnswer = std::make_pair(Color(1, 2, 3), Color(4, 5, 6));
    t.feed(osc("10;?;?"));
    EXPECT_EQ(host.sent(), reply("10;" + xcolor(Color(1, 2, 3))) + reply("11;" + xcolor(Color(4, 5, 6))))
        << "queries report the host's colours";

    host.cursorColors.clear();
    t.feed(osc("112"));
    ASSERT_FALSE(host.cursorColors.empty());
    EXPECT_EQ(host.cursorColors.front(), std::nullopt) << "OSC 112 tells the host to drop the cursor colour";
}

TEST(TerminalOscTests, Osc110And111AreUnknown)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.setSilentLog(false);
    DiagnosticCapture capture;
    t.feed(osc("10;#123456"));
    const Color foreground = t.foregroundColor();
    fixture.delegate->foregroundColors.clear();

    t.feed(osc("110") + osc("111"));
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"Info: Kestrovan: Unknown OSC code: 110",
                                                       "Info: Kestrovan: Unknown OSC code: 111"}));
    EXPECT_EQ(t.foregroundColor(), foreground);
    EXPECT_TRUE(fixture.delegate->foregroundColors.empty());
}

TEST(TerminalOscTests, ColourSchemeReports)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.feed("\x1b[?996n");
    EXPECT_EQ(host.sent(), "\x1b[?997;1n") << "dark";
    host.sends.clear();

    t.updateColorScheme(Terminal::TerminalColorScheme::light, true);
    t.notifyColorScheme();
    EXPECT_TRUE(host.sends.empty()) << "no unasked reports while updates are off";
    EXPECT_EQ(t.innerState().colorScheme, Terminal::TerminalColorScheme::light);

    t.feed("\x1b[?2031h");
    t.updateColorScheme(Terminal::TerminalColorScheme::light, false);
    EXPECT_TRUE(host.sends.empty()) << "an update without notify reports nothing";
    t.notifyColorScheme();
    EXPECT_EQ(host.sent(), "\x1b[?997;2n") << "light";

    host.sends.clear();
    t.feed("\x1b G"); // S8C1T
    t.updateColorScheme(Terminal::TerminalColorScheme::dark, true);
    EXPECT_EQ(host.sent(), "\x9b?997;1n");
}

TEST(TerminalOscTests, DirectoryAndDocumentOnlyForTrustedPrograms)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.feed(osc("7;file://host/tmp/caf\xc3\xa9"));
    EXPECT_EQ(t.hostCurrentDirectory(), "file://host/tmp/caf\xc3\xa9") << "stored as written";
    EXPECT_EQ(host.directoryUpdates, 1);
    t.feed(osc("6;file://host/doc.txt"));
    EXPECT_EQ(t.hostCurrentDocument(), "file://host/doc.txt");
    EXPECT_EQ(host.documentUpdates, 1);

    t.feed(osc("7;/bad\xc3\x28"));
    t.feed(osc("6;/bad\xff"));
    EXPECT_EQ(t.hostCurrentDirectory(), "file://host/tmp/caf\xc3\xa9") << "invalid text changes nothing";
    EXPECT_EQ(t.hostCurrentDocument(), "file://host/doc.txt");
    EXPECT_EQ(host.directoryUpdates + host.documentUpdates, 2);

    host.trusted = false;
    t.feed(osc("7;/elsewhere") + osc("6;/other"));
    EXPECT_EQ(t.hostCurrentDirectory(), "file://host/tmp/caf\xc3\xa9")
        << "an untrusted program changes nothing";
    EXPECT_EQ(t.hostCurrentDocument(), "file://host/doc.txt");
    EXPECT_EQ(host.directoryUpdates + host.documentUpdates, 2);

    host.trusted = true;
    t.feed(osc("7;"));
    EXPECT_EQ(t.hostCurrentDirectory(), "") << "the empty payload is a directory too";

    t.setup(true);
    EXPECT_FALSE(t.hostCurrentDirectory()) << "a full reset forgets the directory";
    EXPECT_EQ(t.hostCurrentDocument(), "file://host/doc.txt") << "but not the document";
}

TEST(TerminalOscTests, ClipboardWritesAndReadsGoThroughTheHost)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    const auto bytes = [](std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); };

    t.feed(osc("52;;aGk="));
    t.feed(osc("52;p;"));
    t.feed(osc("52;xyz;aGVsbG8gd29ybGQ="));
    EXPECT_EQ(host.clipboardCopies,
              (std::vector<std::vector<uint8_t>>{bytes("hi"), bytes(""), bytes("hello world")}))
        << "valid base64, the empty data included, is copied whatever the selection";

    host.clipboardCopies.clear();
    t.feed(osc("52;c;aGk"));      // no padding
    t.feed(osc("52;c;aG k="));    // white space
    t.feed(osc("52;c;aGk=aGk=")); // padding inside
    t.feed(osc("52;c;a$k="));     // outside the alphabet
    t.feed(osc("52"));            // no ";"
    t.feed(osc("52;c"));
    EXPECT_TRUE(host.clipboardCopies.empty()) << "malformed writes are ignored";
    EXPECT_TRUE(host.sends.empty());

    t.feed(osc("52;p;?"));
    EXPECT_EQ(host.clipboardReadRequests, std::vector<std::string>{"p"});
    EXPECT_EQ(host.clipboardReads, 1);
    EXPECT_TRUE(host.sends.empty()) << "a host with nothing to give sends nothing";

    host.clipboardContent = bytes("hello\x1b[31m");
    t.feed(osc("52;p;?"));
    EXPECT_EQ(host.sent(), reply("52;p;aGVsbG8bWzMxbQ==")) << "the content travels as base64";

    host.sends.clear();
    t.feed(osc("52;;?"));
    t.feed(osc("52;\xc3\xa9;?"));
    EXPECT_EQ(host.sent(), reply("52;c;aGVsbG8bWzMxbQ==") + reply("52;c;aGVsbG8bWzMxbQ=="))
        << "an empty or non-ASCII selection is \"c\"";

    host.sends.clear();
    t.feed(osc("52;p;rm -rf;?"));
    EXPECT_EQ(host.sent(), std::string()) << "the data after the first \";\" is not exactly \"?\": a write";
    t.feed(osc("52;s0;?"));
    t.feed(osc("52;a b\x7f;?"));
    t.feed(osc("52;\\x1b[A;?"));
    EXPECT_EQ(host.sent(), reply("52;s0;aGVsbG8bWzMxbQ==") + reply("52;c;aGVsbG8bWzMxbQ==") +
                               reply("52;1;aGVsbG8bWzMxbQ=="))
        << "only the selection letters c, p, q, s and 0-7 are echoed back";

    // A selection name of any length gets an answer of bounded size: each defined letter once.
    host.sends.clear();
    std::string longName;
    for (int k = 0; k < 100000; ++k)
        longName += "xcp9q7s0ab";
    t.feed(osc("52;" + longName + ";?"));
    EXPECT_EQ(host.sent(), reply("52;cpq7s0;aGVsbG8bWzMxbQ=="));

    host.sends.clear();
    t.feed("\x1b G");
    t.feed(osc("52;c;?"));
    EXPECT_EQ(host.sent(), reply8("52;c;aGVsbG8bWzMxbQ=="));

    host.sends.clear();
    host.clipboardReadRequests.clear();
    host.takesClipboardReadRequests = true;
    const int reads = host.clipboardReads;
    t.feed(osc("52;q;?"));
    EXPECT_EQ(host.clipboardReadRequests, std::vector<std::string>{"q"});
    EXPECT_EQ(host.clipboardReads, reads) << "a host that takes the request answers on its own";
    EXPECT_TRUE(host.sends.empty());
}

TEST(TerminalOscTests, NotificationsNeedATitleAndABody)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.feed(osc("777;notify;T"));
    t.feed(osc("777;alert;T;B"));
    t.feed(osc("777;notify;T;\xc3\x28"));
    EXPECT_TRUE(host.notifications.empty()) << "two pieces, another verb and invalid UTF-8 are ignored";

    t.feed(osc("777;notify;T;a;b"));
    t.feed(osc("777;notify;;"));
    t.feed(osc("777;notify;Caf\xc3\xa9;"));
    ASSERT_EQ(host.notifications.size(), 3u);
    EXPECT_EQ(host.notifications[0].title, "T");
    EXPECT_EQ(host.notifications[0].body, "a;b") << "the body keeps its \";\"";
    EXPECT_EQ(host.notifications[1].title, "");
    EXPECT_EQ(host.notifications[1].body, "");
    EXPECT_EQ(host.notifications[2].title, "Caf\xc3\xa9");
}

TEST(TerminalOscTests, ProgressReports)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.setSilentLog(false);
    DiagnosticCapture capture;
    RecordingTerminalDelegate& host = *fixture.delegate;
    using State = ProgressReportState;

    t.feed(osc("9;4;1") + osc("9;4;3") + osc("9;4;1;250") + osc("9;4;2;-5") + osc("9;4;0;50") +
           osc("9;4;4;7") + osc("9;4;1;") + osc("9;4;4") + osc("9;4;1;42;extra"));
    const std::vector<ProgressReport> expected{
        {State::set, 0},   {State::indeterminate, std::nullopt}, {State::set, 100},
        {State::error, 0}, {State::remove, std::nullopt},        {State::pause, 7},
        {State::set, 0},   {State::pause, std::nullopt},         {State::set, 42},
    };
    EXPECT_EQ(host.progressReports, expected);
    EXPECT_TRUE(capture.lines.empty());

    host.progressReports.clear();
    t.feed(osc("9;4;1;x") + osc("9;4;10") + osc("9;4;5") + osc("9;4") + osc("9;5;1") + osc("9;4;0;x") +
           osc("9;4;+1"));
    EXPECT_TRUE(host.progressReports.empty());
    EXPECT_EQ(capture.lines.size(), 7u) << "each is logged as an unknown OSC 9";
    for (const std::string& line : capture.lines)
        EXPECT_EQ(line, "Info: Kestrovan: Unknown OSC code: 9");
}

TEST(TerminalOscTests, HandlersWithoutAHostChangeOnlyTheTerminal)
{
    auto host = std::make_shared<RecordingTerminalDelegate>();
    auto t = Terminal::create(host);
    host.reset();
    t->feed(osc("10;#00ff00;?") + osc("4;1;#ff0000;1;?") + osc("52;c;aGk=") + osc("52;c;?") + osc("7;/tmp") +
            osc("777;notify;a;b") + osc("9;4;1") + osc("104;2"));
    EXPECT_EQ(t->ansiColors()[1], Color(0xFFFF, 0, 0)) << "the palette is the terminal's own";
    EXPECT_EQ(t->foregroundColor(), Color(0, 0xFFFF, 0));
    EXPECT_FALSE(t->hostCurrentDirectory()) << "the directory needs a trusting host";
}

} // namespace
} // namespace kestrovan::testing
