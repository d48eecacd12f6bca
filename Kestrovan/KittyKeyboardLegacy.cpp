// The legacy, xterm-style key sequences of the key encoder: what a key sends when the program has
// set no kitty keyboard flags, and the text-key rule the protocol falls back on.
//
// Legacy sequences know only shift, alt and ctrl (as the xterm modifier parameter m = bits + 1,
// lock keys ignored) and have no releases: a release, or super, hyper or meta held, sends nothing.
#include "Kestrovan/KittyKeyboardEncoder.h"
#include "Kestrovan/Utf8.h"

namespace kestrovan {

namespace {

using Mods = KittyKeyboardModifiers;
using Key = KittyFunctionalKey;

constexpr char esc = '\x1b';

bool isBetween(Key key, Key first, Key last)
{
    return key >= first && key <= last;
}

int offset(Key key, Key first)
{
    return static_cast<int>(key) - static_cast<int>(first);
}

/// Legacy encodings have no way to say "released" or to carry super, hyper or meta.
bool legacyCannotEncode(const KittyKeyEvent& event)
{
    return event.eventType == KittyKeyboardEventType::release ||
           event.modifiers.intersects(Mods::super | Mods::hyper | Mods::meta);
}

/// The C0 byte ctrl gives with `scalar`, after the VT220 and xterm conventions: the letters and
/// @ [ \ ] ^ _ map to their controls, the digit row stands in for the symbols on keyboards without
/// them (ctrl+2 is NUL, ctrl+3 ESC ... ctrl+8 DEL), and 0, 1 and 9 have no control of their own.
std::optional<uint8_t> controlByte(char32_t scalar)
{
    if (scalar >= 'a' && scalar <= 'z')
        return static_cast<uint8_t>(scalar - 'a' + 1);
    switch (scalar) {
    case ' ':
    case '@':
    case '2':
        return 0x00;
    case '[':
    case '3':
        return 0x1B;
    case '\\':
    case '4':
        return 0x1C;
    case ']':
    case '5':
        return 0x1D;
    case '^':
    case '6':
    case '~':
        return 0x1E;
    case '_':
    case '7':
    case '/':
        return 0x1F;
    case '8':
    case '?':
        return 0x7F;
    case '0':
    case '1':
    case '9':
        return static_cast<uint8_t>(scalar);
    default:
        return std::nullopt;
    }
}

char32_t asciiLowercase(char32_t scalar)
{
    return scalar >= 'A' && scalar <= 'Z' ? scalar + ('a' - 'A') : scalar;
}

/// The SS3 final byte of a keypad key under application keypad mode (DECKPAM); the navigation
/// keys share the byte of the digit they sit on.
std::optional<char> applicationKeypadLetter(Key key)
{
    switch (key) {
    case Key::keypad0:
    case Key::keypadInsert:
        return 'p';
    case Key::keypad1:
    case Key::keypadEnd:
        return 'q';
    case Key::keypad2:
    case Key::keypadDown:
        return 'r';
    case Key::keypad3:
    case Key::keypadPageDown:
        return 's';
    case Key::keypad4:
    case Key::keypadLeft:
        return 't';
    case Key::keypad5:
    case Key::keypadBegin:
        return 'u';
    case Key::keypad6:
    case Key::keypadRight:
        return 'v';
    case Key::keypad7:
    case Key::keypadHome:
        return 'w';
    case Key::keypad8:
    case Key::keypadUp:
        return 'x';
    case Key::keypad9:
    case Key::keypadPageUp:
        return 'y';
    case Key::keypadDecimal:
    case Key::keypadDelete:
        return 'n';
    case Key::keypadDivide:
        return 'o';
    case Key::keypadMultiply:
        return 'j';
    case Key::keypadSubtract:
        return 'm';
    case Key::keypadAdd:
        return 'k';
    case Key::keypadEnter:
        return 'M';
    case Key::keypadEqual:
        return 'X';
    case Key::keypadSeparator:
        return 'l';
    default:
        return std::nullopt;
    }
}

} // namespace

std::string KittyKeyboardEncoder::navigationSequence(char letter, uint32_t m, bool applicationMode)
{
    // A modifier needs parameters, which SS3 cannot carry: modified cursor keys are always CSI.
    if (m != 1)
        return "\x1b[1;" + std::to_string(m) + letter;
    return std::string(applicationMode ? "\x1bO" : "\x1b[") + letter;
}

std::string KittyKeyboardEncoder::tildeSequence(uint32_t number, uint32_t m)
{
    std::string out = "\x1b[" + std::to_string(number);
    if (m != 1)
        out += ';' + std::to_string(m);
    return out + '~';
}

std::string KittyKeyboardEncoder::functionKeySequence(int n, uint32_t q)
{
    // F1-F4 are the VT100 PF1-PF4 (SS3 P-S), which become CSI 1 ; q P-S when modified.
    if (n <= 4) {
        const char letter = static_cast<char>('P' + (n - 1));
        if (q == 1)
            return std::string("\x1bO") + letter;
        return "\x1b[1;" + std::to_string(q) + letter;
    }
    static constexpr uint32_t numbers[] = {15, 17, 18, 19, 20, 21, 23, 24};
    return tildeSequence(numbers[n - 5], q);
}

std::string KittyKeyboardEncoder::legacyControlKey(KittyFunctionalKey key, const KittyKeyEvent& event) const
{
    if (legacyCannotEncode(event))
        return std::string();
    // These keys are single C0 bytes, so alt can only be said the meta way: an ESC before them.
    std::string out;
    if (event.modifiers.contains(Mods::alt))
        out += esc;
    switch (key) {
    case Key::escape:
        out += esc;
        break;
    case Key::enter:
        out += '\r';
        break;
    case Key::tab:
        out += event.modifiers.contains(Mods::shift) ? "\x1b[Z" : "\t";
        break;
    case Key::backspace:
        out += event.modifiers.contains(Mods::ctrl) || switches_.backspaceSendsControlH ? '\b' : '\x7f';
        break;
    default:
        return std::string();
    }
    return out;
}

std::string KittyKeyboardEncoder::legacyKeypadKey(KittyFunctionalKey key, const KittyKeyEvent& event,
                                                  uint32_t m) const
{
    // DECKPAM is only for the unmodified keypad; a modified key sends what it would send normally.
    if (switches_.applicationKeypad && m == 1) {
        if (auto letter = applicationKeypadLetter(key))
            return std::string("\x1bO") + *letter;
    }
    const std::string altPrefix = event.modifiers.contains(Mods::alt) ? std::string(1, esc) : std::string();
    if (key == Key::keypadEnter)
        return altPrefix + '\r';
    if (event.text && !event.text->empty())
        return altPrefix + utf8String(*event.text);
    // Without text (Num Lock off) the navigation keys act as their main-block twins, always in
    // normal cursor mode.
    switch (key) {
    case Key::keypadUp:
        return navigationSequence('A', m, false);
    case Key::keypadDown:
        return navigationSequence('B', m, false);
    case Key::keypadRight:
        return navigationSequence('C', m, false);
    case Key::keypadLeft:
        return navigationSequence('D', m, false);
    case Key::keypadHome:
        return navigationSequence('H', m, false);
    case Key::keypadEnd:
        return navigationSequence('F', m, false);
    case Key::keypadPageUp:
        return tildeSequence(5, m);
    case Key::keypadPageDown:
        return tildeSequence(6, m);
    case Key::keypadInsert:
        return tildeSequence(2, m);
    case Key::keypadDelete:
        return tildeSequence(3, m);
    default:
        return std::string();
    }
}

std::string KittyKeyboardEncoder::legacyFunctionalKey(KittyFunctionalKey key,
                                                      const KittyKeyEvent& event) const
{
    if (legacyCannotEncode(event))
        return std::string();
    const uint32_t m = modifierValue(event.modifiers, false) + 1;

    if (isKeypadKey(key))
        return legacyKeypadKey(key, event, m);
    if (isBetween(key, Key::f1, Key::f12)) {
        // The terminfo numbering (F13 = shift+F1, F25 = ctrl+F1 ...) and the xterm modifier
        // parameter agree for every combination of shift, alt and ctrl, so m is used directly.
        return functionKeySequence(offset(key, Key::f1) + 1, m);
    }
    if (isBetween(key, Key::f13, Key::f35)) {
        // Keyboards with F13 and up send what terminfo calls them: F13-F24 are shift+F1-F12 and
        // F25-F35 ctrl+F1-F11. Modifiers held with them cannot be expressed on top of that.
        const int k = offset(key, Key::f13) + 13;
        return functionKeySequence((k - 1) % 12 + 1, k <= 24 ? 2 : 5);
    }

    switch (key) {
    case Key::escape:
    case Key::enter:
    case Key::tab:
    case Key::backspace:
        return legacyControlKey(key, event);
    case Key::insert:
        return tildeSequence(2, m);
    case Key::delete_:
        return tildeSequence(3, m);
    case Key::pageUp:
        return tildeSequence(5, m);
    case Key::pageDown:
        return tildeSequence(6, m);
    case Key::up:
        return navigationSequence('A', m, switches_.applicationCursor);
    case Key::down:
        return navigationSequence('B', m, switches_.applicationCursor);
    case Key::right:
        return navigationSequence('C', m, switches_.applicationCursor);
    case Key::left:
        return navigationSequence('D', m, switches_.applicationCursor);
    case Key::home:
        return navigationSequence('H', m, switches_.applicationCursor);
    case Key::end:
        return navigationSequence('F', m, switches_.applicationCursor);
    default:
        // Menu, the lock keys, Print Screen, Pause and the media keys have no legacy bytes.
        return std::string();
    }
}

std::string KittyKeyboardEncoder::legacyText(const KittyKeyEvent& event) const
{
    const std::optional<char32_t> scalar = event.key.unicodeScalar();
    if (!scalar || !isValidScalar(*scalar) || legacyCannotEncode(event))
        return std::string();
    const bool ctrl = event.modifiers.contains(Mods::ctrl);
    // Ctrl+shift has no legacy byte of its own; leaving it empty sends the CSI u form instead.
    if (ctrl && event.modifiers.contains(Mods::shift))
        return std::string();

    // Alt is the meta prefix; ctrl then picks the control byte, else the text or the key itself
    // is sent (shifted by the layout when shift is held).
    std::string out;
    if (event.modifiers.contains(Mods::alt))
        out += esc;
    if (ctrl) {
        // Ctrl+A is ctrl+a: the table is written in lower case.
        if (auto control = controlByte(asciiLowercase(*scalar))) {
            out += static_cast<char>(*control);
            return out;
        }
    }
    if (event.text && !event.text->empty()) {
        out += utf8String(*event.text);
        return out;
    }
    char32_t sent = *scalar;
    if (event.modifiers.contains(Mods::shift) && event.shiftedKey && isValidScalar(*event.shiftedKey))
        sent = *event.shiftedKey;
    appendUtf8(out, sent);
    return out;
}

} // namespace kestrovan
