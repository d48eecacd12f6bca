// The key table: toolkit keysyms and hardware codes into the view's key codes, characters and
// flags, including the keypad under Num Lock, layouts other than US, and the keys that have no
// code in the view's numbering.
#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/KeyTranslation.h"

#include <algorithm>
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace platform;

namespace {

// X11 and Wayland hardware codes are evdev codes plus 8.
constexpr uint32_t hw(uint32_t evdev)
{
    return evdev + 8;
}

struct Case
{
    const char* name;
    uint32_t keyval;
    uint32_t hardware;
    uint32_t state;
    uint16_t keyCode;
    std::u32string characters;
    std::u32string ignoringModifiers;
    uint32_t flags;
    // Renderings with the event's Shift alone, with none, and with Shift forced on.
    uint32_t ignoringKeyval = 0;
    uint32_t plainKeyval = 0;
    uint32_t shiftedKeyval = 0;
};

KeyEvent translate(const Case& c, KeyEventType type = KeyEventType::keyDown)
{
    ToolkitKey key;
    key.keyval = c.keyval;
    key.hardwareKeycode = c.hardware;
    key.state = c.state;
    key.keyvalIgnoringModifiers = c.ignoringKeyval ? c.ignoringKeyval : c.keyval;
    key.keyvalWithoutModifiers = c.plainKeyval ? c.plainKeyval : c.keyval;
    key.keyvalWithShift = c.shiftedKeyval ? c.shiftedKeyval : c.keyval;
    key.keyvalInBaseLayout = key.keyvalWithoutModifiers;
    return translateKey(key, type);
}

} // namespace

