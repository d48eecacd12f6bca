// Input from hosts without a view, as the program sees it: the bytes each host call sends for
// keys named by web key values, for text, pastes and clipboard answers, under the modes and
// keyboard flags a program sets; what the calls answer; and the modes the host is told.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/HostKeyNames.h"
#include "Kestrovan/Portable/WasmHostEventQueue.h"
#include "Kestrovan/TerminalHostInput.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

constexpr uint32_t shift = 1;
constexpr uint32_t alt = 2;
constexpr uint32_t ctrl = 4;
constexpr uint32_t super = 8;
constexpr uint32_t press = 1;
constexpr uint32_t repeat = 2;
constexpr uint32_t release = 3;

/// Control bytes made readable in failure messages.
std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\x1b')
            out += "\\e";
        else if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", uint8_t(c));
            out += hex;
        } else
            out += c;
    }
    return out;
}

struct HostInputFixture : TerminalFixture
{
    HostInputFixture() : TerminalFixture(20, 4) {}

    /// Sends a key and returns what reached the program; the result is kept in `result`.
    std::string key(std::string_view name, std::string_view code = "", uint32_t modifiers = 0,
                    uint32_t eventType = press, std::optional<std::string> text = std::nullopt,
                    uint32_t shiftedKey = 0, uint32_t baseLayoutKey = 0)
    {
        delegate->sends.clear();
        result = sendHostKey(t(), name, code, modifiers, eventType, text, shiftedKey, baseLayoutKey);
        return escaped(delegate->sent());
    }
    int result = -1;
};

