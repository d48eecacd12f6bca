// The fixed byte sequences a view sends for keys when no kitty keyboard enhancement is active, and
// the bracketed-paste markers.
//
// Each sequence is built once, on first use, and shared afterwards; callers send the bytes
// unchanged. Key sequences are always 7-bit, whatever the terminal's reply form (`Terminal::CC`).
// Keys with modifiers, the keypad and the kitty protocol forms are the key encoder's work
// (KittyKeyboardEncoder.h); these are only the plain forms.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrovan {

struct EscapeSequences
{
    using Sequence = std::vector<uint8_t>;

    EscapeSequences() = delete;

    /// LF.
    static const Sequence& cmdNewLine();
    /// CR: Return.
    static const Sequence& cmdRet();
    /// ESC: the Escape key.
    static const Sequence& cmdEsc();
    /// DEL: the Backspace key (not forward delete).
    static const Sequence& cmdDel();
    /// ESC [ 3 ~: the forward-delete key.
    static const Sequence& cmdDelKey();
    /// TAB.
    static const Sequence& cmdTab();
    /// ESC [ Z: shift-Tab.
    static const Sequence& cmdBackTab();
    /// ESC [ 5 ~.
    static const Sequence& cmdPageUp();
    /// ESC [ 6 ~.
    static const Sequence& cmdPageDown();
    /// ESC [ 2 ~.
    static const Sequence& cmdInsert();

    // Cursor keys: the "Normal" forms, and the "App" forms sent under application cursor keys
    // (DEC private mode 1).
    static const Sequence& moveUpNormal();
    static const Sequence& moveUpApp();
    static const Sequence& moveDownNormal();
    static const Sequence& moveDownApp();
    static const Sequence& moveRightNormal();
    static const Sequence& moveRightApp();
    static const Sequence& moveLeftNormal();
    static const Sequence& moveLeftApp();
    static const Sequence& moveHomeNormal();
    static const Sequence& moveHomeApp();
    static const Sequence& moveEndNormal();
    static const Sequence& moveEndApp();

    /// ESC b: backward word.
    static const Sequence& emacsBack();
    /// ESC f: forward word.
    static const Sequence& emacsForward();
    /// ESC [ 1 ; 5 D: ctrl-Left with the xterm modifier 5.
    static const Sequence& controlLeft();
    /// ESC [ 1 ; 5 C: ctrl-Right.
    static const Sequence& controlRight();

    /// ESC [ 200 ~, sent before pasted text in bracketed-paste mode.
    static const Sequence& bracketedPasteStart();
    /// ESC [ 201 ~, sent after it.
    static const Sequence& bracketedPasteEnd();

    /// F1-F12. F1-F4 use the SS3 forms (F3 is ESC O R), F5-F12 the tilde forms.
    static const std::array<Sequence, 12>& cmdF();
};

} // namespace kestrovan
