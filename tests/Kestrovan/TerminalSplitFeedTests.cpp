// Feeding the same bytes cut into chunks anywhere must leave the same terminal as feeding them
// whole: a program's output reaches the terminal in reads of whatever size the pseudo-terminal
// gives, so any byte boundary may fall inside a character, a cluster or a sequence.
//
// Each corpus entry is a short, realistic piece of program output. A reference terminal is fed it
// in one chunk; others are fed it split in two at every byte boundary, one byte at a time, and in
// 50 seeded random chunkings. Their dumps (tests/Kestrovan/TerminalStateDump.h: both buffers cell
// by cell, every mode, colour and title, every delegate call and reply in order) must be equal.
#include "tests/Kestrovan/TerminalStateDump.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kestrovan;
using namespace kestrovan::testing;

namespace {

#define ESC "\x1b"
#define CSI "\x1b["
#define OSC "\x1b]"
#define DCS "\x1bP"
#define ST "\x1b\\"

struct CorpusEntry
{
    std::string name;
    std::string bytes;
    int cols = 30;
    int rows = 8;
    int scrollback = 20;
    std::function<void(TerminalOptions&)> adjust;
};

std::string repeated(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::vector<CorpusEntry> corpus()
{
    std::vector<CorpusEntry> entries;
    const auto add = [&](std::string name, std::string bytes) {
        CorpusEntry entry;
        entry.name = std::move(name);
        entry.bytes = std::move(bytes);
        entries.push_back(std::move(entry));
    };
    const auto addWithOptions = [&](std::string name, std::string bytes,
                                    std::function<void(TerminalOptions&)> adjust) {
        CorpusEntry entry;
        entry.name = std::move(name);
        entry.bytes = std::move(bytes);
        entry.adjust = std::move(adjust);
        entries.push_back(std::move(entry));
    };

    add("coloured ls",
        CSI "0m" CSI "01;34mbin" CSI "0m  " CSI "01;32mbuild.sh" CSI "0m  " CSI "01;34mdocs" CSI
            "0m  README.md\r\n" CSI "01;36mlink" CSI "0m -> " CSI "01;34mtarget" CSI "0m  " CSI
            "40;31;01mbroken" CSI "0m  " CSI "37;41msetuid" CSI "0m  " CSI "30;42msticky-other-writable" CSI
            "0m  a-file-name-long-enough-to-wrap.txt\r\n"
            "total 48\r\ndrwxr-xr-x 2 user user 4096 " CSI "01;34m.\r\n" CSI "0m"
            "-rw-r--r-- 1 user user  12 x\r\n"
            "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n$ ");

    add("full-screen editor redraw", CSI
        "?1049h" CSI "22;0;0t" CSI "?1h" ESC "=" CSI "H" CSI "2J" CSI "?25l" CSI "1;7r" CSI "1;1H"
        "#include <stdio.h>\r\n" CSI "38;5;130mint" CSI "m main(void)\r\n{\r\n    " CSI "1mreturn" CSI
        "22m 0;\r\n}" CSI "7;1H\n\n" CSI "7;1Hnew last line" CSI "1;1H" ESC "M"
        "top again" CSI "3;1H" CSI "2L" CSI "5;1H" CSI "1M" CSI "r" CSI "8;1H" CSI "7m\"main.c\" 5L, 60B" CSI
        "27m" CSI "K" CSI "4;5H" CSI "?12l" CSI "?25h" CSI "?1049l" CSI "23;0;0t" CSI "?1l" ESC ">"
        "after\r\n");

    add("status lines", CSI "1;7r" CSI "8;1H" CSI "42m" CSI "30m[0] 0:bash* 1:vim-" CSI "K" CSI "39;49m" CSI
                            "1;1H" ESC "7" CSI "8;24H" CSI "44m12:34" CSI "K" CSI "m" ESC "8"
                            "prompt$ ls\r\n"
                            "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix\r\nseven\r\n"
                            "eight" CSI "3X" CSI "1K" CSI "0K" CSI "2K"
                            "nine" CSI "5G" CSI "2P" CSI "3@"
                            "+");

    // clang-format off: it does not settle on lines holding emoji sequences
    // The formatter does not settle on lines holding emoji sequences.
    // clang-format off
    add("wide and emoji", "漢字テスト、混合text中文字符串が右端で折り返す\r\n"
                          "👨‍👩‍👧‍👦 family ❤️ heart ❤ plain 🇯🇵🇺🇸 flags 🇩 lone 👋🏽 "
                          "wave "
                          "1️⃣ "
                          "keycap\r\n"
                          "☺︎ text ☺️ emoji A️ letter 🏳️‍🌈 rainbow 👩🏿‍💻 coder "
                          "🧑‍🤝‍🧑 pair\r\n" CSI "1;29H中" CSI "2;30H字" CSI "3;29H❤️" CSI
                          "4;30H❤️" CSI "?7l" CSI "5;30H漢" CSI "5;29H👋🏽" CSI "?7h" CSI "6;1H"
                          "x👍🏼y" ESC "[6;2H"
                          "z");
    // clang-format on
    // clang-format on

    addWithOptions("regional indicators narrow", "🇩🇪🇫🇷 🇦 🇧🇨 x🇿\r\n🇺🇸🇺", [](TerminalOptions& options) {
        options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
    });

    // Scripts right after one another, as the print batch's loops hand over to each other, with
    // emoji sequences and flags among them.
    add("scripts one after another",
        "\u4E2D\u05D0\u05B8\u0915\u094D\u0937\u093Fab\U0001F600\u0628\u064E\U0001D400\u6587 "
        "\U0001F466\U0001F3FD\U0001F468\u200D\U0001F4BBx\U0001F1EF\U0001F1F5\U0001F1E6\u0915\u00E9\r\n"
        "\U0001F1E6\U0001F1E8\U0001F1E9\u1100\uAC00\u0D4Ea\U00017000\U0001F600\U0001F3FB\U0001F468\u200D"
        "\u2764"
        "\U0001F600\u0301\u05D1 \u30A2\u250C\u2500\u2500x\u2510\u2764\uFE0F\u201C\u0915\u2026");
    // Runs longer than a batch of 256 cells, whose last cell is a lone space, a letter before a
    // mark, a syllable's letter before its vowel sign, an emoji before its skin tone, a flag: what
    // follows goes in the next batch, or joins the cell on the screen.
    const std::string ideographs = repeated("\u4E2D", 255);
    add("runs past a batch", ideographs + " \u05D0\u05D1\r\n" + ideographs + "\u00E9\u0301x\r\n" +
                                 ideographs + "\u0915\u093F\u0916\r\n" + ideographs +
                                 "\U0001F466\U0001F3FD\u4E2D\r\n" + ideographs +
                                 "\U0001F1EF\U0001F1F5\U0001F1E6\r\n" + repeated("\u05D0", 255) + "a\u0301");
    addWithOptions(
        "scripts one after another, regional indicators narrow",
        "\u05D0\U0001F1EF\U0001F1F5\u4E2D\U0001F1E6\U0001F1E8\U0001F1E9a\U0001F1E6 \U0001F600",
        [](TerminalOptions& options) { options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow; });

    add("Indic conjuncts and Hangul",
        "क्षत्रिय हिन्दी का कि क्‍ष\r\nதமிழ் ক্ষ "
        "ಕನ್ನಡ "
        "ශ්‍රී\r\n"
        "\xe1\x84\x80\xe1\x85\xa1\xe1\x86\xa8 한국어 \xe1\x84\x8e\xe1\x85\xb3\r\n" CSI "3;29Hका" CSI
        "4;30Hका");

    add("combining marks",
        "e\xcc\x81 a\xcc\x88\xcc\xa3 Z\xcd\x91\xcd\x8b\xcd\x83\xcc\xb3\xcc\xbb\xcd\x87 n\xcc\x83\r\n"
        "\xcc\x81 lead mark\r\n" CSI "3;30He\xcc\x81x\xcc\x80" CSI "4;5H" CSI "4h"
        "o\xcc\x88" CSI "4l"
        "q" CSI "5;1H"
        "\xe2\x80\x8d\xef\xb8\x8f"
        "start" CSI "6;1H"
        "x\xe2\x80\x8dy");

    // Runs of marks gathered into one cell: past the cap of 32 scalars, around the length at
    // which a cluster grows in place, after wide, 4-byte and Cyrillic bases, at the right edge with
    // and without auto-wrap, under margins and in insert mode, and after a control character.
    add("runs of combining marks",
        "a" + repeated("\xcc\x81", 40) +
            ""
            "b x" +
            repeated("\xcc\x80", 7) + "y" + repeated("\xcc\x82", 6) +
            " \xe6\xbc\xa2\xcc\x81\xcc\x82 \xf0\x9d\x90\x80\xcc\x81 \xd0\xb6\xd2\x83 "
            "\xe0\xa4\x95\xe0\xa5\x81 1\xe2\x83\xa3 a\xcc\x81\xe2\x80\x8d\xcc\x82 c\xcd\x8f\xcc\x81\r\n" CSI
            "2;28Hab\xcc\x81\xe6\xbc\xa2\xcc\x82"
            "d\xcc\x83" CSI "?7l" CSI "3;28Hab\xcc\x81"
            "cd\xcc\x80\xcc\x82"
            "e\xcc\x83" CSI "?7h" CSI "?69h" CSI "5;10s" CSI "4;9Hmn\xcc\x81o\xcc\x82p" CSI "?69l" CSI
            "5;3H" CSI "4he\xcc\x81\xcc\x82"
            "f" CSI "4l" CSI "6;1Hq\x07\xcc\x81r\r\xcc\x82s");

    // Emoji sequences joined into a two-column cell: families, skin tones (after a base and after
    // an emoji they do not modify), a sequence one scalar longer than a cluster grows whole, marks
    // after a joiner, and all of it at the right edge with and without auto-wrap.
    const std::string family = "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7"
                               "\xe2\x80\x8d\xf0\x9f\x91\xa6";
    add("emoji sequences", family +
                               " \xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd \xf0\x9f\x8c\x80\xf0\x9f\x8f\xbb "
                               "\xf0\x9f\xa7\x91\xf0\x9f\x8f\xbb\xe2\x80\x8d\xf0\x9f\x92\xbb " +
                               family +
                               "\xe2\x80\x8d\xf0\x9f\x90\x95 \xf0\x9f\x98\x80\xe2\x80\x8d\xcc\x81x "
                               "\xf0\x9f\x98\x80\xe2\x80\x8d\xe6\xbc\xa2 "
                               "\xf0\x9f\x91\xa8\xe2\x80\x8d\xe2\x80\x8d\xf0\x9f\x91\xa9 "
                               "\xf0\x9f\x91\xa8\xcc\x81\xe2\x80\x8d\xf0\x9f\x91\xa9\r\n" CSI "2;29H" +
                               family +
                               "y" CSI "3;29H\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd" CSI "?7l" CSI "4;28Hab" +
                               family + "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbdz" CSI "?7h");

    // Joins that widen a one-column cell inside a run of text: spacing vowel signs, conjuncts,
    // keycaps, an emoji presentation selector and a skin tone after a narrow base, flags; then the
    // same at the right edge with and without auto-wrap, at a right margin and right of it, and in
    // a one-column region; and what must not join or widen there (a selector after a character
    // without two presentations, a text selector narrowing a wide emoji, a third regional
    // indicator, a consonant after a vowel sign, marks past the cap after a wide emoji).
    // clang-format off
    add("widening joins",
        "ab का क्ष 1\uFE0F\u20E3 \U0001F3F3\uFE0F\u200D\U0001F308 \U0001F1E9\U0001F1EA\U0001F1EB "
        "\u261D\U0001F3FD \u270C\uFE0F x\uFE0F \U0001F600\uFE0E \u263A\uFE0E किका\r\n"
        CSI "2;28Habका" "y" CSI "?7l" CSI "3;28Habका" "z" CSI "3;28Hab1\uFE0F\u20E3" CSI "?7h"
        CSI "4;28Habक्ष" CSI "5;29Ha1\uFE0F\u20E3b" CSI "6;27Hab\U0001F1E9\U0001F1EA\U0001F1EB"
        CSI "?69h" CSI "5;12s" CSI "6;10Haकाकि" CSI "7;11Haका" CSI "7;20Haकाb" CSI "5;5s" CSI "8;5Hका"
        CSI "?69l" CSI "8;10Hq\U0001F600" + repeated("\xcc\x81", 35) + "r");
    // clang-format on

    add("invalid UTF-8", "A\xff\xfe"
                         "B\xc3\x41"
                         "C\xe2\x82"
                         "D\xc0\xaf"
                         "E\xed\xa0\x80"
                         "F\xf4\x90\x80\x80"
                         "G\x80\xbf"
                         "H\xf0\x9f\x98"
                         "I\xe2\x82\xac"
                         "J\xc2\x85"
                         "K\xc2\xa0"
                         "L\r\n"
                         "\x9b"
                         "31m not csi \x9d"
                         "0;no osc \x90 no dcs\r\n"
                         "\xe2\x82");

    add("charsets", ESC "(0"
                        "lqqqk\r\nx   x\r\nmqqqj\r\n" ESC "(B" ESC ")0"
                        "a\x0e"
                        "aqa\x0f"
                        "a\r\n" ESC "(A#" ESC "(B#" ESC "*0" ESC "n"
                        "qqq" ESC "+>" ESC "o"
                        "`a" ESC "}"
                        "x" ESC "|"
                        "y" ESC "~"
                        "z" ESC "%G"
                        "q" ESC "(0" ESC "7" ESC "(B"
                        "s" ESC "8"
                        "q" ESC "(K"
                        "[\\]{|}" ESC "(B" ESC ",A"
                        "q");

    add("alignment and double-size lines",
        ESC "#8" CSI "2;3H" ESC "#3"
            "Big" CSI "3;1H" ESC "#4"
            "Big" CSI "4;1H" ESC "#6"
            "wide line text running past half" CSI "5;1H" ESC "#5" CSI "6;1H" ESC "#6" ESC "#5"
            "x" CSI "7;1H" ESC "#6" CSI "2K" ESC "#9");

    add("insert mode", "abcdefghijklmnopqrstuvwxyz0123" CSI "1;5H" CSI "4h"
                       "INS"
                       "中" CSI "1;29H"
                       "XY" CSI "4l" CSI "2;1H"
                       "中文字" CSI "2;2H" CSI "4h"
                       "a" CSI "4l" CSI "3;1H" CSI "4h"
                       "e\xcc\x81"
                       "❤️" CSI "4l");

    add("left and right margins", CSI "?69h" CSI "5;20s" CSI "2;6r" CSI "2;5H"
                                      "inside the margins text wraps here and scrolls"
                                      "\r\nnext line" CSI "3;1H"
                                      "outside" CSI "4;18H"
                                      "中文字" CSI "?6h" CSI "1;1H"
                                      "origin" CSI "6;16H"
                                      "\n\n" CSI "5;1H" ESC "6" ESC "6" ESC "9" CSI "2'}" CSI "1'~" CSI
                                      "?6l" CSI "s" CSI "r" CSI "?69l" CSI "s"
                                      "plain" CSI "u");

    add("alternate screens and saved cursors",
        "primary text" CSI "2;4H" ESC "7" CSI "31m" CSI "?1049h"
        "alt one" CSI "5;5H" ESC "7" CSI "?1049l"
        "back" ESC "8"
        "r" CSI "?47h"
        "alt two" CSI "?47l" CSI "?1047h"
        "alt three" CSI "?1047l" CSI "?1048h" CSI "7;7H" CSI "?1048l"
        "s" CSI "?1049h" CSI "?1049h" CSI "?1049l" CSI "?1049l" CSI "s" CSI "3;3H" CSI "u"
        "t");

    add("SGR forms",
        CSI "1;2;3;4;5;7;8;9mA" CSI "22;23;24;25;27;28;29mB" CSI "38;5;196;48;5;21mC" CSI
            "38;2;10;20;30mD" CSI "38:2::10:20:30mE" CSI "38:2:0:1:2:3mF" CSI "48:5:100mG" CSI "4:3mH" CSI
            "4:0mI" CSI "58:2::1:2:3mJ" CSI "58;5;9mK" CSI "59mL" CSI "21mM" CSI "53mN" CSI "55mO" CSI
            "90;101mP" CSI "39;49mQ" CSI "mR" CSI "38;5mS" CSI "38;2;1mT" CSI "38:5:300mU" CSI "0;;1mV" CSI
            "7m" CSI "K" CSI "27m" CSI "44m" CSI "2K" CSI "48;2;1;2;3m" CSI "J" CSI "m\r\nend");

    add("OSC titles, links and clipboard",
        OSC "0;shell title\x07" OSC "2;\xc3\x9cn\xc4\xab\xc4\x9c"
            "c\xc3\xb6"
            "de" ST OSC "1;icon\x07" OSC "2;bad \xff utf8\x07" OSC "8;;https://example.com/\x07"
            "link" OSC "8;;\x07"
            " " OSC "8;id=7;http://x.test/a" ST "text" OSC "8;;" ST OSC "52;c;aGVsbG8=\x07" OSC
            "52;c;?" ST OSC "2;eight bit end\x9c"
            "x" OSC "9;4;1;50\x07" OSC "7;file:///tmp\x07" OSC "10;?\x07" OSC "4;1;rgb:ff/00/00\x07" OSC
            "104\x07" OSC "112\x07" OSC "99999;x\x07" OSC ";empty\x07" OSC "12;#00ff00" ST OSC "133;A\x07"
            "$ " OSC "133;B\x07"
            "ls" OSC "133;C\x07");

    add("DCS, APC and strings",
        DCS "$qm" ST DCS "$q\"p" ST DCS "$qr" ST DCS "$q q" ST DCS "+q544e;636f6c6f7273" ST DCS
            "q#0;2;0;0;0#1;2;100;0;0#1~~@@-#0??" ST "after sixel" ESC "_Gf=100,a=T;AAAA" ST ESC
            "_Xunknown" ST ESC "Xsos string" ST ESC "^privacy message" ST DCS "1;2|ignored" ST "text" DCS "$q"
            "\x7f"
            "m" ST);

    add("CAN and SUB inside sequences", CSI "31\x18mX" CSI "1\x1a;32mY" OSC "2;abc\x18"
                                            "def" OSC "2;kept\x07" ESC "_Gabc\x1a"
                                            "G" ESC "\x18"
                                            "c"
                                            "Z" CSI "?1049\x1a"
                                            "h" DCS "$qm\x18"
                                            "m" ST "W" ESC "(\x18"
                                            "0q" CSI "3\x19"
                                            "A"
                                            "V");

    add("C0 inside CSI", "line one\r\nline two" CSI "2\r;5H"
                         "a" CSI "\n3A"
                         "b" CSI "1\x08m"
                         "c" CSI "\x07"
                         "31m"
                         "d" CSI "?25\x0bl"
                         "e" CSI "4\x0e"
                         "h"
                         "q"
                         "\x0f" CSI "2\t"
                         "J"
                         "f" ESC "\r"
                         "7"
                         "g");

    add("resets mid-stream",
        "abc" CSI "31m" CSI "?1049h"
        "def" CSI "2;4r" CSI "4h" ESC "(0" ESC "c"
        "ghi" CSI "1;34m" CSI "?6h" CSI "?7l" CSI "3;5r" CSI "?69h" CSI "2;10s" OSC "2;t\x07" CSI "!p"
        "jkl" CSI "?5h" CSI "?2026h" CSI "?1000h" CSI "?1006h" CSI "!p"
        "mno" ESC "c" CSI "?1049h"
        "x" CSI "!p"
        "y" ESC "c");

    add("mode queries",
        CSI "?1049$p" CSI "4$p" CSI "?2026$p" CSI "?9999$p" CSI "20$p" CSI "?7$p" CSI "?25$p" CSI "?1$p" CSI
            "?69$p" CSI "?2027$p" CSI "?1004h" CSI "?1004$p" CSI "?2048h" CSI "?2033h" CSI "$p" CSI "?$p" ESC
            " G" CSI "?6$p" CSI "2$p" ESC " F" CSI "c" CSI ">c" CSI "5n" CSI "6n" CSI ">q" CSI "14t" CSI
            "18t" CSI "?u" CSI "=1;1u" CSI ">1u" CSI "?u" CSI "<u");

    add("tabs, editing and scrolling",
        "\ta\tb\tc" CSI "3g" ESC "H"
        "\r\td" CSI "0g"
        "\r\t\te" CSI "2Z"
        "f" CSI "3I"
        "g\r\n" CSI "1;3r"
        "one\r\ntwo\r\nthree\r\nfour" CSI "2S" CSI "1T" CSI "r"
        "x" CSI "3b"
        "中" CSI "2b" CSI "5;1H"
        "0123456789" CSI "5;3H" CSI "2X" CSI "3P" CSI "2@" CSI "?5W" CSI "1;1H" CSI "?2J" CSI "1\"q"
        "prot" CSI "0\"q" CSI "?1K" CSI "?2K" ESC "V"
        "spa" ESC "W" CSI "J" CSI "3J");

    add("cursor motion and wrap", CSI
        "?45h"
        "abcdefghijklmnopqrstuvwxyz0123456789"
        "\x08\x08\x08" CSI "5D"
        "x" CSI "?45l" CSI "10C" CSI "99B" CSI "99A" CSI "5G" CSI "3d" CSI "2e" CSI "4a" CSI "7`" CSI "2;3f"
        "y" CSI "2E"
        "z" CSI "F"
        "w" CSI "?1045h" CSI "1;1H"
        "\x08\x08"
        "v" CSI "?1045l" CSI "?7l" CSI "8;25H"
        "past the right edge" CSI "?7h" ESC "D" ESC "E" ESC "M" CSI "2 q" CSI "0 q" CSI "5 q" CSI "1 S" CSI
        "0 S" CSI "1 k" CSI "0 k");

    add("bidi controls", CSI "8l"
                             "שלום" CSI "8h" CSI "?2500h" CSI "?2501l"
                             "\r\nabc" CSI "?2501h" CSI "?2500l" CSI "?1243h" CSI "?1243l" CSI "?2500$p");

    add("synchronized output and modes",
        CSI "?2026h"
            "frame one" CSI "H" CSI "2J"
            "frame two" CSI "?2026l" CSI "?2026h" CSI "?2026h" CSI "?2026l" CSI "?2004h" CSI "?1000h" CSI
            "?1002h" CSI "?1003h" CSI "?1006h" CSI "?1015h" CSI "?1003l" CSI "?s" CSI "?2004l" CSI "?r" CSI
            "?5h" CSI "?5l" CSI "?12h" CSI "?25l" CSI "20h"
            "lnm\n" CSI "20l" CSI "2h" CSI "2l" CSI ">1s" CSI "?40h" CSI "?3h" CSI "?40l");

    // One character between colour changes, as half-block pictures and box drawing are written:
    // after characters it may or may not join (a prepended sign, a joiner, an emoji, a mark),
    // then marks after it, at the right edge with and without auto-wrap, in insert mode and
    // under protection, and a Latin letter and a stray continuation byte alone.
    add("lone characters between colour changes",
        CSI "38;2;1;2;3;48;2;4;5;6m\u2580" CSI "38;2;7;8;9m\u2584" CSI "m\u2588\u0301" CSI "31m\u2591"
            "\u0600" CSI "32m\u2580" CSI "33m\u200d" CSI "34m\u2502"
            "\U0001F600" CSI "35m\u2500"
            "\u0915\u094d" CSI "36m\u2580" CSI "37m\u00e9" CSI "1m\u0301" CSI "2m\x80" CSI "3m\u2580"
            "\r\n" CSI "1;28H" CSI "41m\u2580" CSI "42m\u2580" CSI "43m\u2580" CSI "44m\u2580" CSI "?7l" CSI
            "45m\u2580" CSI "46m\u2580" CSI "?7h" CSI "3;3H" CSI "4h" CSI "47m\u2580" CSI "4l" CSI "1\"q" CSI
            "48;5;9m\u2580" CSI "0\"q" CSI "m\u2580\u2580");

    // True-colour sequences of one or two groups, which a whole chunk reads in one go, each with
    // the character drawn in its colours: ASCII, half blocks, a wide character, a mark, a
    // prepended sign and what follows it, runs of two, near misses that take the general fold,
    // at the right edge, over half a wide character, in insert mode, under protection and inside
    // a hyperlink.
    add("whole true-colour sequences before lone characters",
        CSI "38;2;1;2;3ma" CSI "48;2;250;251;252;38;2;9;99;199m\u2580" CSI "38;2;1;2;3;38;2;4;5;6mb" CSI
            "38;2;1000;2;3mc" CSI "38;2;999;256;0md" CSI "38;2;;;me" CSI "38;2;1;2;3;48;2;4;5;6;1mf" CSI
            "38;2;1;2;3;48;5;4mg" CSI "38;2;1:2;3mh" CSI "48;2;1;2;3mij" CSI "38;2;7;8;9m\u0600" CSI
            "38;2;1;1;1mx" CSI "38;2;5;5;5m\u4e00" CSI "38;2;6;6;6m\u0301" CSI "48;2;7;7;7m\u00e9" CSI
            "38;2;8;8;8m\u2580\u2580" CSI "1;28H" CSI "38;2;1;2;3m\u2580" CSI "48;2;4;5;6m\u2580" CSI
            "38;2;7;8;9m\u2580" CSI "38;2;1;2;3mz" CSI "3;1H\u4e00\u4e00" CSI "3;2H" CSI
            "38;2;40;41;42m\u2580" CSI "3;3H" CSI "48;2;40;41;42mq" CSI "4h" CSI "38;2;1;2;3m\u2580" CSI
            "48;2;3;2;1mw" CSI "4l" CSI "1\"q" CSI "38;2;9;9;9m\u2580" CSI "0\"q" OSC
            "8;;https://example.com" ST CSI "38;2;10;10;10m\u2580" CSI "48;2;11;11;11mk" OSC "8;;" ST CSI
            "?7l" CSI "4;29H" CSI "38;2;1;2;3mA" CSI "38;2;4;5;6mB" CSI "38;2;7;8;9m\u2580" CSI "?7h" CSI
            "m" +
            repeated(CSI "38;2;200;100;50;48;2;50;100;200m\u2584", 12) + "\r\n" +
            repeated(" padding after the last sequence", 3));

    // Scattered updates that erase to the end of the row: over longer text, over a right side
    // already blank, from the right half of a wide character, with a coloured erase, and DECSEL.
    add("cursor-addressed updates",
        "row one is long enough\r\nsecond row text\r\n\u597d\u597d\u597d wide\r\nlast" CSI "1;5Hab" CSI
        "K" CSI "1;12Hcd" CSI "K" CSI "1;3H" CSI "K" CSI "3;4H" CSI "K" CSI "2;8H" CSI "44mxy" CSI "K" CSI
        "m" CSI "2;20H" CSI "K" CSI "4;2H" CSI "1\"qP" CSI "0\"q" CSI "4;1H" CSI "?K" CSI "3;1H" CSI "K" CSI
        "3;1Hz");

    // Fields a whole chunk takes in one call with their position and erase: one reaching the
    // right edge (the erase then takes the last cell and ends the pending wrap), one ending where
    // a wide character begins and one starting on its right half, under ISO protection, in
    // insert mode, in origin mode, inside a hyperlink, and positions with leading zeros and
    // numbers past the screen.
    add("fields at a position",
        "\u597d\u597d\u597d\u597d\u597d\u597d" CSI "1;27Habcd" CSI "Kx" CSI "2;29Hzw" CSI "K" CSI "1;1Hab" CSI
        "K" CSI "1;4Hc" CSI "K" CSI "3;5HISO" ESC "Vkept" ESC "W" CSI "3;5Hy" CSI "K" CSI "4;1Hinsert" CSI
        "4;1H" CSI "4h"
        "in" CSI "K" CSI "4l" CSI "2;6r" CSI "?6h" CSI "2;3Horigin" CSI "K" CSI "?6l" CSI "r" OSC
        "8;;https://example.com" ST CSI "6;2Hlink" CSI "K" OSC "8;;" ST CSI "00007;000012Hlong" CSI "K" CSI
        "7;99999Hclamped" CSI "K" CSI "8;3H" CSI "4K"
        "z");

    // A redraw's fields one right after another, which a whole chunk takes as one run: positions
    // of every shape (one number, none, four digits, leading zeros, past the screen), a field
    // reaching the edge and one on a wide character's right half in the middle of the run, a
    // position without text, and a run broken by a colour and by a character beyond ASCII.
    add("fields in a run",
        "\u597d\u597d\u597d row three" CSI "8;1Hbottom" CSI "2;3Hab" CSI "K" CSI "5;1Hcd" CSI "4Hef" CSI
        "K" CSI "H"
        "gh" CSI ";7Hij" CSI "K" CSI "0003;0004Hkl" CSI "K" CSI "9;99Hmn" CSI "K" CSI "1;27Hedge" CSI "K" CSI
        "6;2Hop" CSI "K" CSI "1;4Hqr" CSI "K" CSI "2;5H" CSI "7;3Hst" CSI "K" CSI "44m" CSI "3;2Huv" CSI
        "K" CSI "4;6Hw\u00e9" CSI "K" CSI "5;5Hxy" CSI "K" CSI "12345;1Hz" CSI "K");

    // Regions set, written in, scrolled by line feeds at their bottom and reset, in a region
    // that reaches the top row (whose lines go to the scrollback) and in ones that do not.
    add("scroll regions set and reset",
        "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8" CSI "2;5r" CSI "4;3Hab cd\n\n" CSI "r" CSI "1;4r" CSI
        "4;1Hef\n\n" CSI "r" CSI "6;8r" CSI "7;2Hgh \u597d\n\n\n" CSI "r" CSI "3;3r" CSI "5;9r" CSI "9;1H" CSI
        "?6h" CSI "2;4r" CSI "3;2Hin region\n\n" CSI "?6l" CSI "r" CSI "8;1Hend");

    addWithOptions("line feed mode from the options",
                   "one\ntwo\nthree\x0b"
                   "four\x0c"
                   "five",
                   [](TerminalOptions& options) { options.convertEol = true; });

    return entries;
}

/// The dump of a fresh terminal for `entry` fed its bytes in chunks ending at `cuts` (sorted
/// positions strictly between 0 and the length; the last chunk runs to the end).
std::string dumpAfterFeeding(const CorpusEntry& entry, const std::vector<size_t>& cuts)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = entry.cols;
    options.rows = entry.rows;
    options.scrollback = entry.scrollback;
    if (entry.adjust)
        entry.adjust(options);
    DumpedTerminal session(options);
    const auto* data = reinterpret_cast<const uint8_t*>(entry.bytes.data());
    size_t start = 0;
    for (size_t cut : cuts) {
        session.feed(std::span<const uint8_t>(data + start, cut - start));
        start = cut;
    }
    session.feed(std::span<const uint8_t>(data + start, entry.bytes.size() - start));
    return session.dump();
}

/// What differs between `entry` fed whole and fed one byte per feed, which takes every sequence
/// and run the general way; empty when nothing does.
std::string differenceFromOneBytePerFeed(const CorpusEntry& entry)
{
    std::vector<size_t> cuts;
    for (size_t cut = 1; cut < entry.bytes.size(); ++cut)
        cuts.push_back(cut);
    return describeDumpDifference(dumpAfterFeeding(entry, {}), dumpAfterFeeding(entry, cuts));
}

std::string describeCuts(const std::vector<size_t>& cuts)
{
    std::string out;
    for (size_t cut : cuts)
        out += (out.empty() ? "" : ",") + std::to_string(cut);
    return out.empty() ? "none" : out;
}

/// A small deterministic generator, so that a failing chunking can be reproduced by its seed on
/// any standard library.
class SplitMix
{
public:
    explicit SplitMix(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    uint64_t state_;
};

/// Random cuts: chunk lengths mostly short (1-8 bytes), sometimes long, as reads of a busy
/// pseudo-terminal come.
std::vector<size_t> randomCuts(size_t length, uint64_t seed)
{
    SplitMix random(seed);
    std::vector<size_t> cuts;
    size_t position = 0;
    while (true) {
        const uint64_t pick = random.next();
        const size_t step = (pick & 3) == 0 ? 1 + (pick >> 8) % 64 : 1 + (pick >> 8) % 8;
        position += step;
        if (position >= length)
            break;
        cuts.push_back(position);
    }
    return cuts;
}

/// For seeds 1 to 40: 300 random `pieces` of text on a narrow screen of 6 rows, after nothing,
/// auto-wrap off, margins or insert mode, fed whole and one byte per feed; the dumps must be equal.
/// `adjust`, when given, changes the options of both terminals.
void expectTextMixesMatchOneByteAtATime(const std::vector<std::string>& pieces,
                                        std::function<void(TerminalOptions&)> adjust = {})
{
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SplitMix random(seed);
        CorpusEntry entry;
        entry.adjust = adjust;
        entry.cols = 5 + static_cast<int>(seed / 4 % 4) * 8;
        entry.rows = 6;
        static const char* const modes[] = {"", CSI "?7l", CSI "?69h" CSI "3;9s" CSI "1;4H", CSI "4h"};
        entry.bytes = modes[seed % 4];
        for (int i = 0; i < 300; ++i)
            entry.bytes += pieces[random.next() % pieces.size()];
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << "seed " << seed;
    }
}

/// For seeds 1 to 30: 400 random `pieces` (sequences and the text between them) on a screen of 5
/// rows, 9, 20 or 31 columns wide, fed whole and one byte per feed; the dumps must be equal.
void expectSequenceMixesMatchOneByteAtATime(const std::vector<std::string>& pieces)
{
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        SplitMix random(seed);
        CorpusEntry entry;
        entry.cols = 9 + static_cast<int>(seed % 3) * 11;
        entry.rows = 5;
        for (int i = 0; i < 400; ++i)
            entry.bytes += pieces[random.next() % pieces.size()];
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << "seed " << seed;
    }
}

