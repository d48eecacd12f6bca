// The window's shortcut table over keys as a US keyboard gives them through the view layer's own
// translation: Super forms, the Ctrl+Shift forms that stand for them, Caps Lock, and repeats.
#include "Kestrovan/Mac/MacKeyTestSupport.h"
#include "Vesk/ShortcutTable.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

using kestrovan::testing::UsKey;
using namespace kestrovan::testing;

constexpr UsKey keyD{GDK_KEY_d, GDK_KEY_D, 32};
constexpr UsKey keyT{GDK_KEY_t, GDK_KEY_T, 20};
constexpr UsKey keyW{GDK_KEY_w, GDK_KEY_W, 17};
constexpr UsKey key0{GDK_KEY_0, GDK_KEY_parenright, 11};
constexpr UsKey key3{GDK_KEY_3, GDK_KEY_numbersign, 4};
constexpr UsKey key9{GDK_KEY_9, GDK_KEY_parenleft, 10};
constexpr UsKey keyEqual{GDK_KEY_equal, GDK_KEY_plus, 13};
constexpr UsKey keyMinus{GDK_KEY_minus, GDK_KEY_underscore, 12};
constexpr UsKey keyBracketLeft{GDK_KEY_bracketleft, GDK_KEY_braceleft, 26};
constexpr UsKey keyBracketRight{GDK_KEY_bracketright, GDK_KEY_braceright, 27};
constexpr uint32_t capsLockMask = GDK_LOCK_MASK;

/// The key event the window sees for a first press of `key` with `state`.
platform::KeyEvent press(const UsKey& key, uint32_t state)
{
    platform::KeyboardTranslator keyboard;
    return keyboard.press(toolkitKey(key, state));
}

TEST(ShortcutTableTests, ChordsAsPressedAndInTheirCtrlShiftForm)
{
    using Op = ShortcutOperation;
    struct Case
    {
        const char* name;
        UsKey key;
        uint32_t state;
        std::optional<Shortcut> expected;
    };
    const Case cases[] = {
        {"Ctrl+Tab", keyTab, controlMask, Shortcut{Op::nextTab}},
        {"Ctrl+Shift+Tab (ISO_Left_Tab)", keyTab, controlMask | shiftMask, Shortcut{Op::previousTab}},
        {"Ctrl+Page Down", keyPageDown, controlMask, Shortcut{Op::nextTab}},
        {"Ctrl+Page Up", keyPageUp, controlMask, Shortcut{Op::previousTab}},
        {"Super+T", keyT, superMask, Shortcut{Op::newTab}},
        {"Ctrl+Shift+T", keyT, controlMask | shiftMask, Shortcut{Op::newTab}},
        {"Super+D", keyD, superMask, Shortcut{Op::splitVertically}},
        {"Ctrl+Shift+D", keyD, controlMask | shiftMask, Shortcut{Op::splitVertically}},
        {"Super+Shift+D", keyD, superMask | shiftMask, Shortcut{Op::splitHorizontally}},
        {"Ctrl+Shift+W", keyW, controlMask | shiftMask, Shortcut{Op::closePane}},
        {"Super+Shift+W", keyW, superMask | shiftMask, Shortcut{Op::closeTab}},
        {"Ctrl+Shift+[", keyBracketLeft, controlMask | shiftMask, Shortcut{Op::previousPane}},
        {"Super+]", keyBracketRight, superMask, Shortcut{Op::nextPane}},
        {"Super+Shift+] (reads })", keyBracketRight, superMask | shiftMask, Shortcut{Op::nextTab}},
        {"Super+Shift+[ (reads {)", keyBracketLeft, superMask | shiftMask, Shortcut{Op::previousTab}},
        {"Ctrl+Shift+=", keyEqual, controlMask | shiftMask, Shortcut{Op::biggerText}},
        {"Super+Shift+= (reads +)", keyEqual, superMask | shiftMask, Shortcut{Op::biggerText}},
        {"Ctrl+Shift+-", keyMinus, controlMask | shiftMask, Shortcut{Op::smallerText}},
        {"Ctrl+Shift+0", key0, controlMask | shiftMask, Shortcut{Op::resetText}},
        {"Ctrl+Shift+K", keyK, controlMask | shiftMask, Shortcut{Op::clearScrollback}},
        {"Ctrl+Shift+3", key3, controlMask | shiftMask, Shortcut{Op::selectTab, 3}},
        {"Super+9", key9, superMask, Shortcut{Op::selectTab, 9}},
        {"Caps Lock on: Super+T", keyT, superMask | capsLockMask, Shortcut{Op::newTab}},
        {"Caps Lock on: Ctrl+Shift+T", keyT, controlMask | shiftMask | capsLockMask, Shortcut{Op::newTab}},
        {"Caps Lock on: Ctrl+Tab", keyTab, controlMask | capsLockMask, Shortcut{Op::nextTab}},
        // Not shortcuts: other modifier sets, and keys outside the table.
        {"Super+0 with Alt", key0, superMask | altMask, std::nullopt},
        {"Ctrl+Alt+Shift+T", keyT, controlMask | shiftMask | altMask, std::nullopt},
        {"Ctrl+T (the shell's)", keyT, controlMask, std::nullopt},
        {"Ctrl+Super+T", keyT, controlMask | superMask, std::nullopt},
        {"T alone", keyT, 0, std::nullopt},
        {"Tab alone", keyTab, 0, std::nullopt},
        {"Shift+Page Down (the view's)", keyPageDown, shiftMask, std::nullopt},
        {"Ctrl+Shift+Page Down", keyPageDown, controlMask | shiftMask, std::nullopt},
        {"Super+0 is Reset, but Super+Shift+0 is not", key0, superMask | shiftMask, std::nullopt},
        {"Ctrl+Shift+C (the view's Copy)", keyC, controlMask | shiftMask, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shortcutFor(press(c.key, c.state)), c.expected) << c.name;
}

TEST(ShortcutTableTests, RepeatsAreConsumedButNotRunAndReleasesAreNotShortcuts)
{
    platform::KeyboardTranslator keyboard;
    const platform::ToolkitKey chord = toolkitKey(keyEqual, controlMask | shiftMask);
    const ShortcutDecision first = decideShortcut(keyboard.press(chord));
    EXPECT_EQ(first, (ShortcutDecision{true, Shortcut{ShortcutOperation::biggerText}}));
    const platform::KeyEvent repeat = keyboard.press(chord);
    ASSERT_TRUE(repeat.isARepeat) << "a press while the key is down repeats";
    EXPECT_EQ(decideShortcut(repeat), (ShortcutDecision{true, std::nullopt})) << "consumed, not run";
    EXPECT_EQ(decideShortcut(keyboard.release(chord)), ShortcutDecision{}) << "the release";
    EXPECT_EQ(decideShortcut(keyboard.press(chord)).run, Shortcut{ShortcutOperation::biggerText})
        << "a new press after the release runs again";

    platform::KeyboardTranslator other;
    const platform::ToolkitKey letter = toolkitKey(keyT, 0);
    other.press(letter);
    EXPECT_EQ(decideShortcut(other.press(letter)), ShortcutDecision{}) << "a repeated letter is the shell's";
}

} // namespace
} // namespace vesk
