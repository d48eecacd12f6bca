// XTGETTCAP (DCS + q Pt ST) and the generated capability table: the replies programs get, the
// requests that get none, and the promise that the table describes this terminal: key strings are
// what the key encoder sends, and the control strings are sequences the terminal accepts.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/EscapeSequences.h"
#include "Kestrovan/KestrovanTerminfo.h"
#include "Kestrovan/KittyKeyboardEncoder.h"
#include "Kestrovan/MouseReport.h"
#include "Kestrovan/XtgettcapHandler.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

namespace kestrovan {
namespace {

using testing::DiagnosticCapture;
using testing::TerminalFixture;
using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

std::string replyTo(TerminalFixture& fixture, std::string_view input)
{
    fixture.delegate->sends.clear();
    fixture.t().feed(input);
    return fixture.delegate->sent();
}

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        out += digits[static_cast<uint8_t>(c) >> 4];
        out += digits[static_cast<uint8_t>(c) & 0x0F];
    }
    return out;
}

std::optional<std::string> unhex(std::string_view digits)
{
    if (digits.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(std::string(digits.substr(i, 2)).c_str(), "%2X", &value) != 1 ||
            hex(std::string(1, static_cast<char>(value))) != digits.substr(i, 2))
            return std::nullopt;
        out += static_cast<char>(value);
    }
    return out;
}

/// The table decoded: capability name to value, absent for a flag.
std::map<std::string, std::optional<std::string>> decodedTable()
{
    std::map<std::string, std::optional<std::string>> table;
    for (const auto& [key, reply] : KestrovanTerminfo::xtgettcapReplies()) {
        const std::string prefix = "\x1bP1+r" + key;
        const std::optional<std::string> name = unhex(key);
        EXPECT_TRUE(name.has_value()) << "key " << key << " is not uppercase hexadecimal";
        EXPECT_EQ(reply.rfind(prefix, 0), 0u) << reply;
        EXPECT_EQ(reply.substr(reply.size() - 2), "\x1b\\") << reply;
        if (!name)
            continue;
        const std::string rest = reply.substr(prefix.size(), reply.size() - prefix.size() - 2);
        if (rest.empty()) {
            table[*name] = std::nullopt;
            continue;
        }
        EXPECT_EQ(rest[0], '=') << *name;
        const std::optional<std::string> value = unhex(rest.substr(1));
        EXPECT_TRUE(value.has_value()) << *name << " has a value that is not uppercase hexadecimal";
        table[*name] = value.value_or("");
    }
    return table;
}

TEST(Xtgettcap, TableShapeAndQuotedEntries)
{
    const auto table = decodedTable();
    ASSERT_EQ(table.size(), 271u);

    for (const char* flag : {"AX", "Su", "Tc", "XT", "am", "bce", "ccc", "fullkbd", "hs", "km", "mc5i", "mir",
                             "msgr", "npc", "xenl"}) {
        ASSERT_TRUE(table.count(flag)) << flag;
        EXPECT_FALSE(table.at(flag).has_value()) << flag << " is a flag: its reply has no '='";
    }
    // Numbers and parameterised strings: the other tests cannot feed or compare these.
    const std::map<std::string, std::string> expected = {
        {"Co", "256"},
        {"RGB", "8"},
        {"cols", "80"},
        {"pairs", "32767"},
        {"Cmg", "\\E[%i%p1%d;%p2%ds"},
        {"Ms", "\\E]52;%p1%s;%p2%s\\007"},
        {"Setulc", "\\E[58:2::%p1%{65536}%/%d:%p1%{256}%/%{255}%&%d:%p1%{255}%&%d%;m"},
        {"setrgbf", "\\E[38:2:%p1%d:%p2%d:%p3%dm"},
        {"Sync", "\\E[?2026%?%p1%{1}%-%tl%eh%;"},
        {"xm", "\\E[<%i%p3%d;%p1%d;%p2%d;%?%p4%tM%em%;"},
        {"u6", "\\E[%i%d;%dR"},
        {"u8", "\\E[?%[;0123456789]c"},
        {"TN", "xterm-256color"},
    };
    for (const auto& [name, value] : expected) {
        ASSERT_TRUE(table.count(name)) << name << " is missing";
        EXPECT_EQ(table.at(name), std::optional<std::string>(value)) << name;
    }
}

