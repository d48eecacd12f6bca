// Links in the window-system half's view on the recording host: the highlight and the preview
// label under the pointer as the link modifier (Ctrl or Super) comes and goes, and a click opening
// a link through the policy: at once, after a confirmation, or refused with a notice.

#include "Kestrovan/Mac/MacViewTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestrovan::testing {
namespace {

using platform::ModifierFlags;

const ModifierFlags control{ModifierFlags::control};
const ModifierFlags super{ModifierFlags::command};

/// A view whose shell is in a directory of the test's choosing.
class ViewInDirectory : public MacTerminalView
{
public:
    using MacTerminalView::MacTerminalView;
    std::optional<std::string> linkWorkingDirectory() const override { return directory; }
    std::optional<std::string> directory;
};

struct LinkFixture : MacViewFixtureOf<ViewInDirectory>
{
    LinkFixture()
    {
        mac().openURL = [this](const std::string& url) { opened.push_back(url); };
        mac().linkApplicationName = [](const std::string&) { return std::optional<std::string>("Browser"); };
    }
    /// The modifier key goes down or up, as the widget reports a modifier change.
    void modifier(bool down)
    {
        platform::KeyEvent event;
        event.type = platform::KeyEventType::flagsChanged;
        event.modifierFlags = down ? control : ModifierFlags{};
        host->deliverKey(event);
        settle();
    }
    std::optional<std::vector<LinkMatch::RowRange>> highlight() { return view->linkHighlightRange(); }
    std::string preview() { return view->urlPreview ? view->urlPreview->text() : "<none>"; }

