// The pointer in a local-process view on a private X server, played with xdotool: selections by
// drag, clicks and Alt-drag, offered as the primary selection (read back with xclip); the middle
// button and Shift+Insert pasting it; exact mouse reports received by a byte-recording child; the
// wheel; the scroller's two styles and an erased scrollback. The view's timers run on a manual
// clock, so autoscroll and the wheel budget step only when a test moves it.

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/Dispatch/MainThreadTimers.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/Gui/GuiHarness.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sstream>
#include <unistd.h>
// After gtest: X11's headers define macros (None, Bool) that gtest's own names would meet.
#include <gdk/x11/gdkx.h>
#undef None
#undef Bool

namespace {

using namespace std::chrono_literals;
using guitest::spinUntil;
using kestrovan::LocalProcessTerminalView;

std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string sgr(int code, int col, int row, char final)
{
    return "\x1b[<" + std::to_string(code) + ";" + std::to_string(col + 1) + ";" + std::to_string(row + 1) +
           final;
}

class PointerGuiTests : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!guitest::startGtk())
            GTEST_SKIP() << "no display";
        if (std::getenv("GDK_SCALE"))
            GTEST_SKIP() << "runs at scale 1";
        if (!platform::MainQueue::installed())
            platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());
        kestrovan::TerminalView::Configuration configuration;
        configuration.timers = timers;
        view = LocalProcessTerminalView::create(platform::Size{480, 240}, configuration);
        window = GTK_WINDOW(gtk_window_new());
        g_object_ref_sink(window);
        gtk_window_set_default_size(window, 480, 240);
        gtk_window_set_decorated(window, false);
        GtkWidget* widget = platform::gtk::CoreViewWidget::create(view);
        gtk_window_set_child(window, widget);
        gtk_window_present(window);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(widget) && view->host(); }));
        // Away from the screen's top, so the pointer can go above the view.
        guitest::xdotool("windowmove --sync " + std::to_string(xid()) + " 40 300");
        guitest::xdotool("windowfocus --sync " + std::to_string(xid()));
        gtk_widget_grab_focus(widget);
        ASSERT_TRUE(spinUntil([&] { return view->hasFocus(); }));
        cell = *view->cellDimension();
    }
    void TearDown() override
    {
        if (!recordPath.empty())
            unlink(recordPath.c_str());
        if (view)
            view->updateUiClosed();
        if (window) {
            gtk_window_destroy(window);
            g_object_unref(window);
        }
        view.reset();
    }
    unsigned long xid() const
    {
        GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
        return surface ? gdk_x11_surface_get_xid(surface) : 0;
    }
    /// Moves the pointer to (column, row) in cells from the view's top-left; 0.5 is a centre.
    void moveTo(double col, double row)
    {
        guitest::xdotool("mousemove --window " + std::to_string(xid()) + " " +
                         std::to_string(int(std::lround(col * cell.width))) + " " +
                         std::to_string(int(std::lround(row * cell.height))));
    }
    void pointer(const std::string& arguments) { guitest::xdotool(arguments); }
    void feed(const std::string& text) { view->feed(std::string_view(text)); }
    std::string selected() { return view->getSelection().value_or("<none>"); }
    int yDisp()
    {
        return view->withTerminal([](kestrovan::Terminal& t) { return t.buffer().yDisp(); }, "test");
    }
    /// A child that records every byte it receives, after enabling `modes` itself.
    void startRecorder(const std::string& modes = "")
    {
        char path[] = "/tmp/kestrovan-pointer-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        recordPath = path;
        view->startProcess("/bin/sh",
                           {"-c", "stty raw -echo; printf '" + modes + "ready'; exec cat > " + recordPath},
                           std::nullopt, std::nullopt, std::nullopt);
        ASSERT_TRUE(spinUntil([&] { return screenHas("ready"); }, 10s));
    }
    bool screenHas(const std::string& text)
    {
        for (const std::string& row : view->visibleRowsText(0, view->terminalDimensions().rows))
            if (row.find(text) != std::string::npos)
                return true;
        return false;
    }
    bool recorded(const std::string& expected)
    {
        return spinUntil([&] { return fileText(recordPath) == expected; }, 5s);
    }

    std::shared_ptr<platform::ManualMainThreadTimers> timers =
        std::make_shared<platform::ManualMainThreadTimers>();
    std::shared_ptr<LocalProcessTerminalView> view;
    GtkWindow* window = nullptr;
    platform::Size cell;
    std::string recordPath;
};

