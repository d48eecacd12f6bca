// What a key means beyond the terminal's own encoding: which presses the menus see first and in
// what form, and what the standard key bindings make of keys no input method took.
#include "Platform/UI/KeyCodes.h"
#include "Platform/UI/MenuKeyRouter.h"
#include "Platform/UI/TextInputCommand.h"

#include <gtest/gtest.h>
#include <vector>

using namespace platform;

namespace {

KeyEvent press(uint16_t keyCode, std::u32string characters, std::u32string plain, uint32_t flags)
{
    KeyEvent event;
    event.keyCode = keyCode;
    event.characters = characters;
    event.charactersIgnoringModifiers = characters;
    event.charactersWithoutModifiers = plain;
    event.charactersWithShift = characters;
    event.modifierFlags = ModifierFlags{flags};
    return event;
}

} // namespace

TEST(MenuKeyEquivalent, OffersCommandAsItIsAndCtrlShiftAsCommand)
{
    const uint32_t ctrlShift = ModifierFlags::control | ModifierFlags::shift;
    // Super-T goes as it is.
    const KeyEvent superT =
        press(keycode::ansiT, U"t", U"t", ModifierFlags::command | ModifierFlags::leftCommandSide);
    EXPECT_EQ(menuKeyEquivalent(superT), superT);

    // Ctrl+Shift+T is Command+T: lower case, Control and Shift (and their sides) gone.
    KeyEvent ctrlShiftT = press(keycode::ansiT, U"\x14", U"t",
                                ctrlShift | ModifierFlags::leftControlSide | ModifierFlags::leftShiftSide |
                                    ModifierFlags::capsLock);
    ctrlShiftT.charactersIgnoringModifiers = U"T";
    const auto offered = menuKeyEquivalent(ctrlShiftT);
    ASSERT_TRUE(offered);
    EXPECT_EQ(offered->modifierFlags.raw, ModifierFlags::command | ModifierFlags::capsLock);
    EXPECT_EQ(offered->characters, U"t");
    EXPECT_EQ(offered->charactersIgnoringModifiers, U"t");
    EXPECT_EQ(offered->keyCode, keycode::ansiT);

    // Ctrl+Shift+= is Command+= (the key without Shift), and a function key keeps its character.
    const auto equals = menuKeyEquivalent(press(keycode::ansiEqual, U"+", U"=", ctrlShift));
    ASSERT_TRUE(equals);
    EXPECT_EQ(equals->charactersIgnoringModifiers, U"=");
    const auto pageUp = menuKeyEquivalent(press(keycode::pageUp, U"\uF72C", U"\uF72C", ctrlShift));
    ASSERT_TRUE(pageUp);
    EXPECT_EQ(pageUp->charactersIgnoringModifiers, U"\uF72C");

    // Not offered: plain keys, Ctrl alone, Shift alone, Ctrl+Alt+Shift, releases.
    EXPECT_FALSE(menuKeyEquivalent(press(keycode::ansiT, U"t", U"t", 0)));
    EXPECT_FALSE(menuKeyEquivalent(press(keycode::ansiC, U"\x03", U"c", ModifierFlags::control)));
    EXPECT_FALSE(menuKeyEquivalent(press(keycode::ansiC, U"C", U"c", ModifierFlags::shift)));
    EXPECT_FALSE(menuKeyEquivalent(press(keycode::ansiC, U"\x03", U"c", ctrlShift | ModifierFlags::option)));
    KeyEvent release = superT;
    release.type = KeyEventType::keyUp;
    EXPECT_FALSE(menuKeyEquivalent(release));
}

