// The terminal view in a GTK window on a private X server: a real shell typed into with xdotool,
// resized, and looked at through screenshots; the caret's blink and its hollow form without
// focus; the scale's effect on the pixel cell; the progress bar and the visual bell; the scrollbar.

#include "TerminalGuiFixture.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;
using guitest::spinFor;
using guitest::spinUntil;
using kestrovan::LocalProcessTerminalView;

class RecordingProcessDelegate final : public kestrovan::LocalProcessTerminalViewDelegate
{
public:
    void sizeChanged(LocalProcessTerminalView&, int cols, int rows) override
    {
        sizes.emplace_back(cols, rows);
    }
    void setTerminalTitle(LocalProcessTerminalView&, const std::string&) override {}
    void hostCurrentDirectoryUpdate(kestrovan::TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(kestrovan::TerminalView&, std::optional<int32_t> code) override
    {
        exits.push_back(code);
    }

    std::vector<std::pair<int, int>> sizes;
    std::vector<std::optional<int32_t>> exits;
};

class TerminalViewGuiTests : public guitest::TerminalGuiTest
{
protected:
    void SetUp() override
    {
        if (!guitest::testMatchesScale())
            GTEST_SKIP() << "runs only with the matching GDK_SCALE";
        TerminalGuiTest::SetUp();
    }

    /// A window of `width` × `height` points showing a local-process view, focused.
    void open(int width, int height)
    {
        TerminalGuiTest::open(width, height);
        view->setProcessDelegate(delegate);
    }
    /// An interactive shell with a known prompt.
    void startShell()
    {
        view->startProcess("/bin/sh", {"-c", "export PS1='vesk$ '; exec /bin/sh -i"}, std::nullopt,
                           std::nullopt, std::nullopt);
        ASSERT_TRUE(spinUntil([&] { return promptedAfter(prompt); }, 10s));
    }
    /// Types `line` at the prompt and waits until its one-row answer is followed by the next prompt.
    bool runLine(const std::string& line, const std::string& answer)
    {
        type(line);
        return spinUntil([&] { return promptedAfter(prompt, answer); }, 10s);
    }
    /// The first screen row holding `text`, or -1.
    int rowWith(const std::string& text, bool whole = false)
    {
        const std::vector<std::string> rows = view->visibleRowsText(0, view->terminalDimensions().rows);
        for (size_t index = 0; index < rows.size(); ++index) {
            std::string row = rows[index];
            row.erase(row.find_last_not_of(' ') + 1);
            if (whole ? row == text : row.find(text) != std::string::npos)
                return int(index);
        }
        return -1;
    }
    static int inkInRow(const guitest::Screenshot& shot, int row, double cellHeight, uint32_t background)
    {
        return guitest::inkInRow(shot, row, cellHeight, background);
    }

