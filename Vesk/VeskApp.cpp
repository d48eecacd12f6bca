#include "Vesk/VeskApp.h"

#include "Kestrovan/Apple/Metal/MetalSystemDevice.h"
#include "Platform/Dispatch/GLib/GLibMainQueue.h"
#include "Platform/GPU/ToolkitRenderer.h"
#include "Platform/Settings/Settings.h"
#include "Vesk/AppDelegate.h"
#include "Vesk/StateDump.h"
#include "VeskCore/RenderingPreferences.h"

#include <cstdlib>
#include <gtk/gtk.h>
#include <sys/stat.h>

namespace vesk {

bool VeskApp::sessionBusAvailable(const char* address, const char* runtimeDirectory)
{
    if (address && address[0])
        return true;
    if (!runtimeDirectory || runtimeDirectory[0] != '/')
        return false;
    // GLib's own fallback: the session's bus socket in the runtime folder.
    struct stat info
    {};
    const std::string socket = std::string(runtimeDirectory) + "/bus";
    return stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

int VeskApp::main(int argc, char** argv)
{
    // Before GTK starts: without hardware GL, GTK draws with cairo unless the user chose a renderer.
    platform::gpu::chooseToolkitRenderer(kestrovan::softwareRenderingAllowed());

    // Unique through the session bus when there is one: a second start opens a window in the
    // running instance. Without a bus GLib would try to start one for X11; each start then stays
    // a process of its own.
    const bool unique =
        sessionBusAvailable(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
    GtkApplication* application = gtk_application_new(
        AppDelegate::applicationId, unique ? G_APPLICATION_DEFAULT_FLAGS : G_APPLICATION_NON_UNIQUE);
    platform::MainQueue::install(std::make_shared<platform::GLibMainQueue>());

    const std::shared_ptr<AppDelegate> delegate =
        AppDelegate::create(application, RenderingPreferences::shared());
    struct Handlers
    {
        static void startup(GApplication*, gpointer data)
        {
            if (const auto app = static_cast<std::weak_ptr<AppDelegate>*>(data)->lock()) {
                app->applicationDidFinishLaunching();
                StateDump::installTestHooks(app);
            }
        }
        static void activate(GApplication*, gpointer data)
        {
            // Every start opens a window: the first, and each one the running instance is asked for.
            if (const auto app = static_cast<std::weak_ptr<AppDelegate>*>(data)->lock())
                app->createSession(nullptr, true);
        }
    };
    auto freeWeak = [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<AppDelegate>*>(data); };
    g_signal_connect_data(application, "startup", G_CALLBACK(Handlers::startup),
                          new std::weak_ptr<AppDelegate>(delegate), freeWeak, GConnectFlags(0));
    g_signal_connect_data(application, "activate", G_CALLBACK(Handlers::activate),
                          new std::weak_ptr<AppDelegate>(delegate), freeWeak, GConnectFlags(0));

    // The arguments go to GLib's own option handling, which answers --help and refuses an unknown
    // option with an error. --version is the one option of our own. What is left after the options
    // would be files to open, which Vesk does not do: they are collected here and refused with an
    // error of the same kind, before GLib would try to open them.
    struct Arguments
    {
        gboolean version = false;
        char** remaining = nullptr;
    } arguments;
    const GOptionEntry entries[] = {
        {"version", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &arguments.version, "Show the version and exit",
         nullptr},
        {G_OPTION_REMAINING, 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_FILENAME_ARRAY, &arguments.remaining,
         nullptr, nullptr},
        {},
    };
    g_application_add_main_option_entries(G_APPLICATION(application), entries);
    g_signal_connect(
        application, "handle-local-options", G_CALLBACK(+[](GApplication*, GVariantDict*, gpointer data) {
            const auto* given = static_cast<const Arguments*>(data);
            if (given->remaining && given->remaining[0]) {
                g_printerr("Unknown argument %s: Vesk does not open files\n", given->remaining[0]);
                return 1;
            }
            if (!given->version)
                return -1;
            g_print("Vesk %s\n", VeskApp::version);
            return 0;
        }),
        &arguments);
    const int status = g_application_run(G_APPLICATION(application), argc, argv);
    g_object_unref(application);
    g_strfreev(arguments.remaining);
    return status;
}

} // namespace vesk
