// What the GUI tests of the local-process view share: a focused, undecorated window showing the
// view on a private X server, its X window id, the screen's rows as text, typing and clicking with
// xdotool, shell commands run while the main loop goes on, and screenshots kept for looking at or
// compared with golden pictures.
#pragma once

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/Image/PngImage.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/Gui/GuiHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace guitest {

using namespace std::chrono_literals;

inline std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

/// A fresh temporary directory, removed with everything in it when the object goes.
class TemporaryDirectory
{
public:
    TemporaryDirectory()
    {
        char pattern[] = "/tmp/vesk-gui-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TemporaryDirectory() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

/// Pixels in screen row `row` (cells `cellHeight` device pixels high, from the top) that differ
/// from `background` (0xRRGGBB).
inline int inkInRow(const Screenshot& shot, int row, double cellHeight, uint32_t background)
{
    int count = 0;
    const int top = int(std::round(row * cellHeight));
    const int bottom = std::min(shot.height, int(std::round((row + 1) * cellHeight)));
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < shot.width; ++x)
            count += shot.pixel(x, y) != background;
    return count;
}

/// Whether the running test belongs to this process's scale: a test whose name holds "Scale2" runs
/// only with GDK_SCALE=2, every other one only without it.
inline bool testMatchesScale()
{
    const bool wantsScale2 =
        std::string(testing::UnitTest::GetInstance()->current_test_info()->name()).find("Scale2") !=
        std::string::npos;
    const char* scale = std::getenv("GDK_SCALE");
    return wantsScale2 == (scale && std::string(scale) == "2");
}

/// The background colour of a view's screenshot, from the right edge of the middle row.
inline uint32_t backgroundOf(const Screenshot& shot)
{
    return shot.pixel(shot.width - 2, shot.height / 2);
}

class TerminalGuiTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!startGtk())
            GTEST_SKIP() << "no display";
        if (!platform::MainQueue::installed())
            platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());
    }
    void TearDown() override
    {
        if (view)
            view->updateUiClosed();
        if (window) {
            gtk_window_destroy(window);
            g_object_unref(window);
            spinFor(std::chrono::milliseconds(50));
        }
        view.reset();
    }

    /// A window of `width` x `height` points showing a local-process view, focused.
    void open(int width, int height,
              kestrovan::TerminalView::Configuration configuration = kestrovan::TerminalView::Configuration{})
    {
        view = kestrovan::LocalProcessTerminalView::create(platform::Size{double(width), double(height)},
                                                           std::move(configuration));
        window = GTK_WINDOW(gtk_window_new());
        g_object_ref_sink(window);
        gtk_window_set_default_size(window, width, height);
        gtk_window_set_decorated(window, false);
        widget = platform::gtk::CoreViewWidget::create(view);
        gtk_window_set_child(window, widget);
        gtk_window_present(window);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(widget) && view->host(); }));
        spinFor(std::chrono::milliseconds(100));
        xdotool("windowfocus --sync " + std::to_string(xid()));
        gtk_widget_grab_focus(widget);
        ASSERT_TRUE(spinUntil([&] { return view->hasFocus(); }));
    }
    unsigned long xid() const { return windowXid(window); }
    std::string onWindow() const { return " --window " + std::to_string(xid()); }
    /// Runs `script` in /bin/sh as the view's program.
    void run(const std::string& script)
    {
        view->startProcess("/bin/sh", {"-c", script}, std::nullopt, std::nullopt, std::nullopt);
    }
    /// The first screen row holding `text`, or -1.
    int rowWith(const std::string& text)
    {
        const std::vector<std::string> rows = view->visibleRowsText(0, view->terminalDimensions().rows);
        for (size_t index = 0; index < rows.size(); ++index)
            if (rows[index].find(text) != std::string::npos)
                return int(index);
        return -1;
    }
    /// Waits until the screen shows `text`; its row.
    int waitForRow(const std::string& text)
    {
        spinUntil([&] { return rowWith(text) >= 0; }, std::chrono::seconds(10));
        return rowWith(text);
    }
    /// True when a shell waits for a line: the caret sits right after `prompt`, alone on its row,
    /// and, when `answer` is given, the row above reads `answer` (trailing blanks aside). A line
    /// typed before the prompt shows is echoed by the terminal at once, and the shell's prompt and
    /// answer then share a row, so tests type the next line only once this holds.
    bool promptedAfter(const std::string& prompt, const std::optional<std::string>& answer = std::nullopt)
    {
        const auto [x, y] = view->withTerminal(
            [](kestrovan::Terminal& terminal) { return terminal.getCursorLocation(); }, "TerminalGuiTest");
        std::vector<std::string> rows = view->visibleRowsText(0, view->terminalDimensions().rows);
        for (std::string& row : rows)
            row.erase(row.find_last_not_of(' ') + 1);
        std::string bare = prompt;
        bare.erase(bare.find_last_not_of(' ') + 1);
        if (y < 0 || y >= int(rows.size()) || rows[size_t(y)] != bare || x != int(prompt.size()))
            return false;
        return !answer || (y > 0 && rows[size_t(y) - 1] == *answer);
    }
    /// Types `text` and presses Return.
    void type(const std::string& text)
    {
        xdotool("type --delay 20" + onWindow() + " '" + text + "'");
        xdotool("key" + onWindow() + " Return");
    }
    void key(const std::string& keys) { xdotool("key" + onWindow() + " " + keys); }
    /// The middle of a cell in the window's pixels (y-down from its top left).
    std::pair<int, int> cellPixel(int column, int row) const
    {
        const platform::Size cell = *view->cellDimension();
        return {int((column + 0.5) * cell.width), int((row + 0.5) * cell.height)};
    }
    void pointAt(int column, int row)
    {
        const auto [x, y] = cellPixel(column, row);
        xdotool("mousemove" + onWindow() + " " + std::to_string(x) + " " + std::to_string(y));
    }
    /// A left click on a cell with `modifier` ("ctrl", "super" or "") held. The keys and the
    /// button go through the X server's input, as a user's would, so the click carries the
    /// modifier; the window has the input focus.
    void clickCell(int column, int row, const std::string& modifier = "")
    {
        pointAt(column, row);
        if (!modifier.empty())
            xdotool("keydown " + modifier);
        xdotool("click 1");
        if (!modifier.empty())
            xdotool("keyup " + modifier);
    }

    /// Screenshots of the window until one satisfies `wanted` (see `screenshotWhen`).
    Screenshot shotWhen(const std::function<bool(const Screenshot&)>& wanted)
    {
        return screenshotWhen(xid(), wanted);
    }

    /// Keeps a screenshot as a PPM file in $VESK_GUI_SHOTS, for looking at.
    static void keep(const Screenshot& shot, const std::string& name)
    {
        const char* folder = std::getenv("VESK_GUI_SHOTS");
        if (!folder)
            return;
        FILE* file = std::fopen((std::string(folder) + "/" + name + ".ppm").c_str(), "wb");
        if (!file)
            return;
        std::fprintf(file, "P6\n%d %d\n255\n", shot.width, shot.height);
        std::fwrite(shot.rgb.data(), 1, shot.rgb.size(), file);
        std::fclose(file);
    }

    std::shared_ptr<kestrovan::LocalProcessTerminalView> view;
    GtkWindow* window = nullptr;
    GtkWidget* widget = nullptr;
};

