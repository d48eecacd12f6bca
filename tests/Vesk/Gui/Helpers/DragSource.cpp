// A window the drop tests drag files from: a small GTK window whose label is a drag source of the
// files named on its command line. It prints "ready" and its X window id once it is shown, and
// runs until it is killed.
//
//   vesk_drag_source PATH...
#include <cstdio>
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

namespace {

GdkContentProvider* filesOf(GtkDragSource*, double, double, gpointer data)
{
    GSList* files = nullptr;
    for (char** path = static_cast<char**>(data); *path; ++path)
        files = g_slist_append(files, g_file_new_for_path(*path));
    GdkFileList* list = gdk_file_list_new_from_list(files);
    g_slist_free_full(files, g_object_unref);
    GdkContentProvider* provider = gdk_content_provider_new_typed(GDK_TYPE_FILE_LIST, list);
    g_boxed_free(GDK_TYPE_FILE_LIST, list);
    return provider;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !gtk_init_check())
        return 2;
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window, "vesk drag source");
    gtk_window_set_default_size(window, 200, 100);
    gtk_window_set_decorated(window, false);
    GtkWidget* label = gtk_label_new("drag me");
    GtkDragSource* source = gtk_drag_source_new();
    gtk_drag_source_set_actions(source, GDK_ACTION_COPY);
    g_signal_connect(source, "prepare", G_CALLBACK(filesOf), argv + 1);
    gtk_widget_add_controller(label, GTK_EVENT_CONTROLLER(source));
    gtk_window_set_child(window, label);
    g_signal_connect(window, "map", G_CALLBACK(+[](GtkWidget* widget, gpointer) {
                         GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(widget));
                         std::printf("ready %lu\n",
                                     static_cast<unsigned long>(gdk_x11_surface_get_xid(surface)));
                         std::fflush(stdout);
                     }),
                     nullptr);
    gtk_window_present(window);
    GMainLoop* loop = g_main_loop_new(nullptr, false);
    g_main_loop_run(loop);
    return 0;
}
