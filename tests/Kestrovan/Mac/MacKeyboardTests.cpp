// The window-system half's keyboard: key chords as the GTK widget delivers them, through the
// view layer's translation, to the bytes the view sends, in legacy mode and with the kitty
// keyboard protocol on; committed and composing text from a stand-in input method.

#include "Kestrovan/Mac/MacKeyTestSupport.h"
#include "Kestrovan/Mac/MacOverlays.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/Mac/MacViewTestSupport.h"
#include "Platform/UI/MenuKeyRouter.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

TEST(MacKeyboardTests, LegacyChordsSendTheirSequences)
{
    MacViewFixture f;
    const std::vector<Chord> chords = legacyChordTable();
    for (const Chord& chord : chords)
        EXPECT_EQ(f.chord(chord.key, chord.state), chord.bytes) << chord.name;

    // Page Down is the program's on either screen; with Shift it pages the scrollback, except on
    // the alternate screen, which has none.
    EXPECT_EQ(f.chord(keyPageDown, shiftMask), "");
    f.feed("\x1b[?1049h");
    EXPECT_EQ(f.chord(keyPageDown), "\x1b[6~");
    EXPECT_EQ(f.chord(keyPageDown, shiftMask), "\x1b[6;2~");
    f.feed("\x1b[?1049l");

    // Application cursor keys and the keypad in application mode; a modified cursor key keeps
    // its CSI form.
    f.feed("\x1b[?1h\x1b=");
    EXPECT_EQ(f.chord(keyUp), "\x1bOA");
    EXPECT_EQ(f.chord(keyUp, altMask), "\x1b[1;3A");
    EXPECT_EQ(f.chord(keyLeft, altMask), "\x1b[1;3D");
    EXPECT_EQ(f.chord(keyKp1, 0, true), "\x1bOq");
    EXPECT_EQ(f.chord(keyKpEnter, 0, true), "\x1bOM");
    EXPECT_EQ(f.chord(keyKpAdd, 0, true), "\x1bOk");
    f.feed("\x1b[?1l\x1b>");
    EXPECT_EQ(f.chord(keyKp1, 0, true), "1");

    // DECBKM and the view's setting make Backspace send BS.
    f.mac().backspaceSendsControlH = true;
    EXPECT_EQ(f.chord(keyBackSpace), "\x08");
    EXPECT_EQ(f.chord(keyBackSpace, controlMask), "\x08");
    f.mac().backspaceSendsControlH = false;

    // With Alt not as meta, Alt-b goes to the key bindings as text, and Alt leaves the arrows and
    // Ctrl+Backspace as they are.
    f.mac().optionAsMetaKey = false;
    EXPECT_EQ(f.chord(keyB, altMask), "b");
    EXPECT_EQ(f.chord(keyUp, altMask), "\x1b[A");
    EXPECT_EQ(f.chord(keyBackSpace, controlMask | altMask), "\x08");
}

TEST(MacKeyboardTests, KittyProtocolReportsPressRepeatReleaseWithModifiersTextAndBaseKeys)
{
    MacViewFixture f;
    // Disambiguate, report events, alternates, all keys as escape codes, associated text.
    f.feed("\x1b[>31u");
    EXPECT_EQ(f.press(keyA), "\x1b[97;;97u");
    EXPECT_EQ(f.press(keyA), "\x1b[97;1:2;97u") << "a second press without a release repeats";
    EXPECT_EQ(f.release(keyA), "\x1b[97;1:3u");
    EXPECT_EQ(f.chord(keyA, shiftMask), "\x1b[97:65;2;65u\x1b[97:65;2:3u");
    EXPECT_EQ(f.chord(keyC, controlMask), "\x1b[99;5u\x1b[99;5:3u");
    EXPECT_EQ(f.chord(keyReturn), "\x1b[13u\x1b[13;1:3u");
    EXPECT_EQ(f.chord(keyUp, altMask), "\x1b[1;3A\x1b[1;3:3A");
    // A Cyrillic layout: the key in the US c position reports c as its base-layout key.
    EXPECT_EQ(f.chord(UsKey{GDK_KEY_Cyrillic_es, GDK_KEY_Cyrillic_ES, 46}),
              "\x1b[1089::99;;1089u\x1b[1089::99;1:3u");
    // Modifier keys themselves are reported with all keys on.
    EXPECT_EQ(f.press(keyLeftShift), "\x1b[57441;2u");
    EXPECT_EQ(f.release(keyLeftShift, shiftMask), "\x1b[57441;1:3u");
    EXPECT_TRUE(f.mac().kittyKeysWithReportedPress().empty());

    // Events only: the release of Return is not reported without all keys.
    f.feed("\x1b[<u\x1b[>3u");
    EXPECT_EQ(f.chord(keyReturn), "\r");
    EXPECT_EQ(f.chord(keyA), "a\x1b[97;1:3u") << "text keys type text, their releases are reported";
    // A press reported while events were off has no release afterwards.
    f.feed("\x1b[<u\x1b[>1u");
    f.press(keyA);
    f.feed("\x1b[<u\x1b[>3u");
    EXPECT_EQ(f.release(keyA), "");
}

