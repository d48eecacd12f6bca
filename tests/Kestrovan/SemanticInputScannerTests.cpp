// The scan of user input for a submitted command line: Enter in each encoding, outside a
// bracketed paste, and sequences split over several sends.
#include "Kestrovan/SemanticInputScanner.h"

#include <gtest/gtest.h>
#include <span>
#include <string>
#include <string_view>

namespace kestrovan {
namespace {

std::span<const uint8_t> bytesOf(std::string_view text)
{
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(SemanticInputScannerTests, EnterIsFoundInEachEncoding)
{
    SemanticInputScanner scanner;
    struct Case
    {
        std::string input;
        bool submits;
        const char* what;
    };
    const Case cases[] = {
        {"ls\r", true, "CR"},
        {"ls\n", true, "LF"},
        {"ls", false, "plain text"},
        {"\x1bOM", true, "keypad Enter (SS3 M)"},
        {"\x1bOA", false, "SS3 A"},
        {"\x1b[13u", true, "kitty Enter"},
        {"\x1b[13;5u", true, "kitty ctrl-Enter"},
        {"\x1b[13;1:1u", true, "kitty Enter press"},
        {"\x1b[13;1:2u", true, "kitty Enter repeat"},
        {"\x1b[13;1:3u", false, "kitty Enter release"},
        {"\x1b[13:13;2u", true, "kitty Enter with an alternate key"},
        {"\x1b[13;1:u", true, "kitty Enter with an empty event type"},
        {"\x1b[113u", false, "another kitty key"},
        {"\x1b[1;13u", false, "13 as a modifier"},
        {"\x1b[13~", false, "another final byte"},
        {"\x1b\x1b[13u", true, "ESC ESC stays in escape"},
        {"\x1bx\x1b[13u", true, "an ESC sequence, then kitty Enter"},
        {"\x1b[200~ls\r\x1b[201~", false, "CR inside a bracketed paste"},
        {"\x1b[200~a\nb\x1b[201~", false, "LF inside a bracketed paste"},
        {"\x1b[200~\x1bOM\x1b[13u\x1b[201~", false, "key reports inside a bracketed paste are pasted text"},
        {"\x1b[200~ls\x1b[201~\r", true, "CR after the paste"},
        {"\x1b[1\r", true, "CR ends an unfinished CSI"},
    };
    for (const Case& c : cases) {
        scanner.reset();
        EXPECT_EQ(scanner.scan(bytesOf(c.input)), c.submits) << c.what;
    }

    // The state carries over between calls: sequences may arrive in pieces.
    scanner.reset();
    EXPECT_FALSE(scanner.scan(bytesOf("\x1b")));
    EXPECT_FALSE(scanner.scan(bytesOf("[1")));
    EXPECT_TRUE(scanner.scan(bytesOf("3u"))) << "a kitty Enter split over three sends";
    EXPECT_FALSE(scanner.scan(bytesOf("\x1bO")));
    EXPECT_TRUE(scanner.scan(bytesOf("M")));
    EXPECT_FALSE(scanner.scan(bytesOf("\x1b[20")));
    EXPECT_FALSE(scanner.scan(bytesOf("0~ls")));
    EXPECT_FALSE(scanner.scan(bytesOf("\r"))) << "still inside the paste";
    EXPECT_FALSE(scanner.scan(bytesOf("\x1b[201")));
    EXPECT_TRUE(scanner.scan(bytesOf("~\r")));

    // Parameter bytes past 32 are dropped: the release type of this report falls beyond them,
    // so it reads as a press.
    const std::string longRelease = "\x1b[13:" + std::string(27, '1') + ";1:3u";
    scanner.reset();
    EXPECT_TRUE(scanner.scan(bytesOf(longRelease)));
    EXPECT_EQ(scanner.params().size(), SemanticInputScanner::maximumParams);
    EXPECT_EQ(scanner.state(), SemanticInputScanner::State::ground);
}

} // namespace
} // namespace kestrovan
