// Device attributes, device status reports and the version query, as a program sees them: the
// bytes the terminal sends back, in the 7-bit and the 8-bit forms.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/KestrovanBuildInfo.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using testing::DiagnosticCapture;
using testing::eightBitReply;
using testing::moveCursor;
using testing::TerminalFixture;

/// What the terminal sends back for `input`, joined.
std::string replyTo(TerminalFixture& fixture, std::string_view input)
{
    fixture.delegate->sends.clear();
    fixture.t().feed(input);
    return fixture.delegate->sent();
}

TerminalOptions optionsNamed(const std::string& termName, bool sixelReported = true)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 80;
    options.rows = 24;
    options.termName = termName;
    options.enableSixelReported = sixelReported;
    return options;
}

TEST(TerminalDeviceReports, PrimaryAttributesFollowTheTerminalName)
{
    struct Case
    {
        std::string termName;
        bool sixel;
        std::string reply;
    };
    const Case cases[] = {
        {"xterm-256color", true, "\x1b[?65;4;1;2;6;21;22;17;28c"},
        {"xterm-256color", false, "\x1b[?65;1;2;6;21;22;17;28c"},
        {"xterm", true, "\x1b[?65;4;1;2;6;21;22;17;28c"},
        {"screen-256color", true, "\x1b[?1;2c"},
        {"rxvt-unicode-256color", true, "\x1b[?1;2c"},
        {"linux", true, "\x1b[?6c"},
        {"vt100", true, ""},
        {"", true, ""},
    };
    for (const Case& c : cases) {
        TerminalFixture fixture(optionsNamed(c.termName, c.sixel));
        EXPECT_EQ(replyTo(fixture, "\x1b[c"), c.reply) << c.termName << " sixel=" << c.sixel;
        EXPECT_EQ(replyTo(fixture, "\x1b[0c"), c.reply) << c.termName << " with an explicit 0";
        EXPECT_EQ(replyTo(fixture, "\x1bZ"), c.reply) << c.termName << " through DECID";
        fixture.t().feed("\x1b G");
        EXPECT_EQ(replyTo(fixture, "\x1b[c"), eightBitReply(c.reply)) << c.termName << " in 8-bit form";
        EXPECT_EQ(replyTo(fixture, "\x1bZ"), eightBitReply(c.reply)) << c.termName << " DECID in 8-bit form";
    }
}

TEST(TerminalDeviceReports, SecondaryAttributesAndUnansweredForms)
{
    for (const std::string name : {"xterm-256color", "vt100", "linux"}) {
        TerminalFixture fixture(optionsNamed(name));
        EXPECT_EQ(replyTo(fixture, "\x1b[>c"), "\x1b[>65;20;1c") << name;
        EXPECT_EQ(replyTo(fixture, "\x1b[>0c"), "\x1b[>65;20;1c") << name;
        EXPECT_EQ(replyTo(fixture, "\x1b[>1c"), "") << name << ": a parameter of 1 or more is never answered";
        EXPECT_EQ(replyTo(fixture, "\x1b[=c"), "") << name << ": DA3 is not answered";
        EXPECT_EQ(replyTo(fixture, "\x1b[?c"), "") << name;
        fixture.t().feed("\x1b G");
        EXPECT_EQ(replyTo(fixture, "\x1b[>c"), "\x9b>65;20;1c") << name << " in 8-bit form";
    }

    // A parameter of 1 or more is reported on the diagnostics when logging is on, and only then.
    TerminalFixture fixture(optionsNamed("xterm-256color"));
    {
        DiagnosticCapture capture;
        EXPECT_EQ(replyTo(fixture, "\x1b[1c"), "");
        EXPECT_TRUE(capture.lines.empty()) << "silentLog is on by default";
    }
    fixture.t().setSilentLog(false);
    DiagnosticCapture capture;
    EXPECT_EQ(replyTo(fixture, "\x1b[>2;3c"), "");
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0].rfind("Info: SendDeviceAttributes got ", 0), 0u) << capture.lines[0];
}

