// A window the drop tests drag files from: a small GTK window whose label is a drag source of the
// files named on its command line. It prints "ready" and its X window id once it is shown, then a
// line for each step of a drag, for the test to wait on:
//   begin            the drag has started (the pointer is grabbed: moves from now on are the drag's)
//   action copy      the target under the pointer accepts the files ("action none": it refuses)
//   performed        the button went up over a target that accepts: the drop is offered
//   finished         the target has taken the drop
//   cancelled REASON the drag ended without a drop (no-target, user, error)
// It runs until it is killed.
//
//   vesk_drag_source PATH...
#include <cstdio>
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

namespace {

void report(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

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

void onDragBegin(GtkDragSource*, GdkDrag* drag, gpointer)
{
    g_signal_connect(drag, "notify::selected-action", G_CALLBACK(+[](GdkDrag* drag, GParamSpec*, gpointer) {
                         report(gdk_drag_get_selected_action(drag) == 0 ? "action none" : "action copy");
                     }),
                     nullptr);
    g_signal_connect(drag, "drop-performed", G_CALLBACK(+[](GdkDrag*, gpointer) { report("performed"); }),
                     nullptr);
    g_signal_connect(drag, "dnd-finished", G_CALLBACK(+[](GdkDrag*, gpointer) { report("finished"); }),
                     nullptr);
    g_signal_connect(drag, "cancel", G_CALLBACK(+[](GdkDrag*, GdkDragCancelReason reason, gpointer) {
                         report(reason == GDK_DRAG_CANCEL_NO_TARGET        ? "cancelled no-target"
                                : reason == GDK_DRAG_CANCEL_USER_CANCELLED ? "cancelled user"
                                                                           : "cancelled error");
                     }),
                     nullptr);
    // Reported last: the drag has grabbed the pointer by now.
    report("begin");
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
    g_signal_connect(source, "drag-begin", G_CALLBACK(onDragBegin), nullptr);
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
