// The inputs the throughput benchmarks feed: deterministic text made from a seed, at least
// `inputSize` bytes of whole lines, each line ending in `lineEnd` ("\r\n" as a program's output
// reaches a terminal, "\n" for a file that a pseudo-terminal's line discipline will translate).
//
// - asciiLines: plain lines of words, like a build log without colour.
// - sgrColoured: coloured output as real programs write it: syntax-highlighted source (16
//   colours, a few 256-colour indexes and a theme of 16 true colours, keywords bold or italic),
//   `ls --color` listings, `git log`/`git diff` output and compiler diagnostics. Nearly every word
//   changes the style, while the set of distinct styles stays small, as it does in practice.
// - sgrRandomTrueColour: the style table's worst case: one word in five gets a random 24-bit
//   colour (16.7 million possible styles), so the 65,536 attribute ids run out early.
// - cjkEmoji: CJK, kana, Hangul and emoji text with Latin words between them.
#pragma once

#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace bench {

inline std::string randomWord(std::mt19937& random)
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:=";
    std::string word;
    const int length = 1 + static_cast<int>(random() % 10);
    for (int i = 0; i < length; ++i)
        word.push_back(letters[random() % (sizeof(letters) - 1)]);
    return word;
}

/// Lines of 10-79 columns of words and spaces, like a build log or a directory listing.
inline std::string asciiLines(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string out;
    out.reserve(inputSize + 128);
    while (out.size() < inputSize) {
        const size_t width = 10 + random() % 70;
        std::string line;
        while (line.size() < width)
            line += randomWord(random) + ' ';
        line.resize(width);
        out += line;
        out += lineEnd;
    }
    return out;
}

/// Lines where nearly every word has its own style: 16-colour, 256-colour and random true-colour
/// foregrounds and backgrounds, bold, underline and inverse, each word reset after it.
inline std::string sgrRandomTrueColour(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 1);
    std::string out;
    out.reserve(inputSize + 256);
    while (out.size() < inputSize) {
        int column = 0;
        const int width = 20 + static_cast<int>(random() % 60);
        while (column < width) {
            switch (random() % 5) {
            case 0:
                out += "\x1b[" + std::to_string(30 + random() % 8) + "m";
                break;
            case 1:
                out += "\x1b[1;" + std::to_string(90 + random() % 8) + ";" +
                       std::to_string(40 + random() % 8) + "m";
                break;
            case 2:
                out += "\x1b[38;5;" + std::to_string(random() % 256) + "m";
                break;
            case 3:
                out += "\x1b[38;2;" + std::to_string(random() % 256) + ";" + std::to_string(random() % 256) +
                       ";" + std::to_string(random() % 256) + "m";
                break;
            default:
                out += random() % 2 ? "\x1b[4m" : "\x1b[7m";
                break;
            }
            const std::string word = randomWord(random);
            out += word;
            out += "\x1b[0m ";
            column += static_cast<int>(word.size()) + 1;
        }
        out += lineEnd;
    }
    return out;
}

/// One line of syntax-highlighted source: every token in its theme colour, from the 16 colours,
/// a few 256-colour indexes or the theme's true colours; keywords bold or italic; comments dim.
inline void appendHighlightedLine(std::string& out, std::mt19937& random)
{
    // A theme's own colours, as an editor or a pager with a true-colour theme writes them.
    static constexpr const char* theme[] = {
        "38;2;248;248;242", "38;2;249;38;114",  "38;2;166;226;46",  "38;2;253;151;31",
        "38;2;174;129;255", "38;2;230;219;116", "38;2;102;217;239", "38;2;117;113;94",
        "38;2;204;204;204", "38;2;255;121;198", "38;2;80;250;123",  "38;2;139;233;253",
        "38;2;241;250;140", "38;2;189;147;249", "38;2;255;184;108", "38;2;98;114;164"};
    static constexpr const char* indexed[] = {"38;5;81",  "38;5;148", "38;5;186", "38;5;208",
                                              "38;5;197", "38;5;141", "38;5;59",  "38;5;231"};
    const int indent = 4 * static_cast<int>(random() % 4);
    out.append(static_cast<size_t>(indent), ' ');
    int column = indent;
    const int width = 20 + static_cast<int>(random() % 56);
    const uint32_t palette = random() % 3;
    while (column < width) {
        const uint32_t pick = random() % 8;
        out += "\x1b[";
        if (pick == 0)
            out += random() % 2 ? "1;" : "3;";
        if (palette == 0)
            out += std::to_string(30 + random() % 8);
        else if (palette == 1)
            out += indexed[random() % 8];
        else
            out += theme[random() % 16];
        out += 'm';
        const std::string word = randomWord(random);
        out += word;
        // Punctuation between tokens goes back to the default colour.
        out += random() % 2 ? "\x1b[39m" : "\x1b[0m";
        out += random() % 3 ? " " : "(";
        column += static_cast<int>(word.size()) + 1;
    }
}

