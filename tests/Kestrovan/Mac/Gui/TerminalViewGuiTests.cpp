// The terminal view in a GTK window on a private X server: a real shell typed into with xdotool,
// resized, and looked at through screenshots; the caret's blink and its hollow form without
// focus; the scale's effect on the pixel cell; the progress bar and the visual bell; the scrollbar.
// The view's timers run on a manual clock: the blink, the bar, the flash and the scrollbar's fade
// step only when a test moves it, and a screenshot is taken again until the frame it looks for
// has been drawn.

#include "TerminalGuiFixture.h"

#include "Platform/Dispatch/MainThreadTimers.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;
using guitest::backgroundOf;
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

    /// A window of `width` × `height` points showing a local-process view on the manual clock,
    /// focused.
    void open(int width, int height)
    {
        kestrovan::TerminalView::Configuration configuration;
        configuration.timers = timers;
        TerminalGuiTest::open(width, height, configuration);
        view->setProcessDelegate(delegate);
    }
    /// True once the bells and other notifications fed so far have all been delivered.
    bool notificationsDelivered(int64_t postsBefore)
    {
        const kestrovan::TerminalEventQueue::State state = view->eventQueue().snapshot();
        return state.posts > postsBefore && state.pending == 0 && !state.drainScheduled;
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
    std::shared_ptr<platform::ManualMainThreadTimers> timers =
        std::make_shared<platform::ManualMainThreadTimers>();
    /// The prompt the tests' shells print.
    const std::string prompt = "vesk$ ";
};

TEST_F(TerminalViewGuiTests, AShellShowsItsPromptEchoesTypedTextFollowsResizesAndReportsItsEnd)
{
    open(640, 360);
    startShell();
    ASSERT_TRUE(runLine("echo hello", "hello"));
    const int helloRow = rowWith("hello", true);

    // The screenshot shows the prompt and the output in the text colour on the background.
    const double scale = view->backingScale();
    const double cellHeight = view->cellDimension()->height * scale;
    const guitest::Screenshot shot = shotWhen([&](const guitest::Screenshot& shot) {
        return inkInRow(shot, helloRow + 1, cellHeight, backgroundOf(shot)) > 0;
    });
    ASSERT_GT(shot.width, 0);
    keep(shot, "echo");
    const uint32_t background = backgroundOf(shot);
    EXPECT_GT(inkInRow(shot, 0, cellHeight, background), 20) << "the prompt and the command";
    EXPECT_GT(inkInRow(shot, helloRow, cellHeight, background), 10) << "hello";
    EXPECT_EQ(inkInRow(shot, helloRow + 4, cellHeight, background), 0) << "blank rows below";

    // A dead key shows its accent at the caret, and the next letter commits "é" once.
    guitest::xdotool("type --window " + std::to_string(xid()) + " 'echo x'");
    ASSERT_TRUE(guitest::mapKeysym("dead_acute"));
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
    const auto [cols, rows] = delegate->sizes.back();
    EXPECT_TRUE(runLine("stty size", std::to_string(rows) + " " + std::to_string(cols)));
    // By the shell's answer the resize has long been laid out: a second change would be here.
    EXPECT_EQ(delegate->sizes.size(), 1u);

    type("exit");
    EXPECT_TRUE(spinUntil([&] { return !delegate->exits.empty(); }, 10s));
    EXPECT_EQ(delegate->exits, (std::vector<std::optional<int32_t>>{0}));
}

TEST_F(TerminalViewGuiTests, TheCaretBlinksInItsCellAndIsHollowWithoutFocus)
{
    open(400, 200);
    startShell();
    // The caret view follows the cursor with the frame after the prompt's.
    const platform::Size cell = *view->cellDimension();
    ASSERT_TRUE(spinUntil([&] { return std::abs(view->caretFrame().x - cell.width * prompt.size()) < 0.5; }))
        << "the caret after the prompt";
    const double scale = view->backingScale();
    const platform::Rect caret = view->caretFrame();
    const double viewHeight = view->frameSize().height;
    // The caret's cell in screenshot pixels (y-down).
    const int left = int(std::floor(caret.x * scale)),
              right = int(std::ceil((caret.x + caret.width) * scale));
    const int top = int(std::floor((viewHeight - caret.y - caret.height) * scale));
    const int bottom = int(std::ceil((viewHeight - caret.y) * scale));
    // The caret shows until the clock moves: the first picture is the frame that drew it.
    const guitest::Screenshot first = shotWhen([&](const guitest::Screenshot& shot) {
        return shot.pixel((left + right) / 2, (top + bottom) / 2) != backgroundOf(shot);
    });
    // The first tick after the prompt's output may only restart the blink's phase; one that
    // turns the caret comes within two more.
    const auto interval = std::chrono::duration_cast<platform::MainThreadTimers::Clock::duration>(
        std::chrono::duration<double>(LocalProcessTerminalView::caretBlinkInterval));
    for (int tick = 0; tick < 3 && !view->caretBlinkHidden(); ++tick)
        timers->advance(interval);
    ASSERT_TRUE(view->caretBlinkHidden()) << "the blink hides the caret";
    const auto changes = [&](const guitest::Screenshot& shot) {
        int inside = 0, outside = 0;
        for (int y = 0; y < std::min(first.height, shot.height); ++y)
            for (int x = 0; x < std::min(first.width, shot.width); ++x)
                if (first.pixel(x, y) != shot.pixel(x, y))
                    ++((x >= left && x < right && y >= top && y < bottom) ? inside : outside);
        return std::make_pair(inside, outside);
    };
    const guitest::Screenshot second =
        shotWhen([&](const guitest::Screenshot& shot) { return changes(shot).first > 0; });
    ASSERT_EQ(first.width, second.width);
    const auto [inside, outside] = changes(second);
    EXPECT_GT(inside, 0) << "the caret turned";
    EXPECT_EQ(outside, 0) << "nothing else changed";

    // Another window takes the focus: within a blink's interval the caret shows again, drawn as
    // an outline.
    GtkWindow* other = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(other, 100, 100);
    gtk_window_present(other);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(other)); }));
    guitest::xdotool("windowfocus --sync " + std::to_string(guitest::windowXid(other)));
    ASSERT_TRUE(spinUntil([&] { return !view->hasFocus(); }));
    timers->advance(interval);
    const auto isHollow = [&](const guitest::Screenshot& shot) {
        return shot.pixel((left + right) / 2, (top + bottom) / 2) == backgroundOf(shot) &&
               shot.pixel(left, (top + bottom) / 2) != backgroundOf(shot);
    };
    const guitest::Screenshot hollow = shotWhen(isHollow);
    keep(first, "caret-1");
    keep(second, "caret-2");
    keep(hollow, "caret-hollow");
    const uint32_t background = backgroundOf(hollow);
    EXPECT_EQ(hollow.pixel((left + right) / 2, (top + bottom) / 2), background) << "an empty inside";
    EXPECT_NE(hollow.pixel(left, (top + bottom) / 2), background) << "an outline";
    gtk_window_destroy(other);
}

