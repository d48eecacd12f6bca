// Inputs shaped like what full-screen programs and Unicode-rich tools write, for the throughput
// benchmarks: deterministic, made from a seed, at least `inputSize` bytes.
//
// - unicodeHeavy: text heavy in combining marks (decomposed Vietnamese, stacked marks), Greek and
//   Cyrillic words (2-byte UTF-8), Devanagari with vowel signs and viramas, mathematical letters
//   (4-byte), and emoji sequences: skin tones, joiner families, flags, keycaps, presentation
//   selectors.
// - cursorRepaint: a TUI redrawing by cursor addressing, as htop, vim or a curses dashboard do:
//   whole-screen repaints row by row (position, style, text, erase to end of line) and partial
//   updates that jump to a few fields and rewrite them, between hiding and showing the cursor.
// - scrollRegion: an editor and a pager scrolling inside a region above a status line: lines
//   deleted at the top and drawn at the bottom, lines inserted at the top or in the middle,
//   line feeds at the bottom margin and reverse index at the top, each followed by drawing the
//   uncovered lines and the status line.
// - trueColorText: many distinct 24-bit colours: rainbow-coloured text with a colour per
//   character, pictures drawn with half blocks (a foreground and background colour per cell) and
//   source highlighted by a true-colour theme with a highlighted current line.
#pragma once

#include "BenchInputs.h"

#include "Kestrovan/Utf8.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace bench {

inline void appendScalars(std::string& out, std::initializer_list<char32_t> scalars)
{
    for (char32_t scalar : scalars)
        kestrovan::appendUtf8(out, scalar);
}

/// A word of `length` letters from the block at `first` with `count` letters.
inline void appendLetters(std::string& out, std::mt19937& random, char32_t first, uint32_t count, int length)
{
    for (int i = 0; i < length; ++i)
        kestrovan::appendUtf8(out, first + random() % count);
}

/// Lines of Unicode-heavy text; each token adds its width to the line's columns.
inline std::string unicodeHeavy(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 5);
    std::string out;
    out.reserve(inputSize + 512);
    // Vietnamese vowels with their tone marks written decomposed (base, then one or two marks),
    // as text from macOS file names or NFD-normalising tools arrives.
    static constexpr char32_t vowels[] = {U'a', U'e', U'i', U'o', U'u', U'y', U'A', U'E', U'O'};
    static constexpr char32_t tones[] = {0x0300, 0x0301, 0x0303, 0x0309, 0x0323};
    static constexpr char32_t shapes[] = {0x0302, 0x0306, 0x031B};
    while (out.size() < inputSize) {
        int column = 0;
        const int width = 30 + static_cast<int>(random() % 49);
        while (column < width) {
            const uint32_t pick = random() % 100;
            const int length = 2 + static_cast<int>(random() % 6);
            if (pick < 22) {
                // A decomposed Vietnamese word: consonants and vowels carrying marks.
                for (int i = 0; i < length; ++i) {
                    if (random() % 2) {
                        out += static_cast<char>("bcdghklmnpqrstvx"[random() % 16]);
                        continue;
                    }
                    kestrovan::appendUtf8(out, vowels[random() % 9]);
                    if (random() % 3 == 0)
                        kestrovan::appendUtf8(out, shapes[random() % 3]);
                    kestrovan::appendUtf8(out, tones[random() % 5]);
                }
                column += length;
            } else if (pick < 40) {
                // Greek or Cyrillic, two bytes a letter.
                if (random() % 2)
                    appendLetters(out, random, 0x03B1, 25, length);
                else
                    appendLetters(out, random, 0x0430, 32, length);
                column += length;
            } else if (pick < 50) {
                // Devanagari: consonant, vowel sign or virama and consonant (three bytes each).
                for (int i = 0; i < length; ++i) {
                    kestrovan::appendUtf8(out, 0x0915 + random() % 36);
                    const uint32_t sign = random() % 4;
                    if (sign == 0)
                        appendScalars(out, {0x094D, char32_t(0x0915 + random() % 36)});
                    else if (sign == 1)
                        kestrovan::appendUtf8(out, 0x093E + random() % 15);
                }
                column += length;
            } else if (pick < 56) {
                // Mathematical alphanumerics: four bytes, one column.
                appendLetters(out, random, 0x1D400, 52, length);
                column += length;
            } else if (pick < 62) {
                // Emoji, some with a presentation selector or a skin tone.
                kestrovan::appendUtf8(out, 0x1F300 + random() % 0x250);
                if (random() % 3 == 0)
                    kestrovan::appendUtf8(out, 0x1F3FB + random() % 5);
                column += 2;
            } else if (pick < 66) {
                // Joiner sequences: families, professions, a rainbow flag.
                switch (random() % 3) {
                case 0:
                    appendScalars(out, {0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467, 0x200D, 0x1F466});
                    break;
                case 1:
                    appendScalars(out,
                                  {char32_t(0x1F9D1), char32_t(0x1F3FB + random() % 5), 0x200D, 0x1F4BB});
                    break;
                default:
                    appendScalars(out, {0x1F3F3, 0xFE0F, 0x200D, 0x1F308});
                    break;
                }
                column += 2;
            } else if (pick < 69) {
                // A regional-indicator flag or a keycap.
                if (random() % 2)
                    appendScalars(out,
                                  {char32_t(0x1F1E6 + random() % 26), char32_t(0x1F1E6 + random() % 26)});
                else
                    appendScalars(out, {char32_t('0' + random() % 10), 0xFE0F, 0x20E3});
                column += 2;
            } else if (pick < 72) {
                // A letter under a stack of marks.
                out += static_cast<char>('a' + random() % 26);
                for (int marks = 3 + static_cast<int>(random() % 6); marks > 0; --marks)
                    kestrovan::appendUtf8(out, 0x0300 + random() % 0x70);
                column += 1;
            } else if (pick < 76) {
                // Latin-1 accented letters, precomposed.
                appendLetters(out, random, 0x00E0, 31, length);
                column += length;
            } else {
                const std::string word = randomWord(random);
                out += word;
                column += static_cast<int>(word.size());
            }
            out += ' ';
            column += 1;
        }
        out += lineEnd;
    }
    return out;
}