TEST(TerminalSplitFeedTests, CorpusEntriesChangeTheTerminal)
{
    // A corpus entry that left the dump as a fresh terminal has it would test nothing.
    for (const CorpusEntry& entry : corpus()) {
        CorpusEntry empty = entry;
        empty.bytes.clear();
        EXPECT_NE(dumpAfterFeeding(entry, {}), dumpAfterFeeding(empty, {})) << entry.name;
    }
}

TEST(TerminalSplitFeedTests, EveryTwoChunkSplitMatchesOneChunk)
{
    for (const CorpusEntry& entry : corpus()) {
        const std::string reference = dumpAfterFeeding(entry, {});
        for (size_t cut = 1; cut < entry.bytes.size(); ++cut) {
            const std::string split = dumpAfterFeeding(entry, {cut});
            if (split != reference) {
                ADD_FAILURE() << entry.name << ": split at byte " << cut << " of " << entry.bytes.size()
                              << " (before \"" << escapeBytes(std::string_view(entry.bytes).substr(cut, 12))
                              << "\")\n"
                              << describeDumpDifference(reference, split);
                break;
            }
        }
    }
}

TEST(TerminalSplitFeedTests, OneByteAtATimeMatchesOneChunk)
{
    for (const CorpusEntry& entry : corpus()) {
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << entry.name << ": one byte per feed";
    }
}