/// One `ls --color` row of four names: directories bold blue, executables bold green, links
/// cyan, archives red, plain files uncoloured.
inline void appendListingLine(std::string& out, std::mt19937& random)
{
    static constexpr const char* kinds[] = {"01;34", "01;32", "01;36", "01;31", "00"};
    for (int name = 0; name < 4; ++name) {
        const char* kind = kinds[random() % 5];
        std::string word = randomWord(random);
        word.resize(std::min<size_t>(word.size(), 16));
        out += "\x1b[0m\x1b[";
        out += kind;
        out += 'm';
        out += word;
        out += "\x1b[0m";
        out.append(18 - word.size(), ' ');
    }
}

/// Output whose names link to their files, as `ls --hyperlink --color` rows of four names and
/// `rg --hyperlink-format` matches (a linked path, a line number, the matched line) write it, in
/// runs of a few lines of each. Nearly every link names a file of its own: the directory changes
/// every few dozen names and the names are random, so the terminal registers a new link for each.
inline std::string hyperlinkedListing(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 9);
    std::string out;
    out.reserve(inputSize + 512);
    std::string directory = "/home/user";
    const auto linked = [&](const std::string& target, const std::string& text) {
        out += "\x1b]8;;file://host" + target + "\x1b\\" + text + "\x1b]8;;\x1b\\";
    };
    while (out.size() < inputSize) {
        if (random() % 40 == 0)
            directory = "/home/user/" + randomWord(random) + "/" + randomWord(random);
        const int lines = 1 + static_cast<int>(random() % 6);
        const bool listing = random() % 2;
        for (int line = 0; line < lines; ++line) {
            if (listing) {
                static constexpr const char* kinds[] = {"01;34", "01;32", "01;36", "00"};
                for (int name = 0; name < 4; ++name) {
                    std::string word = randomWord(random) + randomWord(random);
                    word.resize(std::min<size_t>(word.size(), 16));
                    out += "\x1b[";
                    out += kinds[random() % 4];
                    out += 'm';
                    linked(directory + "/" + word, word);
                    out += "\x1b[0m";
                    out.append(18 - word.size(), ' ');
                }
            } else {
                const std::string path = randomWord(random) + "/" + randomWord(random) + ".cpp";
                out += "\x1b[35m";
                linked(directory + "/" + path, path);
                out += "\x1b[0m:\x1b[32m" + std::to_string(1 + random() % 4000) + "\x1b[0m:";
                std::string match;
                const size_t width = 10 + random() % 40;
                while (match.size() < width)
                    match += randomWord(random) + ' ';
                out += match;
            }
            out += lineEnd;
        }
    }
    return out;
}

/// One line of `git log --oneline --decorate` or `git diff`: a yellow hash and decorated refs,
/// or a coloured hunk header, addition or removal, with trailing whitespace shown inverse.
inline void appendGitLine(std::string& out, std::mt19937& random)
{
    switch (random() % 4) {
    case 0:
        out += "\x1b[33m" + randomWord(random) + randomWord(random) +
               "\x1b[m \x1b[33m(\x1b[m\x1b[1;36mHEAD -> "
               "\x1b[m\x1b[1;32m" +
               randomWord(random) + "\x1b[m\x1b[33m, \x1b[m\x1b[1;31morigin/" + randomWord(random) +
               "\x1b[m\x1b[33m)\x1b[m ";
        break;
    case 1:
        out += "\x1b[36m@@ -" + std::to_string(random() % 900) + ",7 +" + std::to_string(random() % 900) +
               ",8 @@\x1b[m \x1b[1m" + randomWord(random) + "\x1b[m";
        break;
    default:
        out += random() % 2 ? "\x1b[32m+" : "\x1b[31m-";
        break;
    }
    for (int word = static_cast<int>(random() % 8); word > 0; --word)
        out += randomWord(random) + ' ';
    out += "\x1b[m";
    if (random() % 8 == 0)
        out += "\x1b[7m  \x1b[m";
}

