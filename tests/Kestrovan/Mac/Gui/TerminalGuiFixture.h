// What the GUI tests of the local-process view share: a focused, undecorated window showing the
// view on a private X server, its X window id, the screen's rows as text, typing and clicking with
// xdotool, shell commands run while the main loop goes on, and screenshots kept for looking at.
#pragma once

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/Gui/GuiHarness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sstream>
#include <string>

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