TEST(TerminalSplitFeedTests, SeededRandomChunkingsMatchOneChunk)
{
    for (const CorpusEntry& entry : corpus()) {
        const std::string reference = dumpAfterFeeding(entry, {});
        for (uint64_t seed = 1; seed <= 50; ++seed) {
            const std::vector<size_t> cuts = randomCuts(entry.bytes.size(), seed);
            const std::string chunked = dumpAfterFeeding(entry, cuts);
            if (chunked != reference) {
                ADD_FAILURE() << entry.name << ": seed " << seed << ", cuts " << describeCuts(cuts) << "\n"
                              << describeDumpDifference(reference, chunked);
                break;
            }
        }
    }
}

// Random text of the scripts whose runs the print batch takes in loops of their own (syllables of
// Devanagari and its neighbours; letters of one column, of two and four bytes, with combining
// marks), mixed with what ends those loops (overlong and truncated sequences of their leads among
// it), fed whole and one byte per feed, which prints every
// character on its own: the dumps must be equal. Narrow screens, auto-wrap off and margins put
// widened cells at the edge.
TEST(TerminalSplitFeedTests, ScriptRunsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        "\u0915", "\u0937", "\u0930", "\u093C", "\u094D", "\u093E", "\u093F", "\u0941", "\u0902",
        "\u0905", "\u0966", "\u0964", "\u0995\u09CD\u09B7", "\u0B95\u0BCD", "\u0E01\u0E31\u0E33",
        "\u0D15\u0D4D", "\u200D", "\u200C", "\u0301", "\u0323", "\u0483", "\u05D0\u05B8", "a", "e", " ",
        "\u03B1", "\u0436", "\u00E9", "\U0001F600", "\u4E2D", "\xE0\xA4", "\xE0", "\x80", "\xCC", "\r\n",
        "\u0915" + repeated("\u094D", 34) + "\u0937", "o" + repeated("\u0301", 34) + "x",
        "\U0001D400", "\U0001D7CE", "\U00010330", "\U0001D165", "\U00010A0D", "\U0001F3FB", "\U0001F1E6",
        "\U0001F468\u200D\U0001F469", "\xF0\x9D\x90", "\xF0\x9D", "\xE0\x9F\xBF", "\xE0\x84\xBE",
        "\xE1\xA4\x81", "\xE0\xA4\x3E",
        // Conjuncts through every state: stacked, a nukta and a joiner between linker and consonant.
        "\u0915\u094D\u0937\u094D\u0930\u093F", "\u0915\u093C\u094D\u200D\u0937\u0941\u0902"};
    // clang-format on
    expectTextMixesMatchOneByteAtATime(pieces);
}