TEST(MenuKeyRouter, DeliversTheMenuFormToTheInstalledHandler)
{
    std::vector<KeyEvent> seen;
    MenuKeyRouter::setHandler([&](const KeyEvent& event) {
        seen.push_back(event);
        return event.charactersIgnoringModifiers == U"t";
    });
    const uint32_t ctrlShift = ModifierFlags::control | ModifierFlags::shift;
    EXPECT_TRUE(MenuKeyRouter::offer(press(keycode::ansiT, U"\x14", U"t", ctrlShift)))
        << "a menu item took it";
    EXPECT_FALSE(MenuKeyRouter::offer(press(keycode::ansiC, U"\x03", U"c", ctrlShift))) << "no item for C";
    EXPECT_FALSE(MenuKeyRouter::offer(press(keycode::ansiT, U"t", U"t", 0))) << "not offered";
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].modifierFlags.raw, ModifierFlags::command);
    MenuKeyRouter::setHandler(nullptr);
    EXPECT_FALSE(MenuKeyRouter::offer(press(keycode::ansiT, U"t", U"t", ModifierFlags::command)));
    EXPECT_EQ(seen.size(), 2u);
}

TEST(StandardKeyBinding, EditingKeysGiveCommandsAndPrintableKeysText)
{
    using C = TextInputCommand;
    struct Case
    {
        KeyEvent event;
        KeyBinding expected;
    };
    auto command = [](C c) { return KeyBinding{KeyBinding::Kind::command, c, {}}; };
    auto text = [](std::u32string t) {
        return KeyBinding{KeyBinding::Kind::insertText, C::insertNewline, t};
    };
    const uint32_t shift = ModifierFlags::shift;
    const Case cases[] = {
        {press(keycode::returnKey, U"\r", U"\r", 0), command(C::insertNewline)},
        {press(keycode::keypadEnter, U"\r", U"\r", ModifierFlags::numericPad), command(C::insertNewline)},
        {press(keycode::returnKey, U"\r", U"\r", ModifierFlags::control), command(C::insertNewline)},
        {press(keycode::tab, U"\t", U"\t", 0), command(C::insertTab)},
        {press(keycode::tab, U"\t", U"\t", shift), command(C::insertBacktab)},
        {press(keycode::escape, U"\x1b", U"\x1b", 0), command(C::cancelOperation)},
        {press(keycode::deleteKey, U"\x7f", U"\x7f", 0), command(C::deleteBackward)},
        {press(keycode::forwardDelete, U"\uF728", U"\uF728", 0), command(C::deleteForward)},
        {press(keycode::upArrow, U"\uF700", U"\uF700", 0), command(C::moveUp)},
        {press(keycode::leftArrow, U"\uF702", U"\uF702", shift), command(C::moveLeftAndModifySelection)},
        {press(keycode::home, U"\uF729", U"\uF729", 0), command(C::scrollToBeginningOfDocument)},
        {press(keycode::end, U"\uF72B", U"\uF72B", 0), command(C::scrollToEndOfDocument)},
        {press(keycode::pageUp, U"\uF72C", U"\uF72C", 0), command(C::scrollPageUp)},
        {press(keycode::pageDown, U"\uF72D", U"\uF72D", shift), command(C::pageDownAndModifySelection)},
        {press(keycode::ansiA, U"a", U"a", 0), text(U"a")},
        {press(keycode::ansiE, U"é", U"e", 0), text(U"é")},
        {press(keycode::ansiB, U"b", U"b", ModifierFlags::option), text(U"b")},
        {press(keycode::ansiC, U"\x03", U"c", ModifierFlags::control), KeyBinding{}},
        {press(keycode::ansiC, U"c", U"c", ModifierFlags::command), KeyBinding{}},
        {press(keycode::f5, U"\uF708", U"\uF708", 0), KeyBinding{}},
        {press(keycode::ansiEqual, U"", U"", 0), KeyBinding{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.event.keyCode) + " flags " + std::to_string(c.event.modifierFlags.raw));
        EXPECT_EQ(standardKeyBinding(c.event), c.expected);
    }
    KeyEvent release = press(keycode::returnKey, U"\r", U"\r", 0);
    release.type = KeyEventType::keyUp;
    EXPECT_EQ(standardKeyBinding(release), KeyBinding{});
    EXPECT_STREQ(selectorName(C::insertNewline), "insertNewline:");
    EXPECT_STREQ(selectorName(C::pageDownAndModifySelection), "pageDownAndModifySelection:");
}
