// The key codes and function-key characters the view's key tables are written in.
//
// A key code names a physical key position (the numbering of the classic desktop keyboard tables,
// where 0 is the A key of the ANSI layout, 36 Return and 123 Left Arrow), so it does not change with
// the keyboard layout. Keys that numbering has no code for get `unmappedKeyCodeBase` plus their
// Linux evdev code, which keeps them apart from each other and from every code the tables test.
// Function keys carry characters from the private-use range (U+F700 Up Arrow, U+F704 F1, ...) in
// their event's characters, as the tables expect.
#pragma once

#include <cstdint>

namespace platform {

namespace keycode {

constexpr uint16_t ansiA = 0;
constexpr uint16_t ansiS = 1;
constexpr uint16_t ansiD = 2;
constexpr uint16_t ansiF = 3;
constexpr uint16_t ansiH = 4;
constexpr uint16_t ansiG = 5;
constexpr uint16_t ansiZ = 6;
constexpr uint16_t ansiX = 7;
constexpr uint16_t ansiC = 8;
constexpr uint16_t ansiV = 9;
constexpr uint16_t isoSection = 10;
constexpr uint16_t ansiB = 11;
constexpr uint16_t ansiQ = 12;
constexpr uint16_t ansiW = 13;
constexpr uint16_t ansiE = 14;
constexpr uint16_t ansiR = 15;
constexpr uint16_t ansiY = 16;
constexpr uint16_t ansiT = 17;
constexpr uint16_t ansi1 = 18;
constexpr uint16_t ansi2 = 19;
constexpr uint16_t ansi3 = 20;
constexpr uint16_t ansi4 = 21;
constexpr uint16_t ansi6 = 22;
constexpr uint16_t ansi5 = 23;
constexpr uint16_t ansiEqual = 24;
constexpr uint16_t ansi9 = 25;
constexpr uint16_t ansi7 = 26;
constexpr uint16_t ansiMinus = 27;
constexpr uint16_t ansi8 = 28;
constexpr uint16_t ansi0 = 29;
constexpr uint16_t ansiRightBracket = 30;
constexpr uint16_t ansiO = 31;
constexpr uint16_t ansiU = 32;
constexpr uint16_t ansiLeftBracket = 33;
constexpr uint16_t ansiI = 34;
constexpr uint16_t ansiP = 35;
constexpr uint16_t returnKey = 36;
constexpr uint16_t ansiL = 37;
constexpr uint16_t ansiJ = 38;
constexpr uint16_t ansiQuote = 39;
constexpr uint16_t ansiK = 40;
constexpr uint16_t ansiSemicolon = 41;
constexpr uint16_t ansiBackslash = 42;
constexpr uint16_t ansiComma = 43;
constexpr uint16_t ansiSlash = 44;
constexpr uint16_t ansiN = 45;
constexpr uint16_t ansiM = 46;
constexpr uint16_t ansiPeriod = 47;
constexpr uint16_t tab = 48;
constexpr uint16_t space = 49;
constexpr uint16_t ansiGrave = 50;
/// The key that erases backwards (Backspace).
constexpr uint16_t deleteKey = 51;
constexpr uint16_t escape = 53;
constexpr uint16_t rightCommand = 54;
constexpr uint16_t command = 55;
constexpr uint16_t shift = 56;
constexpr uint16_t capsLock = 57;
constexpr uint16_t option = 58;
constexpr uint16_t control = 59;
constexpr uint16_t rightShift = 60;
constexpr uint16_t rightOption = 61;
constexpr uint16_t rightControl = 62;
constexpr uint16_t f17 = 64;
constexpr uint16_t keypadDecimal = 65;
constexpr uint16_t keypadMultiply = 67;
constexpr uint16_t keypadPlus = 69;
/// The keypad's Clear key; its tables read it as the keypad's Begin key (keypad 5 without Num Lock).
constexpr uint16_t keypadClear = 71;
constexpr uint16_t volumeUp = 72;
constexpr uint16_t volumeDown = 73;
constexpr uint16_t mute = 74;
constexpr uint16_t keypadDivide = 75;
constexpr uint16_t keypadEnter = 76;
constexpr uint16_t keypadMinus = 78;
constexpr uint16_t f18 = 79;
constexpr uint16_t f19 = 80;
constexpr uint16_t keypadEquals = 81;
constexpr uint16_t keypad0 = 82;
constexpr uint16_t keypad1 = 83;
constexpr uint16_t keypad2 = 84;
constexpr uint16_t keypad3 = 85;
constexpr uint16_t keypad4 = 86;
constexpr uint16_t keypad5 = 87;
constexpr uint16_t keypad6 = 88;
constexpr uint16_t keypad7 = 89;
constexpr uint16_t f20 = 90;
constexpr uint16_t keypad8 = 91;
constexpr uint16_t keypad9 = 92;
constexpr uint16_t jisYen = 93;
constexpr uint16_t jisUnderscore = 94;
constexpr uint16_t jisKeypadComma = 95;
constexpr uint16_t f5 = 96;
constexpr uint16_t f6 = 97;
constexpr uint16_t f7 = 98;
constexpr uint16_t f3 = 99;
constexpr uint16_t f8 = 100;
constexpr uint16_t f9 = 101;
constexpr uint16_t f11 = 103;
constexpr uint16_t f13 = 105;
constexpr uint16_t f16 = 106;
constexpr uint16_t f14 = 107;
constexpr uint16_t f10 = 109;
constexpr uint16_t f12 = 111;
constexpr uint16_t f15 = 113;
/// Help, at the position of a PC keyboard's Insert key.
constexpr uint16_t help = 114;
constexpr uint16_t home = 115;
constexpr uint16_t pageUp = 116;
/// The key that erases forwards (Delete).
constexpr uint16_t forwardDelete = 117;
constexpr uint16_t f4 = 118;
constexpr uint16_t end = 119;
constexpr uint16_t f2 = 120;
constexpr uint16_t pageDown = 121;
constexpr uint16_t f1 = 122;
constexpr uint16_t leftArrow = 123;
constexpr uint16_t rightArrow = 124;
constexpr uint16_t downArrow = 125;
constexpr uint16_t upArrow = 126;

/// Keys with no code of their own above: this base plus the key's evdev code (at most 0x2FF).
constexpr uint16_t unmappedKeyCodeBase = 0x400;

} // namespace keycode

namespace functionkey {

constexpr char32_t upArrow = 0xF700;
constexpr char32_t downArrow = 0xF701;
constexpr char32_t leftArrow = 0xF702;
constexpr char32_t rightArrow = 0xF703;
/// F1; F2 to F35 follow it one by one (F35 is U+F726).
constexpr char32_t f1 = 0xF704;
constexpr char32_t insert = 0xF727;
/// Forward delete.
constexpr char32_t deleteForward = 0xF728;
constexpr char32_t home = 0xF729;
constexpr char32_t begin = 0xF72A;
constexpr char32_t end = 0xF72B;
constexpr char32_t pageUp = 0xF72C;
constexpr char32_t pageDown = 0xF72D;
constexpr char32_t printScreen = 0xF72E;
constexpr char32_t scrollLock = 0xF72F;
constexpr char32_t pause = 0xF730;
constexpr char32_t sysReq = 0xF731;
constexpr char32_t breakKey = 0xF732;
constexpr char32_t menu = 0xF735;
constexpr char32_t clearLine = 0xF739;
constexpr char32_t help = 0xF746;

/// True for the private-use characters function keys carry.
constexpr bool isFunctionKeyCharacter(char32_t c)
{
    return c >= 0xF700 && c <= 0xF8FF;
}

} // namespace functionkey

} // namespace platform