TEST(MacKeyboardTests, InputMethodsComposeAtTheCaretAndCommitOnce)
{
    MacViewFixture f;
    // A stand-in dead-key input method: the acute accent is composed, the next letter commits.
    bool dead = false;
    f.host->inputMethod = [&](const platform::KeyEvent& event) {
        if (event.type != platform::KeyEventType::keyDown)
            return false;
        if (event.keyval == GDK_KEY_dead_acute) {
            dead = true;
            f.view->setMarkedText(platform::MarkedText{"\xc2\xb4", 1, {}});
            return true;
        }
        if (dead && event.keyval == GDK_KEY_e) {
            dead = false;
            f.view->insertText("\xc3\xa9");
            return true;
        }
        return false;
    };
    f.feed("ab");
    EXPECT_EQ(f.press(UsKey{GDK_KEY_dead_acute, GDK_KEY_dead_acute, 40}), "");
    ASSERT_TRUE(f.mac().markedTextOverlay());
    EXPECT_EQ(f.mac().markedTextOverlay()->lines(), std::vector<std::string>{"\xc2\xb4"});
    EXPECT_TRUE(f.mac().hasMarkedText());
    ASSERT_EQ(f.host->subviews.size(), 2u) << "the caret and the pre-edit overlay";
    const platform::Rect caret = f.view->caretFrame();
    const platform::Rect overlay = f.host->subviews.back()->frame();
    EXPECT_DOUBLE_EQ(overlay.y + overlay.height, caret.y + caret.height) << "level with the caret's top";
    EXPECT_DOUBLE_EQ(overlay.x, 4);
    EXPECT_EQ(f.release(UsKey{GDK_KEY_dead_acute, GDK_KEY_dead_acute, 40}), "");

    EXPECT_EQ(f.chord(keyE), "\xc3\xa9");
    EXPECT_FALSE(f.mac().hasMarkedText());
    EXPECT_FALSE(f.mac().markedTextOverlay());
    EXPECT_TRUE(f.host->subviews.back()->removed);

    // In kitty mode a committed character is the pressed key's text event; a backspace that
    // ends a composition is the input method's.
    f.feed("\x1b[>1u");
    f.press(UsKey{GDK_KEY_dead_acute, GDK_KEY_dead_acute, 40});
    EXPECT_EQ(f.press(keyE), "\xc3\xa9");
    f.view->setMarkedText(platform::MarkedText{"x", 1, {}});
    f.delegate->clearSent();
    f.view->insertText("\x7f");
    f.settle();
    EXPECT_EQ(f.delegate->sentText(), "");
    // Several committed characters go as text.
    f.view->insertText("\xe6\x97\xa5\xe6\x9c\xac");
    f.settle();
    EXPECT_EQ(f.delegate->sentText(), "\xe6\x97\xa5\xe6\x9c\xac");
}

TEST(MacKeyboardTests, MenusSeeCommandAndControlShiftChordsFirst)
{
    MacViewFixture f;
    std::vector<platform::KeyEvent> offered;
    platform::MenuKeyRouter::setHandler([&](const platform::KeyEvent& event) {
        offered.push_back(event);
        return event.charactersIgnoringModifiers == U"c";
    });
    EXPECT_EQ(f.chord(keyC, controlMask | shiftMask), "") << "a menu item took Ctrl+Shift+C as Super+C";
    EXPECT_EQ(f.chord(keyC, superMask), "");
    EXPECT_EQ(f.chord(keyK, controlMask | shiftMask), "\x0b") << "no item: the terminal gets Ctrl+Shift+K";
    EXPECT_EQ(offered.size(), 3u);
    EXPECT_EQ(f.chord(keyA), "a");
    EXPECT_EQ(offered.size(), 3u) << "plain keys are not offered";
    platform::MenuKeyRouter::setHandler(nullptr);
}

} // namespace
} // namespace kestrovan::testing