    /// The links the host was asked to open (the recording host notes them, opening none).
    std::vector<std::string> asked()
    {
        std::vector<std::string> links;
        for (const std::string& event : delegate->events)
            if (event.rfind("open ", 0) == 0)
                links.push_back(event.substr(5));
        return links;
    }
    /// The links the view itself opened.
    std::vector<std::string> opened;
};

std::vector<LinkMatch::RowRange> columns(int64_t row, int start, int end)
{
    return {LinkMatch::RowRange{row, LinkMatch::ColumnRange{start, end}}};
}

TEST(MacLinkTests, TheModifierShowsTheHighlightAndPreviewWherePointerRests)
{
    LinkFixture f;
    f.feed("\x1b]8;;https://example.org/a\x1b\\site\x1b]8;;\x1b\\ and https://plain.example\r\n");
    f.pointAt(1, 0);
    EXPECT_EQ(f.highlight(), std::nullopt) << "no modifier, no highlight";
    EXPECT_EQ(f.preview(), "<none>");

    // Ctrl goes down while the pointer rests on the link: both show without a move.
    f.modifier(true);
    EXPECT_TRUE(f.view->commandActive());
    EXPECT_EQ(f.highlight(), columns(0, 0, 4));
    EXPECT_EQ(f.preview(), "https://example.org/a");
    const std::shared_ptr<platform::RecordingLabel> label = f.host->labels.back();
    EXPECT_EQ(label->fontFamily, "sans-serif");
    EXPECT_EQ(label->fontSize, 12);
    EXPECT_EQ(label->textColor, f.view->nativeBackgroundColor()) << "the default colours, inverted";
    EXPECT_EQ(label->backgroundColor, f.view->nativeForegroundColor());
    EXPECT_EQ(label->frame().x, 0);
    EXPECT_EQ(label->frame().y, 0) << "the bottom-left corner";
    EXPECT_EQ(label->frame().width, label->fittingSize().width);

    // Moving within the link redraws nothing; onto a plain URL the highlight moves, no preview.
    f.host->redrawRects.clear();
    f.pointAt(2, 0, control);
    EXPECT_EQ(f.highlight(), columns(0, 0, 4));
    f.pointAt(12, 0, control);
    EXPECT_EQ(f.highlight(), columns(0, 9, 30));
    EXPECT_EQ(f.preview(), "<none>");

    // Releasing the modifier takes both away.
    f.pointAt(1, 0, control);
    EXPECT_EQ(f.preview(), "https://example.org/a");
    f.modifier(false);
    EXPECT_FALSE(f.view->commandActive());
    EXPECT_EQ(f.highlight(), std::nullopt);
    EXPECT_EQ(f.preview(), "<none>");
    EXPECT_TRUE(f.host->labels.back()->view.removed);
}

TEST(MacLinkTests, ThePointersOwnModifierCountsWithoutTheKeyboardFocus)
{
    LinkFixture f;
    f.host->setFocus(false);
    f.feed("\x1b]8;;ssh://host\x1b\\ssh\x1b]8;;\x1b\\\r\n");
    struct Step
    {
        ModifierFlags flags;
        bool highlighted;
    };
    // Super counts as Ctrl does; a motion without either ends the state a lost release left.
    const Step steps[] = {{control, true}, {{}, false}, {super, true}, {{}, false}};
    for (const Step& step : steps) {
        f.pointAt(0, 0, step.flags);
        EXPECT_EQ(f.highlight().has_value(), step.highlighted) << step.flags.raw;
        EXPECT_EQ(f.view->commandActive(), step.highlighted);
    }
    // Leaving the view ends it too.
    f.pointAt(0, 0, control);
    platform::MouseEvent exited;
    exited.type = platform::MouseEventType::exited;
    f.view->mouseEvent(exited);
    EXPECT_FALSE(f.view->commandActive());
    EXPECT_EQ(f.highlight(), std::nullopt);
}

TEST(MacLinkTests, TheLinkUnderThePointerIsNotedAsReportingAsks)
{
    struct Case
    {
        LinkReporting reporting;
        int column;
        std::optional<std::string> noted;
    };
    const Case cases[] = {
        {LinkReporting::implicit, 1, "https://example.org/a"},
        {LinkReporting::implicit, 12, "https://plain.example"},
        {LinkReporting::explicit_, 1, "https://example.org/a"},
        {LinkReporting::explicit_, 12, std::nullopt},
        {LinkReporting::none, 1, std::nullopt},
        {LinkReporting::implicit, 6, std::nullopt},
    };
    for (const Case& c : cases) {
        LinkFixture f;
        f.mac().linkReporting = c.reporting;
        f.feed("\x1b]8;;https://example.org/a\x1b\\site\x1b]8;;\x1b\\ and https://plain.example\r\n");
        f.pointAt(c.column, 0, control);
        EXPECT_EQ(f.mac().lastReportedLink(), c.noted) << c.column;
        f.modifier(false);
        EXPECT_EQ(f.mac().lastReportedLink(), std::nullopt) << "forgotten with the modifier";
    }
}

TEST(MacLinkTests, PreviewsFollowTheOsc8Switch)
{
    LinkFixture f;
    f.feed("\x1b]8;;file:///tmp/../tmp\x1b\\tmp\x1b]8;;\x1b\\\r\n");
    f.pointAt(0, 0, control);
    EXPECT_EQ(f.preview(), "/tmp") << "a file link shows the path that would open";
    f.view->setEnableOsc8Hyperlinks(false);
    f.settle();
    f.pointAt(1, 0, control);
    EXPECT_EQ(f.preview(), "<none>");
}

TEST(MacLinkTests, ClicksOpenConfirmOrRefuse)
{
    char pattern[] = "/tmp/vesk-click-XXXXXX";
    const std::string root = mkdtemp(pattern);
    std::ofstream(root + "/notes.txt") << "text\n";
    std::ofstream(root + "/run.sh") << "echo hi\n";
    const std::string notes = "file://" + root + "/notes.txt";

    struct Case
    {
        std::string output;
        ModifierFlags flags;
        /// The alert's informative text, or empty for none.
        std::string alert;
        /// The button the user answers with.
        int answer;
        std::vector<std::string> opened;
    };
    const std::string confirmation =
        "This link will open in Browser. Open it only if you trust the destination.";
    const Case cases[] = {
        {"\x1b]8;;https://example.org\x1b\\web\x1b]8;;\x1b\\", control, "", 0, {"https://example.org"}},
        {"\x1b]8;;https://example.org\x1b\\web\x1b]8;;\x1b\\", {}, "", 0, {}},
        {"\x1b]8;;ssh://host\x1b\\ssh\x1b]8;;\x1b\\", control, confirmation, 0, {}},
        {"\x1b]8;;ssh://host\x1b\\ssh\x1b]8;;\x1b\\", super, confirmation, 1, {"ssh://host"}},
        {"\x1b]8;;file://" + root + "/run.sh\x1b\\run\x1b]8;;\x1b\\",
         control,
         "This local target can run code.",
         0,
         {}},
        // A path printed as text opens from the shell's directory.
        {"./notes.txt", control, "", 0, {notes}},
        {"./notes.txt:7:2", control, "", 0, {notes}},
        {"./missing.txt", control, "The target is not an absolute URL with a scheme.", 0, {}},
        // A program's own link is never resolved against any directory.
        {"\x1b]8;;notes.txt\x1b\\notes\x1b]8;;\x1b\\",
         control,
         "The target is not an absolute URL with a scheme.",
         0,
         {}},
    };
    for (const Case& c : cases) {
        LinkFixture f;
        f.mac().directory = root;
        f.feed(c.output + "\r\n");
        f.pointAt(1, 0, c.flags);
        f.click(1, 0, c.flags);
        const std::vector<platform::Alert> open = f.host->openAlerts();
        if (c.alert.empty()) {
            EXPECT_TRUE(open.empty()) << c.output;
        } else {
            ASSERT_EQ(open.size(), 1u) << c.output;
            EXPECT_EQ(open[0].informativeText, c.alert) << c.output;
            f.host->answerAlert(c.answer);
        }
        EXPECT_EQ(f.asked(), c.opened) << c.output;
    }
    std::system(("rm -rf '" + root + "'").c_str());
}

TEST(MacLinkTests, TheAlertsSayWhatTheyAreAbout)
{
    LinkFixture f;
    f.feed(
        "\x1b]8;;ssh://host/\xe2\x80\x8bx\x1b\\a\x1b]8;;\x1b\\ \x1b]8;;vscode://x\x1b\\b\x1b]8;;\x1b\\\r\n");
    f.click(0, 0, control);
    f.click(2, 0, control);
    ASSERT_EQ(f.host->alerts.size(), 2u);
    const platform::Alert& refusal = f.host->alerts[0];
    EXPECT_EQ(refusal.messageText, "Link blocked");
    EXPECT_EQ(refusal.informativeText, "The target contains invisible characters or line breaks.");
    EXPECT_EQ(refusal.detailText, "ssh://host/\\u{200B}x");
    EXPECT_EQ(refusal.buttons, std::vector<std::string>{"OK"});
    const platform::Alert& question = f.host->alerts[1];
    EXPECT_EQ(question.messageText, "Open link from terminal output?");
    EXPECT_EQ(question.detailText, "vscode://x");
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Cancel", "Open Link"}));
    EXPECT_EQ(question.cancelButton, 0) << "Return, Escape and closing cancel";

    // Switched off before the user confirmed, an OSC 8 link opens nothing.
    f.view->setEnableOsc8Hyperlinks(false);
    f.host->answerAlert(0);
    f.host->answerAlert(1);
    EXPECT_TRUE(f.asked().empty());
}

TEST(MacLinkTests, TheHostIsAskedWithTheApprovedLink)
{
    class AskedDelegate final : public RecordingViewDelegate
    {
    public:
        void requestOpenLink(TerminalView& source, const std::string& link,
                             const std::map<std::string, std::string>& params) override
        {
            approved = static_cast<MacTerminalView&>(source).approvedLinkForDelegate();
            asked = link;
            this->params = params;
            // Any other link would be judged again, with alerts of the whole application.
            if (approved == link)
                source.openLinkFromDelegate(link, params);
        }
        std::optional<std::string> approved;
        std::string asked;
        std::map<std::string, std::string> params;
    };
    char pattern[] = "/tmp/vesk-asked-XXXXXX";
    const std::string root = mkdtemp(pattern);
    std::ofstream(root + "/notes.txt") << "text\n";
    std::ofstream(root + "/draft#1.txt") << "text\n";
    // The host is handed what the view opens: a web link as it is, a printed path as the file URL
    // of the file it names in the shell's directory, escaped where a URL needs it.
    const struct
    {
        std::string output;
        std::string url;
        std::map<std::string, std::string> params;
    } cases[] = {
        {"\x1b]8;id=7;https://example.org/x\x1b\\web\x1b]8;;\x1b\\", "https://example.org/x", {{"id", "7"}}},
        {"./notes.txt", "file://" + root + "/notes.txt", {}},
        {root + "/draft#1.txt", "file://" + root + "/draft%231.txt", {}},
    };
    for (const auto& c : cases) {
        LinkFixture f;
        f.mac().directory = root;
        auto delegate = std::make_shared<AskedDelegate>();
        f.view->setTerminalDelegate(delegate);
        f.feed(c.output + "\r\n");
        f.pointAt(1, 0, control);
        f.click(1, 0, control);
        EXPECT_EQ(delegate->asked, c.url) << c.output;
        EXPECT_EQ(delegate->approved, c.url) << c.output;
        EXPECT_EQ(delegate->params, c.params) << c.output;
        EXPECT_EQ(f.mac().approvedLinkForDelegate(), std::nullopt) << "only while the host is asked";
        EXPECT_EQ(f.opened, std::vector<std::string>{c.url}) << c.output;
        EXPECT_TRUE(f.host->openAlerts().empty()) << c.output;
    }

    // A link the host hands over on its own is judged first: a web link with a host opens.
    LinkFixture f;
    f.mac().openLinkFromDelegate("https://example.org/y", {});
    EXPECT_EQ(f.opened, std::vector<std::string>{"https://example.org/y"});
    std::system(("rm -rf '" + root + "'").c_str());
}

} // namespace
} // namespace kestrovan::testing