/// The key capabilities and the key each one names: shift, alt and ctrl as terminfo numbers them.
std::vector<std::tuple<std::string, Key, Mods>> keyCapabilities()
{
    std::vector<std::tuple<std::string, Key, Mods>> out = {
        {"kcuu1", Key::up, Mods()},      {"kcud1", Key::down, Mods()},       {"kcub1", Key::left, Mods()},
        {"kcuf1", Key::right, Mods()},   {"khome", Key::home, Mods()},       {"kend", Key::end, Mods()},
        {"kich1", Key::insert, Mods()},  {"kdch1", Key::delete_, Mods()},    {"kpp", Key::pageUp, Mods()},
        {"knp", Key::pageDown, Mods()},  {"kent", Key::keypadEnter, Mods()}, {"kbs", Key::backspace, Mods()},
        {"kcbt", Key::tab, Mods::shift}, {"kind", Key::down, Mods::shift},   {"kri", Key::up, Mods::shift},
    };
    const Mods suffixes[] = {Mods::alt, Mods::shift | Mods::alt, Mods::ctrl, Mods::shift | Mods::ctrl,
                             Mods::alt | Mods::ctrl};
    for (const auto& [base, key] : std::vector<std::pair<std::string, Key>>{{"kUP", Key::up},
                                                                            {"kDN", Key::down},
                                                                            {"kLFT", Key::left},
                                                                            {"kRIT", Key::right},
                                                                            {"kHOM", Key::home},
                                                                            {"kEND", Key::end},
                                                                            {"kIC", Key::insert},
                                                                            {"kDC", Key::delete_},
                                                                            {"kPRV", Key::pageUp},
                                                                            {"kNXT", Key::pageDown}}) {
        out.emplace_back(base, key, Mods::shift);
        for (int suffix = 3; suffix <= 7; ++suffix)
            out.emplace_back(base + std::to_string(suffix), key, suffixes[suffix - 3]);
    }
    const Mods groups[] = {
        Mods(), Mods::shift, Mods::ctrl, Mods::shift | Mods::ctrl, Mods::alt, Mods::shift | Mods::alt};
    for (int n = 1; n <= 63; ++n)
        out.emplace_back("kf" + std::to_string(n), static_cast<Key>(static_cast<int>(Key::f1) + (n - 1) % 12),
                         groups[(n - 1) / 12]);
    return out;
}

TEST(Xtgettcap, KeyCapabilitiesAreWhatTheTerminalSendsAfterSmkx)
{
    const auto table = decodedTable();
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    // A program that reads the table sends smkx first; from then on each key must send its string.
    t.feed(*table.at("smkx"));
    ASSERT_TRUE(t.mode(TerminalMode::applicationCursor));
    ASSERT_TRUE(t.mode(TerminalMode::applicationKeypad));
    KittyKeyboardEncoder::Switches switches;
    switches.applicationCursor = t.mode(TerminalMode::applicationCursor);
    switches.applicationKeypad = t.mode(TerminalMode::applicationKeypad);
    switches.backspaceSendsControlH = t.mode(TerminalMode::backarrowKeyMode);
    const KittyKeyboardEncoder encoder(t.keyboardEnhancementFlags(), switches);

    const auto keys = keyCapabilities();
    EXPECT_EQ(keys.size(), 138u);
    for (const auto& [name, key, modifiers] : keys) {
        KittyKeyEvent event;
        event.key = KittyKey::functional(key);
        event.modifiers = modifiers;
        const auto bytes = encoder.encode(event);
        ASSERT_TRUE(bytes.has_value()) << name;
        ASSERT_TRUE(table.count(name)) << name << " is missing";
        EXPECT_EQ(table.at(name), std::optional<std::string>(std::string(bytes->begin(), bytes->end())))
            << name;
    }
    // Every other capability named like a key is accounted for: kmous, kxIN and kxOUT are reports.
    for (const auto& [name, value] : table) {
        if (name.size() > 1 && name[0] == 'k' && name != "km" && name != "kmous" && name != "kxIN" &&
            name != "kxOUT") {
            EXPECT_TRUE(
                std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return std::get<0>(k) == name; }))
                << name << " is not checked against the encoder";
        }
    }

    t.feed(*table.at("rmkx"));
    EXPECT_FALSE(t.mode(TerminalMode::applicationCursor));
    EXPECT_FALSE(t.mode(TerminalMode::applicationKeypad));
}

