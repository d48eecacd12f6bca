#include "Platform/UI/GtkMenuBar.h"

#include <cstring>

namespace platform::gtk {

namespace {

/// GTK's name for the window's controller that opens the menu bar on F10 (GTK 4 names its own
/// controllers; the name is how the controller can be told from the application's).
constexpr const char* menuBarKeyController = "gtk-window-menubar-accel";

GtkWidget* firstDescendant(GtkWidget* widget, GType type)
{
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
         child = gtk_widget_get_next_sibling(child)) {
        if (G_TYPE_CHECK_INSTANCE_TYPE(child, type))
            return child;
        if (GtkWidget* found = firstDescendant(child, type))
            return found;
    }
    return nullptr;
}

} // namespace

void removeMenuBarKey(GtkWindow* window)
{
    GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(window));
    // Collected first: removing a controller changes the list being read.
    std::vector<GtkEventController*> found;
    for (guint index = 0; index < g_list_model_get_n_items(controllers); ++index) {
        auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers, index));
        const char* name = gtk_event_controller_get_name(controller);
        if (name && std::strcmp(name, menuBarKeyController) == 0)
            found.push_back(controller);
        else
            g_object_unref(controller);
    }
    g_object_unref(controllers);
    for (GtkEventController* controller : found) {
        gtk_widget_remove_controller(GTK_WIDGET(window), controller);
        g_object_unref(controller);
    }
}

GtkWidget* menuBarOf(GtkWindow* window)
{
    return window ? firstDescendant(GTK_WIDGET(window), GTK_TYPE_POPOVER_MENU_BAR) : nullptr;
}

std::vector<MenuBarMenu> menusOf(GtkWidget* menuBar)
{
    std::vector<MenuBarMenu> menus;
    if (!menuBar)
        return menus;
    // Each child of the bar is one title: a label, and the popover that is its menu.
    for (GtkWidget* title = gtk_widget_get_first_child(menuBar); title;
         title = gtk_widget_get_next_sibling(title)) {
        MenuBarMenu menu;
        menu.title = title;
        if (GtkWidget* label = firstDescendant(title, GTK_TYPE_LABEL))
            menu.text = gtk_label_get_text(GTK_LABEL(label));
        if (GtkWidget* popover = firstDescendant(title, GTK_TYPE_POPOVER))
            menu.popover = GTK_POPOVER(popover);
        menus.push_back(std::move(menu));
    }
    return menus;
}

bool menuBarIsOpen(GtkWidget* menuBar)
{
    for (const MenuBarMenu& menu : menusOf(menuBar))
        if (menu.popover && gtk_widget_get_visible(GTK_WIDGET(menu.popover)))
            return true;
    return false;
}

bool focusIsInMenuBar(GtkWindow* window)
{
    GtkWidget* bar = menuBarOf(window);
    GtkWidget* focus = window ? gtk_window_get_focus(window) : nullptr;
    return bar && focus && (focus == bar || gtk_widget_is_ancestor(focus, bar));
}

} // namespace platform::gtk
