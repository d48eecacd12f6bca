// Copy, paste and OSC 52 in a local-process view on a private X server, checked from outside with
// xclip: Ctrl+Shift+C fills the clipboard and leaves the primary selection alone; Ctrl+Shift+V
// pastes xclip's text, bracketed; a program's copy reaches the X clipboard; a program's read waits
// for the user's answer; with paste events on, a paste sends the event and its token, and the token
// reads nothing once another program took the clipboard.

#include "TerminalGuiFixture.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/UI/GtkClipboard.h"

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using guitest::fileText;
using guitest::outputOf;
using guitest::spinUntil;

std::string base64(const std::string& text)
{
    return kestrovan::base64Encode(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

/// A host that lets programs use both clipboards through the clipboard protocol.
class GrantingDelegate final : public kestrovan::LocalProcessTerminalViewDelegate
{
public:
    void sizeChanged(kestrovan::LocalProcessTerminalView&, int, int) override {}
    void setTerminalTitle(kestrovan::LocalProcessTerminalView&, const std::string&) override {}
    void hostCurrentDirectoryUpdate(kestrovan::TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(kestrovan::TerminalView&, std::optional<int32_t>) override {}
    kestrovan::KittyClipboardCapabilities kittyClipboardCapabilities(kestrovan::TerminalView&) override
    {
        return kestrovan::KittyClipboardCapabilities::all;
    }
};

class ClipboardGuiTests : public guitest::TerminalGuiTest
{
protected:
    void SetUp() override
    {
        TerminalGuiTest::SetUp();
        if (IsSkipped())
            return;
        if (std::system("command -v xclip >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xclip is not installed";
    }
    /// xclip offers `text` on a selection ("clipboard" or "primary") from the background.
    void offer(const std::string& text, const std::string& selection = "clipboard")
    {
        ASSERT_TRUE(guitest::offerSelection(selection, text)) << "xclip never took the " << selection;
    }
    std::string xclipOut(const std::string& selection)
    {
        return outputOf("xclip -o -selection " + selection + " 2>/dev/null");
    }
    /// A program that records, raw and unechoed, every byte it receives into `file`, after
    /// printing `setup`.
    void record(const std::string& file, const std::string& setup = "")
    {
        run("stty raw -echo; printf '" + setup + "ready\\r\\n'; exec cat > '" + file + "'");
        ASSERT_GE(waitForRow("ready"), 0);
    }
    guitest::TemporaryDirectory directory;
};

TEST_F(ClipboardGuiTests, CopyFillsTheClipboardAndLeavesPrimaryAlone)
{
    open(400, 200);
    run("printf 'copy me please\\r\\n'; exec sleep 60");
    ASSERT_GE(waitForRow("copy me"), 0);
    offer("primary before", "primary");
    view->withTerminal(
        [&](kestrovan::Terminal&) {
            view->selection()->setSelection(kestrovan::Position(0, 0), kestrovan::Position(7, 0));
        },
        "test");
    key("ctrl+shift+c");
    std::string copied;
    EXPECT_TRUE(spinUntil([&] { return (copied = xclipOut("clipboard")) == "copy me"; }, 10s)) << copied;
    EXPECT_EQ(xclipOut("primary"), "primary before");
}

TEST_F(ClipboardGuiTests, ACopyPastesBackIntoTheViewThatMadeIt)
{
    // The copied text is offered from this process itself: the paste reads it back from there.
    open(400, 200);
    const std::string file = directory.path + "/received";
    record(file, "caf\xc3\xa9 au lait\\r\\n");
    const int row = waitForRow("caf\xc3\xa9 au lait");
    ASSERT_GE(row, 0);
    view->withTerminal(
        [&](kestrovan::Terminal& terminal) {
            const int top = terminal.buffer().yDisp() + row;
            view->selection()->setSelection(kestrovan::Position(0, top), kestrovan::Position(12, top));
        },
        "test");
    key("ctrl+shift+c");
    std::string copied;
    EXPECT_TRUE(spinUntil([&] { return (copied = xclipOut("clipboard")) == "caf\xc3\xa9 au lait"; }, 10s))
        << copied;
    key("ctrl+shift+v");
    EXPECT_TRUE(spinUntil([&] { return fileText(file) == "caf\xc3\xa9 au lait"; }, 10s)) << fileText(file);
}

TEST_F(ClipboardGuiTests, PasteIsXclipsTextBracketed)
{
    open(400, 200);
    const std::string file = directory.path + "/received";
    record(file, "\\033[?2004h");
    offer("from xclip");
    key("ctrl+shift+v");
    EXPECT_TRUE(spinUntil([&] { return fileText(file) == "\x1b[200~from xclip\x1b[201~"; }, 10s))
        << fileText(file);
}

TEST_F(ClipboardGuiTests, AProgramsCopyReachesTheXClipboard)
{
    open(400, 200);
    // "copied ✓" in base64, then the program stays so that its view lives on.
    run("printf '\\033]52;c;Y29waWVkIOKckw==\\007'; sleep 30");
    std::string pasted;
    ASSERT_TRUE(spinUntil([&] { return (pasted = xclipOut("clipboard")) == "copied ✓"; }, 10s)) << pasted;
}

TEST_F(ClipboardGuiTests, AProgramsReadWaitsForTheUsersAnswer)
{
    open(400, 200);
    offer("from xclip");
    const std::string file = directory.path + "/reply";
    record(file, "\\033]52;c;?\\007");
    const std::string prompt = "Allow a program to read the clipboard?";
    auto answer = [&](const std::string& keys) {
        GtkWindow* alert = nullptr;
        if (!spinUntil([&] {
                return (alert = guitest::windowTitled(prompt)) && gtk_widget_get_mapped(GTK_WIDGET(alert));
            }))
            return false;
        guitest::xdotool("windowfocus --sync " + std::to_string(guitest::windowXid(alert)));
        guitest::xdotool("key " + keys);
        return spinUntil([&] { return guitest::windowTitled(prompt) == nullptr; });
    };
    // Return is "Deny": nothing is sent.
    ASSERT_TRUE(answer("Return"));
    // The program asks again; "Allow" (the focus moved to it, Space pressed) sends one answer.
    view->feed(std::string_view("\x1b]52;c;?\x07"));
    ASSERT_TRUE(answer("Tab space"));
    const std::string expected = "\x1b]52;c;" + base64("from xclip") + "\x1b\\";
    EXPECT_TRUE(spinUntil([&] { return fileText(file) == expected; }, 10s)) << fileText(file);
}

TEST_F(ClipboardGuiTests, PasteEventsSendATokenThatReadsOnlyTheClipboardItAdvertised)
{
    kestrovan::TerminalView::Configuration configuration;
    configuration.options.kittyClipboardPolicy = kestrovan::KittyClipboardPolicy::all;
    open(400, 200, configuration);
    auto delegate = std::make_shared<GrantingDelegate>();
    view->setProcessDelegate(delegate);
    const std::string file = directory.path + "/received";
    record(file, "\\033[?5522h");

    // A paste: the event and its token, never the text.
    auto pasteToken = [&]() -> std::string {
        const size_t before = fileText(file).size();
        key("ctrl+shift+v");
        std::string token;
        spinUntil(
            [&] {
                const std::string received = fileText(file).substr(before);
                const size_t field = received.find(":pw=");
                const size_t end = field == std::string::npos ? field : received.find('\x1b', field);
                if (end == std::string::npos || received.find("status=DONE") == std::string::npos)
                    return false;
                token = received.substr(field + 4, end - field - 4);
                return true;
            },
            10s);
        return token;
    };
    // The program reads with the token (the test writes its request as the program would).
    auto readWith = [&](const std::string& token) {
        const size_t before = fileText(file).size();
        view->feed("\x1b]5522;type=read:id=p:name=" + base64("test") + ":pw=" + token + ";" +
                   base64("text/plain") + "\x1b\\");
        std::string reply;
        spinUntil(
            [&] {
                reply = fileText(file).substr(before);
                return reply.find("status=DONE") != std::string::npos ||
                       reply.find("status=ENOSYS") != std::string::npos;
            },
            10s);
        return reply;
    };

    offer("advertised");
    ASSERT_TRUE(spinUntil([&] {
        return view->systemClipboard(kestrovan::KittyClipboardLocation::standard)->formats().size() > 0;
    }));
    const std::string first = pasteToken();
    ASSERT_FALSE(first.empty()) << fileText(file);
    EXPECT_EQ(fileText(file).find("advertised"), std::string::npos) << "no text in a paste event";
    EXPECT_NE(readWith(first).find(";" + base64("advertised") + "\x1b\\"), std::string::npos);

    // Another program takes the clipboard after the paste: the token reads nothing (ENOSYS).
    const std::string second = pasteToken();
    ASSERT_FALSE(second.empty());
    platform::Clipboard* clipboard = view->systemClipboard(kestrovan::KittyClipboardLocation::standard);
    const uint64_t changes = clipboard->changeCount();
    offer("changed");
    ASSERT_TRUE(spinUntil([&] { return clipboard->changeCount() != changes; }));
    EXPECT_EQ(readWith(second), "\x1b]5522;type=read:status=ENOSYS:id=p\x1b\\");
}

} // namespace