TEST(TerminalDeviceReports, AnsiStatusReports)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    EXPECT_EQ(replyTo(fixture, "\x1b[5n"), "\x1b[0n");
    EXPECT_EQ(replyTo(fixture, "\x1b[3;10H\x1b[6n"), "\x1b[3;10R");
    EXPECT_EQ(replyTo(fixture, "\x1b[n"), "") << "no request";
    EXPECT_EQ(replyTo(fixture, "\x1b[7n"), "");
    EXPECT_EQ(replyTo(fixture, "\x1b[>6n"), "") << "an unknown private marker";

    // A cursor waiting to wrap after printing into the last column reports the last column.
    t.feed("\x1b[5;80Hx");
    ASSERT_TRUE(t.buffer().wrapPending());
    EXPECT_EQ(replyTo(fixture, "\x1b[6n"), "\x1b[5;80R");

    t.feed("\x1b G");
    EXPECT_EQ(replyTo(fixture, "\x1b[5n"), "\x9b"
                                           "0n");
    EXPECT_EQ(replyTo(fixture, "\x1b[2;7H\x1b[6n"), "\x9b"
                                                    "2;7R");
}

TEST(TerminalDeviceReports, CursorReportsCountFromTheOriginInOriginMode)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    // A scroll region from row 5 and margins from column 3, then origin mode.
    t.feed("\x1b[5;20r\x1b[?69h\x1b[3;40s\x1b[?6h\x1b[2;4H");
    EXPECT_EQ(t.buffer().y(), 5);
    EXPECT_EQ(t.buffer().x(), 5);
    EXPECT_EQ(replyTo(fixture, "\x1b[6n"), "\x1b[2;4R");
    EXPECT_EQ(replyTo(fixture, "\x1b[?6n"), "\x1b[?2;4;1R");
    EXPECT_EQ(replyTo(fixture, "\x1b[?6l\x1b[6;6H\x1b[6n"), "\x1b[6;6R")
        << "without origin mode the screen corner is 1;1";
}

TEST(TerminalDeviceReports, DecStatusReportsEveryRow)
{
    struct Row
    {
        const char* request;
        std::string reply;
    };
    const Row rows[] = {
        {"\x1b[?6n", "\x1b[?3;10;1R"},
        {"\x1b[?15n", "\x1b[?10n"},
        {"\x1b[?25n", "\x1b[?21n"},
        {"\x1b[?26n", "\x1b[?27;1;0;0n"},
        {"\x1b[?55n", "\x1b[?53n"},
        {"\x1b[?56n", "\x1b[?57;1n"},
        {"\x1b[?62n", "\x1b[0*{"},
        {"\x1b[?63;7n", "\x1bP7!~0000\x1b\\"},
        {"\x1b[?63n", "\x1bP0!~0000\x1b\\"},
        {"\x1b[?75n", "\x1b[?70n"},
        {"\x1b[?85n", "\x1b[?83n"},
        {"\x1b[?998n", "\x1b[?999;1n"},
        {"\x1b[?5n", ""},
        {"\x1b[?999n", ""},
        {"\x1b[?n", ""},
    };
    for (const bool eightBit : {false, true}) {
        TerminalFixture fixture(80, 24);
        if (eightBit)
            fixture.t().feed("\x1b G");
        fixture.t().feed("\x1b[3;10H");
        for (const Row& row : rows) {
            const std::string expected = eightBit ? eightBitReply(row.reply) : row.reply;
            EXPECT_EQ(replyTo(fixture, row.request), expected)
                << "request " << (row.request + 1) << (eightBit ? " in 8-bit form" : "");
        }
    }
}

TEST(TerminalDeviceReports, ColorSchemeAndVisibilityRequestsSendTheirReports)
{
    // CSI ? 996 n answers exactly as the colour-scheme report does, CSI ? 998 n as the visibility
    // report, whichever state they report.
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    fixture.delegate->sends.clear();
    EXPECT_EQ(replyTo(fixture, "\x1b[?996n"), "\x1b[?997;1n") << "the dark scheme";

    t.setTerminalVisibility(TerminalVisibility::notVisible);
    EXPECT_EQ(replyTo(fixture, "\x1b[?998n"), "\x1b[?999;2n");
    t.feed("\x1b G");
    EXPECT_EQ(replyTo(fixture, "\x1b[?998n"), "\x9b?999;2n");
}

