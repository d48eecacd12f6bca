// Links in the local-process view on a private X server: Ctrl over an OSC 8 link shows the preview
// and the highlight; Ctrl+click opens a web link in the desktop's default application (a test
// handler registered in temporary XDG directories), asks before another scheme (Return cancels,
// "Open Link" opens), refuses runnable and special files with their own texts, opens a file
// named by this machine's host name, and a relative path from the shell's directory.

#include "TerminalGuiFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using guitest::spinUntil;

/// Temporary XDG directories, made once per test program (GIO reads them once), in which a test
/// application that appends each URI it is given to a log is every link's default handler.
struct TestOpener
{
    TestOpener()
    {
        const std::string root = directory.path;
        for (const char* folder : {"/data", "/data/applications", "/config", "/etc"})
            mkdir((root + folder).c_str(), 0755);
        log = root + "/opened";
        const std::string opener = root + "/opener";
        std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << log << "'\n";
        chmod(opener.c_str(), 0755);
        std::ofstream(root + "/data/applications/vesk-test-opener.desktop")
            << "[Desktop Entry]\nType=Application\nName=Vesk Test Opener\nExec=" << opener
            << " %u\nMimeType=x-scheme-handler/https;x-scheme-handler/ssh;text/plain;\n";
        std::ofstream(root + "/config/mimeapps.list")
            << "[Default Applications]\nx-scheme-handler/https=vesk-test-opener.desktop\n"
               "x-scheme-handler/ssh=vesk-test-opener.desktop\ntext/plain=vesk-test-opener.desktop\n";
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (root + "/etc").c_str(), 1);
        // The content types come from the system's MIME database.
        setenv("XDG_DATA_DIRS", (root + "/data:/usr/share").c_str(), 1);
    }
    static TestOpener& shared()
    {
        static TestOpener opener;
        return opener;
    }
    std::string opened() const { return guitest::fileText(log); }

    guitest::TemporaryDirectory directory;
    std::string log;
};

// GIO and GTK read the XDG directories once, when first asked; so they are set up as the program
// starts, before any test of the program starts GTK.
const bool testOpenerReady = (TestOpener::shared(), true);

class LinkGuiTests : public guitest::TerminalGuiTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(testOpenerReady);
        TerminalGuiTest::SetUp();
    }
    /// Waits for the alert titled `title`; its texts, or none when it does not come.
    std::optional<std::vector<std::string>> alertTexts(const std::string& title)
    {
        GtkWindow* alert = nullptr;
        if (!spinUntil([&] { return (alert = guitest::windowTitled(title)) != nullptr; }))
            return std::nullopt;
        spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(alert)); });
        return guitest::labelTexts(GTK_WIDGET(alert));
    }
    /// Presses keys in the alert titled `title` (through the X server's input, once it has the
    /// focus) and waits for it to close.
    bool answerAlert(const std::string& title, const std::string& keys)
    {
        GtkWindow* alert = guitest::windowTitled(title);
        if (!alert)
            return false;
        const std::string id = std::to_string(guitest::windowXid(alert));
        guitest::xdotool("windowfocus --sync " + id);
        guitest::xdotool("key " + keys);
        const bool closed = spinUntil([&] { return guitest::windowTitled(title) == nullptr; });
        guitest::xdotool("windowfocus --sync " + std::to_string(xid()));
        return closed;
    }
    /// Waits until the test application was handed `target` (GIO hands it a local file's path).
    bool opened(const std::string& target)
    {
        return spinUntil(
            [&] { return TestOpener::shared().opened().find(target + "\n") != std::string::npos; }, 10s);
    }
};

/// A printf line with an OSC 8 link to `uri` over `text`.
std::string osc8(const std::string& uri, const std::string& text)
{
    return "printf '\\033]8;;" + uri + "\\033\\\\" + text + "\\033]8;;\\033\\\\\\r\\n'; ";
}

TEST_F(LinkGuiTests, CtrlShowsThePreviewAndTheHighlight)
{
    open(640, 240);
    // The caret hidden, so that its blink changes no pixel.
    run("printf '\\033[?25l'; " + osc8("https://example.org/page", "a link here") + "exec sleep 60");
    ASSERT_GE(waitForRow("a link here"), 0);
    pointAt(3, 0);
    const double cellHeight = view->cellDimension()->height * view->backingScale();
    const guitest::Screenshot before = shotWhen([&](const guitest::Screenshot& shot) {
        return guitest::inkInRow(shot, 0, cellHeight, guitest::backgroundOf(shot)) > 0;
    });
    // Pixels that changed in the link's row (the highlight) and in the bottom-left corner (the
    // preview label), and that everything is back once Ctrl is up.
    auto changed = [&](const guitest::Screenshot& a, const guitest::Screenshot& b, int top, int bottom,
                       int right) {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < right; ++x)
                count += a.pixel(x, y) != b.pixel(x, y);
        return count;
    };
    guitest::xdotool("keydown ctrl");
    ASSERT_TRUE(spinUntil([&] { return view->urlPreview && view->linkHighlightRange(); }));
    EXPECT_EQ(view->urlPreview->text(), "https://example.org/page");
    const guitest::Screenshot held = shotWhen([&](const guitest::Screenshot& shot) {
        return changed(before, shot, 0, int(cellHeight), shot.width) > 5 &&
               changed(before, shot, shot.height - 12, shot.height, 150) > 200;
    });
    guitest::xdotool("keyup ctrl");
    ASSERT_TRUE(spinUntil([&] { return !view->urlPreview && !view->linkHighlightRange(); }));
    const guitest::Screenshot after = shotWhen([&](const guitest::Screenshot& shot) {
        return changed(before, shot, 0, shot.height, shot.width) == 0;
    });
    keep(held, "link-preview");
    ASSERT_EQ(before.width, held.width);

    EXPECT_GT(changed(before, held, 0, int(cellHeight), held.width), 5) << "the highlight";
    EXPECT_GT(changed(before, held, held.height - 12, held.height, 150), 200) << "the preview label";
    EXPECT_EQ(changed(before, after, 0, after.height, after.width), 0) << "gone with Ctrl";
}