// Random wide characters of three bytes (the print batch's loop for ideographs and kana), single
// spaces before characters of three and four bytes (stored without the narrow loop), and what ends
// either: wide characters with grapheme properties or that are pictographs, marks and selectors
// joining the last of a run, other scripts, broken and cut-off sequences, line ends. Fed whole and
// one byte per feed, which prints every character on its own: the dumps must be equal. Narrow
// screens, auto-wrap off, margins and insert mode put wide cells at the edge.
TEST(TerminalSplitFeedTests, WideRunsAndLoneSpacesMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        "\u4E00", "\u9FA5", "\u4E2D\u6587", "\u30A2", "\u3042", "\u3000", "\uFF21", "\uFF61", "\u3099",
        "\u309A", "\uAC00", "\u1100\u1161", "\u3030", "\u303D", "\u3297", "\uFE0F", "\uFE0E", "\u200D",
        "\u0301", "\U0001F600", "\U0001F466\U0001F3FD", "\U0001F1E6\U0001F1E8", "\u0915\u093F", "\u05D0",
        " ", " ", " ", "a", "ab ", "\xE4\xB8", "\xED\xA0\x80", "\xE4", "\x80", "\xEF\xBF\xBF", "\u2E80",
        "\u1000", "\xE0\x80\xBF", "\xE0\xA4\x95", "\r\n", "\t", CSI "31m", CSI "m"};
    // clang-format on
    expectTextMixesMatchOneByteAtATime(pieces);
}