TEST(TerminalDeviceReports, VersionQueryIsAlwaysSevenBit)
{
    TerminalFixture fixture(80, 24);
    const std::string reply = "\x1bP>|Kestrovan 1.99.2+v1.99.2:\x1b\\";
    EXPECT_EQ(replyTo(fixture, "\x1b[>q"), reply);
    EXPECT_EQ(replyTo(fixture, "\x1b[>0q"), reply);
    EXPECT_EQ(replyTo(fixture, "\x1b[>1q"), "");
    EXPECT_EQ(replyTo(fixture, "\x1b[>0;0q"), "") << "exactly one parameter";
    EXPECT_EQ(replyTo(fixture, "\x1b[>=q"), "");
    fixture.t().feed("\x1b G");
    EXPECT_EQ(replyTo(fixture, "\x1b[>q"), reply) << "8-bit controls do not change XTVERSION";
}

TEST(TerminalDeviceReports, VersionIdentity)
{
    using S = std::optional<std::string>;
    EXPECT_EQ(KestrovanBuildInfo::xtVersionIdentity(S("v1.99.2"), std::nullopt, S("v1.99.2")),
              "Kestrovan 1.99.2+v1.99.2:");
    EXPECT_EQ(KestrovanBuildInfo::xtVersionIdentity(std::nullopt, std::nullopt, std::nullopt), "Kestrovan:");
    EXPECT_EQ(KestrovanBuildInfo::xtVersionIdentity(S("2.0"), S("main"), S("unknown")),
              "Kestrovan 2.0-main:");
    EXPECT_EQ(KestrovanBuildInfo::xtVersionIdentity(S("v"), S(""), S("abc")), "Kestrovan+abc:")
        << "a tag that is only 'v' and an empty branch are skipped";
    EXPECT_EQ(KestrovanBuildInfo::xtVersionIdentity(S("v1\x1b]2;x\x07"), S("\x1b\x9c"), S("\x01\x02")),
              "Kestrovan 1]2;x:")
        << "only printable ASCII reaches the reply";

    // 256 bytes stay; 257 are cut to 255 and closed with ":" again.
    const std::string fits(256 - std::string("Kestrovan+:").size(), 'a');
    EXPECT_EQ(KestrovanBuildInfo::xtVersionIdentity(std::nullopt, std::nullopt, fits).size(), 256u);
    const std::string identity =
        KestrovanBuildInfo::xtVersionIdentity(std::nullopt, std::nullopt, fits + "b");
    EXPECT_EQ(identity.size(), 256u);
    EXPECT_EQ(identity.substr(0, 255), "Kestrovan+" + fits);
    EXPECT_EQ(identity.back(), ':');
}

TEST(TerminalDeviceReports, BuildInformation)
{
    EXPECT_EQ(KestrovanBuildInfo::tag(), std::optional<std::string>("v1.99.2"));
    EXPECT_EQ(KestrovanBuildInfo::branch(), std::nullopt);
    EXPECT_EQ(KestrovanBuildInfo::version(), "v1.99.2");
    // The revision is whatever git said at build time; when known it is a full object name, and
    // the uncommitted-changes flag is known with it.
    if (const auto& commit = KestrovanBuildInfo::commit()) {
        EXPECT_TRUE(commit->size() == 40 || commit->size() == 64) << *commit;
        EXPECT_EQ(commit->find_first_not_of("0123456789abcdef"), std::string::npos) << *commit;
        EXPECT_TRUE(KestrovanBuildInfo::hasUncommittedChanges().has_value());
    } else {
        EXPECT_FALSE(KestrovanBuildInfo::hasUncommittedChanges().has_value());
    }
}

} // namespace
} // namespace kestrovan
