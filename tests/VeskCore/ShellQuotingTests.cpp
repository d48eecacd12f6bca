// Shell words for dropped files, and the refusal of names the paste path would alter.
#include "VeskCore/ShellQuoting.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(ShellQuotingTests, DroppedFilesAreQuotedOrRefusedWhenThePastePathWouldAlterThem)
{
    const kestrovan::ByteSet& usual = kestrovan::TerminalPasteControls::approximateTerminalControlBytes();
    kestrovan::ByteSet ctrlA; // a terminal whose interrupt character is Ctrl-A, not Ctrl-C
    ctrlA.set(0x01);
    const struct
    {
        std::vector<std::string> paths;
        const kestrovan::ByteSet& controls;
        std::optional<std::string> text;
    } cases[] = {
        {{"/tmp/a-b_c.d,e:f@g%h+i=j", "/tmp/b c"}, usual, "/tmp/a-b_c.d,e:f@g%h+i=j '/tmp/b c' "},
        {{"/tmp/it's", "/tmp/$(x)~"}, usual, "'/tmp/it'\\''s' '/tmp/$(x)~' "},
        {{"/tmp/dir//", "/", "/tmp/./x/../y", ""}, usual, "/tmp/dir / /tmp/y '' "},
        {{"/tmp/\u00e9t\u00e9", "/tmp/a\tb"}, usual, "'/tmp/\u00e9t\u00e9' '/tmp/a\tb' "},
        {{}, usual, ""},
        {{"/tmp/a\x03"
          "b"},
         usual,
         std::nullopt},
        {{"/tmp/a\x17"
          "b"},
         usual,
         std::nullopt},
        {{"/tmp/ok", "/tmp/a\x1b[201~b"}, usual, std::nullopt},
        {{"/tmp/a\x7f\x08"
          "b"},
         usual,
         std::nullopt},
        {{"/tmp/a\nb"}, usual, std::nullopt},
        {{"/tmp/a\rb"}, usual, std::nullopt},
        {{"/tmp/\xff"}, usual, std::nullopt},
        {{"/tmp/a\x01"
          "b"},
         ctrlA,
         std::nullopt},
        {{"/tmp/a\x03"
          "b"},
         ctrlA,
         "'/tmp/a\x03"
         "b' "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShellQuoting::droppedFilesText(c.paths, c.controls), c.text)
            << ::testing::PrintToString(c.paths);
}

} // namespace
} // namespace vesk
