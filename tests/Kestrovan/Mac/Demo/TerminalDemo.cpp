// A window with a shell in it: the terminal view on GTK end to end, for trying it by hand and for
// looking at it under Xvfb.
//
//   kestrovan_terminal_demo [--size WxH] [--font-size N] [--visual-bell] [--gpu] [--quit-after SECONDS]
//                           [-- program [args...]]
//
// `--gpu` draws with the GPU (a software rasterizer counts as one only with
// KESTROVAN_GPU_SOFTWARE=1); when that cannot be, the view says why in the log and draws on the CPU.
//
// Without a program it runs the user's login shell (the password database's, else /bin/bash, else
// /bin/sh). What the view reports (sizes, titles, the child's end, a failed launch) is printed on
// standard output, one line each, so a script can follow it. Until the application has menus, the
// window's shortcuts are the view's edit and find actions: Ctrl+Shift (or Super) with C copy,
// V paste, A select all, F find, G find next, H find previous, E use selection for find.

#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Kestrovan/Mac/LocalProcessTerminalView.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/GPU/ToolkitRenderer.h"
#include "Platform/UI/CoreViewWidget.h"
#include "Platform/UI/MenuKeyRouter.h"

#include <cstdio>
#include <cstdlib>
#include <gtk/gtk.h>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using kestrovan::LocalProcessTerminalView;

class PrintingDelegate final : public kestrovan::LocalProcessTerminalViewDelegate
{
public:
    void sizeChanged(LocalProcessTerminalView&, int cols, int rows) override
    {
        std::printf("size %dx%d\n", cols, rows);
        std::fflush(stdout);
    }
    void setTerminalTitle(LocalProcessTerminalView&, const std::string& title) override
    {
        std::printf("title %s\n", title.c_str());
        std::fflush(stdout);
    }
    void hostCurrentDirectoryUpdate(kestrovan::TerminalView&, const std::optional<std::string>&) override {}
    void processTerminated(kestrovan::TerminalView&, std::optional<int32_t> exitCode) override
    {
        if (exitCode)
            std::printf("exited %d\n", *exitCode);
        else
            std::printf("exited by a signal\n");
        std::fflush(stdout);
    }
    void processFailedToStart(kestrovan::TerminalView&, const kestrovan::LocalProcessError& error) override
    {
        std::printf("launch failed %s\n", error.description().c_str());
        std::fflush(stdout);
    }
};

std::string loginShell()
{
    if (const passwd* entry = getpwuid(getuid());
        entry && entry->pw_shell && *entry->pw_shell && access(entry->pw_shell, X_OK) == 0)
        return entry->pw_shell;
    return access("/bin/bash", X_OK) == 0 ? "/bin/bash" : "/bin/sh";
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything starts GTK: without hardware GL, GTK draws with cairo (GSK_RENDERER chooses),
    // and leaves GL alone unless the view may draw with GL on a software rasterizer.
    platform::gpu::chooseToolkitRenderer(kestrovan::softwareRenderingAllowed());
    int width = 800;
    int height = 500;
    double fontSize = 0;
    double quitAfter = 0;
    bool visualBell = false;
    bool gpu = false;
    std::vector<std::string> program;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--size" && index + 1 < argc)
            std::sscanf(argv[++index], "%dx%d", &width, &height);
        else if (argument == "--font-size" && index + 1 < argc)
            fontSize = std::atof(argv[++index]);
        else if (argument == "--quit-after" && index + 1 < argc)
            quitAfter = std::atof(argv[++index]);
        else if (argument == "--visual-bell")
            visualBell = true;
        else if (argument == "--gpu")
            gpu = true;
        else if (argument == "--") {
            for (++index; index < argc; ++index)
                program.emplace_back(argv[index]);
        }
    }

    gtk_init();
    platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());
    kestrovan::TerminalView::Configuration configuration;
    if (fontSize > 0)
        configuration.font = platform::Font::monospace(fontSize);
    auto view =
        LocalProcessTerminalView::create(platform::Size{double(width), double(height)}, configuration);
    auto delegate = std::make_shared<PrintingDelegate>();
    view->setProcessDelegate(delegate);
    if (visualBell)
        view->setBellStyle(kestrovan::BellStyle::visual);

    // The program starts before the window is built: its own start-up runs while GTK loads its
    // theme and maps the window, and its first output is usually parsed by the first frame.
    if (program.empty())
        program.push_back(loginShell());
    view->startProcess(program.front(), std::vector<std::string>(program.begin() + 1, program.end()),
                       std::nullopt, std::nullopt, std::nullopt);

    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window, "Vesk terminal view");
    gtk_window_set_default_size(window, width, height);
    GtkWidget* widget = platform::gtk::CoreViewWidget::create(view);
    gtk_window_set_child(window, widget);
    gtk_window_present(window);
    gtk_widget_grab_focus(widget);
    if (gpu) {
        const std::optional<kestrovan::MetalError> failure = view->setUseMetal(true);
        std::printf("rendering %s\n", failure ? failure->description().c_str() : "gpu");
        std::fflush(stdout);
    }

    // The menus' part: the view's actions by their shortcuts.
    std::weak_ptr<LocalProcessTerminalView> weakView = view;
    platform::MenuKeyRouter::setHandler([weakView](const platform::KeyEvent& event) {
        const auto shown = weakView.lock();
        return shown && shown->performKeyEquivalent(event);
    });

    GMainLoop* loop = g_main_loop_new(nullptr, false);
    g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_main_loop_quit), loop);
    if (quitAfter > 0)
        g_timeout_add(
            guint(quitAfter * 1000),
            [](gpointer l) {
                g_main_loop_quit(static_cast<GMainLoop*>(l));
                return G_SOURCE_REMOVE;
            },
            loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    platform::MenuKeyRouter::setHandler(nullptr);
    view->updateUiClosed();
    return 0;
}