TEST_F(PointerGuiTests, DragsAndClicksSelectAndTheSelectionBecomesPrimary)
{
    feed("hello world\r\nabcdefghij\r\nklmnopqrst\r\n");
    // A drag from the left of "h" over the right half of "o" selects "hello", drawn in the
    // selection's colour, and offered as the primary selection.
    moveTo(0.2, 0.5);
    pointer("mousedown 1");
    moveTo(4.8, 0.5);
    pointer("mouseup 1");
    EXPECT_TRUE(spinUntil([&] { return selected() == "hello"; })) << selected();
    EXPECT_EQ(guitest::outputOf("xclip -o -selection primary 2>/dev/null"), "hello");
    EXPECT_TRUE(spinUntil([&] {
        const guitest::Screenshot shot = guitest::screenshot(xid());
        int tinted = 0;
        for (int x = 0; x < int(4 * cell.width); ++x)
            tinted += shot.pixel(x, int(cell.height / 2)) == 0x00A6B2;
        return tinted > 0;
    })) << "the selection's colour under the text";
    // A double click selects a word, a triple click the line; Shift-click extends.
    moveTo(7.5, 0.5);
    pointer("click --repeat 2 --delay 80 1");
    EXPECT_TRUE(spinUntil([&] { return selected() == "world"; })) << selected();
    moveTo(3.5, 1.5);
    pointer("click --repeat 3 --delay 80 1");
    EXPECT_TRUE(spinUntil([&] { return selected() == "abcdefghij"; })) << selected();
    moveTo(0.2, 2.5);
    pointer("mousedown 1");
    moveTo(2.8, 2.5);
    pointer("mouseup 1");
    moveTo(5.8, 2.5);
    pointer("keydown shift click 1 keyup shift");
    EXPECT_TRUE(spinUntil([&] { return selected() == "klmnop"; })) << selected();
    EXPECT_EQ(guitest::outputOf("xclip -o -selection primary 2>/dev/null"), "klmnop");
    // Alt-drag selects a block.
    moveTo(1.2, 1.5);
    pointer("keydown alt mousedown 1");
    moveTo(3.8, 2.5);
    pointer("mouseup 1 keyup alt");
    EXPECT_TRUE(spinUntil([&] { return selected() == "bcd\nlmn"; })) << selected();
    // Inside one cell a 2-pixel move is still a click; a 4-pixel one is a drag.
    view->selectNone();
    moveTo(4.1, 1.5);
    pointer("mousedown 1 mousemove_relative 2 0 mouseup 1");
    EXPECT_FALSE(view->selectionActive());
    moveTo(4.1, 1.5);
    pointer("mousedown 1 mousemove_relative 4 0 mouseup 1");
    EXPECT_TRUE(spinUntil([&] { return view->selectionActive(); }));
}

TEST_F(PointerGuiTests, DraggingAboveTheViewAutoscrollsOnTheClock)
{
    std::string lines;
    for (int line = 0; line < 100; ++line)
        lines += "line " + std::to_string(line) + "\r\n";
    feed(lines);
    ASSERT_TRUE(spinUntil([&] { return yDisp() > 50; }));
    view->scrollTo(50, false);
    moveTo(2, 3.5);
    pointer("mousedown 1");
    moveTo(2, -2.5);
    ASSERT_TRUE(spinUntil([&] { return view->autoScrollRunning(); }));
    timers->advance(100ms);
    EXPECT_EQ(yDisp(), 50 + 2 * view->autoScrollDelta());
    pointer("mouseup 1");
    EXPECT_FALSE(view->autoScrollRunning());
    EXPECT_TRUE(view->selectionActive());
}

TEST_F(PointerGuiTests, TheMiddleButtonAndShiftInsertPastePrimaryBracketed)
{
    ASSERT_TRUE(guitest::offerSelection("primary", "from primary"));
    startRecorder("\\033[?2004h");
    moveTo(3.5, 2.5);
    pointer("click 2");
    const std::string once = "\x1b[200~from primary\x1b[201~";
    EXPECT_TRUE(recorded(once)) << fileText(recordPath);
    pointer("key --window " + std::to_string(xid()) + " shift+Insert");
    EXPECT_TRUE(recorded(once + once)) << fileText(recordPath);
}

TEST_F(PointerGuiTests, AByteRecordingChildGetsExactReports)
{
    startRecorder();
    std::string expected;
    // Each step: the modes (fed as the program would send them), the user's gesture, the bytes.
    struct Step
    {
        const char* modes;
        std::string gesture;
        std::string bytes;
    };
    const auto at = [&](double col, double row) {
        return "mousemove --window " + std::to_string(xid()) + " " + std::to_string(int(col * cell.width)) +
               " " + std::to_string(int(row * cell.height)) + " ";
    };
    const Step steps[] = {
        {"\x1b[?9h\x1b[?1006h", at(2.5, 1.5) + "click 1", sgr(0, 2, 1, 'M')},
        {"\x1b[?1000h", at(2.5, 1.5) + "click 1", sgr(0, 2, 1, 'M') + sgr(0, 2, 1, 'm')},
        {"\x1b[?1002h", at(2.5, 1.5) + "mousedown 1 " + at(5.5, 1.5) + "mouseup 1",
         sgr(0, 2, 1, 'M') + sgr(32, 5, 1, 'M') + sgr(0, 5, 1, 'm')},
        {"\x1b[?1003h", at(7.5, 2.5), sgr(35, 7, 2, 'M')},
        {"\x1b[?1000h", at(1.5, 0.5) + "click 3", sgr(2, 1, 0, 'M') + sgr(2, 1, 0, 'm')},
        {"", "keydown shift click 1 keyup shift", ""},
        {"\x1b[>1s", "keydown shift click 1 keyup shift", sgr(4, 1, 0, 'M') + sgr(4, 1, 0, 'm')},
        // Elsewhere, so that it is a single click, not the next of a series.
        {"\x1b[>0s", at(4.5, 0.5) + "keydown alt mousedown 1", ""},
        {"", "mouseup 1 keyup alt", sgr(8, 4, 0, 'M') + sgr(8, 4, 0, 'm')},
        {"", "click 4", sgr(64, 4, 0, 'M')},
    };
    for (const Step& step : steps) {
        feed(step.modes);
        pointer(step.gesture);
        expected += step.bytes;
        EXPECT_TRUE(recorded(expected)) << step.gesture << ": " << fileText(recordPath);
    }
    // With the host's switch off, nothing of any kind.
    view->allowMouseReporting = false;
    feed("\x1b[?1003h");
    pointer(at(6.5, 3.5) + "click 1 click 3 click 4");
    feed("\x1b[?1003l");
    pointer("key --window " + std::to_string(xid()) + " x");
    expected += "x";
    EXPECT_TRUE(recorded(expected)) << fileText(recordPath);
    // A press the window's unmapping cuts short ends for the program as a release would.
    view->allowMouseReporting = true;
    feed("\x1b[?1000h");
    pointer(at(2.5, 2.5) + "mousedown 1");
    gtk_widget_set_visible(GTK_WIDGET(window), false);
    pointer("mouseup 1");
    expected += sgr(0, 2, 2, 'M') + sgr(0, 2, 2, 'm');
    EXPECT_TRUE(recorded(expected)) << fileText(recordPath);
}

