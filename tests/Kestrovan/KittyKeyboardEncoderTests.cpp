// The key encoder: legacy sequences under flags 0 and the kitty protocol's forms under each set of
// enhancement flags, for presses, repeats and releases with modifiers, alternates and text.
#include "Kestrovan/EscapeSequences.h"
#include "Kestrovan/KittyKeyboardEncoder.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace kestrovan::testing {
namespace {

using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;
using Type = KittyKeyboardEventType;
using Flags = KittyKeyboardFlags;
using Switches = KittyKeyboardEncoder::Switches;

constexpr Mods none{};
constexpr Mods shift = Mods::shift;
constexpr Mods alt = Mods::alt;
constexpr Mods ctrl = Mods::ctrl;
constexpr Mods super = Mods::super;
constexpr Mods caps = Mods::capsLock;

Flags flags(uint32_t raw)
{
    return Flags(raw);
}

KittyKeyEvent event(KittyKey key, Mods mods, Type type, std::optional<std::u32string> text)
{
    KittyKeyEvent e;
    e.key = key;
    e.modifiers = mods;
    e.eventType = type;
    e.text = std::move(text);
    return e;
}

KittyKeyEvent fn(Key key, Mods mods = none, Type type = Type::press,
                 std::optional<std::u32string> text = std::nullopt)
{
    return event(KittyKey::functional(key), mods, type, std::move(text));
}

KittyKeyEvent ch(char32_t key, std::optional<std::u32string> text, Mods mods = none, Type type = Type::press)
{
    return event(KittyKey::unicode(key), mods, type, std::move(text));
}

KittyKeyEvent textOnly(std::optional<std::u32string> text, Mods mods = none, Type type = Type::press)
{
    return event(KittyKey::none(), mods, type, std::move(text));
}

KittyKeyEvent withAlternates(KittyKeyEvent event, std::optional<char32_t> shifted,
                             std::optional<char32_t> base)
{
    event.shiftedKey = shifted;
    event.baseLayoutKey = base;
    return event;
}

KittyKeyEvent composing(KittyKeyEvent event)
{
    event.composing = true;
    return event;
}

/// What an encoder sends, as a string with ESC written "^[" so that failures read well; "(none)"
/// when it sends nothing.
std::string shown(const std::optional<std::vector<uint8_t>>& bytes)
{
    if (!bytes)
        return "(none)";
    std::string out;
    for (uint8_t byte : *bytes) {
        if (byte == 0x1B) {
            out += "^[";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

struct Case
{
    const char* name;
    uint32_t flags;
    KittyKeyEvent event;
    const char* expected;
    Switches switches = {};
};

void expectCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        const KittyKeyboardEncoder encoder(flags(c.flags), c.switches);
        EXPECT_EQ(shown(encoder.encode(c.event)), c.expected) << c.name << " (flags " << c.flags << ")";
    }
}

TEST(KittyKeyboardEncoderTests, LegacyFunctionalKeys)
{
    const Switches appCursor{.applicationCursor = true};
    expectCases({
        {"Up", 0, fn(Key::up), "^[[A"},
        {"Up, application cursor keys", 0, fn(Key::up), "^[OA", appCursor},
        {"ctrl+Up", 0, fn(Key::up, ctrl), "^[[1;5A"},
        {"ctrl+Up, application cursor keys", 0, fn(Key::up, ctrl), "^[[1;5A", appCursor},
        {"alt+shift+Left", 0, fn(Key::left, alt | shift), "^[[1;4D"},
        // Alt is a parameter of the cursor and editing keys, as xterm sends them, in either cursor mode.
        {"alt+Up", 0, fn(Key::up, alt), "^[[1;3A"},
        {"alt+Up, application cursor keys", 0, fn(Key::up, alt), "^[[1;3A", appCursor},
        {"ctrl+alt+Home", 0, fn(Key::home, ctrl | alt), "^[[1;7H"},
        {"alt+Insert", 0, fn(Key::insert, alt), "^[[2;3~"},
        {"alt+Delete", 0, fn(Key::delete_, alt), "^[[3;3~"},
        {"alt+Page Up", 0, fn(Key::pageUp, alt), "^[[5;3~"},
        {"alt+F10", 0, fn(Key::f10, alt), "^[[21;3~"},
        {"Home, application cursor keys", 0, fn(Key::home), "^[OH", appCursor},
        {"End", 0, fn(Key::end), "^[[F"},
        {"caps lock is ignored", 0, fn(Key::up, caps | Mods::numLock), "^[[A"},
        {"super+Up", 0, fn(Key::up, super), "(none)"},
        {"hyper+Up", 0, fn(Key::up, Mods::hyper), "(none)"},
        {"meta+Up", 0, fn(Key::up, Mods::meta), "(none)"},
        {"Up released", 0, fn(Key::up, none, Type::release), "(none)"},
        {"Up repeated", 0, fn(Key::up, none, Type::repeatPress), "^[[A"},
        {"Insert", 0, fn(Key::insert), "^[[2~"},
        {"shift+Delete", 0, fn(Key::delete_, shift), "^[[3;2~"},
        {"ctrl+Page Up", 0, fn(Key::pageUp, ctrl), "^[[5;5~"},
        {"Page Down", 0, fn(Key::pageDown), "^[[6~"},
        {"F1", 0, fn(Key::f1), "^[OP"},
        {"F3", 0, fn(Key::f3), "^[OR"},
        {"ctrl+F1", 0, fn(Key::f1, ctrl), "^[[1;5P"},
        {"alt+F4", 0, fn(Key::f4, alt), "^[[1;3S"},
        {"shift+F5", 0, fn(Key::f5, shift), "^[[15;2~"},
        {"ctrl+shift+F12", 0, fn(Key::f12, ctrl | shift), "^[[24;6~"},
        {"ctrl+alt+F5", 0, fn(Key::f5, ctrl | alt), "^[[15;7~"},
        {"ctrl+alt+shift+F2", 0, fn(Key::f2, ctrl | alt | shift), "^[[1;8Q"},
        {"F13 is shift+F1", 0, fn(Key::f13), "^[[1;2P"},
        {"F20 is shift+F8", 0, fn(Key::f20), "^[[19;2~"},
        {"F24 is shift+F12", 0, fn(Key::f24), "^[[24;2~"},
        {"F25 is ctrl+F1", 0, fn(Key::f25), "^[[1;5P"},
        {"F35 is ctrl+F11", 0, fn(Key::f35), "^[[23;5~"},
        {"F13 ignores what is held", 0, fn(Key::f13, ctrl | alt), "^[[1;2P"},
        {"Escape", 0, fn(Key::escape), "^["},
        {"alt+Escape", 0, fn(Key::escape, alt), "^[^["},
        {"Enter", 0, fn(Key::enter), "<0D>"},
        {"shift+Enter", 0, fn(Key::enter, shift), "<0D>"},
        {"alt+Enter", 0, fn(Key::enter, alt), "^[<0D>"},
        {"Tab", 0, fn(Key::tab), "<09>"},
        {"shift+Tab", 0, fn(Key::tab, shift), "^[[Z"},
        {"alt+shift+Tab", 0, fn(Key::tab, alt | shift), "^[^[[Z"},
        {"Backspace", 0, fn(Key::backspace), "<7F>"},
        {"ctrl+Backspace", 0, fn(Key::backspace, ctrl), "<08>"},
        {"Backspace sending BS", 0, fn(Key::backspace), "<08>", Switches{.backspaceSendsControlH = true}},
        {"alt+Backspace", 0, fn(Key::backspace, alt), "^[<7F>"},
        {"ctrl+alt+Backspace", 0, fn(Key::backspace, ctrl | alt), "^[<08>"},
        {"Enter released", 0, fn(Key::enter, none, Type::release), "(none)"},
        {"Menu", 0, fn(Key::menu), "(none)"},
        {"Print Screen", 0, fn(Key::printScreen), "(none)"},
        {"media key", 0, fn(Key::mediaPlayPause), "(none)"},
        {"Caps Lock key", 0, fn(Key::capsLock), "(none)"},
        {"Left Shift", 0, fn(Key::leftShift, shift), "(none)"},
    });
}

TEST(KittyKeyboardEncoderTests, LegacyFormsMatchTheFixedSequences)
{
    const KittyKeyboardEncoder normal(flags(0));
    const KittyKeyboardEncoder app(flags(0), Switches{.applicationCursor = true});
    struct CursorKey
    {
        Key key;
        const EscapeSequences::Sequence& normal;
        const EscapeSequences::Sequence& app;
    };
    const CursorKey cursorKeys[] = {
        {Key::up, EscapeSequences::moveUpNormal(), EscapeSequences::moveUpApp()},
        {Key::down, EscapeSequences::moveDownNormal(), EscapeSequences::moveDownApp()},
        {Key::right, EscapeSequences::moveRightNormal(), EscapeSequences::moveRightApp()},
        {Key::left, EscapeSequences::moveLeftNormal(), EscapeSequences::moveLeftApp()},
        {Key::home, EscapeSequences::moveHomeNormal(), EscapeSequences::moveHomeApp()},
        {Key::end, EscapeSequences::moveEndNormal(), EscapeSequences::moveEndApp()},
    };
    for (const CursorKey& c : cursorKeys) {
        EXPECT_EQ(shown(normal.encode(fn(c.key))), shown(c.normal));
        EXPECT_EQ(shown(app.encode(fn(c.key))), shown(c.app));
    }
    for (int i = 0; i < 12; ++i) {
        const Key key = static_cast<Key>(static_cast<int>(Key::f1) + i);
        EXPECT_EQ(shown(normal.encode(fn(key))), shown(EscapeSequences::cmdF()[i])) << "F" << i + 1;
    }
    EXPECT_EQ(shown(normal.encode(fn(Key::delete_))), shown(EscapeSequences::cmdDelKey()));
    EXPECT_EQ(shown(normal.encode(fn(Key::insert))), shown(EscapeSequences::cmdInsert()));
    EXPECT_EQ(shown(normal.encode(fn(Key::pageUp))), shown(EscapeSequences::cmdPageUp()));
    EXPECT_EQ(shown(normal.encode(fn(Key::pageDown))), shown(EscapeSequences::cmdPageDown()));
    EXPECT_EQ(shown(normal.encode(fn(Key::backspace))), shown(EscapeSequences::cmdDel()));
    EXPECT_EQ(shown(normal.encode(fn(Key::tab, shift))), shown(EscapeSequences::cmdBackTab()));
    EXPECT_EQ(shown(normal.encode(fn(Key::left, ctrl))), shown(EscapeSequences::controlLeft()));
    EXPECT_EQ(shown(normal.encode(fn(Key::right, ctrl))), shown(EscapeSequences::controlRight()));
    EXPECT_EQ(shown(normal.encode(ch('b', std::nullopt, alt))), shown(EscapeSequences::emacsBack()));
    EXPECT_EQ(shown(normal.encode(ch('f', std::nullopt, alt))), shown(EscapeSequences::emacsForward()));
}

TEST(KittyKeyboardEncoderTests, LegacyKeypad)
{
    const Switches appKeypad{.applicationKeypad = true};
    const KittyKeyboardEncoder application(flags(0), appKeypad);
    const std::pair<Key, char> letters[] = {
        {Key::keypad0, 'p'},        {Key::keypad1, 'q'},        {Key::keypad2, 'r'},
        {Key::keypad3, 's'},        {Key::keypad4, 't'},        {Key::keypad5, 'u'},
        {Key::keypad6, 'v'},        {Key::keypad7, 'w'},        {Key::keypad8, 'x'},
        {Key::keypad9, 'y'},        {Key::keypadDecimal, 'n'},  {Key::keypadDivide, 'o'},
        {Key::keypadMultiply, 'j'}, {Key::keypadSubtract, 'm'}, {Key::keypadAdd, 'k'},
        {Key::keypadEnter, 'M'},    {Key::keypadEqual, 'X'},    {Key::keypadSeparator, 'l'},
        {Key::keypadInsert, 'p'},   {Key::keypadEnd, 'q'},      {Key::keypadDown, 'r'},
        {Key::keypadPageDown, 's'}, {Key::keypadLeft, 't'},     {Key::keypadBegin, 'u'},
        {Key::keypadRight, 'v'},    {Key::keypadHome, 'w'},     {Key::keypadUp, 'x'},
        {Key::keypadPageUp, 'y'},   {Key::keypadDelete, 'n'},
    };
    for (const auto& [key, letter] : letters) {
        EXPECT_EQ(shown(application.encode(fn(key, none, Type::press, U"7"))), std::string("^[O") + letter)
            << "keypad key " << static_cast<int>(key) << " under application keypad";
    }
    expectCases({
        {"locks do not count as modifiers", 0, fn(Key::keypad5, caps | Mods::numLock, Type::press, U"5"),
         "^[Ou", appKeypad},
        {"with a modifier the text is sent", 0, fn(Key::keypad5, ctrl, Type::press, U"5"), "5", appKeypad},
        {"keypad Enter with shift", 0, fn(Key::keypadEnter, shift), "<0D>", appKeypad},
        {"keypad digit", 0, fn(Key::keypad5, none, Type::press, U"5"), "5"},
        {"alt+keypad digit", 0, fn(Key::keypad5, alt, Type::press, U"5"), "^[5"},
        {"keypad Enter", 0, fn(Key::keypadEnter), "<0D>"},
        {"alt+keypad Enter", 0, fn(Key::keypadEnter, alt), "^[<0D>"},
        {"keypad Left ignores application cursor keys", 0, fn(Key::keypadLeft), "^[[D",
         Switches{.applicationCursor = true}},
        {"ctrl+keypad Up", 0, fn(Key::keypadUp, ctrl), "^[[1;5A"},
        {"keypad Home", 0, fn(Key::keypadHome), "^[[H"},
        {"keypad Page Up", 0, fn(Key::keypadPageUp), "^[[5~"},
        {"shift+keypad Delete", 0, fn(Key::keypadDelete, shift), "^[[3;2~"},
        {"keypad Insert", 0, fn(Key::keypadInsert), "^[[2~"},
        {"keypad Begin without text", 0, fn(Key::keypadBegin), "(none)"},
        {"keypad digit without text", 0, fn(Key::keypad3), "(none)"},
        {"keypad digit released", 0, fn(Key::keypad5, none, Type::release, U"5"), "(none)"},
    });
}

TEST(KittyKeyboardEncoderTests, LegacyTextKeys)
{
    expectCases({
        {"a", 0, ch('a', U"a"), "a"},
        {"a without text", 0, ch('a', std::nullopt), "a"},
        {"shift+a sends the shifted key", 0, withAlternates(ch('a', std::nullopt, shift), U'A', std::nullopt),
         "A"},
        {"text wins over the key", 0, ch('a', U"\u00e5"), "\xc3\xa5"},
        {"ctrl+a", 0, ch('a', std::nullopt, ctrl), "<01>"},
        {"ctrl+A", 0, ch('A', std::nullopt, ctrl), "<01>"},
        {"ctrl+z", 0, ch('z', std::nullopt, ctrl), "<1A>"},
        {"ctrl+space", 0, ch(' ', std::nullopt, ctrl), "<00>"},
        {"ctrl+@", 0, ch('@', std::nullopt, ctrl), "<00>"},
        {"ctrl+2", 0, ch('2', std::nullopt, ctrl), "<00>"},
        {"ctrl+[", 0, ch('[', std::nullopt, ctrl), "^["},
        {"ctrl+3", 0, ch('3', std::nullopt, ctrl), "^["},
        {"ctrl+backslash", 0, ch('\\', std::nullopt, ctrl), "<1C>"},
        {"ctrl+5", 0, ch('5', std::nullopt, ctrl), "<1D>"},
        {"ctrl+~", 0, ch('~', std::nullopt, ctrl), "<1E>"},
        {"ctrl+/", 0, ch('/', std::nullopt, ctrl), "<1F>"},
        {"ctrl+7", 0, ch('7', std::nullopt, ctrl), "<1F>"},
        {"ctrl+?", 0, ch('?', std::nullopt, ctrl), "<7F>"},
        {"ctrl+8", 0, ch('8', std::nullopt, ctrl), "<7F>"},
        {"ctrl+1 is itself", 0, ch('1', std::nullopt, ctrl), "1"},
        {"ctrl+key outside the table", 0, ch(U'\u00e9', std::nullopt, ctrl), "\xc3\xa9"},
        {"alt+a", 0, ch('a', std::nullopt, alt), "^[a"},
        {"ctrl+alt+a", 0, ch('a', std::nullopt, ctrl | alt), "^[<01>"},
        {"ctrl+shift+a has no legacy form", 0, ch('a', std::nullopt, ctrl | shift), "^[[97;6u"},
        {"super+a has no legacy form", 0, ch('a', std::nullopt, super), "^[[97;9u"},
        {"caps lock is not reported below the protocol", 0, ch('a', std::nullopt, super | caps), "^[[97;9u"},
        {"a released", 0, ch('a', U"a", none, Type::release), "(none)"},
        {"a repeated", 0, ch('a', U"a", none, Type::repeatPress), "a"},
        {"ctrl+a with its control text", 0, ch('a', U"\x01", ctrl), "<01>"},
        {"alt with text sends the text", 0, ch('a', U"\u00e5", alt), "\xc3\xa5"},
    });
}

TEST(KittyKeyboardEncoderTests, Disambiguate)
{
    expectCases({
        {"Escape", 1, fn(Key::escape), "^[[27u"},
        {"alt+Escape", 1, fn(Key::escape, alt), "^[[27;3u"},
        {"caps lock is reported", 1, fn(Key::escape, caps), "^[[27;65u"},
        {"Enter", 1, fn(Key::enter), "<0D>"},
        // With Caps Lock on, Enter, Tab and Backspace must keep their plain bytes: a shell whose
        // last program left the flags set would otherwise stop taking commands.
        {"caps lock+Enter", 1, fn(Key::enter, caps), "<0D>"},
        {"caps lock+Tab", 1, fn(Key::tab, caps), "<09>"},
        {"caps lock+shift+Enter", 1, fn(Key::enter, caps | shift), "^[[13;66u"},
        {"Enter with its control text", 1, fn(Key::enter, none, Type::press, U"\r"), "<0D>"},
        {"shift+Enter", 1, fn(Key::enter, shift), "^[[13;2u"},
        {"Tab", 1, fn(Key::tab), "<09>"},
        {"shift+Tab", 1, fn(Key::tab, shift), "^[[9;2u"},
        {"Backspace", 1, fn(Key::backspace), "<7F>"},
        {"ctrl+Backspace", 1, fn(Key::backspace, ctrl), "^[[127;5u"},
        {"a", 1, ch('a', U"a"), "a"},
        {"shift+a", 1, ch('a', U"A", shift), "A"},
        {"ctrl+a", 1, ch('a', U"\x01", ctrl), "^[[97;5u"},
        {"ctrl+a without text", 1, ch('a', std::nullopt, ctrl), "^[[97;5u"},
        {"alt+a", 1, ch('a', U"a", alt), "^[[97;3u"},
        {"ctrl+alt+shift+a", 1, ch('a', U"A", ctrl | alt | shift), "^[[97;8u"},
        {"a without text", 1, ch('a', std::nullopt), "^[[97u"},
        {"super+a with text", 1, ch('a', U"a", super), "a"},
        {"Up", 1, fn(Key::up), "^[[A"},
        {"Up, application cursor keys", 1, fn(Key::up), "^[[A", Switches{.applicationCursor = true}},
        {"ctrl+Up", 1, fn(Key::up, ctrl), "^[[1;5A"},
        {"super+Up", 1, fn(Key::up, super), "^[[1;9A"},
        {"F1", 1, fn(Key::f1), "^[[P"},
        {"shift+F1", 1, fn(Key::f1, shift), "^[[1;2P"},
        {"F3", 1, fn(Key::f3), "^[[13~"},
        {"F5", 1, fn(Key::f5), "^[[15~"},
        {"F13", 1, fn(Key::f13), "^[[57376u"},
        {"Delete", 1, fn(Key::delete_), "^[[3~"},
        {"keypad digit", 1, fn(Key::keypad5, none, Type::press, U"5"), "^[[57404u"},
        {"media key", 1, fn(Key::mediaPlay), "^[[57428u"},
        {"releases are not reported", 1, ch('a', std::nullopt, none, Type::release), "(none)"},
        {"Escape released", 1, fn(Key::escape, none, Type::release), "(none)"},
        {"Left Shift alone", 1, fn(Key::leftShift, shift), "(none)"},
    });
}

TEST(KittyKeyboardEncoderTests, ReportAllKeys)
{
    expectCases({
        {"a", 8, ch('a', U"a"), "^[[97u"},
        {"a without text", 8, ch('a', std::nullopt), "^[[97u"},
        {"shift+a", 8, withAlternates(ch('a', U"A", shift), U'A', std::nullopt), "^[[97;2u"},
        {"ctrl+shift+a", 8, ch('a', std::nullopt, ctrl | shift), "^[[97;6u"},
        {"caps lock+a", 8, ch('a', U"A", caps), "^[[97;65u"},
        {"Escape", 8, fn(Key::escape), "^[[27u"},
        {"Enter", 8, fn(Key::enter, none, Type::press, U"\r"), "^[[13u"},
        {"Tab", 8, fn(Key::tab), "^[[9u"},
        {"Backspace", 8, fn(Key::backspace), "^[[127u"},
        {"Up", 8, fn(Key::up), "^[[A"},
        {"caps lock+Up", 8, fn(Key::up, caps), "^[[1;65A"},
        {"F1", 8, fn(Key::f1), "^[[P"},
        {"F5", 8, fn(Key::f5), "^[[15~"},
        {"alt+Page Up", 8, fn(Key::pageUp, alt), "^[[5;3~"},
        {"keypad digit", 8, fn(Key::keypad0, none, Type::press, U"0"), "^[[57399u"},
        {"Left Shift", 8, fn(Key::leftShift), "^[[57441u"},
        {"Left Shift with shift held", 8, fn(Key::leftShift, shift), "^[[57441;2u"},
        {"releases still need report events", 8, ch('a', U"a", none, Type::release), "(none)"},
        {"Enter released", 8, fn(Key::enter, none, Type::release), "(none)"},
        {"text-only events stay text", 8, textOnly(U"\u00e9"), "\xc3\xa9"},
        {"alternates need their flag", 8, withAlternates(ch(0x444, U"\u0444"), std::nullopt, U'a'),
         "^[[1092u"},
    });
}

TEST(KittyKeyboardEncoderTests, Alternates)
{
    expectCases({
        {"shift+a", 12, withAlternates(ch('a', U"A", shift), U'A', std::nullopt), "^[[97:65;2u"},
        {"shifted key without shift", 12, withAlternates(ch('a', U"a"), U'A', std::nullopt), "^[[97u"},
        {"shifted key equal to the key", 12, withAlternates(ch('1', U"1", shift), U'1', std::nullopt),
         "^[[49;2u"},
        {"base key alone leaves the shifted field empty", 12,
         withAlternates(ch(0x444, U"\u0444"), std::nullopt, U'a'), "^[[1092::97u"},
        {"shifted and base keys", 12, withAlternates(ch(0x444, U"\u0424", shift), 0x424, U'a'),
         "^[[1092:1060:97;2u"},
        {"base key equal to the key", 12, withAlternates(ch('a', U"a"), std::nullopt, U'a'), "^[[97u"},
        {"base key equal to the text", 12, withAlternates(ch(0x444, U"a"), std::nullopt, U'a'), "^[[1092u"},
        {"base key with a longer text", 12, withAlternates(ch(0x444, U"ab"), std::nullopt, U'a'), "^[[1092u"},
        {"base key without text", 12, withAlternates(ch(0x444, std::nullopt), std::nullopt, U'a'),
         "^[[1092::97u"},
        {"base key that is no scalar", 12, withAlternates(ch(0x444, std::nullopt), std::nullopt, 0xD800),
         "^[[1092u"},
        {"control keys have no alternates", 12, withAlternates(fn(Key::enter, shift), U'A', U'b'),
         "^[[13;2u"},
        {"disambiguate alone reports alternates too", 5,
         withAlternates(ch('a', U"A", shift | ctrl), U'A', std::nullopt), "^[[97:65;6u"},
    });
}

TEST(KittyKeyboardEncoderTests, AssociatedText)
{
    expectCases({
        {"a", 24, ch('a', U"a"), "^[[97;;97u"},
        {"shift+a", 24, ch('a', U"A", shift), "^[[97;2;65u"},
        {"caps lock keeps text", 24, ch('a', U"A", caps), "^[[97;65;65u"},
        {"ctrl+a carries no text", 24, ch('a', U"\x01", ctrl), "^[[97;5u"},
        {"alt+a carries no text", 24, ch('a', U"a", alt), "^[[97;3u"},
        {"several scalars", 24, ch('e', U"e\u0301"), "^[[101;;101:769u"},
        {"controls are dropped from the text", 24,
         ch('a', U"\x1b"
                 U"a\x7f"),
         "^[[97;;97:127u"},
        {"invalid scalars are dropped from the text", 24,
         ch('a', std::u32string{U'a', char32_t(0xD800), char32_t(0x110000)}), "^[[97;;97u"},
        {"Enter's own text is not text", 24, fn(Key::enter, none, Type::press, U"\r"), "^[[13u"},
        {"keypad digit", 24, fn(Key::keypad7, none, Type::press, U"7"), "^[[57406;;55u"},
        {"text-only event", 24, textOnly(U"h\u00e9"), "^[[0;;104:233u"},
        {"text-only event with shift", 24, textOnly(U"H", shift), "^[[0;2;72u"},
        {"no text on release", 26, ch('a', U"a", none, Type::release), "^[[97;1:3u"},
        {"text on repeat", 26, ch('a', U"a", none, Type::repeatPress), "^[[97;1:2;97u"},
        {"report text alone changes nothing", 16, ch('a', U"a"), "a"},
    });
}

TEST(KittyKeyboardEncoderTests, EventTypes)
{
    expectCases({
        // Report events alone: text keys send their text, and releases only when there is none.
        {"a pressed", 2, ch('a', U"a"), "a"},
        {"a repeated", 2, ch('a', U"a", none, Type::repeatPress), "a"},
        {"a released with its text", 2, ch('a', U"a", none, Type::release), "(none)"},
        {"a released without text", 2, ch('a', std::nullopt, none, Type::release), "^[[97;1:3u"},
        {"ctrl+a released", 2, ch('a', std::nullopt, ctrl, Type::release), "^[[97;5:3u"},
        {"Up pressed", 2, fn(Key::up), "^[[A"},
        {"Up repeated", 2, fn(Key::up, none, Type::repeatPress), "^[[1;1:2A"},
        {"Up released", 2, fn(Key::up, none, Type::release), "^[[1;1:3A"},
        {"F5 released", 2, fn(Key::f5, none, Type::release), "^[[15;1:3~"},
        {"Enter released", 2, fn(Key::enter, none, Type::release), "(none)"},
        {"Tab released", 3, fn(Key::tab, none, Type::release), "(none)"},
        {"Backspace released", 3, fn(Key::backspace, none, Type::release), "(none)"},
        {"Escape released, not disambiguated", 2, fn(Key::escape, none, Type::release), "(none)"},
        {"Escape released", 3, fn(Key::escape, none, Type::release), "^[[27;1:3u"},
        {"Up released, disambiguated", 3, fn(Key::up, none, Type::release), "^[[1;1:3A"},
        {"alt+a repeated", 3, ch('a', U"a", alt, Type::repeatPress), "^[[97;3:2u"},
        // With all keys as escape codes every event is a sequence.
        {"a pressed", 10, ch('a', U"a"), "^[[97u"},
        {"a repeated", 10, ch('a', U"a", none, Type::repeatPress), "^[[97;1:2u"},
        {"a released", 10, ch('a', U"a", none, Type::release), "^[[97;1:3u"},
        {"a released without text", 10, ch('a', std::nullopt, none, Type::release), "^[[97;1:3u"},
        {"shift+a released", 10, ch('a', U"A", shift, Type::release), "^[[97;2:3u"},
        {"Enter released", 10, fn(Key::enter, none, Type::release), "^[[13;1:3u"},
        {"Up released", 10, fn(Key::up, none, Type::release), "^[[1;1:3A"},
        {"Left Shift released", 10, fn(Key::leftShift, none, Type::release), "^[[57441;1:3u"},
        {"Right Alt released", 10, fn(Key::rightAlt, alt, Type::release), "^[[57449;3:3u"},
        {"everything", 31, withAlternates(ch('a', U"A", shift), U'A', std::nullopt), "^[[97:65;2;65u"},
        {"everything, released", 31, withAlternates(ch('a', U"A", shift, Type::release), U'A', std::nullopt),
         "^[[97:65;2:3u"},
        {"everything, Escape", 31, fn(Key::escape), "^[[27u"},
    });
}

TEST(KittyKeyboardEncoderTests, ModifierKeysAlone)
{
    const Key modifierKeys[] = {Key::leftShift,      Key::leftControl,    Key::leftAlt,    Key::leftSuper,
                                Key::leftHyper,      Key::leftMeta,       Key::rightShift, Key::rightControl,
                                Key::rightAlt,       Key::rightSuper,     Key::rightHyper, Key::rightMeta,
                                Key::isoLevel3Shift, Key::isoLevel5Shift, Key::capsLock,   Key::numLock};
    for (Key key : modifierKeys) {
        ASSERT_TRUE(KittyKeyboardEncoder::isModifierKey(key));
        for (uint32_t f : {0u, 1u, 2u, 3u, 4u, 16u, 23u}) {
            EXPECT_EQ(shown(KittyKeyboardEncoder(flags(f)).encode(fn(key))), "(none)")
                << "modifier key " << static_cast<int>(key) << " alone under flags " << f;
        }
        const std::string expected =
            "^[[" + std::to_string(KittyKeyboardEncoder::functionalEncoding(key).number) + "u";
        EXPECT_EQ(shown(KittyKeyboardEncoder(flags(8)).encode(fn(key))), expected);
    }
    EXPECT_FALSE(KittyKeyboardEncoder::isModifierKey(Key::scrollLock));
    EXPECT_FALSE(KittyKeyboardEncoder::isModifierKey(Key::volumeMute));
}

TEST(KittyKeyboardEncoderTests, Composing)
{
    expectCases({
        {"a", 0, composing(ch('a', U"a")), "(none)"},
        {"Enter", 0, composing(fn(Key::enter)), "(none)"},
        {"a, all keys", 31, composing(ch('a', U"a")), "(none)"},
        {"text-only", 0, composing(textOnly(U"\u3042")), "(none)"},
        {"Left Shift, all keys", 8, composing(fn(Key::leftShift)), "^[[57441u"},
        {"Left Shift released", 10, composing(fn(Key::leftShift, none, Type::release)), "^[[57441;1:3u"},
        {"Left Shift, disambiguate only", 1, composing(fn(Key::leftShift)), "(none)"},
    });
}

TEST(KittyKeyboardEncoderTests, TextOnlyEvents)
{
    expectCases({
        {"text", 0, textOnly(U"h\u00e9"), "h\xc3\xa9"},
        {"invalid scalars become U+FFFD", 0,
         textOnly(std::u32string{U'a', char32_t(0xDC00), char32_t(0x7FFFFFFF)}), "a\xef\xbf\xbd\xef\xbf\xbd"},
        {"empty text", 0, textOnly(U""), "(none)"},
        {"no text", 31, textOnly(std::nullopt), "(none)"},
        {"released", 0, textOnly(U"x", none, Type::release), "(none)"},
        {"released, report events", 2, textOnly(U"x", none, Type::release), "(none)"},
        {"alt+x is the key x", 0, textOnly(U"x", alt), "^[x"},
        {"ctrl+a is the key a", 0, textOnly(U"a", ctrl), "<01>"},
        {"ctrl+a, disambiguate", 1, textOnly(U"a", ctrl), "^[[97;5u"},
        {"ctrl with longer text stays text", 0, textOnly(U"ab", ctrl), "ab"},
        {"shift alone stays text", 1, textOnly(U"A", shift), "A"},
        {"all keys without report text", 8, textOnly(U"x"), "x"},
        {"all keys with report text", 24, textOnly(U"x"), "^[[0;;120u"},
    });
}

TEST(KittyKeyboardEncoderTests, InputMethodEnterAndBackspace)
{
    expectCases({
        {"Enter commits the text", 0, fn(Key::enter, none, Type::press, U"\u65e5\u672c"),
         "\xe6\x97\xa5\xe6\x9c\xac"},
        {"Enter commits under all keys", 31, fn(Key::enter, none, Type::press, U"x"), "x"},
        {"Backspace with text sends nothing", 0, fn(Key::backspace, none, Type::press, U"x"), "(none)"},
        {"Backspace with text sends nothing, all keys", 31, fn(Key::backspace, none, Type::press, U"x"),
         "(none)"},
        // A release that carries the committed text again must not type it twice.
        {"Enter released with text", 10, fn(Key::enter, none, Type::release, U"x"), "(none)"},
        {"Enter with a C1 control in the text", 8, fn(Key::enter, none, Type::press, U"\u0085"), "^[[13u"},
        {"Tab with text is just Tab", 0, fn(Key::tab, none, Type::press, U"x"), "<09>"},
    });
}

TEST(KittyKeyboardEncoderTests, FunctionKeysF1ToF35)
{
    const KittyKeyboardEncoder legacy(flags(0));
    const KittyKeyboardEncoder allKeys(flags(8));
    const KittyKeyboardEncoder allKeysWithEvents(flags(10));
    const char* kittyF1ToF12[] = {"^[[P",   "^[[Q",   "^[[13~", "^[[S",   "^[[15~", "^[[17~",
                                  "^[[18~", "^[[19~", "^[[20~", "^[[21~", "^[[23~", "^[[24~"};
    for (int n = 1; n <= 35; ++n) {
        const Key key = static_cast<Key>(static_cast<int>(Key::f1) + n - 1);
        const std::string kitty =
            n <= 12 ? std::string(kittyF1ToF12[n - 1]) : "^[[" + std::to_string(57376 + n - 13) + "u";
        EXPECT_EQ(shown(allKeys.encode(fn(key))), kitty) << "F" << n;
        // Under flags 0, F13 and up are the terminfo shifted and ctrl-ed F1-F12.
        const int base = (n - 1) % 12;
        std::string expectedLegacy = shown(EscapeSequences::cmdF()[base]);
        if (n > 12) {
            const std::string q = n <= 24 ? "2" : "5";
            expectedLegacy = base < 4 ? "^[[1;" + q + std::string(1, char('P' + base))
                                      : expectedLegacy.substr(0, expectedLegacy.size() - 1) + ";" + q + "~";
        }
        EXPECT_EQ(shown(legacy.encode(fn(key))), expectedLegacy) << "F" << n << " under flags 0";
        EXPECT_EQ(shown(legacy.encode(fn(key, super))), "(none)") << "super+F" << n << " under flags 0";
        const auto released = allKeysWithEvents.encode(fn(key, ctrl, Type::release));
        ASSERT_TRUE(released);
        EXPECT_NE(shown(released).find(";5:3"), std::string::npos) << "ctrl+F" << n << " released";
    }
}

TEST(KittyKeyboardEncoderTests, FunctionalKeysHaveDistinctCodes)
{
    using E = KittyKeyboardEncoder::FunctionalEncoding;
    const auto encoding = KittyKeyboardEncoder::functionalEncoding;
    // Every key reads back as a distinct sequence; two keys on one code would be indistinguishable.
    std::set<std::pair<uint32_t, char>> seen;
    for (int i = 0; i < kittyFunctionalKeyCount; ++i) {
        const E e = encoding(static_cast<Key>(i));
        EXPECT_TRUE(seen.insert({e.number, e.terminator}).second) << "key " << i << " shares its code";
    }
    int keypad = 0;
    for (int i = 0; i < kittyFunctionalKeyCount; ++i)
        keypad += KittyKeyboardEncoder::isKeypadKey(static_cast<Key>(i)) ? 1 : 0;
    EXPECT_EQ(keypad, 29);

    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(3), Type::release);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(0), std::nullopt);
    EXPECT_EQ(kittyKeyboardEventTypeFromRaw(4), std::nullopt);
}