// Text of every script the print batch takes in loops of its own, one script right after another
// without a space between, so that each loop hands over to the next by the lead byte it stops at:
// letters with marks, syllables, ideographs, letters and ideographs of four bytes, emoji alone,
// with skin tones (after an emoji they modify and after one they do not), joined to emoji (and
// to what is not one, and past the cap of a cluster), with selectors and marks after them, flags
// (whole, halves and three halves in a row), box drawing, punctuation and symbols of three bytes
// with the selectors and joiners after them. Mixed with what changes what joins the next
// character (a Hangul leading consonant before a syllable, Prepend characters, a control) and
// sequences cut short. Fed whole and one byte per feed, which prints every character on its own,
// with regional indicators wide and narrow: the dumps must be equal.
TEST(TerminalSplitFeedTests, ScriptRunsOneAfterAnotherMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        "\u4E2D", "\u6587\u5B57", "\u05D0\u05B8", "\u0628\u064E", "\u0915\u094D\u0937", "\u0915\u093F", "ab",
        "x", "\u00E9", "e\u0301", "\U0001D400", "\U00017000", "\U0001B001", "\U0001F600", "\U0001F466\U0001F3FD",
        "\U0001F600\U0001F3FB", "\U0001F3FB", "\U0001F468\u200D\U0001F4BB", "\U0001F468\U0001F3FF\u200D\U0001F4BB",
        "\U0001F468\u200D\U0001F469\u200D\U0001F467", "\U0001F468\u200D", "\U0001F468\u200Dx",
        "\U0001F468\u200D\u2764", "\U0001F600\uFE0F", "\U0001F600\uFE0E", "\U0001F600\u0301",
        "\U0001F468" + repeated("\u200D\U0001F469", 20), "\u200D", "\U0001F1EF\U0001F1F5", "\U0001F1E6",
        "\U0001F1E6\U0001F1E8\U0001F1E9", "\u1100", "\uAC00", "\u1161", "\u0D4E", "\u0600", "\u0085", "\u2028", "\u00AD", "\u0301", " ", " ",
        "\r\n", "\xF0\x9F\x98", "\xE2\x80", "\xF0\x9F", "\xE0\xA4", "\u2500\u2510", "\u201C", "\u2026",
        "\u2764", "\u2764\uFE0F", "\u263A\uFE0E", "\u231A", "\u231A\uFE0E", "\u2764\u200D\U0001F525",
        "\xED\xA0\x80", "\u1E00\u0301", "\uD55C\uAD6D", "\uAC00\u11A8", "\u1100\u1161\u11A8"};
    // clang-format on
    expectTextMixesMatchOneByteAtATime(pieces);
    expectTextMixesMatchOneByteAtATime(pieces, [](TerminalOptions& options) {
        options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
    });
}

// Lines of words in many scripts, as the print batch meets them in one run: wide ideographs and
// kana, emoji alone, with a skin tone, joined and as flags, letters carrying combining marks,
// Devanagari with vowel signs and conjuncts (cells widened by a joined scalar), pointed Hebrew,
// Arabic with harakat and plain words, a space after each. The run writer stores cells of both
// widths together, without a test per width while a wide cell still fits; fed one byte per feed,
// every character goes alone. On screens of every width parity, with auto-wrap off, with margins
// around the cursor and with the cursor moved right of the margins (where a widened cell wraps at
// a nearer limit than the others), the dumps must be equal.
TEST(TerminalSplitFeedTests, MixedScriptWordsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> words = {
        "\u4E2D\u6587\u5B57 ", "\u30A2\u30AB ", "\u6F22 ", "\U0001F600 ", "\U0001F466\U0001F3FD ",
        "\U0001F468\u200D\U0001F4BB ", "\U0001F1EF\U0001F1F5 ", "a\u0301b\u0323c ", "e\u0300 ",
        "\u0915\u094D\u0937\u093F ", "\u0928\u092E\u0938\u094D\u0924\u0947 ", "\u0915\u093E ",
        "\u05E9\u05C1\u05B8\u05DC\u05D5\u05B9\u05DD ", "\u0645\u064E\u0631\u0652\u062D\u064E\u0628\u0627 ",
        "word ", "ab ", "x", "\u00E9t\u00E9 ", "\r\n", "\r\n", CSI "2;7H", CSI "4;9H"};
    const std::vector<std::string> modes = {"", CSI "?7l", CSI "?69h" CSI "3;12s" CSI "2;4H",
                                            CSI "?69h" CSI "2;5s" CSI "1;8H", CSI "4h"};
    // clang-format on
    for (size_t mode = 0; mode < modes.size(); ++mode) {
        for (int cols : {9, 10, 23, 80}) {
            SplitMix random(static_cast<uint64_t>(cols) * 31 + mode);
            CorpusEntry entry;
            entry.cols = cols;
            entry.rows = 5;
            entry.scrollback = 4;
            entry.bytes = modes[mode];
            for (int i = 0; i < 250; ++i)
                entry.bytes += words[random.next() % words.size()];
            EXPECT_EQ(differenceFromOneBytePerFeed(entry), "")
                << "mode " << mode << ", " << cols << " columns";
        }
    }
}

