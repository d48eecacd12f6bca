// Inputs made of short runs of text between control sequences, for the throughput benchmarks:
// deterministic, made from a seed, at least `inputSize` bytes. The positions, words, colours and
// region bounds are drawn afresh for every sequence, so no stretch of the input repeats.
//
// - colouredWords: lines of four to ten short words, each with its own SGR in one of the forms
//   compilers, `ls --color`, `git diff` and log viewers write: `30`-`37` with bold or underline
//   switched on or off, `38;5;n`, `38;2;r;g;b`, `48;5;n` (that word's background, reset after it),
//   and `CSI 0 m` at every line end. True colours come from a theme of 8 to 31 random colours
//   that changes every 1 to 40 lines, as the output of one program after another would; the
//   pathological case of a new colour per word is SgrRandomTrueColour's.
// - cursorUpdates: a status line's, `top`'s or an editor's scattered updates: `CSI row;col H`, a
//   short word, `CSI K`, over and over at positions all over an 80x24 screen.
// - scrollRegions: a pager or an editor scrolling part of the screen: `CSI t;b r`, a position inside
//   the region, a few words, two line feeds, `CSI r`.
// - mixedScript: lines mixing CJK, emoji sequences, combining marks, Devanagari, Hebrew, Arabic
//   and ASCII words.
#pragma once

#include "BenchInputs.h"

#include "Kestrovan/Utf8.h"

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

/// A short word of lower-case letters and digits, as most words on a terminal are.
inline void appendShortWord(std::string& out, std::mt19937& random)
{
    static constexpr char letters[] = "etaoinshrdlucmfwypvbgkqjxz0123456789_";
    for (int length = 2 + static_cast<int>(random() % 8); length > 0; --length)
        out += letters[random() % (sizeof(letters) - 1)];
}

/// `value` in decimal, as a program formats a parameter.
inline void appendNumber(std::string& out, uint32_t value)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        out += digits[--count];
}

/// Lines of short words, each with its own SGR.
inline std::string colouredWords(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 11);
    std::string out;
    out.reserve(inputSize + 512);
    std::vector<uint32_t> theme;
    int themeLines = 0;
    while (out.size() < inputSize) {
        // True colours come from the running program's theme; the next program brings its own.
        if (themeLines-- == 0) {
            theme.resize(8 + random() % 24);
            for (uint32_t& colour : theme)
                colour = random() & 0xFFFFFF;
            themeLines = 1 + static_cast<int>(random() % 40);
        }
        for (int words = 4 + static_cast<int>(random() % 7); words > 0; --words) {
            out += "\x1b[";
            bool background = false;
            switch (random() % 8) {
            case 0:
            case 1:
                // A plain 16-colour foreground.
                appendNumber(out, 30 + random() % 8);
                break;
            case 2: {
                // Bold or underline switched on or off with the colour, as `ls` and compilers do.
                static constexpr const char* emphasis[] = {"1;", "22;", "4;", "24;"};
                out += emphasis[random() % 4];
                appendNumber(out, 30 + random() % 8);
                break;
            }
            case 3:
            case 4:
                out += "38;5;";
                appendNumber(out, random() % 256);
                break;
            case 5:
            case 6: {
                const uint32_t colour = theme[random() % theme.size()];
                out += "38;2;";
                appendNumber(out, colour >> 16);
                out += ';';
                appendNumber(out, (colour >> 8) & 0xFF);
                out += ';';
                appendNumber(out, colour & 0xFF);
                break;
            }
            default:
                out += "48;5;";
                appendNumber(out, random() % 256);
                background = true;
                break;
            }
            out += 'm';
            appendShortWord(out, random);
            if (background)
                out += "\x1b[49m";
            out += ' ';
        }
        out += "\x1b[0m";
        out += lineEnd;
    }
    return out;
}

/// Scattered `CSI row;col H`, word, `CSI K` updates on an 80x24 screen.
inline std::string cursorUpdates(size_t inputSize, uint32_t seed)
{
    std::mt19937 random(seed + 12);
    std::string out;
    out.reserve(inputSize + 512);
    while (out.size() < inputSize) {
        out += "\x1b[";
        appendNumber(out, 1 + random() % 24);
        out += ';';
        appendNumber(out, 1 + random() % 72);
        out += 'H';
        appendShortWord(out, random);
        if (random() % 4 == 0) {
            out += ' ';
            appendNumber(out, random() % 100000);
        }
        out += "\x1b[K";
    }
    return out;
}

