#include "Platform/UI/KeyTranslation.h"

#include "Platform/UI/KeyCodes.h"

#include <array>
#include <gdk/gdk.h>
#include <utility>

namespace platform {

namespace {

// Physical keys by evdev code (linux/input-event-codes.h names in the comments), each mapped to the
// key at the same place on the desktop keyboard the tables number. Insert sits where Help does;
// the PC-only keys (Num Lock, Print, Scroll Lock, Pause, Menu) have no code there and stay unmapped.
constexpr std::pair<uint16_t, uint16_t> physicalKeys[] = {
    {1, keycode::escape}, // KEY_ESC
    {2, keycode::ansi1},  // KEY_1
    {3, keycode::ansi2},
    {4, keycode::ansi3},
    {5, keycode::ansi4},
    {6, keycode::ansi5},
    {7, keycode::ansi6},
    {8, keycode::ansi7},
    {9, keycode::ansi8},
    {10, keycode::ansi9},
    {11, keycode::ansi0},     // KEY_0
    {12, keycode::ansiMinus}, // KEY_MINUS
    {13, keycode::ansiEqual}, // KEY_EQUAL
    {14, keycode::deleteKey}, // KEY_BACKSPACE
    {15, keycode::tab},       // KEY_TAB
    {16, keycode::ansiQ},
    {17, keycode::ansiW},
    {18, keycode::ansiE},
    {19, keycode::ansiR},
    {20, keycode::ansiT},
    {21, keycode::ansiY},
    {22, keycode::ansiU},
    {23, keycode::ansiI},
    {24, keycode::ansiO},
    {25, keycode::ansiP},
    {26, keycode::ansiLeftBracket},  // KEY_LEFTBRACE
    {27, keycode::ansiRightBracket}, // KEY_RIGHTBRACE
    {28, keycode::returnKey},        // KEY_ENTER
    {29, keycode::control},          // KEY_LEFTCTRL
    {30, keycode::ansiA},
    {31, keycode::ansiS},
    {32, keycode::ansiD},
    {33, keycode::ansiF},
    {34, keycode::ansiG},
    {35, keycode::ansiH},
    {36, keycode::ansiJ},
    {37, keycode::ansiK},
    {38, keycode::ansiL},         // KEY_L
    {39, keycode::ansiSemicolon}, // KEY_SEMICOLON
    {40, keycode::ansiQuote},     // KEY_APOSTROPHE
    {41, keycode::ansiGrave},     // KEY_GRAVE
    {42, keycode::shift},         // KEY_LEFTSHIFT
    {43, keycode::ansiBackslash}, // KEY_BACKSLASH
    {44, keycode::ansiZ},
    {45, keycode::ansiX},
    {46, keycode::ansiC},
    {47, keycode::ansiV},
    {48, keycode::ansiB},
    {49, keycode::ansiN},
    {50, keycode::ansiM},          // KEY_M
    {51, keycode::ansiComma},      // KEY_COMMA
    {52, keycode::ansiPeriod},     // KEY_DOT
    {53, keycode::ansiSlash},      // KEY_SLASH
    {54, keycode::rightShift},     // KEY_RIGHTSHIFT
    {55, keycode::keypadMultiply}, // KEY_KPASTERISK
    {56, keycode::option},         // KEY_LEFTALT
    {57, keycode::space},          // KEY_SPACE
    {58, keycode::capsLock},       // KEY_CAPSLOCK
    {59, keycode::f1},
    {60, keycode::f2},
    {61, keycode::f3},
    {62, keycode::f4},
    {63, keycode::f5},
    {64, keycode::f6},
    {65, keycode::f7},
    {66, keycode::f8},
    {67, keycode::f9},
    {68, keycode::f10},
    {71, keycode::keypad7}, // KEY_KP7
    {72, keycode::keypad8},
    {73, keycode::keypad9},
    {74, keycode::keypadMinus}, // KEY_KPMINUS
    {75, keycode::keypad4},
    {76, keycode::keypad5},
    {77, keycode::keypad6},    // KEY_KP6
    {78, keycode::keypadPlus}, // KEY_KPPLUS
    {79, keycode::keypad1},
    {80, keycode::keypad2},
    {81, keycode::keypad3},
    {82, keycode::keypad0},
    {83, keycode::keypadDecimal}, // KEY_KPDOT
    {86, keycode::isoSection},    // KEY_102ND
    {87, keycode::f11},
    {88, keycode::f12},
    {89, keycode::jisUnderscore},   // KEY_RO
    {96, keycode::keypadEnter},     // KEY_KPENTER
    {97, keycode::rightControl},    // KEY_RIGHTCTRL
    {98, keycode::keypadDivide},    // KEY_KPSLASH
    {100, keycode::rightOption},    // KEY_RIGHTALT
    {102, keycode::home},           // KEY_HOME
    {103, keycode::upArrow},        // KEY_UP
    {104, keycode::pageUp},         // KEY_PAGEUP
    {105, keycode::leftArrow},      // KEY_LEFT
    {106, keycode::rightArrow},     // KEY_RIGHT
    {107, keycode::end},            // KEY_END
    {108, keycode::downArrow},      // KEY_DOWN
    {109, keycode::pageDown},       // KEY_PAGEDOWN
    {110, keycode::help},           // KEY_INSERT
    {111, keycode::forwardDelete},  // KEY_DELETE
    {113, keycode::mute},           // KEY_MUTE
    {114, keycode::volumeDown},     // KEY_VOLUMEDOWN
    {115, keycode::volumeUp},       // KEY_VOLUMEUP
    {117, keycode::keypadEquals},   // KEY_KPEQUAL
    {121, keycode::jisKeypadComma}, // KEY_KPCOMMA
    {124, keycode::jisYen},         // KEY_YEN
    {125, keycode::command},        // KEY_LEFTMETA
    {126, keycode::rightCommand},   // KEY_RIGHTMETA
    {183, keycode::f13},
    {184, keycode::f14},
    {185, keycode::f15},
    {186, keycode::f16},
    {187, keycode::f17},
    {188, keycode::f18},
    {189, keycode::f19},
    {190, keycode::f20},
};

constexpr size_t evdevLimit = 256;
// X11 and Wayland number hardware keys as the evdev code plus 8.
constexpr uint32_t evdevOffset = 8;
constexpr uint16_t noKeyCode = 0xFFFF;

constexpr std::array<uint16_t, evdevLimit> makePhysicalTable()
{
    std::array<uint16_t, evdevLimit> table{};
    for (auto& entry : table)
        entry = noKeyCode;
    for (const auto& [evdev, code] : physicalKeys)
        table[evdev] = code;
    return table;
}

constexpr auto physicalTable = makePhysicalTable();

uint32_t evdevCode(uint32_t hardwareKeycode)
{
    return hardwareKeycode >= evdevOffset ? hardwareKeycode - evdevOffset : 0;
}

uint16_t unmappedKeyCode(uint32_t hardwareKeycode)
{
    // evdev codes end at KEY_MAX (0x2ff); anything larger is not a real key position.
    const uint32_t evdev = evdevCode(hardwareKeycode);
    return uint16_t(keycode::unmappedKeyCodeBase + (evdev <= 0x2FF ? evdev : 0));
}

bool isKeypadNavigationKeysym(uint32_t keyval)
{
    switch (keyval) {
    case GDK_KEY_KP_Home:
    case GDK_KEY_KP_Left:
    case GDK_KEY_KP_Up:
    case GDK_KEY_KP_Right:
    case GDK_KEY_KP_Down:
    case GDK_KEY_KP_Page_Up:
    case GDK_KEY_KP_Page_Down:
    case GDK_KEY_KP_End:
    case GDK_KEY_KP_Begin:
    case GDK_KEY_KP_Insert:
    case GDK_KEY_KP_Delete:
        return true;
    default:
        return false;
    }
}

// Keypad keysyms run from KP_Space (0xff80) to KP_9 (0xffb9), with KP_Equal beyond; the
// navigation ones among them are handled above, the rest are the keypad's digits, operators and
// Enter.
bool isKeypadKeysym(uint32_t keyval)
{
    return (keyval >= GDK_KEY_KP_Space && keyval <= GDK_KEY_KP_9) || keyval == GDK_KEY_KP_Equal;
}

bool isDeadKeysym(uint32_t keyval)
{
    return keyval >= GDK_KEY_dead_grave && keyval <= GDK_KEY_dead_greek;
}

// The text a keysym types before Control is applied: function keys their private-use character,
// Backspace DEL (the byte the terminal's own tables then choose BS or DEL for), the keypad's Enter
// a carriage return as Return does, Shift-Tab a tab, dead keys nothing.
std::u32string textOfKeysym(uint32_t keyval)
{
    if (auto function = functionKeyCharacter(keyval))
        return std::u32string(1, *function);
    if (isDeadKeysym(keyval))
        return {};
    switch (keyval) {
    case GDK_KEY_BackSpace:
        return U"\x7f";
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        return U"\r";
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_KP_Tab:
        return U"\t";
    default:
        break;
    }
    const char32_t c = gdk_keyval_to_unicode(keyval);
    if (c == 0)
        return {};
    return std::u32string(1, c);
}

} // namespace

uint16_t keyCodeForHardwareKeycode(uint32_t hardwareKeycode)
{
    const uint32_t evdev = evdevCode(hardwareKeycode);
    if (hardwareKeycode >= evdevOffset && evdev < evdevLimit && physicalTable[evdev] != noKeyCode)
        return physicalTable[evdev];
    return unmappedKeyCode(hardwareKeycode);
}

std::optional<char32_t> functionKeyCharacter(uint32_t keyval)
{
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F35)
        return char32_t(functionkey::f1 + (keyval - GDK_KEY_F1));
    switch (keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
        return functionkey::upArrow;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
        return functionkey::downArrow;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        return functionkey::leftArrow;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        return functionkey::rightArrow;
    case GDK_KEY_Insert:
    case GDK_KEY_KP_Insert:
        return functionkey::insert;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
        return functionkey::deleteForward;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
        return functionkey::home;
    case GDK_KEY_Begin:
    case GDK_KEY_KP_Begin:
        return functionkey::begin;
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
        return functionkey::end;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up:
        return functionkey::pageUp;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down:
        return functionkey::pageDown;
    case GDK_KEY_Print:
        return functionkey::printScreen;
    case GDK_KEY_Scroll_Lock:
        return functionkey::scrollLock;
    case GDK_KEY_Pause:
        return functionkey::pause;
    case GDK_KEY_Sys_Req:
        return functionkey::sysReq;
    case GDK_KEY_Break:
        return functionkey::breakKey;
    case GDK_KEY_Menu:
        return functionkey::menu;
    case GDK_KEY_Clear:
        return functionkey::clearLine;
    case GDK_KEY_Help:
        return functionkey::help;
    default:
        return std::nullopt;
    }
}

