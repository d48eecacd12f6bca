// The menu bar of a GTK application window, as far as the keyboard goes.
//
// GTK's window opens its menu bar on F10, and it takes the key in the capture phase, before the
// focused widget can claim it; a terminal's F10 is its program's (htop quits with it, mc uses all
// ten). And once a menu of the bar has closed, GTK leaves the keyboard on the bar's title, where
// typing goes nowhere. This file finds the bar and its menus, so that the window can take F10 back
// and hand the keyboard back to its content when the last menu closes. Main thread only.
#pragma once

#include <gtk/gtk.h>
#include <string>
#include <vector>

namespace platform::gtk {

/// One menu of a menu bar: the title's widget, its text and the menu's popover.
struct MenuBarMenu
{
    GtkWidget* title = nullptr;
    std::string text;
    GtkPopover* popover = nullptr;
};

/// Takes F10 away from the menu bar of `window`: the key then reaches the focused widget like any
/// other. The menus still open by mouse. Does nothing for a window that has no such binding.
void removeMenuBarKey(GtkWindow* window);

/// The menu bar of `window`, or null when it shows none.
GtkWidget* menuBarOf(GtkWindow* window);

/// The menus of `menuBar` in bar order (none for null).
std::vector<MenuBarMenu> menusOf(GtkWidget* menuBar);

/// True while one of the menus of `menuBar` is open.
bool menuBarIsOpen(GtkWidget* menuBar);

/// True when the keyboard focus of `window` is on its menu bar.
bool focusIsInMenuBar(GtkWindow* window);

} // namespace platform::gtk