// One run longer than the print batch: `cells` cells of one script, a space, then a character
// that picks one of the script run loops (or none), and text after it, so that the space lands
// before, at and past the batch's last cell. And runs starting with up to twenty ASCII characters
// before other text, which the slow road takes whole when they are short, after a Prepend
// character or a joiner that the first of them joins. Each fed whole, one byte per feed and split
// in two at every byte from a few letters before the space on: the dumps must be equal.
TEST(TerminalSplitFeedTests, SpacesBetweenScriptsAtTheBatchCapMatchEverySplit)
{
    // clang-format off
    const std::vector<std::string> afterSpace = {
        "\u05D0\u05B8b", "\u0915\u093F", "\u4E2D\u6587", "\U0001F600\U0001F3FB", "ab", "\xF8" "a",
        "\x80", "\u2500x", " \u05D0", "\u0301x", "\xE0\xA4"};
    // clang-format on
    // Each entry with the first byte it is split at.
    std::vector<std::pair<CorpusEntry, size_t>> entries;
    for (int cells = 252; cells <= 258; ++cells) {
        for (const std::string& after : afterSpace) {
            CorpusEntry entry;
            entry.name = std::to_string(cells) + " cells then a space and \"" + escapeBytes(after) + "\"";
            entry.cols = 80;
            entry.rows = 6;
            for (int i = 0; i < cells; ++i)
                entry.bytes += i % 3 == 2 ? "\u0628" : "\u05D0";
            const size_t space = entry.bytes.size();
            entry.bytes += " " + after + " \u0915 x";
            entries.emplace_back(entry, space - 8);
        }
    }
    for (const std::string& before :
         {std::string("\u0600"), std::string("\U0001F468\u200D"), std::string("")}) {
        for (size_t ascii : {1, 2, 15, 16, 17, 20}) {
            for (const std::string& after :
                 {std::string("\u0301\u05D0"), std::string("\u4E2D"), std::string("\xE4")}) {
                CorpusEntry entry;
                entry.name = escapeBytes(before) + " then " + std::to_string(ascii) + " ASCII then " +
                             escapeBytes(after);
                entry.cols = 12;
                entry.rows = 4;
                entry.bytes = before;
                for (size_t i = 0; i < ascii; ++i)
                    entry.bytes += static_cast<char>('a' + i % 26);
                entry.bytes += after + "z";
                entries.emplace_back(entry, 1);
            }
        }
    }
    for (const auto& [entry, firstCut] : entries) {
        const std::string reference = dumpAfterFeeding(entry, {});
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << entry.name << ": one byte per feed";
        for (size_t cut = firstCut; cut < entry.bytes.size(); ++cut) {
            const std::string split = dumpAfterFeeding(entry, {cut});
            if (split != reference) {
                ADD_FAILURE() << entry.name << ": split at byte " << cut << "\n"
                              << describeDumpDifference(reference, split);
                break;
            }
        }
    }
}

// Runs of whole true-colour sequences, each mostly followed by one character, as half-block
// pictures and rainbow text write them and as a whole chunk takes them in one go, mixed with what
// ends such a run (a character the lone-cell road leaves to the print roads, a word, a sequence
// of another shape, a line end, a wrap, mode changes, a hyperlink), fed whole and one byte per
// feed, which takes every sequence the general way: the dumps must be equal. Narrow screens,
// auto-wrap off, margins with the cursor beyond them and insert mode put runs at every edge.
TEST(TerminalSplitFeedTests, TrueColourRunsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> characters = {
        "a", "Z", " ", "\u2580", "\u2580", "\u2584", "\u2588", "\u4e00", "\u0301", "\u0600", "\u00e9", "ab",
        "\u2580\u2580", "\x80", ""};
    const std::vector<std::string> breakers = {
        "\r\n", CSI "m", CSI "3G", CSI "38;2;1;2;3;1m", CSI "48;5;9m", CSI "?7l", CSI "?7h", CSI "4h", CSI "4l",
        CSI "1\"q", CSI "0\"q", OSC "8;;https://example.com" ST, OSC "8;;" ST, "word", CSI "2;5H"};
    // clang-format on
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SplitMix random(seed);
        const auto number = [&] {
            static const char* const numbers[] = {"", "0", "7", "42", "255", "300", "999", "009"};
            return std::string(numbers[random.next() % 8]);
        };
        const auto group = [&] {
            return std::string(random.next() % 2 ? "38;2;" : "48;2;") + number() + ";" + number() + ";" +
                   number();
        };
        CorpusEntry entry;
        entry.cols = 7 + static_cast<int>(seed / 4 % 4) * 9;
        entry.rows = 5;
        static const char* const modes[] = {"", CSI "?7l", CSI "?69h" CSI "3;9s" CSI "1;4H",
                                            CSI "?69h" CSI "2;5s" CSI "1;7H"};
        entry.bytes = modes[seed % 4];
        for (int i = 0; i < 400; ++i) {
            if (random.next() % 8 == 0) {
                entry.bytes += breakers[random.next() % breakers.size()];
                continue;
            }
            entry.bytes += CSI + group() + (random.next() % 2 ? ";" + group() : "") + "m";
            entry.bytes += random.next() % 4 ? characters[random.next() % 4]
                                             : characters[random.next() % characters.size()];
        }
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << "seed " << seed;
    }
}

// Lines ended by CR LF, which a whole chunk takes as one step and one byte per feed as two
// controls, mixed with everything that step must notice: a full and an empty scrollback, the
// alternate screen, scroll regions and left and right margins, a cursor on the region's bottom,
// below it or on the last row, a pending wrap, new-line mode, an erase colour, semantic prompt
// and command-line states, bidi state, column switches and lone CRs and LFs. The dumps must be equal.
TEST(TerminalSplitFeedTests, LineEndsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> breakers = {
        "\r", "\n", "\n\r", "\r\r\n", CSI "44m", CSI "m", CSI "2;5r", CSI "r", CSI "1;3r", CSI "?69h" CSI "2;6s",
        CSI "?69l", CSI "20h", CSI "20l", CSI "?1049h", CSI "?1049l", OSC "133;A\x07", OSC "133;B\x07",
        OSC "133;C\x07", OSC "133;D;0\x07", CSI "5;1H", CSI "4;3H", CSI "99;1H", CSI "?3h", CSI "?3l",
        CSI "8l", CSI "8h", CSI "?7l", CSI "?7h", ESC "#6", CSI "K", CSI "2J", "0123456789abcdefghijklmnopqrstuvwxyz"};
    // clang-format on
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        SplitMix random(seed);
        CorpusEntry entry;
        entry.cols = 6 + static_cast<int>(seed % 3) * 7;
        entry.rows = 3 + static_cast<int>(seed / 3 % 3) * 2;
        entry.scrollback = static_cast<int>(seed % 4) * 3;
        entry.bytes = seed % 2 ? CSI "?40h" : "";
        for (int i = 0; i < 300; ++i) {
            if (random.next() % 4 == 0) {
                entry.bytes += breakers[random.next() % breakers.size()];
                continue;
            }
            entry.bytes += std::string(random.next() % (static_cast<size_t>(entry.cols) + 2), 'a' + i % 26);
            entry.bytes += "\r\n";
        }
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << "seed " << seed;
    }
}