TEST(Xtgettcap, ReportStringsAreWhatTheTerminalSends)
{
    const auto table = decodedTable();
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();

    const auto text = [](const auto& bytes) { return std::string(bytes.begin(), bytes.end()); };
    EXPECT_EQ(table.at("PS"), text(EscapeSequences::bracketedPasteStart()));
    EXPECT_EQ(table.at("PE"), text(EscapeSequences::bracketedPasteEnd()));

    // Focus reports, switched on by fe.
    t.feed(*table.at("fe"));
    fixture.delegate->sends.clear();
    t.setTerminalFocus(false);
    EXPECT_EQ(fixture.delegate->sent(), *table.at("kxOUT"));
    fixture.delegate->sends.clear();
    t.setTerminalFocus(true);
    EXPECT_EQ(fixture.delegate->sent(), *table.at("kxIN"));

    // Mouse reports in the SGR encoding begin with kmous.
    t.feed("\x1b[?1000h\x1b[?1006h");
    fixture.delegate->sends.clear();
    sendHostMouse(t, TerminalMouseAction::press, TerminalMouseButton::left, 0, 4, 2, 4, 2);
    EXPECT_EQ(fixture.delegate->sent().rfind(*table.at("kmous"), 0), 0u) << fixture.delegate->sent();

    // u7 and u9 are queries whose answers u6 and u8 describe; RV and XR are answered too.
    EXPECT_EQ(replyTo(fixture, *table.at("u7")).substr(0, 2), "\x1b[");
    EXPECT_EQ(replyTo(fixture, *table.at("u9")).rfind("\x1b[?", 0), 0u);
    EXPECT_EQ(replyTo(fixture, *table.at("RV")), "\x1b[>65;20;1c");
    EXPECT_EQ(replyTo(fixture, *table.at("XR")).rfind("\x1bP>|", 0), 0u);
}

TEST(Xtgettcap, ControlStringsAreSequencesTheTerminalAccepts)
{
    // Every string without parameters that a program would send is understood: feeding it makes
    // no unknown-sequence report.
    const auto table = decodedTable();
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    t.setSilentLog(false);
    int checked = 0;
    for (const auto& [name, value] : table) {
        const bool sentByTheTerminal =
            (name[0] == 'k' && name != "km") || name == "PS" || name == "PE" || name == "xr" || name == "TN";
        if (!value || sentByTheTerminal || value->find('%') != std::string::npos ||
            value->find_first_not_of("0123456789") == std::string::npos)
            continue;
        DiagnosticCapture capture;
        t.feed(*value);
        // The title start needs its text and end to leave the string.
        if (name == "tsl")
            t.feed("title" + *table.at("fsl"));
        EXPECT_TRUE(capture.lines.empty()) << name << ": " << (capture.lines.empty() ? "" : capture.lines[0]);
        ++checked;
    }
    EXPECT_GE(checked, 70);
}