TEST_F(TerminalViewGuiTests, ProgressReportsShowAndLeaveTheBarAndTwoBellsFlashOnce)
{
    open(400, 200);
    // The empty view drawn: its top edge is the background.
    const guitest::Screenshot before =
        shotWhen([](const guitest::Screenshot& shot) { return shot.pixel(10, 1) == backgroundOf(shot); });
    view->feed(std::string_view("\x1b]9;4;1;100\x07"));
    ASSERT_TRUE(spinUntil([&] { return !view->progressBar().isHidden(); }));
    timers->advance(500ms);
    const guitest::Screenshot shown =
        shotWhen([&](const guitest::Screenshot& shot) { return shot.pixel(10, 1) != before.pixel(10, 1); });
    keep(shown, "progress");
    EXPECT_NE(shown.pixel(10, 1), before.pixel(10, 1)) << "a bar along the top edge";
    view->feed(std::string_view("\x1b]9;4;0\x07"));
    ASSERT_TRUE(spinUntil([&] { return view->progressBar().isHidden(); }));
    timers->advance(300ms);
    EXPECT_EQ(shotWhen([&](const guitest::Screenshot& shot) {
                  return shot.pixel(10, 1) == before.pixel(10, 1);
              }).pixel(10, 1),
              before.pixel(10, 1));

    // The second bell comes 50 ms after the first, within the flash: it does not flash again.
    view->setBellStyle(kestrovan::BellStyle::visual);
    int64_t posts = view->eventQueue().snapshot().posts;
    view->feed(std::string_view("\x07"));
    ASSERT_TRUE(spinUntil([&] { return notificationsDelivered(posts); }));
    timers->advance(50ms);
    posts = view->eventQueue().snapshot().posts;
    view->feed(std::string_view("\x07"));
    ASSERT_TRUE(spinUntil([&] { return notificationsDelivered(posts); }));
    timers->advance(400ms);
    // The frame drawn after the flash has run its time ends it.
    EXPECT_TRUE(spinUntil([&] { return !view->visualBellFlashing(); }));
    EXPECT_EQ(view->visualBellFlashes(), 1u);
}

TEST_F(TerminalViewGuiTests, TheScrollbarShowsOverTheTextWhenScrolledAndFadesAway)
{
    open(400, 200);
    std::string lines;
    for (int line = 0; line < 100; ++line)
        lines += "line\r\n";
    view->feed(std::string_view(lines + "last"));
    ASSERT_GE(waitForRow("last"), 0);
    const int lastRow = rowWith("last");
    const double cellHeight = view->cellDimension()->height * view->backingScale();
    const guitest::Screenshot before = shotWhen([&](const guitest::Screenshot& shot) {
        return inkInRow(shot, lastRow, cellHeight, backgroundOf(shot)) > 0;
    });
    // The right edge's column of pixels down the middle of the view.
    auto edge = [](const guitest::Screenshot& shot) {
        std::vector<uint32_t> column;
        for (int y = shot.height / 4; y < shot.height * 3 / 4; ++y)
            column.push_back(shot.pixel(shot.width - 3, y));
        return column;
    };
    // The scroller learns of the scrollback with a later frame; a scroll before that shows nothing.
    ASSERT_TRUE(spinUntil([&] { return view->scroller() && view->scroller()->state().isEnabled; }));
    view->scrollUp(50);
    const guitest::Screenshot shown =
        shotWhen([&](const guitest::Screenshot& shot) { return edge(shot) != edge(before); });
    keep(shown, "scrollbar");
    EXPECT_NE(edge(shown), edge(before)) << "the scrollbar along the right edge";
    // It waits 1.5 s, then fades over a quarter of a second.
    timers->advance(1600ms);
    timers->advance(600ms);
    EXPECT_EQ(edge(shotWhen([&](const guitest::Screenshot& shot) { return edge(shot) == edge(before); })),
              edge(before))
        << "faded away";
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