// Cursor-addressed updates and scroll regions as full-screen programs write them (CUP, then a
// field, then EL 0, which a whole chunk hands to the terminal in one call with the field and
// without the CSI routing; region set and reset around line feeds; charset designations after
// every field), mixed with everything those roads must notice: sequences of the same finals in
// other shapes (longer numbers, a colon, a third parameter, an intermediate), SGRs, wide
// characters cut by the cursor, fields reaching the right edge, protected cells of both kinds, an
// erase colour, origin mode, insert mode, left and right margins, a hyperlink, a prompt mark,
// column switches, the alternate screen and a translating set. Fed whole and one byte per feed,
// which takes every sequence the general way: the dumps must be equal.
TEST(TerminalSplitFeedTests, ScreenUpdatesMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        CSI "K", CSI "0K", CSI "K", CSI "1K", CSI "2K", CSI ";K", CSI "?K", CSI "00K", CSI "3K", CSI "65536K",
        CSI "H", CSI ";H", CSI "0;0H", CSI "99;99H", CSI "2;3;4H", CSI "4H", CSI ";7H", CSI "?2;3H", CSI " H",
        CSI "3;5f", CSI "2;4r", CSI "r", CSI "1;9r", CSI "3;3r", "\n", "\n\n", "\r", ESC "(B", ESC "(0",
        ESC ")0", "\x0e", "\x0f", ESC "%G", CSI "44m", CSI "m", CSI "1\"q", CSI "0\"q", ESC "V", ESC "W",
        CSI "?6h", CSI "?6l", CSI "?40h" CSI "?3h", CSI "?3l", CSI "?1049h", CSI "?1049l", CSI "?7l", CSI "?7h",
        "word", "lqk", "a\u597d", "\u597d\u597d", "xy", " ", "\u00e9", CSI "5;1H" "field" CSI "K",
        CSI "9999;9999H", CSI "10000;2H", CSI "2;00007H", CSI "2:3H", CSI "2;3;H", CSI "1;31m", CSI "22;39m",
        CSI "4h", CSI "4l", CSI "?69h" CSI "3;6s", CSI "?69l", OSC "8;;https://example.com" ST, OSC "8;;" ST,
        OSC "133;A\x07", CSI "3;20H" "a field long enough to reach the edge", CSI "2;5H" "ab" CSI "0K"};
    // clang-format on
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        SplitMix random(seed);
        CorpusEntry entry;
        entry.cols = 8 + static_cast<int>(seed % 3) * 9;
        entry.rows = 4 + static_cast<int>(seed / 3 % 3) * 2;
        entry.scrollback = static_cast<int>(seed % 2) * 4;
        for (int i = 0; i < 400; ++i) {
            if (random.next() % 3 == 0) {
                // The common shape: a field at a position, erased to the line's end.
                entry.bytes += CSI + std::to_string(1 + random.next() % 9) + ";" +
                               std::to_string(1 + random.next() % 30) + "H" +
                               pieces[random.next() % pieces.size()] + CSI "K";
                continue;
            }
            entry.bytes += pieces[random.next() % pieces.size()];
        }
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << "seed " << seed;
    }
}

// Fields at positions, each mostly followed by an erase to the line's end, which a whole chunk
// writes in one step: fields of every length from one cell to past the row, ending just before,
// at and past the right edge, over rows whose earlier text reaches past the field by a few cells
// or by many, over wide characters cut at either end, with an erase colour, after a pending wrap,
// at positions beyond the screen, and among the modes that keep the step away (origin mode,
// margins, insert mode, protection, a hyperlink, a translating set, a prompt mark). Fed whole and
// one byte per feed, which takes every control on its own: the dumps must be equal.
TEST(TerminalSplitFeedTests, FieldsAtPositionsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> modes = {
        "", CSI "44m", CSI "?6h" CSI "2;4r", CSI "?69h" CSI "3;9s", CSI "4h", CSI "1\"q", ESC "V",
        OSC "8;;https://example.com" ST, ESC "(0", OSC "133;A\x07", CSI "?7l"};
    const std::vector<std::string> fillers = {
        "", "ab", "\u597d\u597d\u597d", "0123456789abcdefghijklmnopqrstuvwxyz", "x\u597dy", "\u597d\u597d\u597d\u597d\u597d\u597d\u597d\u597d\u597d\u597d\u597d\u597d", CSI "41m" "red" CSI "m"};
    // clang-format on
    // Short feeds on a tall screen, so that what one field left wrong is rarely written over; the
    // 80-column screen has erases of more than 32 cells, past the fixed groups of the field road.
    for (size_t mode = 0; mode < modes.size(); ++mode) {
        for (int cols : {10, 27, 80}) {
            for (uint64_t seed = 0; seed < 4; ++seed) {
                SplitMix random(mode * 131 + static_cast<uint64_t>(cols) * 7 + seed);
                CorpusEntry entry;
                entry.cols = cols;
                entry.rows = 16;
                entry.scrollback = 3;
                entry.bytes = modes[mode];
                for (int i = 0; i < 40; ++i) {
                    // Now and again another mode on top of the entry's own.
                    if (i % 20 == 19)
                        entry.bytes += modes[random.next() % modes.size()];
                    const int row = 1 + static_cast<int>(random.next() % 18);
                    const int col = static_cast<int>(random.next() % static_cast<uint64_t>(cols + 3));
                    entry.bytes += CSI + std::to_string(row) + ";" + std::to_string(col) + "H";
                    if (random.next() % 4 == 0) {
                        entry.bytes += fillers[random.next() % fillers.size()];
                        continue;
                    }
                    // A field ending anywhere from the row's start to past its edge.
                    const size_t length = 1 + random.next() % static_cast<uint64_t>(cols + 2);
                    for (size_t k = 0; k < length; ++k)
                        entry.bytes += static_cast<char>('A' + (i + static_cast<int>(k)) % 26);
                    if (random.next() % 3 != 0)
                        entry.bytes += CSI "K";
                }
                EXPECT_EQ(differenceFromOneBytePerFeed(entry), "")
                    << "mode " << mode << ", " << cols << " columns, seed " << seed;
            }
        }
    }
}

// A field's erase on an 80-column row whose earlier text reaches a given column: erases of 31,
// 32 and 33 cells and to the row's end, fields starting 8 and 7 cells before the end, one ending
// among the row's last 8 cells, one erasing nothing; each alone and right after another field
// (the run of fields), with the default look and with an erase colour. Fed whole and one byte per
// feed, which erases the general way: the dumps must be equal.
TEST(TerminalSplitFeedTests, FieldErasesOfEveryReachMatchOneByteAtATime)
{
    struct Case
    {
        int col; // 1-based, as the position sends it
        int length;
        int reach; // cells of earlier text on the row
    };
    const Case cases[] = {{1, 5, 36},  {1, 5, 37},   {1, 5, 38},   {20, 9, 80},  {73, 3, 80},
                          {74, 3, 80}, {60, 15, 80}, {70, 11, 80}, {10, 30, 12}, {1, 1, 2}};
    for (const char* look : {"", CSI "44m"}) {
        for (bool another : {false, true}) {
            for (const Case& field : cases) {
                CorpusEntry entry;
                entry.cols = 80;
                entry.rows = 6;
                entry.bytes = CSI "3;1H" + std::string(static_cast<size_t>(field.reach), 'x') + look;
                if (another)
                    entry.bytes += CSI "5;2Hfirst" CSI "K";
                entry.bytes += CSI "3;" + std::to_string(field.col) + "H" +
                               std::string(static_cast<size_t>(field.length), 'f') + CSI "K";
                EXPECT_EQ(differenceFromOneBytePerFeed(entry), "")
                    << "look \"" << look + (*look != 0) << "\", field at " << field.col << " of "
                    << field.length << " over " << field.reach << (another ? ", after another" : "");
            }
        }
    }
}

