// OSC 52 reads in the local-process view on the recording host: nothing is read or answered
// before the user allows it in the prompt; a denied read, and reads while the prompt is open, get
// no answer at all; an allowed one gets exactly one.

#include "Kestrovan/Apple/View/TerminalViewTestSupport.h"
#include "Kestrovan/Mac/LocalProcessTerminalView.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

std::vector<uint8_t> bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

struct ProcessViewFixture : ViewFixture
{
    ProcessViewFixture()
        : ViewFixture(TerminalOptions::defaults(), {640, 480},
                      [](platform::Size size, TerminalView::Configuration configuration) {
                          return LocalProcessTerminalView::create(size, std::move(configuration));
                      })
    {
        host->standardClipboard.takeOwnership({{"text/plain", bytes("secret")}});
        host->primaryClipboard.takeOwnership({{"text/plain", bytes("selected")}});
    }
    LocalProcessTerminalView& process() { return static_cast<LocalProcessTerminalView&>(*view); }
    /// The program asks for a clipboard; what it receives meanwhile.
    std::string ask(const std::string& selection = "c")
    {
        delegate->clearSent();
        feed("\x1b]52;" + selection + ";?\x07");
        settle();
        return delegate->sentText();
    }
    std::string answer(int button)
    {
        delegate->clearSent();
        host->answerAlert(button);
        settle();
        return delegate->sentText();
    }
};

TEST(MacClipboardTests, ProgramsReadTheClipboardOnlyAfterTheUserAllowed)
{
    ProcessViewFixture f;
    EXPECT_EQ(f.ask(), "") << "nothing before the user answers";
    ASSERT_EQ(f.host->openAlerts().size(), 1u);
    const platform::Alert prompt = f.host->openAlerts()[0];
    EXPECT_EQ(prompt.messageText, "Allow a program to read the clipboard?");
    EXPECT_EQ(prompt.buttons, (std::vector<std::string>{"Deny", "Allow"}));
    EXPECT_EQ(prompt.cancelButton, 0) << "Deny is what Return, Escape and closing give";
    EXPECT_EQ(prompt, LocalProcessTerminalView::clipboardReadAlert());

    // More reads while the prompt is open bring no second prompt and no answer, ever.
    EXPECT_EQ(f.ask(), "");
    EXPECT_EQ(f.ask("p"), "");
    EXPECT_EQ(f.host->openAlerts().size(), 1u);
    EXPECT_EQ(f.answer(0), "") << "denied: nothing";
    EXPECT_FALSE(f.process().clipboardReadPromptOpen());

    struct Case
    {
        std::string selection;
        int button;
        std::string sent;
    };
    const Case cases[] = {
        {"c", 1, "\x1b]52;c;c2VjcmV0\x1b\\"},
        {"p", 1, "\x1b]52;p;c2VsZWN0ZWQ=\x1b\\"},
        {"c", 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(f.ask(c.selection), "");
        ASSERT_EQ(f.host->openAlerts().size(), 1u);
        EXPECT_EQ(f.answer(c.button), c.sent) << c.selection << " " << c.button;
        EXPECT_EQ(f.delegate->sentCount(), c.sent.empty() ? 0u : 1u) << "one reply";
    }
    EXPECT_EQ(f.host->alerts.size(), 4u);
}

TEST(MacClipboardTests, AnAllowedReadOfAnEmptyClipboardStillAnswers)
{
    ProcessViewFixture f;
    f.host->standardClipboard.takeOwnership({});
    f.ask();
    EXPECT_EQ(f.answer(1), "\x1b]52;c;\x1b\\");
}

} // namespace
} // namespace kestrovan::testing