/// A row of a process list or dashboard: fields padded to fixed columns.
inline std::string dashboardRow(std::mt19937& random)
{
    std::string row = std::to_string(1000 + random() % 90000);
    row.resize(8, ' ');
    row += randomWord(random);
    row.resize(18, ' ');
    row += std::to_string(random() % 100) + "." + std::to_string(random() % 10);
    row.resize(26, ' ');
    row += std::to_string(random() % 4000) + "M";
    row.resize(34, ' ');
    while (row.size() < 70)
        row += randomWord(random) + ' ';
    row.resize(70 + random() % 10, ' ');
    return row;
}

inline void appendPosition(std::string& out, int row, int column)
{
    out += "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

/// Frames of an 80x24 TUI drawn by cursor addressing.
inline std::string cursorRepaint(size_t inputSize, uint32_t seed)
{
    std::mt19937 random(seed + 6);
    std::string out;
    out.reserve(inputSize + 8192);
    static constexpr const char* rowStyles[] = {"\x1b[m",   "\x1b[32m", "\x1b[1;34m", "\x1b[m",
                                                "\x1b[33m", "\x1b[36m", "\x1b[m",     "\x1b[31m"};
    while (out.size() < inputSize) {
        out += "\x1b[?25l";
        if (random() % 3 == 0) {
            // A whole repaint: the header with box drawing, then every row, then the status line.
            out += "\x1b[H\x1b[1;37;44m";
            out += "\u250C\u2500 " + randomWord(random) + " ";
            for (int i = 0; i < 30; ++i)
                out += "\u2500";
            out += "\u2510\x1b[K\x1b[m";
            for (int row = 2; row <= 23; ++row) {
                appendPosition(out, row, 1);
                out += rowStyles[random() % 8];
                out += dashboardRow(random);
                out += "\x1b[m\x1b[K";
            }
            appendPosition(out, 24, 1);
            out += "\x1b[7m " + randomWord(random) + " " + std::to_string(random() % 1000) + "%\x1b[K\x1b[m";
        } else {
            // A partial update: a curses library jumps to the fields that changed.
            for (int fields = 8 + static_cast<int>(random() % 24); fields > 0; --fields) {
                appendPosition(out, 2 + static_cast<int>(random() % 22), 1 + static_cast<int>(random() % 70));
                if (random() % 2)
                    out += rowStyles[random() % 8];
                out += std::to_string(random() % 10000);
                if (random() % 4 == 0)
                    out += "\x1b[m";
            }
        }
        appendPosition(out, 24, 1 + static_cast<int>(random() % 80));
        out += "\x1b[?25h";
    }
    return out;
}

/// An editor and a pager scrolling inside regions of an 80x24 screen.
inline std::string scrollRegion(size_t inputSize, uint32_t seed)
{
    std::mt19937 random(seed + 7);
    std::string out;
    out.reserve(inputSize + 8192);
    auto line = [&random] {
        // A source line: indented words, some in a syntax colour.
        std::string text(4 * (random() % 4), ' ');
        const size_t width = 20 + random() % 58;
        while (text.size() < width) {
            if (random() % 4 == 0)
                text += "\x1b[3" + std::to_string(1 + random() % 6) + "m" + randomWord(random) + "\x1b[m ";
            else
                text += randomWord(random) + ' ';
        }
        return text;
    };
    auto status = [&] {
        appendPosition(out, 24, 1);
        out += "\x1b[7m" + randomWord(random) + " line " + std::to_string(random() % 9999) + "\x1b[K\x1b[m";
    };
    while (out.size() < inputSize) {
        // The region: the screen above the status line, or one pane of a split.
        const bool split = random() % 4 == 0;
        const int top = split ? 1 + static_cast<int>(random() % 2) * 12 : 1;
        const int bottom = split ? top + 10 : 23;
        out += "\x1b[" + std::to_string(top) + ";" + std::to_string(bottom) + "r";
        for (int steps = 4 + static_cast<int>(random() % 12); steps > 0; --steps) {
            const int count = 1 + static_cast<int>(random() % 3) * (random() % 2);
            switch (random() % 5) {
            case 0:
                // Scroll forward: delete lines at the top, draw them at the bottom.
                appendPosition(out, top, 1);
                out += "\x1b[" + std::to_string(count) + "M";
                for (int i = 0; i < count; ++i) {
                    appendPosition(out, bottom - count + 1 + i, 1);
                    out += line() + "\x1b[K";
                }
                break;
            case 1:
                // Scroll back: insert lines at the top and draw them.
                appendPosition(out, top, 1);
                out += "\x1b[" + std::to_string(count) + "L";
                for (int i = 0; i < count; ++i) {
                    appendPosition(out, top + i, 1);
                    out += line() + "\x1b[K";
                }
                break;
            case 2: {
                // Open or delete lines in the middle, as "o" or "dd" do.
                const int row =
                    top + 1 + static_cast<int>(random() % static_cast<unsigned>(bottom - top - 1));
                appendPosition(out, row, 1);
                if (random() % 2) {
                    out += "\x1b[L" + line();
                } else {
                    out += "\x1b[M";
                    appendPosition(out, bottom, 1);
                    out += line() + "\x1b[K";
                }
                break;
            }
            case 3:
                // A pager's forward scroll: line feeds at the bottom margin.
                appendPosition(out, bottom, 1);
                for (int i = 0; i < 1 + count * 2; ++i)
                    out += "\r\n" + line() + "\x1b[K";
                break;
            default:
                // A pager's backward scroll: reverse index at the top margin.
                for (int i = 0; i < count; ++i) {
                    appendPosition(out, top, 1);
                    out += "\x1bM" + line() + "\x1b[K";
                }
                break;
            }
            status();
        }
        out += "\x1b[r";
    }
    return out;
}

/// A rainbow-coloured line: each character in its own colour along a sine gradient, as lolcat
/// writes it.
inline void appendRainbowLine(std::string& out, std::mt19937& random, int lineNumber, double spread)
{
    const std::string words = randomWord(random) + " " + randomWord(random) + " " + randomWord(random) + " " +
                              randomWord(random) + " " + randomWord(random) + " " + randomWord(random);
    for (size_t i = 0; i < words.size(); ++i) {
        const double phase = 0.1 * (lineNumber + static_cast<double>(i) / spread);
        const int red = static_cast<int>(std::sin(phase) * 127 + 128);
        const int green = static_cast<int>(std::sin(phase + 2.0944) * 127 + 128);
        const int blue = static_cast<int>(std::sin(phase + 4.1888) * 127 + 128);
        out += "\x1b[38;2;" + std::to_string(red) + ";" + std::to_string(green) + ";" + std::to_string(blue) +
               "m";
        out += words[i];
    }
    out += "\x1b[0m";
}

/// One row of a half-block picture: two pixel rows per text row, the upper pixel the foreground
/// of U+2580 and the lower the background; a smooth picture whose colours drift per frame.
inline void appendPictureRow(std::string& out, int frame, int row)
{
    auto channel = [frame](int x, int y, int shift) {
        const double value = std::sin(0.05 * x + 0.09 * y + 0.3 * frame + shift) * 0.5 + 0.5;
        return static_cast<int>(value * 255);
    };
    for (int x = 0; x < 80; ++x) {
        const int upper = 2 * row;
        const int lower = upper + 1;
        out += "\x1b[38;2;" + std::to_string(channel(x, upper, 0)) + ";" +
               std::to_string(channel(x, upper, 2)) + ";" + std::to_string(channel(x, upper, 4)) + ";48;2;" +
               std::to_string(channel(x, lower, 0)) + ";" + std::to_string(channel(x, lower, 2)) + ";" +
               std::to_string(channel(x, lower, 4)) + "m\u2580";
    }
    out += "\x1b[0m";
}

/// Rainbow text, half-block pictures and true-colour highlighted source, in runs of lines.
inline std::string trueColorText(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 8);
    std::string out;
    out.reserve(inputSize + 8192);
    int lineNumber = 0;
    int frame = 0;
    while (out.size() < inputSize) {
        switch (random() % 3) {
        case 0: {
            const double spread = 3.0 + random() % 8;
            for (int lines = 8 + static_cast<int>(random() % 16); lines > 0; --lines) {
                appendRainbowLine(out, random, lineNumber++, spread);
                out += lineEnd;
            }
            break;
        }
        case 1:
            for (int row = 0; row < 12; ++row) {
                appendPictureRow(out, frame, row);
                out += lineEnd;
            }
            ++frame;
            break;
        default:
            // A true-colour theme, with the current line on its own background.
            for (int lines = 8 + static_cast<int>(random() % 16); lines > 0; --lines) {
                const bool current = random() % 10 == 0;
                if (current)
                    out += "\x1b[48;2;40;42;54m";
                appendHighlightedLine(out, random);
                out += current ? "\x1b[K\x1b[0m" : "\x1b[0m";
                out += lineEnd;
            }
            break;
        }
    }
    return out;
}

} // namespace bench