// Fields one right after another, which a whole chunk takes as one run, checking the modes once
// and marking rows and moving the cursor once at the run's end. Each case is short, so that the
// rows it marks changed are its own: fields on rows on either side of where the cursor starts,
// fields the buffer does not take in one step in the middle of a run (one reaching the edge, one
// cut by a wide character, one on a line with more text than the field), positions of every
// shape, and runs after each mode that keeps the one step away. Fed whole and one byte per feed,
// which takes every control on its own: the dumps must be equal.
TEST(TerminalSplitFeedTests, FieldRunsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> runs = {
        CSI "4;1H" "start" CSI "2;3Hab" CSI "K" CSI "6;1Hcd" CSI "K",
        CSI "3;3Hx" CSI "3;5Hy" CSI "3;1Hz",
        CSI "1;1Hab" CSI "7;2Hcd" CSI "K" CSI "2;3Hef",
        CSI "2;3Hab" CSI "3;4Hcd" CSI "5;6fcd" CSI "K" CSI "6;7Hef" CSI "7;1Hgh" CSI "2;5r" CSI "1;2Hij" CSI
        "2;3Hkl" CSI "3;4J",
        CSI "1;1Hlong text on the row" CSI "1;3Hab" CSI "K" CSI "2;1Hcd",
        CSI "2;1H" "\u597d\u597d\u597d" CSI "1;2Hab" CSI "2;2Hcd" CSI "K" CSI "3;2Hef" CSI "K",
        CSI "2;5Hab" CSI "2;25Hto the edge" CSI "K" CSI "5;2Hcd" CSI "K",
        CSI "2;5Hab" CSI "2;27Hwrapping on" CSI "6;2Hcd" CSI "K",
        CSI "5Hab" CSI "K" CSI "Hcd" CSI "K" CSI ";3Hef" CSI "3;Hgh" CSI ";Hij",
        CSI "0002;0009Hab" CSI "K" CSI "7;0000Hcd" CSI "K" CSI "99;99Hef" CSI "K" CSI "0;0Hgh" CSI "K",
        CSI "2;3Hab" CSI "K" CSI "4;5H" "\x1b[6;7Hcd",
        CSI "2;3Hab" CSI "K" CSI "12345;6Hcd" CSI "K" CSI "2;3;4Hef" CSI "K" CSI "5;6Hgh",
        CSI "2;3Hab" CSI "K" CSI "3;4Hc\u00e9" CSI "K" CSI "4;4Hd\x7f" CSI "K" CSI "5;4He",
        CSI "41m" CSI "2;3Hab" CSI "K" CSI "3;4Hcd" CSI "K" CSI "m" CSI "4;4Hef" CSI "K"};
    const std::vector<std::string> modes = {
        "", CSI "?6h" CSI "2;5r", CSI "?69h" CSI "3;9s", CSI "4h", CSI "1\"q", ESC "V",
        OSC "8;;https://example.com" ST, ESC "(0", OSC "133;A\x07", CSI "?7l", CSI "?3h"};
    // clang-format on
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 30;
    options.rows = 8;
    options.scrollback = 20;
    for (size_t mode = 0; mode < modes.size(); ++mode) {
        for (size_t run = 0; run < runs.size(); ++run) {
            // Lines scrolled into the scrollback first, so that screen rows and absolute rows
            // differ, and the rows marked so far forgotten, so that the run's own marks are seen.
            const std::string before = modes[mode] + repeated("line\r\n", 10) + CSI "4;9H";
            DumpedTerminal whole(options);
            DumpedTerminal oneByOne(options);
            whole.feed(before);
            oneByOne.feed(before);
            whole.terminal().clearUpdateRange();
            oneByOne.terminal().clearUpdateRange();
            whole.feed(runs[run]);
            for (char byte : runs[run])
                oneByOne.feed(std::string_view(&byte, 1));
            EXPECT_EQ(describeDumpDifference(whole.dump(), oneByOne.dump()), "")
                << "mode " << mode << ", run " << run;
        }
    }
}

// Resets of the look (CSI 0 m and CSI m, which a whole chunk takes without the parameter fold,
// and the short text after them without the scan) between coloured words, among sequences that
// only look like them, looks whose reset changes the erase background, erases that use it and
// column-mode switches, fed whole and one byte per feed, which takes every sequence and run the
// general way: the dumps must be equal.
TEST(TerminalSplitFeedTests, SgrResetsMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        CSI "0m", CSI "m", CSI "0m", CSI "m", CSI "00m", CSI "0;m", CSI "0;4m", CSI "0:3m", CSI "0 m", CSI "?0m",
        CSI "0", CSI, ESC, CSI "31m", CSI "1;93;44m", CSI "48;5;9m", CSI "7m", CSI "38;2;1;2;3m", CSI "K",
        CSI "2J", "word", " ", "ab", "a\u00e9", "\u00e9", "b\x7f", "\r\n", "\x1b[0\r\n", CSI "?40h" CSI "?3h",
        CSI "?3l", CSI "?40l"};
    // clang-format on
    expectSequenceMixesMatchOneByteAtATime(pieces);
}

// Palette colours set one to a sequence (the parse loop reads `38;5;n m` and `48;5;n m` whole)
// between words, among sequences that only look like them (other numbers, colons, more
// parameters, a fourth digit, an empty number, another final byte, a sequence cut short), with
// the resets, erases and line ends of coloured output, fed whole and one byte per feed, which
// takes every sequence the general way: the dumps must be equal.
TEST(TerminalSplitFeedTests, PaletteColoursMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> pieces = {
        CSI "38;5;0m", CSI "38;5;7m", CSI "38;5;42m", CSI "38;5;255m", CSI "48;5;9m", CSI "48;5;196m",
        CSI "38;5;256m", CSI "38;5;999m", CSI "38;5;0042m", CSI "38;5;007m", CSI "38;5;m", CSI "38;5;12;1m",
        CSI "1;38;5;12m", CSI "38:5:12m", CSI "38;5:12m", CSI "58;5;3m", CSI "38;5;12H", CSI "38;5;1", CSI "38;5",
        CSI "48;5;3;38;5;4m", CSI "38;2;1;2;3m", CSI "49m", CSI "39m", CSI "0m", CSI "K", "word", " ", "ab",
        "\u00e9", "\u4E2D", "\r\n", CSI "?3h", CSI "?40h" CSI "?3h", CSI "?3l"};
    // clang-format on
    expectSequenceMixesMatchOneByteAtATime(pieces);
}

// Lines of text beyond ASCII, each ended by CR LF, which a whole chunk prints line after line in
// one go: lines starting with what joins the cell before it (a mark, a joiner, a selector, a skin
// tone, a vowel sign, a Hangul vowel) after lines ending in what it would join, short lines, lines
// with a long ASCII start, lines that fill the row or wrap, a sequence cut short at a line's end,
// a CR alone or two LFs before more text, and, between lines, an SGR, a translating set, margins
// and insert mode. Fed whole and one byte per feed: the dumps, update ranges included, must be
// equal.
TEST(TerminalSplitFeedTests, TextLinesMatchOneByteAtATime)
{
    // clang-format off
    const std::vector<std::string> starts = {
        "\u0301x", "\u200D\U0001F4BB", "\uFE0F!", "\U0001F3FD ", "\u093F\u0915", "\u1161\u11A8",
        "\U0001F1EF\U0001F1F5", "\u0915\u094D\u0937", "\u05E9\u05C1", "\u4E2D\u6587", "e\u0301",
        "\u00E9", "\u0645\u064E", "abcdefghijklmnopqrst\u00E9", "abc\u00E9", ""};
    const std::vector<std::string> ends = {
        "a", "\U0001F468", "\u2764", "\U0001F466", "\u0915", "\u1100", "\U0001F1EF", "\u0915\u094D",
        "\u4E2D", "\xE0\xA4", "\xF0\x9F\x98", " ", "\r\u00E8\u00E9\u00EA\u00EB",
        "\n\n\u00E8\u00E9\u00EA\u00EB", "\r\r\n\u00E8", ""};
    const std::vector<std::string> between = {
        "", "", "", "", "", CSI "44m", CSI "m", ESC "(0", ESC "(B", CSI "?69h" CSI "2;7s", CSI "?69l", CSI "4h",
        CSI "4l", "\r\n\r\n"};
    // clang-format on
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        SplitMix random(seed);
        CorpusEntry entry;
        entry.cols = 8 + static_cast<int>(seed % 3) * 9;
        entry.rows = 4;
        entry.scrollback = static_cast<int>(seed % 2) * 5;
        for (int i = 0; i < 200; ++i) {
            entry.bytes += starts[random.next() % starts.size()];
            for (uint64_t middle = random.next() % 4; middle > 0; --middle)
                entry.bytes += random.next() % 2 ? "\u05D0\u05D1 " : "\u30A2\u0928\u093E";
            entry.bytes += ends[random.next() % ends.size()];
            entry.bytes += "\r\n";
            entry.bytes += between[random.next() % between.size()];
        }
        EXPECT_EQ(differenceFromOneBytePerFeed(entry), "") << "seed " << seed;
    }
}

TEST(TerminalSplitFeedTests, DumpSeesWhatDiffersAndOnlyThat)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 10;
    options.rows = 3;

    // Attribute ids depend on the order the arena met the attributes; the dump decodes them.
    DumpedTerminal first(options);
    DumpedTerminal second(options);
    second.terminal().cellArena()->intern(Attribute(Attribute::Color::ansi256(2), Attribute::Color()));
    first.feed(CSI "31ma" CSI "32mb");
    second.feed(CSI "31ma" CSI "32mb");
    EXPECT_EQ(describeDumpDifference(first.dump(), second.dump()), "");

    // A different colour, a reply, a wrap flag, a saved cursor or a mode is seen.
    const std::string base = [&] {
        DumpedTerminal plain(options);
        plain.feed("ab");
        return plain.dump();
    }();
    for (const char* change : {CSI "33mab", "ab" CSI "6n" CSI "?25$p", "abcdefghijk", "ab" ESC "7",
                               "ab" CSI "?1h", "ab" OSC "2;t\x07",
                               "a\xcc\x81"
                               "b",
                               "ab\x07", "ab" ESC "(0"}) {
        DumpedTerminal changed(options);
        changed.feed(change);
        EXPECT_NE(changed.dump(), base) << escapeBytes(std::string_view(change));
    }
}

} // namespace
