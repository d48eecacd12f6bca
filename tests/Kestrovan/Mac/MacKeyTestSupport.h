// Key events as the GTK widget makes them, without a display: GDK keysyms and evdev positions on
// a US layout, through the view layer's own translation (`KeyboardTranslator`), so the view sees
// exactly the characters, flags and repeats the widget would hand it.
#pragma once

#include "Platform/UI/KeyTranslation.h"
#include "Platform/UI/KeyboardTranslator.h"

#include <cstdint>
#include <gdk/gdk.h>
#include <gdk/gdkkeysyms.h>
#include <string>
#include <vector>

namespace kestrovan::testing {

/// One key as a US keyboard gives it: its keysym without and with Shift, and its evdev code.
struct UsKey
{
    uint32_t lower = 0;
    uint32_t upper = 0;
    uint32_t evdev = 0;
};

inline platform::ToolkitKey toolkitKey(const UsKey& key, uint32_t state, bool numLock = false)
{
    platform::ToolkitKey out;
    const bool shift = state & GDK_SHIFT_MASK;
    out.keyval = shift ? key.upper : key.lower;
    out.keyvalIgnoringModifiers = out.keyval;
    out.keyvalWithoutModifiers = key.lower;
    out.keyvalWithShift = key.upper;
    out.keyvalInBaseLayout = key.lower;
    out.hardwareKeycode = key.evdev + 8;
    out.state = state;
    out.numLock = numLock;
    return out;
}

// Keys the tests use (evdev codes from linux/input-event-codes.h).
inline constexpr UsKey keyA{GDK_KEY_a, GDK_KEY_A, 30};
inline constexpr UsKey keyB{GDK_KEY_b, GDK_KEY_B, 48};
inline constexpr UsKey keyC{GDK_KEY_c, GDK_KEY_C, 46};
inline constexpr UsKey keyE{GDK_KEY_e, GDK_KEY_E, 18};
inline constexpr UsKey keyF{GDK_KEY_f, GDK_KEY_F, 33};
inline constexpr UsKey keyG{GDK_KEY_g, GDK_KEY_G, 34};
inline constexpr UsKey keyH{GDK_KEY_h, GDK_KEY_H, 35};
inline constexpr UsKey keyV{GDK_KEY_v, GDK_KEY_V, 47};
inline constexpr UsKey keyX{GDK_KEY_x, GDK_KEY_X, 45};
inline constexpr UsKey keyK{GDK_KEY_k, GDK_KEY_K, 37};
inline constexpr UsKey keyO{GDK_KEY_o, GDK_KEY_O, 24};
inline constexpr UsKey key1{GDK_KEY_1, GDK_KEY_exclam, 2};
inline constexpr UsKey keySpace{GDK_KEY_space, GDK_KEY_space, 57};
inline constexpr UsKey keyReturn{GDK_KEY_Return, GDK_KEY_Return, 28};
inline constexpr UsKey keyTab{GDK_KEY_Tab, GDK_KEY_ISO_Left_Tab, 15};
inline constexpr UsKey keyBackSpace{GDK_KEY_BackSpace, GDK_KEY_BackSpace, 14};
inline constexpr UsKey keyEscape{GDK_KEY_Escape, GDK_KEY_Escape, 1};
inline constexpr UsKey keyUp{GDK_KEY_Up, GDK_KEY_Up, 103};
inline constexpr UsKey keyDown{GDK_KEY_Down, GDK_KEY_Down, 108};
inline constexpr UsKey keyLeft{GDK_KEY_Left, GDK_KEY_Left, 105};
inline constexpr UsKey keyRight{GDK_KEY_Right, GDK_KEY_Right, 106};
inline constexpr UsKey keyHome{GDK_KEY_Home, GDK_KEY_Home, 102};
inline constexpr UsKey keyEnd{GDK_KEY_End, GDK_KEY_End, 107};
inline constexpr UsKey keyInsert{GDK_KEY_Insert, GDK_KEY_Insert, 110};
inline constexpr UsKey keyDelete{GDK_KEY_Delete, GDK_KEY_Delete, 111};
inline constexpr UsKey keyPageUp{GDK_KEY_Page_Up, GDK_KEY_Page_Up, 104};
inline constexpr UsKey keyPageDown{GDK_KEY_Page_Down, GDK_KEY_Page_Down, 109};
inline constexpr UsKey keyKp1{GDK_KEY_KP_1, GDK_KEY_KP_1, 79};
inline constexpr UsKey keyKpEnter{GDK_KEY_KP_Enter, GDK_KEY_KP_Enter, 96};
inline constexpr UsKey keyKpAdd{GDK_KEY_KP_Add, GDK_KEY_KP_Add, 78};
inline constexpr UsKey keyLeftShift{GDK_KEY_Shift_L, GDK_KEY_Shift_L, 42};
inline constexpr UsKey keyLeftControl{GDK_KEY_Control_L, GDK_KEY_Control_L, 29};

inline UsKey functionKey(int n)
{
    static constexpr uint32_t evdev[12] = {59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 87, 88};
    const uint32_t keyval = GDK_KEY_F1 + uint32_t(n - 1);
    return UsKey{keyval, keyval, evdev[n - 1]};
}

inline constexpr uint32_t shiftMask = GDK_SHIFT_MASK;
inline constexpr uint32_t controlMask = GDK_CONTROL_MASK;
inline constexpr uint32_t altMask = GDK_ALT_MASK;
inline constexpr uint32_t superMask = GDK_SUPER_MASK;

/// A chord, its modifier state and the legacy bytes it sends.
struct Chord
{
    std::string name;
    UsKey key;
    uint32_t state = 0;
    std::string bytes;
};

/// Chords of every kind with their legacy bytes on the normal screen with the cursor keys and
/// keypad in normal mode and no menu item taking any chord.
inline std::vector<Chord> legacyChordTable()
{
    std::vector<Chord> chords = {
        {"a", keyA, 0, "a"},
        {"Shift-a", keyA, shiftMask, "A"},
        {"Return", keyReturn, 0, "\r"},
        {"Tab", keyTab, 0, "\t"},
        {"Shift-Tab", keyTab, shiftMask, "\x1b[Z"},
        {"BackSpace", keyBackSpace, 0, "\x7f"},
        {"Escape", keyEscape, 0, "\x1b"},
        {"Alt-b (meta)", keyB, altMask,
         "\x1b"
         "b"},
        {"Alt-Shift-b", keyB, altMask | shiftMask,
         "\x1b"
         "B"},
        // Alt with the cursor and editing keys: xterm's modified forms (Alt 3, Alt+Shift 4,
        // Ctrl+Alt 7), never the plain key nor a word motion of its own.
        {"Alt-Left", keyLeft, altMask, "\x1b[1;3D"},
        {"Alt-Right", keyRight, altMask, "\x1b[1;3C"},
        {"Alt-Up", keyUp, altMask, "\x1b[1;3A"},
        {"Alt-Down", keyDown, altMask, "\x1b[1;3B"},
        {"Alt-Shift-Up", keyUp, altMask | shiftMask, "\x1b[1;4A"},
        {"Ctrl-Alt-Up", keyUp, controlMask | altMask, "\x1b[1;7A"},
        {"Ctrl-Alt-Home", keyHome, controlMask | altMask, "\x1b[1;7H"},
        {"Alt-Home", keyHome, altMask, "\x1b[1;3H"},
        {"Alt-End", keyEnd, altMask, "\x1b[1;3F"},
        {"Alt-PageUp", keyPageUp, altMask, "\x1b[5;3~"},
        {"Alt-PageDown", keyPageDown, altMask, "\x1b[6;3~"},
        {"Alt-Insert", keyInsert, altMask, "\x1b[2;3~"},
        {"Alt-Delete", keyDelete, altMask, "\x1b[3;3~"},
        {"Alt-Return", keyReturn, altMask, "\x1b\r"},
        {"Alt-BackSpace", keyBackSpace, altMask, "\x1b\x7f"},
        {"Ctrl-BackSpace", keyBackSpace, controlMask, "\x08"},
        {"Ctrl-Alt-BackSpace", keyBackSpace, controlMask | altMask, "\x1b\x08"},
        {"Ctrl-Space", keySpace, controlMask, std::string(1, '\0')},
        {"Ctrl-a", keyA, controlMask, "\x01"},
        {"Ctrl-c", keyC, controlMask, "\x03"},
        // Copy, the view's own shortcut: never Ctrl+C for the program, not even without a menu.
        {"Ctrl-Shift-c (the view's copy)", keyC, controlMask | shiftMask, ""},
        {"Ctrl-Left", keyLeft, controlMask, "\x1b[1;5D"},
        {"Ctrl-Right", keyRight, controlMask, "\x1b[1;5C"},
        {"Ctrl-Up", keyUp, controlMask, "\x1b[1;5A"},
        {"Ctrl-Down", keyDown, controlMask, "\x1b[1;5B"},
        {"Up", keyUp, 0, "\x1b[A"},
        {"Down", keyDown, 0, "\x1b[B"},
        {"Right", keyRight, 0, "\x1b[C"},
        {"Left", keyLeft, 0, "\x1b[D"},
        {"Home", keyHome, 0, "\x1b[H"},
        {"End", keyEnd, 0, "\x1b[F"},
        {"Insert", keyInsert, 0, "\x1b[2~"},
        {"Delete", keyDelete, 0, "\x1b[3~"},
        {"PageUp", keyPageUp, 0, "\x1b[5~"},
        {"PageDown", keyPageDown, 0, "\x1b[6~"},
        {"Ctrl-PageDown", keyPageDown, controlMask, "\x1b[6;5~"},
        {"Shift-F5", functionKey(5), shiftMask, "\x1b[15;2~"},
        {"Shift-F10", functionKey(10), shiftMask, "\x1b[21;2~"},
        {"Alt-F10", functionKey(10), altMask, "\x1b[21;3~"},
        {"Super-k (no menu item)", keyK, superMask, ""},
        {"Super-Left", keyLeft, superMask, ""},
        {"1", key1, 0, "1"},
        {"Shift-1", key1, shiftMask, "!"},
    };
    static const char* const fkeys[12] = {"\x1bOP",   "\x1bOQ",   "\x1bOR",   "\x1bOS",
                                          "\x1b[15~", "\x1b[17~", "\x1b[18~", "\x1b[19~",
                                          "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~"};
    for (int n = 1; n <= 12; ++n)
        chords.push_back({"F" + std::to_string(n), functionKey(n), 0, fkeys[n - 1]});
    return chords;
}

} // namespace kestrovan::testing
