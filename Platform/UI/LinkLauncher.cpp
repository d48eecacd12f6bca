#include "Platform/UI/LinkLauncher.h"

#include "Platform/Log/Log.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <memory>

namespace platform {

std::optional<std::string> defaultApplicationName(const std::string& uri)
{
    GAppInfo* application = nullptr;
    gchar* scheme = g_uri_parse_scheme(uri.c_str());
    if (scheme && g_ascii_strcasecmp(scheme, "file") == 0) {
        GFile* file = g_file_new_for_uri(uri.c_str());
        application = g_file_query_default_handler(file, nullptr, nullptr);
        g_object_unref(file);
    } else if (scheme) {
        application = g_app_info_get_default_for_uri_scheme(scheme);
    }
    g_free(scheme);
    if (!application)
        return std::nullopt;
    std::optional<std::string> name;
    if (const char* text = g_app_info_get_name(application); text && *text)
        name = text;
    g_object_unref(application);
    return name;
}

void openWithDefaultApplication(const std::string& uri,
                                std::function<void(const std::string& message)> failed)
{
    struct Launch
    {
        std::string uri;
        std::function<void(const std::string&)> failed;
    };
    // The display's launch context tells the application where to appear and lets the desktop
    // hand it the focus.
    GdkDisplay* display = gdk_display_get_default();
    GAppLaunchContext* context =
        display ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)) : nullptr;
    g_app_info_launch_default_for_uri_async(
        uri.c_str(), context, nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Launch> launch(static_cast<Launch*>(data));
            GError* error = nullptr;
            if (g_app_info_launch_default_for_uri_finish(result, &error))
                return;
            const std::string message = error ? error->message : "the launch failed";
            if (error)
                g_error_free(error);
            static const Logger log("Platform", "Links");
            log.logf(LogLevel::error, "could not open %s: %s", launch->uri.c_str(), message.c_str());
            if (launch->failed)
                launch->failed(message);
        },
        new Launch{uri, std::move(failed)});
    if (context)
        g_object_unref(context);
}

} // namespace platform
