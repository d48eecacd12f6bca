// DECRQSS (DCS $ q Pt ST) through the terminal: every setting it reports, in 7-bit and 8-bit form,
// and the requests it refuses without ever repeating them.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/DecrqssHandler.h"
#include "Kestrovan/TerminalInnerState.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

using testing::DiagnosticCapture;
using testing::eightBitReply;
using testing::TerminalFixture;

std::string replyTo(TerminalFixture& fixture, std::string_view input)
{
    fixture.delegate->sends.clear();
    fixture.t().feed(input);
    return fixture.delegate->sent();
}

/// The request wrapped in DCS $ q ... ST.
std::string request(std::string_view setting)
{
    return "\x1bP$q" + std::string(setting) + "\x1b\\";
}

std::string known(std::string_view text)
{
    return "\x1bP1$r" + std::string(text) + "\x1b\\";
}

const std::string unknown = "\x1bP0$r\x1b\\";

TEST(Decrqss, EverySettingInSevenAndEightBitForm)
{
    struct Row
    {
        std::string setting;
        std::string before;
        std::string reply;
    };
    const Row rows[] = {
        {"m", "", known("0m")},
        {"m", "\x1b[1;4;7;31;42m", known("0;1;4;7;31;42m")},
        {"m", "\x1b[0;5;8;38;5;200;48;2;1;2;3m", known("0;5;8;38;5;200;48;2;1;2;3m")},
        {"r", "", known("1;24r")},
        {"r", "\x1b[3;17r", known("3;17r")},
        {"s", "", known("1;80s")},
        {"s", "\x1b[?69h\x1b[5;60s", known("5;60s")},
        {" q", "", known("1 q")},
        {" q", "\x1b[4 q", known("4 q")},
        {" q", "\x1b[6 q", known("6 q")},
        {"\"q", "", known("0\"q")},
        {"\"q", "\x1b[1\"q", known("1\"q")},
        {"\"p", "", known("65;1\"p")},
        {"t", "", known("24t")},
        {"*|", "", known("24*|")},
        {"*x", "", known("0*x")},
        {"$~", "", known("0$~")},
        {"$}", "", known("0$}")},
        {"x", "", unknown},
        {"", "", unknown},
        {"mm", "", unknown},
        {"1m", "", unknown},
        {"q", "", unknown},
    };
    for (const bool eightBit : {false, true}) {
        for (const Row& row : rows) {
            TerminalFixture fixture(80, 24);
            if (eightBit)
                fixture.t().feed("\x1b G");
            fixture.t().feed(row.before);
            const std::string expected = eightBit ? eightBitReply(row.reply) : row.reply;
            EXPECT_EQ(replyTo(fixture, request(row.setting)), expected)
                << "setting '" << row.setting << "' after '" << row.before.substr(row.before.empty() ? 0 : 1)
                << "'" << (eightBit ? " in 8-bit form" : "");
        }
    }
}

TEST(Decrqss, ReportsFollowTheTerminalsState)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    // The rendition reply is the current attribute's own SGR form, whatever it holds.
    t.feed("\x1b[1;3;9;38;2;10;20;30m");
    EXPECT_EQ(replyTo(fixture, request("m")), known(t.innerState().currentAttribute.toSgr()));
    // DECSACE is remembered only for this report.
    t.feed("\x1b[2*x"); // DECSACE: rectangles
    EXPECT_EQ(replyTo(fixture, request("*x")), known("2*x"));
    // Page and line counts follow the size.
    t.resize(100, 40);
    EXPECT_EQ(replyTo(fixture, request("t")), known("40t"));
    EXPECT_EQ(replyTo(fixture, request("*|")), known("40*|"));
    EXPECT_EQ(replyTo(fixture, request("r")), known("1;40r"));
}

TEST(Decrqss, RequestsSplitAcrossFeedsAndEndedBy8BitST)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    fixture.delegate->sends.clear();
    for (const char* piece : {"\x1bP", "$", "q", " ", "q", "\x1b", "\\"})
        t.feed(piece);
    EXPECT_EQ(fixture.delegate->sent(), known("1 q"));
    ASSERT_EQ(fixture.delegate->sends.size(), 1u) << "one reply, sent in one piece";

    // Two requests in one chunk get two replies, in order.
    EXPECT_EQ(replyTo(fixture, request("r") + request("zz")), known("1;24r") + unknown);
}

TEST(Decrqss, RefusedRequestsAreNeverEchoed)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    // Control and non-ASCII bytes inside the request, and a request far longer than any setting.
    const std::string hostile[] = {
        "m\x07",
        "\x07m",
        "\xc3\xa9m",
        "m\xa0",
        std::string(5000, 'm'),
        std::string(DECRQSS::maximumRequestBytes, ' ') + "q",
        "\x1b[31m",
    };
    for (const std::string& payload : hostile) {
        const std::string reply = replyTo(fixture, "\x1bP$q" + payload + "\x1b\\");
        EXPECT_TRUE(reply.rfind(unknown, 0) == 0) << "payload of " << payload.size() << " bytes: " << reply;
    }
    // A request that held ESC ended at that ESC: the rest is ordinary output, not part of a reply.
    EXPECT_EQ(t.innerState().currentAttribute.toSgr(), "0;31m");

    // The refused request is printed on the diagnostics with its controls made visible.
    t.setSilentLog(false);
    DiagnosticCapture capture;
    EXPECT_EQ(replyTo(fixture, "\x1bP$qa\x07\xc3\xa9\x1b\\"), unknown);
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], "Info: Unknown DCS + a\\x07\\xc3\\xa9");
}

TEST(Decrqss, NoReplyOnceTheTerminalIsGone)
{
    auto delegate = std::make_shared<testing::RecordingTerminalDelegate>();
    std::shared_ptr<DcsHandler> handler;
    {
        auto terminal = Terminal::create(delegate);
        handler = std::make_shared<DECRQSS>(terminal);
    }
    const uint8_t setting[] = {'m'};
    handler->hook({}, CsiParameters::empty, 'q');
    handler->put(setting);
    handler->unhook();
    EXPECT_TRUE(delegate->sends.empty());
}

} // namespace
} // namespace kestrovan