TEST(TerminalHostInputTests, KeyNamesResolveThroughTheThreeTablesInOrder)
{
    using Key = KittyFunctionalKey;
    struct Case
    {
        const char *key, *code;
        std::optional<Key> expected;
        const char* why;
    };
    const Case cases[] = {
        {"MediaStop", "", Key::mediaStop, "the media keys skip the protocol's reverse key"},
        {"Super", "", Key::leftSuper, "Meta and Super are the same key"},
        {"Meta", "", Key::leftSuper, ""},
        {"Shift", "ShiftRight", Key::rightShift, "the code names the side"},
        {"4", "Numpad4", Key::keypad4, ""},
        {"ArrowLeft", "Numpad4", Key::keypadLeft, "a keypad key navigating with Num Lock off"},
        {"ArrowLeft", "ArrowLeft", Key::left, "the arrow key itself"},
        {"Clear", "Numpad5", Key::keypadBegin, ""},
        {"Clear", "KeyC", std::nullopt, "Clear is a key only on the keypad"},
        {"Enter", "NumpadEnter", Key::keypadEnter, "the physical keypad Enter before the named Enter"},
        {"a", "KeyA", std::nullopt, ""},
        {"F36", "", std::nullopt, ""},
        {"escape", "", std::nullopt, "names are case-sensitive"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hostFunctionalKey(c.key, c.code), c.expected) << c.key << " " << c.code << ": " << c.why;
}

TEST(TerminalHostInputTests, NamedKeysSendTheirSequencesUnderTheTerminalsModes)
{
    HostInputFixture f;
    Terminal& t = f.t();
    EXPECT_EQ(f.key("Enter"), "\\x0D");
    EXPECT_EQ(f.result, 1);
    EXPECT_EQ(f.key("Escape"), "\\e");
    EXPECT_EQ(f.key("Tab"), "\\x09");
    EXPECT_EQ(f.key("Backspace"), "\\x7F");
    EXPECT_EQ(f.key("ArrowUp"), "\\e[A");
    EXPECT_EQ(f.key("ArrowLeft", "ArrowLeft", ctrl), "\\e[1;5D");
    EXPECT_EQ(f.key("Delete"), "\\e[3~");
    EXPECT_EQ(f.key("F1"), "\\eOP");
    EXPECT_EQ(f.key("F5", "", shift), "\\e[15;2~");

    t.feed("\x1b[?1h");
    EXPECT_EQ(f.key("ArrowUp"), "\\eOA") << "application cursor mode";
    t.feed("\x1b[?67h");
    EXPECT_EQ(f.key("Backspace"), "\\x08") << "backarrow-key mode sends BS";
    t.feed("\x1b=");
    EXPECT_EQ(f.key("Enter", "NumpadEnter"), "\\eOM") << "application keypad mode";
    EXPECT_EQ(f.key("ArrowLeft", "Numpad4"), "\\eOt") << "an application keypad sends the key's own sequence";

    t.feed("\x1b[>1u");
    EXPECT_EQ(f.key("Escape"), "\\e[27u") << "disambiguated Escape";
    EXPECT_EQ(f.key("ArrowLeft", "Numpad4"), "\\e[57417u") << "keypad navigation has its own key code";
    EXPECT_EQ(f.key("ArrowLeft", "ArrowLeft"), "\\e[D");
    EXPECT_EQ(f.key("Shift", "ShiftLeft"), "") << "a modifier alone is reported only with all keys";
    EXPECT_EQ(f.result, 2);
    t.feed("\x1b[>11u");
    EXPECT_EQ(f.key("Shift", "ShiftRight", shift), "\\e[57447;2u");
    EXPECT_EQ(f.key("Meta"), "\\e[57444u");
    EXPECT_EQ(f.key("Super"), "\\e[57444u");
    EXPECT_EQ(f.key("Enter", "", 0, release), "\\e[13;1:3u");
    EXPECT_EQ(f.key("Enter", "", 0, repeat), "\\e[13;1:2u");
}

TEST(TerminalHostInputTests, CharactersAreKeysOnlyWithAChordOrKeyboardFlags)
{
    HostInputFixture f;
    Terminal& t = f.t();
    EXPECT_EQ(f.key("a", "KeyA", 0, press, "a"), "") << "plain typing is the host's text";
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.key("A", "KeyA", shift, press, "A"), "") << "shift only picks the character";
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.key("a", "KeyA", 0, release), "");
    EXPECT_EQ(f.result, 2) << "a release has no text to send";
    EXPECT_EQ(f.key("a", "KeyA", ctrl), "\\x01") << "ctrl-a";
    EXPECT_EQ(f.result, 1);
    EXPECT_EQ(f.key("x", "KeyX", alt), "\\ex") << "alt-x";
    EXPECT_EQ(f.key("x", "KeyX", alt, press, "\xe2\x89\x88"), "\\xE2\\x89\\x88")
        << "text the layout made of alt-x is sent as it is";
    EXPECT_EQ(f.key("\xc3\xa9", "", ctrl | alt), "\\e\\xC3\\xA9") << "a scalar beyond ASCII is one key";

    EXPECT_EQ(f.key("ab", "", ctrl), "") << "two characters name no key";
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.key("ab", "", ctrl, release), "");
    EXPECT_EQ(f.result, 2);
    EXPECT_EQ(f.key("e\xcc\x81", "", ctrl), "") << "a cluster of two scalars names no key";
    EXPECT_EQ(f.key("Unidentified"), "");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.key("", "", ctrl), "");
    EXPECT_EQ(f.key("\xc3", "", ctrl), "") << "a broken UTF-8 sequence is no character";
    EXPECT_EQ(f.result, 0);

    for (const uint32_t eventType : {0u, 4u, 0xFFFFFFFFu}) {
        EXPECT_EQ(f.key("Enter", "", 0, eventType), "") << "event type " << eventType;
        EXPECT_EQ(f.result, 2) << "event type " << eventType;
    }

    t.feed("\x1b[>1u");
    EXPECT_EQ(f.key("a", "KeyA", 0, press, "a"), "a") << "with flags a character is encoded";
    EXPECT_EQ(f.key("a", "KeyA", ctrl, press, "a"), "\\e[97;5u");
    t.feed("\x1b[>8u");
    EXPECT_EQ(f.key("a", "KeyA", 0, press, "a"), "\\e[97u") << "all keys as escape codes";
    EXPECT_EQ(f.key("a", "KeyA", shift, press, "A", 'A'), "\\e[97;2u");
    t.feed("\x1b[>12u");
    EXPECT_EQ(f.key("a", "KeyA", shift, press, "A", 'A'), "\\e[97:65;2u") << "the shifted key as alternate";
    EXPECT_EQ(f.key("q", "KeyA", ctrl, press, std::nullopt, 0, 'a'), "\\e[113::97;5u")
        << "the base-layout key as alternate";
    EXPECT_EQ(f.key("q", "KeyA", ctrl, press, std::nullopt, 0xD800, 0x110000), "\\e[113;5u")
        << "alternates that are not scalars are left out";
    t.feed("\x1b[>0u");
    EXPECT_EQ(f.key("a", "KeyA", super), "\\e[97;9u") << "super is a chord";
}

