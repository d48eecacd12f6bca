// Shell words for dropped files, and the refusal of names the paste path would alter.
#include "VeskCore/ShellQuoting.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

using kestrovan::ByteSet;
using kestrovan::TerminalPasteControls;

TEST(ShellQuotingTests, PlainWordsStayBareAndOthersAreSingleQuoted)
{
    const struct
    {
        std::string text;
        std::string word;
    } cases[] = {
        {"", "''"},
        {"/tmp/a-b_c.d,e:f@g%h+i=j", "/tmp/a-b_c.d,e:f@g%h+i=j"},
        {"/tmp/b c", "'/tmp/b c'"},
        {"it's", "'it'\\''s'"},
        {"/tmp/caf\u00e9", "'/tmp/caf\u00e9'"},
        {"~/x", "'~/x'"},
        {"$(reboot)", "'$(reboot)'"},
        {"a\tb", "'a\tb'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShellQuoting::argument(c.text), c.word) << c.text;
}

TEST(ShellQuotingTests, DroppedFilesAreQuotedOrRefusedWhenThePastePathWouldAlterThem)
{
    const ByteSet& usual = TerminalPasteControls::approximateTerminalControlBytes();
    // A terminal whose interrupt character is Ctrl-A rather than Ctrl-C.
    ByteSet ctrlA;
    ctrlA.set(0x01);
    const struct
    {
        std::string name;
        std::vector<std::string> paths;
        const ByteSet& controls;
        std::optional<std::string> text;
    } cases[] = {
        {"two files", {"/tmp/a", "/tmp/b c"}, usual, "/tmp/a '/tmp/b c' "},
        {"a folder's trailing slashes", {"/tmp/dir//"}, usual, "/tmp/dir "},
        {"the root", {"/"}, usual, "/ "},
        {"dot components", {"/tmp/./x/../y"}, usual, "/tmp/y "},
        {"above the root", {"/../tmp"}, usual, "/tmp "},
        {"non-ASCII", {"/tmp/\u00e9t\u00e9"}, usual, "'/tmp/\u00e9t\u00e9' "},
        {"a tab, which pastes as it is", {"/tmp/a\tb"}, usual, "'/tmp/a\tb' "},
        {"no files", {}, usual, ""},
        {"Ctrl-C",
         {"/tmp/a\x03"
          "b"},
         usual,
         std::nullopt},
        {"Ctrl-W (word erase)",
         {"/tmp/a\x17"
          "b"},
         usual,
         std::nullopt},
        {"ESC", {"/tmp/a\x1b[201~b"}, usual, std::nullopt},
        {"DEL",
         {"/tmp/a\x7f"
          "b"},
         usual,
         std::nullopt},
        {"backspace",
         {"/tmp/a\x08"
          "b"},
         usual,
         std::nullopt},
        {"line feed", {"/tmp/a\nb"}, usual, std::nullopt},
        {"carriage return", {"/tmp/a\rb"}, usual, std::nullopt},
        {"not UTF-8", {"/tmp/\xff"}, usual, std::nullopt},
        {"one bad name refuses the drop",
         {"/tmp/ok", "/tmp/a\x1b"
                     "b"},
         usual,
         std::nullopt},
        {"this terminal's interrupt",
         {"/tmp/a\x01"
          "b"},
         ctrlA,
         std::nullopt},
        {"not this terminal's interrupt",
         {"/tmp/a\x03"
          "b"},
         ctrlA,
         "'/tmp/a\x03"
         "b' "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShellQuoting::droppedFilesText(c.paths, c.controls), c.text) << c.name;
}

} // namespace
} // namespace vesk
