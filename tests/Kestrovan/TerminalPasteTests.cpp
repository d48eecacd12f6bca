// The paste encoder: control bytes filtered, line ends of unbracketed pastes, bracketed-paste
// markers, the safety test; and the terminal's paste of text through its clipboard protocol.
#include "RecordingTerminalDelegate.h"
#include "TestSupport.h"

#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/TerminalPaste.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace kestrovan::testing {
namespace {

/// The encoded text, or "<rejected>".
std::string encode(std::string_view paste, bool bracketed, bool allowUnsafe,
                   const ByteSet& controls = TerminalPasteControls::approximateTerminalControlBytes())
{
    const TerminalPaste::Result result =
        TerminalPaste::encode(bytesOf(paste), bracketed, controls, allowUnsafe);
    if (const auto* encoded = std::get_if<TerminalPaste::Encoded>(&result))
        return std::string(encoded->bytes.begin(), encoded->bytes.end());
    return "<rejected>";
}

const std::string start = "\x1b[200~";
const std::string end = "\x1b[201~";

TEST(TerminalPasteTests, ControlByteSets)
{
    const ByteSet& fixed = TerminalPasteControls::fixedDisallowedBytes();
    EXPECT_EQ(fixed.count(), 6u);
    for (uint8_t byte : {0x00, 0x04, 0x05, 0x08, 0x1B, 0x7F})
        EXPECT_TRUE(fixed.test(byte)) << "fixed set holds " << int(byte);

    const ByteSet& approximate = TerminalPasteControls::approximateTerminalControlBytes();
    EXPECT_EQ(approximate.count(), 10u);
    for (uint8_t byte : {0x03, 0x0F, 0x11, 0x12, 0x13, 0x15, 0x16, 0x17, 0x1A, 0x1C})
        EXPECT_TRUE(approximate.test(byte)) << "approximate set holds " << int(byte);
}

TEST(TerminalPasteTests, EmptyAndPlainPastes)
{
    EXPECT_EQ(encode("", false, false), "");
    EXPECT_EQ(encode("", true, false), start + end) << "an empty bracketed paste is the two markers";
    EXPECT_EQ(encode("echo hi", false, false), "echo hi");
    EXPECT_EQ(encode("echo hi", true, false), start + "echo hi" + end);
    EXPECT_EQ(encode("caf\xC3\xA9 \xE6\x97\xA5", false, false), "caf\xC3\xA9 \xE6\x97\xA5") << "UTF-8 passes";
}

TEST(TerminalPasteTests, LineEnds)
{
    EXPECT_EQ(encode("a\nb", false, false), "<rejected>") << "an unbracketed line feed would run the line";
    EXPECT_EQ(encode("a\nb", false, true), "a\rb")
        << "allowed, the line feed becomes Enter's carriage return";
    EXPECT_EQ(encode("a\nb", true, false), start + "a\nb" + end) << "bracketed, it stays a line feed";
    EXPECT_EQ(encode("a\r\nb", false, true), "a\r\rb") << "carriage returns pass unchanged";
    EXPECT_EQ(encode("a\r\nb", true, false), start + "a\r\nb" + end);
}

TEST(TerminalPasteTests, BareCarriageReturnIsUnsafeWithoutBrackets)
{
    // Input: "rm -rf ~" and a bare carriage return, pasted without bracketed-paste mode.
    // Old result: judged safe (the test looked for line feeds only) and sent, so the shell ran it.
    // A carriage return is what Enter sends; it submits the line as surely as a line feed.
    EXPECT_TRUE(TerminalPaste::isUnsafe(bytesOf("rm -rf ~\r"), false));
    EXPECT_EQ(encode("rm -rf ~\r", false, false), "<rejected>");
    EXPECT_EQ(encode("\r", false, false), "<rejected>");
    EXPECT_EQ(encode("rm -rf ~\r", false, true), "rm -rf ~\r") << "allowed, the encoding is unchanged";
    EXPECT_FALSE(TerminalPaste::isUnsafe(bytesOf("rm -rf ~\r"), true)) << "brackets keep it from running";
    EXPECT_EQ(encode("rm -rf ~\r", true, false), start + "rm -rf ~\r" + end);
}

TEST(TerminalPasteTests, EndMarkerCannotCloseThePasteEarly)
{
    const std::string smuggled = "safe" + end + "rm -rf ~\n";
    EXPECT_TRUE(TerminalPaste::isUnsafe(bytesOf(smuggled), true));
    EXPECT_EQ(encode(smuggled, true, false), "<rejected>") << "rejected even when bracketed";
    EXPECT_EQ(encode(smuggled, true, true), start + "safe [201~rm -rf ~\n" + end)
        << "allowed, its ESC becomes a space and the marker no longer ends the paste";
    EXPECT_EQ(encode("x" + end, false, false), "<rejected>") << "unbracketed too";

    EXPECT_FALSE(TerminalPaste::isUnsafe(bytesOf("\x1b[201"), true)) << "an incomplete marker is not one";
    EXPECT_FALSE(TerminalPaste::isUnsafe(bytesOf(start), true)) << "the start marker alone is safe";
    EXPECT_EQ(encode(start, true, false), start + " [200~" + end) << "but its ESC is still filtered";
}

TEST(TerminalPasteTests, ControlBytesBecomeSpaces)
{
    EXPECT_EQ(encode("a\tb", false, false), "a\tb") << "tab passes";
    EXPECT_EQ(encode(std::string("\x1b\x7f\x08\x00\x04\x05", 6), false, false), "      ")
        << "ESC, DEL, BS, NUL, EOT, ENQ always become spaces";
    EXPECT_EQ(encode("a\x03z", false, false), "a z") << "Ctrl-C in the control set";
    EXPECT_EQ(encode("a\x03z", false, false, ByteSet()), "a\x03z") << "Ctrl-C outside the control set";
    ByteSet custom;
    custom.set('z');
    EXPECT_EQ(encode("a\x1bz", true, false, custom), start + "a  " + end) << "the caller's set is honoured";

    // Every byte value, once: exactly the filtered bytes change, one byte for one, and the
    // length is the input's (plus the twelve marker bytes when bracketed).
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all.push_back(static_cast<char>(byte));
    for (bool bracketed : {false, true}) {
        std::string out = encode(all, bracketed, true);
        ASSERT_EQ(out.size(), 256u + (bracketed ? 12u : 0u));
        if (bracketed) {
            EXPECT_EQ(out.substr(0, 6), start);
            EXPECT_EQ(out.substr(262), end);
            out = out.substr(6, 256);
        }
        const std::string spaced = {0x00, 0x03, 0x04, 0x05, 0x08, 0x0F, 0x11, 0x12,
                                    0x13, 0x15, 0x16, 0x17, 0x1A, 0x1B, 0x1C, 0x7F};
        for (int byte = 0; byte < 256; ++byte) {
            char expected = static_cast<char>(byte);
            if (spaced.find(static_cast<char>(byte)) != std::string::npos)
                expected = ' ';
            else if (byte == '\n' && !bracketed)
                expected = '\r';
            EXPECT_EQ(out[static_cast<size_t>(byte)], expected)
                << "byte " << byte << (bracketed ? " bracketed" : " unbracketed");
        }
    }
}

/// A host whose pseudo-terminal treats 'q' as special, and only that.
class QuitKeyDelegate : public RecordingTerminalDelegate
{
public:
    ByteSet terminalControlBytesForPaste(Terminal&) override
    {
        ByteSet set;
        set.set('q');
        return set;
    }
};

TEST(TerminalPasteTests, TerminalPastesTextThroughTheEncoder)
{
    TerminalFixture f;
    Terminal& t = f.t();

    TerminalPasteRequest request;
    request.text = "ls\n";
    EXPECT_EQ(t.paste(request, false), TerminalPasteResult::rejected);
    EXPECT_TRUE(f.delegate->sends.empty()) << "a rejected paste sends nothing";

    EXPECT_EQ(t.paste(request, true), TerminalPasteResult::textSent);
    EXPECT_EQ(f.delegate->sent(), "ls\r");

    f.delegate->sends.clear();
    t.feed("\x1b[?2004h");
    request.text = "ls\n\x03";
    EXPECT_EQ(t.paste(request, false), TerminalPasteResult::textSent);
    ASSERT_EQ(f.delegate->sends.size(), 1u) << "one paste, one write";
    EXPECT_EQ(f.delegate->sent(), start + "ls\n " + end) << "bracketed, with the default control bytes";

    // A request with a clipboard snapshot falls back to its text; without text it fails, so the
    // caller can offer the text instead.
    f.delegate->sends.clear();
    request.snapshot = TerminalClipboardSnapshot();
    request.text = "x";
    EXPECT_EQ(t.paste(request, false), TerminalPasteResult::textSent);
    request.text.reset();
    EXPECT_EQ(t.paste(request, false), TerminalPasteResult::failed);
    EXPECT_EQ(f.delegate->sent(), start + "x" + end);
}

TEST(TerminalPasteTests, TerminalPasteUsesTheHostsControlBytes)
{
    auto delegate = std::make_shared<QuitKeyDelegate>();
    auto terminal = Terminal::create(delegate);
    TerminalPasteRequest request;
    request.text = "q\x03!";
    EXPECT_EQ(terminal->paste(request, false), TerminalPasteResult::textSent);
    EXPECT_EQ(delegate->sent(), " \x03!") << "the host's set replaces the approximate one";
}

TEST(TerminalPasteTests, PasteWithoutHostOrTerminalFails)
{
    TerminalPasteRequest request;
    request.text = "echo";

    // The host has gone: nothing can reach the program, so nothing is reported as sent.
    auto delegate = std::make_shared<RecordingTerminalDelegate>();
    auto terminal = Terminal::create(delegate);
    delegate.reset();
    EXPECT_EQ(terminal->paste(request, false), TerminalPasteResult::failed);
    request.text = "echo\n";
    EXPECT_EQ(terminal->paste(request, false), TerminalPasteResult::rejected)
        << "unsafe text is still refused";

    // The terminal has gone.
    auto protocol = std::make_shared<KittyClipboardProtocol>(terminal);
    terminal.reset();
    request.text = "echo";
    EXPECT_EQ(protocol->paste(request, false), TerminalPasteResult::failed);
}

} // namespace
} // namespace kestrovan::testing