TEST(TerminalHostInputTests, EachScreenKeepsItsOwnKeyboardFlags)
{
    HostInputFixture f;
    Terminal& t = f.t();
    t.feed("\x1b[>1u");
    EXPECT_EQ(f.key("Escape"), "\\e[27u");
    EXPECT_EQ(hostInputModes(t) >> 8, 1u);
    t.feed("\x1b[?1049h");
    EXPECT_EQ(f.key("Escape"), "\\e") << "the alternate screen has no flags yet";
    EXPECT_EQ(f.key("a", "KeyA", 0, press, "a"), "");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(hostInputModes(t) >> 8, 0u);
    t.feed("\x1b[>9u");
    EXPECT_EQ(hostInputModes(t) >> 8, 9u);
    t.feed("\x1b[?1049l");
    EXPECT_EQ(f.key("Escape"), "\\e[27u");
    EXPECT_EQ(hostInputModes(t) >> 8, 1u);
}

TEST(TerminalHostInputTests, HostInputModesReportTheProgramsModes)
{
    HostInputFixture f;
    Terminal& t = f.t();
    EXPECT_EQ(hostInputModes(t), 0u);
    t.feed("\x1b[?1h");
    EXPECT_EQ(hostInputModes(t), 1u);
    t.feed("\x1b=");
    EXPECT_EQ(hostInputModes(t), 3u);
    t.feed("\x1b[?2004h");
    EXPECT_EQ(hostInputModes(t), 7u);
    t.feed("\x1b[?5522h");
    EXPECT_EQ(hostInputModes(t), 15u);
    t.feed("\x1b[>31u");
    EXPECT_EQ(hostInputModes(t), 15u | (31u << 8));
    t.feed("\x1b[?1l\x1b>\x1b[?2004l\x1b[<u\x1b[?5522l");
    EXPECT_EQ(hostInputModes(t), 0u);
}

TEST(TerminalHostInputTests, TextIsTypedAsItIsOrAsKittyTextEvents)
{
    HostInputFixture f;
    Terminal& t = f.t();
    RecordingTerminalDelegate& host = *f.delegate;
    EXPECT_TRUE(sendHostText(t, "h\xc3\xa9llo \xe4\xb8\x96"));
    EXPECT_EQ(host.sent(), "h\xc3\xa9llo \xe4\xb8\x96");
    ASSERT_EQ(host.sends.size(), 1u) << "one send per call";

    host.sends.clear();
    EXPECT_FALSE(sendHostText(t, ""));
    EXPECT_TRUE(host.sends.empty()) << "empty text sends nothing";

    EXPECT_TRUE(sendHostText(t, "a\xff"));
    EXPECT_EQ(host.sent(), "a\xef\xbf\xbd") << "a broken byte arrives as U+FFFD, never as itself";

    host.sends.clear();
    t.feed("\x1b[>1u");
    EXPECT_TRUE(sendHostText(t, "ok"));
    EXPECT_EQ(host.sent(), "ok") << "disambiguation leaves text alone";

    host.sends.clear();
    t.feed("\x1b[>24u");
    EXPECT_TRUE(sendHostText(t, "ok"));
    EXPECT_EQ(escaped(host.sent()), "\\e[0;;111:107u") << "all keys with text: a key-less text event";
}

TEST(TerminalHostInputTests, TypedEnterSubmitsAnArmedCommandLine)
{
    HostInputFixture f;
    Terminal& t = f.t();
    const auto arm = [&] {
        t.feed("\r\n\x1b]133;A\x07$ \x1b]133;B\x07");
        ASSERT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::armed);
    };

    arm();
    EXPECT_TRUE(sendHostText(t, "ls"));
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::armed) << "typing is not submitting";
    EXPECT_EQ(sendHostKey(t, "Enter", "Enter", 0, press, std::nullopt, 0, 0), 1);
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::submitted) << "Enter as a key";

    arm();
    EXPECT_TRUE(sendHostText(t, "ls\r"));
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::submitted)
        << "a carriage return in text";

    arm();
    t.feed("\x1b[>8u");
    EXPECT_EQ(sendHostKey(t, "Enter", "Enter", 0, press, std::nullopt, 0, 0), 1);
    EXPECT_EQ(f.delegate->sends.back(), std::vector<uint8_t>({0x1b, '[', '1', '3', 'u'}));
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::submitted)
        << "Enter as a kitty key report";

    arm();
    t.feed("\x1b[<u\x1b=");
    EXPECT_EQ(sendHostKey(t, "Enter", "NumpadEnter", 0, press, std::nullopt, 0, 0), 1);
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::submitted) << "keypad Enter as SS3 M";

    arm();
    t.feed("\x1b[?2004h");
    EXPECT_TRUE(sendHostTextPaste(t, "echo a\necho b\n", false));
    EXPECT_EQ(t.buffer().semanticPrompt().input(), SemanticInputState::armed)
        << "line feeds inside a bracketed paste";
}