TEST(Xtgettcap, Requests)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.termName = "vesk-test";
    TerminalFixture fixture(options);
    const auto& replies = KestrovanTerminfo::xtgettcapReplies();
    const std::string co = replies.at("436F");
    const std::string kcuu1 = replies.at("6B63757531");
    EXPECT_EQ(co, "\x1bP1+r436F=323536\x1b\\");

    EXPECT_EQ(replyTo(fixture, "\x1bP+q436f\x1b\\"), co);
    EXPECT_EQ(replyTo(fixture, "\x1bP+q544e\x1b\\"), "\x1bP1+r544E=" + hex("vesk-test") + "\x1b\\")
        << "TN answers the terminal's name, not the table's";
    fixture.delegate->sends.clear();
    fixture.t().feed("\x1bP+q436f;6b63757531\x1b\\");
    ASSERT_EQ(fixture.delegate->sends.size(), 2u) << "one reply per capability";
    EXPECT_EQ(fixture.delegate->sent(), co + kcuu1);

    EXPECT_EQ(replyTo(fixture, "\x1bP+q436\x1b\\"), "") << "odd length";
    EXPECT_EQ(replyTo(fixture, "\x1bP+q5858\x1b\\"), "") << "unknown capability";
    EXPECT_EQ(replyTo(fixture, "\x1bP+q\x1b\\"), "") << "empty request";
    EXPECT_EQ(replyTo(fixture, "\x1bP+q4g6F\x1b\\"), "") << "not hexadecimal";
    EXPECT_EQ(replyTo(fixture, "\x1bP+q436F\xa0\x1b\\"), "") << "a stray byte makes the name invalid";
    EXPECT_EQ(replyTo(fixture, "\x1bP+q;5858;436F;;zz;6b63757531;\x1b\\"), co + kcuu1)
        << "invalid pieces are skipped, the valid ones answered in order";

    // Always 7-bit, even when the terminal sends 8-bit controls.
    fixture.t().feed("\x1b G");
    EXPECT_EQ(replyTo(fixture, "\x1bP+q436F\x1b\\"), co);
    EXPECT_EQ(replyTo(fixture, "\x1bP+q544E\x1b\\"), "\x1bP1+r544E=" + hex("vesk-test") + "\x1b\\");
}

TEST(Xtgettcap, NormalizedKey)
{
    EXPECT_EQ(XTGETTCAP::normalizedKey("aBcD09"), std::optional<std::string>("ABCD09"));
    for (std::string_view bad : {std::string_view(""), std::string_view("ABC"), std::string_view("GG"),
                                 std::string_view("4 "), std::string_view("4\0", 2)})
        EXPECT_EQ(XTGETTCAP::normalizedKey(bad), std::nullopt) << bad;
}

TEST(Xtgettcap, OversizeRequestsGetNoReply)
{
    TerminalFixture fixture(80, 24);
    Terminal& t = fixture.t();
    const std::string co = KestrovanTerminfo::xtgettcapReplies().at("436F");
    // Exactly the limit is answered; one byte more is not answered at all.
    const std::string atLimit = "436F" + std::string(XTGETTCAP::maximumPayloadBytes - 4, ';');
    EXPECT_EQ(replyTo(fixture, "\x1bP+q" + atLimit + "\x1b\\"), co);
    EXPECT_EQ(replyTo(fixture, "\x1bP+q" + atLimit + ";\x1b\\"), "");

    // The same across many feeds: the payload passes the limit in a later chunk.
    fixture.delegate->sends.clear();
    t.feed("\x1bP+q436F");
    const std::string chunk(64 * 1024, ';');
    for (int i = 0; i < 17; ++i)
        t.feed(chunk);
    t.feed("\x1b\\");
    EXPECT_EQ(fixture.delegate->sent(), "");

    // The next request is answered normally.
    EXPECT_EQ(replyTo(fixture, "\x1bP+q436F\x1b\\"), co);
}

TEST(Xtgettcap, HandlerDropsItsBufferOnOverflow)
{
    TerminalFixture fixture(80, 24);
    const std::shared_ptr<DcsHandler> handler = std::make_shared<XTGETTCAP>(fixture.terminal);
    auto& xtgettcap = static_cast<XTGETTCAP&>(*handler);
    handler->hook({}, CsiParameters::empty, 'q');
    const std::vector<uint8_t> big(XTGETTCAP::maximumPayloadBytes, ';');
    handler->put(big);
    EXPECT_EQ(xtgettcap.bufferedBytes(), XTGETTCAP::maximumPayloadBytes);
    const uint8_t more[] = {';'};
    handler->put(more);
    EXPECT_TRUE(xtgettcap.overflowed());
    EXPECT_EQ(xtgettcap.bufferedBytes(), 0u);
    handler->unhook();
    EXPECT_FALSE(xtgettcap.overflowed());
    EXPECT_TRUE(fixture.delegate->sends.empty());
}

} // namespace
} // namespace kestrovan