std::optional<uint32_t> modifierFlagOfKey(uint32_t keyval)
{
    switch (keyval) {
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return ModifierFlags::shift;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
        return ModifierFlags::control;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_L:
    case GDK_KEY_Meta_R:
        return ModifierFlags::option;
    case GDK_KEY_Super_L:
    case GDK_KEY_Super_R:
    case GDK_KEY_Hyper_L:
    case GDK_KEY_Hyper_R:
        return ModifierFlags::command;
    case GDK_KEY_Caps_Lock:
        return ModifierFlags::capsLock;
    case GDK_KEY_Num_Lock:
    case GDK_KEY_ISO_Level3_Shift:
    case GDK_KEY_ISO_Level5_Shift:
    case GDK_KEY_Mode_switch:
        return 0u;
    default:
        return std::nullopt;
    }
}

uint32_t modifierSideBit(uint32_t keyval)
{
    switch (keyval) {
    case GDK_KEY_Shift_L:
        return ModifierFlags::leftShiftSide;
    case GDK_KEY_Shift_R:
        return ModifierFlags::rightShiftSide;
    case GDK_KEY_Control_L:
        return ModifierFlags::leftControlSide;
    case GDK_KEY_Control_R:
        return ModifierFlags::rightControlSide;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Meta_L:
        return ModifierFlags::leftOptionSide;
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_R:
        return ModifierFlags::rightOptionSide;
    case GDK_KEY_Super_L:
    case GDK_KEY_Hyper_L:
        return ModifierFlags::leftCommandSide;
    case GDK_KEY_Super_R:
    case GDK_KEY_Hyper_R:
        return ModifierFlags::rightCommandSide;
    default:
        return 0;
    }
}