TEST_F(PointerGuiTests, TheWheelScrollsShowsTheScrollerAndKeepsItsBudget)
{
    std::string lines;
    for (int line = 0; line < 100; ++line)
        lines += "line " + std::to_string(line) + "\r\n";
    feed(lines);
    ASSERT_TRUE(spinUntil([&] { return yDisp() > 50; }));
    const int newest = yDisp();
    const std::shared_ptr<platform::Scroller>& bar = view->scroller();
    ASSERT_TRUE(spinUntil([&] { return bar->state().isEnabled; }));
    // Three lines a notch.
    moveTo(3, 3);
    pointer("click --repeat 2 --delay 10 4");
    EXPECT_TRUE(spinUntil([&] { return yDisp() == newest - 6; })) << yDisp();
    EXPECT_FALSE(bar->isHidden()) << "the scroller shows";
    pointer("click 5");
    EXPECT_TRUE(spinUntil([&] { return yDisp() == newest - 3; })) << yDisp();

    // On the alternate screen with mode 1007: three cursor keys a notch, in application form;
    // Alt: nothing.
    startRecorder("\\033[?1049h\\033[?1h");
    pointer("click 4 click 5");
    const std::string keys = "\x1bOA\x1bOA\x1bOA\x1bOB\x1bOB\x1bOB";
    EXPECT_TRUE(recorded(keys)) << fileText(recordPath);
    pointer("keydown alt click 4 keyup alt");
    // A program tracking the mouse: ten quick notches make a burst of six reports (the clock
    // stands still, so nothing refills meanwhile).
    feed("\x1b[?1000h\x1b[?1006h");
    timers->advance(1s);
    pointer("click --repeat 10 --delay 1 4");
    const std::string report = sgr(64, 3, 3, 'M');
    std::string six;
    for (int count = 0; count < 6; ++count)
        six += report;
    EXPECT_TRUE(recorded(keys + six)) << fileText(recordPath);
}

TEST_F(PointerGuiTests, WithoutOverlayScrollingTheScrollbarStaysAndTheGridLosesColumns)
{
    const int cols = view->terminalDimensions().cols;
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-overlay-scrolling", FALSE, nullptr);
    EXPECT_TRUE(spinUntil([&] { return view->terminalDimensions().cols < cols; }));
    EXPECT_FALSE(view->scroller()->isHidden());
    // The shell sees the narrower grid.
    view->startProcess("/bin/sh", {"-c", "stty size; sleep 30"}, std::nullopt, std::nullopt, std::nullopt);
    const std::string size = std::to_string(view->terminalDimensions().rows) + " " +
                             std::to_string(view->terminalDimensions().cols);
    EXPECT_TRUE(spinUntil([&] { return view->visibleRowsText(0, 1)[0].find(size) == 0; }, 10s));
    g_object_set(settings, "gtk-overlay-scrolling", TRUE, nullptr);
    EXPECT_TRUE(spinUntil([&] { return view->terminalDimensions().cols == cols; }));
    EXPECT_TRUE(view->scroller()->isHidden());
}

TEST_F(PointerGuiTests, ErasingTheScrollbackUpdatesTheScroller)
{
    std::string lines;
    for (int line = 0; line < 100; ++line)
        lines += "line " + std::to_string(line) + "\r\n";
    feed(lines);
    const std::shared_ptr<platform::Scroller>& bar = view->scroller();
    ASSERT_TRUE(spinUntil([&] { return bar->state().isEnabled; }));
    feed("\x1b[3J");
    EXPECT_TRUE(spinUntil([&] { return !bar->state().isEnabled; }));
}

} // namespace