TEST(TerminalHostInputTests, PastesAreBracketedWhenTheProgramAskedAndFilteredAlways)
{
    HostInputFixture f;
    Terminal& t = f.t();
    RecordingTerminalDelegate& host = *f.delegate;

    EXPECT_TRUE(sendHostTextPaste(t, "word", false));
    EXPECT_EQ(host.sent(), "word");

    host.sends.clear();
    EXPECT_FALSE(sendHostTextPaste(t, "rm -rf ~\n", false)) << "a line break could run a command unseen";
    EXPECT_TRUE(host.sends.empty());
    EXPECT_TRUE(sendHostTextPaste(t, "a\nb\n", true)) << "unless the host allows it";
    EXPECT_EQ(escaped(host.sent()), "a\\x0Db\\x0D") << "line ends become Enter's carriage return";

    host.sends.clear();
    t.feed("\x1b[?2004h");
    EXPECT_TRUE(sendHostTextPaste(t, "a\nb\x1b[31m", false));
    EXPECT_EQ(escaped(host.sent()), "\\e[200~a\\x0Ab [31m\\e[201~")
        << "bracketed: line breaks are safe, the escape byte still becomes a space";

    host.sends.clear();
    EXPECT_FALSE(sendHostTextPaste(t, "x\x1b[201~; rm -rf ~", false)) << "the end marker inside the paste";
    EXPECT_TRUE(host.sends.empty());

    host.sends.clear();
    EXPECT_TRUE(sendHostTextPaste(t, "", false)) << "an empty paste is still a paste";
    EXPECT_EQ(escaped(host.sent()), "\\e[200~\\e[201~");

    // Without a host nothing reaches a program, and the call says so.
    std::shared_ptr<Terminal> orphan;
    {
        TerminalFixture gone;
        orphan = gone.terminal;
    }
    EXPECT_FALSE(sendHostTextPaste(*orphan, "text", false));
}

TEST(TerminalHostInputTests, ClipboardReadsTheHostTookOnAreAnsweredLater)
{
    HostInputFixture f;
    Terminal& t = f.t();
    RecordingTerminalDelegate& host = *f.delegate;
    host.takesClipboardReadRequests = true;

    t.feed("\x1b]52;p;?\x1b\\");
    ASSERT_EQ(host.clipboardReadRequests, std::vector<std::string>{"p"});
    EXPECT_TRUE(host.sends.empty()) << "the host answers on its own time";

    const std::string content = "hello\x1b[31m";
    t.completeClipboardRead("p", std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()));
    EXPECT_EQ(escaped(host.sent()), "\\e]52;p;aGVsbG8bWzMxbQ==\\e\\") << "the content travels as Base64";
    ASSERT_EQ(host.sends.size(), 1u);

    host.sends.clear();
    t.completeClipboardRead("c", {});
    EXPECT_EQ(escaped(host.sent()), "\\e]52;c;\\e\\") << "an empty clipboard";

    host.sends.clear();
    t.completeClipboardRead("p\x07\x1b]0;pwned", {});
    t.completeClipboardRead("", {});
    EXPECT_EQ(escaped(host.sent()), "\\e]52;p0;\\e\\\\e]52;c;\\e\\")
        << "only the selection letters c, p, q, s and 0-7 are echoed into the answer";

    host.sends.clear();
    t.feed("\x1b G");
    t.completeClipboardRead("s0", std::span(reinterpret_cast<const uint8_t*>("hi"), 2));
    EXPECT_EQ(escaped(host.sent()), "\\x9D52;s0;aGk=\\x9C") << "8-bit controls";
}

TEST(TerminalHostInputTests, AHostEventQueueStartsEmptyAtItsClocksReading)
{
    uint64_t clock = 5000;
    WasmHostEventQueue queue("host", [&] { return clock; });
    EXPECT_EQ(queue.epoch, 5000u);
    EXPECT_TRUE(queue.pending.empty() && queue.timers.empty() && !queue.overflowed);
    clock = 7000;
    EXPECT_EQ(queue.now(), 7000u) << "the queue reads the host's clock";

    WasmHostEventQueue monotonic("default");
    const uint64_t later = monotonic.now();
    EXPECT_GE(later, monotonic.epoch) << "without a clock of the host's, a monotonic one";
}

} // namespace
} // namespace kestrovan::testing