/// Where the golden picture `name` of a window is kept: tests/golden/gui/<name><suffix>.
inline std::string goldenPath(const std::string& name, const std::string& suffix = ".png")
{
    return std::string(KESTROVAN_GOLDEN_DIR) + "/gui/" + name + suffix;
}

/// Pixels of `shot` whose red, green or blue differs from `golden`'s by more than `tolerance`, and
/// the first of them; every pixel when the sizes differ.
inline std::pair<int, std::string> goldenDifferences(const Screenshot& shot,
                                                     const platform::RgbaImage& golden, int tolerance)
{
    if (shot.width != golden.width || shot.height != golden.height)
        return {shot.width * shot.height + 1, "the size " + std::to_string(golden.width) + "x" +
                                                  std::to_string(golden.height) + " differs"};
    int differing = 0;
    std::string first;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            for (int channel = 0; channel < 3; ++channel) {
                const size_t index = size_t(y) * size_t(shot.width) + size_t(x);
                if (std::abs(int(shot.rgb[index * 3 + size_t(channel)]) -
                             int(golden.rgba[index * 4 + size_t(channel)])) > tolerance) {
                    if (differing++ == 0)
                        first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
                    break;
                }
            }
    return {differing, first};
}

inline std::optional<platform::RgbaImage> readGolden(const std::string& name)
{
    const std::string bytes = fileText(goldenPath(name));
    return platform::decodePng(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 4096);
}