TEST(KeyTranslation, TurnsToolkitKeysIntoTheViewsKeyCodesCharactersAndFlags)
{
    const uint32_t fn = ModifierFlags::function;
    const uint32_t pad = ModifierFlags::numericPad;
    const Case cases[] = {
        {"a", GDK_KEY_a, hw(30), 0, keycode::ansiA, U"a", U"a", 0},
        {"shift-a", GDK_KEY_A, hw(30), GDK_SHIFT_MASK, keycode::ansiA, U"A", U"A", ModifierFlags::shift,
         GDK_KEY_A, GDK_KEY_a, GDK_KEY_A},
        {"caps-a ignores caps", GDK_KEY_A, hw(30), GDK_LOCK_MASK, keycode::ansiA, U"A", U"a",
         ModifierFlags::capsLock, GDK_KEY_a},
        {"ctrl-c", GDK_KEY_c, hw(46), GDK_CONTROL_MASK, keycode::ansiC, U"\x03", U"c",
         ModifierFlags::control},
        {"ctrl-shift-c", GDK_KEY_C, hw(46), GDK_CONTROL_MASK | GDK_SHIFT_MASK, keycode::ansiC, U"\x03", U"C",
         ModifierFlags::control | ModifierFlags::shift},
        {"ctrl-space", GDK_KEY_space, hw(57), GDK_CONTROL_MASK, keycode::space, std::u32string(1, U'\0'),
         U" ", ModifierFlags::control},
        {"ctrl-[", GDK_KEY_bracketleft, hw(26), GDK_CONTROL_MASK, keycode::ansiLeftBracket, U"\x1b", U"[",
         ModifierFlags::control},
        {"ctrl-1 keeps the digit", GDK_KEY_1, hw(2), GDK_CONTROL_MASK, keycode::ansi1, U"1", U"1",
         ModifierFlags::control},
        {"alt-b is option", GDK_KEY_b, hw(48), GDK_ALT_MASK, keycode::ansiB, U"b", U"b",
         ModifierFlags::option},
        {"super-t is command", GDK_KEY_t, hw(20), GDK_SUPER_MASK, keycode::ansiT, U"t", U"t",
         ModifierFlags::command},
        {"return", GDK_KEY_Return, hw(28), 0, keycode::returnKey, U"\r", U"\r", 0},
        {"tab", GDK_KEY_Tab, hw(15), 0, keycode::tab, U"\t", U"\t", 0},
        {"shift-tab", GDK_KEY_ISO_Left_Tab, hw(15), GDK_SHIFT_MASK, keycode::tab, U"\t", U"\t",
         ModifierFlags::shift},
        {"backspace types DEL", GDK_KEY_BackSpace, hw(14), 0, keycode::deleteKey, U"\x7f", U"\x7f", 0},
        {"escape", GDK_KEY_Escape, hw(1), 0, keycode::escape, U"\x1b", U"\x1b", 0},
        {"up", GDK_KEY_Up, hw(103), 0, keycode::upArrow, U"\uF700", U"\uF700", fn | pad},
        {"down", GDK_KEY_Down, hw(108), 0, keycode::downArrow, U"\uF701", U"\uF701", fn | pad},
        {"left", GDK_KEY_Left, hw(105), 0, keycode::leftArrow, U"\uF702", U"\uF702", fn | pad},
        {"ctrl-right keeps its character", GDK_KEY_Right, hw(106), GDK_CONTROL_MASK, keycode::rightArrow,
         U"\uF703", U"\uF703", fn | pad | ModifierFlags::control},
        {"f1", GDK_KEY_F1, hw(59), 0, keycode::f1, U"\uF704", U"\uF704", fn},
        {"f12", GDK_KEY_F12, hw(88), 0, keycode::f12, U"\uF70F", U"\uF70F", fn},
        {"f13", GDK_KEY_F13, hw(183), 0, keycode::f13, U"\uF710", U"\uF710", fn},
        {"f35 has no key position", GDK_KEY_F35, 0, 0, keycode::unmappedKeyCodeBase, U"\uF726", U"\uF726",
         fn},
        {"insert is help's position", GDK_KEY_Insert, hw(110), 0, keycode::help, U"\uF727", U"\uF727", fn},
        {"delete", GDK_KEY_Delete, hw(111), 0, keycode::forwardDelete, U"\uF728", U"\uF728", fn},
        {"home", GDK_KEY_Home, hw(102), 0, keycode::home, U"\uF729", U"\uF729", fn},
        {"end", GDK_KEY_End, hw(107), 0, keycode::end, U"\uF72B", U"\uF72B", fn},
        {"page up", GDK_KEY_Page_Up, hw(104), 0, keycode::pageUp, U"\uF72C", U"\uF72C", fn},
        {"page down", GDK_KEY_Page_Down, hw(109), 0, keycode::pageDown, U"\uF72D", U"\uF72D", fn},
        {"print", GDK_KEY_Print, hw(99), 0, uint16_t(keycode::unmappedKeyCodeBase + 99), U"\uF72E", U"\uF72E",
         fn},
        {"scroll lock", GDK_KEY_Scroll_Lock, hw(70), 0, uint16_t(keycode::unmappedKeyCodeBase + 70),
         U"\uF72F", U"\uF72F", fn},
        {"pause", GDK_KEY_Pause, hw(119), 0, uint16_t(keycode::unmappedKeyCodeBase + 119), U"\uF730",
         U"\uF730", fn},
        {"menu", GDK_KEY_Menu, hw(127), 0, uint16_t(keycode::unmappedKeyCodeBase + 127), U"\uF735", U"\uF735",
         fn},
        // Num Lock on: the keypad's digits and operators under the keypad's codes.
        {"keypad 5", GDK_KEY_KP_5, hw(76), 0, keycode::keypad5, U"5", U"5", pad, 0, GDK_KEY_KP_Begin},
        {"keypad 0", GDK_KEY_KP_0, hw(82), 0, keycode::keypad0, U"0", U"0", pad},
        {"keypad decimal", GDK_KEY_KP_Decimal, hw(83), 0, keycode::keypadDecimal, U".", U".", pad},
        {"keypad enter", GDK_KEY_KP_Enter, hw(96), 0, keycode::keypadEnter, U"\r", U"\r", pad},
        {"keypad plus", GDK_KEY_KP_Add, hw(78), 0, keycode::keypadPlus, U"+", U"+", pad},
        {"keypad divide", GDK_KEY_KP_Divide, hw(98), 0, keycode::keypadDivide, U"/", U"/", pad},
        {"keypad equals", GDK_KEY_KP_Equal, hw(117), 0, keycode::keypadEquals, U"=", U"=", pad},
        // Num Lock off: the digit keys are the keypad's navigation keys, out of the digit codes.
        {"keypad up", GDK_KEY_KP_Up, hw(72), 0, uint16_t(keycode::unmappedKeyCodeBase + 72), U"\uF700",
         U"\uF700", fn | pad},
        {"keypad home", GDK_KEY_KP_Home, hw(71), 0, uint16_t(keycode::unmappedKeyCodeBase + 71), U"\uF729",
         U"\uF729", fn | pad},
        {"keypad page down", GDK_KEY_KP_Page_Down, hw(81), 0, uint16_t(keycode::unmappedKeyCodeBase + 81),
         U"\uF72D", U"\uF72D", fn | pad},
        {"keypad delete", GDK_KEY_KP_Delete, hw(83), 0, uint16_t(keycode::unmappedKeyCodeBase + 83),
         U"\uF728", U"\uF728", fn | pad},
        {"keypad begin reads as clear", GDK_KEY_KP_Begin, hw(76), 0, keycode::keypadClear, U"\uF72A",
         U"\uF72A", fn | pad},
        // Other layouts: the code follows the position, the characters the layout.
        {"azerty a at the q position", GDK_KEY_a, hw(16), 0, keycode::ansiQ, U"a", U"a", 0},
        {"cyrillic es at the c position", GDK_KEY_Cyrillic_es, hw(46), GDK_CONTROL_MASK, keycode::ansiC,
         U"\u0441", U"\u0441", ModifierFlags::control},
        {"german altgr-q types @", GDK_KEY_at, hw(16), 0, keycode::ansiQ, U"@", U"q", 0, GDK_KEY_q},
        {"iso section key", GDK_KEY_less, hw(86), 0, keycode::isoSection, U"<", U"<", 0},
        {"dead acute types nothing", GDK_KEY_dead_acute, hw(13), 0, keycode::ansiEqual, U"", U"", 0},
        {"unknown hardware code", GDK_KEY_a, 3, 0, keycode::unmappedKeyCodeBase, U"a", U"a", 0},
        {"a code past the evdev range", GDK_KEY_a, 5000, 0, keycode::unmappedKeyCodeBase, U"a", U"a", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyEvent event = translate(c);
        EXPECT_EQ(event.type, KeyEventType::keyDown);
        EXPECT_EQ(event.keyCode, c.keyCode);
        EXPECT_EQ(event.characters, c.characters);
        EXPECT_EQ(event.charactersIgnoringModifiers, c.ignoringModifiers);
        EXPECT_EQ(event.modifierFlags.raw, c.flags);
        EXPECT_EQ(event.keyval, c.keyval);
        EXPECT_EQ(event.hardwareKeycode, c.hardware);
    }
}

TEST(KeyTranslation, GivesTheKittyRenderingsOfAKey)
{
    // Shift-2 on a US layout: @ with Shift, 2 without any modifier.
    const KeyEvent shifted =
        translate({"", GDK_KEY_at, hw(3), GDK_SHIFT_MASK, 0, U"", U"", 0, GDK_KEY_at, GDK_KEY_2, GDK_KEY_at});
    EXPECT_EQ(shifted.charactersWithoutModifiers, U"2");
    EXPECT_EQ(shifted.charactersWithShift, U"@");
    // Ctrl-a: the control character typed, the letter in every rendering.
    const KeyEvent control =
        translate({"", GDK_KEY_a, hw(30), GDK_CONTROL_MASK, 0, U"", U"", 0, GDK_KEY_a, GDK_KEY_a, GDK_KEY_A});
    EXPECT_EQ(control.characters, U"\x01");
    EXPECT_EQ(control.charactersWithoutModifiers, U"a");
    EXPECT_EQ(control.charactersWithShift, U"A");
    // Ctrl-es on a Russian layout that follows a US one: the first layout has c there.
    ToolkitKey cyrillic;
    cyrillic.keyval = cyrillic.keyvalIgnoringModifiers = cyrillic.keyvalWithoutModifiers =
        GDK_KEY_Cyrillic_es;
    cyrillic.keyvalWithShift = GDK_KEY_Cyrillic_ES;
    cyrillic.keyvalInBaseLayout = GDK_KEY_c;
    cyrillic.hardwareKeycode = hw(46);
    cyrillic.state = GDK_CONTROL_MASK;
    const KeyEvent layout = translateKey(cyrillic, KeyEventType::keyDown);
    EXPECT_EQ(layout.charactersWithoutModifiers, U"\u0441");
    EXPECT_EQ(layout.charactersWithShift, U"\u0421");
    EXPECT_EQ(layout.charactersInBaseLayout, U"c");
    EXPECT_EQ(layout.keyCode, keycode::ansiC);
    // A keypad digit keeps its digit in every rendering (no modifier mask carries Num Lock).
    const KeyEvent keypad =
        translate({"", GDK_KEY_KP_7, hw(71), 0, 0, U"", U"", 0, 0, GDK_KEY_KP_Home, GDK_KEY_KP_7});
    EXPECT_EQ(keypad.charactersWithoutModifiers, U"7");
    EXPECT_EQ(keypad.charactersWithShift, U"7");
}

TEST(KeyTranslation, ModifierKeysAreFlagChangesWithoutCharacters)
{
    struct Modifier
    {
        uint32_t keyval;
        uint32_t evdev;
        uint16_t keyCode;
        uint32_t side;
    };
    const Modifier modifiers[] = {
        {GDK_KEY_Shift_L, 42, keycode::shift, ModifierFlags::leftShiftSide},
        {GDK_KEY_Shift_R, 54, keycode::rightShift, ModifierFlags::rightShiftSide},
        {GDK_KEY_Control_L, 29, keycode::control, ModifierFlags::leftControlSide},
        {GDK_KEY_Control_R, 97, keycode::rightControl, ModifierFlags::rightControlSide},
        {GDK_KEY_Alt_L, 56, keycode::option, ModifierFlags::leftOptionSide},
        {GDK_KEY_Alt_R, 100, keycode::rightOption, ModifierFlags::rightOptionSide},
        {GDK_KEY_Super_L, 125, keycode::command, ModifierFlags::leftCommandSide},
        {GDK_KEY_Super_R, 126, keycode::rightCommand, ModifierFlags::rightCommandSide},
        {GDK_KEY_Caps_Lock, 58, keycode::capsLock, 0},
        {GDK_KEY_Num_Lock, 69, uint16_t(keycode::unmappedKeyCodeBase + 69), 0},
        {GDK_KEY_ISO_Level3_Shift, 100, uint16_t(keycode::unmappedKeyCodeBase + 100), 0},
    };
    for (const Modifier& m : modifiers) {
        SCOPED_TRACE(m.keyval);
        const KeyEvent event = translate({"", m.keyval, hw(m.evdev), 0, 0, U"", U"", 0}, KeyEventType::keyUp);
        EXPECT_EQ(event.type, KeyEventType::flagsChanged);
        EXPECT_EQ(event.keyCode, m.keyCode);
        EXPECT_TRUE(event.characters.empty());
        EXPECT_EQ(modifierSideBit(m.keyval), m.side);
    }
    EXPECT_EQ(modifierFlagOfKey(GDK_KEY_ISO_Level3_Shift), 0u) << "AltGr is not Option";
    EXPECT_FALSE(modifierFlagOfKey(GDK_KEY_a).has_value());
}

// The four other readings of a key come from as few translations of the keymap as the questions
// allow, and each is what its own question would have answered.
TEST(KeyReadings, EachReadingAnswersItsQuestionAndNoQuestionIsAskedTwice)
{
    struct ReadingCase
    {
        const char* name;
        bool shiftDown;
        uint32_t layout;
        size_t questions;
    };
    const ReadingCase cases[] = {
        {"first layout, Shift up", false, 0, 2},
        {"first layout, Shift down", true, 0, 2},
        {"second layout, Shift up", false, 1, 3},
        {"third layout, Shift down", true, 2, 3},
    };
    // A keymap in which every question has its own answer.
    const auto answer = [](bool shift, uint32_t layout) { return 100 * layout + (shift ? 2 : 1); };
    for (const ReadingCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<bool, uint32_t>> asked;
        ToolkitKey key;
        fillKeyReadings(key, c.shiftDown, c.layout, [&](bool shift, uint32_t layout) {
            asked.emplace_back(shift, layout);
            return answer(shift, layout);
        });
        EXPECT_EQ(key.keyvalIgnoringModifiers, answer(c.shiftDown, c.layout));
        EXPECT_EQ(key.keyvalWithoutModifiers, answer(false, c.layout));
        EXPECT_EQ(key.keyvalWithShift, answer(true, c.layout));
        EXPECT_EQ(key.keyvalInBaseLayout, answer(false, 0));
        EXPECT_EQ(asked.size(), c.questions);
        std::sort(asked.begin(), asked.end());
        EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end()), asked.end()) << "a question asked twice";
    }
}
