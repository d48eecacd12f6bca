// Held keys: repeats are presses without a release between, modifier flags after a modifier key's
// own change, and which side of a modifier is held.
#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/KeyboardTranslator.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>

using namespace platform;

namespace {

ToolkitKey key(uint32_t keyval, uint32_t evdev, uint32_t state = 0)
{
    ToolkitKey k;
    k.keyval = k.keyvalIgnoringModifiers = k.keyvalWithoutModifiers = k.keyvalWithShift = keyval;
    k.hardwareKeycode = evdev + 8;
    k.state = state;
    return k;
}

} // namespace

TEST(KeyboardTranslator, APressWithoutAReleaseBetweenIsARepeat)
{
    KeyboardTranslator keyboard;
    EXPECT_FALSE(keyboard.press(key(GDK_KEY_x, 45)).isARepeat);
    EXPECT_TRUE(keyboard.press(key(GDK_KEY_x, 45)).isARepeat);
    EXPECT_TRUE(keyboard.press(key(GDK_KEY_x, 45)).isARepeat);
    EXPECT_FALSE(keyboard.press(key(GDK_KEY_y, 21)).isARepeat) << "another key is not a repeat of the first";
    EXPECT_FALSE(keyboard.release(key(GDK_KEY_x, 45)).isARepeat);
    EXPECT_FALSE(keyboard.press(key(GDK_KEY_x, 45)).isARepeat) << "released in between";
    // The layout may change the keysym while the key is down; the position decides.
    EXPECT_TRUE(keyboard.press(key(GDK_KEY_X, 45, GDK_SHIFT_MASK)).isARepeat);
    keyboard.reset();
    EXPECT_FALSE(keyboard.press(key(GDK_KEY_x, 45)).isARepeat) << "focus loss forgets held keys";
}

TEST(KeyboardTranslator, ModifierKeysReportTheFlagsAfterTheirChangeWithTheirSides)
{
    KeyboardTranslator keyboard;
    // The toolkit's mask is the state before the key.
    KeyEvent left = keyboard.press(key(GDK_KEY_Shift_L, 42));
    EXPECT_EQ(left.type, KeyEventType::flagsChanged);
    EXPECT_EQ(left.modifierFlags.raw, ModifierFlags::shift | ModifierFlags::leftShiftSide);

    KeyEvent right = keyboard.press(key(GDK_KEY_Shift_R, 54, GDK_SHIFT_MASK));
    EXPECT_EQ(right.modifierFlags.raw,
              ModifierFlags::shift | ModifierFlags::leftShiftSide | ModifierFlags::rightShiftSide);

    // A letter typed meanwhile carries both sides.
    KeyEvent letter = keyboard.press(key(GDK_KEY_A, 30, GDK_SHIFT_MASK));
    EXPECT_EQ(letter.modifierFlags.raw,
              ModifierFlags::shift | ModifierFlags::leftShiftSide | ModifierFlags::rightShiftSide);

    // Releasing the right key leaves Shift on through the left one.
    KeyEvent rightUp = keyboard.release(key(GDK_KEY_Shift_R, 54, GDK_SHIFT_MASK));
    EXPECT_EQ(rightUp.modifierFlags.raw, ModifierFlags::shift | ModifierFlags::leftShiftSide);
    KeyEvent leftUp = keyboard.release(key(GDK_KEY_Shift_L, 42, GDK_SHIFT_MASK));
    EXPECT_EQ(leftUp.modifierFlags.raw, 0u);

    // Control pressed elsewhere before the view had focus: no side is known, the flag decides.
    KeyEvent control = keyboard.press(key(GDK_KEY_c, 46, GDK_CONTROL_MASK));
    EXPECT_EQ(control.modifierFlags.raw, ModifierFlags::control);
    KeyEvent controlUp = keyboard.release(key(GDK_KEY_Control_R, 97, GDK_CONTROL_MASK));
    EXPECT_EQ(controlUp.modifierFlags.raw, 0u) << "with no other side known, the release turns it off";
}

TEST(KeyboardTranslator, CapsLockTurnsOverOnItsPressAndStaleSidesAreDropped)
{
    KeyboardTranslator keyboard;
    EXPECT_EQ(keyboard.press(key(GDK_KEY_Caps_Lock, 58)).modifierFlags.raw, ModifierFlags::capsLock);
    EXPECT_EQ(keyboard.release(key(GDK_KEY_Caps_Lock, 58, GDK_LOCK_MASK)).modifierFlags.raw,
              ModifierFlags::capsLock);
    EXPECT_EQ(keyboard.press(key(GDK_KEY_Caps_Lock, 58, GDK_LOCK_MASK)).modifierFlags.raw, 0u) << "unlocked";

    // Alt went down here, its release went elsewhere: once the mask says Alt is off, its side bit
    // is not reported any more.
    keyboard.press(key(GDK_KEY_Alt_L, 56));
    EXPECT_EQ(keyboard.press(key(GDK_KEY_b, 48, GDK_ALT_MASK)).modifierFlags.raw,
              ModifierFlags::option | ModifierFlags::leftOptionSide);
    EXPECT_EQ(keyboard.press(key(GDK_KEY_n, 49)).modifierFlags.raw, 0u);
    EXPECT_EQ(keyboard.heldSides(), ModifierFlags::leftOptionSide);
    keyboard.reset();
    EXPECT_EQ(keyboard.heldSides(), 0u);
}