/// One compiler diagnostic: a bold location, a bold red error or bold magenta warning, a bold
/// message with quoted names, or a source line with a green caret and underlined range.
inline void appendDiagnosticLine(std::string& out, std::mt19937& random)
{
    switch (random() % 3) {
    case 0:
        out += "\x1b[1m" + randomWord(random) + ".cpp:" + std::to_string(random() % 2000) + ":" +
               std::to_string(random() % 80) + ":\x1b[0m ";
        out += random() % 2 ? "\x1b[1;31merror:\x1b[0m " : "\x1b[1;35mwarning:\x1b[0m ";
        out += "\x1b[1m" + randomWord(random) + " \x1b[0m\x1b[1m'" + randomWord(random) + "'\x1b[0m\x1b[1m " +
               randomWord(random) + "\x1b[0m";
        break;
    case 1:
        out += "  " + randomWord(random) + " \x1b[4m" + randomWord(random) + "\x1b[24m " + randomWord(random);
        break;
    default:
        out += "      \x1b[1;32m^~~~~~\x1b[0m \x1b[32m" + randomWord(random) + "\x1b[0m";
        break;
    }
}

/// Coloured output as programs write it: highlighted source, listings, git and diagnostics, in
/// runs of a few lines of each.
inline std::string sgrColoured(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 3);
    std::string out;
    out.reserve(inputSize + 512);
    while (out.size() < inputSize) {
        const uint32_t kind = random() % 4;
        for (int lines = 1 + static_cast<int>(random() % 6); lines > 0; --lines) {
            switch (kind) {
            case 0:
                appendHighlightedLine(out, random);
                break;
            case 1:
                appendListingLine(out, random);
                break;
            case 2:
                appendGitLine(out, random);
                break;
            default:
                appendDiagnosticLine(out, random);
                break;
            }
            out += lineEnd;
        }
    }
    return out;
}

/// Lines of CJK ideographs, kana, Hangul syllables and emoji (some with a presentation selector,
/// a skin tone or a joiner, some flags), with Latin words between them.
inline std::string cjkEmoji(size_t inputSize, std::string_view lineEnd, uint32_t seed)
{
    std::mt19937 random(seed + 2);
    std::string out;
    out.reserve(inputSize + 256);
    while (out.size() < inputSize) {
        int column = 0;
        const int width = 20 + static_cast<int>(random() % 56);
        while (column < width) {
            const uint32_t pick = random() % 100;
            if (pick < 45) {
                kestrovan::appendUtf8(out, 0x4E00 + random() % 0x5200);
                column += 2;
            } else if (pick < 60) {
                kestrovan::appendUtf8(out, 0x3041 + random() % 0x56);
                column += 2;
            } else if (pick < 70) {
                kestrovan::appendUtf8(out, 0xAC00 + random() % 11172);
                column += 2;
            } else if (pick < 78) {
                kestrovan::appendUtf8(out, 0x1F600 + random() % 0x50);
                column += 2;
            } else if (pick < 81) {
                kestrovan::appendUtf8(out, 0x1F44B);
                kestrovan::appendUtf8(out, 0x1F3FB + random() % 5);
                column += 2;
            } else if (pick < 83) {
                kestrovan::appendUtf8(out, 0x2764);
                kestrovan::appendUtf8(out, 0xFE0F);
                column += 2;
            } else if (pick < 85) {
                for (char32_t scalar : {0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467})
                    kestrovan::appendUtf8(out, scalar);
                column += 2;
            } else if (pick < 87) {
                kestrovan::appendUtf8(out, 0x1F1E6 + random() % 26);
                kestrovan::appendUtf8(out, 0x1F1E6 + random() % 26);
                column += 2;
            } else {
                const std::string word = randomWord(random);
                out += ' ' + word + ' ';
                column += static_cast<int>(word.size()) + 2;
            }
        }
        out += lineEnd;
    }
    return out;
}

} // namespace bench