ModifierFlags modifierFlagsOfState(uint32_t state)
{
    // GDK reports Meta and Hyper as well where the keymap shares a modifier with Alt or Super;
    // they add nothing here, so Alt alone means Option and Super alone means Command.
    uint32_t flags = 0;
    if (state & GDK_SHIFT_MASK)
        flags |= ModifierFlags::shift;
    if (state & GDK_LOCK_MASK)
        flags |= ModifierFlags::capsLock;
    if (state & GDK_CONTROL_MASK)
        flags |= ModifierFlags::control;
    if (state & GDK_ALT_MASK)
        flags |= ModifierFlags::option;
    if (state & GDK_SUPER_MASK)
        flags |= ModifierFlags::command;
    return ModifierFlags{flags};
}

char32_t applyingControl(char32_t c)
{
    if (c >= U'@' && c <= U'_')
        return c - 0x40;
    if (c >= U'a' && c <= U'z')
        return c - 0x60;
    if (c == U' ')
        return 0;
    if (c == U'?')
        return 0x7F;
    return c;
}

// The key code names the position, the characters come from the keysym, and the flags from the
// mask plus what the key itself is (a function key, a keypad key). Control is applied to the
// characters here, as the view's tables expect of `characters`; `charactersIgnoringModifiers`
// keeps only Shift, so a layout's own letters survive Control and Alt.
KeyEvent translateKey(const ToolkitKey& key, KeyEventType type)
{
    KeyEvent event;
    event.type = modifierFlagOfKey(key.keyval) ? KeyEventType::flagsChanged : type;
    event.keyval = key.keyval;
    event.hardwareKeycode = key.hardwareKeycode;
    event.timestamp = key.timestamp;
    event.numLock = key.numLock;

    ModifierFlags flags = modifierFlagsOfState(key.state);
    const auto function = functionKeyCharacter(key.keyval);
    if (function)
        flags = flags.with(ModifierFlags::function);

    // Num Lock off turns the keypad's digit keys into navigation keys (the keysym says which);
    // they keep the numeric-pad flag but leave the keypad's key codes, which mean digits.
    const bool levelShift = key.keyval == GDK_KEY_ISO_Level3_Shift ||
                            key.keyval == GDK_KEY_ISO_Level5_Shift || key.keyval == GDK_KEY_Mode_switch;
    if (levelShift) {
        // AltGr usually sits where the right Option key is, but it is no Option key: its code
        // must not read as one.
        event.keyCode = unmappedKeyCode(key.hardwareKeycode);
    } else if (isKeypadNavigationKeysym(key.keyval)) {
        flags = flags.with(ModifierFlags::numericPad);
        event.keyCode =
            key.keyval == GDK_KEY_KP_Begin ? keycode::keypadClear : unmappedKeyCode(key.hardwareKeycode);
    } else {
        event.keyCode = keyCodeForHardwareKeycode(key.hardwareKeycode);
        if (isKeypadKeysym(key.keyval))
            flags = flags.with(ModifierFlags::numericPad);
    }
    // The regular arrow keys carry the numeric-pad flag as well; the tables tell them apart from
    // the keypad's arrows by their key codes.
    switch (key.keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_Down:
    case GDK_KEY_Left:
    case GDK_KEY_Right:
        flags = flags.with(ModifierFlags::numericPad);
        break;
    default:
        break;
    }
    event.modifierFlags = flags;

    if (event.type == KeyEventType::flagsChanged)
        return event;

    const std::u32string text = textOfKeysym(key.keyval);
    event.characters = text;
    if (flags.has(ModifierFlags::control) && text.size() == 1 && !function)
        event.characters[0] = applyingControl(text[0]);
    if (function || isKeypadKeysym(key.keyval)) {
        // A function key's character does not change with modifiers, nor does a keypad key's
        // (the other renderings would drop Num Lock, which no modifier mask carries).
        event.charactersIgnoringModifiers = text;
        event.charactersWithoutModifiers = text;
        event.charactersWithShift = text;
        event.charactersInBaseLayout = text;
    } else {
        event.charactersIgnoringModifiers =
            textOfKeysym(key.keyvalIgnoringModifiers ? key.keyvalIgnoringModifiers : key.keyval);
        event.charactersWithoutModifiers = textOfKeysym(key.keyvalWithoutModifiers);
        event.charactersWithShift = textOfKeysym(key.keyvalWithShift);
        event.charactersInBaseLayout = textOfKeysym(key.keyvalInBaseLayout);
    }
    return event;
}

} // namespace platform
