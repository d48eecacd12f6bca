// OSC 52 in a local-process view on a private X server, checked from outside with xclip: a
// program's copy reaches the X clipboard, and a program's read gets what xclip put there.

#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/Gui/GuiHarness.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using guitest::spinFor;
using guitest::spinUntil;
using kestrovan::LocalProcessTerminalView;

std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class ClipboardGuiTests : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!guitest::startGtk())
            GTEST_SKIP() << "no display";
        if (std::system("command -v xclip >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xclip is not installed";
        if (!platform::MainQueue::installed())
            platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());
        view = LocalProcessTerminalView::create(platform::Size{400, 200});
        window = GTK_WINDOW(gtk_window_new());
        g_object_ref_sink(window);
        GtkWidget* widget = platform::gtk::CoreViewWidget::create(view);
        gtk_window_set_child(window, widget);
        gtk_window_present(window);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(widget) && view->host(); }));
    }
    void TearDown() override
    {
        if (view)
            view->updateUiClosed();
        if (window) {
            gtk_window_destroy(window);
            g_object_unref(window);
            spinFor(50ms);
        }
        view.reset();
    }
    void run(const std::string& script)
    {
        view->startProcess("/bin/sh", {"-c", script}, std::nullopt, std::nullopt, std::nullopt);
    }

    std::shared_ptr<LocalProcessTerminalView> view;
    GtkWindow* window = nullptr;
};

TEST_F(ClipboardGuiTests, AProgramsCopyReachesTheXClipboard)
{
    // "copied ✓" in base64, then the program stays so that its view lives on.
    run("printf '\\033]52;c;Y29waWVkIOKckw==\\007'; sleep 30");
    std::string pasted;
    ASSERT_TRUE(spinUntil(
        [&] {
            pasted = guitest::outputOf("xclip -o -selection clipboard 2>/dev/null");
            return !pasted.empty();
        },
        10s));
    EXPECT_EQ(pasted, "copied ✓");
}

TEST_F(ClipboardGuiTests, AProgramsReadGetsWhatXclipPutOnTheClipboard)
{
    char directory[] = "/tmp/kestrovan-clipboard-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string reply = std::string(directory) + "/reply";
    // xclip keeps serving the clipboard from the background until another owner takes it.
    guitest::outputOf("printf 'from xclip' | xclip -selection clipboard -i >/dev/null 2>&1");
    // The answer comes in as typed input would: read it raw, without echo, into a file.
    run("stty raw -echo; printf '\\033]52;c;?\\007'; exec cat > " + reply);
    const std::string expected = "\x1b]52;c;ZnJvbSB4Y2xpcA==\x1b\\";
    EXPECT_TRUE(spinUntil([&] { return fileText(reply) == expected; }, 10s)) << fileText(reply);
    unlink(reply.c_str());
    rmdir(directory);
}

} // namespace