/// Scroll regions set, written in, scrolled by two line feeds and reset, on an 80x24 screen.
inline std::string scrollRegions(size_t inputSize, uint32_t seed)
{
    std::mt19937 random(seed + 13);
    std::string out;
    out.reserve(inputSize + 512);
    while (out.size() < inputSize) {
        const uint32_t top = 1 + random() % 20;
        const uint32_t bottom = top + 2 + random() % (23 - top);
        out += "\x1b[";
        appendNumber(out, top);
        out += ';';
        appendNumber(out, bottom);
        out += "r\x1b[";
        appendNumber(out, top + random() % (bottom - top + 1));
        out += ';';
        appendNumber(out, 1 + random() % 40);
        out += 'H';
        for (int words = 1 + static_cast<int>(random() % 5); words > 0; --words) {
            appendShortWord(out, random);
            out += ' ';
        }
        out += "\n\n\x1b[r";
    }
    return out;
}

/// Lines mixing CJK, emoji sequences, combining marks, Devanagari, Hebrew, Arabic and ASCII words.
inline std::string mixedScript(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 14);
    std::string out;
    out.reserve(inputSize + 512);
    auto letters = [&](char32_t first, uint32_t count, int length) {
        for (int i = 0; i < length; ++i)
            kestrovan::appendUtf8(out, first + random() % count);
    };
    // Letters from one block, one in four carrying a mark from another.
    auto markedLetters = [&](char32_t first, uint32_t count, char32_t firstMark, uint32_t marks, int length) {
        for (int i = 0; i < length; ++i) {
            kestrovan::appendUtf8(out, first + random() % count);
            if (random() % 4 == 0)
                kestrovan::appendUtf8(out, firstMark + random() % marks);
        }
    };
    while (out.size() < inputSize) {
        int column = 0;
        const int width = 20 + static_cast<int>(random() % 56);
        while (column < width) {
            const int length = 2 + static_cast<int>(random() % 5);
            switch (random() % 8) {
            case 0:
                // CJK ideographs and kana, two columns each.
                letters(random() % 3 ? 0x4E00 : 0x30A1, random() % 3 ? 0x5200 : 0x55, length);
                column += 2 * length;
                break;
            case 1:
                // Emoji: single, with a skin tone, a joiner sequence or a flag.
                switch (random() % 4) {
                case 0:
                    kestrovan::appendUtf8(out, 0x1F600 + random() % 0x50);
                    break;
                case 1:
                    kestrovan::appendUtf8(out, 0x1F466 + random() % 4);
                    kestrovan::appendUtf8(out, 0x1F3FB + random() % 5);
                    break;
                case 2:
                    for (char32_t scalar :
                         {char32_t(0x1F468 + random() % 2), char32_t(0x200D), char32_t(0x1F4BB)})
                        kestrovan::appendUtf8(out, scalar);
                    break;
                default:
                    kestrovan::appendUtf8(out, 0x1F1E6 + random() % 26);
                    kestrovan::appendUtf8(out, 0x1F1E6 + random() % 26);
                    break;
                }
                column += 2;
                break;
            case 2:
                // Latin letters carrying combining marks.
                for (int i = 0; i < length; ++i) {
                    out += static_cast<char>('a' + random() % 26);
                    if (random() % 2)
                        kestrovan::appendUtf8(out, 0x0300 + random() % 0x30);
                }
                column += length;
                break;
            case 3:
                // Devanagari consonants with vowel signs and conjuncts.
                for (int i = 0; i < length; ++i) {
                    kestrovan::appendUtf8(out, 0x0915 + random() % 36);
                    if (random() % 3 == 0) {
                        kestrovan::appendUtf8(out, 0x094D);
                        kestrovan::appendUtf8(out, 0x0915 + random() % 36);
                    } else if (random() % 2) {
                        kestrovan::appendUtf8(out, 0x093E + random() % 15);
                    }
                }
                column += length;
                break;
            case 4:
                // Hebrew letters, some pointed.
                markedLetters(0x05D0, 27, 0x05B0, 12, length);
                column += length;
                break;
            case 5:
                // Arabic letters, some with harakat.
                markedLetters(0x0628, 19, 0x064E, 5, length);
                column += length;
                break;
            default: {
                const std::string word = randomWord(random);
                out += word;
                column += static_cast<int>(word.size());
                break;
            }
            }
            out += ' ';
            column += 1;
        }
        out += lineEnd;
    }
    return out;
}

} // namespace bench