/// True for a CSI sequence whose parameters are digits, ';' and ':' only and whose last byte is
/// its only final byte.
bool isWellFormedCsi(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 3 || bytes[0] != 0x1B || bytes[1] != '[')
        return false;
    for (size_t i = 2; i + 1 < bytes.size(); ++i) {
        if (!((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';' || bytes[i] == ':'))
            return false;
    }
    return bytes.back() >= 0x40 && bytes.back() <= 0x7E;
}

TEST(KittyKeyboardEncoderTests, FunctionalKeysGiveSevenBitSequencesUnderEveryFlagAndModifier)
{
    // Without text, a functional key's bytes are all the encoder's own: they must be 7-bit, and
    // any CSI among them must be one well-formed sequence (an alt prefix may come before it).
    for (uint32_t f = 0; f <= 31; ++f) {
        for (uint32_t mods = 0; mods < 256; mods += 3) {
            for (int k = 0; k < kittyFunctionalKeyCount; ++k) {
                for (Type type : {Type::press, Type::repeatPress, Type::release}) {
                    const KittyKeyboardEncoder encoder(
                        flags(f),
                        Switches{.applicationCursor = (mods & 1) != 0, .applicationKeypad = (mods & 2) != 0});
                    const auto out = encoder.encode(fn(static_cast<Key>(k), Mods(mods), type));
                    if (!out)
                        continue;
                    ASSERT_FALSE(out->empty());
                    for (uint8_t byte : *out)
                        ASSERT_LT(byte, 0x80) << "flags " << f << " key " << k << ": " << shown(out);
                    std::vector<uint8_t> rest = *out;
                    if (rest.size() > 2 && rest[0] == 0x1B && rest[1] == 0x1B)
                        rest.erase(rest.begin());
                    if (rest.size() > 2 && rest[0] == 0x1B && rest[1] == '[') {
                        ASSERT_TRUE(isWellFormedCsi(rest))
                            << "flags " << f << " key " << k << ": " << shown(out);
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace kestrovan::testing