TEST_F(LinkGuiTests, CtrlClicksOpenAskOrRefuse)
{
    guitest::TemporaryDirectory files;
    const std::string dir = files.path;
    std::ofstream(dir + "/notes.txt") << "notes\n";
    std::ofstream(dir + "/script") << "#!/bin/sh\necho hi\n";
    std::ofstream(dir + "/launcher.desktop") << "[Desktop Entry]\nType=Application\nName=x\nExec=true\n";
    std::ofstream(dir + "/Tool.AppImage") << "x\n";
    std::ifstream elf("/bin/true", std::ios::binary);
    std::ofstream(dir + "/program", std::ios::binary) << elf.rdbuf();
    chmod((dir + "/program").c_str(), 0755);
    mkfifo((dir + "/pipe").c_str(), 0600);
    mkdir((dir + "/sub").c_str(), 0755);
    std::ofstream(dir + "/sub/other.txt") << "other\n";
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string upperHost = host;
    for (char& c : upperHost)
        c = char(std::toupper(static_cast<unsigned char>(c)));

    open(720, 320);
    run(osc8("https://example.org/web", "web") + osc8("ssh://example.org", "ssh") +
        osc8("file://" + upperHost + dir + "/notes.txt", "notes") +
        osc8("file://" + dir + "/program", "program") + osc8("file://" + dir + "/script", "script") +
        osc8("file://" + dir + "/launcher.desktop", "launcher") +
        osc8("file://" + dir + "/Tool.AppImage", "appimage") + osc8("file://" + dir + "/pipe", "pipe") +
        "cd '" + dir + "/sub'; printf './other.txt\\r\\n'; exec sleep 60");
    ASSERT_GE(waitForRow("./other.txt"), 0);

    clickCell(1, 0, "ctrl");
    EXPECT_TRUE(opened("https://example.org/web")) << "a web link opens at once";

    // Another scheme asks first, naming the application; Return cancels.
    clickCell(1, 1, "ctrl");
    const std::string question = "Open link from terminal output?";
    const auto texts = alertTexts(question);
    ASSERT_TRUE(texts);
    EXPECT_EQ((*texts)[1],
              "This link will open in Vesk Test Opener. Open it only if you trust the destination.");
    EXPECT_EQ((*texts)[2], "ssh://example.org");
    ASSERT_TRUE(answerAlert(question, "Return"));
    // "Open Link" opens: the focus moves from Cancel to it, and Space presses it.
    clickCell(1, 1, "ctrl");
    ASSERT_TRUE(alertTexts(question));
    ASSERT_TRUE(answerAlert(question, "Tab space"));
    EXPECT_TRUE(opened("ssh://example.org"));
    EXPECT_EQ(TestOpener::shared().opened().find("ssh://example.org"),
              TestOpener::shared().opened().rfind("ssh://example.org"))
        << "once: Return opened nothing";

    // Runnable and special files are refused; the pipe is never opened (the click returns).
    const std::string runs = "This local target can run code.";
    const struct
    {
        int row;
        std::string reason;
        std::string name;
    } refused[] = {
        {3, runs, "program"},
        {4, runs, "script"},
        {5, runs, "launcher.desktop"},
        {6, runs, "Tool.AppImage"},
        {7, "The local target does not exist or is not a regular file or directory.", "pipe"},
    };
    for (const auto& r : refused) {
        clickCell(1, r.row, "ctrl");
        const auto refusal = alertTexts("Link blocked");
        ASSERT_TRUE(refusal) << r.name;
        EXPECT_EQ((*refusal)[1], r.reason) << r.name;
        EXPECT_EQ((*refusal)[2], dir + "/" + r.name);
        ASSERT_TRUE(answerAlert("Link blocked", "Return"));
    }

    // This machine's own name, in capitals, is this machine.
    clickCell(1, 2, "ctrl");
    EXPECT_TRUE(opened(dir + "/notes.txt")) << TestOpener::shared().opened();

    // A relative path printed after `cd` is the file in that directory.
    clickCell(3, 8, "ctrl");
    EXPECT_TRUE(opened(dir + "/sub/other.txt")) << TestOpener::shared().opened();
}

} // namespace