inline void writePng(const Screenshot& shot, const std::string& path)
{
    std::vector<uint8_t> rgba(size_t(shot.width) * size_t(shot.height) * 4, 255);
    for (size_t index = 0; index < size_t(shot.width) * size_t(shot.height); ++index)
        std::copy_n(&shot.rgb[index * 3], 3, &rgba[index * 4]);
    const std::vector<uint8_t> png = platform::encodePng(rgba, shot.width, shot.height);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
}

/// Whether `shot` matches the golden picture `name` (each colour component within `tolerance`).
inline bool matchesGolden(const Screenshot& shot, const std::string& name, int tolerance = 2)
{
    const std::optional<platform::RgbaImage> golden = readGolden(name);
    return golden && goldenDifferences(shot, *golden, tolerance).first == 0;
}

/// Compares `shot` with the golden picture `name`. On a mismatch the screenshot is written beside
/// the golden as <name>.actual.png for review; with VESK_UPDATE_GOLDEN=1 the golden is rewritten
/// instead (look at the new picture before committing it).
inline void expectMatchesGolden(const Screenshot& shot, const std::string& name, int tolerance = 2)
{
    const char* update = std::getenv("VESK_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        writePng(shot, goldenPath(name));
        return;
    }
    const std::optional<platform::RgbaImage> golden = readGolden(name);
    ASSERT_TRUE(golden) << "no golden picture " << goldenPath(name);
    const auto [differing, first] = goldenDifferences(shot, *golden, tolerance);
    if (differing > 0) {
        writePng(shot, goldenPath(name, ".actual.png"));
        ADD_FAILURE() << name << ": " << differing << " pixels differ from the golden, the first at " << first
                      << "; the screenshot is in " << goldenPath(name, ".actual.png");
    }
}

/// The open toplevel window titled `title` other than `except`, or null.
inline GtkWindow* windowTitled(const std::string& title)
{
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
        auto* candidate = GTK_WINDOW(g_list_model_get_item(toplevels, index));
        g_object_unref(candidate);
        const char* name = gtk_window_get_title(candidate);
        if (name && title == name && gtk_widget_get_visible(GTK_WIDGET(candidate)))
            return candidate;
    }
    return nullptr;
}

/// Every label's text inside `widget`, depth first.
inline std::vector<std::string> labelTexts(GtkWidget* widget)
{
    std::vector<std::string> texts;
    if (GTK_IS_LABEL(widget))
        texts.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
    if (GTK_IS_TEXT_VIEW(widget)) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        char* text = gtk_text_buffer_get_text(buffer, &start, &end, false);
        texts.emplace_back(text);
        g_free(text);
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child))
        for (std::string& text : labelTexts(child))
            texts.push_back(std::move(text));
    return texts;
}

} // namespace guitest