    std::shared_ptr<RecordingProcessDelegate> delegate = std::make_shared<RecordingProcessDelegate>();
    /// The prompt the tests' shells print.
    const std::string prompt = "vesk$ ";
};

TEST_F(TerminalViewGuiTests, AShellShowsItsPromptEchoesTypedTextFollowsResizesAndReportsItsEnd)
{
    open(640, 360);
    startShell();
    ASSERT_TRUE(runLine("echo hello", "hello"));
    const int helloRow = rowWith("hello", true);
    spinFor(200ms);

    // The screenshot shows the prompt and the output in the text colour on the background.
    const guitest::Screenshot shot = guitest::screenshot(xid());
    ASSERT_GT(shot.width, 0);
    keep(shot, "echo");
    const double scale = view->backingScale();
    const double cellHeight = view->cellDimension()->height * scale;
    const uint32_t background = shot.pixel(shot.width - 2, shot.height / 2);
    EXPECT_GT(inkInRow(shot, 0, cellHeight, background), 20) << "the prompt and the command";
    EXPECT_GT(inkInRow(shot, helloRow, cellHeight, background), 10) << "hello";
    EXPECT_EQ(inkInRow(shot, helloRow + 4, cellHeight, background), 0) << "blank rows below";

    // A dead key shows its accent at the caret, and the next letter commits "é" once.
    guitest::xdotool("type --window " + std::to_string(xid()) + " 'echo x'");
    guitest::xdotool("key --window " + std::to_string(xid()) + " dead_acute");
    EXPECT_TRUE(spinUntil([&] { return view->hasMarkedText(); }));
    guitest::xdotool("key --window " + std::to_string(xid()) + " e Return");
    EXPECT_TRUE(spinUntil([&] { return promptedAfter(prompt, "x\xc3\xa9"); }, 10s)) << "composed once";
    EXPECT_FALSE(view->hasMarkedText());

    // A resize changes the terminal's size once, and the shell sees it.
    delegate->sizes.clear();
    const platform::Size cell = *view->cellDimension();
    guitest::xdotool("windowsize --sync " + std::to_string(xid()) + " " +
                     std::to_string(int(cell.width * 50 * scale / scale) + 1) + " " +
                     std::to_string(int(cell.height * 12) + 1));
    ASSERT_TRUE(spinUntil([&] { return !delegate->sizes.empty(); }, 5s));
    spinFor(300ms);
    EXPECT_EQ(delegate->sizes.size(), 1u);
    const auto [cols, rows] = delegate->sizes.back();
    EXPECT_TRUE(runLine("stty size", std::to_string(rows) + " " + std::to_string(cols)));

    type("exit");
    EXPECT_TRUE(spinUntil([&] { return !delegate->exits.empty(); }, 10s));
    EXPECT_EQ(delegate->exits, (std::vector<std::optional<int32_t>>{0}));
}

TEST_F(TerminalViewGuiTests, TheCaretBlinksInItsCellAndIsHollowWithoutFocus)
{
    open(400, 200);
    startShell();
    spinFor(300ms);
    const double scale = view->backingScale();
    const platform::Rect caret = view->caretFrame();
    const double viewHeight = view->frameSize().height;
    // The caret's cell in screenshot pixels (y-down).
    const int left = int(std::floor(caret.x * scale)),
              right = int(std::ceil((caret.x + caret.width) * scale));
    const int top = int(std::floor((viewHeight - caret.y - caret.height) * scale));
    const int bottom = int(std::ceil((viewHeight - caret.y) * scale));
    const guitest::Screenshot first = guitest::screenshot(xid());
    spinFor(700ms);
    const guitest::Screenshot second = guitest::screenshot(xid());
    ASSERT_EQ(first.width, second.width);
    int inside = 0, outside = 0;
    for (int y = 0; y < first.height; ++y)
        for (int x = 0; x < first.width; ++x)
            if (first.pixel(x, y) != second.pixel(x, y))
                ++((x >= left && x < right && y >= top && y < bottom) ? inside : outside);
    EXPECT_GT(inside, 0) << "the caret turned";
    EXPECT_EQ(outside, 0) << "nothing else changed";

    // Another window takes the focus: the caret stays, drawn as an outline.
    GtkWindow* other = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(other, 100, 100);
    gtk_window_present(other);
    spinFor(200ms);
    guitest::xdotool("windowfocus --sync " + std::to_string(guitest::windowXid(other)));
    ASSERT_TRUE(spinUntil([&] { return !view->hasFocus(); }));
    spinFor(800ms);
    const guitest::Screenshot hollow = guitest::screenshot(xid());
    keep(first, "caret-1");
    keep(second, "caret-2");
    keep(hollow, "caret-hollow");
    const uint32_t background = hollow.pixel(hollow.width - 2, hollow.height / 2);
    EXPECT_EQ(hollow.pixel((left + right) / 2, (top + bottom) / 2), background) << "an empty inside";
    EXPECT_NE(hollow.pixel(left, (top + bottom) / 2), background) << "an outline";
    gtk_window_destroy(other);
}

TEST_F(TerminalViewGuiTests, ProgressReportsShowAndLeaveTheBarAndTwoBellsFlashOnce)
{
    open(400, 200);
    spinFor(200ms);
    const guitest::Screenshot before = guitest::screenshot(xid());
    view->feed(std::string_view("\x1b]9;4;1;100\x07"));
    spinFor(500ms);
    const guitest::Screenshot shown = guitest::screenshot(xid());
    keep(shown, "progress");
    EXPECT_NE(shown.pixel(10, 1), before.pixel(10, 1)) << "a bar along the top edge";
    view->feed(std::string_view("\x1b]9;4;0\x07"));
    spinFor(300ms);
    EXPECT_EQ(guitest::screenshot(xid()).pixel(10, 1), before.pixel(10, 1));

    view->setBellStyle(kestrovan::BellStyle::visual);
    view->feed(std::string_view("\x07"));
    spinFor(50ms);
    view->feed(std::string_view("\x07"));
    spinFor(400ms);
    EXPECT_EQ(view->visualBellFlashes(), 1u);
    EXPECT_FALSE(view->visualBellFlashing());
}

TEST_F(TerminalViewGuiTests, TheScrollbarShowsOverTheTextWhenScrolledAndFadesAway)
{
    open(400, 200);
    std::string lines;
    for (int line = 0; line < 100; ++line)
        lines += "line\r\n";
    view->feed(std::string_view(lines));
    spinFor(300ms);
    const guitest::Screenshot before = guitest::screenshot(xid());
    // The right edge's column of pixels down the middle of the view.
    auto edge = [](const guitest::Screenshot& shot) {
        std::vector<uint32_t> column;
        for (int y = shot.height / 4; y < shot.height * 3 / 4; ++y)
            column.push_back(shot.pixel(shot.width - 3, y));
        return column;
    };
    view->scrollUp(50);
    spinFor(300ms);
    const guitest::Screenshot shown = guitest::screenshot(xid());
    keep(shown, "scrollbar");
    EXPECT_NE(edge(shown), edge(before)) << "the scrollbar along the right edge";
    spinFor(2200ms);
    EXPECT_EQ(edge(guitest::screenshot(xid())), edge(before)) << "faded away";
}

TEST_F(TerminalViewGuiTests, Scale2DoublesThePixelCellAndItsReport)
{
    open(400, 200);
    ASSERT_TRUE(spinUntil([&] { return view->backingScale() == 2; }));
    const platform::Size cell = *view->cellDimension();
    const std::pair<int, int> pixels{int(std::round(cell.width * 2)), int(std::round(cell.height * 2))};
    EXPECT_EQ(view->crossThreadState().cachedCellPixelSize, pixels);
    // The terminal's answer to CSI 16 t, read back by a child that prints what it received.
    const std::string body = "[6;" + std::to_string(pixels.second) + ";" + std::to_string(pixels.first) + "t";
    view->startProcess(
        "/bin/sh",
        {"-c", "stty raw -echo; printf '\\033[16t'; r=$(dd bs=1 count=" + std::to_string(body.size() + 1) +
                   " 2>/dev/null | tr -d '\\033'); stty sane; echo \"got $r\"; sleep 5"},
        std::nullopt, std::nullopt, std::nullopt);
    const std::string expected = "got " + body;
    EXPECT_TRUE(spinUntil([&] { return rowWith(expected) >= 0; }, 10s)) << expected;
    EXPECT_EQ(view->storedWindowSize().ws_xpixel, pixels.first * view->terminalDimensions().cols);
}

TEST_F(TerminalViewGuiTests, AProgramNamedWithoutASlashRunsWithTheHostsPathAndManPagesThroughLess)
{
    // Before: "sh" failed to start as forkFailed(2), and a shell named by its path got no PATH, so
    // `man` printed its page without a pager.
    guitest::TemporaryDirectory folder;
    const std::string page = folder.path + "/vesktest.1";
    FILE* file = std::fopen(page.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(".TH VESKTEST 1\n.SH NAME\nvesktest \\- a page for the terminal's test\n"
               ".SH DESCRIPTION\nThe first line of the page.\n",
               file);
    std::fclose(file);

    open(640, 360);
    view->startProcess("sh", {"-c", "export PS1='vesk$ '; exec sh -i"}, std::nullopt, std::nullopt,
                       std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return promptedAfter(prompt); }, 10s)) << "the shell did not start";
    const char* hostPath = std::getenv("PATH");
    const std::string expected =
        "[" + std::string(hostPath && *hostPath ? hostPath : "/usr/local/bin:/usr/bin:/bin") + "]";
    // The screen's text with rows that run on into the next joined, as a long PATH does.
    auto screenText = [&] {
        const int cols = view->terminalDimensions().cols;
        std::string text;
        for (std::string row : view->visibleRowsText(0, view->terminalDimensions().rows)) {
            const bool full = int(row.size()) >= cols && row.back() != ' ';
            row.erase(row.find_last_not_of(' ') + 1);
            text += full ? row : row + "\n";
        }
        return text;
    };
    type("echo \"[$PATH]\"");
    EXPECT_TRUE(
        spinUntil([&] { return screenText().find("\n" + expected + "\n") != std::string::npos; }, 10s))
        << expected << " not in:\n"
        << screenText();
    ASSERT_TRUE(spinUntil([&] { return promptedAfter(prompt); }, 10s)) << "no prompt after the answer";

    // The page comes up in less, with the prompt man gives it, and goes with q.
    type("man -l " + page);
    EXPECT_TRUE(spinUntil([&] { return rowWith("Manual page vesktest.1 line 1") >= 0; }, 10s))
        << "no pager prompt";
    EXPECT_GE(rowWith("(press h for help or q to quit)"), 0);
    EXPECT_GE(rowWith("The first line of the page."), 0);
    keep(guitest::screenshot(xid()), "man");
    key("q");
    EXPECT_TRUE(
        spinUntil([&] { return rowWith("Manual page vesktest.1") < 0 && rowWith("vesk$") >= 0; }, 10s))
        << "less did not quit";
}

} // namespace
